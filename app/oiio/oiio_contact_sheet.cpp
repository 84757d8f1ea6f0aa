/// \file oiio_contact_sheet.cpp  Composing previews and their labels.
#include "app/oiio/oiio_contact_sheet.h"

#include <algorithm>
#include <array>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <fmt/format.h>

#include "app/image_codec.h"
#include "app/oiio/bitmap_font.h"

namespace quorlen::app {
namespace {

constexpr int kGap = 12;
constexpr int kLabelHeight = 30;
constexpr int kFontSize = 17;
constexpr std::array<float, 3> kBackground = {0.09f, 0.09f, 0.10f};
constexpr std::array<float, 3> kText = {0.92f, 0.92f, 0.92f};

// Draws `text` with the built-in font, scaled by 2, its top-left corner at (x, y).
void draw_bitmap_text(OIIO::ImageBuf& sheet, int x, int y, const std::string& text) {
  constexpr int kScale = 2;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto rows = glyph(text[i]);
    const int gx = x + static_cast<int>(i) * (kGlyphWidth + 1) * kScale;
    for (int row = 0; row < kGlyphHeight; ++row)
      for (int col = 0; col < kGlyphWidth; ++col) {
        if (!(rows[static_cast<std::size_t>(row)] & (1u << (kGlyphWidth - 1 - col)))) continue;
        const OIIO::ROI dot(gx + col * kScale, gx + (col + 1) * kScale, y + row * kScale, y + (row + 1) * kScale);
        OIIO::ImageBufAlgo::fill(sheet, kText, dot);
      }
  }
}

// OpenImageIO looks for its default font first, then common system fonts; false when none is found.
bool draw_truetype_text(OIIO::ImageBuf& sheet, int x, int baseline, const std::string& text) {
  for (const char* font : {"", "DejaVuSans", "LiberationSans-Regular", "FreeSans"}) {
    if (OIIO::ImageBufAlgo::render_text(sheet, x, baseline, text, kFontSize, font, kText)) return true;
    sheet.geterror();  // the failed attempt's message is not ours to report
  }
  return false;
}

}  // namespace

void compose_contact_sheet(const std::vector<std::string>& previews, const std::vector<std::string>& labels,
                           int columns, const std::string& path, const std::string& file) {
  if (previews.empty()) return;
  std::vector<OIIO::ImageBuf> images;
  int tile_w = 0, tile_h = 0;
  for (const auto& preview : previews) {
    OIIO::ImageBuf image(preview);
    if (!image.read(0, 0, true, OIIO::TypeFloat))
      throw codec_error(fmt::format("cannot read preview \"{}\": {}", preview, image.geterror()));
    tile_w = std::max(tile_w, image.roi().width());
    tile_h = std::max(tile_h, image.roi().height());
    images.push_back(std::move(image));
  }
  columns = std::max(1, std::min(columns, static_cast<int>(previews.size())));
  const int rows = (static_cast<int>(previews.size()) + columns - 1) / columns;
  const int width = kGap + columns * (tile_w + kGap);
  const int height = kGap + rows * (tile_h + kLabelHeight + kGap);

  OIIO::ImageBuf sheet(OIIO::ImageSpec(width, height, 3, OIIO::TypeFloat));
  OIIO::ImageBufAlgo::fill(sheet, kBackground);
  bool truetype = true;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const int x = kGap + static_cast<int>(i) % columns * (tile_w + kGap);
    const int y = kGap + static_cast<int>(i) / columns * (tile_h + kLabelHeight + kGap);
    OIIO::ImageBufAlgo::paste(sheet, x, y, 0, 0, images[i]);
    const std::string label = i < labels.size() ? labels[i] : std::string();
    if (truetype) truetype = draw_truetype_text(sheet, x + 4, y + tile_h + kLabelHeight - 9, label);
    if (!truetype) draw_bitmap_text(sheet, x + 4, y + tile_h + (kLabelHeight - kGlyphHeight * 2) / 2, label);
  }

  auto out = OIIO::ImageOutput::create(path);
  if (!out) throw codec_error(OIIO::geterror());
  OIIO::ImageSpec layout(width, height, 3, OIIO::TypeUInt8);
  if (!out->open(file, layout)) throw codec_error(out->geterror());
  // The previews hold sRGB codes already; they are stored as they are.
  const bool written = sheet.write(out.get());
  const bool closed = out->close();
  if (!written || !closed) throw codec_error(out->geterror());
}

}  // namespace quorlen::app
