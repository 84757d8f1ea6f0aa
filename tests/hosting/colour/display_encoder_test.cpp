/// \file display_encoder_test.cpp  A view's codes do not depend on how pixels are grouped: runs of equal
/// pixels converted once, large calls split between threads, pixels one at a time all give the same codes.
#include "hosting/colour/display_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

namespace quorlen::hosting {
namespace {

// RGBA pixels with runs of repeats (a flat background), NaNs, infinities, -0 beside 0, and noise.
std::vector<float> frame(std::size_t pixels) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> light(0.0f, 6.0f);
  std::vector<float> rgba;
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -0.0f, 0.0f, -1.0f};
  for (std::size_t i = 0; i < pixels; ++i) {
    if (i % 97 < 40 && i > 0) {
      rgba.insert(rgba.end(), rgba.end() - 4, rgba.end());  // a run of the pixel before
      continue;
    }
    const float s = specials[i % 5];
    if (i % 13 == 0)
      rgba.insert(rgba.end(), {s, light(rng), s, 1.0f});
    else
      rgba.insert(rgba.end(), {light(rng), light(rng), light(rng), 0.5f});
  }
  return rgba;
}

TEST(DisplayEncoder, CodesAreThoseOfEachPixelAloneHoweverPixelsAreGrouped) {
  unsetenv("OCIO");
  choose_colour_config(std::nullopt);
  constexpr std::size_t kPixels = 3 * 4096 + 517;  // several parallel parts and a short one
  const std::vector<float> rgba = frame(kPixels);
  for (const char* view : {"ACES 1.0 - SDR Video", "sRGB"})
    for (double exposure : {0.0, 1.5}) {
      const DisplayEncoder encoder(resolve_display_view(std::nullopt, std::string(view), std::nullopt),
                                   exposure, view[0] == 's' ? 1.0 : 2.2);
      std::vector<std::uint8_t> whole(kPixels * 3), alone(kPixels * 3);
      std::vector<std::uint16_t> whole16(kPixels * 3), alone16(kPixels * 3);
      encoder.codes8(rgba.data(), kPixels, 4, 0, 1, 2, whole.data());
      encoder.codes16(rgba.data(), kPixels, 4, 0, 1, 2, whole16.data());
      for (std::size_t i = 0; i < kPixels; ++i) {
        encoder.codes8(rgba.data() + 4 * i, 1, 4, 0, 1, 2, alone.data() + 3 * i);
        encoder.codes16(rgba.data() + 4 * i, 1, 4, 0, 1, 2, alone16.data() + 3 * i);
      }
      ASSERT_EQ(whole, alone) << view << " exposure " << exposure;
      ASSERT_EQ(whole16, alone16) << view << " exposure " << exposure;
      // Channels in another order are read by their indexes: blue, green, red swapped back.
      std::vector<float> bgra(rgba);
      for (std::size_t i = 0; i < kPixels; ++i) std::swap(bgra[4 * i], bgra[4 * i + 2]);
      std::vector<std::uint8_t> swapped(kPixels * 3);
      encoder.codes8(bgra.data(), kPixels, 4, 2, 1, 0, swapped.data());
      ASSERT_EQ(swapped, whole) << view;
    }
}

}  // namespace
}  // namespace quorlen::hosting
