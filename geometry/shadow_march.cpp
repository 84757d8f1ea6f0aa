/// \file shadow_march.cpp  Marching shadow rays through the depth pyramid.
#include "geometry/shadow_march.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorlen::geometry {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kGoldenAngle = 2.39996322972865332;

// Whether the segment a -> b is blocked anywhere in the field.
bool blocked(const Camera& camera, const DepthField& field, const Grid3& grid, Vec3 a, Vec3 b) {
  const bool pinhole = camera.projection == Projection::pinhole;
  double da = camera.depth(a), db = camera.depth(b);
  if (pinhole) {
    // Behind the near plane the camera saw nothing.
    const double near = 1e-3 * field.nearest_depth();
    if (da < near && db < near) return false;
    if (db < near) {
      b = a + (b - a) * ((da - near) / (da - db));
      db = near;
    } else if (da < near) {
      a = b + (a - b) * ((db - near) / (db - da));
      da = near;
    }
  }
  const Camera::Projected pa = camera.project(a), pb = camera.project(b);
  const double u0 = pa.u - grid.origin_x, v0 = pa.v - grid.origin_y;
  const double du = pb.u - pa.u, dv = pb.v - pa.v;
  // The part of the screen segment inside the frame (Liang-Barsky).
  double s0 = 0.0, s1 = 1.0;
  const auto clip = [&](double p, double q) {
    if (p == 0.0) return q >= 0.0;
    const double r = q / p;
    if (p < 0.0) {
      if (r > s1) return false;
      s0 = std::max(s0, r);
    } else {
      if (r < s0) return false;
      s1 = std::min(s1, r);
    }
    return true;
  };
  const double w = field.width(), h = field.height();
  if (!clip(-du, u0) || !clip(du, w - u0) || !clip(-dv, v0) || !clip(dv, h - v0) || s0 >= s1) return false;
  // The depth key is linear along the screen segment.
  const double ka = field.key(da), kd = field.key(db) - ka;
  const double rdu = du != 0.0 ? 1.0 / du : 0.0, rdv = dv != 0.0 ? 1.0 / dv : 0.0;
  const double screen = std::hypot(du, dv);
  const double nudge = screen > 0.0 ? 1e-6 / screen : 1.0;
  const int top = field.levels() - 1;
  int level = 0;
  double s = s0;
  while (s < s1) {
    const double gx = u0 + s * du, gy = v0 + s * dv;
    const int size = 1 << level;
    const double inverse = 1.0 / size;  // a power of two: exact
    // gx and gy lie within the frame, so truncation is the floor; the far edge belongs to the last cell.
    const int cx = std::clamp(static_cast<int>(gx * inverse), 0, field.level_width(level) - 1);
    const int cy = std::clamp(static_cast<int>(gy * inverse), 0, field.level_height(level) - 1);
    double exit = s1;
    if (du > 0.0) exit = std::min(exit, ((cx + 1.0) * size - u0) * rdu);
    if (du < 0.0) exit = std::min(exit, (cx * static_cast<double>(size) - u0) * rdu);
    if (dv > 0.0) exit = std::min(exit, ((cy + 1.0) * size - v0) * rdv);
    if (dv < 0.0) exit = std::min(exit, (cy * static_cast<double>(size) - v0) * rdv);
    exit = std::max(exit, s);
    const double za = ka + s * kd, zb = ka + exit * kd;
    const double lo = std::min(za, zb), hi = std::max(za, zb);
    // The key is linear along the segment, so its ends bound the cell's stretch.
    const std::array<float, 2>& window = field.window(level, cx, cy);
    if (hi <= window[0] || lo >= window[1]) {
      s = exit + nudge;
      if (level < top) ++level;
      continue;
    }
    if (level == 0) return true;
    --level;
  }
  return false;
}

// Two unit vectors across `d`.
void basis(const Vec3& d, Vec3& e1, Vec3& e2) {
  const Vec3 helper = std::abs(d[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
  e1 = normalized(cross(d, helper));
  e2 = cross(d, e1);
}

// A turn of the sample pattern that changes from pixel to pixel without a visible structure.
double turn(int i, int j) {
  const double f = 0.06711056 * i + 0.00583715 * j;
  const double g = 52.9829189 * (f - std::floor(f));
  return 2.0 * kPi * (g - std::floor(g));
}

}  // namespace

float visibility(const Camera& camera, const DepthField& field, const Grid3& position,
                 const ShadowLight& light, int i, int j) {
  const float* p = position.at(i, j);
  if (!is_surface(p) || !std::isfinite(field.depth(i, j))) return 1.0f;
  const Vec3 x{p[0], p[1], p[2]};
  const double bias = field.bias(i, j);
  const bool soft = light.point ? light.size > 0.0 : light.angle > 0.0;
  const int samples = soft ? std::max(1, light.samples) : 1;
  Vec3 centre = light.point ? light.position - x : normalized(light.direction);
  const double reach = light.point ? length(centre) : 0.0;
  if (light.point && !(reach > 0.0)) return 1.0f;
  const Vec3 toward = normalized(centre);
  Vec3 e1{}, e2{};
  if (soft) basis(toward, e1, e2);
  const double spin = soft ? turn(position.origin_x + i, position.origin_y + j) : 0.0;
  const double spread = light.point ? 0.5 * light.size : std::tan(0.5 * light.angle * kPi / 180.0);
  // A parallel light's rays go on until they leave the frame; this long is beyond any surface seen.
  const double far =
      light.max_distance ? *light.max_distance : 4.0 * (field.extent() + field.nearest_depth());
  int open = 0;
  for (int k = 0; k < samples; ++k) {
    Vec3 d = toward;
    double to_light = reach;
    if (soft) {
      const double r = std::sqrt((k + 0.5) / samples) * spread;
      const double a = k * kGoldenAngle + spin;
      const Vec3 offset = e1 * (r * std::cos(a)) + e2 * (r * std::sin(a));
      if (light.point) {
        const Vec3 target = light.position + offset - x;
        to_light = length(target);
        d = normalized(target);
      } else {
        d = normalized(toward + offset);
      }
    }
    double end = light.point ? to_light : far;
    if (light.max_distance) end = std::min(end, *light.max_distance);
    if (end <= bias) {
      ++open;
      continue;
    }
    if (!blocked(camera, field, position, x + d * bias, x + d * end)) ++open;
  }
  return static_cast<float>(open) / static_cast<float>(samples);
}

}  // namespace quorlen::geometry
