/// \file demo_scene.cpp  Ray-tracing the demo scene's colour, normal and position passes.
#include "demo/demo_scene.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/images.h>

#include <array>
#include <cmath>
#include <limits>
#include <optional>

namespace quorlen::demo {

using namespace quorlen::hosting;
namespace {

struct Vec {
  double x = 0, y = 0, z = 0;
  Vec operator+(const Vec& o) const { return {x + o.x, y + o.y, z + o.z}; }
  Vec operator-(const Vec& o) const { return {x - o.x, y - o.y, z - o.z}; }
  Vec operator*(double s) const { return {x * s, y * s, z * s}; }
};

double dot(const Vec& a, const Vec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(const Vec& a, const Vec& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec normalized(const Vec& v) { return v * (1.0 / std::sqrt(dot(v, v))); }

enum class Pattern { bands, rings, solid };

struct Sphere {
  Vec center;
  double radius;
  Vec base;
  Vec accent;
  Pattern pattern;
};

// Spheres resting on the ground (y = 0), a few units in front of the camera.
const std::array<Sphere, 4> kSpheres = {{
    {{-1.75, 0.8, 6.6}, 0.8, {0.80, 0.22, 0.16}, {0.95, 0.75, 0.35}, Pattern::bands},
    {{0.15, 1.1, 7.4}, 1.1, {0.22, 0.42, 0.85}, {0.85, 0.88, 0.92}, Pattern::rings},
    {{1.85, 0.65, 6.0}, 0.65, {0.30, 0.70, 0.32}, {0.10, 0.25, 0.12}, Pattern::bands},
    {{0.55, 0.35, 4.9}, 0.35, {0.88, 0.80, 0.70}, {0.88, 0.80, 0.70}, Pattern::solid},
}};

const Vec kCamera{0.0, 1.7, 0.0};
const Vec kTarget{0.0, 0.75, 6.8};
constexpr double kHorizontalFov = 0.95;  // radians

struct Hit {
  double t = std::numeric_limits<double>::infinity();
  Vec position;
  Vec normal;
  Vec color;
};

Vec sphere_color(const Sphere& s, const Vec& n) {
  const double latitude = std::asin(std::fmax(-1.0, std::fmin(1.0, n.y)));
  const double longitude = std::atan2(n.x, n.z);
  switch (s.pattern) {
    case Pattern::bands:
      return std::fmod(latitude * 4.0 + 10.0, 1.0) < 0.5 ? s.base : s.accent;
    case Pattern::rings:
      return std::fmod(longitude * 3.0 / 3.14159265358979 + 10.0, 1.0) < 0.5 ? s.base : s.accent;
    case Pattern::solid:
      return s.base;
  }
  return s.base;
}

Vec ground_color(const Vec& p) {
  const long cell = std::lround(std::floor(p.x / 0.6)) + std::lround(std::floor(p.z / 0.6));
  return (cell & 1) ? Vec{0.62, 0.60, 0.56} : Vec{0.22, 0.23, 0.26};
}

std::optional<Hit> trace(const Vec& origin, const Vec& dir) {
  Hit best;
  bool found = false;
  for (const Sphere& s : kSpheres) {
    const Vec oc = origin - s.center;
    const double b = dot(oc, dir);
    const double c = dot(oc, oc) - s.radius * s.radius;
    const double disc = b * b - c;
    if (disc < 0) continue;
    const double t = -b - std::sqrt(disc);
    if (t <= 0 || t >= best.t) continue;
    best.t = t;
    best.position = origin + dir * t;
    best.normal = normalized(best.position - s.center);
    best.color = sphere_color(s, best.normal);
    found = true;
  }
  if (dir.y < 0) {
    const double t = -origin.y / dir.y;
    if (t > 0 && t < best.t && t < 60.0) {
      best.t = t;
      best.position = origin + dir * t;
      best.normal = {0, 1, 0};
      best.color = ground_color(best.position);
      found = true;
    }
  }
  if (!found) return std::nullopt;
  return best;
}

void store(std::vector<float>& v, std::size_t pixel, const Vec& value) {
  v[pixel * 3 + 0] = static_cast<float>(value.x);
  v[pixel * 3 + 1] = static_cast<float>(value.y);
  v[pixel * 3 + 2] = static_cast<float>(value.z);
}

}  // namespace

DemoPasses build_demo_scene(int width, int height) {
  DemoPasses passes;
  passes.width = width;
  passes.height = height;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
  passes.color.assign(count, 0.0f);
  passes.normal.assign(count, 0.0f);
  passes.position.assign(count, 0.0f);

  const Vec forward = normalized(kTarget - kCamera);
  const Vec right = normalized(cross({0, 1, 0}, forward));
  const Vec up = cross(forward, right);
  const double half_w = std::tan(kHorizontalFov / 2);
  const double half_h = half_w * height / width;
  for (int py = 0; py < height; ++py)
    for (int px = 0; px < width; ++px) {
      const double sx = (2.0 * (px + 0.5) / width - 1.0) * half_w;
      const double sy = (1.0 - 2.0 * (py + 0.5) / height) * half_h;
      const Vec dir = normalized(forward + right * sx + up * sy);
      const std::size_t pixel =
          static_cast<std::size_t>(py) * static_cast<std::size_t>(width) + static_cast<std::size_t>(px);
      if (const auto hit = trace(kCamera, dir)) {
        store(passes.color, pixel, hit->color);
        store(passes.normal, pixel, hit->normal);
        store(passes.position, pixel, hit->position);
      }
      // Sky stays zero in every pass: black even where the noise bends its zero normal into the light.
    }
  return passes;
}

std::vector<float> demo_shadow_truth(const DemoPasses& passes, const std::array<double, 3>& light,
                                     bool parallel) {
  const std::size_t pixels = static_cast<std::size_t>(passes.width) * static_cast<std::size_t>(passes.height);
  std::vector<float> visible(pixels, 1.0f);
  const Vec l{light[0], light[1], light[2]};
  for (std::size_t i = 0; i < pixels; ++i) {
    const Vec p{passes.position[i * 3], passes.position[i * 3 + 1], passes.position[i * 3 + 2]};
    if (p.x == 0 && p.y == 0 && p.z == 0) continue;
    const Vec to = parallel ? l : l - p;
    const double distance = parallel ? std::numeric_limits<double>::infinity() : std::sqrt(dot(to, to));
    const Vec dir = normalized(to);
    // Started off the surface by a hair, so a sphere does not hide its own lit side.
    const Vec origin = p + dir * 1e-6;
    for (const Sphere& s : kSpheres) {
      const Vec oc = origin - s.center;
      const double b = dot(oc, dir);
      const double disc = b * b - (dot(oc, oc) - s.radius * s.radius);
      if (disc < 0) continue;
      const double t = -b - std::sqrt(disc);
      const double t_far = -b + std::sqrt(disc);
      // A ray from the far side of a sphere passes through it: its own sphere shades it.
      if ((t > 0 && t < distance) || (t <= 0 && t_far > 1e-6 && t_far < distance)) visible[i] = 0.0f;
    }
  }
  return visible;
}

void write_demo_passes(const DemoPasses& passes, const std::string& path) {
  const DD::Image::Box box(0, 0, passes.width, passes.height);
  const std::size_t pixels = static_cast<std::size_t>(passes.width) * static_cast<std::size_t>(passes.height);
  std::vector<float> data(pixels * 9);
  for (std::size_t i = 0; i < pixels; ++i)
    for (std::size_t k = 0; k < 3; ++k) {
      data[i * 9 + k] = passes.color[i * 3 + k];
      data[i * 9 + 3 + k] = passes.normal[i * 3 + k];
      data[i * 9 + 6 + k] = passes.position[i * 3 + k];
    }
  hosting::write_channels(path, hosting::ImageGeometry{box, box},
                          {"R", "G", "B", "N.X", "N.Y", "N.Z", "P.X", "P.Y", "P.Z"}, data);
}

}  // namespace quorlen::demo
