/// \file normal_frames.h  Normal passes between the camera's space and P's, and axes stored the other way.
#pragma once

#include <array>
#include <cstddef>

#include "geometry/camera.h"

namespace quorlen::geometry {

/// Negates the axes `flip` names, then, with `axes` (the camera's, Camera::axes()), turns the vector from
/// camera space into P's space. `count` normals `stride` floats apart, in place; zero stays zero.
void normals_to_world(float* normals, std::size_t count, std::ptrdiff_t stride,
                      const std::array<bool, 3>& flip, const std::array<Vec3, 3>* axes);

}  // namespace quorlen::geometry
