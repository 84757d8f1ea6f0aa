/// \file SurfaceNoiseBatch.h  surface_noise over many points at once, octave by octave.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DDImage/Noise.h"
#include "shading/SurfaceNoise.h"
#include "shading/math.h"

namespace quorlen {

/// Host noise one point per call: all that a layer without noise_batch offers.
struct ScalarHostNoise {
  static void evaluate(const float* x, const float* y, const float* z, double* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
      out[i] = DD::Image::noise(static_cast<double>(x[i]), static_cast<double>(y[i]),
                                static_cast<double>(z[i]));
  }
};

#if defined(DDIMAGE_HAS_NOISE_BATCH)
/// Host noise through the layer's double-precision batched form, positions widened first (exactly).
struct WideningBatchedHostNoise {
  static void evaluate(const float* x, const float* y, const float* z, double* out, std::size_t n) {
    constexpr std::size_t kBlock = 256;
    double wx[kBlock], wy[kBlock], wz[kBlock];
    for (std::size_t i = 0; i < n; i += kBlock) {
      const std::size_t m = n - i < kBlock ? n - i : kBlock;
      for (std::size_t k = 0; k < m; ++k) {
        wx[k] = x[i + k];
        wy[k] = y[i + k];
        wz[k] = z[i + k];
      }
      DD::Image::noise_batch(wx, wy, wz, out + i, m);
    }
  }
};

#if defined(DDIMAGE_HAS_NOISE_BATCH_FLOAT)
/// Host noise through the layer's batched form, fed the single-precision positions directly.
struct BatchedHostNoise {
  static void evaluate(const float* x, const float* y, const float* z, double* out, std::size_t n) {
    DD::Image::noise_batch(x, y, z, out, n);
  }
};
#else
using BatchedHostNoise = WideningBatchedHostNoise;
#endif
#endif

/// The most points one batch takes; callers split larger sets.
inline constexpr int kNoiseBatchPoints = 256;

/// Points of one batch with the parts of the sampling position that no octave changes.
struct NoiseBatch {
  int count = 0;
  float x[kNoiseBatchPoints];
  float y[kNoiseBatchPoints];
  float z[kNoiseBatchPoints];
};

namespace batch_detail {

/// Per-point terms of noise_sample that do not depend on the frequency, rounded as there, and the
/// scratch of one host noise call.
struct SampleTerms {
  float r_minus_y[kNoiseBatchPoints];
  float r_plus_y[kNoiseBatchPoints];
  float x_plus_z[kNoiseBatchPoints];
  float nx[kNoiseBatchPoints], ny[kNoiseBatchPoints], nz[kNoiseBatchPoints];
  double value[kNoiseBatchPoints];
};

inline void prepare(const NoiseBatch& b, SampleTerms& t) {
  for (int i = 0; i < b.count; ++i) {
    const float r = static_cast<float>(0.707 * static_cast<double>(b.x[i] - b.z[i]));
    t.r_minus_y[i] = r - b.y[i];
    t.r_plus_y[i] = r + b.y[i];
    t.x_plus_z[i] = b.x[i] + b.z[i];
  }
}

/// The host noise of noise_sample at `frequency` for every point, in t.value, before its rounding to
/// single.
template <class HostNoise>
void sample_values(SampleTerms& t, int count, float frequency, const Float3& offset) {
  const float s = static_cast<float>(static_cast<double>(frequency) * 0.707);
  for (int i = 0; i < count; ++i) {
    t.nx[i] = (s * t.r_minus_y[i] + 100.0f) + offset.x;
    t.ny[i] = s * t.r_plus_y[i] + offset.y;
    t.nz[i] = s * t.x_plus_z[i] + offset.z;
  }
  HostNoise::evaluate(t.nx, t.ny, t.nz, t.value, static_cast<std::size_t>(count));
}

/// turbulence for every point: the octaves depend only on start and width, so all points share them.
template <class HostNoise>
void turbulence(SampleTerms& t, int count, float start, int width, const Float3& offset, float* sum) {
  float f = start + 1.0f;
  const float bound = static_cast<float>(width / 12);
  for (int i = 0; i < count; ++i) sum[i] = -0.5f;
  if (!(f > 0.0f)) return;
  while (f <= bound) {
    sample_values<HostNoise>(t, count, f, offset);
    for (int i = 0; i < count; ++i) sum[i] = sum[i] + abs_f(static_cast<float>(t.value[i]) / f);
    f = f * 2.0f;
  }
}

inline float scaled(int frequency, std::int64_t factor) {
  return static_cast<float>(static_cast<std::int64_t>(frequency) * factor);
}

}  // namespace batch_detail

/// out[i] = surface_noise(b.x[i], b.y[i], b.z[i], ...) for every point of the batch, bit for bit.
template <class HostNoise>
void surface_noise_batch(const NoiseBatch& b, int type, int directions, int width, int frequency,
                         const Float3& offset, float* out) {
  using namespace batch_detail;
  const int n = b.count;
  if (n <= 0) return;
  if (type < 0 || type > 3) {
    for (int i = 0; i < n; ++i) out[i] = 0.0f;
    return;
  }
  SampleTerms terms;
  prepare(b, terms);
  switch (type) {
    case 0:
    case 1: {
      float t[kNoiseBatchPoints];
      turbulence<HostNoise>(terms, n, scaled(frequency, 2), width, offset, t);
      if (type == 1 || directions < 0 || directions > 7) {
        for (int i = 0; i < n; ++i) out[i] = -0.05f * t[i];
      } else {
        for (int i = 0; i < n; ++i)
          out[i] = 0.005f * stripe_profile(stripe_phase(b.x[i], b.y[i], b.z[i], directions, 2.0f * t[i]), 1.6f);
      }
      return;
    }
    case 2: {
      // The host noise is pure, so the second octave sum equals the first: it is taken once.
      float t[kNoiseBatchPoints];
      turbulence<HostNoise>(terms, n, static_cast<float>(frequency), width, offset, t);
      for (int i = 0; i < n; ++i)
        out[i] = static_cast<float>(static_cast<double>(-0.1f * t[i]) * 0.5 * static_cast<double>(t[i]));
      return;
    }
    default: {
      sample_values<HostNoise>(terms, n, scaled(frequency, 8), offset);
      for (int i = 0; i < n; ++i) out[i] = 0.01f * static_cast<float>(terms.value[i]);
      return;
    }
  }
}

}  // namespace quorlen
