/// \file spot_cone.cpp  The cone's smooth edge, stepped on the cosine.
#include "geometry/spot_cone.h"

#include <algorithm>
#include <cmath>

namespace quorlen::geometry {

float spot_factor(const SpotCone& spot, const Vec3& light, const Vec3& x) {
  constexpr double kDegree = 3.14159265358979323846 / 180.0;
  const Vec3 to = x - light;
  const double distance = length(to);
  const double along = length(spot.direction);
  if (!(distance > 0.0) || !(along > 0.0)) return 1.0f;
  const double c = dot(to, spot.direction) / (distance * along);
  const double outer = std::cos(spot.angle * kDegree);
  const double inner = std::cos(std::max(0.0, spot.angle - spot.penumbra) * kDegree);
  if (!(inner > outer)) return c >= outer ? 1.0f : 0.0f;
  const double t = std::clamp((c - outer) / (inner - outer), 0.0, 1.0);
  return static_cast<float>(t * t * (3.0 - 2.0 * t));
}

}  // namespace quorlen::geometry
