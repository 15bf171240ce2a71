#include "ui/Spin.h"

#include <windowsx.h>

#include "ui/WinHandle.h"

namespace ts {
namespace {

constexpr int kButtonsWidth = 15;
constexpr UINT_PTR kRepeatTimer = 1;

TSpinKey KeyOf(WPARAM vk) {
  switch (vk) {
    case VK_UP:
      return TSpinKey::Up;
    case VK_DOWN:
      return TSpinKey::Down;
    case VK_INSERT:
      return TSpinKey::Insert;
    case VK_DELETE:
      return TSpinKey::Delete;
    default:
      return TSpinKey::Other;
  }
}

}  // namespace

HWND TSpinEdit::CreateWindowFor(const TControlDef& def, HWND parent) {
  TControlDef blank = def;
  blank.Caption = L"";
  // Clipping its children keeps the edit from painting text under its buttons.
  return CreateStandard(L"EDIT", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN | ES_AUTOHSCROLL,
                        WS_EX_CLIENTEDGE, blank, parent);
}

void TSpinEdit::Created() {
  range_ = TSpinRange(def_.Min, def_.Max);
  if (def_.MaxLength > 0) SendMessageW(handle_, EM_LIMITTEXT, def_.MaxLength, 0);
  SetValue(def_.Value);
  RECT client;
  GetClientRect(handle_, &client);
  TControlDef part;
  part.Left = client.right - kButtonsWidth;
  part.Top = 0;
  part.Width = kButtonsWidth;
  part.Height = client.bottom;
  buttons_.Create(part, this);
  KeepButtonsClear();
}

void TSpinEdit::LaidOut() {
  RECT client;
  GetClientRect(handle_, &client);
  SetWindowPos(buttons_.Handle(), nullptr, client.right - kButtonsWidth, 0, kButtonsWidth, client.bottom,
               SWP_NOZORDER | SWP_NOACTIVATE);
  KeepButtonsClear();
}

void TSpinEdit::KeepButtonsClear() {
  SendMessageW(handle_, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, kButtonsWidth + 1));
}

std::u16string TSpinEdit::Text16() const {
  std::wstring text = Text();
  return std::u16string(text.begin(), text.end());
}

int TSpinEdit::Value() const { return range_.Read(Text16()); }

int TSpinEdit::ValueInRange() const { return range_.Clamp(Value()); }

void TSpinEdit::SetValue(int value) {
  std::u16string text = IntegerText(value);
  std::wstring wide(text.begin(), text.end());
  if (Text() != wide) SetText(wide);
}

void TSpinEdit::StepBy(int delta) { SetValue(range_.Step(Text16(), delta)); }

void TSpinEdit::BeginHold(int delta) {
  heldDelta_ = delta;
  StepBy(delta);
  repeat_.Press(SpinClock());
  Schedule();
}

void TSpinEdit::RepeatTick() {
  for (int due = repeat_.TakeDue(SpinClock()); due > 0; --due) StepBy(heldDelta_);
  Schedule();
}

void TSpinEdit::EndHold() {
  repeat_.Release();
  heldDelta_ = 0;
  Schedule();
}

void TSpinEdit::Schedule() {
  HWND timerWindow = buttons_.Handle();
  if (!timerWindow) return;
  if (auto delay = repeat_.NextDelay(SpinClock()))
    SetTimer(timerWindow, kRepeatTimer, static_cast<UINT>(*delay), nullptr);
  else
    KillTimer(timerWindow, kRepeatTimer);
}

LRESULT TSpinEdit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_GETDLGCODE: {
      LRESULT code = DefaultProc(msg, wParam, lParam) | DLGC_WANTARROWS;
      // Enter must reach the field to be refused, not be taken by dialog navigation.
      auto* m = reinterpret_cast<MSG*>(lParam);
      if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) code |= DLGC_WANTMESSAGE;
      return code;
    }
    case WM_CHAR:
      switch (TSpinRange::OnChar(static_cast<char16_t>(wParam))) {
        case TSpinCharAction::Refuse:
          SpinBeep();
          return 0;
        case TSpinCharAction::Ignore:
          return 0;
        case TSpinCharAction::Pass:
          break;
      }
      break;
    case WM_KEYDOWN:
      switch (TSpinRange::OnKeyDown(KeyOf(wParam), GetKeyState(VK_SHIFT) < 0)) {
        case TSpinKeyAction::StepUp:
          StepBy(1);
          return 0;
        case TSpinKeyAction::StepDown:
          StepBy(-1);
          return 0;
        case TSpinKeyAction::Ignore:
          return 0;
        case TSpinKeyAction::Pass:
          break;
      }
      break;
    case WM_PASTE:
    case WM_CUT:
      return 0;
    case WM_SETFONT: {
      // A new font resets the margins.
      LRESULT r = DefaultProc(msg, wParam, lParam);
      KeepButtonsClear();
      return r;
    }
    case WM_ENABLE:
      if (buttons_.Handle()) InvalidateRect(buttons_.Handle(), nullptr, FALSE);
      break;
    case WM_KILLFOCUS: {
      LRESULT r = DefaultProc(msg, wParam, lParam);
      if (auto value = range_.ValueOnExit(Text16())) SetValue(*value);
      return r;
    }
    default:
      break;
  }
  return TWinControl::WndProc(msg, wParam, lParam);
}

LRESULT TSpinEdit::TSpinButtons::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      if (pressed_) return 0;
      HWND edit = owner_.Handle();
      if (GetFocus() != edit) SetFocus(edit);
      RECT r;
      GetClientRect(handle_, &r);
      pressed_ = GET_Y_LPARAM(lParam) < r.bottom / 2 ? 1 : -1;
      SetCapture(handle_);
      InvalidateRect(handle_, nullptr, FALSE);
      owner_.BeginHold(pressed_);
      return 0;
    }
    case WM_LBUTTONUP:
      if (pressed_ && GetCapture() == handle_) ReleaseCapture();
      Release();
      return 0;
    case WM_CAPTURECHANGED:
      Release();
      return 0;
    case WM_TIMER:
      if (wParam == kRepeatTimer) {
        owner_.RepeatTick();
        return 0;
      }
      break;
    default:
      break;
  }
  return TWinControl::WndProc(msg, wParam, lParam);
}

void TSpinEdit::TSpinButtons::Release() {
  if (!pressed_) return;
  pressed_ = 0;
  InvalidateRect(handle_, nullptr, FALSE);
  owner_.EndHold();
}

void TSpinEdit::TSpinButtons::Paint() {
  const TPaintDC paint(handle_);
  HDC dc = paint.Get();
  RECT r;
  GetClientRect(handle_, &r);
  bool enabled = IsWindowEnabled(owner_.Handle());
  int middle = r.bottom / 2;
  RECT up{r.left, r.top, r.right, middle};
  RECT down{r.left, middle, r.right, r.bottom};
  UINT state = enabled ? 0 : DFCS_INACTIVE;
  DrawFrameControl(dc, &up, DFC_SCROLL, DFCS_SCROLLUP | state | (pressed_ > 0 ? DFCS_PUSHED : 0));
  DrawFrameControl(dc, &down, DFC_SCROLL, DFCS_SCROLLDOWN | state | (pressed_ < 0 ? DFCS_PUSHED : 0));
}

}  // namespace ts
