// The engine's printf-style formatter over UTF-16: integers and text converted here, floating
// point through the C library and widened.
#include "Source/Common/StringFormatter.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include "Source/Common/StringEncoding.h"
#include "Source/Platform/Log.h"

namespace {

const WideChar kModule[] = u"Source/Common/StringFormatter";
const int32_t kFormatLimit = 8192;

// Writes into buffer[0 .. limit); everything past the limit is dropped.
struct Output {
    WideChar* buffer;
    int32_t limit;
    int32_t position;
    bool mayHoldNul = false; // a conversion may have written a NUL unit
    bool printable = false;  // texts substituted are written with their control characters escaped

    bool Full() const { return position >= limit; }
    void Put(WideChar unit) {
        if (position < limit) buffer[position++] = unit;
    }
    void Repeat(WideChar unit, int32_t count) {
        while (count-- > 0 && position < limit) buffer[position++] = unit;
    }
    void PutUnits(const WideChar* units, int32_t count) {
        if (count > limit - position) count = limit - position;
        for (int32_t i = 0; i < count; ++i) buffer[position + i] = units[i];
        position += count;
    }
};

struct FieldLayout {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int32_t width = 0;
    int32_t precision = -1;
    enum Length { kNone,
                  kChar,
                  kShort,
                  kLong,
                  kLongLong,
                  kSize,
                  kMax,
                  kPointerDiff,
                  kLongDouble,
                  kWide } length = kNone;
};

// Pads a piece of already converted text (length units) to the width.
void PadBefore(Output& out, const FieldLayout& layout, int32_t length) {
    if (!layout.left && layout.width > length) out.Repeat(u' ', layout.width - length);
}
void PadAfter(Output& out, const FieldLayout& layout, int32_t length) {
    if (layout.left && layout.width > length) out.Repeat(u' ', layout.width - length);
}

void PutInteger(Output& out, const FieldLayout& layout, uint64_t magnitude, bool negative, unsigned base, bool upper,
                bool isSigned) {
    static const char kLower[] = "0123456789abcdef";
    static const char kUpper[] = "0123456789ABCDEF";
    const char* digitsOf = upper ? kUpper : kLower;
    WideChar digits[24];
    int32_t count = 0;
    // Precision 0 with the value 0 gives no digits at all.
    // Constant divisors: a division by a variable base costs several times more per digit.
    if (!(magnitude == 0 && layout.precision == 0)) {
        if (base == 10) {
            do {
                digits[count++] = WideChar(u'0' + magnitude % 10);
                magnitude /= 10;
            } while (magnitude != 0);
        } else {
            unsigned shift = base == 16 ? 4 : 3;
            do {
                digits[count++] = WideChar(digitsOf[magnitude & (base - 1)]);
                magnitude >>= shift;
            } while (magnitude != 0);
        }
    }
    WideChar prefix[2];
    int32_t prefixLength = 0;
    if (isSigned) {
        if (negative) prefix[prefixLength++] = u'-';
        else if (layout.plus) prefix[prefixLength++] = u'+';
        else if (layout.space) prefix[prefixLength++] = u' ';
    }
    int32_t zeros = layout.precision > count ? layout.precision - count : 0;
    if (layout.alternate && count > 0) {
        if (base == 16 && !(count == 1 && digits[0] == u'0')) {
            prefix[prefixLength++] = u'0';
            prefix[prefixLength++] = upper ? u'X' : u'x';
        } else if (base == 8 && zeros == 0 && digits[count - 1] != u'0') {
            zeros = 1;
        }
    }
    if (base == 8 && layout.alternate && count == 0) zeros = 1;
    int32_t length = prefixLength + zeros + count;
    if (layout.zero && !layout.left && layout.precision < 0 && layout.width > length) {
        zeros += layout.width - length;
        length = layout.width;
    }
    PadBefore(out, layout, length);
    out.PutUnits(prefix, prefixLength);
    out.Repeat(u'0', zeros);
    while (count > 0) out.Put(digits[--count]);
    PadAfter(out, layout, length);
}

// C0, DEL and C1: what a terminal or a log reader takes as a command rather than as text. The tab
// only moves along the line, and tracebacks indent with it: it stays.
bool IsControlUnit(WideChar unit) { return (unit < 0x20 && unit != u'\t') || (unit >= 0x7F && unit <= 0x9F); }

// "\x1b" for a control unit: four units.
void PutEscape(Output& out, WideChar unit) {
    static const char kHex[] = "0123456789abcdef";
    const WideChar escape[4] = {u'\\', u'x', WideChar(kHex[(unit >> 4) & 0xF]), WideChar(kHex[unit & 0xF])};
    out.PutUnits(escape, 4);
}

// A text conversion of a printable format: its control units escaped, the field's width counted
// on what is written.
void PutPrintableText(Output& out, const FieldLayout& layout, const WideChar* text) {
    int32_t units = 0;
    int32_t length = 0;
    while ((layout.precision < 0 || units < layout.precision) && text[units] != 0)
        length += IsControlUnit(text[units++]) ? 4 : 1;
    PadBefore(out, layout, length);
    for (int32_t i = 0; i < units && !out.Full(); ++i) {
        if (IsControlUnit(text[i]))
            PutEscape(out, text[i]);
        else
            out.Put(text[i]);
    }
    PadAfter(out, layout, length);
}

void PutWideText(Output& out, const FieldLayout& layout, const WideChar* text) {
    if (text == _null) text = u"(null)";
    if (out.printable) {
        PutPrintableText(out, layout, text);
        return;
    }
    if (layout.width == 0 && layout.precision < 0) {
        WideChar* to = out.buffer + out.position;
        WideChar* const end = out.buffer + out.limit;
        while (end - to >= 4) {
            WideChar a = text[0];
            if (a == 0) goto done;
            to[0] = a;
            WideChar b = text[1];
            if (b == 0) {
                to += 1;
                goto done;
            }
            to[1] = b;
            WideChar c = text[2];
            if (c == 0) {
                to += 2;
                goto done;
            }
            to[2] = c;
            WideChar d = text[3];
            if (d == 0) {
                to += 3;
                goto done;
            }
            to[3] = d;
            to += 4;
            text += 4;
        }
        while (to < end && *text != 0) *to++ = *text++;
    done:
        out.position = int32_t(to - out.buffer);
        return;
    }
    int32_t length = 0;
    // Never reads past the precision: the text need not be terminated within it.
    while ((layout.precision < 0 || length < layout.precision) && text[length] != 0) ++length;
    PadBefore(out, layout, length);
    out.PutUnits(text, length);
    PadAfter(out, layout, length);
}

// UTF-8 bytes decoded as the engine's decoder does; the precision bounds the bytes read.
void PutNarrowText(Output& out, const FieldLayout& layout, const char* text) {
    if (text == _null) {
        PutWideText(out, layout, _null);
        return;
    }
    int32_t bytes = 0;
    while ((layout.precision < 0 || bytes < layout.precision) && text[bytes] != 0) ++bytes;
    if (out.printable) {
        // Decoded apart first: escaping lengthens the text, which the in-place decoder cannot.
        WideChar* wide = Utf8ToUtf16(_null, 0, text, bytes);
        FieldLayout whole = layout;
        whole.precision = -1;
        PutPrintableText(out, whole, wide != _null ? wide : u"");
        free(wide);
        return;
    }
    int32_t length = layout.width > 0 ? Utf8ToUtf16Count(text, bytes) : 0;
    out.mayHoldNul = true; // an overlong sequence decodes to 0
    PadBefore(out, layout, length);
    if (!out.Full()) {
        int32_t room = out.limit - out.position;
        int32_t written = 0;
        // The decoder terminates its output, so it is given one unit more than the room left;
        // that unit is the buffer's own last unit or a unit later overwritten.
        Utf8ToUtf16(out.buffer + out.position, room + 1, text, bytes, &written);
        out.position += written;
    }
    PadAfter(out, layout, length);
}

// Through the C library: every flag and length, any field size.
template <typename Value>
void PutFloatByLibrary(Output& out, const FieldLayout& layout, char conversion, Value value) {
    char format[48];
    int32_t f = 0;
    format[f++] = '%';
    if (layout.left) format[f++] = '-';
    if (layout.plus) format[f++] = '+';
    if (layout.space) format[f++] = ' ';
    if (layout.alternate) format[f++] = '#';
    if (layout.zero) format[f++] = '0';
    f += std::snprintf(format + f, sizeof(format) - size_t(f), "%d", layout.width);
    if (layout.precision >= 0) f += std::snprintf(format + f, sizeof(format) - size_t(f), ".%d", layout.precision);
    if (sizeof(Value) > sizeof(double)) format[f++] = 'L';
    format[f++] = conversion;
    format[f] = 0;

    char local[512];
    char* text = local;
    int length = std::snprintf(local, sizeof(local), format, value);
    if (length >= int(sizeof(local))) {
        text = static_cast<char*>(std::malloc(size_t(length) + 1));
        if (text != _null) {
            std::snprintf(text, size_t(length) + 1, format, value);
        } else { // no memory for a huge field: what fitted locally
            text = local;
            length = int(sizeof(local)) - 1;
        }
    }
    for (int i = 0; i < length && !out.Full(); ++i) out.Put(WideChar(static_cast<unsigned char>(text[i])));
    if (text != local) std::free(text);
}

// The common cases through std::to_chars, which gives printf's digits exactly (as the "C" locale
// prints them) several times faster; signs and padding are added here. False when the text does
// not fit the local buffer.
bool PutFloatQuickly(Output& out, const FieldLayout& layout, char conversion, double value) {
    std::chars_format style = std::chars_format::fixed;
    if (conversion == 'e' || conversion == 'E') style = std::chars_format::scientific;
    else if (conversion == 'g' || conversion == 'G') style = std::chars_format::general;
    char text[360];
    char* digits = text + 1; // room for a sign in front
    std::to_chars_result result =
        std::to_chars(digits, text + sizeof(text), value, style, layout.precision < 0 ? 6 : layout.precision);
    if (result.ec != std::errc()) return false;
    char* end = result.ptr;
    if (*digits != '-' && (layout.plus || layout.space)) *--digits = layout.plus ? '+' : ' ';
    bool upper = conversion == 'F' || conversion == 'E' || conversion == 'G';
    bool finite = std::isfinite(value);
    int32_t length = int32_t(end - digits);
    int32_t padding = layout.width > length ? layout.width - length : 0;
    int32_t signLength = (*digits == '-' || *digits == '+' || *digits == ' ') ? 1 : 0;
    if (!layout.left && !(layout.zero && finite)) out.Repeat(u' ', padding);
    for (int32_t i = 0; i < signLength; ++i) out.Put(WideChar(digits[i]));
    if (!layout.left && layout.zero && finite) out.Repeat(u'0', padding);
    for (const char* c = digits + signLength; c < end; ++c) {
        char unit = upper && *c >= 'a' && *c <= 'z' ? char(*c - 'a' + 'A') : *c;
        out.Put(WideChar(unit));
    }
    if (layout.left) out.Repeat(u' ', padding);
    return true;
}

void PutFloat(Output& out, const FieldLayout& layout, char conversion, va_list& arguments) {
    if (layout.length == FieldLayout::kLongDouble) {
        PutFloatByLibrary(out, layout, conversion, va_arg(arguments, long double));
        return;
    }
    double value = va_arg(arguments, double);
    bool quick = !layout.alternate && conversion != 'a' && conversion != 'A' && layout.precision <= 60;
    if (!quick || !PutFloatQuickly(out, layout, conversion, value)) PutFloatByLibrary(out, layout, conversion, value);
}

int32_t ReadNumber(const WideChar*& p) {
    int64_t value = 0;
    while (*p >= u'0' && *p <= u'9') {
        value = value * 10 + (*p++ - u'0');
        if (value > 0x7FFFFFF) value = 0x7FFFFFF; // a width no buffer of ours can hold anyway
    }
    return int32_t(value);
}

// Copies format text up to the next "%" or the end; returns where it stopped.
const WideChar* CopyLiteral(Output& out, const WideChar* p) {
    WideChar* to = out.buffer + out.position;
    WideChar* const end = out.buffer + out.limit;
    while (end - to >= 4) {
        WideChar a = p[0];
        if (a == 0 || a == u'%') goto done;
        to[0] = a;
        WideChar b = p[1];
        if (b == 0 || b == u'%') {
            to += 1;
            p += 1;
            goto done;
        }
        to[1] = b;
        WideChar c = p[2];
        if (c == 0 || c == u'%') {
            to += 2;
            p += 2;
            goto done;
        }
        to[2] = c;
        WideChar d = p[3];
        if (d == 0 || d == u'%') {
            to += 3;
            p += 3;
            goto done;
        }
        to[3] = d;
        to += 4;
        p += 4;
    }
    while (to < end && *p != 0 && *p != u'%') *to++ = *p++;
done:
    out.position = int32_t(to - out.buffer);
    return p;
}

// Formats into out; returns when the format ends or the output is full.
void FormatCore(Output& out, const WideChar* format, va_list& arguments) {
    const WideChar* p = format;
    while (*p != 0 && !out.Full()) {
        if (*p != u'%') {
            p = CopyLiteral(out, p);
            continue;
        }
        // The two conversions of nearly every engine text, without flags, take a short way.
        if (p[1] == u'l' && p[2] == u's') {
            PutWideText(out, FieldLayout(), va_arg(arguments, const WideChar*));
            p += 3;
            continue;
        }
        if (p[1] == u'd') {
            int value = va_arg(arguments, int);
            uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(int64_t(value)) : uint64_t(value);
            PutInteger(out, FieldLayout(), magnitude, value < 0, 10, false, true);
            p += 2;
            continue;
        }
        const WideChar* start = p++;
        FieldLayout layout;
        for (;; ++p) {
            if (*p == u'-') layout.left = true;
            else if (*p == u'+') layout.plus = true;
            else if (*p == u' ') layout.space = true;
            else if (*p == u'#') layout.alternate = true;
            else if (*p == u'0') layout.zero = true;
            else break;
        }
        if (*p == u'*') {
            ++p;
            int width = va_arg(arguments, int);
            if (width < 0) {
                layout.left = true;
                width = width == INT32_MIN ? 0x7FFFFFF : -width;
            }
            layout.width = width > 0x7FFFFFF ? 0x7FFFFFF : width;
        } else {
            layout.width = ReadNumber(p);
        }
        if (*p == u'.') {
            ++p;
            if (*p == u'*') {
                ++p;
                int precision = va_arg(arguments, int);
                layout.precision = precision < 0 ? -1 : (precision > 0x7FFFFFF ? 0x7FFFFFF : precision);
            } else {
                layout.precision = ReadNumber(p);
            }
        }
        switch (*p) {
        case u'h':
            ++p;
            layout.length = FieldLayout::kShort;
            if (*p == u'h') {
                ++p;
                layout.length = FieldLayout::kChar;
            }
            break;
        case u'l':
            ++p;
            layout.length = FieldLayout::kLong;
            if (*p == u'l') {
                ++p;
                layout.length = FieldLayout::kLongLong;
            }
            break;
        case u'L':
            ++p;
            layout.length = FieldLayout::kLongDouble;
            break;
        case u'z':
            ++p;
            layout.length = FieldLayout::kSize;
            break;
        case u'j':
            ++p;
            layout.length = FieldLayout::kMax;
            break;
        case u't':
            ++p;
            layout.length = FieldLayout::kPointerDiff;
            break;
        case u'w':
            ++p;
            layout.length = FieldLayout::kWide;
            break;
        case u'I':
            if (p[1] == u'6' && p[2] == u'4') {
                p += 3;
                layout.length = FieldLayout::kLongLong;
            } else if (p[1] == u'3' && p[2] == u'2') {
                p += 3;
                layout.length = FieldLayout::kNone;
            } else {
                ++p;
                layout.length = FieldLayout::kSize;
            }
            break;
        default: break;
        }
        WideChar conversion = *p;
        if (conversion != 0) ++p;
        switch (conversion) {
        case u'd':
        case u'i': {
            int64_t value;
            switch (layout.length) {
            case FieldLayout::kChar: value = static_cast<signed char>(va_arg(arguments, int)); break;
            case FieldLayout::kShort: value = static_cast<short>(va_arg(arguments, int)); break;
            case FieldLayout::kLong: value = va_arg(arguments, long); break;
            case FieldLayout::kLongLong: value = va_arg(arguments, long long); break;
            case FieldLayout::kSize: value = static_cast<int64_t>(va_arg(arguments, size_t)); break;
            case FieldLayout::kMax: value = va_arg(arguments, intmax_t); break;
            case FieldLayout::kPointerDiff: value = va_arg(arguments, ptrdiff_t); break;
            default: value = va_arg(arguments, int); break;
            }
            uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
            PutInteger(out, layout, magnitude, value < 0, 10, false, true);
            break;
        }
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            uint64_t value;
            switch (layout.length) {
            case FieldLayout::kChar: value = static_cast<unsigned char>(va_arg(arguments, unsigned)); break;
            case FieldLayout::kShort: value = static_cast<unsigned short>(va_arg(arguments, unsigned)); break;
            case FieldLayout::kLong: value = va_arg(arguments, unsigned long); break;
            case FieldLayout::kLongLong: value = va_arg(arguments, unsigned long long); break;
            case FieldLayout::kSize: value = va_arg(arguments, size_t); break;
            case FieldLayout::kMax: value = va_arg(arguments, uintmax_t); break;
            case FieldLayout::kPointerDiff: value = static_cast<uint64_t>(va_arg(arguments, ptrdiff_t)); break;
            default: value = va_arg(arguments, unsigned); break;
            }
            unsigned base = conversion == u'u' ? 10 : conversion == u'o' ? 8
                                                                         : 16;
            PutInteger(out, layout, value, false, base, conversion == u'X', false);
            break;
        }
        case u'p': {
            // Upper-case hex of the pointer's full width, no 0x.
            uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(arguments, void*));
            FieldLayout pointer = layout;
            pointer.precision = int32_t(sizeof(void*) * 2);
            pointer.alternate = false;
            PutInteger(out, pointer, value, false, 16, true, false);
            break;
        }
        case u'c':
        case u'C': {
            WideChar unit = WideChar(va_arg(arguments, int));
            if (out.printable && IsControlUnit(unit)) {
                PadBefore(out, layout, 4);
                PutEscape(out, unit);
                PadAfter(out, layout, 4);
                break;
            }
            if (unit == 0) out.mayHoldNul = true;
            PadBefore(out, layout, 1);
            out.Put(unit);
            PadAfter(out, layout, 1);
            break;
        }
        case u's':
            if (layout.length == FieldLayout::kLong || layout.length == FieldLayout::kWide)
                PutWideText(out, layout, va_arg(arguments, const WideChar*));
            else
                PutNarrowText(out, layout, va_arg(arguments, const char*));
            break;
        case u'S':
            PutNarrowText(out, layout, va_arg(arguments, const char*));
            break;
        case u'f':
        case u'F':
        case u'e':
        case u'E':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            PutFloat(out, layout, char(conversion), arguments);
            break;
        case u'%':
            out.Put(u'%');
            break;
        case u'n':
            // Writing a count through a pointer taken from the values is refused.
            (void)va_arg(arguments, void*);
            break;
        default:
            // Not a conversion: the text stands as written.
            out.PutUnits(start, int32_t(p - start));
            break;
        }
    }
}

} // namespace

