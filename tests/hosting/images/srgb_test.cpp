// The sRGB transfer of 8-bit previews, against published reference values.
#include "hosting/images/srgb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using quorlen::hosting::srgb_encode;
using quorlen::hosting::srgb_encode_8bit;

TEST(Srgb, EncodesReferenceValues) {
  // Reference encodings of the standard curve (linear -> encoded).
  EXPECT_NEAR(srgb_encode(0.5), 0.735356983, 1e-9);
  EXPECT_NEAR(srgb_encode(0.18), 0.461356129, 1e-9);
  EXPECT_NEAR(srgb_encode(0.214041140), 0.5, 1e-9);
  // The linear segment and its joint with the power segment.
  EXPECT_DOUBLE_EQ(srgb_encode(0.001), 0.01292);
  EXPECT_NEAR(srgb_encode(0.0031308), 0.0404500, 1e-6);
  EXPECT_NEAR(srgb_encode(std::nextafter(0.0031308, 1.0)), 0.0404500, 1e-6);
}

TEST(Srgb, EightBitCodesRoundToNearestAndClampOutOfRangeValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::pair<float, int> cases[] = {
      {0.0f, 0},   {-0.0f, 0}, {1.0f, 255}, {0.5f, 188}, {0.18f, 118}, {-1.0f, 0},
      {2.0f, 255}, {inf, 255}, {-inf, 0},   {nan, 0},    {1e-30f, 0},
  };
  for (const auto& [linear, code] : cases) EXPECT_EQ(srgb_encode_8bit(linear), code) << linear;
}

}  // namespace
