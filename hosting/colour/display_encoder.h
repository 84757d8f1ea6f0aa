/// \file display_encoder.h  Working-space light to a display's codes through a display, view and look.
#pragma once

#include <quorlen/colour.h>

#include <cstddef>
#include <cstdint>

#include "hosting/colour/colour_config.h"

namespace quorlen::hosting {

/// A display transform of the config in use, from its working space, ready to apply from any thread.
class DisplayEncoder {
 public:
  /// Throws a usage error for a non-finite exposure (stops) or gamma that is not positive.
  explicit DisplayEncoder(const DisplayView& view, double exposure = 0.0, double gamma = 1.0);

  /// True when the transform is the sRGB curve alone (after the exposure's gain): codes then come from the
  /// exact sRGB encoder, as they always have, rather than from OpenColorIO's processor.
  bool plain_srgb() const { return plain_srgb_; }

  /// Channels `r`, `g`, `b` of `pixels` pixels of `stride` floats each, as 8-bit codes (three a pixel).
  void codes8(const float* src, std::size_t pixels, int stride, int r, int g, int b, std::uint8_t* rgb) const;
  /// The same as 16-bit codes.
  void codes16(const float* src, std::size_t pixels, int stride, int r, int g, int b,
               std::uint16_t* rgb) const;

 private:
  // Display values of the pixels, packed three floats a pixel, in `rgb`.
  void display_values(const float* src, std::size_t pixels, int stride, int r, int g, int b,
                      float* rgb) const;

  float gain_ = 1.0f;
  bool plain_srgb_ = false;
  OCIO::ConstCPUProcessorRcPtr cpu_;
};

/// One colour space of the config in use to another, in place over packed pixels.
class SpaceConverter {
 public:
  /// Names must be the config's; from or to a data space, or to the same space, nothing is converted.
  SpaceConverter(const std::string& from, const std::string& to);
  bool identity() const { return !cpu_; }
  /// `pixels` pixels of `channels` floats (3: RGB, 4: RGBA, alpha kept).
  void apply(float* pixels_data, std::size_t pixels, int channels = 3) const;
  /// The same over pixels `stride` floats apart, their `channels` (3 or 4) floats from `first` on: one
  /// layer of interleaved layers, converted where it lies.
  void apply(float* first, std::size_t pixels, int channels, int stride) const;

 private:
  OCIO::ConstCPUProcessorRcPtr cpu_;
};

}  // namespace quorlen::hosting
