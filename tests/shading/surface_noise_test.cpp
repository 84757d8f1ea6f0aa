// The stripe profile, noise samples, octave sums and the four noise types. Expected bits come from an
// independent double-precision model of the same arithmetic, rounded to single at the same steps.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "DDImage/Noise.h"
#include "shading/SurfaceNoise.h"
#include "shading/SurfaceNoiseBatch.h"

namespace quorlen {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kX = -0.1f, kY = -0.3f, kZ = 1.3f;
const Float3 kOffset{0.25f, 0.5f, 0.75f};

/// -0.5 plus |sample / f| at the given octave frequencies, in order.
float octave_sum(const std::vector<float>& octaves) {
  float sum = -0.5f;
  for (float f : octaves) sum += std::fabs(noise_sample(kX, kY, kZ, f, kOffset) / f);
  return sum;
}

TEST(StripeProfile, KnownPhases) {
  for (float k : {0.0f, 1.0f, 1.6f, -2.5f, 1000.0f}) EXPECT_EQ(stripe_profile(0.0f, k), -0.25f) << k;
  struct Case {
    float u, expected;
  };
  const Case cases[] = {{0.15625f, 0.5f},           {0.46875f, -0.5f},         {-1.0f, 0x1.0ac8b0p-3f},
                        {0.3f, -0x1.779dc2p-3f},    {1.234f, -0x1.4b6f14p-2f}, {7.77f, 0x1.ddebd4p-14f},
                        {123.456f, -0x1.55ef3ep-2f}};
  for (const Case& c : cases) EXPECT_EQ(stripe_profile(c.u, 1.6f), c.expected) << c.u;
}

TEST(NoiseSample, RotatesScalesAndShifts) {
  struct Case {
    float frequency, expected;
  };
  const Case cases[] = {
      {1, -0x1.3d518ep-1f}, {3, -0x1.1f01a0p-3f}, {8, 0x1.456ac2p-3f}, {100, -0x1.18ee30p-2f}};
  for (const Case& c : cases)
    EXPECT_EQ(noise_sample(kX, kY, kZ, c.frequency, kOffset), c.expected) << c.frequency;
}

TEST(NoiseSample, OffsetIsNeverScaled) {
  const Float3 moved{kOffset.x + 1.0f, kOffset.y, kOffset.z};
  for (float f : {0.0f, 1.0f, 8.0f, 1000.0f}) {
    EXPECT_EQ(noise_sample(0, 0, 0, f, kOffset), static_cast<float>(DD::Image::noise(100.25, 0.5, 0.75)));
    EXPECT_EQ(noise_sample(0, 0, 0, f, moved), static_cast<float>(DD::Image::noise(101.25, 0.5, 0.75)));
  }
}

TEST(Turbulence, NoOctaveGivesExactlyMinusHalf) {
  struct Case {
    float start;
    int width;
  };
  const Case cases[] = {{2, 1},
                        {2, 35},
                        {1, 23},
                        {1, -100},
                        {-1, INT_MAX},
                        {-5, INT_MAX},
                        {kNaN, INT_MAX},
                        {-kInf, INT_MAX},
                        {kInf, INT_MAX},
                        {1e9f, INT_MAX},
                        {-2147483648.0f, INT_MAX}};
  for (const Case& c : cases)
    EXPECT_EQ(turbulence(kX, kY, kZ, c.start, c.width, kOffset), -0.5f) << c.start << " " << c.width;
}

TEST(Turbulence, OctavesDoubleUpToTheInclusiveBound) {
  struct Case {
    float start;
    int width;
    std::vector<float> octaves;
  };
  std::vector<float> tiny;  // from 2^-24 up to 2^27, the last power of two within INT_MAX / 12
  for (int e = -24; e <= 27; ++e) tiny.push_back(std::ldexp(1.0f, e));
  const Case cases[] = {{2, 36, {3}},
                        {2, 1920, {3, 6, 12, 24, 48, 96}},
                        {1, 1920, {2, 4, 8, 16, 32, 64, 128}},
                        {4, 1920, {5, 10, 20, 40, 80, 160}},
                        {-1.0f + 0x1p-24f, INT_MAX, tiny}};
  for (const Case& c : cases)
    EXPECT_EQ(turbulence(kX, kY, kZ, c.start, c.width, kOffset), octave_sum(c.octaves)) << c.start;
  EXPECT_NE(octave_sum({3}), -0.5f);
  EXPECT_EQ(turbulence(kX, kY, kZ, 1, 1920, kOffset), -0x1.5a2d96p-2f);
  EXPECT_EQ(turbulence(kX, kY, kZ, 2, 1920, kOffset), -0x1.9c9e86p-2f);
  EXPECT_EQ(turbulence(kX, kY, kZ, 4, 1920, kOffset), -0x1.d1ab1cp-2f);
}

TEST(SurfaceNoise, BelowTheFirstOctaveEveryTypeIsConstant) {
  for (int width : {INT_MIN, 0, 1, 23}) {
    EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::turbulence1, 0, width, 1, kOffset), 0.025f);
    EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::turbulence2, 0, width, 1, kOffset), -0.0125f);
    const float stripes = surface_noise(kX, kY, kZ, NoiseType::stripes, 0, width, 1, kOffset);
    EXPECT_EQ(stripes, 0.005f * stripe_profile(-1.0f, 1.6f));
    EXPECT_NEAR(stripes, 0.000651328, 5e-10);
  }
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::turbulence1, 0, 35, 1, kOffset), 0.025f);
  EXPECT_NE(surface_noise(kX, kY, kZ, NoiseType::turbulence1, 0, 36, 1, kOffset), 0.025f);
  EXPECT_NE(surface_noise(kX, kY, kZ, NoiseType::turbulence2, 0, 24, 1, kOffset), -0.0125f);
}

