// The sRGB transfer of 8-bit previews, against published reference values.
#include "hosting/images/srgb.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

using quorlen::hosting::srgb_encode;
using quorlen::hosting::srgb_encode_8bit;
using quorlen::hosting::srgb_encode_8bit_by_formula;

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

// The table gives the formula's code for every float (checked once over every float up to 1.5 and their
// negatives); here, the floats on both sides of every step of the code, and random ones.
TEST(Srgb, EightBitTableGivesTheFormulasCode) {
  int steps = 0, mismatches = 0;
  std::uint8_t previous = 0;
  const std::uint32_t one = std::bit_cast<std::uint32_t>(1.0f);
  // Walk the codes upwards by bisection, as a step is between two adjacent floats.
  for (int c = 1; c < 256; ++c) {
    std::uint32_t low = 1, high = one;
    while (low < high) {
      const std::uint32_t mid = low + (high - low) / 2;
      if (srgb_encode_8bit_by_formula(std::bit_cast<float>(mid)) >= c)
        high = mid;
      else
        low = mid + 1;
    }
    for (std::uint32_t b = high - 8; b <= high + 8; ++b) {
      const float v = std::bit_cast<float>(b);
      mismatches += srgb_encode_8bit(v) != srgb_encode_8bit_by_formula(v);
    }
    const std::uint8_t code = srgb_encode_8bit(std::bit_cast<float>(high));
    steps += code != previous;
    previous = code;
  }
  EXPECT_EQ(steps, 255) << "every code is reached";
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::uint32_t> bits(0, std::bit_cast<std::uint32_t>(2.0f));
  for (int i = 0; i < 200000; ++i) {
    const float v = std::bit_cast<float>(bits(rng));
    mismatches += srgb_encode_8bit(v) != srgb_encode_8bit_by_formula(v);
    mismatches += srgb_encode_8bit(-v) != srgb_encode_8bit_by_formula(-v);
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
