/// \file preview.h  8-bit previews in memory: what the viewer shows, Python's preview() returns and the
/// demo's pictures are made of. The colour codes are those of a render written to PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DDImageHost/ImageBuffer.h"

namespace quorlen::hosting {

/// How an image's values become display values.
enum class PreviewKind {
  colour,     ///< light: times 2^exposure, then the sRGB curve
  normals,    ///< unit vectors: 0.5 n + 0.5 shown as they are
  positions,  ///< each component spread over the range it covers in the image
};

/// An 8-bit preview: red, green, blue a pixel, rows in the image's line order (line y of the box first).
struct Preview {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

/// The preview of red, green and blue of `image` over its whole box. Throws a usage error for an exposure
/// that is not a finite number of stops between -64 and 64.
Preview preview_codes(const DD::Image::ImageBuffer& image, PreviewKind kind, double exposure = 0.0);

/// The preview encoded as a PNG file's bytes, stored for encoding speed rather than size (it is made again
/// after every change). Throws an output error when no PNG writer can be had.
std::string preview_png(const DD::Image::ImageBuffer& image, PreviewKind kind, double exposure = 0.0);

/// The same for codes already made.
std::string preview_png(const Preview& preview);

}  // namespace quorlen::hosting
