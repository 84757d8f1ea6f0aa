// Vector normalisation, the clamped dot product, the specular term and the linear ramp.
#include "shading/Float3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quorlen {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(Float3, NormalizeDividesEachComponentByTheLength) {
  Float3 v{3.0f, 4.0f, 0.0f};
  v.normalize();
  EXPECT_EQ(v.x, 0.6f);
  EXPECT_EQ(v.y, 0.8f);
  EXPECT_EQ(v.z, 0.0f);

  // Here neither a reciprocal multiplication nor x*x + (y*y + z*z) gives these bits.
  Float3 w{-5.88f, 3.48f, -1.34f};
  w.normalize();
  EXPECT_EQ(w.x, -0x1.b060eap-1f);
  EXPECT_EQ(w.y, 0x1.ffcb88p-2f);
  EXPECT_EQ(w.z, -0x1.8a241ap-3f);
}

TEST(Float3, NormalizeOfDegenerateVectors) {
  Float3 zero{};
  zero.normalize();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isnan(zero[i])) << i;

  Float3 infinite{kInf, 1.0f, 0.0f};
  infinite.normalize();
  EXPECT_TRUE(std::isnan(infinite.x));
  EXPECT_EQ(infinite.y, 0.0f);
}

TEST(Float3, ClampedDotNormalisesOnlyTheArgument) {
  const Float3 normal{0.0f, 0.0f, 2.0f};
  Float3 light{0.0f, 0.0f, 5.0f};
  EXPECT_EQ(normal.clamped_dot(light), 2.0f);
  EXPECT_EQ(light.z, 1.0f);
  EXPECT_EQ(normal.z, 2.0f);
}

TEST(Float3, ClampedDotIsPositiveZeroUnlessAbove0) {
  struct Case {
    Float3 self, light;
    float expected;
  };
  const Case cases[] = {
      {{0, 0, 1}, {0, 0, 5}, 1.0f},              // aligned
      {{0, 0, 1}, {0, 0, -5}, 0.0f},             // opposed
      {{0, 0, 1}, {1, 0, 0}, 0.0f},              // perpendicular
      {{0, 0, 1}, {0, 0, 0}, 0.0f},              // zero light: NaN dot
      {{0, 0, 1}, {kNaN, 0, 0}, 0.0f},           // NaN light
      {{kInf, 0, 0}, {1, 0, 0}, kInf},           // infinite normal
      {{-1.0f, -1.0f, -0.0f}, {0, 0, 1}, 0.0f},  // dot of -0
  };
  for (const Case& c : cases) {
    Float3 light = c.light;
    const float dot = c.self.clamped_dot(light);
    EXPECT_EQ(dot, c.expected) << c.light.x << " " << c.light.z;
    EXPECT_FALSE(std::signbit(dot)) << c.light.x << " " << c.light.z;
  }
}

TEST(Float3, SpecularRaisesTheClampedDotOfACopy) {
  const Float3 normal{0.6f, 0.0f, 0.8f};
  Float3 a{1.0f, 2.0f, 3.0f}, b = a;
  EXPECT_EQ(normal.specular(a, 1.0f), normal.clamped_dot(b));
  EXPECT_EQ(a.x, b.x);  // the argument is normalised in place
  EXPECT_EQ(normal.x, 0.6f);

  struct Case {
    Float3 self, light;
    float power, expected;
  };
  const Case cases[] = {
      {{0, 0, 0.5f}, {0, 0, 3}, 2.0f, 0.25f}, {{0, 0, 1}, {0, 0, -1}, 0.0f, 1.0f},  // clamped 0, power 0
      {{0, 0, 1}, {0, 0, -1}, 3.0f, 0.0f},    {{0, 0, 1}, {0, 0, -1}, -1.0f, kInf},
      {{0, 0, 1}, {0, 0, 0}, 2.0f, 0.0f},  // the NaN dot is clamped before the power
  };
  for (const Case& c : cases) {
    Float3 light = c.light;
    EXPECT_EQ(c.self.specular(light, c.power), c.expected) << c.power;
  }
}

TEST(Float3, LinearRampBranchesInOrder) {
  struct Case {
    float value, low, high, at_low, at_high, expected;
  };
  const Case cases[] = {
      {50, 0, 100, 1, 0, 0.5f}, {100, 0, 100, 1, 0, 0.0f},  {-1, 0, 100, 1, 0, 1.0f},
      {0, 0, 100, 1, 0, 1.0f},  {0, 0, 0, 1, 0, 0.0f},      {5, 0, -10, 1, 0, 0.0f},
      {-5, 0, -10, 1, 0, 1.0f}, {kInf, 0, 100, 1, 0, 0.0f}, {-kInf, 0, 100, 1, 0, 1.0f},
      {25, 0, 100, 2, 6, 3.0f},
  };
  for (const Case& c : cases)
    EXPECT_EQ(linear_ramp(c.value, c.low, c.high, c.at_low, c.at_high), c.expected) << c.value;
  EXPECT_TRUE(std::isnan(linear_ramp(kNaN, 0, 100, 1, 0)));
  EXPECT_TRUE(std::isnan(linear_ramp(kNaN, 0, 0, 1, 0)));
}

}  // namespace
}  // namespace quorlen
