/// \file demo_scene.h  A small procedural scene rendered to passes: spheres on a checkered ground.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace quorlen::demo {

/// The passes of the demo scene, pixels interleaved as triples, rows from the top of the picture.
/// World space: x to the right, y up, z away from the camera. Pixels that see only sky are zero in
/// every pass, so the relighting leaves them black.
struct DemoPasses {
  int width = 0;
  int height = 0;
  std::vector<float> color;     ///< textured surface colour, linear
  std::vector<float> normal;    ///< world-space unit normals
  std::vector<float> position;  ///< world-space positions
};

/// Ray-traces the scene at the given size (one sample per pixel).
DemoPasses build_demo_scene(int width, int height);

/// Ray-traced visibility of a light from each pixel's surface, for measuring shadows found from the passes:
/// 0 where a sphere stands between the pixel's P and the light, else 1 (also where the pixel sees sky). The
/// light is a point at `light`, or with `parallel` infinitely far along the direction `light`.
std::vector<float> demo_shadow_truth(const DemoPasses& passes, const std::array<double, 3>& light,
                                     bool parallel = false);

/// Writes the passes as one EXR: plain R, G, B for the colour, layers N (N.X, N.Y, N.Z) and P (P.X, P.Y,
/// P.Z); 32-bit float, lossless. Written beside `path` and renamed into place; throws an output error.
void write_demo_passes(const DemoPasses& passes, const std::string& path);

}  // namespace quorlen::demo
