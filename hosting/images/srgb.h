/// \file srgb.h  The sRGB transfer function for 8-bit previews.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorlen::hosting {

/// The sRGB encoding of a linear value in [0, 1]: 12.92 v below 0.0031308, else 1.055 v^(1/2.4) - 0.055.
/// Values below 0 (and NaN) give 0, values above 1 give 1.
double srgb_encode(double linear);

/// The 8-bit code of a linear value: srgb_encode scaled to 255 and rounded to nearest (found in a table of
/// the codes' thresholds, which gives the formula's code for every float).
std::uint8_t srgb_encode_8bit(float linear);
/// The codes of channels `r`, `g` and `b` of `pixels` pixels of `stride` floats each, into `rgb` (three
/// bytes a pixel): srgb_encode_8bit of each, for whole lines at once.
void srgb_encode_8bit_pixels(const float* src, std::size_t pixels, int stride, int r, int g, int b,
                             std::uint8_t* rgb);
/// The same code computed by the formula itself, which the table is made from.
std::uint8_t srgb_encode_8bit_by_formula(float linear);
/// The 16-bit code of a linear value: srgb_encode scaled to 65535 and rounded to nearest.
std::uint16_t srgb_encode_16bit(float linear);

}  // namespace quorlen::hosting
