/// \file SpanEngine.cpp  The fast form of the span relighting: constants hoisted, noise batched.
#include <cmath>

#include "shading/Float3.h"
#include "shading/RowEngine.h"
#include "shading/SurfaceNoiseBatch.h"
#include "shading/math.h"

namespace quorlen {
namespace {

// Pixels per chunk: each takes four noise points, which fill one noise batch.
constexpr int kChunk = kNoiseBatchPoints / 4;

inline float step_coordinate(float v) { return static_cast<float>(static_cast<double>(v) + 0.01); }

// The arithmetic of Float3::normalize and Float3::clamped_dot, inlined into the pixel loop.
inline void normalize(Float3& v) {
  const float length = sqrt_f((v.x * v.x + v.y * v.y) + v.z * v.z);
  v.x = v.x / length;
  v.y = v.y / length;
  v.z = v.z / length;
}

inline float clamped_dot(const Float3& n, const Float3& unit) {
  const float dot = (n.x * unit.x + n.y * unit.y) + n.z * unit.z;
  return dot > 0.0f ? dot : 0.0f;
}

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

SpanConstants span_constants(const Parameters& p, const SpanInputs& in) {
  SpanConstants k{FixedPower((p.surfaceSpecularPower - 1.0f) * 20.0f + 1.0f), FixedPower(p.pointLightFalloff),
                  in.noise_channels->size() == 0, integer_frequency(p.noiseFrequency), {}, {}};
  const Float3& d = p._parallelLightDir;
  k.light_once = {d.x, d.y, -d.z};
  normalize(k.light_once);
  k.light_twice = k.light_once;
  normalize(k.light_twice);
  return k;
}

/// Bumps the normals of pixels [i0, i0 + count) with four noise points each, all in one batch.
template <class HostNoise>
void bump_chunk(const Parameters& p, const SpanConstants& k, const SpanInputs& in, int i0, int count,
                Float3* normals) {
  NoiseBatch batch;
  batch.count = 4 * count;
  for (int j = 0; j < count; ++j) {
    const int i = i0 + j;
    const Float3 q = k.noise_at_normal
                         ? normals[j]
                         : Float3{in.noise_position[0][i], in.noise_position[1][i], in.noise_position[2][i]};
    const float sx = step_coordinate(q.x), sy = step_coordinate(q.y), sz = step_coordinate(q.z);
    const float xs[4] = {q.x, sx, q.x, q.x}, ys[4] = {q.y, q.y, sy, q.y}, zs[4] = {q.z, q.z, q.z, sz};
    for (int m = 0; m < 4; ++m) {
      batch.x[4 * j + m] = xs[m];
      batch.y[4 * j + m] = ys[m];
      batch.z[4 * j + m] = zs[m];
    }
  }
  float value[kNoiseBatchPoints];
  surface_noise_batch<HostNoise>(batch, p.surfaceNoiseType, p.stripesNoiseDir, p.formatWidth, k.frequency,
                                 p.noiseOffset, value);
  for (int j = 0; j < count; ++j) {
    const float* v = value + 4 * j;
    Float3& n = normals[j];
    n.x = n.x - ((v[1] - v[0]) * p.noiseMultiply) * 100.0f;
    n.y = n.y - ((v[2] - v[0]) * p.noiseMultiply) * 100.0f;
    n.z = n.z - ((v[3] - v[0]) * p.noiseMultiply) * 100.0f;
  }
}

template <class HostNoise, bool kPointLight, bool kTexture>
void shade(const Parameters& p, const SpanInputs& in, const SpanOutputs& out, int x, int r) {
  const SpanConstants k = span_constants(p, in);
  const Float3 lc = p._lightColor, ls = p._lightScatter, sd = p._surfaceDiffuse, ss = p._surfaceSpecular;
  Float3 normals[kChunk];
  for (int i0 = x; i0 < r; i0 += kChunk) {
    const int count = r - i0 < kChunk ? r - i0 : kChunk;
    for (int j = 0; j < count; ++j)
      normals[j] = {in.normal[0][i0 + j], in.normal[1][i0 + j], in.normal[2][i0 + j]};
    if (p.surfaceNoise) bump_chunk<HostNoise>(p, k, in, i0, count, normals);

    for (int j = 0; j < count; ++j) {
      const int i = i0 + j;
      Float3 n = normals[j];
      normalize(n);

      float intensity, specular, diffuse;
      if constexpr (kPointLight) {
        const Float3& lp = p._pointLightPos;
        const float dx = lp.x - in.position[0][i];
        const float dy = lp.y - in.position[1][i];
        const float dz = lp.z - in.position[2][i];
        Float3 light{dx, dy, -dz};
        const float distance = hypot_f(hypot_f(dx, dy), dz);
        const float fade = linear_ramp(distance, 0.0f, p.pointLightRadius, 1.0f, 0.0f);
        intensity = k.falloff(fade) * p.lightBrightness;
        normalize(light);
        specular = k.specular_power(clamped_dot(n, light));
        normalize(light);
        diffuse = clamped_dot(n, light);
      } else {
        intensity = p.lightBrightness;
        specular = k.specular_power(clamped_dot(n, k.light_once));
        diffuse = clamped_dot(n, k.light_twice);
      }

      for (int c = 0; c < 3; ++c) {
        if constexpr (kTexture) {
          const float color = in.color[c][i];
          out.rgba[c][i] = intensity * (lc[c] * (color * sd[c] * diffuse + ss[c] * specular) + ls[c] * diffuse);
        } else {
          const double spec = static_cast<double>(ss[c] * specular);
          const double scatter = static_cast<double>(ls[c] * diffuse);
          const double lit = static_cast<double>(lc[c]) * (static_cast<double>(sd[c]) * static_cast<double>(diffuse) + spec);
          out.rgba[c][i] = static_cast<float>(static_cast<double>(intensity) * (lit + scatter));
        }
      }
      out.rgba[3][i] = 0.0f;
    }
  }
}

template <class HostNoise>
void shade_with(const Parameters& p, const SpanInputs& in, const SpanOutputs& out, int x, int r) {
  const bool point = p.lightType != 0, texture = p.outputType == 0;
  if (point)
    texture ? shade<HostNoise, true, true>(p, in, out, x, r) : shade<HostNoise, true, false>(p, in, out, x, r);
  else
    texture ? shade<HostNoise, false, true>(p, in, out, x, r) : shade<HostNoise, false, false>(p, in, out, x, r);
}

}  // namespace

void shade_span(const Parameters& p, const SpanInputs& in, const SpanOutputs& out, int x, int r) {
#if defined(DDIMAGE_HAS_NOISE_BATCH) && !defined(QUORLEN_SCALAR_NOISE_ONLY)
  shade_with<BatchedHostNoise>(p, in, out, x, r);
#else
  shade_with<ScalarHostNoise>(p, in, out, x, r);
#endif
}

void shade_span_scalar_noise(const Parameters& p, const SpanInputs& in, const SpanOutputs& out, int x, int r) {
  shade_with<ScalarHostNoise>(p, in, out, x, r);
}

}  // namespace quorlen
