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
// Four points per step in AVX2 lanes. Every floating-point operation is the scalar one in the same
// order (separate multiplies and adds, never fused), so each lane rounds exactly as noise() does; the
// table lookups stay in scalar code, where on this class of processor they beat gathers. A group of four
// with a coordinate that is not finite or whose cell is beyond 32 bits goes through noise() itself.

/// Entry i holds p[i] in its low 16 bits and p[i + 1] in its high 16 bits: the construction always reads
/// the two together, so one load serves both, and adding (c << 16 | c) offsets both without a carry.
constexpr std::array<std::uint32_t, 512> pair_table() {
  std::array<std::uint32_t, 512> t{};
  for (std::size_t i = 0; i < 512; ++i)
    t[i] = static_cast<std::uint32_t>(p[i]) | static_cast<std::uint32_t>(p[(i + 1) % 512]) << 16;
  return t;
}

/// grad() as a sum of two signed terms taken in coordinate order: the first term is x or y, the second
/// y or z. The reference sums u and v; where it takes y then x (hashes 12 and 14) the terms are swapped,
/// each with its own sign, which leaves the sum bit for bit the same (addition commutes exactly).
struct GradientChoice {
  std::uint64_t first_is_y, second_is_z, flip_first, flip_second;
  constexpr explicit GradientChoice(int hash) : first_is_y(0), second_is_z(0), flip_first(0), flip_second(0) {
    const int h = hash & 15;
    const int u = h < 8 ? 0 : 1;  // 0 x, 1 y, 2 z
    const int v = h < 4 ? 1 : (h == 12 || h == 14 ? 0 : 2);
    const std::uint64_t flip_u = h & 1, flip_v = (h >> 1) & 1;
    const bool swap = v < u;
    first_is_y = (swap ? v : u) == 1;
    second_is_z = (swap ? u : v) == 2;
    flip_first = swap ? flip_v : flip_u;
    flip_second = swap ? flip_u : flip_v;
  }
};

/// Entry i holds the gradient choices of p[i] in bits 0-3 and those of p[i + 1] in bits 16-18 and 63,
/// placed for the shifts in gradient_lo and gradient_hi.
constexpr std::array<std::uint64_t, 512> gradient_table() {
  std::array<std::uint64_t, 512> t{};
  for (std::size_t i = 0; i < 512; ++i) {
    const GradientChoice lo(p[i]), hi(p[(i + 1) % 512]);
    t[i] = lo.flip_first | lo.flip_second << 1 | lo.first_is_y << 2 | lo.second_is_z << 3 |
           hi.flip_first << 16 | hi.first_is_y << 17 | hi.second_is_z << 18 | hi.flip_second << 63;
  }
  return t;
}

constexpr std::array<std::uint32_t, 512> kPairs = pair_table();
constexpr std::array<std::uint64_t, 512> kGradients = gradient_table();

__attribute__((target("avx2"))) __m256d fade4(__m256d t) {
  const __m256d inner = _mm256_add_pd(
      _mm256_mul_pd(t, _mm256_sub_pd(_mm256_mul_pd(t, _mm256_set1_pd(6.0)), _mm256_set1_pd(15.0))),
      _mm256_set1_pd(10.0));
  return _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(t, t), t), inner);
}

__attribute__((target("avx2"))) __m256d lerp4(__m256d t, __m256d a, __m256d b) {
  return _mm256_add_pd(a, _mm256_mul_pd(t, _mm256_sub_pd(b, a)));
}

/// grad() from its choices: blend masks are the sign bits of 64-bit lanes (all a blend reads), the
/// negations lone sign bits to flip.
__attribute__((target("avx2"))) __m256d grad4(__m256i first_is_y, __m256i second_is_z, __m256i flip_first,
                                              __m256i flip_second, __m256d x, __m256d y, __m256d z) {
  const __m256d first = _mm256_blendv_pd(x, y, _mm256_castsi256_pd(first_is_y));
  const __m256d second = _mm256_blendv_pd(y, z, _mm256_castsi256_pd(second_is_z));
  return _mm256_add_pd(_mm256_xor_pd(first, _mm256_castsi256_pd(flip_first)),
                       _mm256_xor_pd(second, _mm256_castsi256_pd(flip_second)));
}

/// Gradient of the low entry of a gradient_table word: bit k reaches the sign when shifted left by 63 - k.
__attribute__((target("avx2"))) __m256d gradient_lo(__m256i code, __m256d x, __m256d y, __m256d z) {
  const __m256i sign = _mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ULL));
  return grad4(_mm256_slli_epi64(code, 61), _mm256_slli_epi64(code, 60), _mm256_slli_epi64(code, 63),
               _mm256_and_si256(_mm256_slli_epi64(code, 62), sign), x, y, z);
}

