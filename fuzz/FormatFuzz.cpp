// The wide formatter with arbitrary texts and arbitrary conversion layouts. The format
// itself is built by the harness: only conversions whose values the harness supplies, with the
// types they read, so every call is a well-formed one. Texts from the input reach the formatter
// as literal parts (every "%" doubled) and as the values of "%ls" and "%s". Integer and floating
// conversions are compared with the C library's snprintf.
#include <cstdio>
#include <cstring>
#include <sys/types.h>
#include <string>
#include <vector>
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzSupport.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"

namespace {

enum class Kind { Signed,
                  Unsigned,
                  Floating,
                  Character,
                  Pointer,
                  Wide,
                  Narrow };

struct FieldLayout {
    Kind kind;
    std::string text; // the conversion as ASCII, "%" included
    int stars = 0;    // "*" width and/or precision taking int values before the value
    int starValues[2] = {0, 0};
};

std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Literal text from the input with every "%" doubled so that it stays literal.
std::u16string Literal(FuzzedDataProvider& input, std::u16string& expected) {
    std::u16string literal;
    const size_t count = input.ConsumeIntegralInRange<size_t>(0, 24);
    for (size_t i = 0; i < count && input.remaining_bytes() >= 2; ++i) {
        WideChar unit = input.ConsumeIntegral<uint16_t>();
        if (unit == 0) unit = u' ';
        literal += unit;
        expected += unit;
        if (unit == u'%') literal += u'%';
    }
    return literal;
}

FieldLayout MakeLayout(FuzzedDataProvider& input) {
    static const char kFlags[] = "-+ #0";
    FieldLayout layout;
    layout.text = "%";
    const uint8_t flags = input.ConsumeIntegral<uint8_t>();
    for (int i = 0; i < 5; ++i)
        if (flags & (1 << i)) layout.text += kFlags[i];
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 1: layout.text += std::to_string(input.ConsumeIntegralInRange<int>(0, 300)); break;
    case 2:
        layout.text += "*";
        layout.starValues[layout.stars++] = input.ConsumeIntegralInRange<int>(-300, 300);
        break;
    default: break;
    }
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 1: layout.text += "." + std::to_string(input.ConsumeIntegralInRange<int>(0, 300)); break;
    case 2:
        layout.text += ".*";
        layout.starValues[layout.stars++] = input.ConsumeIntegralInRange<int>(-20, 300);
        break;
    case 3: layout.text += "."; break;
    default: break;
    }
    static const char* const kLengths[] = {"", "h", "hh", "l", "ll", "z"};
    static const char kIntegers[] = "diuxXo";
    static const char kFloats[] = "feEgGF";
    switch (input.ConsumeIntegralInRange<int>(0, 6)) {
    case 0:
    case 1: {
        const char conversion = kIntegers[input.ConsumeIntegralInRange<int>(0, 5)];
        layout.kind = (conversion == 'd' || conversion == 'i') ? Kind::Signed : Kind::Unsigned;
        layout.text += kLengths[input.ConsumeIntegralInRange<int>(0, 5)];
        layout.text += conversion;
        break;
    }
    case 2:
        layout.kind = Kind::Floating;
        layout.text += kFloats[input.ConsumeIntegralInRange<int>(0, 5)];
        break;
    case 3:
        layout.kind = Kind::Character;
        layout.text += "c";
        break;
    case 4:
        layout.kind = Kind::Pointer;
        layout.text += "p";
        break;
    case 5:
        layout.kind = Kind::Wide;
        layout.text += "ls";
        break;
    default:
        layout.kind = Kind::Narrow;
        layout.text += "s";
        break;
    }
    return layout;
}

// Calls the formatter with the star values, the conversion's value, then the two text values.
template <typename T>
void Call(WideChar* buffer, int32_t size, const std::u16string& format, const FieldLayout& layout, T value,
          const WideChar* wide, const char* narrow) {
    const WideChar* f = format.c_str();
    String whole;
    if (layout.stars == 0) {
        FormatInto(buffer, size, f, value, wide, narrow);
        whole = Format(f, value, wide, narrow);
    } else if (layout.stars == 1) {
        FormatInto(buffer, size, f, layout.starValues[0], value, wide, narrow);
        whole = Format(f, layout.starValues[0], value, wide, narrow);
    } else {
        FormatInto(buffer, size, f, layout.starValues[0], layout.starValues[1], value, wide, narrow);
        whole = Format(f, layout.starValues[0], layout.starValues[1], value, wide, narrow);
    }
    // The long form begins with what the short one holds.
    const int32_t shortLength = String::Length(buffer);
    FUZZ_CHECK(whole.GetLength() >= shortLength);
    FUZZ_CHECK(std::memcmp(whole.Data(), buffer, size_t(shortLength) * sizeof(WideChar)) == 0);
}

// What the C library makes of the same conversion, or false when it is not compared.
template <typename T>
bool Reference(const FieldLayout& layout, T value, std::string& out) {
    std::vector<char> text(4096);
    int length;
    if (layout.stars == 0) length = std::snprintf(text.data(), text.size(), layout.text.c_str(), value);
    else if (layout.stars == 1) length = std::snprintf(text.data(), text.size(), layout.text.c_str(), layout.starValues[0], value);
    else length = std::snprintf(text.data(), text.size(), layout.text.c_str(), layout.starValues[0], layout.starValues[1], value);
    if (length < 0 || size_t(length) >= text.size()) return false;
    out.assign(text.data(), size_t(length));
    return true;
}

