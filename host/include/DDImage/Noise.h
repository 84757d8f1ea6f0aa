/// \file Noise.h  The host's three-dimensional gradient noise.
#pragma once

#include <cstddef>

/// Defined when the layer offers noise_batch; operators fall back to noise without it.
#define DDIMAGE_HAS_NOISE_BATCH 1
/// Defined when noise_batch also takes single-precision coordinates.
#define DDIMAGE_HAS_NOISE_BATCH_FLOAT 1

namespace DD::Image {

/// Improved gradient noise (the 2002 reference construction) at (x, y, z), in double precision.
/// Pure and thread-safe. Returns NaN when any coordinate is NaN; coordinates beyond the 32-bit integer
/// range still pick a lattice cell through a defined conversion.
double noise(double x, double y, double z);

/// noise at the n points (x[i], y[i], z[i]) into out[i], bit for bit the values of noise, several points
/// at a time where the processor allows. Pure and thread-safe; out may not overlap the inputs.
void noise_batch(const double* x, const double* y, const double* z, double* out, std::size_t n);

/// noise_batch at single-precision points: out[i] is noise(x[i], y[i], z[i]) with each coordinate
/// widened to double, bit for bit.
void noise_batch(const float* x, const float* y, const float* z, double* out, std::size_t n);

}  // namespace DD::Image
