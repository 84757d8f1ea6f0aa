/// \file camera_fit.cpp  Resectioning the camera from P: edges dropped, a normalised DLT with outliers
/// rejected between rounds, refined by Gauss-Newton on the reprojection error.
#include "geometry/camera_fit.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/linear_algebra.h"

namespace quorlen::geometry {
namespace {

struct Point {
  Vec3 x;
  double u = 0, v = 0;
};

using Rows = std::array<std::array<double, 4>, 3>;

Vec3 vec(const float* p) { return {p[0], p[1], p[2]}; }

double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), mid, values.end());
  return *mid;
}

// Surface pixels inside a surface: their four neighbours show surface too, and P is close to the middle of
// each opposite pair, which a pixel blending two surfaces at an edge is not.
std::vector<Point> fit_points(const Grid3& g) {
  std::vector<Point> points;
  std::vector<double> jumps;
  // A regular lattice of about 40000 pixels is plenty for twelve unknowns, whatever the frame's size.
  const int step =
      std::max(1, static_cast<int>(std::sqrt(static_cast<double>(g.width) * g.height / 40000.0)));
  for (int j = 1; j + 1 < g.height; j += step)
    for (int i = 1; i + 1 < g.width; i += step) {
      const float* p = g.at(i, j);
      if (!is_surface(p)) continue;
      const float* n[4] = {g.at(i - 1, j), g.at(i + 1, j), g.at(i, j - 1), g.at(i, j + 1)};
      if (!is_surface(n[0]) || !is_surface(n[1]) || !is_surface(n[2]) || !is_surface(n[3])) continue;
      const Vec3 x = vec(p);
      bool smooth = true;
      double jump = 0.0;
      for (int pair = 0; pair < 2 && smooth; ++pair) {
        const Vec3 a = vec(n[2 * pair]), b = vec(n[2 * pair + 1]);
        const double span = length(b - a);
        smooth = length(x - (a + b) * 0.5) <= 0.25 * span + 1e-7 * length(x);
        jump = std::max(jump, span);
      }
      if (!smooth) continue;
      points.push_back({x, g.origin_x + i + 0.5, g.origin_y + j + 0.5});
      jumps.push_back(jump);
    }
  // A pixel spanning far more than most is a silhouette's, whatever its midpoint.
  const double typical = median(jumps);
  std::vector<Point> kept;
  for (std::size_t k = 0; k < points.size(); ++k)
    if (jumps[k] <= 20.0 * typical) kept.push_back(points[k]);
  // Enough points for a stable fit; the same ones whatever the machine.
  constexpr std::size_t kMost = 10000;
  if (kept.size() > kMost) {
    const std::size_t step = (kept.size() + kMost - 1) / kMost;
    std::vector<Point> fewer;
    for (std::size_t k = 0; k < kept.size(); k += step) fewer.push_back(kept[k]);
    kept.swap(fewer);
  }
  return kept;
}

// Points moved to their centroid and scaled to an average distance of sqrt(3) (pixels: sqrt(2)), which
// keeps the DLT's normal equations well conditioned.
struct Normalised {
  std::vector<Point> points;
  Vec3 centre{};
  double world_scale = 1, cu = 0, cv = 0, image_scale = 1;
};

Normalised normalise(const std::vector<Point>& points) {
  Normalised n;
  const double count = static_cast<double>(points.size());
  for (const Point& p : points) {
    n.centre = n.centre + p.x * (1.0 / count);
    n.cu += p.u / count;
    n.cv += p.v / count;
  }
  double dw = 0, di = 0;
  for (const Point& p : points) {
    dw += length(p.x - n.centre) / count;
    di += std::hypot(p.u - n.cu, p.v - n.cv) / count;
  }
  n.world_scale = dw > 0 ? std::sqrt(3.0) / dw : 1.0;
  n.image_scale = di > 0 ? std::sqrt(2.0) / di : 1.0;
  for (const Point& p : points)
    n.points.push_back(
        {(p.x - n.centre) * n.world_scale, (p.u - n.cu) * n.image_scale, (p.v - n.cv) * n.image_scale});
  return n;
}

