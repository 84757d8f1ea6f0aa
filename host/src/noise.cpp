/// \file noise.cpp  The host's improved gradient noise, in double precision.
#include "DDImage/Noise.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace DD::Image {
namespace {

// The reference permutation of 0-255, repeated once so that p[i + 1] and p[p[i] + j] never wrap.
constexpr std::array<int, 256> kPermutation = {
    151, 160, 137, 91,  90,  15,  131, 13,  201, 95,  96,  53,  194, 233, 7,   225, 140, 36,  103, 30,
    69,  142, 8,   99,  37,  240, 21,  10,  23,  190, 6,   148, 247, 120, 234, 75,  0,   26,  197, 62,
    94,  252, 219, 203, 117, 35,  11,  32,  57,  177, 33,  88,  237, 149, 56,  87,  174, 20,  125, 136,
    171, 168, 68,  175, 74,  165, 71,  134, 139, 48,  27,  166, 77,  146, 158, 231, 83,  111, 229, 122,
    60,  211, 133, 230, 220, 105, 92,  41,  55,  46,  245, 40,  244, 102, 143, 54,  65,  25,  63,  161,
    1,   216, 80,  73,  209, 76,  132, 187, 208, 89,  18,  169, 200, 196, 135, 130, 116, 188, 159, 86,
    164, 100, 109, 198, 173, 186, 3,   64,  52,  217, 226, 250, 124, 123, 5,   202, 38,  147, 118, 126,
    255, 82,  85,  212, 207, 206, 59,  227, 47,  16,  58,  17,  182, 189, 28,  42,  223, 183, 170, 213,
    119, 248, 152, 2,   44,  154, 163, 70,  221, 153, 101, 155, 167, 43,  172, 9,   129, 22,  39,  253,
    19,  98,  108, 110, 79,  113, 224, 232, 178, 185, 112, 104, 218, 246, 97,  228, 251, 34,  242, 193,
    238, 210, 144, 12,  191, 179, 162, 241, 81,  51,  145, 235, 249, 14,  239, 107, 49,  192, 214, 31,
    181, 199, 106, 157, 184, 84,  204, 176, 115, 121, 50,  45,  127, 4,   150, 254, 138, 236, 205, 93,
    222, 114, 67,  29,  24,  72,  243, 141, 128, 195, 78,  66,  215, 61,  156, 180};

constexpr std::array<int, 512> doubled(const std::array<int, 256>& once) {
  std::array<int, 512> twice{};
  for (std::size_t i = 0; i < 512; ++i) twice[i] = once[i % 256];
  return twice;
}

constexpr std::array<int, 512> p = doubled(kPermutation);

double fade(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

double lerp(double t, double a, double b) { return a + t * (b - a); }

double grad(int hash, double x, double y, double z) {
  const int h = hash & 15;
  const double u = h < 8 ? x : y;
  const double v = h < 4 ? y : (h == 12 || h == 14 ? x : z);
  return ((h & 1) == 0 ? u : -u) + ((h & 2) == 0 ? v : -v);
}

/// The lattice cell (0-255) of a finite, integral `floored` coordinate, without an out-of-range cast.
int cell(double floored) {
  // Below 2^62 the value fits a 64-bit integer exactly, and & 255 is its remainder modulo 256.
  if (std::fabs(floored) < 0x1p62) return static_cast<int>(static_cast<std::int64_t>(floored) & 255);
  // Beyond that, fmod is exact; shift a negative remainder into 0-255 (it is 0 in practice).
  double r = std::fmod(floored, 256.0);
  if (r < 0) r += 256.0;
  return static_cast<int>(r);
}

}  // namespace

double noise(double x, double y, double z) {
  // An infinite coordinate leaves no fractional position (inf - inf), so it gives NaN like a NaN does.
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z))
    return std::numeric_limits<double>::quiet_NaN();

  const double fx = std::floor(x);
  const double fy = std::floor(y);
  const double fz = std::floor(z);
  const int X = cell(fx);
  const int Y = cell(fy);
  const int Z = cell(fz);
  x -= fx;
  y -= fy;
  z -= fz;
  const double u = fade(x);
  const double v = fade(y);
  const double w = fade(z);

  const int A = p[X] + Y;
  const int AA = p[A] + Z;
  const int AB = p[A + 1] + Z;
  const int B = p[X + 1] + Y;
  const int BA = p[B] + Z;
  const int BB = p[B + 1] + Z;

  return lerp(w,
              lerp(v, lerp(u, grad(p[AA], x, y, z), grad(p[BA], x - 1, y, z)),
                   lerp(u, grad(p[AB], x, y - 1, z), grad(p[BB], x - 1, y - 1, z))),
              lerp(v, lerp(u, grad(p[AA + 1], x, y, z - 1), grad(p[BA + 1], x - 1, y, z - 1)),
                   lerp(u, grad(p[AB + 1], x, y - 1, z - 1), grad(p[BB + 1], x - 1, y - 1, z - 1))));
}

