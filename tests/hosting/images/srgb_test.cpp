// The sRGB transfer of 8-bit previews, against reference values of the standard curve (IEC 61966-2-1).
#include "hosting/images/srgb.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

using quorlen::hosting::srgb_encode;
using quorlen::hosting::srgb_encode_16bit;
using quorlen::hosting::srgb_encode_8bit;
using quorlen::hosting::srgb_encode_8bit_by_formula;
using quorlen::hosting::srgb_encode_8bit_pixels;

// Expected values below were evaluated from the standard's formula (12.92 x up to 0.0031308, else
// 1.055 x^(1/2.4) - 0.055) in 60-digit decimal arithmetic, codes scaled by 255 or 65535 and rounded half up;
// the codes take the input as the float nearest the decimal shown.

TEST(Srgb, EncodesReferenceValues) {
  const std::pair<double, double> cases[] = {
      {0.0, 0.0},
      {0.001, 0.01292},
      {0.0031308, 0.040449936000000},  // the last point of the linear segment
      {0.01, 0.099852822734128},
      {0.18, 0.461356129500442},
      {0.2140, 0.499955549340206},
      {0.5, 0.735356983052449},
      {1.0, 1.0},
  };
  for (const auto& [linear, encoded] : cases) EXPECT_NEAR(srgb_encode(linear), encoded, 1e-12) << linear;
  // Just past the joint the power segment takes over, meeting the line within 3e-8.
  EXPECT_NEAR(srgb_encode(std::nextafter(0.0031308, 1.0)), 0.040449907482690, 1e-12);
  EXPECT_EQ(srgb_encode(2.0), 1.0);
  EXPECT_EQ(srgb_encode(-0.5), 0.0);
  EXPECT_EQ(srgb_encode(std::numeric_limits<double>::quiet_NaN()), 0.0);
}

TEST(Srgb, CodesAtReferencePointsRoundToNearestAndClampTheRest) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float linear;
    int code8, code16;
  };
  const Case cases[] = {
      {0.0f, 0, 0},
      {1e-30f, 0, 0},
      {0.0001f, 0, 85},  // 0.3295 and 84.69 before rounding
      {0.001f, 3, 847},
      {0.0031308f, 10, 2651},
      {0.01f, 25, 6544},
      {0.18f, 118, 30235},
      {0.2140f, 127, 32765},       // 127.4887 before rounding
      {0.214041140f, 128, 32768},  // 127.500001: just past the half
      {0.5f, 188, 48192},
      {1.0f, 255, 65535},
      {1.0001f, 255, 65535},
      {2.0f, 255, 65535},
      {1e30f, 255, 65535},
      {inf, 255, 65535},
      {-0.0f, 0, 0},
      {-1e-30f, 0, 0},
      {-0.5f, 0, 0},
      {-inf, 0, 0},
      {nan, 0, 0},
      {-nan, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(srgb_encode_8bit(c.linear), c.code8) << c.linear;
    EXPECT_EQ(srgb_encode_8bit_by_formula(c.linear), c.code8) << c.linear;
    EXPECT_EQ(srgb_encode_16bit(c.linear), c.code16) << c.linear;
  }
}

// Where the code steps from c - 1 to c: the decoding of the code's lower half, (c - 0.5) / 255, in long
// double. No float lies within 2.8e-11 (relative) of any of these points, so long double decides every
// float correctly.
long double step_point(int c) {
  const long double y = (c - 0.5L) / 255.0L;
  return y <= 0.04045L ? y / 12.92L : std::pow((y + 0.055L) / 1.055L, 2.4L);
}

// The table against the decoded step points: the floats on both sides of every step, so a table that
// steps one float early or late anywhere fails. Between steps the code cannot change, as the table is a
// count of the thresholds at or below a value.
TEST(Srgb, EightBitCodesStepWhereTheDecodedHalfCodesAre) {
  int wrong = 0;
  for (int c = 1; c < 256; ++c) {
    const long double point = step_point(c);
    // The first float at or past the point, then the floats around it.
    std::uint32_t first = std::bit_cast<std::uint32_t>(static_cast<float>(point));
    while (std::bit_cast<float>(first) < point) ++first;
    while (std::bit_cast<float>(first - 1) >= point) --first;
    for (std::uint32_t b = first - 8; b < first + 8; ++b) {
      const int want = b < first ? c - 1 : c;
      const float v = std::bit_cast<float>(b);
      if (srgb_encode_8bit(v) != want) {
        ADD_FAILURE() << "code " << c << ": " << v << " gives " << int(srgb_encode_8bit(v));
        if (++wrong > 10) return;
      }
    }
  }
}

// The table's shortcut (buckets by the top bits) against the formula it is made from, on random floats of
// both signs up to 2, and the whole-line form against the single values.
TEST(Srgb, EightBitTableGivesTheFormulasCode) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<std::uint32_t> bits(0, std::bit_cast<std::uint32_t>(2.0f));
  int mismatches = 0;
  std::vector<float> line;
  for (int i = 0; i < 200000; ++i) {
    const float v = std::bit_cast<float>(bits(rng));
    mismatches += srgb_encode_8bit(v) != srgb_encode_8bit_by_formula(v);
    mismatches += srgb_encode_8bit(-v) != srgb_encode_8bit_by_formula(-v);
    if (i < 3000) line.push_back(v);
  }
  EXPECT_EQ(mismatches, 0);

  // Pixels of four floats each, channels taken out of order.
  std::vector<std::uint8_t> rgb(line.size() / 4 * 3);
  srgb_encode_8bit_pixels(line.data(), line.size() / 4, 4, 2, 0, 3, rgb.data());
  for (std::size_t p = 0; p < line.size() / 4; ++p) {
    ASSERT_EQ(rgb[3 * p], srgb_encode_8bit(line[4 * p + 2])) << p;
    ASSERT_EQ(rgb[3 * p + 1], srgb_encode_8bit(line[4 * p])) << p;
    ASSERT_EQ(rgb[3 * p + 2], srgb_encode_8bit(line[4 * p + 3])) << p;
  }
}

}  // namespace
