/// \file spot_cone.h  A point light narrowed to a cone.
#pragma once

#include "geometry/camera.h"

namespace quorlen::geometry {

struct SpotCone {
  Vec3 direction{0, 0, 1};  ///< from the light towards what it lights
  double angle = 45;        ///< half-angle of the cone, degrees
  double penumbra = 0;      ///< degrees inside the edge over which the light fades in
};

/// The cone's factor at `x` for a light at `light`: with c the cosine of the angle between the direction
/// and x - light, 1 where c >= cos(angle - penumbra), 0 where c <= cos(angle), between them smoothstep
/// t^2 (3 - 2t) of t = (c - cos(angle)) / (cos(angle - penumbra) - cos(angle)). Without a penumbra the edge
/// is hard (inside when c >= cos(angle)). 1 at the light itself.
float spot_factor(const SpotCone& spot, const Vec3& light, const Vec3& x);

}  // namespace quorlen::geometry
