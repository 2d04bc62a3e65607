// UTF-16 <-> UTF-8 with the engine's own converter, and UTF-16 <-> the locale's multibyte text.
#include "Source/Common/StringEncoding.h"

#include <climits>
#include <cstdlib>
#include <cwchar>
#include "Source/Platform/AnsiText.h"
#include "Source/Platform/Log.h"

namespace {

const WideChar kModule[] = u"Source/Common/StringEncoding";

// Bytes (or units) of input before its terminator, reading no more than count (-1: no limit).
template <typename Unit>
int32_t InputLength(const Unit* input, int32_t count) {
    int32_t length = 0;
    if (count < 0) {
        while (input[length] != 0) ++length;
    } else {
        while (length < count && input[length] != 0) ++length;
    }
    return length;
}

// A missing input gives an empty, terminated result (allocated when no output was given).
template <typename Unit>
Unit* EmptyResult(Unit* output, int32_t outputSize, int32_t* outLength) {
    if (outLength) *outLength = 0;
    if (output == _null) {
        output = static_cast<Unit*>(std::malloc(sizeof(Unit)));
        if (output) output[0] = 0;
    } else if (outputSize > 0) {
        output[0] = 0;
    }
    return output;
}

int32_t Utf8Size(WideChar unit) { return unit < 0x80 ? 1 : unit < 0x800 ? 2
                                                                        : 3; }

// Encodes into output (room for outputSize bytes including the terminator); a null output only
// counts. Returns the bytes written without the terminator.
int32_t EncodeUtf8(char* output, int32_t outputSize, const WideChar* input, int32_t length, bool* cut) {
    int32_t limit = outputSize - 1;
    int32_t written = 0;
    *cut = false;
    for (int32_t i = 0; i < length; ++i) {
        WideChar unit = input[i];
        int32_t size = Utf8Size(unit);
        if (int64_t(written) + size > limit) {
            *cut = true;
            break;
        }
        if (output) {
            char* out = output + written;
            if (size == 1) {
                out[0] = char(unit);
            } else if (size == 2) {
                out[0] = char(0xC0 | (unit >> 6));
                out[1] = char(0x80 | (unit & 0x3F));
            } else {
                out[0] = char(0xE0 | (unit >> 12));
                out[1] = char(0x80 | ((unit >> 6) & 0x3F));
                out[2] = char(0x80 | (unit & 0x3F));
            }
        }
        written += size;
    }
    if (output && outputSize > 0) output[written] = 0;
    return written;
}

// Decodes length bytes into at most outputSize - 1 units (a null output only counts, without a
// limit). Returns the units written without the terminator.
int32_t DecodeUtf8(WideChar* output, int32_t outputSize, const char* input, int32_t length, bool* cut) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(input);
    int32_t limit = output ? outputSize - 1 : INT32_MAX;
    int32_t written = 0;
    *cut = false;
    int32_t i = 0;
    while (i < length) {
        unsigned lead = bytes[i];
        WideChar unit;
        if (lead < 0x80) {
            unit = WideChar(lead);
            i += 1;
        } else if ((lead & 0xE0) == 0xC0) {
            if (length - i < 2) break; // cut by the end of the input: dropped
            unit = WideChar(((lead & 0x1F) << 6) | (bytes[i + 1] & 0x3F));
            i += 2;
        } else if ((lead & 0xF0) == 0xE0) {
            if (length - i < 3) break;
            unit = WideChar(((lead & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) | (bytes[i + 2] & 0x3F));
            i += 3;
        } else {
            i += 1; // a stray continuation byte or a 4-byte lead
            continue;
        }
        if (written >= limit) {
            *cut = true;
            break;
        }
        if (output) output[written] = unit;
        ++written;
    }
    if (output && outputSize > 0) output[written] = 0;
    return written;
}

// What every conversion below shares: with a null output, counts the whole text first and
// allocates room for it and its terminator (the caller frees it); then converts into output.
// convert(out, size, cut) writes at most size units with the terminator and returns those
// written without it; with a null out it only counts. Returns output, _null when the room
// cannot be allocated.
template <typename Unit, typename Convert>
Unit* ConvertInto(Unit* output, int32_t outputSize, int32_t length, int32_t* outLength, bool* truncated,
                  Convert convert) {
    bool cut = false;
    if (output == _null) {
        int32_t needed = convert(static_cast<Unit*>(_null), 0, &cut);
        outputSize = needed + 1;
        output = static_cast<Unit*>(std::malloc(size_t(outputSize) * sizeof(Unit)));
        if (output == _null) {
            if (outLength) *outLength = 0;
            return _null;
        }
    }
    int32_t written = outputSize > 0 ? convert(output, outputSize, &cut) : 0;
    if (outputSize <= 0 && length > 0) cut = true;
    if (outLength) *outLength = written;
    if (truncated) *truncated = cut;
    return output;
}

} // namespace

char* Utf16ToUtf8(char* output, int32_t outputSize, const WideChar* input, int32_t inputCount,
                  int32_t* outLength, bool* truncated) {
    if (truncated) *truncated = false;
    if (!VEXAL_CHECK(input != _null, u"str != _null", kModule)) return EmptyResult(output, outputSize, outLength);
    int32_t length = InputLength(input, inputCount);
    return ConvertInto(output, outputSize, length, outLength, truncated, [&](char* out, int32_t size, bool* cut) {
        // Counting needs a limit the text cannot reach.
        return EncodeUtf8(out, out ? size : INT32_MAX, input, length, cut);
    });
}

WideChar* Utf8ToUtf16(WideChar* output, int32_t outputSize, const char* input, int32_t inputCount,
                      int32_t* outLength, bool* truncated) {
    if (truncated) *truncated = false;
    if (!VEXAL_CHECK(input != _null, u"str != _null", kModule)) return EmptyResult(output, outputSize, outLength);
    int32_t length = InputLength(input, inputCount);
    return ConvertInto(output, outputSize, length, outLength, truncated, [&](WideChar* out, int32_t size, bool* cut) {
        return DecodeUtf8(out, size, input, length, cut);
    });
}

int32_t Utf8ToUtf16Count(const char* input, int32_t inputCount) {
    if (input == _null) return 0;
    bool cut = false;
    return DecodeUtf8(_null, 0, input, InputLength(input, inputCount), &cut);
}

char* WideToAnsi(char* output, int32_t outputSize, const WideChar* input, int32_t inputCount, int32_t* outLength) {
    if (!VEXAL_CHECK(input != _null, u"str != _null", kModule)) return EmptyResult(output, outputSize, outLength);
    int32_t length = InputLength(input, inputCount);
    return ConvertInto(output, outputSize, length, outLength, _null, [&](char* out, int32_t size, bool*) {
        return EncodeAnsiText(out, size, input, length);
    });
}

WideChar* AnsiToWide(WideChar* output, int32_t outputSize, const char* input, int32_t inputCount, int32_t* outLength) {
    if (!VEXAL_CHECK(input != _null, u"str != _null", kModule)) return EmptyResult(output, outputSize, outLength);
    int32_t length = InputLength(input, inputCount);
    return ConvertInto(output, outputSize, length, outLength, _null, [&](WideChar* out, int32_t size, bool*) {
        return DecodeAnsiText(out, size, input, length);
    });
}