namespace {

#if defined(__x86_64__)
// Four points per step in AVX2 lanes. Every operation is the scalar one in the same order (separate
// multiplies and adds, never fused), so each lane rounds exactly as noise() does. A group with a
// coordinate that is not finite or whose cell is beyond 32 bits goes through noise() itself.
__attribute__((target("avx2"))) __m256d fade4(__m256d t) {
  const __m256d inner = _mm256_add_pd(
      _mm256_mul_pd(t, _mm256_sub_pd(_mm256_mul_pd(t, _mm256_set1_pd(6.0)), _mm256_set1_pd(15.0))),
      _mm256_set1_pd(10.0));
  return _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(t, t), t), inner);
}

__attribute__((target("avx2"))) __m256d lerp4(__m256d t, __m256d a, __m256d b) {
  return _mm256_add_pd(a, _mm256_mul_pd(t, _mm256_sub_pd(b, a)));
}

__attribute__((target("avx2"))) __m256d grad4(__m128i hash, __m256d x, __m256d y, __m256d z) {
  // Each test becomes the sign bit of a 64-bit lane, which is all a blend reads: shifting h left by
  // 63 - k brings bit k of the hash to the sign.
  const __m256i h = _mm256_cvtepi32_epi64(hash);
  const __m256i bit0 = _mm256_slli_epi64(h, 63);
  const __m256i bit1 = _mm256_slli_epi64(h, 62);
  const __m256i bit2 = _mm256_slli_epi64(h, 61);
  const __m256i bit3 = _mm256_slli_epi64(h, 60);
  const __m256i sign = _mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ULL));
  // u = h < 8 ? x : y, that is bit 3 picks y.
  const __m256d u = _mm256_blendv_pd(x, y, _mm256_castsi256_pd(bit3));
  // h == 12 or h == 14: bits 3 and 2 set, bit 0 clear. h < 4: neither bit 3 nor bit 2.
  const __m256d twelve_or_fourteen = _mm256_castsi256_pd(_mm256_andnot_si256(bit0, _mm256_and_si256(bit3, bit2)));
  const __m256d from4 = _mm256_castsi256_pd(_mm256_or_si256(bit3, bit2));
  const __m256d v = _mm256_blendv_pd(y, _mm256_blendv_pd(z, x, twelve_or_fourteen), from4);
  // Negation is a flip of the sign bit: bit 0 of h flips u, bit 1 flips v.
  const __m256d u_sign = _mm256_castsi256_pd(_mm256_and_si256(bit0, sign));
  const __m256d v_sign = _mm256_castsi256_pd(_mm256_and_si256(bit1, sign));
  return _mm256_add_pd(_mm256_xor_pd(u, u_sign), _mm256_xor_pd(v, v_sign));
}

