// Shared pieces of the fuzz targets: quiet log channels, wide texts made of raw bytes, and the
// check that turns a broken property into a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Common/Types.h"
#include "Source/Platform/Log.h"

// Log lines are still formatted on every failure path (so the formatter runs with whatever the
// input put into them) but go nowhere: millions of runs would otherwise fill the disk.
inline void DiscardLogLine(const WideChar*, void*, uint8_t) {}
inline void QuietLogs() { SetLogSinks(DiscardLogLine, _null, DiscardLogLine, _null); }

// A property every input must keep. A failure aborts, which libFuzzer records as a crash with
// the input that caused it.
#define FUZZ_CHECK(condition)                                                                        \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)

// The bytes as little-endian UTF-16 units (a last odd byte is dropped), followed by a 0 that is
// not counted in the size the caller uses.
inline std::vector<WideChar> WideUnits(const uint8_t* data, size_t size) {
    std::vector<WideChar> units(size / 2 + 1, 0);
    for (size_t i = 0; i + 1 < size; i += 2) units[i / 2] = WideChar(data[i] | (data[i + 1] << 8));
    return units;
}
