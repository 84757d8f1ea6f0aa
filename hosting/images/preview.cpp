/// \file preview.cpp  8-bit previews made in memory and encoded as PNG without touching a file.
#include <fmt/format.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <quorlen/preview.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>

#include "hosting/colour/display_encoder.h"
#include "hosting/images/codecs.h"
#include "hosting/images/image_writer.h"
#include "hosting/images/srgb.h"

namespace quorlen::hosting {

using DD::Image::Box;
using DD::Image::ImageBuffer;

namespace {

// Display values in [0, 1] as codes, rounded to nearest; NaN shows as 0.
std::uint8_t display_code(float shown) {
  if (!(shown > 0.0f)) return 0;
  if (shown >= 1.0f) return 255;
  return static_cast<std::uint8_t>(std::lround(shown * 255.0f));
}

}  // namespace

Preview preview_codes(const ImageBuffer& image, PreviewKind kind, double exposure) {
  if (!std::isfinite(exposure) || std::abs(exposure) > 64)
    throw usage_error("exposure must be a number of stops between -64 and 64");
  const Box& box = image.box();
  Preview out;
  out.width = box.w();
  out.height = box.h();
  out.rgb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 3);
  const int c[3] = {image.channel_index(DD::Image::Chan_Red), image.channel_index(DD::Image::Chan_Green),
                    image.channel_index(DD::Image::Chan_Blue)};
  if (c[0] < 0 || c[1] < 0 || c[2] < 0) throw usage_error("a preview needs red, green and blue channels");
  const std::size_t width = static_cast<std::size_t>(out.width);
  if (kind == PreviewKind::colour) {
    PreviewView view;
    view.exposure = exposure;
    return preview_codes(image, view);
  }
  // Positions are shown spread over the range they cover, each component on its own.
  float low[3] = {-1, -1, -1}, high[3] = {1, 1, 1};
  if (kind == PreviewKind::positions) {
    std::fill(low, low + 3, INFINITY);
    std::fill(high, high + 3, -INFINITY);
    for (int y = box.y(); y < box.t(); ++y)
      for (int x = box.x(); x < box.r(); ++x)
        for (int k = 0; k < 3; ++k)
          if (const float v = image.at(x, y, c[k]); std::isfinite(v)) {
            low[k] = std::min(low[k], v);
            high[k] = std::max(high[k], v);
          }
  }
  for (int y = box.y(); y < box.t(); ++y) {
    std::uint8_t* dst = out.rgb.data() + static_cast<std::size_t>(y - box.y()) * width * 3;
    for (int x = box.x(); x < box.r(); ++x, dst += 3)
      for (int k = 0; k < 3; ++k) {
        const float v = image.at(x, y, c[k]);
        if (kind == PreviewKind::normals)
          dst[k] = display_code(0.5f * v + 0.5f);
        else
          dst[k] = display_code(high[k] > low[k] ? (v - low[k]) / (high[k] - low[k]) : 0.0f);
      }
  }
  return out;
}

Preview preview_codes(const ImageBuffer& image, const PreviewView& view) {
  const DisplayEncoder encoder(resolve_display_view(view.display, view.view, view.look), view.exposure,
                               view.gamma);
  const Box& box = image.box();
  Preview out;
  out.width = box.w();
  out.height = box.h();
  out.rgb.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 3);
  const int c[3] = {image.channel_index(DD::Image::Chan_Red), image.channel_index(DD::Image::Chan_Green),
                    image.channel_index(DD::Image::Chan_Blue)};
  if (c[0] < 0 || c[1] < 0 || c[2] < 0) throw usage_error("a preview needs red, green and blue channels");
  const std::size_t width = static_cast<std::size_t>(out.width);
  // Groups of lines of some thousands of pixels each: the view's processor is the costly part.
  tbb::parallel_for(tbb::blocked_range<int>(box.y(), box.t(), std::max(1, 8192 / std::max(1, out.width))),
                    [&](const tbb::blocked_range<int>& lines) {
                      for (int y = lines.begin(); y < lines.end(); ++y)
                        encoder.codes8(image.line(y), width, image.channel_count(), c[0], c[1], c[2],
                                       out.rgb.data() + static_cast<std::size_t>(y - box.y()) * width * 3);
                    });
  return out;
}

std::string preview_png(const Preview& preview) {
  if (preview.width <= 0 || preview.height <= 0) throw usage_error("a preview of no pixels");
  std::vector<unsigned char> bytes;
  EncoderSpec layout = rgb8_layout(preview.width, preview.height);
  layout.fast = true;
  layout.memory = &bytes;
  try {
    auto encoder = create_image("preview.png", "preview.png", layout);
    encoder->write(preview.height, preview.rgb.data());
    encoder->close();
  } catch (const codec_error& e) {
    throw output_error(fmt::format("the preview could not be encoded: {}", e.what()));
  }
  return std::string(bytes.begin(), bytes.end());
}

std::string preview_png(const ImageBuffer& image, PreviewKind kind, double exposure) {
  return preview_png(preview_codes(image, kind, exposure));
}

}  // namespace quorlen::hosting
