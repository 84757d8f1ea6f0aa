/// \file camera_fit.h  The camera recovered from P alone: which pixel sees which point.
#pragma once

#include <cmath>
#include <cstddef>
#include <optional>
#include <string>

#include "geometry/camera.h"

namespace quorlen::geometry {

/// A frame of three-float samples (positions or normals), lines from the top of the picture. Sample (i, j)
/// covers pixel (origin_x + i, origin_y + j) of the display window.
struct Grid3 {
  int width = 0;
  int height = 0;
  const float* data = nullptr;
  std::ptrdiff_t pixel_stride = 3;  ///< floats from one pixel to the next
  int origin_x = 0;
  int origin_y = 0;

  const float* at(int i, int j) const {
    return data + (static_cast<std::ptrdiff_t>(j) * width + i) * pixel_stride;
  }
};

/// Whether a sample of P shows a surface: finite and not all zero (renderers leave the background 0).
inline bool is_surface(const float* p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]) &&
         (p[0] != 0.0f || p[1] != 0.0f || p[2] != 0.0f);
}

struct CameraFit {
  std::optional<Camera> camera;  ///< none when no camera fits
  double residual = 0;      ///< RMS reprojection error in pixels: of the inliers when fitted, else of all
  long long points = 0;     ///< surface pixels the fit used, after edges were dropped
  double inlier_share = 0;  ///< of those, the share within kInlierPixels of the fitted camera
  std::string problem;      ///< why none fits, when none does
};

/// A pixel further than this from where the camera puts its P is an outlier.
inline constexpr double kInlierPixels = 1.0;
/// A camera is accepted when this share of the points are inliers and their RMS error is at most
/// kMaxResidual.
inline constexpr double kMinInlierShare = 0.95;
inline constexpr double kMaxResidual = 0.5;

/// Fits a pinhole camera (a 3 x 4 projection, normalised DLT then Gauss-Newton on the reprojection error),
/// or an orthographic one where the view has no perspective, to the surface pixels of `position`. Pixels
/// whose P jumps against a neighbour (anti-aliased and silhouette edges) are left out, and outliers are
/// rejected by their residual between rounds. `normals` (optional, in P's space, facing the camera) orient
/// an orthographic camera. Deterministic.
CameraFit fit_camera(const Grid3& position, const Grid3* normals = nullptr);

/// RMS reprojection error of `camera` over the surface pixels of `position` (edges left out as the fit
/// does), and the share within kInlierPixels: how well a camera from a header agrees with P.
CameraFit measure_camera(const Camera& camera, const Grid3& position);

}  // namespace quorlen::geometry
