/// \file camera.h  The camera that saw the passes: a pinhole or orthographic projection from P's space to
/// pixels, and the depth along its view.
#pragma once

#include <array>
#include <cmath>
#include <optional>
#include <string>

namespace quorlen::geometry {

using Vec3 = std::array<double, 3>;
/// A 4 x 4 matrix as OpenEXR stores one: points are rows multiplied on the left, (x y z 1) M.
using Matrix44 = std::array<std::array<double, 4>, 4>;

enum class Projection { pinhole, orthographic };

/// Pixel coordinates are those of the display window with y down, pixel (i, j) covering [i, i + 1) x
/// [j, j + 1), its centre at i + 0.5, j + 0.5.
struct Camera {
  Projection projection = Projection::pinhole;
  /// Pinhole: u = r0.X / r2.X, v = r1.X / r2.X with X = (x, y, z, 1). Orthographic: u = r0.X, v = r1.X.
  /// In both, r2.X is the depth: the distance along the view direction, which r2's first three hold as a
  /// unit vector, so depths are in P's units and grow away from the camera.
  std::array<std::array<double, 4>, 3> rows{};

  struct Projected {
    double u = 0, v = 0, depth = 0;
  };
  /// Pixel position and depth of `x`; u and v are meaningless for a pinhole camera when depth <= 0.
  Projected project(const Vec3& x) const;
  double depth(const Vec3& x) const;
  /// The unit view direction.
  Vec3 forward() const { return {rows[2][0], rows[2][1], rows[2][2]}; }
  /// The camera's axes in P's space, as columns: x to the right of the picture, y up, z along the view
  /// (the camera space of OpenEXR's worldToCamera). Normals in camera space become P's by this rotation.
  std::array<Vec3, 3> axes() const;
};

/// Scales and signs a fitted or given projection into Camera's form: r2 made of unit length and pointing
/// so that `inside`, a point the camera saw, has a positive depth. Orthographic when the 3 x 4 matrix's
/// last row is (0 0 0 w); then `view` (towards the scene) gives the depth direction.
std::optional<Camera> camera_from_projection(const std::array<std::array<double, 4>, 3>& m,
                                             const Vec3& inside,
                                             const std::optional<Vec3>& view = std::nullopt);

/// The camera of OpenEXR's worldToNDC (and worldToCamera when present) for a display window of
/// `width` x `height` pixels; `inside` as above. None when the matrices describe no usable camera.
std::optional<Camera> camera_from_matrices(const Matrix44& world_to_ndc,
                                           const std::optional<Matrix44>& world_to_camera, int width,
                                           int height, const Vec3& inside);

inline double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec3 operator+(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec3 operator*(const Vec3& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
inline double length(const Vec3& a) { return std::sqrt(dot(a, a)); }
/// `a` of unit length; zero stays zero.
inline Vec3 normalized(const Vec3& a) {
  const double l = length(a);
  return l > 0.0 ? a * (1.0 / l) : a;
}

}  // namespace quorlen::geometry
