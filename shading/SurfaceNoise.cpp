/// \file SurfaceNoise.cpp  Stripes, turbulence and single samples of the host noise.
#include "shading/SurfaceNoise.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "DDImage/Noise.h"
#include "shading/math.h"

namespace quorlen {
namespace {

// Rotation and scale factor of the sampling position: 0.707 exactly, not 1/sqrt(2); the field depends
// on it bit for bit.
constexpr double kRotation = 0.707;
constexpr double kPi = 3.141592653589793;
constexpr float kStripeFrequency = 1.6f;

/// An integer product converted to single; formed in 64 bits so that no frequency can overflow.
float scaled_frequency(int frequency, std::int64_t factor) {
  return static_cast<float>(static_cast<std::int64_t>(frequency) * factor);
}

}  // namespace

float stripe_phase(float x, float y, float z, int directions, float twice_t) {
  switch (directions) {
    case 1:
      return x + twice_t;
    case 2:
      return y + twice_t;
    case 3:
      return (x + y) + twice_t;
    case 4:
      return z + twice_t;
    case 5:
      return (x + z) + twice_t;
    case 6:
      return (y + z) + twice_t;
    case 7:
      return ((x + y) + z) + twice_t;
    default:
      return twice_t;
  }
}

float stripe_profile(float u, float k) {
  const float t = 2.0f * k;
  const double a = (static_cast<double>(t) * kPi) * static_cast<double>(u);
  const double v = 0.5 + 0.5 * std::sin(a);
  return static_cast<float>(v * v - 0.5);
}

float noise_sample(float x, float y, float z, float frequency, const Float3& offset) {
  const float s = static_cast<float>(static_cast<double>(frequency) * kRotation);
  const float r = static_cast<float>(kRotation * static_cast<double>(x - z));
  // The shift and the offset come after the scaling: the offset is a distance in the noise's own space.
  const float nx = (s * (r - y) + 100.0f) + offset.x;
  const float ny = s * (r + y) + offset.y;
  const float nz = s * (x + z) + offset.z;
  return static_cast<float>(DD::Image::noise(nx, ny, nz));
}

float turbulence(float x, float y, float z, float start, int width, const Float3& offset) {
  float f = start + 1.0f;
  const float bound = static_cast<float>(width / 12);
  float sum = -0.5f;
  // Doubling only ends the loop from a positive start; a zero, negative or NaN one runs no octave.
  // The bound is finite (at most INT_MAX / 12), so a positive f always doubles past it.
  if (!(f > 0.0f)) return sum;
  while (f <= bound) {
    const float q = noise_sample(x, y, z, f, offset) / f;
    sum = sum + abs_f(q);
    f = f * 2.0f;
  }
  return sum;
}

float surface_noise(float x, float y, float z, int type, int directions, int width, int frequency,
                    const Float3& offset) {
  switch (type) {
    case 0:
    case 1: {
      const float t = turbulence(x, y, z, scaled_frequency(frequency, 2), width, offset);
      if (type == 1 || directions < 0 || directions > 7) return -0.05f * t;
      const float u = stripe_phase(x, y, z, directions, 2.0f * t);
      return 0.005f * stripe_profile(u, kStripeFrequency);
    }
    case 2: {
      const float start = static_cast<float>(frequency);
      const float t1 = turbulence(x, y, z, start, width, offset);
      const float t2 = turbulence(x, y, z, start, width, offset);
      return static_cast<float>(static_cast<double>(-0.1f * t1) * 0.5 * static_cast<double>(t2));
    }
    case 3:
      return 0.01f * noise_sample(x, y, z, scaled_frequency(frequency, 8), offset);
    default:
      // Unknown noise types leave the surface flat.
      return 0.0f;
  }
}

int integer_frequency(float noiseFrequency) {
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  if (std::isnan(noiseFrequency)) return 0;
  // 2^31 and -2^31 are exact in single; converting anything outside would be undefined.
  if (noiseFrequency >= 2147483648.0f) return kMax;
  if (noiseFrequency < -2147483648.0f) return kMin;
  return static_cast<int>(noiseFrequency);
}

}  // namespace quorlen
