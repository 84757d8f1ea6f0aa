/// \file Float3.cpp  Normalisation, the clamped dot product, the specular term and the linear ramp.
#include "shading/Float3.h"

#include "shading/math.h"

namespace quorlen {

void Float3::normalize() {
  const float length = sqrt_f((x * x + y * y) + z * z);
  // Three divisions rather than one reciprocal: each component keeps a single rounding.
  x = x / length;
  y = y / length;
  z = z / length;
}

float Float3::clamped_dot(Float3& light) const {
  light.normalize();
  const float dot = (x * light.x + y * light.y) + z * light.z;
  // The strict test sends NaN and -0 to +0, so a degenerate vector simply receives no light.
  return dot > 0.0f ? dot : 0.0f;
}

float Float3::specular(Float3& light, float power) const {
  const Float3 copy = *this;
  return pow_f(copy.clamped_dot(light), power);
}

float linear_ramp(float value, float low, float high, float at_low, float at_high) {
  if (value < low) return at_low;
  // Testing `high` before dividing keeps an empty or inverted span from ever being divided by.
  if (value >= high) return at_high;
  return ((value - low) * (at_high - at_low)) / (high - low) + at_low;
}

}  // namespace quorlen
