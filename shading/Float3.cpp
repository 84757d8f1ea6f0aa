/// \file Float3.cpp  The clamped dot product, the specular term and the linear ramp.
#include "shading/Float3.h"

#include "shading/math.h"

namespace quorlen {

float Float3::clamped_dot(Float3& light) const {
  light.normalize();
  return positive_dot(*this, light);
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