/// Gradient of the high entry: bits 16-18, and bit 63, already in place.
__attribute__((target("avx2"))) __m256d gradient_hi(__m256i code, __m256d x, __m256d y, __m256d z) {
  const __m256i sign = _mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ULL));
  return grad4(_mm256_slli_epi64(code, 46), _mm256_slli_epi64(code, 45),
               _mm256_and_si256(_mm256_slli_epi64(code, 47), sign), _mm256_and_si256(code, sign), x, y, z);
}

/// Points per chunk. A chunk is taken in passes: cells and fractions in vector lanes, then the table
/// lookups in scalar code a few points ahead of the double-precision arithmetic, so the integer units
/// and the vector units work side by side.
constexpr std::size_t kChunk = 128;

/// The working state of one chunk.
struct alignas(32) Chunk {
  double fx[kChunk], fy[kChunk], fz[kChunk];        // positions within the cell
  double u[kChunk], v[kChunk], w[kChunk];           // and their fades
  std::uint32_t x[kChunk], yy[kChunk], zz[kChunk];  // cells; y and z repeated in both 16-bit halves
  std::uint64_t word[4][kChunk];                    // gradient words of the corner pairs AA, BA, AB, BB
  bool usable[kChunk / 4];                          // false: a lane of the group needs noise() itself
};

__attribute__((target("avx2"), always_inline)) inline __m256d load4(const double* v) {
  return _mm256_loadu_pd(v);
}

__attribute__((target("avx2"), always_inline)) inline __m256d load4(const float* v) {
  return _mm256_cvtps_pd(_mm_loadu_ps(v));
}

/// Cells, fractions and fades of points [j, j + 4); false when a lane needs noise() itself.
template <class T>
__attribute__((target("avx2"), always_inline)) inline bool locate4(const T* xs, const T* ys, const T* zs,
                                                                   Chunk& c, std::size_t j) {
  const __m256d x = load4(xs), y = load4(ys), z = load4(zs);
  const __m256d fx = _mm256_floor_pd(x), fy = _mm256_floor_pd(y), fz = _mm256_floor_pd(z);
  const __m256d rx = _mm256_sub_pd(x, fx), ry = _mm256_sub_pd(y, fy), rz = _mm256_sub_pd(z, fz);
  _mm256_store_pd(c.fx + j, rx);
  _mm256_store_pd(c.fy + j, ry);
  _mm256_store_pd(c.fz + j, rz);
  _mm256_store_pd(c.u + j, fade4(rx));
  _mm256_store_pd(c.v + j, fade4(ry));
  _mm256_store_pd(c.w + j, fade4(rz));
  // NaN, infinities and floors beyond 32 bits all convert to INT_MIN; so does -2^31 itself, which then
  // merely takes the scalar path. Within 32 bits the low byte is the cell, as in cell().
  const __m128i X = _mm256_cvttpd_epi32(fx), Y = _mm256_cvttpd_epi32(fy), Z = _mm256_cvttpd_epi32(fz);
  const __m128i invalid = _mm_set1_epi32(std::numeric_limits<std::int32_t>::min());
  const __m128i bad = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(X, invalid), _mm_cmpeq_epi32(Y, invalid)),
                                   _mm_cmpeq_epi32(Z, invalid));
  const __m128i byte = _mm_set1_epi32(255);
  const __m128i y8 = _mm_and_si128(Y, byte), z8 = _mm_and_si128(Z, byte);
  _mm_store_si128(reinterpret_cast<__m128i*>(c.x + j), _mm_and_si128(X, byte));
  _mm_store_si128(reinterpret_cast<__m128i*>(c.yy + j), _mm_or_si128(y8, _mm_slli_epi32(y8, 16)));
  _mm_store_si128(reinterpret_cast<__m128i*>(c.zz + j), _mm_or_si128(z8, _mm_slli_epi32(z8, 16)));
  return _mm_testz_si128(bad, bad) != 0;
}

/// The gradient words of points [j, j + 4): seven table loads per point.
inline void hash4(Chunk& c, std::size_t j) {
  for (std::size_t k = j; k < j + 4; ++k) {
    const std::uint32_t a_b = kPairs[c.x[k]] + c.yy[k];  // A low, B high
    const std::uint32_t aa_ab = kPairs[a_b & 0xffff] + c.zz[k];
    const std::uint32_t ba_bb = kPairs[a_b >> 16] + c.zz[k];
    // Through an opaque pointer: otherwise the compiler gathers the words into vector registers one
    // lane at a time, which costs the vector units more than the four stores.
    std::uint64_t* word = &c.word[0][k];
    asm("" : "+r"(word));
    word[0] = kGradients[aa_ab & 0xffff];
    word[kChunk] = kGradients[ba_bb & 0xffff];
    word[2 * kChunk] = kGradients[aa_ab >> 16];
    word[3 * kChunk] = kGradients[ba_bb >> 16];
  }
}

