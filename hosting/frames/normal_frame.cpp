/// \file normal_frame.cpp  The normal input's decoding, flips, camera space and light space, in that order.
#include "hosting/frames/normal_frame.h"

#include <fmt/format.h>
#include <quorlen/errors.h>

#include <algorithm>

#include "geometry/normal_frames.h"
#include "hosting/frames/frame_camera.h"

namespace quorlen::hosting {

void read_normals(DD::Image::ImageBuffer& image, const DD::Image::Box& box, LightSpace space,
                  NormalEncoding encoding, const NormalFlip& flip, const std::optional<NormalAxes>& axes) {
  if (!axes && flip == NormalFlip{}) {
    transform_normals(image, box, space, encoding);
    return;
  }
  const DD::Image::Box area = box.intersected(image.box());
  transform_normals(image, area, LightSpace::node, encoding);
  const int red = image.channel_index(DD::Image::Chan_Red);
  for (int y = area.y(); y < area.t(); ++y)
    geometry::normals_to_world(&image.at(area.x(), y, red), static_cast<std::size_t>(std::max(0, area.w())),
                               image.channel_count(), flip, axes ? &*axes : nullptr);
  transform_normals(image, area, space, NormalEncoding::signed_values);
}

std::optional<NormalAxes> normal_axes(NormalSpace normal_space, const FrameCamera* camera) {
  if (normal_space == NormalSpace::world) return std::nullopt;
  constexpr std::string_view what = "--normal-space camera";
  if (!camera) throw usage_error(fmt::format("{}: no P input: the camera is found from P", what));
  camera->require(what);
  return camera->camera->axes();
}

}  // namespace quorlen::hosting
