/// \file srgb.cpp  The sRGB transfer function.
#include "hosting/images/srgb.h"

#include <bit>
#include <cmath>

namespace quorlen::hosting {

double srgb_encode(double linear) {
  if (!(linear > 0.0)) return 0.0;  // also NaN
  if (linear >= 1.0) return 1.0;
  if (linear <= 0.0031308) return 12.92 * linear;
  return 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

std::uint8_t srgb_encode_8bit_by_formula(float linear) {
  return static_cast<std::uint8_t>(std::lround(srgb_encode(static_cast<double>(linear)) * 255.0));
}

namespace {

// at[c] is the smallest float whose code by the formula is c or more (c = 1 to 255). The formula's code
// never decreases as the float grows, so a value's code is the number of thresholds at or below it: the
// same code without a pow per sample. To skip most of that search, floats below 1 are also put in buckets
// by their top 16 bits (a 0.8 % slice of each power of two, finer than any step between codes): a bucket's
// code is its first float's or, from its one threshold on, the next.
struct CodeTable {
  static constexpr std::uint32_t kBuckets = (std::bit_cast<std::uint32_t>(1.0f) >> 16) + 1;
  float at[256] = {};
  std::uint8_t base[kBuckets] = {};
  float next[kBuckets] = {};
  bool buckets_hold_one_step = true;

  unsigned search(float linear) const {
    unsigned code = 0;
    for (unsigned step = 128; step > 0; step >>= 1) code += linear >= at[code + step] ? step : 0;
    return code;
  }

  CodeTable() {
    for (int c = 1; c < 256; ++c) {
      std::uint32_t low = 1, high = std::bit_cast<std::uint32_t>(1.0f);  // code(1) = 255
      while (low < high) {
        const std::uint32_t mid = low + (high - low) / 2;
        if (srgb_encode_8bit_by_formula(std::bit_cast<float>(mid)) >= c)
          high = mid;
        else
          low = mid + 1;
      }
      at[c] = std::bit_cast<float>(high);
    }
    for (std::uint32_t b = 0; b < kBuckets; ++b) {
      const float first = std::bit_cast<float>(b << 16);
      const float last = std::bit_cast<float>((b << 16) | 0xFFFFu);
      base[b] = static_cast<std::uint8_t>(search(first));
      next[b] = base[b] < 255 ? at[base[b] + 1] : INFINITY;
      // Should a bucket ever span two steps, every value takes the search instead.
      if (search(last) > base[b] + 1u) buckets_hold_one_step = false;
    }
  }
};

const CodeTable& code_table() {
  static const CodeTable table;
  return table;
}

inline std::uint8_t code_of(const CodeTable& table, float linear) {
  if (!(linear > 0.0f)) return 0;  // also NaN
  if (linear >= 1.0f) return 255;
  if (!table.buckets_hold_one_step) return static_cast<std::uint8_t>(table.search(linear));
  const std::uint32_t b = std::bit_cast<std::uint32_t>(linear) >> 16;
  return static_cast<std::uint8_t>(table.base[b] + (linear >= table.next[b] ? 1 : 0));
}

}  // namespace

std::uint8_t srgb_encode_8bit(float linear) { return code_of(code_table(), linear); }

void srgb_encode_8bit_pixels(const float* src, std::size_t pixels, int stride, int r, int g, int b,
                             std::uint8_t* rgb) {
  const CodeTable& table = code_table();
  for (std::size_t i = 0; i < pixels; ++i, src += stride, rgb += 3) {
    rgb[0] = code_of(table, src[r]);
    rgb[1] = code_of(table, src[g]);
    rgb[2] = code_of(table, src[b]);
  }
}

std::uint16_t srgb_encode_16bit(float linear) {
  return static_cast<std::uint16_t>(std::lround(srgb_encode(static_cast<double>(linear)) * 65535.0));
}

}  // namespace quorlen::hosting
