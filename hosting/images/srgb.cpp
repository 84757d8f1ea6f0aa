/// \file srgb.cpp  The sRGB transfer function.
#include "hosting/images/srgb.h"

#include <cmath>

namespace quorlen::hosting {

double srgb_encode(double linear) {
  if (!(linear > 0.0)) return 0.0;  // also NaN
  if (linear >= 1.0) return 1.0;
  if (linear <= 0.0031308) return 12.92 * linear;
  return 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

std::uint8_t srgb_encode_8bit(float linear) {
  return static_cast<std::uint8_t>(std::lround(srgb_encode(static_cast<double>(linear)) * 255.0));
}

std::uint16_t srgb_encode_16bit(float linear) {
  return static_cast<std::uint16_t>(std::lround(srgb_encode(static_cast<double>(linear)) * 65535.0));
}

}  // namespace quorlen::hosting
