/// \file SpanEngine.cpp  The fast span engine: constants hoisted, noise batched, light in SSE2 lanes.
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>

#include "shading/HypotLanes.h"
#endif

#include "shading/Float3.h"
#include "shading/ShadingFormulas.h"
#include "shading/SpanEngine.h"
#include "shading/SurfaceNoiseBatch.h"
#include "shading/math.h"

namespace quorlen {
namespace {

// Pixels per chunk: each takes four noise points, which fill one noise batch.
constexpr int kChunk = kNoiseBatchPoints / 4;

/// pow_f with a fixed exponent, skipping the call where the result is exactly known: x^1 = x for a
/// number (the library returns a NaN of its own sign), x^0 = 1 (NaN included), and +0 for a base from +0
/// up to below `underflow` when e is above 0: there the exact power is below 2^-200, fifty binades under
/// half the least subnormal, so it rounds to +0 (the common case of a high specular exponent).
struct FixedPower {
  float exponent;
  bool one, zero, positive;
  float underflow;

  explicit FixedPower(float e)
      : exponent(e),
        one(e == 1.0f),
        zero(e == 0.0f),
        positive(e > 0.0f),
        underflow(e > 0.0f ? static_cast<float>(std::exp2(-200.0 / static_cast<double>(e))) : 0.0f) {}

  float operator()(float base) const {
    if (one && !std::isnan(base)) return base;
    if (zero) return 1.0f;
    if (positive && (base < underflow || base == 0.0f) && !std::signbit(base)) return 0.0f;
    return pow_f(base, exponent);
  }
};

/// What stays the same for every pixel of a span.
struct SpanConstants {
  FixedPower specular_power;
  FixedPower falloff;
  bool noise_at_normal;
  int frequency;
  Float3 light_once;   // the parallel light vector after the specular term's normalisation
  Float3 light_twice;  // and after the diffuse term's second one
};

SpanConstants span_constants(const ShadingSettings& s, const SpanInputs& in) {
  SpanConstants k{FixedPower(specular_exponent(s.surface_specular_power)),
                  FixedPower(s.point_light_falloff),
                  in.noise_channels->size() == 0,
                  integer_frequency(s.noise_frequency),
                  {},
                  {}};
  k.light_once = light_vector(s.parallel_light_direction);
  k.light_once.normalize();
  k.light_twice = k.light_once;
  k.light_twice.normalize();
  return k;
}

/// Bumps the normals of pixels [i0, i0 + count) with four noise points each, all in one batch.
template <class HostNoise>
void bump_chunk(const ShadingSettings& s, const SpanConstants& k, const SpanInputs& in, int i0, int count,
                Float3* normals) {
  NoiseBatch batch;
  batch.count = 4 * count;
  for (int j = 0; j < count; ++j) {
    const int i = i0 + j;
    const Float3 q = k.noise_at_normal
                         ? normals[j]
                         : Float3{in.noise_position[0][i], in.noise_position[1][i], in.noise_position[2][i]};
    const float sx = gradient_coordinate(q.x), sy = gradient_coordinate(q.y), sz = gradient_coordinate(q.z);
    const float xs[4] = {q.x, sx, q.x, q.x}, ys[4] = {q.y, q.y, sy, q.y}, zs[4] = {q.z, q.z, q.z, sz};
    for (int m = 0; m < 4; ++m) {
      batch.x[4 * j + m] = xs[m];
      batch.y[4 * j + m] = ys[m];
      batch.z[4 * j + m] = zs[m];
    }
  }
  float value[kNoiseBatchPoints];
  surface_noise_batch<HostNoise>(batch, s.noise_type, s.stripe_directions, s.format_width, k.frequency,
                                 s.noise_offset, value);
  for (int j = 0; j < count; ++j) {
    const float* v = value + 4 * j;
    Float3& n = normals[j];
    n.x = bumped(n.x, v[1], v[0], s.noise_multiply);
    n.y = bumped(n.y, v[2], v[0], s.noise_multiply);
    n.z = bumped(n.z, v[3], v[0], s.noise_multiply);
  }
}

/// Light and output of pixel i from its bumped normal n, one pixel at a time (span tails, and targets
/// without SSE2).
template <bool kPointLight, bool kTexture>
void light_pixel(const ShadingSettings& s, const SpanConstants& k, const SpanInputs& in,
                 const SpanOutputs& out, int i, Float3 n) {
  const Float3 lc = s.light_color, ls = s.light_scatter, sd = s.surface_diffuse, ss = s.surface_specular;
  n.normalize();

  float intensity, specular, diffuse;
  if constexpr (kPointLight) {
    const Float3& lp = s.point_light_position;
    const Float3 toward_light{lp.x - in.position[0][i], lp.y - in.position[1][i], lp.z - in.position[2][i]};
    Float3 light = light_vector(toward_light);
    const float distance = point_light_distance(toward_light.x, toward_light.y, toward_light.z);
    const float fade = point_light_fade(distance, s.point_light_radius);
    intensity = k.falloff(fade) * s.light_brightness;
    light.normalize();
    specular = k.specular_power(positive_dot(n, light));
    light.normalize();
    diffuse = positive_dot(n, light);
  } else {
    intensity = s.light_brightness;
    specular = k.specular_power(positive_dot(n, k.light_once));
    diffuse = positive_dot(n, k.light_twice);
  }

  // The output formulas of shade_span_reference, written out: in a shared function the compiler orders
  // the operands differently, which changes the sign of a NaN where two NaNs meet.
  for (int c = 0; c < 3; ++c) {
    if constexpr (kTexture) {
      const float color = in.color[c][i];
      out.rgba[c][i] = intensity * (lc[c] * (color * sd[c] * diffuse + ss[c] * specular) + ls[c] * diffuse);
    } else {
      const double spec = static_cast<double>(ss[c] * specular);
      const double scatter = static_cast<double>(ls[c] * diffuse);
      const double lit =
          static_cast<double>(lc[c]) * (static_cast<double>(sd[c]) * static_cast<double>(diffuse) + spec);
      out.rgba[c][i] = static_cast<float>(static_cast<double>(intensity) * (lit + scatter));
    }
  }
  out.rgba[3][i] = 0.0f;
}

#if defined(__SSE2__)
// Four pixels at a time in SSE2 lanes. Every lane performs light_pixel's operations in its order and
// precision, and IEEE arithmetic rounds a lane exactly as it rounds a scalar; only the library's power
// function is still called per lane, where its result is not known beforehand.

struct Lanes3 {
  __m128 x, y, z;
};

inline Lanes3 broadcast(const Float3& v) { return {_mm_set1_ps(v.x), _mm_set1_ps(v.y), _mm_set1_ps(v.z)}; }

inline void normalize(Lanes3& v) {
  const __m128 length =
      _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(v.x, v.x), _mm_mul_ps(v.y, v.y)), _mm_mul_ps(v.z, v.z)));
  v.x = _mm_div_ps(v.x, length);
  v.y = _mm_div_ps(v.y, length);
  v.z = _mm_div_ps(v.z, length);
}

