/// \file preview.h  8-bit previews in memory: what the viewer shows, Python's preview() returns and the
/// demo's pictures are made of. The colour codes are those of a render written to PNG.
#pragma once

#include <cstdint>
#include <optional>
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

/// The preview of red, green and blue of `image` over its whole box; colour through the colour config's
/// default display and view. Throws a usage error for an exposure that is not a finite number of stops
/// between -64 and 64.
Preview preview_codes(const DD::Image::ImageBuffer& image, PreviewKind kind, double exposure = 0.0);

/// How light is shown: a display, view and look of the colour config in use (unset: its default display,
/// that display's default view, no look), and the view controls.
struct PreviewView {
  std::optional<std::string> display;
  std::optional<std::string> view;
  std::optional<std::string> look;
  double exposure = 0.0;  ///< stops, before the view
  double gamma = 1.0;     ///< after the view: values shown as v^(1/gamma)
};

/// The colour preview of `image` (working-space light) through `view`, its lines in parallel. Throws a
/// usage error for an unknown name (with the config's choices) or a control out of range.
Preview preview_codes(const DD::Image::ImageBuffer& image, const PreviewView& view);

/// The preview encoded as a PNG file's bytes, stored for encoding speed rather than size (it is made again
/// after every change). Throws an output error when no PNG writer can be had.
std::string preview_png(const DD::Image::ImageBuffer& image, PreviewKind kind, double exposure = 0.0);

/// The same for codes already made.
std::string preview_png(const Preview& preview);

}  // namespace quorlen::hosting