template <typename T>
void Run(WideChar* buffer, int32_t size, const std::u16string& format, const FieldLayout& layout, T value,
         const WideChar* wide, const char* narrow, const std::u16string* before, const std::u16string* after,
         bool compare) {
    Call(buffer, size, format, layout, value, wide, narrow);
    // Terminated within the buffer.
    int32_t end = 0;
    while (end < size && buffer[end] != 0) ++end;
    FUZZ_CHECK(end < size);
    std::string reference;
    if (!compare || !Reference(layout, value, reference)) return;
    const std::u16string expected = *before + Widen(reference) + *after;
    const std::u16string written(buffer);
    const size_t kept = expected.size() < size_t(size - 1) ? expected.size() : size_t(size - 1);
    if (written != expected.substr(0, kept)) {
        std::fprintf(stderr, "format %s differs from the C library (\"%s\")\n", layout.text.c_str(), reference.c_str());
        const std::u16string& wanted = expected;
        size_t at = 0;
        while (at < written.size() && at < wanted.size() && written[at] == wanted[at]) ++at;
        std::fprintf(stderr, "first difference at unit %zu of %zu written, %zu expected (buffer %d): 0x%04x, 0x%04x expected\n", at,
                     written.size(), wanted.size(), size, at < written.size() ? unsigned(written[at]) : 0u,
                     at < wanted.size() ? unsigned(wanted[at]) : 0u);
        std::fprintf(stderr, "format units:");
        for (WideChar unit : format) std::fprintf(stderr, " %04x", unsigned(unit));
        std::fprintf(stderr, "\n");
        FUZZ_CHECK(false);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (QuietLogs(), true);
    (void)quiet;
    if (size > 4096) return -1;
    FuzzedDataProvider input(data, size);
    const int32_t bufferSize = input.ConsumeIntegralInRange<int32_t>(1, 2000);
    const FieldLayout layout = MakeLayout(input);

    // format = L1 conversion L2 "%ls" L3 "%s" L4
    std::u16string before, after;
    std::u16string format = Literal(input, before);
    format += Widen(layout.text);
    format += Literal(input, after);

    std::vector<WideChar> wide;
    const size_t wideCount = input.ConsumeIntegralInRange<size_t>(0, 600);
    for (size_t i = 0; i < wideCount && input.remaining_bytes() >= 2; ++i) {
        const WideChar unit = input.ConsumeIntegral<uint16_t>();
        if (unit != 0) wide.push_back(unit);
    }
    wide.push_back(0);
    const std::string narrow = input.ConsumeRandomLengthString(600);
    format += u"%ls";
    after += wide.data();
    format += Literal(input, after);
    format += u"%s";
    // The decoder makes a 0 unit of an overlong C0 80; the written text then ends there.
    int32_t narrowLength = 0;
    WideChar* narrowWide = Utf8ToUtf16(_null, 0, narrow.c_str(), -1, &narrowLength);
    after += narrowWide;
    const bool endsInNarrow = String::Length(narrowWide) < narrowLength;
    std::free(narrowWide);
    std::u16string unused;
    format += Literal(input, endsInNarrow ? unused : after);

    std::vector<WideChar> buffer(size_t(bufferSize), 0xAAAA);
    WideChar* out = buffer.data();
    const WideChar* w = wide.data();
    const char* n = narrow.c_str();
    const bool compare = true;
    const uint64_t bits = input.ConsumeIntegral<uint64_t>();
    const size_t lengthAt = layout.text.find_first_of("hlz");
    const std::string length = lengthAt == std::string::npos ? "" : layout.text.substr(lengthAt, layout.text.size() - 1 - lengthAt);
    switch (layout.kind) {
    case Kind::Signed:
        if (length == "l") Run(out, bufferSize, format, layout, long(bits), w, n, &before, &after, compare);
        else if (length == "ll") Run(out, bufferSize, format, layout, (long long)(bits), w, n, &before, &after, compare);
        else if (length == "z") Run(out, bufferSize, format, layout, ssize_t(bits), w, n, &before, &after, compare);
        else Run(out, bufferSize, format, layout, int(bits), w, n, &before, &after, compare);
        break;
    case Kind::Unsigned:
        if (length == "l") Run(out, bufferSize, format, layout, (unsigned long)(bits), w, n, &before, &after, compare);
        else if (length == "ll") Run(out, bufferSize, format, layout, (unsigned long long)(bits), w, n, &before, &after, compare);
        else if (length == "z") Run(out, bufferSize, format, layout, size_t(bits), w, n, &before, &after, compare);
        else Run(out, bufferSize, format, layout, unsigned(bits), w, n, &before, &after, compare);
        break;
    case Kind::Floating: {
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        Run(out, bufferSize, format, layout, value, w, n, &before, &after, compare);
        break;
    }
    case Kind::Character: Run(out, bufferSize, format, layout, int(bits & 0xFFFF), w, n, &before, &after, false); break;
    case Kind::Pointer:
        Run(out, bufferSize, format, layout, reinterpret_cast<void*>(uintptr_t(bits)), w, n, &before, &after, false);
        break;
    case Kind::Wide: {
        std::vector<WideChar> value = WideUnits(data, size);
        Run(out, bufferSize, format, layout, static_cast<const WideChar*>(value.data()), w, n, &before, &after, false);
        break;
    }
    case Kind::Narrow: {
        const std::string value(reinterpret_cast<const char*>(data), size);
        Run(out, bufferSize, format, layout, value.c_str(), w, n, &before, &after, false);
        break;
    }
    }
    return 0;
}
