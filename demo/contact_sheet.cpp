/// \file contact_sheet.cpp  Laying previews out on a sheet and labelling them with the built-in font.
#include "demo/contact_sheet.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/images.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "demo/bitmap_font.h"

namespace quorlen::demo {
namespace {

using DD::Image::Box;
using DD::Image::ImageBuffer;

constexpr int kGap = 12;
constexpr int kLabelHeight = 30;
constexpr int kFontScale = 2;
constexpr std::array<float, 3> kBackground = {0.09f, 0.09f, 0.10f};
constexpr std::array<float, 3> kText = {0.92f, 0.92f, 0.92f};

// The previews' R, G, B as they are stored (sRGB codes from 0 to 1).
ImageBuffer read_preview(const std::string& path) { return hosting::read_layer(path); }

// The sheet is kept top line first, as it is written.
class Sheet {
 public:
  Sheet(int width, int height)
      : width_(width), height_(height), rgb_(static_cast<std::size_t>(width) * height * 3) {
    for (std::size_t i = 0; i < rgb_.size(); ++i) rgb_[i] = kBackground[i % 3];
  }

  void paste(const ImageBuffer& image, int x0, int y0) {
    const Box& box = image.box();
    for (int y = box.y(); y < box.t(); ++y)
      std::copy(image.line(y), image.line(y) + static_cast<std::ptrdiff_t>(box.w()) * 3,
                at(x0, y0 + y - box.y()));
  }

  void fill(int x0, int y0, int x1, int y1, const std::array<float, 3>& colour) {
    for (int y = std::max(0, y0); y < std::min(height_, y1); ++y)
      for (int x = std::max(0, x0); x < std::min(width_, x1); ++x)
        std::copy(colour.begin(), colour.end(), at(x, y));
  }

  // `text` in the built-in font, scaled, its top-left corner at (x, y).
  void text(int x, int y, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto rows = glyph(text[i]);
      const int gx = x + static_cast<int>(i) * (kGlyphWidth + 1) * kFontScale;
      for (int row = 0; row < kGlyphHeight; ++row)
        for (int col = 0; col < kGlyphWidth; ++col)
          if (rows[static_cast<std::size_t>(row)] & (1u << (kGlyphWidth - 1 - col)))
            fill(gx + col * kFontScale, y + row * kFontScale, gx + (col + 1) * kFontScale,
                 y + (row + 1) * kFontScale, kText);
    }
  }

  std::vector<std::uint8_t> codes() const {
    std::vector<std::uint8_t> out(rgb_.size());
    for (std::size_t i = 0; i < rgb_.size(); ++i)
      out[i] = static_cast<std::uint8_t>(std::lround(std::clamp(rgb_[i], 0.0f, 1.0f) * 255.0f));
    return out;
  }

 private:
  float* at(int x, int y) { return rgb_.data() + (static_cast<std::size_t>(y) * width_ + x) * 3; }

  int width_, height_;
  std::vector<float> rgb_;
};

}  // namespace

void write_contact_sheet(const std::vector<SheetEntry>& entries, const std::string& path, int columns) {
  if (entries.empty()) return;
  std::vector<ImageBuffer> images;
  int tile_w = 0, tile_h = 0;
  for (const auto& e : entries) {
    images.push_back(read_preview(e.image));
    tile_w = std::max(tile_w, images.back().box().w());
    tile_h = std::max(tile_h, images.back().box().h());
  }
  columns = std::max(1, std::min(columns, static_cast<int>(entries.size())));
  const int rows = (static_cast<int>(entries.size()) + columns - 1) / columns;
  const int width = kGap + columns * (tile_w + kGap);
  const int height = kGap + rows * (tile_h + kLabelHeight + kGap);

  Sheet sheet(width, height);
  for (std::size_t i = 0; i < images.size(); ++i) {
    const int x = kGap + static_cast<int>(i) % columns * (tile_w + kGap);
    const int y = kGap + static_cast<int>(i) / columns * (tile_h + kLabelHeight + kGap);
    sheet.paste(images[i], x, y);
    sheet.text(x + 4, y + tile_h + (kLabelHeight - kGlyphHeight * kFontScale) / 2, entries[i].label);
  }

  hosting::Preview codes{width, height, sheet.codes()};
  hosting::write_preview(path, codes);
}

}  // namespace quorlen::demo
