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
// same code without a pow per sample.
struct CodeThresholds {
  float at[256] = {};
  CodeThresholds() {
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
  }
};

}  // namespace

std::uint8_t srgb_encode_8bit(float linear) {
  if (!(linear > 0.0f)) return 0;  // also NaN
  if (linear >= 1.0f) return 255;
  static const CodeThresholds thresholds;
  unsigned code = 0;
  for (unsigned step = 128; step > 0; step >>= 1) code += linear >= thresholds.at[code + step] ? step : 0;
  return static_cast<std::uint8_t>(code);
}

std::uint16_t srgb_encode_16bit(float linear) {
  return static_cast<std::uint16_t>(std::lround(srgb_encode(static_cast<double>(linear)) * 65535.0));
}

}  // namespace quorlen::hosting