TEST(SurfaceNoise, StripeDirectionsSelectCoordinates) {
  const float x = 0.1f, y = 0.2f, z = 0.4f;
  const float phase[8] = {0.0f, x, y, x + y, z, x + z, y + z, (x + y) + z};
  for (int d = 0; d < 8; ++d) {
    const float u = d == 0 ? -1.0f : phase[d] - 1.0f;
    EXPECT_EQ(surface_noise(x, y, z, NoiseType::stripes, d, 1, 1, kOffset), 0.005f * stripe_profile(u, 1.6f))
        << d;
  }
}

TEST(SurfaceNoise, EachTypeAtAFullWidth) {
  const float stripes[8] = {-0x1.e46778p-10f, 0x1.f43d32p-11f,  -0x1.0d9b7ep-14f, -0x1.286b5ap-9f,
                            -0x1.39888cp-9f,  -0x1.502792p-11f, 0x1.89c64ep-10f,  -0x1.833efap-10f};
  for (int d = 0; d < 8; ++d)
    EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::stripes, d, 1920, 2, kOffset), stripes[d]) << d;
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::turbulence1, 0, 1920, 1, kOffset), 0x1.4a186cp-6f);
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::turbulence2, 0, 1920, 1, kOffset), -0x1.767f6ap-8f);
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::snoise, 0, 1920, 1, kOffset), 0x1.a088a6p-10f);
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::snoise, 0, 1920, 1, kOffset),
            0.01f * noise_sample(kX, kY, kZ, 8, kOffset));
  // Frequency 0 starts the octaves at 1.
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::turbulence1, 0, 1920, 0, kOffset),
            -0.05f * octave_sum({1, 2, 4, 8, 16, 32, 64, 128}));

  const float turbulence1 = surface_noise(kX, kY, kZ, NoiseType::turbulence1, 0, 1920, 2, kOffset);
  for (int d : {8, -1, 255, INT_MIN, INT_MAX})
    EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::stripes, d, 1920, 2, kOffset), turbulence1) << d;
  for (int type : {-1, 4, INT_MIN, INT_MAX}) {
    const float flat = surface_noise(kX, kY, kZ, noise_type_of(type), 0, 1920, 2, kOffset);
    EXPECT_EQ(flat, 0.0f) << type;
    EXPECT_FALSE(std::signbit(flat)) << type;
  }
}

TEST(SurfaceNoise, SnoiseAtFrequency0IsTheSameEverywhere) {
  const float expected = 0.01f * static_cast<float>(DD::Image::noise(100.25, 0.5, 0.75));
  const float positions[][3] = {{kX, kY, kZ}, {0, 0, 0}, {1e6f, -3, 7}, {-0.0f, 1e-30f, -1e30f}};
  for (const auto& p : positions)
    EXPECT_EQ(surface_noise(p[0], p[1], p[2], NoiseType::snoise, 0, 1920, 0, kOffset), expected);
}

