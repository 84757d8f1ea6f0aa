// The fast span engine against the straightforward one, bit for bit, over random and hostile pixels and
// every light, output and noise type; and the batched surface noise against surface_noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "shading/RowEngine.h"
#include "shading/SurfaceNoiseBatch.h"

namespace quorlen {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

/// Mostly ordinary values, with NaN, infinities, signed zeros and extremes mixed in.
float hostile(std::mt19937& rng) {
  static const float special[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, 1e-40f, -1e30f, 3e38f, 1.0f, -1.0f};
  std::uniform_int_distribution<int> pick(0, 19);
  const int k = pick(rng);
  if (k < 10) return special[k];
  return std::uniform_real_distribution<float>(-60.0f, 60.0f)(rng);
}

float ordinary(std::mt19937& rng) { return std::uniform_real_distribution<float>(-3.0f, 3.0f)(rng); }

/// Twelve input planes and four output planes over [0, r); the span is [x, r).
struct Span {
  int x, r;
  std::vector<float> planes[12];
  DD::Image::ChannelSet noise_channels;
  SpanInputs in{};

  Span(std::mt19937& rng, int x0, int r0, bool noise_input, double hostile_share)
      : x(x0), r(r0), noise_channels(noise_input ? DD::Image::ChannelSet(DD::Image::Mask_RGB) : DD::Image::ChannelSet()) {
    std::bernoulli_distribution rough(hostile_share);
    for (auto& plane : planes) {
      plane.resize(static_cast<std::size_t>(r));
      for (float& v : plane) v = rough(rng) ? hostile(rng) : ordinary(rng);
    }
    const float** targets[4] = {in.color, in.normal, in.position, in.noise_position};
    for (int k = 0; k < 12; ++k) targets[k / 3][k % 3] = planes[k].data();
    in.noise_channels = &noise_channels;
  }

  /// Runs `engine` into fresh planes filled with a marker, so unwritten pixels compare too.
  template <class Engine>
  std::vector<float> run(const Parameters& p, Engine engine) const {
    std::vector<float> out(static_cast<std::size_t>(4 * r), -123.0f);
    const SpanOutputs o{{out.data(), out.data() + r, out.data() + 2 * r, out.data() + 3 * r}};
    engine(p, in, o, x, r);
    return out;
  }
};

/// Passes when the planes hold the same bits, except that any NaN matches any NaN: where two NaNs of
/// different sign meet in one operation, the processor returns the one in its first operand, and which
/// operand comes first is the compiler's choice, not the source's.
::testing::AssertionResult same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0 && !(std::isnan(a[i]) && std::isnan(b[i])))
      return ::testing::AssertionFailure() << "value " << i << ": " << a[i] << " vs " << b[i];
  return ::testing::AssertionSuccess();
}