WideChar* FormatIntoV(WideChar* buffer, int32_t size, const WideChar* format, va_list arguments) {
    if (!VEXAL_CHECK(buffer != _null && size > 0 && format != _null,
                     u"buffer != _null && length != 0 && format != _null && arguments != _null", kModule)) {
        if (buffer != _null && size > 0) buffer[0] = 0;
        return buffer;
    }
    Output out{buffer, size - 1, 0};
    va_list copy;
    va_copy(copy, arguments);
    FormatCore(out, format, copy);
    va_end(copy);
    buffer[out.position] = 0;
    return buffer;
}

WideChar* FormatPrintableIntoV(WideChar* buffer, int32_t size, const WideChar* format, va_list arguments) {
    if (!VEXAL_CHECK(buffer != _null && size > 0 && format != _null,
                     u"buffer != _null && length != 0 && format != _null && arguments != _null", kModule)) {
        if (buffer != _null && size > 0) buffer[0] = 0;
        return buffer;
    }
    Output out{buffer, size - 1, 0};
    out.printable = true;
    va_list copy;
    va_copy(copy, arguments);
    FormatCore(out, format, copy);
    va_end(copy);
    buffer[out.position] = 0;
    return buffer;
}

String PrintableText(const WideChar* text) {
    String result;
    if (text == _null) return result;
    int32_t length = 0;
    int32_t controls = 0;
    for (; text[length] != 0; ++length)
        controls += IsControlUnit(text[length]) ? 1 : 0;
    if (controls == 0) return String(text, length);
    const int32_t units = length + 3 * controls;
    WideChar* escaped = static_cast<WideChar*>(malloc(size_t(units + 1) * sizeof(WideChar)));
    if (escaped == _null) return result;
    Output out{escaped, units, 0};
    PutPrintableText(out, FieldLayout(), text);
    result.Assign(escaped, out.position);
    free(escaped);
    return result;
}

