// The host's gradient noise: reference values, undefined inputs and coordinates beyond 32 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "DDImage/Noise.h"

namespace {

using DD::Image::noise;

TEST(HostNoise, MatchesTheReferenceToTheLastBit) {
  EXPECT_EQ(noise(0.5, 0.25, 0.125), -0.08358576893806458);
  EXPECT_EQ(noise(1.3, 2.1, 0.7), -0.3870394106429184);
  EXPECT_EQ(noise(10.7, -3.3, 5.5), 0.37074540496000014);
  EXPECT_EQ(noise(-7.1, 3.9, -12.45), 0.07321610853541713);
}

TEST(HostNoise, UndefinedCoordinatesGiveNaN) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (double bad : {kNaN, kInf, -kInf}) {
    EXPECT_TRUE(std::isnan(noise(bad, 0.5, 0.5))) << bad;
    EXPECT_TRUE(std::isnan(noise(0.5, bad, 0.5))) << bad;
    EXPECT_TRUE(std::isnan(noise(0.5, 0.5, bad))) << bad;
  }
}

TEST(HostNoise, LatticeRepeatsEvery256CellsAtAnyMagnitude) {
  const double reference = noise(0.5, 0.25, 0.125);
  // The fraction stays exact in all of these, so only the cell decides.
  for (double shift : {256.0, -256.0, 0x1p31, -0x1p31, 0x1p33, -0x1p40, 0x1p48})
    EXPECT_EQ(noise(0.5 + shift, 0.25 + shift, 0.125 - shift), reference) << shift;
  EXPECT_EQ(noise(7.5 + 0x1p40, 0.25, 0.125), noise(7.5, 0.25, 0.125));
  EXPECT_EQ(noise(-0x1p40 - 7.5, 0.25, 0.125), noise(-7.5, 0.25, 0.125));
  // Integral coordinates up to and beyond the 64-bit range: cell 0, fraction 0.
  for (double big : {0x1p62 - 512, 0x1p62, 0x1p63, -0x1p63, 0x1p64, 1e300, -1e300})
    EXPECT_EQ(noise(big, 0.25, 0.125), noise(0.0, 0.25, 0.125)) << big;
  EXPECT_NE(noise(7.5, 0.25, 0.125), noise(0.5, 0.25, 0.125));
}

}  // namespace
