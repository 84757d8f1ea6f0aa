/// \file SurfaceNoise.h  The procedural bump field that roughens the normals.
#pragma once

#include "shading/Float3.h"
#include "shading/ShadingModes.h"

namespace quorlen {

/// Squared-sine stripe profile of phase u at frequency k, in [-0.5, 0.5].
float stripe_profile(float u, float k);
/// The stripe phase: the coordinates `directions` selects, summed in x, y, z order, plus twice_t last.
float stripe_phase(float x, float y, float z, int directions, float twice_t);
/// One sample of the host noise at a rotated, scaled and shifted position.
float noise_sample(float x, float y, float z, float frequency, const Float3& offset);
/// Sum of octaves of absolute noise from start + 1 up to (inclusive) width / 12, starting at -0.5.
float turbulence(float x, float y, float z, float start, int width, const Float3& offset);
/// The bump field of noise type `type`; `flat` gives +0.
float surface_noise(float x, float y, float z, NoiseType type, int directions, int width, int frequency,
                    const Float3& offset);

/// noiseFrequency as the integer frequency: truncated toward zero, NaN gives 0, saturated to 32 bits.
int integer_frequency(float noiseFrequency);

}  // namespace quorlen