// Back to P's units and pixels: P = Ti^-1 Pn Tw.
Rows denormalise(const Rows& pn, const Normalised& n) {
  Rows tw{};  // Pn Tw, Tw = [s I, -s c]
  for (int r = 0; r < 3; ++r) {
    const auto& row = pn[static_cast<std::size_t>(r)];
    auto& out = tw[static_cast<std::size_t>(r)];
    for (int k = 0; k < 3; ++k)
      out[static_cast<std::size_t>(k)] = row[static_cast<std::size_t>(k)] * n.world_scale;
    out[3] = row[3] - n.world_scale * (row[0] * n.centre[0] + row[1] * n.centre[1] + row[2] * n.centre[2]);
  }
  Rows p{};
  for (int k = 0; k < 4; ++k) {
    const auto kk = static_cast<std::size_t>(k);
    p[0][kk] = tw[0][kk] / n.image_scale + n.cu * tw[2][kk];
    p[1][kk] = tw[1][kk] / n.image_scale + n.cv * tw[2][kk];
    p[2][kk] = tw[2][kk];
  }
  return p;
}

double row_dot(const std::array<double, 4>& r, const Vec3& x) {
  return r[0] * x[0] + r[1] * x[1] + r[2] * x[2] + r[3];
}

// Reprojection error in normalised pixels.
double error_of(const Rows& m, const Point& p, bool affine) {
  const double w = affine ? 1.0 : row_dot(m[2], p.x);
  if (!(std::abs(w) > 0.0)) return INFINITY;
  return std::hypot(row_dot(m[0], p.x) / w - p.u, row_dot(m[1], p.x) / w - p.v);
}

Rows from_vector(const std::vector<double>& p) {
  Rows m{};
  for (int k = 0; k < 12; ++k)
    m[static_cast<std::size_t>(k / 4)][static_cast<std::size_t>(k % 4)] = p[static_cast<std::size_t>(k)];
  return m;
}

std::vector<double> to_vector(const Rows& m) {
  std::vector<double> p(12);
  for (int k = 0; k < 12; ++k)
    p[static_cast<std::size_t>(k)] = m[static_cast<std::size_t>(k / 4)][static_cast<std::size_t>(k % 4)];
  return p;
}

Rows dlt(const std::vector<Point>& pts, const std::vector<char>& use) {
  std::vector<double> ata(144, 0.0);
  for (std::size_t k = 0; k < pts.size(); ++k) {
    if (!use[k]) continue;
    const Point& p = pts[k];
    const double xh[4] = {p.x[0], p.x[1], p.x[2], 1.0};
    double a[12] = {}, b[12] = {};
    for (int i = 0; i < 4; ++i) {
      a[i] = xh[i];
      a[8 + i] = -p.u * xh[i];
      b[4 + i] = xh[i];
      b[8 + i] = -p.v * xh[i];
    }
    for (int r = 0; r < 12; ++r)
      for (int c = 0; c < 12; ++c) ata[static_cast<std::size_t>(r * 12 + c)] += a[r] * a[c] + b[r] * b[c];
  }
  const SymmetricEigen e = symmetric_eigen(ata, 12);
  std::vector<double> p(12);
  for (int r = 0; r < 12; ++r) p[static_cast<std::size_t>(r)] = e.vectors[static_cast<std::size_t>(r * 12)];
  return from_vector(p);
}

// Each image coordinate an affine function of the position: least squares, one row at a time.
Rows affine_fit(const std::vector<Point>& pts, const std::vector<char>& use) {
  Rows m{};
  m[2] = {0, 0, 0, 1};
  for (int row = 0; row < 2; ++row) {
    std::vector<double> ata(16, 0.0), atb(4, 0.0);
    for (std::size_t k = 0; k < pts.size(); ++k) {
      if (!use[k]) continue;
      const double xh[4] = {pts[k].x[0], pts[k].x[1], pts[k].x[2], 1.0};
      const double target = row == 0 ? pts[k].u : pts[k].v;
      for (int r = 0; r < 4; ++r) {
        atb[static_cast<std::size_t>(r)] += xh[r] * target;
        for (int c = 0; c < 4; ++c) ata[static_cast<std::size_t>(r * 4 + c)] += xh[r] * xh[c];
      }
    }
    if (solve_linear(ata, atb, 4))
      for (int k = 0; k < 4; ++k)
        m[static_cast<std::size_t>(row)][static_cast<std::size_t>(k)] = atb[static_cast<std::size_t>(k)];
  }
  return m;
}

