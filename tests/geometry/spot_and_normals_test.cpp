/// \file spot_and_normals_test.cpp  Spot cones, and normals from camera space and flipped axes.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/camera_fit.h"
#include "geometry/normal_frames.h"
#include "geometry/spot_cone.h"
#include "geometry/synthetic_scene.h"

namespace quorlen::geometry {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// A point at `degrees` from the spot's axis, 5 units from the light.
Vec3 at_angle(const Vec3& light, double degrees) {
  return light + Vec3{std::sin(degrees * kDegree), -std::cos(degrees * kDegree), 0} * 5.0;
}

TEST(SpotCone, InsideOutsideAndTheSmoothStepBetween) {
  const Vec3 light{1, 4, 2};
  const SpotCone spot{{0, -2, 0}, 30, 10};
  EXPECT_EQ(spot_factor(spot, light, at_angle(light, 0)), 1.0f);
  EXPECT_EQ(spot_factor(spot, light, at_angle(light, 19.9)), 1.0f);
  EXPECT_EQ(spot_factor(spot, light, at_angle(light, 30.1)), 0.0f);
  EXPECT_EQ(spot_factor(spot, light, at_angle(light, 120)), 0.0f);
  // Between: smoothstep of the cosine's place between cos 30 and cos 20.
  const double t =
      (std::cos(25 * kDegree) - std::cos(30 * kDegree)) / (std::cos(20 * kDegree) - std::cos(30 * kDegree));
  EXPECT_NEAR(spot_factor(spot, light, at_angle(light, 25)), t * t * (3 - 2 * t), 1e-6);
  float previous = 0.0f;
  for (double a = 30; a >= 20; a -= 0.5) {
    const float f = spot_factor(spot, light, at_angle(light, a));
    EXPECT_GE(f, previous);
    previous = f;
  }
  // No penumbra: a hard edge at the angle.
  const SpotCone hard{{0, -1, 0}, 30, 0};
  EXPECT_EQ(spot_factor(hard, light, at_angle(light, 29.9)), 1.0f);
  EXPECT_EQ(spot_factor(hard, light, at_angle(light, 30.1)), 0.0f);
  // A penumbra wider than the cone fades from the axis.
  const SpotCone wide{{0, -1, 0}, 20, 40};
  EXPECT_LT(spot_factor(wide, light, at_angle(light, 10)), 1.0f);
  EXPECT_EQ(spot_factor(wide, light, at_angle(light, 0)), 1.0f);
}

TEST(NormalFrames, CameraSpaceNormalsComeBackToWorld) {
  const testing::Pinhole truth;
  const auto passes = testing::render(truth.width, truth.height, truth.rays());
  const CameraFit fit = fit_camera(Grid3{truth.width, truth.height, passes.p.data(), 3, 0, 0});
  ASSERT_TRUE(fit.camera);
  const auto axes = fit.camera->axes();
  // The normals as a renderer writes them in camera space: x right, y up, z along the view.
  std::vector<float> camera_space = passes.n;
  const auto [r, up, f] = truth.axes();
  for (std::size_t k = 0; k < camera_space.size(); k += 3) {
    const Vec3 n{passes.n[k], passes.n[k + 1], passes.n[k + 2]};
    camera_space[k] = static_cast<float>(dot(n, r));
    camera_space[k + 1] = static_cast<float>(dot(n, up));
    camera_space[k + 2] = static_cast<float>(dot(n, f));
  }
  std::vector<float> back = camera_space;
  normals_to_world(back.data(), back.size() / 3, 3, {false, false, false}, &axes);
  for (std::size_t k = 0; k < back.size(); ++k) ASSERT_NEAR(back[k], passes.n[k], 1e-4) << k;

  // A camera space whose z points at the viewer and whose y points down: flip both first.
  std::vector<float> flipped = camera_space;
  for (std::size_t k = 0; k < flipped.size(); k += 3) {
    flipped[k + 1] = -flipped[k + 1];
    flipped[k + 2] = -flipped[k + 2];
  }
  normals_to_world(flipped.data(), flipped.size() / 3, 3, {false, true, true}, &axes);
  for (std::size_t k = 0; k < flipped.size(); ++k) ASSERT_NEAR(flipped[k], passes.n[k], 1e-4) << k;

  // Flips alone, without a camera; zero normals stay zero, not -0.
  std::vector<float> v = {0.5f, -0.25f, 1.0f, 0.0f, 0.0f, 0.0f};
  normals_to_world(v.data(), 2, 3, {true, false, true}, nullptr);
  EXPECT_EQ(v, (std::vector<float>{-0.5f, -0.25f, -1.0f, 0.0f, 0.0f, 0.0f}));
  EXPECT_FALSE(std::signbit(v[3]));
}

}  // namespace
}  // namespace quorlen::geometry
