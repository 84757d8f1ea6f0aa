/// \file synthetic_scene.h  Spheres on a ground plane ray-cast through a chosen camera model: P and N as a
/// renderer writes them, with the true camera for comparison and ray-traced shadows for truth.
#pragma once

#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include "geometry/camera.h"

namespace quorlen::geometry::testing {

struct Sphere {
  Vec3 centre;
  double radius;
};

inline const std::vector<Sphere>& spheres() {
  static const std::vector<Sphere> s = {
      {{-1.6, 0.8, 6.5}, 0.8}, {{0.3, 1.1, 7.5}, 1.1}, {{1.9, 0.6, 5.8}, 0.6}};
  return s;
}

struct Hit {
  double t = INFINITY;
  Vec3 p{}, n{};
};

inline std::optional<Hit> cast(const Vec3& o, const Vec3& d) {
  Hit best;
  bool found = false;
  for (const Sphere& s : spheres()) {
    const Vec3 oc = o - s.centre;
    const double b = dot(oc, d), c = dot(oc, oc) - s.radius * s.radius, disc = b * b - c;
    if (disc < 0) continue;
    const double t = -b - std::sqrt(disc);
    if (t <= 1e-9 || t >= best.t) continue;
    best = {t, o + d * t, normalized(o + d * t - s.centre)};
    found = true;
  }
  if (d[1] < 0) {
    const double t = -o[1] / d[1];
    if (t > 0 && t < best.t && t < 40) {
      best = {t, o + d * t, {0, 1, 0}};
      found = true;
    }
  }
  if (!found) return std::nullopt;
  return best;
}

/// A camera model: the ray through image point (u, v) in pixels, or none.
using RayOf = std::function<std::optional<std::pair<Vec3, Vec3>>(double u, double v)>;

struct Passes {
  int width = 0, height = 0;
  std::vector<float> p, n;  ///< interleaved triples, top line first
};

/// Casts `supersample`^2 rays a pixel and averages their P and N (zero where a ray sees nothing), as a
/// renderer's filtered passes average across edges.
inline Passes render(int width, int height, const RayOf& ray, int supersample = 1) {
  Passes out{width, height, std::vector<float>(static_cast<std::size_t>(width) * height * 3, 0.0f),
             std::vector<float>(static_cast<std::size_t>(width) * height * 3, 0.0f)};
  const double share = 1.0 / (supersample * supersample);
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      Vec3 p{}, n{};
      for (int a = 0; a < supersample; ++a)
        for (int b = 0; b < supersample; ++b) {
          const auto r = ray(i + (a + 0.5) / supersample, j + (b + 0.5) / supersample);
          if (!r) continue;
          if (const auto hit = cast(r->first, r->second)) {
            p = p + hit->p * share;
            n = n + hit->n * share;
          }
        }
      const std::size_t k = (static_cast<std::size_t>(j) * width + i) * 3;
      for (std::size_t c = 0; c < 3; ++c) {
        out.p[k + c] = static_cast<float>(p[c]);
        out.n[k + c] = static_cast<float>(n[c]);
      }
    }
  return out;
}

/// A pinhole camera at `eye` looking at `target` (y up), horizontal field of view `fov` radians.
struct Pinhole {
  Vec3 eye{0.3, 1.9, -0.5}, target{0.1, 0.7, 6.8};
  double fov = 0.9;
  int width = 160, height = 90;

  std::array<Vec3, 3> axes() const {
    const Vec3 f = normalized(target - eye);
    const Vec3 r = normalized(cross({0, 1, 0}, f));
    return {r, cross(f, r), f};
  }
  RayOf rays() const {
    return [c = *this](double u, double v) -> std::optional<std::pair<Vec3, Vec3>> {
      const auto [r, up, f] = c.axes();
      const double hw = std::tan(c.fov / 2), hh = hw * c.height / c.width;
      const double sx = (2.0 * u / c.width - 1.0) * hw, sy = (1.0 - 2.0 * v / c.height) * hh;
      return std::make_pair(c.eye, normalized(f + r * sx + up * sy));
    };
  }
  /// Where the camera puts `x`, in pixels.
  std::array<double, 2> project(const Vec3& x) const {
    const auto [r, up, f] = axes();
    const Vec3 d = x - eye;
    const double hw = std::tan(fov / 2), hh = hw * height / width;
    const double z = dot(d, f);
    return {(dot(d, r) / z / hw + 1.0) * width / 2, (1.0 - dot(d, up) / z / hh) * height / 2};
  }
};

/// Ray-traced visibility of a point light from each pixel's P (1 lit, 0 shadowed; 1 without a surface).
inline std::vector<float> shadow_truth(const Passes& passes, const Vec3& light) {
  std::vector<float> out(static_cast<std::size_t>(passes.width) * passes.height, 1.0f);
  for (std::size_t k = 0; k < out.size(); ++k) {
    const Vec3 p{passes.p[k * 3], passes.p[k * 3 + 1], passes.p[k * 3 + 2]};
    if (p[0] == 0 && p[1] == 0 && p[2] == 0) continue;
    const Vec3 to = light - p;
    const double distance = length(to);
    const Vec3 d = to * (1.0 / distance);
    for (const Sphere& s : spheres()) {
      const Vec3 oc = p + d * 1e-6 - s.centre;
      const double b = dot(oc, d), c = dot(oc, oc) - s.radius * s.radius, disc = b * b - c;
      if (disc < 0) continue;
      const double t = -b - std::sqrt(disc);
      if (t > 1e-6 && t < distance) out[k] = 0.0f;
    }
  }
  return out;
}

}  // namespace quorlen::geometry::testing
