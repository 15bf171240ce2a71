#include "ui/StdCtrls.h"

#include <commctrl.h>
#include <windowsx.h>

#include "ui/Dpi.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

// What a label's text may need beyond its measured extent, at the design dpi.
constexpr int kLabelRoom = 4;

// The accessible name of a button without a caption is its hint.
const wchar_t* AccessibleName(const TControlDef& def) {
  return def.Caption && *def.Caption ? def.Caption : def.Hint;
}

// Draws the caption and glyph of a button face, side by side and centred.
void DrawFace(HDC dc, HWND window, const TControlDef& def, RECT r, bool enabled, bool pushed) {
  if (pushed) OffsetRect(&r, 1, 1);
  const int scale = GlyphScale(DpiOf(window));
  SIZE glyph = GlyphSize(def.Glyph, scale);
  const wchar_t* caption = def.Caption ? def.Caption : L"";
  int length = lstrlenW(caption);
  SIZE text{};
  if (length) GetTextExtentPoint32W(dc, caption, length, &text);
  int gap = glyph.cx && length ? 4 : 0;
  int total = glyph.cx + gap + text.cx;
  int x = r.left + (r.right - r.left - total) / 2;
  if (glyph.cx) {
    RECT g{x, r.top, x + glyph.cx, r.bottom};
    DrawGlyph(dc, def.Glyph, g, enabled, scale);
  }
  if (length) {
    SetBkMode(dc, TRANSPARENT);
    RECT t{x + glyph.cx + gap, r.top, x + total, r.bottom};
    if (!enabled) {
      RECT shadow = t;
      OffsetRect(&shadow, 1, 1);
      SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
      DrawTextW(dc, caption, length, &shadow, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    }
    SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    DrawTextW(dc, caption, length, &t, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  }
}

}  // namespace

HWND TSpeedButton::CreateWindowFor(const TControlDef& def, HWND parent) {
  TControlDef named = def;
  named.Caption = AccessibleName(def);
  return CreateStandard(L"BUTTON", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, named, parent);
}

void TSpeedButton::SetDown(bool down) {
  if (down_ == down) return;
  down_ = down;
  Redraw();
}

void TSpeedButton::Redraw() { InvalidateRect(handle_, nullptr, FALSE); }

void TSpeedButton::Click() {
  // A toggle flips before its handler runs, so the handler sees the new state.
  if (def_.Flags & kToggle) SetDown(!down_);
  TWinControl::Click();
}

LRESULT TSpeedButton::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // Handled here rather than by the BUTTON, which would take the focus.
      SetCapture(handle_);
      tracking_ = true;
      pressed_ = true;
      Redraw();
      return 0;
    case WM_MOUSEMOVE: {
      if (!hot_) {
        hot_ = true;
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, handle_, 0};
        TrackMouseEvent(&tme);
        Redraw();
      }
      if (tracking_) {
        RECT r;
        GetClientRect(handle_, &r);
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        bool inside = PtInRect(&r, p);
        if (inside != pressed_) {
          pressed_ = inside;
          Redraw();
        }
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      hot_ = false;
      Redraw();
      return 0;
    case WM_LBUTTONUP:
      if (tracking_) {
        bool inside = pressed_;
        tracking_ = false;
        pressed_ = false;
        ReleaseCapture();
        Redraw();
        if (inside && IsWindowEnabled(handle_)) Click();
      }
      return 0;
    case WM_CAPTURECHANGED:
      if (tracking_) {
        tracking_ = false;
        pressed_ = false;
        Redraw();
      }
      return 0;
    case BM_CLICK:
      if (IsWindowEnabled(handle_)) Click();
      return 0;
    case WM_SETFOCUS:
      // Focus set from outside goes back where it came from.
      if (wParam) SetFocus(reinterpret_cast<HWND>(wParam));
      return 0;
    case WM_ENABLE:
      hot_ = pressed_ = false;
      Redraw();
      break;
    default:
      break;
  }
  return TWinControl::WndProc(msg, wParam, lParam);
}

void TSpeedButton::DrawItem(DRAWITEMSTRUCT* item) {
  HDC dc = item->hDC;
  RECT r = item->rcItem;
  bool enabled = !(item->itemState & ODS_DISABLED);
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  bool sunken = pressed_ || down_;
  if (down_ && !pressed_) {
    // A toggle that is down shows a lighter, dithered face, as flat buttons do.
    static const WORD kDither[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
    const TGdiObject pattern(CreateBitmap(8, 8, 1, 1, kDither));
    const TGdiObject brush(CreatePatternBrush(static_cast<HBITMAP>(pattern.Get())));
    COLORREF oldText = SetTextColor(dc, GetSysColor(COLOR_BTNFACE));
    COLORREF oldBk = SetBkColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
    RECT inner = r;
    InflateRect(&inner, -1, -1);
    FillRect(dc, &inner, static_cast<HBRUSH>(brush.Get()));
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBk);
  }
  if (sunken)
    DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
  else if (hot_ && enabled)
    DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
  DrawFace(dc, Handle(), def_, r, enabled, sunken);
}

