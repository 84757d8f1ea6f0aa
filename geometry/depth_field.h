/// \file depth_field.h  What the camera saw, as the shadow march needs it: for each pixel the depths at
/// which a point behind its surface counts as hidden, and a pyramid of their extremes over cells of 2^k
/// pixels so that a march skips empty stretches whole.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "geometry/camera.h"
#include "geometry/camera_fit.h"

namespace quorlen::geometry {

/// How thick surfaces are taken to be and how far a march keeps clear of its own surface. Unset values are
/// shares of each pixel's depth (orthographic: of half the scene's size), so they follow the scene's scale.
struct DepthRules {
  std::optional<double> thickness;  ///< P's units behind each visible surface
  std::optional<double> bias;       ///< P's units
  static constexpr double kRelativeThickness = 0.1;
  static constexpr double kRelativeBias = 0.002;
};

class DepthField {
 public:
  DepthField(const Camera& camera, const Grid3& position, const DepthRules& rules);

  int width() const { return width_; }
  int height() const { return height_; }
  int levels() const { return static_cast<int>(windows_.size()); }
  int level_width(int level) const { return widths_[static_cast<std::size_t>(level)]; }
  int level_height(int level) const { return heights_[static_cast<std::size_t>(level)]; }
  /// Depths are compared as keys, which grow with the depth and, along a segment of the picture, change
  /// linearly: -1 / depth for a pinhole camera, the depth itself for an orthographic one.
  double key(double depth) const { return orthographic_ ? depth : -1.0 / depth; }
  /// Of the pixels of cell (cx, cy) at `level`: the least key a point must exceed to be hidden by one of
  /// them, +inf without a surface.
  float near(int level, int cx, int cy) const { return window(level, cx, cy)[0]; }
  /// The greatest key at which one of them still hides a point, -inf without a surface.
  float far(int level, int cx, int cy) const { return window(level, cx, cy)[1]; }
  /// Both, side by side in memory.
  const std::array<float, 2>& window(int level, int cx, int cy) const {
    return windows_[static_cast<std::size_t>(level)][index(level, cx, cy)];
  }
  /// The depth the camera saw at pixel (i, j), +inf without a surface.
  float depth(int i, int j) const { return depth_[static_cast<std::size_t>(j) * width_ + i]; }
  /// The bias at pixel (i, j): how far along its shadow ray a march starts.
  double bias(int i, int j) const;
  /// What the defaults' shares are of at pixel (i, j): its depth (orthographic: half the scene's size).
  double scale(int i, int j) const { return relative_scale(i, j); }
  /// The diagonal of the surface pixels' bounding box and the least depth seen.
  double extent() const { return extent_; }
  double nearest_depth() const { return nearest_depth_; }

  /// Bytes a pixel of the field takes: its depth, and the two windows over a pyramid a third larger than
  /// its base, rounded up.
  static constexpr long long kBytesPerPixel = 4 + 11;

 private:
  std::size_t index(int level, int cx, int cy) const {
    return static_cast<std::size_t>(cy) * static_cast<std::size_t>(widths_[static_cast<std::size_t>(level)]) +
           static_cast<std::size_t>(cx);
  }

  double relative_scale(int i, int j) const;

  int width_ = 0, height_ = 0;
  DepthRules rules_;
  bool orthographic_ = false;
  std::vector<float> depth_;
  std::vector<std::vector<std::array<float, 2>>> windows_;
  std::vector<int> widths_, heights_;
  double extent_ = 0, nearest_depth_ = 0;
};

}  // namespace quorlen::geometry
