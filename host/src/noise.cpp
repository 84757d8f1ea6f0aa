/// \file noise.cpp  The host's improved gradient noise, in double precision.
#include "DDImage/Noise.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

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

}  // namespace DD::Image
