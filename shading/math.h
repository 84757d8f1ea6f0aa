/// \file math.h  The single-precision standard functions the shading code calls.
#pragma once

#include <cmath>

namespace quorlen {

inline float sqrt_f(float v) { return std::sqrt(v); }
inline float pow_f(float base, float exponent) { return std::pow(base, exponent); }
inline float hypot_f(float a, float b) { return std::hypot(a, b); }
/// The absolute value taken in double and rounded back, which is exact.
inline float abs_f(float v) { return static_cast<float>(std::fabs(static_cast<double>(v))); }

}  // namespace quorlen