// Gauss-Newton with a little damping on the reprojection error; the projection's scale is free, so the
// vector is kept at unit length.
Rows refine(Rows m, const std::vector<Point>& pts, const std::vector<char>& use) {
  const auto cost = [&](const Rows& r) {
    double c = 0;
    for (std::size_t k = 0; k < pts.size(); ++k)
      if (use[k]) {
        const double e = error_of(r, pts[k], false);
        c += e * e;
      }
    return c;
  };
  double current = cost(m);
  double damping = 1e-6;
  for (int iteration = 0; iteration < 8; ++iteration) {
    std::vector<double> jtj(144, 0.0), jtr(12, 0.0);
    for (std::size_t k = 0; k < pts.size(); ++k) {
      if (!use[k]) continue;
      const Point& p = pts[k];
      const double xh[4] = {p.x[0], p.x[1], p.x[2], 1.0};
      const double a = row_dot(m[0], p.x), b = row_dot(m[1], p.x), w = row_dot(m[2], p.x);
      double ju[12] = {}, jv[12] = {};
      for (int i = 0; i < 4; ++i) {
        ju[i] = xh[i] / w;
        ju[8 + i] = -a / (w * w) * xh[i];
        jv[4 + i] = xh[i] / w;
        jv[8 + i] = -b / (w * w) * xh[i];
      }
      const double ru = a / w - p.u, rv = b / w - p.v;
      for (int r = 0; r < 12; ++r) {
        jtr[static_cast<std::size_t>(r)] += ju[r] * ru + jv[r] * rv;
        for (int c = 0; c < 12; ++c)
          jtj[static_cast<std::size_t>(r * 12 + c)] += ju[r] * ju[c] + jv[r] * jv[c];
      }
    }
    double trace = 0;
    for (int r = 0; r < 12; ++r) trace += jtj[static_cast<std::size_t>(r * 13)];
    bool improved = false;
    for (int attempt = 0; attempt < 6 && !improved; ++attempt) {
      std::vector<double> a = jtj, step = jtr;
      for (int r = 0; r < 12; ++r) a[static_cast<std::size_t>(r * 13)] += damping * trace / 12.0;
      if (!solve_linear(a, step, 12)) {
        damping *= 10;
        continue;
      }
      std::vector<double> p = to_vector(m);
      double norm = 0;
      for (int k = 0; k < 12; ++k) {
        p[static_cast<std::size_t>(k)] -= step[static_cast<std::size_t>(k)];
        norm += p[static_cast<std::size_t>(k)] * p[static_cast<std::size_t>(k)];
      }
      for (double& v : p) v /= std::sqrt(norm);
      const Rows next = from_vector(p);
      const double c = cost(next);
      if (c < current) {
        m = next;
        current = c;
        damping = std::max(1e-9, damping / 10);
        improved = true;
      } else {
        damping *= 10;
      }
    }
    if (!improved) break;
  }
  return m;
}

struct Errors {
  double rms_inliers = 0, rms_all = 0, share = 0;
};

Errors errors_of(const std::vector<double>& pixels) {
  Errors e;
  double in = 0, all = 0;
  long long count = 0;
  for (double d : pixels) {
    all += d * d;
    if (d <= kInlierPixels) {
      in += d * d;
      ++count;
    }
  }
  e.share = pixels.empty() ? 0.0 : static_cast<double>(count) / static_cast<double>(pixels.size());
  e.rms_inliers = count ? std::sqrt(in / static_cast<double>(count)) : INFINITY;
  e.rms_all = pixels.empty() ? 0.0 : std::sqrt(all / static_cast<double>(pixels.size()));
  return e;
}

// The view direction towards the scene: the one most normals face against.
std::optional<Vec3> view_from_normals(const Rows& m, const Grid3* normals) {
  if (!normals) return std::nullopt;
  const Vec3 z = normalized(cross({m[0][0], m[0][1], m[0][2]}, {m[1][0], m[1][1], m[1][2]}));
  long long against = 0, along = 0;
  for (int j = 0; j < normals->height; ++j)
    for (int i = 0; i < normals->width; ++i) {
      const float* n = normals->at(i, j);
      const double d = dot(z, vec(n));
      if (d < 0) ++against;
      if (d > 0) ++along;
    }
  return along > against ? z * -1.0 : z;
}

}  // namespace