WideChar* FormatInto(WideChar* buffer, int32_t size, const WideChar* format, ...) {
    if (!VEXAL_CHECK(buffer != _null && size > 0 && format != _null,
                     u"buffer != _null && length != 0 && format != _null", kModule)) {
        if (buffer != _null && size > 0) buffer[0] = 0;
        return buffer;
    }
    va_list arguments;
    va_start(arguments, format);
    Output out{buffer, size - 1, 0};
    FormatCore(out, format, arguments);
    va_end(arguments);
    buffer[out.position] = 0;
    return buffer;
}

// Most texts are short: they are formatted in a small buffer first, and only a text that fills it
// is formatted again in the full-size one.
static String FormatLong(const WideChar* format, va_list arguments) {
    WideChar buffer[kFormatLimit];
    Output out{buffer, kFormatLimit - 1, 0};
    va_list copy;
    va_copy(copy, arguments);
    FormatCore(out, format, copy);
    va_end(copy);
    buffer[out.position] = 0;
    return String(buffer, out.position);
}

String FormatV(const WideChar* format, va_list arguments) {
    if (!VEXAL_CHECK(format != _null, u"format != _null", kModule)) return String();
    const int32_t kShortUnits = 256;
    WideChar buffer[kShortUnits];
    Output out{buffer, kShortUnits - 1, 0};
    va_list copy;
    va_copy(copy, arguments);
    FormatCore(out, format, copy);
    va_end(copy);
    if (out.Full()) return FormatLong(format, arguments);
    buffer[out.position] = 0;
    String text;
    if (out.mayHoldNul) text.Assign(buffer, out.position);
    else text.AssignUnits(buffer, out.position);
    return text;
}

String Format(const WideChar* format, ...) {
    if (!VEXAL_CHECK(format != _null, u"format != _null", kModule)) return String();
    va_list arguments;
    va_start(arguments, format);
    String text = FormatV(format, arguments);
    va_end(arguments);
    return text;
}

String FloatToText(float value) { return Format(u"%5.3f", double(value)); }
