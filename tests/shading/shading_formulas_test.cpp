// The shared formula steps, each held to its precision: expected bits come from an independent model
// (double arithmetic rounded to single at the same steps), and most inputs are chosen where doing a step
// in the other precision, or in another order, would give different bits.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>

#include "shading/ShadingFormulas.h"

namespace quorlen {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

/// Equal bit patterns, except that any NaN matches any NaN.
::testing::AssertionResult same(float got, float want) {
  std::uint32_t a, b;
  std::memcpy(&a, &got, 4);
  std::memcpy(&b, &want, 4);
  if (a == b || (got != got && want != want)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::hexfloat << got << " instead of " << want;
}

struct Unary {
  int line;
  float in, want;
};

// 0.707 is a double: in single, frequency 7 would give 0x1.3cbc6cp+2.
TEST(ShadingFormulas, NoiseScaleMultipliesByTheDouble0707) {
  const Unary cases[] = {{__LINE__, 1.0f, 0x1.69fbe8p-1f}, {__LINE__, 7.0f, 0x1.3cbc6ap+2f},
                         {__LINE__, 0.0f, 0.0f},           {__LINE__, -0.0f, -0.0f},
                         {__LINE__, kInf, kInf},           {__LINE__, kNaN, kNaN}};
  for (const Unary& c : cases) EXPECT_TRUE(same(noise_scale(c.in), c.want)) << "line " << c.line;
}

TEST(ShadingFormulas, RotatedDifferenceSubtractsInSingleAndScalesInDouble) {
  struct Case {
    int line;
    float x, z, want;
  };
  const Case cases[] = {{__LINE__, 1.5f, -2.25f, 0x1.535c28p+1f},
                        {__LINE__, -0x1.99999ap-4f, 0x1.4cccccp+0f, -0x1.fac710p-1f},
                        {__LINE__, 10.0f, 3.0f, 0x1.3cbc6ap+2f},
                        {__LINE__, 2.0f, 2.0f, 0.0f},
                        {__LINE__, kInf, kInf, kNaN}};
  for (const Case& c : cases)
    EXPECT_TRUE(same(noise_rotated_difference(c.x, c.z), c.want)) << "line " << c.line;
}

// The shift of 100 comes before the offset: added the other way round, x would be 0x1.e81e78p+6.
TEST(ShadingFormulas, NoisePositionShiftsThenOffsets) {
  const Float3 offset{-0x1.9c1490p-1f, 0.5f, -1.25f};
  const Float3 n = noise_position(0x1.354cf2p+3f, 0x1.2e64c4p+1f, -0x1.aa6caep-1f, -0x1.008bb6p+1f, offset);
  EXPECT_TRUE(same(n.x, 0x1.e81e76p+6f));
  EXPECT_TRUE(same(n.y, -0x1.e33558p+2f));
  EXPECT_TRUE(same(n.z, -0x1.49f5bep+4f));
}

TEST(ShadingFormulas, OctavesStartAfterStartAndEndAtATruncatedTwelfthOfTheWidth) {
  struct Case {
    int line;
    int width;
    float bound;
  };
  const Case bounds[] = {{__LINE__, 1920, 160.0f}, {__LINE__, 35, 2.0f},
                         {__LINE__, 36, 3.0f},     {__LINE__, 11, 0.0f},
                         {__LINE__, -13, -1.0f},   {__LINE__, INT_MAX, 0x1.555556p+27f}};
  for (const Case& c : bounds) EXPECT_TRUE(same(octave_bound(c.width), c.bound)) << "line " << c.line;
  EXPECT_EQ(first_octave(2.0f), 3.0f);
  EXPECT_EQ(next_octave(3.0f), 6.0f);
  EXPECT_EQ(kOctaveSumStart, -0.5f);
  EXPECT_TRUE(same(add_octave(-0.5f, -0x1.333334p-2f, 3.0f), -0x1.99999ap-2f));
  EXPECT_TRUE(same(add_octave(-0.5f, 0x1.666666p-1f, 0.5f), 0x1.ccccccp-1f));
  for (float first : {0.0f, -0.0f, -1.0f, kNaN, -kInf}) EXPECT_FALSE(octaves_can_run(first)) << first;
  for (float first : {0x1p-149f, 1.0f, kInf}) EXPECT_TRUE(octaves_can_run(first)) << first;
}

TEST(ShadingFormulas, FrequencyFactorsAreFormedIn64Bits) {
  EXPECT_EQ(scaled_frequency(INT_MAX, kSnoiseFactor), 17179869176.0f);
  EXPECT_EQ(scaled_frequency(INT_MIN, kStripesTurbulence1Factor), -4294967296.0f);
  EXPECT_EQ(scaled_frequency(-3, kTurbulence2Factor), -3.0f);
  for (int d = -1; d <= 8; ++d) EXPECT_EQ(stripe_directions_valid(d), d >= 0 && d <= 7) << d;
}

// The step is added in double: in single, 0x1.633ac8p-5 would step to 0x1.b5264cp-5.
TEST(ShadingFormulas, GradientStepIsAddedInDouble) {
  const Unary cases[] = {{__LINE__, 0x1.633ac8p-5f, 0x1.b5264ep-5f},
                         {__LINE__, -0x1.910870p-5f, -0x1.3f1ceap-5f},
                         {__LINE__, 0x1.34cac8p-5f, 0x1.86b64ep-5f},
                         {__LINE__, 0.0f, 0x1.47ae14p-7f},
                         {__LINE__, -0.0f, 0x1.47ae14p-7f},
                         {__LINE__, 16777216.0f, 16777216.0f},
                         {__LINE__, -kInf, -kInf},
                         {__LINE__, kNaN, kNaN}};
  for (const Unary& c : cases) EXPECT_TRUE(same(gradient_coordinate(c.in), c.want)) << "line " << c.line;
}

// ((shifted - base) × multiply) × 100: multiplying by (multiply × 100) instead would give other bits.
TEST(ShadingFormulas, BumpMultipliesTheDifferenceThenScales) {
  struct Case {
    int line;
    float normal, shifted, base, multiply, want;
  };
  const Case cases[] = {
      {__LINE__, 0x1.43537ep-1f, 0x1.45fa04p-8f, 0x1.e1e7f8p-10f, 3.0f, -0x1.3ca11cp-2f},
      {__LINE__, -0x1.e130c2p-1f, 0x1.8d5a6ep-8f, 0x1.00607cp-7f, 50.0f, 0x1.f75498p+2f},
      {__LINE__, 0.25f, 0.5f, 0.5f, 1e30f, 0.25f},
      {__LINE__, 0.25f, 1.0f, 0.0f, 0.0f, 0.25f},
      {__LINE__, 0.25f, 1.0f, 0.0f, kInf, -kInf},
      {__LINE__, 0.25f, kNaN, 0.0f, 1.0f, kNaN},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(same(bumped(c.normal, c.shifted, c.base, c.multiply), c.want)) << "line " << c.line;
}

// (power − 1) × 20 + 1 in single: 0.95 gives -2^-22, where power × 20 − 19 would give 0.
TEST(ShadingFormulas, SpecularExponentMapsTheShininess) {
  const Unary cases[] = {
      {__LINE__, 10.0f, 181.0f},    {__LINE__, 1.0f, 1.0f},   {__LINE__, 30.0f, 581.0f},
      {__LINE__, 0.95f, -0x1p-22f}, {__LINE__, 0.5f, -9.0f},  {__LINE__, 1.02f, 0x1.66666p+0f},
      {__LINE__, kInf, kInf},       {__LINE__, -kInf, -kInf}, {__LINE__, kNaN, kNaN}};
  for (const Unary& c : cases) EXPECT_TRUE(same(specular_exponent(c.in), c.want)) << "line " << c.line;
}

TEST(ShadingFormulas, LightVectorNegatesZOnly) {
  const Float3 v = light_vector({1.0f, -2.0f, 3.0f});
  EXPECT_TRUE(same(v.x, 1.0f) && same(v.y, -2.0f) && same(v.z, -3.0f));
  const Float3 zero = light_vector({-0.0f, 0.0f, 0.0f});
  EXPECT_TRUE(same(zero.x, -0.0f) && same(zero.y, 0.0f) && same(zero.z, -0.0f));
  EXPECT_TRUE(same(point_light_distance(3.0f, 4.0f, 12.0f), 13.0f));
  EXPECT_TRUE(same(point_light_distance(kNaN, kInf, 0.0f), kInf));
}

// 1 at the light, falling linearly to 0 at the radius; 0 at and beyond it, and everywhere past the light
// when the radius is 0 or negative.
TEST(ShadingFormulas, PointLightFade) {
  struct Case {
    int line;
    float distance, radius, want;
  };
  const Case cases[] = {{__LINE__, 50.0f, 100.0f, 0.5f},  {__LINE__, 33.0f, 100.0f, 0x1.570a3cp-1f},
                        {__LINE__, 0.0f, 100.0f, 1.0f},   {__LINE__, -0.0f, 100.0f, 1.0f},
                        {__LINE__, 100.0f, 100.0f, 0.0f}, {__LINE__, 150.0f, 100.0f, 0.0f},
                        {__LINE__, -1.0f, 100.0f, 1.0f},  {__LINE__, 5.0f, 0.0f, 0.0f},
                        {__LINE__, 0.0f, 0.0f, 0.0f},     {__LINE__, 5.0f, -10.0f, 0.0f},
                        {__LINE__, 30.0f, kInf, 1.0f},    {__LINE__, kInf, 100.0f, 0.0f},
                        {__LINE__, kNaN, 100.0f, kNaN},   {__LINE__, 5.0f, kNaN, kNaN}};
  for (const Case& c : cases)
    EXPECT_TRUE(same(point_light_fade(c.distance, c.radius), c.want)) << "line " << c.line;
}

}  // namespace
}  // namespace quorlen
