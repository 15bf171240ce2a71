#pragma once
// The instrument's 5 x 7 bitmap font in 6 x 8 cells: Latin, Cyrillic (with Ё and
// ё) and the few signs the screens use. A character without a glyph shows as a
// hollow box, so missing glyphs are visible rather than silently blank.

#include <cstdint>
#include <string_view>

namespace ts::sim {

class Screen;

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kCellWidth = 6;
inline constexpr int kCellHeight = 8;

// Row r (0 = top) of the glyph, bit 4 the leftmost column.
struct Glyph {
  uint8_t rows[kGlyphHeight];
};

bool HasGlyph(char32_t c);
Glyph GlyphOf(char32_t c);

// Draws text with its top-left cell corner at (x, y); `black` is the ink colour
// (false for white text on a black bar). Returns the width drawn in pixels.
int DrawText(Screen& screen, int x, int y, std::u32string_view text, bool black = true);
int DrawText(Screen& screen, int x, int y, std::string_view utf8, bool black = true);
inline int TextWidth(std::u32string_view text) { return int(text.size()) * kCellWidth; }
std::u32string Utf8ToUtf32(std::string_view utf8);

}  // namespace ts::sim
