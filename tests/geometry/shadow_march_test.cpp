/// \file shadow_march_test.cpp  Shadows marched through the camera's image against ray-traced ones.
#include "geometry/shadow_march.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "geometry/camera_fit.h"
#include "geometry/shadow_agreement.h"
#include "geometry/shadow_lattice.h"
#include "geometry/synthetic_scene.h"

namespace quorlen::geometry {
namespace {

using testing::Passes;
using testing::Pinhole;

struct Scene {
  Pinhole camera_truth;
  Passes passes;
  Grid3 grid;
  Camera camera;
  DepthField field;

  explicit Scene(int width, int height)
      : camera_truth{.width = width, .height = height},
        passes(testing::render(width, height, camera_truth.rays())),
        grid{width, height, passes.p.data(), 3, 0, 0},
        camera(*fit_camera(grid).camera),
        field(camera, grid, DepthRules{}) {}

  std::vector<float> shadows(const ShadowLight& light) const {
    std::vector<float> out(static_cast<std::size_t>(grid.width) * grid.height);
    for (int j = 0; j < grid.height; ++j)
      for (int i = 0; i < grid.width; ++i)
        out[static_cast<std::size_t>(j) * grid.width + i] = visibility(camera, field, grid, light, i, j);
    return out;
  }

  // Surface pixels facing the light: where a shadow shows (the others are dark already).
  std::vector<char> facing(const Vec3& light) const {
    std::vector<char> out(static_cast<std::size_t>(grid.width) * grid.height, 0);
    for (std::size_t k = 0; k < out.size(); ++k) {
      const Vec3 p{passes.p[k * 3], passes.p[k * 3 + 1], passes.p[k * 3 + 2]};
      const Vec3 n{passes.n[k * 3], passes.n[k * 3 + 1], passes.n[k * 3 + 2]};
      out[k] = (p[0] != 0 || p[1] != 0 || p[2] != 0) && dot(n, light - p) > 0;
    }
    return out;
  }
};

TEST(ShadowMarch, PointLightShadowsMatchRayTracing) {
  const Scene scene(320, 180);
  for (const Vec3& light : {Vec3{2.5, 4.5, 4.0}, Vec3{-3, 3, 9}, Vec3{0.5, 6, 7}}) {
    const auto truth = testing::shadow_truth(scene.passes, light);
    const auto found = scene.shadows(ShadowLight{.point = true, .position = light});
    const auto a = testing::agreement(truth, found, 320, 180, scene.facing(light));
    std::printf("light %g,%g,%g: %lld of %lld shadowed pixels found (%.4f), %lld of %lld lit kept (%.4f)\n",
                light[0], light[1], light[2], a.shadowed_found, a.shadowed, a.shadowed_share(), a.lit_kept,
                a.lit, a.lit_share());
    EXPECT_GT(a.shadowed, 500);
    EXPECT_GE(a.shadowed_share(), 0.95);
    EXPECT_GE(a.lit_share(), 0.98);
  }
}

TEST(ShadowMarch, ParallelLightCastsAlongItsDirection) {
  const Scene scene(320, 180);
  // The sun low on the left: the shadows fall to the right, long.
  const Vec3 toward = normalized({-1, 0.7, 0.2});
  const auto found = scene.shadows(ShadowLight{.point = false, .direction = toward});
  const Vec3 far_light = Vec3{0.3, 1.1, 7.5} + toward * 1e4;
  const auto truth = testing::shadow_truth(scene.passes, far_light);
  const auto a = testing::agreement(truth, found, 320, 180, scene.facing(far_light));
  std::printf("parallel: %.4f of shadowed found, %.4f of lit kept\n", a.shadowed_share(), a.lit_share());
  EXPECT_GE(a.shadowed_share(), 0.95);
  EXPECT_GE(a.lit_share(), 0.98);
}

TEST(ShadowMarch, SoftLightsFadeAcrossTheEdgeAndNoWhereElse) {
  const Scene scene(320, 180);
  const Vec3 light{2.5, 4.5, 4.0};
  const auto hard = scene.shadows(ShadowLight{.point = true, .position = light});
  const auto soft = scene.shadows(ShadowLight{.point = true, .position = light, .size = 0.6, .samples = 16});
  const auto zero_size =
      scene.shadows(ShadowLight{.point = true, .position = light, .size = 0, .samples = 16});
  EXPECT_EQ(zero_size, hard);
  long long between = 0, far_differs = 0;
  for (std::size_t k = 0; k < soft.size(); ++k) {
    EXPECT_GE(soft[k], 0.0f);
    EXPECT_LE(soft[k], 1.0f);
    if (soft[k] > 0.0f && soft[k] < 1.0f) ++between;
    // Deep inside a hard shadow or far out in the light, the soft one agrees.
    const int i = static_cast<int>(k % 320), j = static_cast<int>(k / 320);
    bool uniform = true;
    for (int y = std::max(0, j - 12); y <= std::min(179, j + 12); ++y)
      for (int x = std::max(0, i - 12); x <= std::min(319, i + 12); ++x)
        uniform = uniform && hard[static_cast<std::size_t>(y) * 320 + x] == hard[k];
    if (uniform && std::abs(soft[k] - hard[k]) > 0.5f) ++far_differs;
  }
  EXPECT_GT(between, 200);
  EXPECT_LT(far_differs, 20);
}

TEST(ShadowMarch, TheLatticeSharesOnlyWhatItsPixelsAgreeOn) {
  const Scene scene(320, 180);
  for (const ShadowLight& light :
       {ShadowLight{.point = true, .position = {2.5, 4.5, 4.0}},
        ShadowLight{.point = true, .position = {2.5, 4.5, 4.0}, .size = 0.6, .samples = 8}}) {
    const auto marched = [&](int i, int j) {
      return visibility(scene.camera, scene.field, scene.grid, light, i, j);
    };
    long long differ = 0, shared = 0;
    for (int j = 0; j < 180; ++j)
      for (int i = 0; i < 320; ++i) {
        const float exact = marched(i, j);
        // A lattice that answers 0.3 everywhere (no share of 8 rays) shows which pixels took its value rather
        // than marching.
        const float probe = shared_visibility(scene.camera, scene.field, scene.grid, light, i, j,
                                              [](int, int) { return 0.3f; });
        if (on_lattice(i, j)) continue;
        if (probe == 0.3f) {
          ++shared;
          // Never across a depth step: every lattice neighbour is on the pixel's surface.
          int around[4][2];
          const int count = lattice_neighbours(scene.grid, i, j, around);
          for (int k = 0; k < count; ++k)
            ASSERT_LE(std::abs(scene.field.depth(around[k][0], around[k][1]) - scene.field.depth(i, j)),
                      kLatticeContinuity * scene.field.depth(i, j) + 1e-6);
        } else {
          ASSERT_EQ(probe, exact) << "a pixel it does not share is marched";
        }
        differ += shared_visibility(scene.camera, scene.field, scene.grid, light, i, j, marched) != exact;
      }
    std::printf("lattice: %lld of %d pixels off the lattice shared, %lld differ from their own march\n",
                shared, 320 * 180 * 3 / 4, differ);
    EXPECT_GT(shared, 320 * 180 * 3 / 8);
    EXPECT_LT(differ, 320 * 180 / 1000);
  }
}

TEST(ShadowMarch, OccludersTheCameraDidNotSeeCastNothing) {
  // A light straight above a sphere that is cut out of the frame: the ground under it stays lit.
  Scene scene(320, 180);
  const Vec3 light{-1.6, 6, 6.5};
  const auto full = scene.shadows(ShadowLight{.point = true, .position = light});
  const auto u = scene.camera_truth.project({-1.6, 0.0, 6.5});
  const std::size_t under = static_cast<std::size_t>(u[1]) * 320 + static_cast<std::size_t>(u[0]);
  EXPECT_EQ(full[under], 0.0f);
  // Blank the sphere's pixels (not the ground's): nothing left in the frame blocks that ray.
  for (std::size_t k = 0; k < scene.passes.p.size() / 3; ++k)
    if (length(Vec3{scene.passes.p[k * 3], scene.passes.p[k * 3 + 1], scene.passes.p[k * 3 + 2]} -
               Vec3{-1.6, 0.8, 6.5}) < 0.81)
      for (int c = 0; c < 3; ++c) scene.passes.p[k * 3 + static_cast<std::size_t>(c)] = 0.0f;
  const DepthField without(scene.camera, scene.grid, DepthRules{});
  EXPECT_EQ(visibility(scene.camera, without, scene.grid, ShadowLight{.point = true, .position = light},
                       static_cast<int>(u[0]), static_cast<int>(u[1])),
            1.0f);
  // A maximum distance shorter than the way to the sphere finds nothing either.
  EXPECT_EQ(visibility(scene.camera, scene.field, scene.grid,
                       ShadowLight{.point = true, .position = light, .max_distance = 0.2},
                       static_cast<int>(u[0]), static_cast<int>(u[1])),
            1.0f);
}

}  // namespace
}  // namespace quorlen::geometry
