/// \file camera.cpp  Projecting through the camera, and a camera from a projection matrix.
#include "geometry/camera.h"

#include <cmath>

namespace quorlen::geometry {
namespace {

double row_dot(const std::array<double, 4>& r, const Vec3& x) {
  return r[0] * x[0] + r[1] * x[1] + r[2] * x[2] + r[3];
}

Vec3 linear(const std::array<double, 4>& r) { return {r[0], r[1], r[2]}; }

}  // namespace

double Camera::depth(const Vec3& x) const { return row_dot(rows[2], x); }

Camera::Projected Camera::project(const Vec3& x) const {
  const double d = row_dot(rows[2], x);
  if (projection == Projection::orthographic) return {row_dot(rows[0], x), row_dot(rows[1], x), d};
  return {row_dot(rows[0], x) / d, row_dot(rows[1], x) / d, d};
}

std::array<Vec3, 3> Camera::axes() const {
  const Vec3 z = forward();
  // The picture's down and right, with the view's share removed (a pinhole's rows hold the principal point
  // times the view row).
  const Vec3 r1 = linear(rows[1]);
  const Vec3 down = normalized(r1 - z * dot(r1, z));
  const Vec3 r0 = linear(rows[0]);
  const Vec3 right = normalized(r0 - z * dot(r0, z) - down * dot(r0, down));
  return {right, down * -1.0, z};
}

std::optional<Camera> camera_from_projection(const std::array<std::array<double, 4>, 3>& m,
                                             const Vec3& inside, const std::optional<Vec3>& view) {
  for (const auto& r : m)
    for (double v : r)
      if (!std::isfinite(v)) return std::nullopt;
  Camera c;
  c.rows = m;
  const double image_scale = std::max(length(linear(m[0])), length(linear(m[1])));
  const double w_scale = length(linear(m[2]));
  if (!(image_scale > 0.0)) return std::nullopt;
  // A last row without a linear part leaves pixels independent of depth: an orthographic camera, whose
  // depth direction the rows cannot give.
  const double w_at = row_dot(m[2], inside);
  if (w_scale * length(inside) <= 1e-9 * std::abs(w_at) || w_scale == 0.0) {
    if (!(std::abs(w_at) > 0.0)) return std::nullopt;
    c.projection = Projection::orthographic;
    for (int r = 0; r < 2; ++r)
      for (double& v : c.rows[static_cast<std::size_t>(r)]) v /= w_at;
    Vec3 z = normalized(cross(linear(c.rows[0]), linear(c.rows[1])));
    if (length(z) == 0.0) return std::nullopt;
    if (view && dot(*view, z) < 0.0) z = z * -1.0;
    c.rows[2] = {z[0], z[1], z[2], -dot(z, inside)};
    // Depth 0 at `inside` would make every depth relative; only differences matter to an orthographic view.
    return c;
  }
  double s = 1.0 / w_scale;
  if (w_at < 0.0) s = -s;
  for (auto& r : c.rows)
    for (double& v : r) v *= s;
  return c;
}

std::optional<Camera> camera_from_matrices(const Matrix44& ndc,
                                           const std::optional<Matrix44>& world_to_camera, int width,
                                           int height, const Vec3& inside) {
  std::array<std::array<double, 4>, 3> m{};
  // Row vectors: the NDC x of (x y z 1) is its product with column 0, w with column 3.
  for (int k = 0; k < 4; ++k) {
    m[0][static_cast<std::size_t>(k)] = ndc[static_cast<std::size_t>(k)][0] * width;
    m[1][static_cast<std::size_t>(k)] = ndc[static_cast<std::size_t>(k)][1] * height;
    m[2][static_cast<std::size_t>(k)] = ndc[static_cast<std::size_t>(k)][3];
  }
  std::optional<Vec3> view;
  if (world_to_camera) {
    const auto& w = *world_to_camera;
    // Camera space looks along +z: the view direction in world space is the column giving camera z.
    view = normalized(Vec3{w[0][2], w[1][2], w[2][2]});
  }
  return camera_from_projection(m, inside, view);
}

}  // namespace quorlen::geometry
