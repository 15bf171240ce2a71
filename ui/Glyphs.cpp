// The toolkit's button pictures, drawn with GDI so they stay crisp and need no
// resource files. Disabled glyphs are drawn in the grey-text colour with a white
// emboss, as disabled images are.

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "ui/Dpi.h"
#include "ui/StdCtrls.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

struct Pen {
  HDC dc;
  COLORREF colour;
  void Fill(int l, int t, int r, int b) const {
    RECT rect{l, t, r, b};
    const TGdiObject brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, static_cast<HBRUSH>(brush.Get()));
  }
  void Poly(const POINT* points, int n) const {
    const TGdiObject brush(CreateSolidBrush(colour)), pen(CreatePen(PS_SOLID, 1, colour));
    HGDIOBJ ob = SelectObject(dc, brush.Get()), op = SelectObject(dc, pen.Get());
    Polygon(dc, points, n);
    SelectObject(dc, ob);
    SelectObject(dc, op);
  }
  void Frame(int l, int t, int r, int b) const {
    Fill(l, t, r, t + 1);
    Fill(l, b - 1, r, b);
    Fill(l, t, l + 1, b);
    Fill(r - 1, t, r, b);
  }
  void Pixel(int x, int y) const { SetPixel(dc, x, y, colour); }
};

void Paint(const Pen& p, TGlyph glyph, int x, int y) {
  switch (glyph) {
    case TGlyph::TriangleLeft: {
      POINT pts[] = {{x + 10, y + 2}, {x + 10, y + 14}, {x + 4, y + 8}};
      p.Poly(pts, 3);
      break;
    }
    case TGlyph::TriangleRight: {
      POINT pts[] = {{x + 5, y + 2}, {x + 5, y + 14}, {x + 11, y + 8}};
      p.Poly(pts, 3);
      break;
    }
    case TGlyph::ArrowUp: {
      POINT pts[] = {{x + 8, y + 2},  {x + 14, y + 8}, {x + 10, y + 8}, {x + 10, y + 14},
                     {x + 6, y + 14}, {x + 6, y + 8},  {x + 2, y + 8}};
      p.Poly(pts, 7);
      break;
    }
    case TGlyph::ArrowDown: {
      POINT pts[] = {{x + 8, y + 14}, {x + 14, y + 8}, {x + 10, y + 8}, {x + 10, y + 2},
                     {x + 6, y + 2},  {x + 6, y + 8},  {x + 2, y + 8}};
      p.Poly(pts, 7);
      break;
    }
    case TGlyph::ArrowLeft: {
      POINT pts[] = {{x + 2, y + 8},   {x + 8, y + 2},  {x + 8, y + 6}, {x + 14, y + 6},
                     {x + 14, y + 10}, {x + 8, y + 10}, {x + 8, y + 14}};
      p.Poly(pts, 7);
      break;
    }
    case TGlyph::ArrowRight: {
      POINT pts[] = {{x + 14, y + 8}, {x + 8, y + 2},  {x + 8, y + 6}, {x + 2, y + 6},
                     {x + 2, y + 10}, {x + 8, y + 10}, {x + 8, y + 14}};
      p.Poly(pts, 7);
      break;
    }
    case TGlyph::Enter: {
      p.Fill(x + 12, y + 3, x + 14, y + 11);  // the bend
      p.Fill(x + 6, y + 9, x + 14, y + 11);
      POINT pts[] = {{x + 2, y + 10}, {x + 7, y + 5}, {x + 7, y + 15}};
      p.Poly(pts, 3);
      break;
    }
    case TGlyph::Restart: {
      p.Frame(x + 1, y + 1, x + 15, y + 15);
      POINT pts[] = {{x + 5, y + 4}, {x + 5, y + 12}, {x + 11, y + 8}};
      p.Poly(pts, 3);
      break;
    }
    case TGlyph::Parameters: {  // a small instrument panel: screen and knobs
      p.Frame(x + 1, y + 2, x + 15, y + 14);
      p.Fill(x + 3, y + 4, x + 10, y + 10);
      p.Fill(x + 11, y + 4, x + 13, y + 6);
      p.Fill(x + 11, y + 8, x + 13, y + 10);
      p.Fill(x + 3, y + 11, x + 13, y + 12);
      break;
    }
    case TGlyph::Message: {  // a page with an arrow
      p.Frame(x + 2, y + 1, x + 11, y + 15);
      p.Fill(x + 4, y + 4, x + 9, y + 5);
      p.Fill(x + 4, y + 7, x + 9, y + 8);
      POINT pts[] = {{x + 15, y + 11}, {x + 11, y + 7}, {x + 11, y + 15}};
      p.Poly(pts, 3);
      p.Fill(x + 7, y + 10, x + 12, y + 12);
      break;
    }
    case TGlyph::Sound: {  // a loudspeaker and its waves
      p.Fill(x + 2, y + 6, x + 5, y + 11);
      POINT pts[] = {{x + 5, y + 6}, {x + 9, y + 2}, {x + 9, y + 14}, {x + 5, y + 10}};
      p.Poly(pts, 4);
      for (int k = 0; k < 2; ++k) {
        p.Fill(x + 11 + 2 * k, y + 5 - k, x + 12 + 2 * k, y + 12 + k);
      }
      break;
    }
    case TGlyph::Keypad: {
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) p.Fill(x + 1 + 4 * c, y + 3 + 4 * r, x + 4 + 4 * c, y + 6 + 4 * r);
      break;
    }
    case TGlyph::BlankPage: {
      p.Frame(x + 3, y + 1, x + 13, y + 15);
      break;
    }
    case TGlyph::DottedFrame: {
      for (int k = 1; k < 15; k += 2) {
        p.Pixel(x + k, y + 2);
        p.Pixel(x + k, y + 13);
      }
      for (int k = 2; k < 14; k += 2) {
        p.Pixel(x + 1, y + k);
        p.Pixel(x + 14, y + k);
      }
      break;
    }
    case TGlyph::None:
      break;
  }
}

