/// \file bitmap_font.h  A tiny built-in 5x7 font, so labels never depend on an installed font.
#pragma once

#include <array>
#include <string_view>

namespace quorlen::demo {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

/// Rows of a glyph, top first; bit 4 is the leftmost column. Lower-case letters use the capitals;
/// characters without a glyph show as a hollow box.
std::array<unsigned char, kGlyphHeight> glyph(char c);

/// Width in font pixels of `text` (glyph width plus one column of spacing per character).
int text_width(std::string_view text);

}  // namespace quorlen::demo
