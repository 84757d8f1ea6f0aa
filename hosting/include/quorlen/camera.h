/// \file camera.h  The camera that saw P, as a front end shows it: the words `render --dry-run` prints and
/// the projection, so that a position in P's space can be drawn on the picture.
#pragma once

#include <quorlen/inputs.h>

#include <array>
#include <string>

#include "DDImageHost/ImageBuffer.h"

namespace quorlen::hosting {

struct CameraReport {
  bool found = false;
  std::string projection;  ///< "pinhole" or "orthographic"; empty when none fits
  std::string origin;      ///< "fitted to P", "from the header of ...", or why the header's was set aside
  double residual = 0;     ///< RMS reprojection error in pixels
  long long points = 0;    ///< surface pixels measured
  /// The dry run's words after "camera  ": "pinhole fitted to P, 5.72e-06 px RMS from P over 9488 surface
  /// pixels", or "none: no camera fits P (...)".
  std::string line;
  /// Pinhole: u = r0.X / r2.X, v = r1.X / r2.X; orthographic: u = r0.X, v = r1.X; r2.X is the depth (> 0 in
  /// front). X = (x, y, z, 1) in P's space; u and v in pixels of the display window from its top left.
  std::array<std::array<double, 4>, 3> rows{};
};

/// The camera a rig session finds for P held in memory (red, green, blue over `geometry`'s data window):
/// fitted to it, as shadows use it.
CameraReport camera_of(const DD::Image::ImageBuffer& position, const ImageGeometry& geometry);

}  // namespace quorlen::hosting
