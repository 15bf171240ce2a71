// The button glyphs on a screen of 192 dpi or more: each pixel of the 96-dpi glyph
// becomes an exact square, so a glyph stays as sharp as it was, only larger.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/StdCtrls.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

// The pixels of a square of the button face with the glyph drawn in its middle.
std::vector<uint32_t> Drawn(TGlyph glyph, bool enabled, int scale, int side) {
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), side, -side, 1, 32, BI_RGB};
  void* bits = nullptr;
  const TGdiObject bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const TMemoryDC dc(CreateCompatibleDC(nullptr));
  const HGDIOBJ old = SelectObject(dc.Get(), bitmap.Get());
  const RECT all{0, 0, side, side};
  FillRect(dc.Get(), &all, GetSysColorBrush(COLOR_BTNFACE));
  DrawGlyph(dc.Get(), glyph, all, enabled, scale);
  GdiFlush();
  SelectObject(dc.Get(), old);
  const auto* p = static_cast<const uint32_t*>(bits);
  return std::vector<uint32_t>(p, p + side * side);
}

TEST(Glyphs, AtTwiceTheDpiEachPixelIsAnExactSquare) {
  EXPECT_EQ(GlyphScale(96), 1);
  EXPECT_EQ(GlyphScale(144), 1);
  EXPECT_EQ(GlyphScale(192), 2);
  EXPECT_EQ(GlyphScale(288), 3);
  constexpr int kSide = 20;  // a 16-pixel glyph and its emboss, with room around
  for (int g = int(TGlyph::None) + 1; g <= int(TGlyph::DottedFrame); ++g) {
    for (bool enabled : {true, false}) {
      for (int scale : {2, 3}) {
        const std::vector<uint32_t> small = Drawn(TGlyph(g), enabled, 1, kSide);
        const std::vector<uint32_t> large = Drawn(TGlyph(g), enabled, scale, kSide * scale);
        int differ = 0;
        for (int y = 0; y < kSide * scale; ++y)
          for (int x = 0; x < kSide * scale; ++x)
            differ += large[size_t(y) * kSide * scale + x] != small[size_t(y / scale) * kSide + x / scale];
        EXPECT_EQ(differ, 0) << "glyph " << g << (enabled ? ", enabled" : ", disabled") << ", scale "
                             << scale;
      }
    }
  }
}

}  // namespace
}  // namespace ts