Parameters random_parameters(std::mt19937& rng, int light, int output, int noise_type) {
  auto any = [&](std::initializer_list<float> v) {
    return *(v.begin() + std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng));
  };
  auto vec = [&] { return Float3{ordinary(rng), ordinary(rng), ordinary(rng)}; };
  Parameters p;
  p.lightType = light;
  p.outputType = output;
  p.surfaceNoise = noise_type >= 0;
  p.surfaceNoiseType = noise_type;
  p.stripesNoiseDir = static_cast<int>(any({-1, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
  p.formatWidth = static_cast<int>(any({1, 35, 36, 640, 1920, 3840}));
  p.noiseFrequency = any({-1.5f, -0.5f, 0.0f, 0.7f, 1.0f, 2.9f, 4.0f});
  p.noiseMultiply = any({1.0f, 0.0f, -3.5f, 40.0f});
  p.noiseOffset = any({0.0f, 1.0f}) == 0.0f ? Float3{} : vec();
  p._parallelLightDir = any({0.0f, 1.0f}) == 0.0f ? Float3{} : vec();
  p._pointLightPos = Float3{ordinary(rng) * 10, ordinary(rng) * 10, -20.0f};
  p.pointLightRadius = any({100.0f, 10.0f, 0.0f, -5.0f, kInf});
  p.pointLightFalloff = any({0.0f, 1.0f, 2.0f, 0.37f, -1.0f});
  p.surfaceSpecularPower = any({10.0f, 1.0f, 0.95f, 0.5f, 30.0f});  // exponents 181, 1, 0, -9, 581
  p.lightBrightness = any({1.0f, 2.5f, 0.0f});
  p._lightColor = vec();
  p._lightScatter = vec();
  p._surfaceDiffuse = vec();
  p._surfaceSpecular = any({0.0f, 1.0f}) == 0.0f ? Float3{} : vec();
  return p;
}

TEST(SpanEngine, MatchesTheReferenceBitForBit) {
  std::mt19937 rng(7);
  for (int light : {0, 1, 5})
    for (int output : {0, 1, -2})
      for (int noise_type : {-1, 0, 1, 2, 3, 9})  // -1: noise off; 9: an unknown type
        for (int trial = 0; trial < 4; ++trial) {
          const Parameters p = random_parameters(rng, light, output, noise_type);
          // Spans below, at and across the engine's chunk of pixels, not starting at 0.
          const int x = std::uniform_int_distribution<int>(0, 5)(rng);
          const int width = trial == 0 ? 1 : std::uniform_int_distribution<int>(2, 150)(rng);
          const Span span(rng, x, x + width, trial % 2 == 0, trial < 2 ? 0.0 : 0.3);
          const auto reference = span.run(p, shade_span_reference);
          EXPECT_TRUE(same_bits(span.run(p, shade_span), reference))
              << "light " << light << " output " << output << " noise " << noise_type << " trial " << trial;
          EXPECT_TRUE(same_bits(span.run(p, shade_span_scalar_noise), reference))
              << "light " << light << " output " << output << " noise " << noise_type << " trial " << trial;
        }
}

TEST(SpanEngine, EmptySpanWritesNothing) {
  std::mt19937 rng(3);
  const Span span(rng, 4, 4, true, 0.0);
  const Parameters p;
  for (auto engine : {shade_span, shade_span_scalar_noise})
    EXPECT_TRUE(same_bits(span.run(p, engine), std::vector<float>(16, -123.0f)));
}

// The fast engine skips the power function below exp2(-200 / e) and returns +0; the library must agree
// on every base up to there, densely just under the bound and sampled further down.
TEST(SpanEngine, PowerUnderflowsToZeroBelowTheSkippedBound) {
  for (float e : {181.0f, 581.0f, 21.0f, 3.5f, 1.5f, kInf}) {
    const float bound = static_cast<float>(std::exp2(-200.0 / static_cast<double>(e)));
    std::uint32_t top;
    std::memcpy(&top, &bound, sizeof top);
    for (std::uint32_t bits = 0; bits < top; bits += (top - bits > 20000 ? 997 : 1)) {
      float base;
      std::memcpy(&base, &bits, sizeof base);
      const float power = std::pow(base, e);
      ASSERT_TRUE(power == 0.0f && !std::signbit(power)) << base << "^" << e << " = " << power;
    }
  }
}

template <class HostNoise>
void expect_batch_matches_surface_noise(std::mt19937& rng) {
  for (int type : {0, 1, 2, 3, -1, 4})
    for (int directions : {-3, 0, 1, 2, 3, 4, 5, 6, 7, 8})
      for (int width : {1, 36, 1920})
        for (int frequency : {-2, -1, 0, 1, 3}) {
          NoiseBatch b;
          b.count = std::uniform_int_distribution<int>(0, 40)(rng);
          for (int i = 0; i < b.count; ++i) {
            b.x[i] = i % 5 == 4 ? hostile(rng) : ordinary(rng);
            b.y[i] = ordinary(rng);
            b.z[i] = i % 7 == 6 ? hostile(rng) : ordinary(rng);
          }
          const Float3 offset{0.5f, -1.25f, 3.0f};
          float batched[kNoiseBatchPoints];
          surface_noise_batch<HostNoise>(b, type, directions, width, frequency, offset, batched);
          for (int i = 0; i < b.count; ++i) {
            const float one = surface_noise(b.x[i], b.y[i], b.z[i], type, directions, width, frequency, offset);
            ASSERT_EQ(std::memcmp(&one, &batched[i], sizeof(float)), 0)
                << "type " << type << " dirs " << directions << " width " << width << " freq " << frequency
                << " at (" << b.x[i] << ", " << b.y[i] << ", " << b.z[i] << "): " << one << " vs " << batched[i];
          }
        }
}

TEST(SurfaceNoiseBatch, ScalarAndBatchedHostNoiseMatchSurfaceNoise) {
  std::mt19937 rng(11);
  expect_batch_matches_surface_noise<ScalarHostNoise>(rng);
#if defined(DDIMAGE_HAS_NOISE_BATCH)
  expect_batch_matches_surface_noise<BatchedHostNoise>(rng);
#endif
}

}  // namespace
}  // namespace quorlen
