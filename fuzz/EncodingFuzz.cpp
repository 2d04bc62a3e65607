// UTF-8 from the network and UTF-16 from anywhere through the engine's converters: exact
// allocation, output limits, terminators, truncation flags and the UTF-16 -> UTF-8 -> UTF-16
// round trip.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "Source/Common/StringEncoding.h"

namespace {

// UTF-8 input: allocated result, counted and terminated forms, and every output limit up to a
// little past the full length.
void CheckUtf8(const char* input, int32_t count, int32_t limitSeed) {
    int32_t fullLength = -1;
    WideChar* full = Utf8ToUtf16(_null, 0, input, count, &fullLength);
    FUZZ_CHECK(full != _null);
    FUZZ_CHECK(fullLength == Utf8ToUtf16Count(input, count));
    FUZZ_CHECK(full[fullLength] == 0);

    const int32_t outputSize = limitSeed % (fullLength + 3);
    WideChar* output = new WideChar[outputSize > 0 ? outputSize : 1];
    int32_t length = -1;
    bool truncated = false;
    FUZZ_CHECK(Utf8ToUtf16(output, outputSize, input, count, &length, &truncated) == output);
    if (outputSize > 0) {
        FUZZ_CHECK(length >= 0 && length <= outputSize - 1);
        FUZZ_CHECK(output[length] == 0);
        FUZZ_CHECK(std::memcmp(output, full, size_t(length) * sizeof(WideChar)) == 0);
        FUZZ_CHECK(truncated == (length < fullLength));
    }
    delete[] output;
    std::free(full);
}

// UTF-16 input: the result decodes back to the same units (every unit that is not 0 survives,
// lone surrogates included).
void CheckUtf16(const WideChar* input, int32_t count, int32_t limitSeed) {
    int32_t fullLength = -1;
    char* full = Utf16ToUtf8(_null, 0, input, count, &fullLength);
    FUZZ_CHECK(full != _null);
    FUZZ_CHECK(full[fullLength] == 0);

    int32_t backLength = -1;
    WideChar* back = Utf8ToUtf16(_null, 0, full, fullLength, &backLength);
    int32_t inputLength = 0;
    while ((count < 0 || inputLength < count) && input[inputLength] != 0) ++inputLength;
    FUZZ_CHECK(backLength == inputLength);
    FUZZ_CHECK(std::memcmp(back, input, size_t(inputLength) * sizeof(WideChar)) == 0);
    std::free(back);

    const int32_t outputSize = limitSeed % (fullLength + 3);
    char* output = new char[outputSize > 0 ? outputSize : 1];
    int32_t length = -1;
    bool truncated = false;
    FUZZ_CHECK(Utf16ToUtf8(output, outputSize, input, count, &length, &truncated) == output);
    if (outputSize > 0) {
        FUZZ_CHECK(length >= 0 && length <= outputSize - 1);
        FUZZ_CHECK(output[length] == 0);
        FUZZ_CHECK(std::memcmp(output, full, size_t(length)) == 0);
        FUZZ_CHECK(truncated == (length < fullLength));
        // Never a character in part: what was written is whole characters.
        int32_t whole = -1;
        WideChar* decoded = Utf8ToUtf16(_null, 0, output, length, &whole);
        FUZZ_CHECK(std::memcmp(decoded, input, size_t(whole) * sizeof(WideChar)) == 0);
        std::free(decoded);
    }
    delete[] output;
    std::free(full);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (QuietLogs(), true);
    (void)quiet;
    if (size < 1 || size > 8192) return -1;
    const int32_t limitSeed = data[0];
    ++data;
    --size;

    // Counted, then up to the terminator (a copy that ends in 0).
    const char* bytes = reinterpret_cast<const char*>(data);
    CheckUtf8(bytes, int32_t(size), limitSeed);
    std::vector<char> terminated(bytes, bytes + size);
    terminated.push_back(0);
    CheckUtf8(terminated.data(), -1, limitSeed);

    std::vector<WideChar> units = WideUnits(data, size);
    CheckUtf16(units.data(), int32_t(size / 2), limitSeed);
    CheckUtf16(units.data(), -1, limitSeed);
    return 0;
}
