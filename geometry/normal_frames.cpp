/// \file normal_frames.cpp  Flips and the camera's rotation applied to normals.
#include "geometry/normal_frames.h"

namespace quorlen::geometry {

void normals_to_world(float* normals, std::size_t count, std::ptrdiff_t stride,
                      const std::array<bool, 3>& flip, const std::array<Vec3, 3>* axes) {
  for (std::size_t k = 0; k < count; ++k, normals += stride) {
    double n[3];
    for (std::size_t c = 0; c < 3; ++c) n[c] = flip[c] ? -static_cast<double>(normals[c]) : normals[c];
    if (axes) {
      const Vec3 world = (*axes)[0] * n[0] + (*axes)[1] * n[1] + (*axes)[2] * n[2];
      for (std::size_t c = 0; c < 3; ++c) n[c] = world[c];
    }
    for (std::size_t c = 0; c < 3; ++c) normals[c] = static_cast<float>(n[c]) + 0.0f;
  }
}

}  // namespace quorlen::geometry
