/// \file frame_camera.h  What needs the whole frame's P at once: the camera that saw it (from the header,
/// else fitted) and the depth fields shadows march through.
#pragma once

#include <quorlen/inputs.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "DDImageHost/ImageBuffer.h"
#include "geometry/camera_fit.h"
#include "geometry/depth_field.h"

namespace quorlen::hosting {

struct FrameCamera {
  explicit FrameCamera(const DD::Image::Box& box)
      : position(box, {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue}) {}

  DD::Image::ImageBuffer position;  ///< P over the output's data window, red green blue
  geometry::Grid3 grid;             ///< views `position`
  std::optional<geometry::Camera> camera;
  std::string origin;  ///< where the camera came from, for reports
  geometry::CameraFit fit;

  /// The depth field for `rules`, made on first use and kept for the frame's other lights.
  const geometry::DepthField& field(const geometry::DepthRules& rules);

  /// "camera  pinhole from the header of "shot.exr" (worldToNDC), 0.003 px from P", or why none fits.
  std::string describe() const;
  /// Throws an input error saying that no camera fits P and giving the residual, unless one does.
  void require(std::string_view what) const;

 private:
  std::map<std::pair<double, double>, std::unique_ptr<geometry::DepthField>> fields_;
};

/// Bytes a pixel of the frame takes for P and `fields` depth fields.
long long frame_camera_pixel_bytes(int fields);

/// Reads the P input whole over `geometry`'s data window and finds its camera: the P file's worldToNDC
/// (with worldToCamera) when its header holds one and it agrees with P, else one fitted to P; the normal
/// input, in world space, says which way an orthographic camera looks.
std::unique_ptr<FrameCamera> frame_camera(const FrameSources& sources, const ImageGeometry& geometry);

/// The same for P held in memory (red, green, blue over `geometry`'s data window), which has no header: the
/// camera is fitted.
std::unique_ptr<FrameCamera> frame_camera_of(const DD::Image::ImageBuffer& position,
                                             const ImageGeometry& geometry);

}  // namespace quorlen::hosting
