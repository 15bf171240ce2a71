#pragma once
// Buttons, check box, label, edits.

#include <windows.h>

#include <string>
#include <vector>

#include "ui/Controls.h"

namespace ts {

// A flat button worked with the mouse only: it never takes the focus, so the
// keyboard cannot press it. A real BUTTON underneath, so accessibility tools see
// a push button named by its caption or hint.
class TSpeedButton : public TWinControl {
 public:
  bool Down() const { return down_; }
  void SetDown(bool down);
  void Click() override;

 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void DrawItem(DRAWITEMSTRUCT* item) override;

 private:
  void Redraw();
  bool down_ = false;     // toggle state
  bool pressed_ = false;  // mouse held over it
  bool tracking_ = false;
  bool hot_ = false;
};

// A push button; with a glyph and no caption it shows the glyph.
class TButton : public TWinControl {
 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
  void Command(WORD code) override;
  void DrawItem(DRAWITEMSTRUCT* item) override;
};

class TCheckBox : public TWinControl {
 public:
  bool Checked() const;
  void SetChecked(bool checked);

 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
  void Command(WORD code) override;
};

// A static text sized to its caption.
class TLabel : public TWinControl {
 public:
  void LaidOut() override { Created(); }

 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
  void Created() override;
};

class TEdit : public TWinControl {
 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
  void Created() override;
};

// A multi-line edit holding lines of text.
class TMemo : public TWinControl {
 public:
  void Add(const std::wstring& line);
  void Clear();
  std::vector<std::wstring> Lines() const;

 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
};

// The lines of a multi-line edit's text; a final line break ends the last line.
std::vector<std::wstring> SplitLines(const std::wstring& text);

// How many screen pixels a glyph pixel takes at a dpi: a whole number, so the
// 16-pixel glyphs stay sharp (1 below 192 dpi).
int GlyphScale(int dpi);
// Draws one of the toolkit's glyphs centred in area, each pixel scale × scale.
void DrawGlyph(HDC dc, TGlyph glyph, const RECT& area, bool enabled, int scale = 1);
// The glyph's width and height in pixels.
SIZE GlyphSize(TGlyph glyph, int scale = 1);

}  // namespace ts