/// The eight corner gradients of points [j, j + 4) of a located and hashed chunk.
__attribute__((target("avx2"), always_inline)) inline void gradients4(const Chunk& c, std::size_t j,
                                                                      __m256d (&g)[8]) {
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d x = _mm256_load_pd(c.fx + j), y = _mm256_load_pd(c.fy + j), z = _mm256_load_pd(c.fz + j);
  const __m256d x1 = _mm256_sub_pd(x, one);
  const __m256d y1 = _mm256_sub_pd(y, one);
  const __m256d z1 = _mm256_sub_pd(z, one);
  const __m256i aa = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.word[0] + j));
  const __m256i ba = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.word[1] + j));
  const __m256i ab = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.word[2] + j));
  const __m256i bb = _mm256_load_si256(reinterpret_cast<const __m256i*>(c.word[3] + j));
  g[0] = gradient_lo(aa, x, y, z);
  g[1] = gradient_lo(ba, x1, y, z);
  g[2] = gradient_lo(ab, x, y1, z);
  g[3] = gradient_lo(bb, x1, y1, z);
  g[4] = gradient_hi(aa, x, y, z1);
  g[5] = gradient_hi(ba, x1, y, z1);
  g[6] = gradient_hi(ab, x, y1, z1);
  g[7] = gradient_hi(bb, x1, y1, z1);
}

/// noise at points [j, j + 4) from their corner gradients.
__attribute__((target("avx2"), always_inline)) inline __m256d interpolate4(const Chunk& c, std::size_t j,
                                                                           const __m256d (&g)[8]) {
  const __m256d u = _mm256_load_pd(c.u + j), v = _mm256_load_pd(c.v + j), w = _mm256_load_pd(c.w + j);
  const __m256d near_z = lerp4(v, lerp4(u, g[0], g[1]), lerp4(u, g[2], g[3]));
  const __m256d far_z = lerp4(v, lerp4(u, g[4], g[5]), lerp4(u, g[6], g[7]));
  return lerp4(w, near_z, far_z);
}

/// noise at m points, m a multiple of 4 and at most kChunk.
template <class T>
__attribute__((target("avx2"))) void noise_chunk(const T* xs, const T* ys, const T* zs, double* out,
                                                 std::size_t m, Chunk& c) {
  for (std::size_t j = 0; j < m; j += 4) c.usable[j / 4] = locate4(xs + j, ys + j, zs + j, c, j);
  // A software pipeline: the lookups run two groups ahead of the gradients, and the gradients one group
  // ahead of the interpolation, so no step waits on the one before it.
  constexpr std::size_t kAhead = 8;
  for (std::size_t j = 0; j < kAhead && j < m; j += 4) hash4(c, j);
  __m256d g[2][8];
  gradients4(c, 0, g[0]);
  for (std::size_t j = 0; j < m; j += 4) {
    if (j + kAhead < m) hash4(c, j + kAhead);
    const std::size_t slot = (j / 4) & 1;
    if (j + 4 < m) gradients4(c, j + 4, g[slot ^ 1]);
    if (c.usable[j / 4])
      _mm256_storeu_pd(out + j, interpolate4(c, j, g[slot]));
    else
      for (std::size_t k = j; k < j + 4; ++k) out[k] = noise(xs[k], ys[k], zs[k]);
  }
}

template <class T>
__attribute__((target("avx2"))) void noise_batch_avx2(const T* xs, const T* ys, const T* zs, double* out,
                                                      std::size_t n) {
  Chunk c;
  std::size_t i = 0;
  while (n - i >= 4) {
    const std::size_t m = n - i < kChunk ? (n - i) / 4 * 4 : kChunk;
    noise_chunk(xs + i, ys + i, zs + i, out + i, m, c);
    i += m;
  }
  if (i == n) return;
  // The last one to three points, padded with ordinary ones to a group.
  T px[4], py[4], pz[4];
  double result[4];
  const std::size_t rest = n - i;
  for (std::size_t k = 0; k < 4; ++k) {
    px[k] = k < rest ? xs[i + k] : T(0.5);
    py[k] = k < rest ? ys[i + k] : T(0.5);
    pz[k] = k < rest ? zs[i + k] : T(0.5);
  }
  noise_chunk(px, py, pz, result, 4, c);
  for (std::size_t k = 0; k < rest; ++k) out[i + k] = result[k];
}

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

template <class T>
void noise_batch_any(const T* x, const T* y, const T* z, double* out, std::size_t n) {
#if defined(__x86_64__)
  static const bool wide = has_avx2();
  if (wide) {
    noise_batch_avx2(x, y, z, out, n);
    return;
  }
#endif
  for (std::size_t i = 0; i < n; ++i) out[i] = noise(x[i], y[i], z[i]);
}

}  // namespace

void noise_batch(const double* x, const double* y, const double* z, double* out, std::size_t n) {
  noise_batch_any(x, y, z, out, n);
}

void noise_batch(const float* x, const float* y, const float* z, double* out, std::size_t n) {
  noise_batch_any(x, y, z, out, n);
}

}  // namespace DD::Image
