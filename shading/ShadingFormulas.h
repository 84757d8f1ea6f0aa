/// \file ShadingFormulas.h  The constants and formula steps of the relighting, each in its precision: one
/// home shared by the reference engine (one pixel, one noise point at a time) and the fast engine (noise
/// batches, SSE2 lanes). Only the two output formulas stay written out in each engine (see SpanEngine.cpp).
#pragma once

#include <cstdint>

#include "shading/Float3.h"
#include "shading/SurfaceNoise.h"
#include "shading/math.h"

namespace quorlen {

// ---- Noise sampling ----

/// Rotation and scale factor of the sampling position, in double: 0.707 as written, not 1/sqrt(2); the
/// field depends on it bit for bit.
inline constexpr double kNoiseRotation = 0.707;
/// Shift of the first noise coordinate, added after the scaling.
inline constexpr float kNoiseShift = 100.0f;

/// The scale of a sample at `frequency`: frequency × 0.707 in double, rounded to single.
inline float noise_scale(float frequency) {
  return static_cast<float>(static_cast<double>(frequency) * kNoiseRotation);
}

/// 0.707 × (x − z): the difference in single, the product in double, rounded to single.
inline float noise_rotated_difference(float x, float z) {
  return static_cast<float>(kNoiseRotation * static_cast<double>(x - z));
}

/// The host noise position from the rotated terms, in single. The shift and the offset come after the
/// scaling: the offset is a distance in the noise's own space.
inline Float3 noise_position(float scale, float r_minus_y, float r_plus_y, float x_plus_z,
                             const Float3& offset) {
  return {(scale * r_minus_y + kNoiseShift) + offset.x, scale * r_plus_y + offset.y,
          scale * x_plus_z + offset.z};
}

// ---- Octaves of turbulence ----

/// The octave sum before the first octave.
inline constexpr float kOctaveSumStart = -0.5f;
/// The first octave is at start + 1.
inline constexpr float kFirstOctaveIncrement = 1.0f;
/// Each octave doubles the frequency of the one before.
inline constexpr float kOctaveRatio = 2.0f;
/// Octaves run up to (inclusive) width / 12.
inline constexpr int kOctaveWidthDivisor = 12;

inline float first_octave(float start) { return start + kFirstOctaveIncrement; }

/// width / 12 in integers, the quotient truncated toward zero, then single.
inline float octave_bound(int width) { return static_cast<float>(width / kOctaveWidthDivisor); }

/// Doubling ends the loop only from a positive first frequency; a zero, negative or NaN one runs no
/// octave. The bound is finite (at most INT_MAX / 12), so a positive frequency always doubles past it.
inline bool octaves_can_run(float first) { return first > 0.0f; }

inline float next_octave(float frequency) { return frequency * kOctaveRatio; }

/// The sum after one more octave: |sample / frequency| added, with the unscaled frequency.
inline float add_octave(float sum, float sample, float frequency) { return sum + abs_f(sample / frequency); }

// ---- Noise types ----

/// π, in double, for the stripe profile.
inline constexpr double kPi = 3.141592653589793;
/// The frequency k of the stripes.
inline constexpr float kStripeFrequency = 1.6f;
/// Weight of the turbulence in the stripe phase (u = coordinates + 2T).
inline constexpr float kStripeTurbulenceWeight = 2.0f;

/// Multipliers of the integer frequency: where "stripes" and "turbulence1" start their octaves, where
/// "turbulence2" starts them, and where "snoise" takes its one sample.
inline constexpr std::int64_t kStripesTurbulence1Factor = 2;
inline constexpr std::int64_t kTurbulence2Factor = 1;
inline constexpr std::int64_t kSnoiseFactor = 8;

/// Scales applied last, in single; "turbulence2" scales its first sum by -0.1 in single, then by 0.5 in
/// double.
inline constexpr float kStripesScale = 0.005f;
inline constexpr float kTurbulence1Scale = -0.05f;
inline constexpr float kTurbulence2Scale = -0.1f;
inline constexpr double kTurbulence2Half = 0.5;
inline constexpr float kSnoiseScale = 0.01f;

/// The integer frequency times `factor`, formed in 64 bits so that no frequency overflows, then single.
inline float scaled_frequency(int frequency, std::int64_t factor) {
  return static_cast<float>(static_cast<std::int64_t>(frequency) * factor);
}

/// "stripes" uses the directions 0 to 7; any other value gives the "turbulence1" result.
inline bool stripe_directions_valid(int directions) { return directions >= 0 && directions <= 7; }

/// "stripes" from its octave sum t.
inline float stripes_value(float x, float y, float z, int directions, float t) {
  const float u = stripe_phase(x, y, z, directions, kStripeTurbulenceWeight * t);
  return kStripesScale * stripe_profile(u, kStripeFrequency);
}

inline float turbulence1_value(float t) { return kTurbulence1Scale * t; }

/// "turbulence2" from its two octave sums, in this order.
inline float turbulence2_value(float t1, float t2) {
  return static_cast<float>(static_cast<double>(kTurbulence2Scale * t1) * kTurbulence2Half *
                            static_cast<double>(t2));
}

inline float snoise_value(float sample) { return kSnoiseScale * sample; }

// ---- The noise bump of the normal ----

/// Step of the finite-difference gradient, in double.
inline constexpr double kGradientStep = 0.01;
/// Scale of the bump on the normal.
inline constexpr float kBumpScale = 100.0f;

/// A coordinate of a shifted sample point: the step added in double, rounded to single.
inline float gradient_coordinate(float v) {
  return static_cast<float>(static_cast<double>(v) + kGradientStep);
}

/// A normal component pushed against the forward difference of the bump field, in single.
inline float bumped(float normal, float shifted, float base, float multiply) {
  return normal - ((shifted - base) * multiply) * kBumpScale;
}

// ---- Light ----

/// The specular exponent of a shininess control: (power − 1) × 20 + 1, in single.
inline float specular_exponent(float power) { return (power - 1.0f) * 20.0f + 1.0f; }

/// The light vector from a vector toward the light: z is negated, for both light types.
inline Float3 light_vector(const Float3& toward_light) {
  return {toward_light.x, toward_light.y, -toward_light.z};
}

/// The point light's distance from its offset to the surface point, the inner hypotenuse first.
inline float point_light_distance(float dx, float dy, float dz) { return hypot_f(hypot_f(dx, dy), dz); }

/// The point light's fade is a linear ramp over the distance: kFadeAtLight from kFadeStart (the light)
/// on, kFadeAtRadius from the radius on.
inline constexpr float kFadeStart = 0.0f;
inline constexpr float kFadeAtLight = 1.0f;
inline constexpr float kFadeAtRadius = 0.0f;

inline float point_light_fade(float distance, float radius) {
  return linear_ramp(distance, kFadeStart, radius, kFadeAtLight, kFadeAtRadius);
}

}  // namespace quorlen
