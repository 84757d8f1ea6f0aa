/// \file shadow_lattice.cpp  Sharing the lattice's visibility where its pixels agree on one surface.
#include "geometry/shadow_lattice.h"

#include <cmath>

namespace quorlen::geometry {

int lattice_neighbours(const Grid3& position, int i, int j, int out[4][2]) {
  int columns[2], lines[2], nc = 0, nl = 0;
  if (i % 2 == 0) {
    columns[nc++] = i;
  } else {
    columns[nc++] = i - 1;
    if (i + 1 < position.width) columns[nc++] = i + 1;
  }
  if (j % 2 == 0) {
    lines[nl++] = j;
  } else {
    lines[nl++] = j - 1;
    if (j + 1 < position.height) lines[nl++] = j + 1;
  }
  int count = 0;
  for (int a = 0; a < nl; ++a)
    for (int b = 0; b < nc; ++b) {
      out[count][0] = columns[b];
      out[count][1] = lines[a];
      ++count;
    }
  return count;
}

float shared_visibility(const Camera& camera, const DepthField& field, const Grid3& position,
                        const ShadowLight& light, int i, int j,
                        const std::function<float(int, int)>& lattice) {
  if (on_lattice(i, j)) return lattice(i, j);
  const double depth = field.depth(i, j);
  if (!is_surface(position.at(i, j)) || !std::isfinite(depth)) return 1.0f;
  int around[4][2];
  const int count = lattice_neighbours(position, i, j, around);
  const double step = kLatticeContinuity * std::abs(field.scale(i, j));
  float shared = 0.0f;
  bool agree = true;
  for (int k = 0; k < count && agree; ++k) {
    const int x = around[k][0], y = around[k][1];
    const double d = field.depth(x, y);
    agree = is_surface(position.at(x, y)) && std::isfinite(d) && std::abs(d - depth) <= step;
    if (!agree) break;
    const float v = lattice(x, y);
    agree = k == 0 || v == shared;
    shared = v;
  }
  return agree ? shared : visibility(camera, field, position, light, i, j);
}

}  // namespace quorlen::geometry