TEST(SurfaceNoise, ExtremeFrequenciesDoNotOverflow) {
  // 8 * INT_MAX and 2 * INT_MIN only fit 64 bits; wrapped in 32 bits they would be -8 and 0.
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::snoise, 0, 1920, INT_MAX, kOffset),
            0.01f * noise_sample(kX, kY, kZ, 17179869176.0f, kOffset));
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::turbulence1, 0, 1920, INT_MIN, kOffset), 0.025f);
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::stripes, 0, 1920, INT_MIN, kOffset),
            0.005f * stripe_profile(-1.0f, 1.6f));
  EXPECT_EQ(surface_noise(kX, kY, kZ, NoiseType::turbulence2, 0, 1920, INT_MIN, kOffset), -0.0125f);
}

TEST(IntegerFrequency, TruncatesAndSaturates) {
  struct Case {
    float value;
    int expected;
  };
  const Case cases[] = {{1.9f, 1},
                        {0.7f, 0},
                        {-0.7f, 0},
                        {-1.5f, -1},
                        {-0.0f, 0},
                        {kNaN, 0},
                        {kInf, INT_MAX},
                        {-kInf, INT_MIN},
                        {3e9f, INT_MAX},
                        {-3e9f, INT_MIN},
                        {2147483648.0f, INT_MAX},
                        {-2147483648.0f, INT_MIN},
                        {2147483520.0f, 2147483520}};
  for (const Case& c : cases) EXPECT_EQ(integer_frequency(c.value), c.expected) << c.value;
}

/// surface_noise_batch against surface_noise, bit for bit, for every noise type.
template <class HostNoise>
::testing::AssertionResult batch_matches(const NoiseBatch& b, int width, int frequency,
                                         const Float3& offset) {
  for (int type = 0; type < 4; ++type)
    for (int directions : {0, 5}) {
      float batched[kNoiseBatchPoints];
      surface_noise_batch<HostNoise>(b, noise_type_of(type), directions, width, frequency, offset, batched);
      for (int i = 0; i < b.count; ++i) {
        const float one =
            surface_noise(b.x[i], b.y[i], b.z[i], noise_type_of(type), directions, width, frequency, offset);
        if (std::memcmp(&one, &batched[i], sizeof(float)) != 0)
          return ::testing::AssertionFailure()
                 << "type " << type << " directions " << directions << " point " << i << " of " << b.count
                 << " at (" << b.x[i] << ", " << b.y[i] << ", " << b.z[i] << "): " << one << " vs "
                 << batched[i];
      }
    }
  return ::testing::AssertionSuccess();
}

// Whole batches, so the host's chunks of points and their last partial group are all reached, with
// positions on integers and halves (cells edges after the rotation are reached by the random ones),
// signed zeros and values whose noise position is not finite or beyond 32-bit cells.
TEST(SurfaceNoiseBatch, FullBatchesMatchSurfaceNoise) {
  std::mt19937 rng(21);
  std::uniform_real_distribution<float> ordinary(-12.0f, 12.0f);
  const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 3e9f, -3e9f, kInf, kNaN, 1e-40f};
  for (int count : {kNoiseBatchPoints, kNoiseBatchPoints - 1, 129, 128, 127, 5, 1}) {
    NoiseBatch b;
    b.count = count;
    for (int i = 0; i < count; ++i) {
      const bool odd = i % 9 == 8;
      b.x[i] = odd ? special[(i / 9) % 10] : ordinary(rng);
      b.y[i] = i % 4 == 0 ? std::round(ordinary(rng)) : ordinary(rng);
      b.z[i] = i % 7 == 3 ? special[i % 10] : ordinary(rng);
    }
    for (int frequency : {0, 1, 3}) {
      EXPECT_TRUE(batch_matches<ScalarHostNoise>(b, 1920, frequency, kOffset)) << count;
#if defined(DDIMAGE_HAS_NOISE_BATCH)
      EXPECT_TRUE(batch_matches<BatchedHostNoise>(b, 1920, frequency, kOffset)) << count;
      EXPECT_TRUE(batch_matches<WideningBatchedHostNoise>(b, 1920, frequency, kOffset)) << count;
#endif
    }
  }
}

}  // namespace
}  // namespace quorlen
