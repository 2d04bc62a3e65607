// Conversions between Lua numbers (doubles) and the 64-bit integers of the call protocol and the
// variable tree, defined for every double and every integer.
#pragma once

#include <cmath>
#include <cstdint>

namespace Vexal {

// Truncated toward zero; NaN gives 0 and values outside the range saturate.
inline int64_t NumberToInt64(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return INT64_MAX;
    if (value <= -9223372036854775808.0) return INT64_MIN;
    return int64_t(value);
}

// The low 63 bits, plus 2^63 when the top bit is set (no signed overflow on the way).
inline double UnsignedToNumber(uint64_t value) {
    double number = double(value & 0x7FFFFFFFFFFFFFFFull);
    if (value >> 63) number += 9223372036854775808.0;
    return number;
}

} // namespace Vexal
