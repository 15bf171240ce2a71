#include "ui/RadioGroup.h"

#include "ui/Dpi.h"
#include "ui/Forms.h"
#include "ui/WinHandle.h"

#include <algorithm>

namespace ts {
namespace {

// Room for the round check and the gap before the text.
constexpr int kCheckRoom = 18;
// Where the caption starts on the frame's top line, as the system places it.
constexpr int kCaptionLeft = 8;

}  // namespace

HWND TRadioGroup::CreateWindowFor(const TControlDef& def, HWND parent) {
  // A control parent, so Tab and the arrow keys reach the items inside.
  return CreateStandard(L"BUTTON", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, WS_EX_CONTROLPARENT, def, parent);
}

void TRadioGroup::Created() {
  for (size_t i = 0; i < items_.size(); ++i) {
    // The first item opens the group, so arrow keys cycle among the items only.
    DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0);
    HWND item = CreateWindowExW(0, L"BUTTON", items_[i].c_str(), style, 0, 0, 0, 0, handle_, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    itemWindows_.push_back(item);
  }
  Arrange();
  SetItemIndex(def_.Value);
}

HWND TRadioGroup::Item(int index) const {
  return index >= 0 && index < static_cast<int>(itemWindows_.size()) ? itemWindows_[index] : nullptr;
}

int TRadioGroup::ItemIndex() const {
  for (size_t i = 0; i < itemWindows_.size(); ++i)
    if (SendMessageW(itemWindows_[i], BM_GETCHECK, 0, 0) == BST_CHECKED) return static_cast<int>(i);
  return -1;
}

void TRadioGroup::SetItemIndex(int index) {
  for (size_t i = 0; i < itemWindows_.size(); ++i) {
    HWND item = itemWindows_[i];
    bool selected = static_cast<int>(i) == index;
    SendMessageW(item, BM_SETCHECK, selected ? BST_CHECKED : BST_UNCHECKED, 0);
    // Tab enters the group at its selected item.
    LONG_PTR style = GetWindowLongPtrW(item, GWL_STYLE);
    style = selected || (index < 0 && i == 0) ? style | WS_TABSTOP : style & ~WS_TABSTOP;
    SetWindowLongPtrW(item, GWL_STYLE, style);
  }
}

void TRadioGroup::Arrange() {
  if (itemWindows_.empty()) return;
  auto font = reinterpret_cast<HFONT>(SendMessageW(handle_, WM_GETFONT, 0, 0));
  const TWindowDC windowDc(handle_);
  const HDC dc = windowDc.Get();
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  RECT area;
  GetClientRect(handle_, &area);
  // Items share the space under the caption line; each is only as wide as its text,
  // so a control laid over the group's right side stays uncovered.
  int top = tm.tmHeight;
  int slot = (area.bottom - 4 - top) / static_cast<int>(itemWindows_.size());
  int height = std::min<int>(slot, tm.tmHeight + 4);
  for (size_t i = 0; i < itemWindows_.size(); ++i) {
    SIZE text{};
    GetTextExtentPoint32W(dc, items_[i].c_str(), static_cast<int>(items_[i].size()), &text);
    int y = top + static_cast<int>(i) * slot + (slot - height) / 2;
    // The check mark grows with the dpi, the text with the font.
    const int dpi = Form() ? Form()->Dpi() : kDesignDpi;
    SetWindowPos(itemWindows_[i], nullptr, ScaleToDpi(8, dpi), y, ScaleToDpi(kCheckRoom, dpi) + text.cx + 2,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SelectObject(dc, old);
}

void TRadioGroup::PaintFrame(HDC dc) {
  // Drawn here rather than by the system's group box, which under Wine drew the
  // caption wider than the room it had measured for it and cut off its end.
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(handle_, WM_GETFONT, 0, 0)));
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  RECT frame;
  GetClientRect(handle_, &frame);
  const int right = frame.right;
  frame.top += tm.tmHeight / 2 - 1;
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  const std::wstring caption = Text();
  if (!caption.empty()) {
    RECT label{kCaptionLeft, 0, right - kCaptionLeft, tm.tmHeight};
    DrawTextW(dc, caption.c_str(), -1, &label, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
    // The glyphs may come out wider than measured: the caption is not clipped,
    // and the gap in the frame leaves it a character more.
    RECT gap{label.left - 1, label.top, std::min<LONG>(label.right + tm.tmAveCharWidth, right - 1),
             label.bottom};
    FillRect(dc, &gap, GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(IsWindowEnabled(handle_) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    DrawTextW(dc, caption.c_str(), -1, &label, DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
  }
  SelectObject(dc, old);
}

void TRadioGroup::EraseAround(HDC dc) {
  // A group box draws only its frame and caption, and a parent that clips its
  // children leaves the inside unpainted, so the group fills it. The items and any
  // control laid over the group paint themselves and must not be painted over,
  // whatever their order among the siblings.
  int saved = SaveDC(dc);
  auto exclude = [&](HWND first) {
    for (HWND w = first; w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (w == handle_ || !IsWindowVisible(w)) continue;
      RECT r;
      GetWindowRect(w, &r);
      MapWindowPoints(nullptr, handle_, reinterpret_cast<POINT*>(&r), 2);
      ExcludeClipRect(dc, r.left, r.top, r.right, r.bottom);
    }
  };
  exclude(GetWindow(handle_, GW_CHILD));
  exclude(GetWindow(GetParent(handle_), GW_CHILD));
  RECT client;
  GetClientRect(handle_, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  RestoreDC(dc, saved);
}

LRESULT TRadioGroup::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETFONT: {
      LRESULT r = DefaultProc(msg, wParam, lParam);
      for (HWND item : itemWindows_) SendMessageW(item, WM_SETFONT, wParam, lParam);
      Arrange();
      return r;
    }
    case WM_ERASEBKGND:
      EraseAround(reinterpret_cast<HDC>(wParam));
      return 1;
    case WM_PAINT: {
      const TPaintDC paint(handle_);
      PaintFrame(paint.Get());
      return 0;
    }
    case WM_PRINTCLIENT:
      PaintFrame(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ENABLE:
      InvalidateRect(handle_, nullptr, TRUE);
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        for (size_t i = 0; i < itemWindows_.size(); ++i)
          if (itemWindows_[i] == reinterpret_cast<HWND>(lParam)) SetItemIndex(static_cast<int>(i));
        return 0;
      }
      break;
    default:
      break;
  }
  return TWinControl::WndProc(msg, wParam, lParam);
}

}  // namespace ts
