/// \file light_factor.h  What multiplies a light's layer besides its mask: the shadows it casts and its spot
/// cone, from the whole frame's P.
#pragma once

#include <quorlen/node.h>
#include <quorlen/rig.h>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "DDImageHost/ImageBuffer.h"
#include "geometry/shadow_march.h"
#include "geometry/spot_cone.h"
#include "hosting/frames/frame_camera.h"

namespace quorlen::hosting {

class LightFactor {
 public:
  /// The factor of `light`, whose node holds its knobs at the frame; null when it has neither a shadow nor a
  /// spot. Throws a usage error naming `who` for a spot on a parallel light, an input error when shadows
  /// need a camera and none fits P.
  static std::unique_ptr<LightFactor> make(Node& node, const RigLight& light, FrameCamera& frame,
                                           std::string_view who);

  /// The factor at pixel (x, y) of the frame's data window: visibility times the cone, in float.
  float at(int x, int y) const;
  /// Multiplies red, green and blue of `out` by the factor, in place: the shadow's lattice pixels (see
  /// shadow_lattice.h) the band's pixels need marched first, then the lines; every pixel's value is a
  /// function of the pixel and the frame alone, so any split gives the same result.
  void apply(DD::Image::ImageBuffer& out) const;

 private:
  LightFactor(const FrameCamera& frame) : frame_(frame) {}
  /// The factor at pixel (i, j) of the frame's P, the shadow's lattice from `lattice`.
  float factor(int i, int j, const std::function<float(int, int)>& lattice) const;

  const FrameCamera& frame_;
  const geometry::DepthField* field_ = nullptr;
  std::optional<geometry::ShadowLight> shadow_;
  std::optional<geometry::SpotCone> spot_;
  geometry::Vec3 position_{};
};

/// The refusal of a spot on a parallel light.
std::string spot_on_parallel(std::string_view who);

/// Whether `light` needs the whole frame's P.
inline bool needs_frame_p(const RigLight* light) { return light && (light->shadow || light->spot); }

}  // namespace quorlen::hosting