__attribute__((target("avx2"))) void noise_batch_avx2(const double* xs, const double* ys, const double* zs,
                                                      double* out, std::size_t n) {
  const __m256d limit = _mm256_set1_pd(0x1p31);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const __m128i byte = _mm_set1_epi32(255);
  const __m256d one = _mm256_set1_pd(1.0);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256d x = _mm256_loadu_pd(xs + i);
    __m256d y = _mm256_loadu_pd(ys + i);
    __m256d z = _mm256_loadu_pd(zs + i);
    const __m256d fx = _mm256_floor_pd(x);
    const __m256d fy = _mm256_floor_pd(y);
    const __m256d fz = _mm256_floor_pd(z);
    // NaN and infinities fail the ordered comparison, as do cells that a 32-bit conversion cannot hold.
    const __m256d ok = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(_mm256_and_pd(fx, magnitude), limit, _CMP_LT_OQ),
                      _mm256_cmp_pd(_mm256_and_pd(fy, magnitude), limit, _CMP_LT_OQ)),
        _mm256_cmp_pd(_mm256_and_pd(fz, magnitude), limit, _CMP_LT_OQ));
    if (_mm256_movemask_pd(ok) != 0xF) {
      for (std::size_t k = i; k < i + 4; ++k) out[k] = noise(xs[k], ys[k], zs[k]);
      continue;
    }
    // Within 32 bits the low byte of the two's-complement integer is the cell, as in cell().
    const __m128i X = _mm_and_si128(_mm256_cvttpd_epi32(fx), byte);
    const __m128i Y = _mm_and_si128(_mm256_cvttpd_epi32(fy), byte);
    const __m128i Z = _mm_and_si128(_mm256_cvttpd_epi32(fz), byte);
    x = _mm256_sub_pd(x, fx);
    y = _mm256_sub_pd(y, fy);
    z = _mm256_sub_pd(z, fz);
    const __m256d u = fade4(x);
    const __m256d v = fade4(y);
    const __m256d w = fade4(z);

    // The hashes in scalar code: on common processors eight lanes of table loads beat fourteen gathers.
    alignas(16) int cells[3][4];
    alignas(16) int hashes[8][4];
    _mm_store_si128(reinterpret_cast<__m128i*>(cells[0]), X);
    _mm_store_si128(reinterpret_cast<__m128i*>(cells[1]), Y);
    _mm_store_si128(reinterpret_cast<__m128i*>(cells[2]), Z);
    for (int k = 0; k < 4; ++k) {
      const int A = p[cells[0][k]] + cells[1][k];
      const int AA = p[A] + cells[2][k];
      const int AB = p[A + 1] + cells[2][k];
      const int B = p[cells[0][k] + 1] + cells[1][k];
      const int BA = p[B] + cells[2][k];
      const int BB = p[B + 1] + cells[2][k];
      hashes[0][k] = p[AA];
      hashes[1][k] = p[BA];
      hashes[2][k] = p[AB];
      hashes[3][k] = p[BB];
      hashes[4][k] = p[AA + 1];
      hashes[5][k] = p[BA + 1];
      hashes[6][k] = p[AB + 1];
      hashes[7][k] = p[BB + 1];
    }
    auto hash = [&](int corner) { return _mm_load_si128(reinterpret_cast<const __m128i*>(hashes[corner])); };

    const __m256d x1 = _mm256_sub_pd(x, one);
    const __m256d y1 = _mm256_sub_pd(y, one);
    const __m256d z1 = _mm256_sub_pd(z, one);
    const __m256d near_z = lerp4(v, lerp4(u, grad4(hash(0), x, y, z), grad4(hash(1), x1, y, z)),
                                 lerp4(u, grad4(hash(2), x, y1, z), grad4(hash(3), x1, y1, z)));
    const __m256d far_z = lerp4(v, lerp4(u, grad4(hash(4), x, y, z1), grad4(hash(5), x1, y, z1)),
                                lerp4(u, grad4(hash(6), x, y1, z1), grad4(hash(7), x1, y1, z1)));
    _mm256_storeu_pd(out + i, lerp4(w, near_z, far_z));
  }
  for (; i < n; ++i) out[i] = noise(xs[i], ys[i], zs[i]);
}

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace

void noise_batch(const double* x, const double* y, const double* z, double* out, std::size_t n) {
#if defined(__x86_64__)
  static const bool wide = has_avx2();
  if (wide) {
    noise_batch_avx2(x, y, z, out, n);
    return;
  }
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = noise(x[i], y[i], z[i]);
}

}  // namespace DD::Image
