/// \file depth_field.cpp  Depths seen, the window in which each pixel hides a point, and their pyramid.
#include "geometry/depth_field.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorlen::geometry {

DepthField::DepthField(const Camera& camera, const Grid3& position, const DepthRules& rules)
    : width_(position.width),
      height_(position.height),
      rules_(rules),
      orthographic_(camera.projection == Projection::orthographic) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const std::size_t count = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
  depth_.assign(count, kInf);
  // Lines side by side; each line's extremes kept apart and combined after, which min and max allow in any
  // order.
  struct Extremes {
    Vec3 lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
    double nearest = INFINITY;
  };
  std::vector<Extremes> lines(static_cast<std::size_t>(std::max(0, height_)));
  tbb::parallel_for(0, height_, [&](int j) {
    Extremes& e = lines[static_cast<std::size_t>(j)];
    for (int i = 0; i < width_; ++i) {
      const float* p = position.at(i, j);
      if (!is_surface(p)) continue;
      const Vec3 x{p[0], p[1], p[2]};
      const double d = camera.depth(x);
      if (!(d > 0.0) && camera.projection == Projection::pinhole) continue;
      depth_[static_cast<std::size_t>(j) * width_ + i] = static_cast<float>(d);
      e.nearest = std::min(e.nearest, d);
      for (std::size_t k = 0; k < 3; ++k) {
        e.lo[k] = std::min(e.lo[k], x[k]);
        e.hi[k] = std::max(e.hi[k], x[k]);
      }
    }
  });
  Vec3 lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
  nearest_depth_ = INFINITY;
  for (const Extremes& e : lines) {
    nearest_depth_ = std::min(nearest_depth_, e.nearest);
    for (std::size_t k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], e.lo[k]);
      hi[k] = std::max(hi[k], e.hi[k]);
    }
  }
  extent_ = std::isfinite(lo[0]) ? length(hi - lo) : 0.0;
  if (!std::isfinite(nearest_depth_)) nearest_depth_ = 0.0;

  // A pixel hides what lies more than the bias (plus the depth its surface changes over one pixel, so a
  // sloped surface does not shadow itself) and less than the thickness behind it.
  std::vector<float> near0(count, kInf), far0(count, -kInf);
  const auto at = [&](int i, int j) {
    if (i < 0 || j < 0 || i >= width_ || j >= height_) return kInf;
    return depth_[static_cast<std::size_t>(j) * width_ + i];
  };
  tbb::parallel_for(0, height_, [&](int j) {
    for (int i = 0; i < width_; ++i) {
      const float d = at(i, j);
      if (!std::isfinite(d)) continue;
      // The smaller step of each axis: across a silhouette one side still continues the surface.
      const float sx = std::min(std::abs(d - at(i - 1, j)), std::abs(d - at(i + 1, j)));
      const float sy = std::min(std::abs(d - at(i, j - 1)), std::abs(d - at(i, j + 1)));
      float slope = std::max(std::isfinite(sx) ? sx : 0.0f, std::isfinite(sy) ? sy : 0.0f);
      const double dd = d;
      const double thickness =
          rules_.thickness ? *rules_.thickness : DepthRules::kRelativeThickness * relative_scale(i, j);
      const std::size_t k = static_cast<std::size_t>(j) * width_ + i;
      const double near = dd + bias(i, j) + slope;
      near0[k] = static_cast<float>(key(near));
      far0[k] = static_cast<float>(key(std::max(near, dd + thickness)));
    }
  });
  const auto keep = [&](const std::vector<float>& n, const std::vector<float>& f) {
    std::vector<std::array<float, 2>> both(n.size());
    tbb::parallel_for(std::size_t{0}, n.size(), [&](std::size_t k) { both[k] = {n[k], f[k]}; });
    windows_.push_back(std::move(both));
  };
  keep(near0, far0);
  std::vector<float> pn = std::move(near0), pf = std::move(far0);
  widths_.push_back(width_);
  heights_.push_back(height_);
  while (widths_.back() > 1 || heights_.back() > 1) {
    const int pw = widths_.back(), ph = heights_.back();
    const int w = (pw + 1) / 2, h = (ph + 1) / 2;
    std::vector<float> n(static_cast<std::size_t>(w) * h, kInf), f(static_cast<std::size_t>(w) * h, -kInf);
    tbb::parallel_for(0, h, [&](int row) {
      for (int y = 2 * row; y < std::min(ph, 2 * row + 2); ++y)
        for (int x = 0; x < pw; ++x) {
          const std::size_t from = static_cast<std::size_t>(y) * pw + x;
          const std::size_t to = static_cast<std::size_t>(row) * w + x / 2;
          n[to] = std::min(n[to], pn[from]);
          f[to] = std::max(f[to], pf[from]);
        }
    });
    keep(n, f);
    pn = std::move(n);
    pf = std::move(f);
    widths_.push_back(w);
    heights_.push_back(h);
  }
}

double DepthField::bias(int i, int j) const {
  if (rules_.bias) return *rules_.bias;
  return DepthRules::kRelativeBias * relative_scale(i, j);
}

double DepthField::relative_scale(int i, int j) const {
  const double d = depth(i, j);
  if (!std::isfinite(d)) return 0.0;
  // An orthographic depth has no natural origin; half the scene's size stands in for the distance.
  return orthographic_ ? 0.5 * extent_ : d;
}

}  // namespace quorlen::geometry
