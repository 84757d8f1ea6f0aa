/// \file shadow_lattice.h  Fewer rays for the same shadows: visibility marched at the lattice of pixels whose
/// column and line are both even, and shared with the pixels between them where it plainly holds.
#pragma once

#include <functional>

#include "geometry/shadow_march.h"

namespace quorlen::geometry {

/// Whether pixel (i, j) belongs to the lattice: its visibility is always marched.
inline bool on_lattice(int i, int j) { return i % 2 == 0 && j % 2 == 0; }

/// Depth steps larger than this share of a pixel's depth (its scale, see DepthField) end a surface: a
/// pixel does not take the visibility of lattice pixels across one.
inline constexpr double kLatticeContinuity = 0.02;

/// Pixel (i, j)'s visibility: marched on the lattice; elsewhere the value its nearest lattice pixels (two
/// or four, fewer at the frame's edge) share when they all show a surface within kLatticeContinuity of its
/// depth and have exactly the same visibility, else marched. `lattice(i, j)` gives the lattice's values
/// (visibility() of those pixels). A shadow narrower than two pixels that falls between lattice pixels
/// which agree is missed. A function of the pixel and the frame alone, like visibility().
float shared_visibility(const Camera& camera, const DepthField& field, const Grid3& position,
                        const ShadowLight& light, int i, int j,
                        const std::function<float(int, int)>& lattice);

/// The lattice pixels pixel (i, j) looks at, as (column, line) pairs: `count` of them in `out`.
int lattice_neighbours(const Grid3& position, int i, int j, int out[4][2]);

}  // namespace quorlen::geometry