inline __m128 positive_dot(const Lanes3& n, const Lanes3& unit) {
  const __m128 dot =
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(n.x, unit.x), _mm_mul_ps(n.y, unit.y)), _mm_mul_ps(n.z, unit.z));
  // The mask is clear for NaN and -0, which leaves +0.
  return _mm_and_ps(_mm_cmpgt_ps(dot, _mm_setzero_ps()), dot);
}

/// a where mask is set, else b.
inline __m128 select(__m128 mask, __m128 a, __m128 b) {
  return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

/// FixedPower of each lane: known results in lanes, the library call only for the lanes that need it.
inline __m128 power_lanes(const FixedPower& power, __m128 base) {
  if (power.zero) return _mm_set1_ps(1.0f);
  __m128 known = _mm_setzero_ps();
  int pending = 0xf;
  if (power.one) {
    known = base;
    pending = _mm_movemask_ps(_mm_cmpunord_ps(base, base));
  } else if (power.positive) {
    const __m128 small =
        _mm_or_ps(_mm_cmplt_ps(base, _mm_set1_ps(power.underflow)), _mm_cmpeq_ps(base, _mm_setzero_ps()));
    // A set sign bit (-0 included) keeps a lane off the shortcut.
    pending = ~_mm_movemask_ps(small) & 0xf;
    pending |= _mm_movemask_ps(base);
  }
  if (pending == 0) return known;
  alignas(16) float bases[4], results[4];
  _mm_store_ps(bases, base);
  _mm_store_ps(results, known);
  for (int l = 0; l < 4; ++l)
    if (pending & (1 << l)) results[l] = pow_f(bases[l], power.exponent);
  return _mm_load_ps(results);
}

/// point_light_fade in each lane: linear_ramp's tests and arithmetic in the same order.
inline __m128 fade_lanes(__m128 value, float radius) {
  const __m128 low = _mm_set1_ps(kFadeStart), high = _mm_set1_ps(radius);
  const __m128 at_low = _mm_set1_ps(kFadeAtLight), at_high = _mm_set1_ps(kFadeAtRadius);
  // ((value - low) * (at_high - at_low)) / (high - low) + at_low
  const __m128 inside = _mm_add_ps(
      _mm_div_ps(_mm_mul_ps(_mm_sub_ps(value, low), _mm_sub_ps(at_high, at_low)), _mm_sub_ps(high, low)),
      at_low);
  const __m128 upper = select(_mm_cmpge_ps(value, high), at_high, inside);
  return select(_mm_cmplt_ps(value, low), at_low, upper);
}

/// What the lanes need of the parameters, broadcast once per span.
struct LaneConstants {
  Lanes3 light_once, light_twice, light_position;
  __m128 brightness;
  __m128 lc[3], ls[3], sd[3], ss[3];
  __m128d lc_wide[3], sd_wide[3];

  LaneConstants(const ShadingSettings& s, const SpanConstants& k)
      : light_once(broadcast(k.light_once)),
        light_twice(broadcast(k.light_twice)),
        light_position(broadcast(s.point_light_position)),
        brightness(_mm_set1_ps(s.light_brightness)) {
    for (int c = 0; c < 3; ++c) {
      lc[c] = _mm_set1_ps(s.light_color[c]);
      ls[c] = _mm_set1_ps(s.light_scatter[c]);
      sd[c] = _mm_set1_ps(s.surface_diffuse[c]);
      ss[c] = _mm_set1_ps(s.surface_specular[c]);
      lc_wide[c] = _mm_set1_pd(static_cast<double>(s.light_color[c]));
      sd_wide[c] = _mm_set1_pd(static_cast<double>(s.surface_diffuse[c]));
    }
  }
};

/// The "light" output of two pixels, in double from the float terms, rounded once.
inline __m128 light_output_half(const LaneConstants& q, int c, __m128d intensity, __m128d diffuse,
                                __m128d spec, __m128d scatter) {
  const __m128d lit = _mm_mul_pd(q.lc_wide[c], _mm_add_pd(_mm_mul_pd(q.sd_wide[c], diffuse), spec));
  return _mm_cvtpd_ps(_mm_mul_pd(intensity, _mm_add_pd(lit, scatter)));
}

/// light_pixel for pixels i to i + 3, whose bumped normals are in n.
template <bool kPointLight, bool kTexture>
void light_four(const ShadingSettings& s, const SpanConstants& k, const LaneConstants& q,
                const SpanInputs& in, const SpanOutputs& out, int i, Lanes3 n) {
  normalize(n);

  __m128 intensity, specular, diffuse;
  if constexpr (kPointLight) {
    const __m128 dx = _mm_sub_ps(q.light_position.x, _mm_loadu_ps(in.position[0] + i));
    const __m128 dy = _mm_sub_ps(q.light_position.y, _mm_loadu_ps(in.position[1] + i));
    const __m128 dz = _mm_sub_ps(q.light_position.z, _mm_loadu_ps(in.position[2] + i));
    Lanes3 light{dx, dy, _mm_xor_ps(dz, _mm_set1_ps(-0.0f))};
    const __m128 distance = hypot_lanes(hypot_lanes(dx, dy), dz);
    const __m128 fade = fade_lanes(distance, s.point_light_radius);
    intensity = _mm_mul_ps(power_lanes(k.falloff, fade), q.brightness);
    normalize(light);
    specular = power_lanes(k.specular_power, positive_dot(n, light));
    normalize(light);
    diffuse = positive_dot(n, light);
  } else {
    intensity = q.brightness;
    specular = power_lanes(k.specular_power, positive_dot(n, q.light_once));
    diffuse = positive_dot(n, q.light_twice);
  }

  if constexpr (kTexture) {
    for (int c = 0; c < 3; ++c) {
      const __m128 color = _mm_loadu_ps(in.color[c] + i);
      const __m128 surface =
          _mm_add_ps(_mm_mul_ps(_mm_mul_ps(color, q.sd[c]), diffuse), _mm_mul_ps(q.ss[c], specular));
      const __m128 lit = _mm_add_ps(_mm_mul_ps(q.lc[c], surface), _mm_mul_ps(q.ls[c], diffuse));
      _mm_storeu_ps(out.rgba[c] + i, _mm_mul_ps(intensity, lit));
    }
  } else {
    const __m128d intensity_low = _mm_cvtps_pd(intensity);
    const __m128d intensity_high = _mm_cvtps_pd(_mm_movehl_ps(intensity, intensity));
    const __m128d diffuse_low = _mm_cvtps_pd(diffuse);
    const __m128d diffuse_high = _mm_cvtps_pd(_mm_movehl_ps(diffuse, diffuse));
    for (int c = 0; c < 3; ++c) {
      const __m128 spec = _mm_mul_ps(q.ss[c], specular);
      const __m128 scatter = _mm_mul_ps(q.ls[c], diffuse);
      const __m128 low =
          light_output_half(q, c, intensity_low, diffuse_low, _mm_cvtps_pd(spec), _mm_cvtps_pd(scatter));
      const __m128 high =
          light_output_half(q, c, intensity_high, diffuse_high, _mm_cvtps_pd(_mm_movehl_ps(spec, spec)),
                            _mm_cvtps_pd(_mm_movehl_ps(scatter, scatter)));
      _mm_storeu_ps(out.rgba[c] + i, _mm_movelh_ps(low, high));
    }
  }
  _mm_storeu_ps(out.rgba[3] + i, _mm_setzero_ps());
}
#endif

/// Lights pixels i0 to i0 + count - 1, whose bumped normals are nx[j], ny[j], nz[j] for pixel i0 + j.
template <bool kPointLight, bool kTexture>
void light_pixels(const ShadingSettings& s, const SpanConstants& k, const SpanInputs& in,
                  const SpanOutputs& out, int i0, int count, const float* nx, const float* ny,
                  const float* nz) {
  int j = 0;
#if defined(__SSE2__)
  const LaneConstants q(s, k);
  for (; j + 4 <= count; j += 4)
    light_four<kPointLight, kTexture>(s, k, q, in, out, i0 + j,
                                      {_mm_loadu_ps(nx + j), _mm_loadu_ps(ny + j), _mm_loadu_ps(nz + j)});
#endif
  for (; j < count; ++j) light_pixel<kPointLight, kTexture>(s, k, in, out, i0 + j, {nx[j], ny[j], nz[j]});
}

template <class HostNoise, bool kPointLight, bool kTexture>
void shade(const ShadingSettings& s, const SpanInputs& in, const SpanOutputs& out, int x, int r) {
  if (r <= x) return;
  const SpanConstants k = span_constants(s, in);
  if (!s.surface_noise) {
    light_pixels<kPointLight, kTexture>(s, k, in, out, x, r - x, in.normal[0] + x, in.normal[1] + x,
                                        in.normal[2] + x);
    return;
  }
  Float3 normals[kChunk];
  alignas(16) float nx[kChunk], ny[kChunk], nz[kChunk];
  for (int i0 = x; i0 < r; i0 += kChunk) {
    const int count = r - i0 < kChunk ? r - i0 : kChunk;
    for (int j = 0; j < count; ++j)
      normals[j] = {in.normal[0][i0 + j], in.normal[1][i0 + j], in.normal[2][i0 + j]};
    bump_chunk<HostNoise>(s, k, in, i0, count, normals);
    for (int j = 0; j < count; ++j) {
      nx[j] = normals[j].x;
      ny[j] = normals[j].y;
      nz[j] = normals[j].z;
    }
    light_pixels<kPointLight, kTexture>(s, k, in, out, i0, count, nx, ny, nz);
  }
}

template <class HostNoise>
void shade_with(const ShadingSettings& s, const SpanInputs& in, const SpanOutputs& out, int x, int r) {
  const bool point = s.light_type == LightType::point, texture = s.output_type == OutputType::texture;
  if (point)
    texture ? shade<HostNoise, true, true>(s, in, out, x, r)
            : shade<HostNoise, true, false>(s, in, out, x, r);
  else
    texture ? shade<HostNoise, false, true>(s, in, out, x, r)
            : shade<HostNoise, false, false>(s, in, out, x, r);
}

}  // namespace

void shade_span(const ShadingSettings& s, const SpanInputs& in, const SpanOutputs& out, int x, int r) {
#if defined(DDIMAGE_HAS_NOISE_BATCH) && !defined(QUORLEN_SCALAR_NOISE_ONLY)
  shade_with<BatchedHostNoise>(s, in, out, x, r);
#else
  shade_with<ScalarHostNoise>(s, in, out, x, r);
#endif
}

void shade_span_scalar_noise(const ShadingSettings& s, const SpanInputs& in, const SpanOutputs& out, int x,
                             int r) {
  shade_with<ScalarHostNoise>(s, in, out, x, r);
}

}  // namespace quorlen
