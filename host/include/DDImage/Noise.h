/// \file Noise.h  The host's three-dimensional gradient noise.
#pragma once

namespace DD::Image {

/// Improved gradient noise (the 2002 reference construction) at (x, y, z), in double precision.
/// Pure and thread-safe. Returns NaN when any coordinate is NaN; coordinates beyond the 32-bit integer
/// range still pick a lattice cell through a defined conversion.
double noise(double x, double y, double z);

}  // namespace DD::Image
