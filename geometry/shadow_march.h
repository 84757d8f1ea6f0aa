/// \file shadow_march.h  How much of a light a pixel sees: rays from its P towards the light, marched
/// through the camera's image and tested against the depths the camera saw.
#pragma once

#include <optional>

#include "geometry/camera.h"
#include "geometry/camera_fit.h"
#include "geometry/depth_field.h"

namespace quorlen::geometry {

struct ShadowLight {
  bool point = true;
  Vec3 position{};   ///< a point light's position in P's space
  Vec3 direction{};  ///< a parallel light's direction towards the light in P's space
  double size = 0;   ///< a point light's diameter in P's units: 0 casts hard shadows
  double angle = 0;  ///< a parallel light's angular diameter in degrees: 0 casts hard shadows
  int samples = 16;  ///< rays a pixel when the light has a size
  std::optional<double> max_distance = std::nullopt;  ///< how far from the surface occluders are looked for
};

/// The share of the light's rays from pixel (i, j) of `position` that reach it, 0 to 1: 1 without a surface.
/// A ray is blocked where, at a pixel it crosses, its depth lies in that pixel's window of the field (behind
/// the seen surface by more than the bias and less than the thickness). A ray stops at the frame's edge, the
/// camera's near plane and the light: what the camera did not see casts nothing. A function of the pixel
/// and the whole frame alone, and the soft rays a fixed pattern turned by the pixel's position, so any split
/// of the work gives the same result.
float visibility(const Camera& camera, const DepthField& field, const Grid3& position,
                 const ShadowLight& light, int i, int j);

}  // namespace quorlen::geometry
