// The host's gradient noise: reference values, undefined inputs and coordinates beyond 32 bits.
#include "DDImage/Noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <vector>

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

/// noise_batch over the points (double or float), compared bit for bit with noise at each point; the
/// slots after the last point (as many as a group of lanes could spill into) must stay untouched.
template <class T>
void expect_batch_matches(const std::vector<T>& x, const std::vector<T>& y, const std::vector<T>& z) {
  constexpr std::size_t kGuard = 8;
  std::vector<double> out(x.size() + kGuard, -7.0);
  DD::Image::noise_batch(x.data(), y.data(), z.data(), out.data(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double one = noise(x[i], y[i], z[i]);
    ASSERT_EQ(std::memcmp(&one, &out[i], sizeof(double)), 0)
        << "point " << i << " of " << x.size() << " at (" << x[i] << ", " << y[i] << ", " << z[i]
        << "): " << one << " vs " << out[i];
  }
  for (std::size_t i = x.size(); i < out.size(); ++i)
    ASSERT_EQ(out[i], -7.0) << "wrote past " << x.size() << " points";
}

// Random points of type T over each range, in batches of each length.
template <class T>
void expect_random_batches_match(unsigned seed, std::initializer_list<T> ranges,
                                 std::initializer_list<std::size_t> lengths) {
  std::mt19937 rng(seed);
  for (T range : ranges) {
    std::uniform_real_distribution<T> u(-range, range);
    for (std::size_t n : lengths) {
      std::vector<T> x(n), y(n), z(n);
      for (std::size_t i = 0; i < n; ++i) {
        x[i] = u(rng);
        y[i] = u(rng);
        z[i] = u(rng);
      }
      expect_batch_matches(x, y, z);
    }
  }
}

TEST(HostNoiseBatch, MatchesScalarNoiseBitForBit) {
  // Lengths that leave 0 to 3 points beyond the last group of four, on both sides of the chunk the batch
  // works in (128 points) and of several chunks.
  expect_random_batches_match<double>(5, {1.0, 300.0, 1e6, 3e9, 1e20},
                                      {0, 1, 2, 3, 4, 5, 7, 127, 128, 129, 130, 131, 256, 259, 998, 1001});
}

TEST(HostNoiseBatch, HostileCoordinatesMatchScalarNoise) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  // Signed zeros, integers, the edges of 32-bit cells and values beyond them, mixed with ordinary ones so
  // that groups of four are sometimes all fine and sometimes hold one bad lane.
  const std::vector<double> special = {kNaN,     kInf,          -kInf,      0.0,        -0.0,         1.0,
                                       -1.0,     0.5,           -0.5,       255.999999, 0x1p31 - 0.5, 0x1p31,
                                       -0x1p31,  -0x1p31 - 0.5, 0x1p31 + 1, 0x1p62,     -0x1p63,      1e300,
                                       4.9e-324, -4.9e-324,     1e-300,     0.1,        -2.75};
  std::vector<double> x, y, z;
  for (std::size_t i = 0; i < special.size(); ++i)
    for (std::size_t j = 0; j < special.size(); ++j) {
      x.push_back(special[i]);
      y.push_back(special[j]);
      z.push_back(special[(i + 3 * j) % special.size()]);
    }
  expect_batch_matches(x, y, z);
  expect_batch_matches(z, x, y);
  expect_batch_matches(y, z, x);
}

TEST(HostNoiseBatch, SinglePrecisionPointsMatchScalarNoise) {
  expect_random_batches_match<float>(9, {1.0f, 300.0f, 1e6f, 3e9f, 1e20f},
                                     {0, 1, 2, 3, 4, 5, 127, 128, 129, 131, 256, 1001});
}

TEST(HostNoiseBatch, HostileSinglePrecisionPointsMatchScalarNoise) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kMax = std::numeric_limits<float>::max();
  constexpr float kTiny = std::numeric_limits<float>::denorm_min();
  // 2147483520 is the last float below 2^31; -2147483904 the first below -2^31; 1e30 and kMax take the
  // remainder path of the cell.
  const std::vector<float> special = {
      kNaN,          -kNaN,         kInf,           -kInf,          0.0f,         -0.0f,      kTiny,
      -kTiny,        1.0f,          -1.0f,          0.99999994f,    -0.99999994f, 255.99998f, 256.0f,
      2147483520.0f, 2147483648.0f, -2147483648.0f, -2147483904.0f, 1e30f,        -kMax,      0.1f};
  std::vector<float> x, y, z;
  for (std::size_t i = 0; i < special.size(); ++i)
    for (std::size_t j = 0; j < special.size(); ++j) {
      x.push_back(special[i]);
      y.push_back(special[j]);
      z.push_back(special[(i + 5 * j) % special.size()]);
    }
  expect_batch_matches(x, y, z);
  expect_batch_matches(z, x, y);
}

// One point that needs the scalar path, at every position of a batch of ordinary points: the rest of its
// group of four, and its neighbours across group and chunk edges, keep their values.
TEST(HostNoiseBatch, OneBadLaneAnywhereLeavesItsNeighboursExact) {
  constexpr std::size_t n = 134;
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> u(-40.0, 40.0);
  std::vector<double> x(n), y(n), z(n);
  for (std::size_t i = 0; i < n; ++i) {
    x[i] = u(rng);
    y[i] = u(rng);
    z[i] = u(rng);
  }
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), 0x1p40 + 0.5, -0x1p31}) {
    for (std::size_t at = 0; at < n; ++at) {
      std::vector<double> xb = x;
      xb[at] = bad;
      expect_batch_matches(xb, y, z);
      if (HasFatalFailure()) return;
    }
  }
}

// Points on and next to the lattice planes, where the fraction is 0 or just below 1 and the gradients
// take their signed zeros; every cell of the table is visited along each axis.
TEST(HostNoiseBatch, LatticePlanesMatchScalarNoise) {
  std::vector<double> x, y, z;
  const double offsets[] = {0.0, -0.0, 0x1p-52, 1.0 - 0x1p-53, 0.5};
  for (int cell = -256; cell < 256; ++cell)
    for (double a : offsets)
      for (double b : offsets) {
        x.push_back(cell + a);
        y.push_back(b);
        z.push_back(-cell - a);
        x.push_back(b);
        y.push_back(cell + a);
        z.push_back(a);
      }
  expect_batch_matches(x, y, z);
  expect_batch_matches(z, x, y);
}

}  // namespace
