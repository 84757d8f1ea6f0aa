/// \file SurfaceNoise.cpp  Stripes, turbulence and single samples of the host noise.
#include "shading/SurfaceNoise.h"

#include <cmath>
#include <limits>

#include "DDImage/Noise.h"
#include "shading/ShadingFormulas.h"

namespace quorlen {

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
  const float r = noise_rotated_difference(x, z);
  const Float3 n = noise_position(noise_scale(frequency), r - y, r + y, x + z, offset);
  return static_cast<float>(DD::Image::noise(n.x, n.y, n.z));
}

float turbulence(float x, float y, float z, float start, int width, const Float3& offset) {
  float f = first_octave(start);
  const float bound = octave_bound(width);
  float sum = kOctaveSumStart;
  if (!octaves_can_run(f)) return sum;
  while (f <= bound) {
    sum = add_octave(sum, noise_sample(x, y, z, f, offset), f);
    f = next_octave(f);
  }
  return sum;
}

float surface_noise(float x, float y, float z, NoiseType type, int directions, int width, int frequency,
                    const Float3& offset) {
  switch (type) {
    case NoiseType::stripes:
    case NoiseType::turbulence1: {
      const float t =
          turbulence(x, y, z, scaled_frequency(frequency, kStripesTurbulence1Factor), width, offset);
      if (type == NoiseType::turbulence1 || !stripe_directions_valid(directions)) return turbulence1_value(t);
      return stripes_value(x, y, z, directions, t);
    }
    case NoiseType::turbulence2: {
      const float start = scaled_frequency(frequency, kTurbulence2Factor);
      const float t1 = turbulence(x, y, z, start, width, offset);
      const float t2 = turbulence(x, y, z, start, width, offset);
      return turbulence2_value(t1, t2);
    }
    case NoiseType::snoise:
      return snoise_value(noise_sample(x, y, z, scaled_frequency(frequency, kSnoiseFactor), offset));
    case NoiseType::flat:
      break;
  }
  // Codes outside the four types leave the surface flat.
  return 0.0f;
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
