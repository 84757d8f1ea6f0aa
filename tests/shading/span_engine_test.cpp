// The fast span engine against the straightforward one, bit for bit, over random and hostile pixels and
// every light, output and noise type; its lane hypotenuse against the library's; and the batched surface
// noise against surface_noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "shading/SpanEngine.h"
#include "shading/SurfaceNoiseBatch.h"

#if defined(__SSE2__)
#include "shading/HypotLanes.h"
#endif

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
      : x(x0),
        r(r0),
        noise_channels(noise_input ? DD::Image::ChannelSet(DD::Image::Mask_RGB) : DD::Image::ChannelSet()) {
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
  std::vector<float> run(const ShadingSettings& s, Engine engine) const {
    std::vector<float> out(static_cast<std::size_t>(4 * r), -123.0f);
    const SpanOutputs o{{out.data(), out.data() + r, out.data() + 2 * r, out.data() + 3 * r}};
    engine(s, in, o, x, r);
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

ShadingSettings random_settings(std::mt19937& rng, int light, int output, int noise_type) {
  auto any = [&](std::initializer_list<float> v) {
    return *(v.begin() + std::uniform_int_distribution<std::size_t>(0, v.size() - 1)(rng));
  };
  auto vec = [&] { return Float3{ordinary(rng), ordinary(rng), ordinary(rng)}; };
  ShadingSettings p;
  p.light_type = light_type_of(light);
  p.output_type = output_type_of(output);
  p.surface_noise = noise_type >= 0;
  p.noise_type = noise_type_of(noise_type);
  p.stripe_directions = static_cast<int>(any({-1, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
  p.format_width = static_cast<int>(any({1, 35, 36, 640, 1920, 3840}));
  p.noise_frequency = any({-1.5f, -0.5f, 0.0f, 0.7f, 1.0f, 2.9f, 4.0f});
  p.noise_multiply = any({1.0f, 0.0f, -3.5f, 40.0f});
  p.noise_offset = any({0.0f, 1.0f}) == 0.0f ? Float3{} : vec();
  p.parallel_light_direction = any({0.0f, 1.0f}) == 0.0f ? Float3{} : vec();
  p.point_light_position = Float3{ordinary(rng) * 10, ordinary(rng) * 10, -20.0f};
  p.point_light_radius = any({100.0f, 10.0f, 0.0f, -5.0f, kInf});
  p.point_light_falloff = any({0.0f, 1.0f, 2.0f, 0.37f, -1.0f});
  p.surface_specular_power = any({10.0f, 1.0f, 0.95f, 0.5f, 30.0f});  // exponents 181, 1, 0, -9, 581
  p.light_brightness = any({1.0f, 2.5f, 0.0f});
  p.light_color = vec();
  p.light_scatter = vec();
  p.surface_diffuse = vec();
  p.surface_specular = any({0.0f, 1.0f}) == 0.0f ? Float3{} : vec();
  return p;
}

TEST(SpanEngine, MatchesTheReferenceBitForBit) {
  std::mt19937 rng(7);
  for (int light : {0, 1, 5})
    for (int output : {0, 1, -2})
      for (int noise_type : {-1, 0, 1, 2, 3, 9})  // -1: noise off; 9: an unknown type
        for (int trial = 0; trial < 4; ++trial) {
          const ShadingSettings p = random_settings(rng, light, output, noise_type);
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
  const ShadingSettings p;
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

// The fast engine lights four pixels per step and the rest one by one: spans of every width around the
// step and the noise chunk, at offsets that shift where the steps fall.
TEST(SpanEngine, MatchesTheReferenceAtEveryTailLength) {
  std::mt19937 rng(19);
  for (int width : {1, 2, 3, 4, 5, 6, 7, 8, 9, 61, 63, 64, 65, 66, 67, 131})
    for (int x : {0, 1, 3})
      for (int light : {0, 1})
        for (int output : {0, 1})
          for (int noise_type : {-1, 3}) {
            const ShadingSettings p = random_settings(rng, light, output, noise_type);
            const Span span(rng, x, x + width, true, 0.3);
            EXPECT_TRUE(same_bits(span.run(p, shade_span), span.run(p, shade_span_reference)))
                << "width " << width << " x " << x << " light " << light << " output " << output << " noise "
                << noise_type;
          }
}

/// A lit span: normals facing the light, so dot products are mostly well above 0 and a high exponent
/// still needs the power function; then in every group of four pixels one pixel gets a special value in
/// one of its normal, position or colour components, rotating through the lanes and the components.
Span lit_span(std::mt19937& rng, int width) {
  static const float special[] = {kNaN, -kNaN, kInf, -kInf, 0.0f, -0.0f, 1e-40f, 3e38f, -3e38f, 1e30f};
  Span span(rng, 0, width, false, 0.0);
  std::uniform_real_distribution<float> tilt(-0.4f, 0.4f), across(-15.0f, 15.0f), depth(-3.0f, 3.0f);
  for (int i = 0; i < width; ++i) {
    span.planes[3][i] = tilt(rng);
    span.planes[4][i] = tilt(rng);
    span.planes[5][i] = 1.0f;
    span.planes[6][i] = across(rng);
    span.planes[7][i] = across(rng);
    span.planes[8][i] = depth(rng);
  }
  for (int group = 0; group * 4 < width; ++group) {
    const int i = group * 4 + group % 4;
    if (i < width) span.planes[group % 9][i] = special[group % 10];
  }
  return span;
}

// Lanes where the power function's result is known sit next to lanes that call it, and lanes whose
// distance goes through the library's own special cases next to ordinary ones.
TEST(SpanEngine, MatchesTheReferenceWhereSpecialPixelsShareLanesWithOrdinaryOnes) {
  std::mt19937 rng(23);
  for (int light : {0, 1})
    for (int output : {0, 1})
      for (float specular_power : {10.0f, 1.0f, 0.95f, 0.5f, 1.02f})  // exponents 181, 1, 0, -9, 1.4
        for (float falloff : {0.0f, 1.0f, 2.0f, 0.37f, -1.0f, kNaN})
          for (float radius : {30.0f, 0.0f, kInf, kNaN}) {
            ShadingSettings p;
            p.light_type = light_type_of(light);
            p.output_type = output_type_of(output);
            p.parallel_light_direction = {0.1f, -0.2f, -1.0f};
            p.point_light_position = {1.0f, -2.0f, -20.0f};
            p.surface_specular_power = specular_power;
            p.point_light_falloff = falloff;
            p.point_light_radius = radius;
            p.surface_specular = {0.5f, 0.25f, 1.0f};
            p.light_scatter = {0.1f, 0.2f, 0.3f};
            const Span span = lit_span(rng, 4 * 40 + 3);
            EXPECT_TRUE(same_bits(span.run(p, shade_span), span.run(p, shade_span_reference)))
                << "light " << light << " output " << output << " power " << specular_power << " falloff "
                << falloff << " radius " << radius;
          }
}

#if defined(__SSE2__)
/// hypot_lanes of four pairs against hypot_f of each, bit for bit, reporting the first lane that differs.
::testing::AssertionResult hypot_lanes_match(const float (&a)[4], const float (&b)[4]) {
  alignas(16) float lanes[4];
  _mm_store_ps(lanes, hypot_lanes(_mm_loadu_ps(a), _mm_loadu_ps(b)));
  for (int l = 0; l < 4; ++l) {
    const float one = hypot_f(a[l], b[l]);
    if (std::memcmp(&one, &lanes[l], sizeof one) != 0)
      return ::testing::AssertionFailure()
             << "hypot(" << a[l] << ", " << b[l] << ") = " << one << ", lane " << l << " gives " << lanes[l];
  }
  return ::testing::AssertionSuccess();
}

float from_bits(std::uint32_t bits) {
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The lanes form the library's hypotenuse themselves; hold them to it over every pair of edge values (in
// all lane positions, next to ordinary pairs) and over random bit patterns of all magnitudes.
TEST(HypotLanes, MatchTheLibraryBitForBit) {
  const float edges[] = {0.0f,
                         -0.0f,
                         from_bits(1),
                         from_bits(0x007fffff),
                         from_bits(0x00800000),
                         1e-30f,
                         1e-20f,
                         1.0f,
                         -1.0f,
                         3.0f,
                         4.0f,
                         1.8446743e19f,
                         1.8446744e19f,
                         2.4e38f,
                         3.4028235e38f,
                         -3.4028235e38f,
                         kInf,
                         -kInf,
                         kNaN,
                         -kNaN,
                         from_bits(0x7fa00000),
                         from_bits(0xffc00123)};
  for (float a : edges)
    for (float b : edges)
      for (int lane = 0; lane < 4; ++lane) {
        float as[4] = {1.5f, -2.0f, 7.0f, 0.25f}, bs[4] = {3.0f, 1e-3f, -5.0f, 1e10f};
        as[lane] = a;
        bs[lane] = b;
        ASSERT_TRUE(hypot_lanes_match(as, bs));
      }

  std::mt19937 rng(29);
  std::uniform_int_distribution<std::uint32_t> bits;
  std::uniform_int_distribution<int> exponent(-130, 130);
  for (int trial = 0; trial < 1 << 20; ++trial) {
    float as[4], bs[4];
    for (int l = 0; l < 4; ++l) {
      as[l] = from_bits(bits(rng));
      // Half the pairs of comparable size, where both squares count in the sum.
      bs[l] = trial % 2 == 0 ? from_bits(bits(rng)) : std::ldexp(as[l], exponent(rng) / 10) * 1.37f;
    }
    ASSERT_TRUE(hypot_lanes_match(as, bs));
  }
}
#endif

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
          surface_noise_batch<HostNoise>(b, noise_type_of(type), directions, width, frequency, offset,
                                         batched);
          for (int i = 0; i < b.count; ++i) {
            const float one = surface_noise(b.x[i], b.y[i], b.z[i], noise_type_of(type), directions, width,
                                            frequency, offset);
            ASSERT_EQ(std::memcmp(&one, &batched[i], sizeof(float)), 0)
                << "type " << type << " dirs " << directions << " width " << width << " freq " << frequency
                << " at (" << b.x[i] << ", " << b.y[i] << ", " << b.z[i] << "): " << one << " vs "
                << batched[i];
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
