/// \file camera_fit_test.cpp  The camera recovered from P: exact and filtered passes, pinhole and
/// orthographic, the header's matrices, and the P no camera made.
#include "geometry/camera_fit.h"

#include <gtest/gtest.h>

#include <random>

#include "geometry/synthetic_scene.h"

namespace quorlen::geometry {
namespace {

using testing::Passes;
using testing::Pinhole;

Grid3 grid_of(const Passes& p) { return Grid3{p.width, p.height, p.p.data(), 3, 0, 0}; }
Grid3 normals_of(const Passes& p) { return Grid3{p.width, p.height, p.n.data(), 3, 0, 0}; }

// The fitted camera puts points of the scene where the true one does, including points it never saw.
void expect_same_projection(const Camera& fitted, const Pinhole& truth, double tolerance) {
  for (const Vec3& x : {Vec3{0, 0, 6}, Vec3{-2, 2, 9}, Vec3{2.5, 0.1, 4}, Vec3{0.3, 3, 12}}) {
    const auto want = truth.project(x);
    const auto got = fitted.project(x);
    EXPECT_NEAR(got.u, want[0], tolerance);
    EXPECT_NEAR(got.v, want[1], tolerance);
    EXPECT_NEAR(got.depth, dot(x - truth.eye, truth.axes()[2]), 1e-3);
  }
}

TEST(CameraFit, ExactPassesGiveThePinholeBack) {
  const Pinhole truth;
  const Passes passes = testing::render(truth.width, truth.height, truth.rays());
  const CameraFit fit = fit_camera(grid_of(passes));
  ASSERT_TRUE(fit.camera) << fit.problem;
  EXPECT_EQ(fit.camera->projection, Projection::pinhole);
  EXPECT_LT(fit.residual, 0.01);
  EXPECT_GE(fit.inlier_share, 0.999);
  EXPECT_GT(fit.points, 5000);
  expect_same_projection(*fit.camera, truth, 0.01);
  // The camera's axes are the true camera's: right, up, along the view.
  const auto axes = fit.camera->axes();
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(axes[k][c], truth.axes()[k][c], 1e-4) << k << " " << c;
}

TEST(CameraFit, AntiAliasedEdgesAreLeftOut) {
  // Four rays a pixel, averaged: edge pixels hold positions between surfaces, or pulled towards 0 by sky.
  const Pinhole truth;
  const Passes passes = testing::render(truth.width, truth.height, truth.rays(), 2);
  const CameraFit fit = fit_camera(grid_of(passes));
  ASSERT_TRUE(fit.camera) << fit.problem;
  EXPECT_LT(fit.residual, 0.1);
  expect_same_projection(*fit.camera, truth, 0.05);
}

TEST(CameraFit, OrthographicViewsAreRecognised) {
  const Vec3 view = normalized({0.2, -0.6, 1.0});
  const Vec3 right = normalized(cross({0, 1, 0}, view)), up = cross(view, right);
  const auto rays = [&](double u, double v) -> std::optional<std::pair<Vec3, Vec3>> {
    const Vec3 origin = Vec3{0.2, 5, 1} + right * ((u - 80) / 16.0) + up * ((45 - v) / 16.0);
    return std::make_pair(origin, view);
  };
  const Passes passes = testing::render(160, 90, rays);
  const Grid3 normals = normals_of(passes);
  const CameraFit fit = fit_camera(grid_of(passes), &normals);
  ASSERT_TRUE(fit.camera) << fit.problem;
  EXPECT_EQ(fit.camera->projection, Projection::orthographic);
  EXPECT_LT(fit.residual, 0.01);
  // Oriented by the normals: the view direction points into the scene.
  EXPECT_GT(dot(fit.camera->forward(), view), 0.999);
  const auto p = fit.camera->project(Vec3{0.2, 5, 1} + right * 1.0 + up * 0.5);
  EXPECT_NEAR(p.u, 96, 1e-3);
  EXPECT_NEAR(p.v, 37, 1e-3);
}

TEST(CameraFit, PositionsNoCameraMadeAreRefused) {
  const Pinhole truth;
  Passes random = testing::render(truth.width, truth.height, truth.rays());
  std::mt19937 generator(7);
  std::uniform_real_distribution<float> any(-10.0f, 10.0f);
  for (float& v : random.p) v = any(generator);
  CameraFit fit = fit_camera(grid_of(random));
  EXPECT_FALSE(fit.camera);
  EXPECT_GT(fit.residual, 1.0);

  // Screen-space positions: the pixel's own coordinates with no depth lie on one plane.
  Passes screen = random;
  for (int j = 0; j < screen.height; ++j)
    for (int i = 0; i < screen.width; ++i) {
      float* p = &screen.p[(static_cast<std::size_t>(j) * screen.width + i) * 3];
      p[0] = (i + 0.5f) / screen.width;
      p[1] = (j + 0.5f) / screen.height;
      p[2] = 0.0f;
    }
  fit = fit_camera(grid_of(screen));
  EXPECT_FALSE(fit.camera);
  EXPECT_NE(fit.problem.find("plane"), std::string::npos) << fit.problem;

  // An equidistant fisheye of 160 degrees: straight lines bend, which no projective camera does.
  const auto fisheye = [&](double u, double v) -> std::optional<std::pair<Vec3, Vec3>> {
    const auto [r, up, f] = truth.axes();
    const double x = (u - 80) / 80.0, y = (45 - v) / 80.0, rho = std::hypot(x, y);
    const double theta = rho * 80.0 * 3.14159265358979 / 180.0;
    if (theta >= 3.14159265358979 / 2) return std::nullopt;
    const double s = rho > 0 ? std::sin(theta) / rho : 0.0;
    return std::make_pair(truth.eye, normalized(f * std::cos(theta) + r * (x * s) + up * (y * s)));
  };
  fit = fit_camera(grid_of(testing::render(160, 90, fisheye)));
  EXPECT_FALSE(fit.camera);
  EXPECT_GT(fit.residual, kMaxResidual);
}

TEST(CameraFit, HeaderMatricesDescribeTheCameraThatMadeP) {
  // The matrices a renderer writes for the true camera: world to camera (x right, y up, z along the view)
  // and world to NDC (0..1 across the display window, y down), points as rows.
  const Pinhole truth;
  const auto [r, up, f] = truth.axes();
  Matrix44 to_camera{};
  for (int k = 0; k < 3; ++k) {
    to_camera[k][0] = r[k];
    to_camera[k][1] = up[k];
    to_camera[k][2] = f[k];
  }
  to_camera[3] = {-dot(r, truth.eye), -dot(up, truth.eye), -dot(f, truth.eye), 1};
  const double hw = std::tan(truth.fov / 2), hh = hw * truth.height / truth.width;
  // ndc_x = (x_c / z_c / hw + 1) / 2, ndc_y = (1 - y_c / z_c / hh) / 2.
  const double screen[4][4] = {{0.5 / hw, 0, 0, 0}, {0, -0.5 / hh, 0, 0}, {0.5, 0.5, 0, 1}, {0, 0, 0, 0}};
  Matrix44 to_ndc{};
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b)
      for (int k = 0; k < 4; ++k) to_ndc[a][b] += to_camera[a][k] * screen[k][b];
  const Passes passes = testing::render(truth.width, truth.height, truth.rays());
  const auto camera = camera_from_matrices(to_ndc, to_camera, truth.width, truth.height, Vec3{0, 0, 6});
  ASSERT_TRUE(camera);
  expect_same_projection(*camera, truth, 1e-6);
  const CameraFit agreement = measure_camera(*camera, grid_of(passes));
  EXPECT_TRUE(agreement.camera);
  EXPECT_LT(agreement.residual, 0.01);

  // Matrices for another picture disagree with P, and say by how much.
  Matrix44 shifted = to_ndc;
  for (auto& row : shifted) row[0] += row[3] * 0.1;
  const auto wrong = camera_from_matrices(shifted, to_camera, truth.width, truth.height, Vec3{0, 0, 6});
  ASSERT_TRUE(wrong);
  const CameraFit off = measure_camera(*wrong, grid_of(passes));
  EXPECT_FALSE(off.camera);
  EXPECT_NEAR(off.residual, 0.1 * truth.width, 0.5);
}

}  // namespace
}  // namespace quorlen::geometry