CameraFit fit_camera(const Grid3& position, const Grid3* normals) {
  CameraFit fit;
  const std::vector<Point> raw = fit_points(position);
  fit.points = static_cast<long long>(raw.size());
  if (raw.size() < 12) {
    fit.problem = fmt::format("P holds {} usable surface pixels, too few to fix a camera", raw.size());
    return fit;
  }
  const Normalised n = normalise(raw);
  // A camera needs depth: points on one plane fit any number of cameras.
  std::vector<double> cov(9, 0.0);
  for (const Point& p : n.points)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c)
        cov[static_cast<std::size_t>(r * 3 + c)] +=
            p.x[static_cast<std::size_t>(r)] * p.x[static_cast<std::size_t>(c)];
  const SymmetricEigen spread = symmetric_eigen(cov, 3);
  if (!(spread.values[0] > 1e-8 * spread.values[2])) {
    fit.problem = "the surface pixels' P lie on one plane, which fixes no camera";
    fit.residual = 0;
    return fit;
  }
  const std::vector<Point>& pts = n.points;
  std::vector<char> use(pts.size(), 1);
  std::vector<double> pixels(pts.size());
  const auto measure = [&](const Rows& m, bool affine) {
    for (std::size_t k = 0; k < pts.size(); ++k) pixels[k] = error_of(m, pts[k], affine) / n.image_scale;
    return errors_of(pixels);
  };
  // Rounds of fitting the points kept and keeping those near the fit.
  const auto robust = [&](bool affine) {
    std::fill(use.begin(), use.end(), 1);
    Rows m{};
    for (int round = 0; round < 5; ++round) {
      m = affine ? affine_fit(pts, use) : dlt(pts, use);
      measure(m, affine);
      const double limit = std::min(kInlierPixels, std::max(0.05, 4.45 * median(pixels)));
      bool changed = false;
      for (std::size_t k = 0; k < pts.size(); ++k) {
        const char keep = pixels[k] <= limit ? 1 : 0;
        changed = changed || keep != use[k];
        use[k] = keep;
      }
      if (!changed) break;
    }
    if (!affine) m = refine(m, pts, use);
    return m;
  };
  const Rows pinhole = robust(false);
  const Errors pinhole_errors = measure(pinhole, false);
  const Rows affine = robust(true);
  const Errors affine_errors = measure(affine, true);
  // The simpler orthographic view wins when it explains P as well.
  const bool ortho = affine_errors.share >= pinhole_errors.share &&
                     affine_errors.rms_inliers <= pinhole_errors.rms_inliers + 0.02;
  const Errors& e = ortho ? affine_errors : pinhole_errors;
  const Rows chosen = denormalise(ortho ? affine : pinhole, n);
  fit.inlier_share = e.share;
  if (!(e.share >= kMinInlierShare && e.rms_inliers <= kMaxResidual)) {
    fit.residual = e.rms_all;
    fit.problem = fmt::format("{:.1f}% of the surface pixels are within {} px of the best camera",
                              100.0 * e.share, kInlierPixels);
    return fit;
  }
  fit.residual = e.rms_inliers;
  fit.camera = camera_from_projection(chosen, raw[raw.size() / 2].x,
                                      ortho ? view_from_normals(chosen, normals) : std::nullopt);
  if (!fit.camera) fit.problem = "the fitted projection is degenerate";
  return fit;
}

CameraFit measure_camera(const Camera& camera, const Grid3& position) {
  CameraFit fit;
  const std::vector<Point> pts = fit_points(position);
  fit.points = static_cast<long long>(pts.size());
  std::vector<double> pixels;
  for (const Point& p : pts) {
    const Camera::Projected q = camera.project(p.x);
    pixels.push_back(q.depth > 0 || camera.projection == Projection::orthographic
                         ? std::hypot(q.u - p.u, q.v - p.v)
                         : INFINITY);
  }
  const Errors e = errors_of(pixels);
  fit.inlier_share = e.share;
  fit.residual = e.share >= kMinInlierShare ? e.rms_inliers : e.rms_all;
  if (e.share >= kMinInlierShare && e.rms_inliers <= kMaxResidual) fit.camera = camera;
  return fit;
}

}  // namespace quorlen::geometry
