/// \file linear_algebra.cpp  Jacobi eigenvalues and Gaussian elimination.
#include "geometry/linear_algebra.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace quorlen::geometry {

SymmetricEigen symmetric_eigen(std::vector<double> a, int n) {
  const auto at = [n](int r, int c) { return static_cast<std::size_t>(r * n + c); };
  std::vector<double> v(static_cast<std::size_t>(n * n), 0.0);
  for (int i = 0; i < n; ++i) v[at(i, i)] = 1.0;
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0.0, total = 0.0;
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        total += a[at(r, c)] * a[at(r, c)];
        if (r != c) off += a[at(r, c)] * a[at(r, c)];
      }
    if (off <= 1e-30 * total || off == 0.0) break;
    for (int p = 0; p < n - 1; ++p)
      for (int q = p + 1; q < n; ++q) {
        const double apq = a[at(p, q)];
        if (apq == 0.0) continue;
        const double theta = (a[at(q, q)] - a[at(p, p)]) / (2.0 * apq);
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0);
        const double s = t * c;
        for (int k = 0; k < n; ++k) {
          const double akp = a[at(k, p)], akq = a[at(k, q)];
          a[at(k, p)] = c * akp - s * akq;
          a[at(k, q)] = s * akp + c * akq;
        }
        for (int k = 0; k < n; ++k) {
          const double apk = a[at(p, k)], aqk = a[at(q, k)];
          a[at(p, k)] = c * apk - s * aqk;
          a[at(q, k)] = s * apk + c * aqk;
        }
        for (int k = 0; k < n; ++k) {
          const double vkp = v[at(k, p)], vkq = v[at(k, q)];
          v[at(k, p)] = c * vkp - s * vkq;
          v[at(k, q)] = s * vkp + c * vkq;
        }
      }
  }
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int x, int y) { return a[at(x, x)] < a[at(y, y)]; });
  SymmetricEigen out;
  out.values.resize(static_cast<std::size_t>(n));
  out.vectors.resize(static_cast<std::size_t>(n * n));
  for (int k = 0; k < n; ++k) {
    const int from = order[static_cast<std::size_t>(k)];
    out.values[static_cast<std::size_t>(k)] = a[at(from, from)];
    for (int r = 0; r < n; ++r) out.vectors[at(r, k)] = v[at(r, from)];
  }
  return out;
}

bool solve_linear(std::vector<double> a, std::vector<double>& b, int n) {
  const auto at = [n](int r, int c) { return static_cast<std::size_t>(r * n + c); };
  double scale = 0.0;
  for (double x : a) scale = std::max(scale, std::abs(x));
  if (!(scale > 0.0) || !std::isfinite(scale)) return false;
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int r = col + 1; r < n; ++r)
      if (std::abs(a[at(r, col)]) > std::abs(a[at(pivot, col)])) pivot = r;
    if (std::abs(a[at(pivot, col)]) <= 1e-14 * scale) return false;
    if (pivot != col) {
      for (int c = 0; c < n; ++c) std::swap(a[at(col, c)], a[at(pivot, c)]);
      std::swap(b[static_cast<std::size_t>(col)], b[static_cast<std::size_t>(pivot)]);
    }
    for (int r = col + 1; r < n; ++r) {
      const double f = a[at(r, col)] / a[at(col, col)];
      if (f == 0.0) continue;
      for (int c = col; c < n; ++c) a[at(r, c)] -= f * a[at(col, c)];
      b[static_cast<std::size_t>(r)] -= f * b[static_cast<std::size_t>(col)];
    }
  }
  for (int r = n - 1; r >= 0; --r) {
    double sum = b[static_cast<std::size_t>(r)];
    for (int c = r + 1; c < n; ++c) sum -= a[at(r, c)] * b[static_cast<std::size_t>(c)];
    b[static_cast<std::size_t>(r)] = sum / a[at(r, r)];
  }
  return true;
}

}  // namespace quorlen::geometry
