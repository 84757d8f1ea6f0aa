/// \file HypotLanes.h  hypot_f of four pairs of floats in SSE2 lanes, bit for bit.
#pragma once

#include <emmintrin.h>

#include "shading/math.h"

namespace quorlen {

/// hypot_f(a[l], b[l]) in each lane l. glibc forms a finite pair's hypotenuse as the double square root
/// of a² + b² (each square exact in double), rounded once to float; the lanes do the same, and the span
/// engine's tests hold them to the library bit for bit. A lane with an infinite or NaN operand is handed
/// to hypot_f itself, which settles those cases its own way.
inline __m128 hypot_lanes(__m128 a, __m128 b) {
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 largest = _mm_set1_ps(3.40282347e38f);
  // cmple is false for NaN, so a NaN lane counts as special too.
  const __m128 finite = _mm_and_ps(_mm_cmple_ps(_mm_and_ps(a, magnitude), largest),
                                   _mm_cmple_ps(_mm_and_ps(b, magnitude), largest));

  const __m128d a_low = _mm_cvtps_pd(a), b_low = _mm_cvtps_pd(b);
  const __m128d a_high = _mm_cvtps_pd(_mm_movehl_ps(a, a)), b_high = _mm_cvtps_pd(_mm_movehl_ps(b, b));
  const __m128d low = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(a_low, a_low), _mm_mul_pd(b_low, b_low)));
  const __m128d high = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(a_high, a_high), _mm_mul_pd(b_high, b_high)));
  __m128 result = _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));

  const int special = ~_mm_movemask_ps(finite) & 0xf;
  if (special != 0) {
    alignas(16) float as[4], bs[4], rs[4];
    _mm_store_ps(as, a);
    _mm_store_ps(bs, b);
    _mm_store_ps(rs, result);
    for (int l = 0; l < 4; ++l)
      if (special & (1 << l)) rs[l] = hypot_f(as[l], bs[l]);
    result = _mm_load_ps(rs);
  }
  return result;
}

}  // namespace quorlen
