// Relit pixels through the real module: light types, output types, noise and the degenerate cases.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

#include "DDImage/Row.h"
#include "plugin/Quorlen.h"
#include "support/Images.h"
#include "support/Module.h"

namespace {

using namespace DD::Image;
using quorlen::Parameters;
using quorlen::test::Pixel3;
using quorlen::test::pixel_source;

struct Pixel {
  float r, g, b, a;
};

struct Scene {
  Pixel3 color{1, 1, 1};
  Pixel3 normal{0, 0, -1};
  Pixel3 position{0, 0, 0};
  std::optional<Pixel3> noise_position;
};

// Renders the one pixel of `scene` with the parameters as changed by `setup`.
Pixel shade(const Scene& scene, const std::function<void(Parameters&)>& setup = {}) {
  auto node = quorlen::test::make_node();
  auto& op = static_cast<quorlen::Quorlen&>(node->op());
  if (setup) setup(op.parameters());
  auto color = pixel_source(scene.color);
  auto normal = pixel_source(scene.normal);
  auto position = pixel_source(scene.position);
  auto noise = scene.noise_position ? pixel_source(*scene.noise_position) : nullptr;
  op.set_input(0, color.get());
  op.set_input(1, normal.get());
  op.set_input(2, position.get());
  op.set_input(3, noise.get());
  op.validate(true);
  Row row(0, 1);
  row.get(op, 0, 0, 1, ChannelSet(Mask_RGBA));
  return {row[Chan_Red][0], row[Chan_Green][0], row[Chan_Blue][0], row[Chan_Alpha][0]};
}

void expect_rgb(const Pixel& p, float r, float g, float b, float tolerance = 1e-6f) {
  EXPECT_NEAR(p.r, r, tolerance);
  EXPECT_NEAR(p.g, g, tolerance);
  EXPECT_NEAR(p.b, b, tolerance);
}

void point_light_at(Parameters& p, float z) {
  p.lightType = 1;
  p._pointLightPos = {0, 0, z};
  p.pointLightRadius = 100;
  p.pointLightFalloff = 1;
}

Scene facing_plus_z() { return Scene{{1, 1, 1}, {0, 0, 1}, {0, 0, 0}, std::nullopt}; }

TEST(ParallelLight, DefaultsLightANormalFacingMinusZ) {
  const Pixel lit = shade(Scene{});
  expect_rgb(lit, 0.57735f, 0.57735f, 0.57735f, 1e-5f);
  EXPECT_EQ(lit.a, 0.0f);
  const Pixel dark = shade(facing_plus_z());
  EXPECT_EQ(dark.r, 0.0f);
  EXPECT_EQ(dark.g, 0.0f);
  EXPECT_EQ(dark.b, 0.0f);
  EXPECT_EQ(dark.a, 0.0f);
}

TEST(PointLight, AttenuationFalloffAndNegatedZ) {
  expect_rgb(shade(facing_plus_z(), [](Parameters& p) { point_light_at(p, -50); }), 0.5f, 0.5f, 0.5f);
  expect_rgb(shade(facing_plus_z(),
                   [](Parameters& p) {
                     point_light_at(p, -50);
                     p.pointLightFalloff = 2;
                   }),
             0.25f, 0.25f, 0.25f);
  const Pixel behind = shade(facing_plus_z(), [](Parameters& p) { point_light_at(p, 50); });
  expect_rgb(behind, 0, 0, 0, 0);
}

TEST(PointLight, FalloffZeroIgnoresDistanceAndRadius) {
  for (float z : {-50.0f, -100.0f, -1000.0f}) {
    expect_rgb(shade(facing_plus_z(),
                     [z](Parameters& p) {
                       point_light_at(p, z);
                       p.pointLightFalloff = 0;
                     }),
               1, 1, 1);
  }
}

TEST(PointLight, NoLightAtOrBeyondRadiusOrWithNonPositiveRadius) {
  struct Case {
    float z, radius;
  };
  for (const Case c : {Case{-100, 100}, Case{-150, 100}, Case{-10, 0}, Case{-10, -5}}) {
    const Pixel p = shade(facing_plus_z(), [c](Parameters& q) {
      point_light_at(q, c.z);
      q.pointLightRadius = c.radius;
    });
    expect_rgb(p, 0, 0, 0, 0);
  }
}

TEST(PointLight, PixelAtTheLightGetsNoLight) {
  const Pixel p = shade(facing_plus_z(), [](Parameters& q) {
    point_light_at(q, 0);
    q._surfaceSpecular = {1, 1, 1};
  });
  expect_rgb(p, 0, 0, 0, 0);
}

TEST(Specular, ExponentOneAddsTheDiffuseTerm) {
  const Pixel p = shade(facing_plus_z(), [](Parameters& q) {
    point_light_at(q, -50);
    q._surfaceSpecular = {1, 1, 1};
    q.surfaceSpecularPower = 1;
  });
  expect_rgb(p, 1, 1, 1);
}

TEST(LightOutput, IgnoresTheColorInput) {
  for (Pixel3 color : {Pixel3{1, 1, 1}, Pixel3{0, 0, 0}, Pixel3{5, -2, NAN}}) {
    Scene s = facing_plus_z();
    s.color = color;
    const Pixel p = shade(s, [](Parameters& q) {
      point_light_at(q, -50);
      q.outputType = 1;
      q._surfaceDiffuse = {1, 0.5f, 0.25f};
      q._lightScatter = {0.1f, 0.2f, 0.3f};
    });
    expect_rgb(p, 0.55f, 0.35f, 0.275f);
  }
}

TEST(LightOutput, ScatterIsScaledByIntensityNotByLightColor) {
  const Pixel p = shade(facing_plus_z(), [](Parameters& q) {
    point_light_at(q, -50);
    q._lightColor = {0, 0, 0};
    q._lightScatter = {0.2f, 0.4f, 0.8f};
  });
  expect_rgb(p, 0.1f, 0.2f, 0.4f);
}

TEST(Degenerate, ZeroNormalGivesBlackNotNaN) {
  Scene s;
  s.normal = {0, 0, 0};
  const Pixel p = shade(s, [](Parameters& q) { q._surfaceSpecular = {1, 1, 1}; });
  expect_rgb(p, 0, 0, 0, 0);
}

// A noise field whose gradient is not zero at the sample points, so bumps are visible.
void rough(Parameters& p) {
  p.surfaceNoise = true;
  p.surfaceNoiseType = 3;
  p.noiseFrequency = 1;
  p.noiseMultiply = 50;
}

TEST(Noise, MultiplyZeroLeavesTheNormalAlone) {
  Scene s;
  s.noise_position = Pixel3{0.3f, 0.7f, 0.1f};
  const Pixel flat = shade(s);
  const Pixel zero = shade(s, [](Parameters& p) {
    rough(p);
    p.noiseMultiply = 0;
  });
  EXPECT_EQ(zero.r, flat.r);
  const Pixel bumped = shade(s, rough);
  EXPECT_NE(bumped.r, flat.r);
}

TEST(Noise, WithoutNoisePositionInputTheNormalAsReadIsSampled) {
  Scene fallback;
  fallback.normal = {0.2f, 0.3f, -2.0f};
  Scene explicit_q = fallback;
  explicit_q.noise_position = fallback.normal;
  Scene elsewhere = fallback;
  elsewhere.noise_position = Pixel3{5, 6, 7};
  const Pixel a = shade(fallback, rough);
  const Pixel b = shade(explicit_q, rough);
  const Pixel c = shade(elsewhere, rough);
  EXPECT_EQ(a.r, b.r);
  EXPECT_EQ(a.g, b.g);
  EXPECT_EQ(a.b, b.b);
  EXPECT_NE(a.r, c.r);
}

TEST(Noise, FrequencyIsTruncatedTowardZero) {
  Scene s;
  s.noise_position = Pixel3{0.3f, 0.7f, 0.1f};
  auto with = [&](float f) {
    return shade(s, [f](Parameters& p) {
      rough(p);
      p.noiseFrequency = f;
    });
  };
  const Pixel zero = with(0.0f);
  // Frequency 0 samples "snoise" at one point everywhere: no gradient, the normal is untouched.
  EXPECT_EQ(zero.r, shade(s).r);
  for (float f : {0.5f, 0.99f, -0.99f}) EXPECT_EQ(with(f).r, zero.r) << f;
  EXPECT_EQ(with(2.9f).r, with(2.0f).r);
  EXPECT_EQ(with(-1.5f).r, with(-1.0f).r);
  EXPECT_NE(with(2.0f).r, with(3.0f).r);
}

TEST(Rows, OnlyRgbaIsWrittenAndEmptySpansWriteNothing) {
  auto node = quorlen::test::make_node();
  Iop& op = node->op();
  auto color = pixel_source({1, 1, 1});
  auto normal = pixel_source({0, 0, -1});
  op.set_input(0, color.get());
  op.set_input(1, normal.get());
  op.validate(true);

  const Channel other = getChannel("extra.v");
  Row row(0, 1);
  row.writable(other)[0] = 42.0f;
  op.render_row(0, 0, 1, ChannelSet(Mask_RGBA) + ChannelSet(other), row);
  EXPECT_EQ(row[other][0], 42.0f);
  EXPECT_NEAR(row[Chan_Red][0], 0.57735f, 1e-5f);

  Row empty(0, 1);
  op.render_row(0, 1, 1, ChannelSet(Mask_RGBA), empty);
  op.render_row(0, 1, 0, ChannelSet(Mask_RGBA), empty);
  EXPECT_FALSE(empty.has(Chan_Red));
  EXPECT_FALSE(empty.has(Chan_Alpha));
}

}  // namespace
