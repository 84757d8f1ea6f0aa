/// \file SurfaceNoiseBatch.h  surface_noise over many points at once, octave by octave.
#pragma once

#include <cstddef>

#include "DDImage/Noise.h"
#include "shading/ShadingFormulas.h"
#include "shading/SurfaceNoise.h"

namespace quorlen {

/// Host noise one point per call: all that a layer without noise_batch offers.
struct ScalarHostNoise {
  static void evaluate(const float* x, const float* y, const float* z, double* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
      out[i] =
          DD::Image::noise(static_cast<double>(x[i]), static_cast<double>(y[i]), static_cast<double>(z[i]));
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
    const float r = noise_rotated_difference(b.x[i], b.z[i]);
    t.r_minus_y[i] = r - b.y[i];
    t.r_plus_y[i] = r + b.y[i];
    t.x_plus_z[i] = b.x[i] + b.z[i];
  }
}

/// The host noise of noise_sample at `frequency` for every point, in t.value, before its rounding to
/// single.
template <class HostNoise>
void sample_values(SampleTerms& t, int count, float frequency, const Float3& offset) {
  const float s = noise_scale(frequency);
  for (int i = 0; i < count; ++i) {
    const Float3 n = noise_position(s, t.r_minus_y[i], t.r_plus_y[i], t.x_plus_z[i], offset);
    t.nx[i] = n.x;
    t.ny[i] = n.y;
    t.nz[i] = n.z;
  }
  HostNoise::evaluate(t.nx, t.ny, t.nz, t.value, static_cast<std::size_t>(count));
}

/// turbulence for every point: the octaves depend only on start and width, so all points share them.
template <class HostNoise>
void turbulence(SampleTerms& t, int count, float start, int width, const Float3& offset, float* sum) {
  float f = first_octave(start);
  const float bound = octave_bound(width);
  for (int i = 0; i < count; ++i) sum[i] = kOctaveSumStart;
  if (!octaves_can_run(f)) return;
  while (f <= bound) {
    sample_values<HostNoise>(t, count, f, offset);
    for (int i = 0; i < count; ++i) sum[i] = add_octave(sum[i], static_cast<float>(t.value[i]), f);
    f = next_octave(f);
  }
}

}  // namespace batch_detail

/// out[i] = surface_noise(b.x[i], b.y[i], b.z[i], ...) for every point of the batch, bit for bit.
template <class HostNoise>
void surface_noise_batch(const NoiseBatch& b, NoiseType type, int directions, int width, int frequency,
                         const Float3& offset, float* out) {
  using namespace batch_detail;
  const int n = b.count;
  if (n <= 0) return;
  if (type == NoiseType::flat) {
    for (int i = 0; i < n; ++i) out[i] = 0.0f;
    return;
  }
  SampleTerms terms;
  prepare(b, terms);
  switch (type) {
    case NoiseType::stripes:
    case NoiseType::turbulence1: {
      float t[kNoiseBatchPoints];
      turbulence<HostNoise>(terms, n, scaled_frequency(frequency, kStripesTurbulence1Factor), width, offset,
                            t);
      if (type == NoiseType::turbulence1 || !stripe_directions_valid(directions)) {
        for (int i = 0; i < n; ++i) out[i] = turbulence1_value(t[i]);
      } else {
        for (int i = 0; i < n; ++i) out[i] = stripes_value(b.x[i], b.y[i], b.z[i], directions, t[i]);
      }
      return;
    }
    case NoiseType::turbulence2: {
      // The host noise is pure, so the second octave sum equals the first: it is taken once.
      float t[kNoiseBatchPoints];
      turbulence<HostNoise>(terms, n, scaled_frequency(frequency, kTurbulence2Factor), width, offset, t);
      for (int i = 0; i < n; ++i) out[i] = turbulence2_value(t[i], t[i]);
      return;
    }
    case NoiseType::snoise:
      sample_values<HostNoise>(terms, n, scaled_frequency(frequency, kSnoiseFactor), offset);
      for (int i = 0; i < n; ++i) out[i] = snoise_value(static_cast<float>(terms.value[i]));
      return;
    case NoiseType::flat:
      return;  // answered above, before the terms were prepared
  }
}

}  // namespace quorlen