HWND TButton::CreateWindowFor(const TControlDef& def, HWND parent) {
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
  bool glyphOnly = def.Glyph != TGlyph::None;
  TControlDef named = def;
  named.Caption = AccessibleName(def);
  return CreateStandard(L"BUTTON", style | (glyphOnly ? BS_OWNERDRAW : BS_PUSHBUTTON), 0, named, parent);
}

void TButton::Command(WORD code) {
  if (code == BN_CLICKED) Click();
}

void TButton::DrawItem(DRAWITEMSTRUCT* item) {
  HDC dc = item->hDC;
  RECT r = item->rcItem;
  bool pushed = item->itemState & ODS_SELECTED;
  bool enabled = !(item->itemState & ODS_DISABLED);
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
  DrawFace(dc, item->hwndItem, def_, r, enabled, pushed);
  if (item->itemState & ODS_FOCUS) {
    RECT f = r;
    InflateRect(&f, -4, -4);
    DrawFocusRect(dc, &f);
  }
}

HWND TCheckBox::CreateWindowFor(const TControlDef& def, HWND parent) {
  HWND h = CreateStandard(L"BUTTON", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, def, parent);
  if (h && (def.Flags & kChecked)) SendMessageW(h, BM_SETCHECK, BST_CHECKED, 0);
  return h;
}

// Asked of the button's own procedure, past the toolkit's subclass: under Wine
// each message through a subclass costs server round trips, and the mirror asks
// for every report.
bool TCheckBox::Checked() const {
  if (!handle_) return false;
  const auto buttonProc = reinterpret_cast<WNDPROC>(GetClassLongPtrW(handle_, GCLP_WNDPROC));
  return CallWindowProcW(buttonProc, handle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool checked) {
  SendMessageW(handle_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::Command(WORD code) {
  if (code == BN_CLICKED) Click();
}

HWND TLabel::CreateWindowFor(const TControlDef& def, HWND parent) {
  return CreateStandard(L"STATIC", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, def, parent);
}

void TLabel::Created() {
  // Sized to its text in its font, as an auto-sized label is, with a little
  // room: Wine draws the text a few pixels wider than it measures it, and a
  // label only as wide as the measure wraps its last letter out of sight.
  const TWindowDC windowDc(handle_);
  const HDC dc = windowDc.Get();
  auto font = reinterpret_cast<HFONT>(SendMessageW(handle_, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font);
  std::wstring text = Text();
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  const int room = ScaleToDpi(kLabelRoom, DpiOf(handle_));
  SetWindowPos(handle_, nullptr, 0, 0, size.cx + room, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND TEdit::CreateWindowFor(const TControlDef& def, HWND parent) {
  return CreateStandard(L"EDIT", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, def,
                        parent);
}

void TEdit::Created() {
  if (def_.MaxLength > 0) SendMessageW(handle_, EM_LIMITTEXT, def_.MaxLength, 0);
}

HWND TMemo::CreateWindowFor(const TControlDef& def, HWND parent) {
  HWND h = CreateStandard(L"EDIT",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                              ES_WANTRETURN | ES_NOHIDESEL,
                          WS_EX_CLIENTEDGE, def, parent);
  // An edit takes 32,767 characters unless told otherwise; a full log of 1001
  // lines is about twice that.
  if (h) SendMessageW(h, EM_LIMITTEXT, 0, 0);
  return h;
}

void TMemo::Add(const std::wstring& line) {
  int length = GetWindowTextLengthW(handle_);
  SendMessageW(handle_, EM_SETSEL, length, length);
  std::wstring tail = line + L"\r\n";
  if (length > 0) {
    std::wstring text = Text();
    if (text.size() < 2 || text.compare(text.size() - 2, 2, L"\r\n") != 0) tail = L"\r\n" + tail;
  }
  SendMessageW(handle_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(tail.c_str()));
}

void TMemo::Clear() { SetWindowTextW(handle_, L""); }

std::vector<std::wstring> TMemo::Lines() const { return SplitLines(Text()); }

std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace ts