// On a screen of twice the design dpi or more: the glyph as at 96 dpi, drawn
// once into a bitmap, and each of its pixels a square of scale × scale on the
// target, so that it stays exactly as sharp, only larger.
void PaintScaled(HDC dc, TGlyph glyph, int x, int y, bool enabled, int scale) {
  constexpr int kSide = 17;  // the glyph and its emboss one pixel down and right
  const COLORREF ink = enabled ? RGB(0, 0, 0) : GetSysColor(COLOR_GRAYTEXT);
  const COLORREF emboss = GetSysColor(COLOR_BTNHIGHLIGHT);
  COLORREF key = RGB(255, 0, 255);
  while (key == ink || key == emboss) key += 0x010101;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kSide, -kSide, 1, 32, BI_RGB};
  void* bits = nullptr;
  const TGdiObject bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const TMemoryDC memory(CreateCompatibleDC(dc));
  if (!bitmap || !memory || !bits) return;
  const HGDIOBJ old = SelectObject(memory.Get(), bitmap.Get());
  const RECT all{0, 0, kSide, kSide};
  const TGdiObject keyBrush(CreateSolidBrush(key));
  FillRect(memory.Get(), &all, static_cast<HBRUSH>(keyBrush.Get()));
  if (!enabled) Paint(Pen{memory.Get(), emboss}, glyph, 1, 1);
  Paint(Pen{memory.Get(), ink}, glyph, 0, 0);
  GdiFlush();
  SelectObject(memory.Get(), old);
  // A DIB pixel is 0x00RRGGBB; each run of one colour in a row is one rectangle.
  const auto* pixels = static_cast<const uint32_t*>(bits);
  auto colourAt = [&](int px, int py) {
    const uint32_t p = pixels[py * kSide + px];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  };
  for (int py = 0; py < kSide; ++py) {
    for (int px = 0; px < kSide;) {
      const COLORREF colour = colourAt(px, py);
      int end = px + 1;
      while (end < kSide && colourAt(end, py) == colour) ++end;
      if (colour != key) {
        const RECT run{x + px * scale, y + py * scale, x + end * scale, y + (py + 1) * scale};
        const TGdiObject brush(CreateSolidBrush(colour));
        FillRect(dc, &run, static_cast<HBRUSH>(brush.Get()));
      }
      px = end;
    }
  }
}

}  // namespace

SIZE GlyphSize(TGlyph glyph, int scale) {
  return glyph == TGlyph::None ? SIZE{0, 0} : SIZE{16 * scale, 16 * scale};
}

int GlyphScale(int dpi) { return std::max(1, dpi / kDesignDpi); }

void DrawGlyph(HDC dc, TGlyph glyph, const RECT& area, bool enabled, int scale) {
  SIZE size = GlyphSize(glyph, scale);
  int x = area.left + (area.right - area.left - size.cx) / 2;
  int y = area.top + (area.bottom - area.top - size.cy) / 2;
  if (scale > 1) {
    PaintScaled(dc, glyph, x, y, enabled, scale);
  } else if (enabled) {
    Paint(Pen{dc, RGB(0, 0, 0)}, glyph, x, y);
  } else {
    Paint(Pen{dc, GetSysColor(COLOR_BTNHIGHLIGHT)}, glyph, x + 1, y + 1);
    Paint(Pen{dc, GetSysColor(COLOR_GRAYTEXT)}, glyph, x, y);
  }
}

}  // namespace ts
