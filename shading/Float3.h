/// \file Float3.h  The three-float vector of the shading code and its light terms.
#pragma once

#include "shading/math.h"

namespace quorlen {

/// Three 32-bit floats x, y, z (also addressed as [0], [1], [2]): normals, positions, light vectors.
struct Float3 {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  float& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

  /// Divides each component by the length (three divisions). A zero vector becomes NaN.
  void normalize() {
    const float length = sqrt_f((x * x + y * y) + z * z);
    // Three divisions rather than one reciprocal: each component keeps a single rounding.
    x = x / length;
    y = y / length;
    z = z / length;
  }
  /// Normalises `light` in place, then returns the dot product with this vector (not normalised) when it
  /// is above 0, otherwise +0 (also for NaN and -0).
  float clamped_dot(Float3& light) const;
  /// clamped_dot of a copy of this vector with `light` (normalised in place), raised to `power`.
  float specular(Float3& light, float power) const;
};

/// The dot product (a.x b.x + a.y b.y) + a.z b.z when it is above 0, otherwise +0: the strict test
/// sends NaN and -0 to +0, so a degenerate vector simply receives no light.
inline float positive_dot(const Float3& a, const Float3& b) {
  const float dot = (a.x * b.x + a.y * b.y) + a.z * b.z;
  return dot > 0.0f ? dot : 0.0f;
}

/// at_low below `low`, at_high from `high` on, linear in between (NaN for a NaN value).
float linear_ramp(float value, float low, float high, float at_low, float at_high);

}  // namespace quorlen
