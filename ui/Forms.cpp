#include "ui/Forms.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "ui/Application.h"
#include "ui/Dpi.h"
#include "ui/ExtCtrls.h"
#include "ui/Menus.h"
#include "ui/WorkArea.h"

namespace ts {
namespace {

// Edges are scaled, not sizes, so that controls that meet at 96 dpi still meet
// and one that reaches its parent's edge does not pass it by a rounding.
void ScaleBounds(TControlDef& def, int dpi) {
  const int right = ScaleToDpi(def.Left + def.Width, dpi), bottom = ScaleToDpi(def.Top + def.Height, dpi);
  def.Left = ScaleToDpi(def.Left, dpi);
  def.Top = ScaleToDpi(def.Top, dpi);
  def.Width = right - def.Left;
  def.Height = bottom - def.Top;
}

}  // namespace

TForm::~TForm() { DestroyHandle(); }

void TForm::Load() {
  DefineWindow();
  // After the whole definition, menu included, so the client size comes out exact.
  FitClientArea();
  if (form_.OnCreate) form_.OnCreate(this);
  if (form_.Visible) Show();
}

DWORD TForm::ExStyle() const {
  DWORD ex = 0;
  if (form_.Border == TBorderStyle::Dialog) ex |= WS_EX_DLGMODALFRAME;
  if (form_.Border == TBorderStyle::SizeToolWin) ex |= WS_EX_TOOLWINDOW;
  if (form_.StayOnTop) ex |= WS_EX_TOPMOST;
  return ex;
}

void TForm::Build(const TFormDef& def, std::initializer_list<TControlDef> controls) {
  form_ = def;
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
  // Minimize and maximize boxes need a system menu to show; without one they stay
  // as declared but invisible.
  if (def.BorderIcons & biSystemMenu) style |= WS_SYSMENU;
  if (def.BorderIcons & biMinimize) style |= WS_MINIMIZEBOX;
  if (def.BorderIcons & biMaximize) style |= WS_MAXIMIZEBOX;
  if (def.Border == TBorderStyle::SizeToolWin) style |= WS_THICKFRAME;
  int width = def.Width > 0 ? def.Width : def.ClientWidth;
  int height = def.Height > 0 ? def.Height : def.ClientHeight;
  TControlDef self;
  self.Control = this;
  self.Left = def.Left;
  self.Top = def.Top;
  self.Width = width;
  self.Height = height;
  self.Caption = def.Caption;
  def_ = self;
  HWND h = CreateWindowExW(ExStyle(), OwnWindowClass(), def.Caption, style, def.Left, def.Top, width, height,
                           Application->Handle(), nullptr, GetModuleHandleW(nullptr), this);
  if (!h) throw std::runtime_error("Cannot create window");
  dpi_ = DpiOf(h);
  MakeFont();
  SetFont(font_);
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, h, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  controls_.assign(controls.begin(), controls.end());
  for (const TControlDef& c : controls) {
    TControlDef placed = c;
    ScaleBounds(placed, dpi_);
    c.Control->Create(placed, c.Parent ? c.Parent : this);
    if (!(c.Flags & kBold)) c.Control->SetFont(font_);
    if (c.Hint && *c.Hint) AddHint(c.Control, c.Hint);
  }
}

void TForm::MakeFont() {
  ownFont_.Reset(form_.FontName ? CreateFontW(-ScaleToDpi(form_.FontHeight, dpi_), 0, 0, 0, FW_NORMAL, 0, 0,
                                              0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                              DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, form_.FontName)
                                : nullptr);
  font_ = form_.FontName ? static_cast<HFONT>(ownFont_.Get()) : Application->DefaultFont(dpi_);
}

void TForm::ApplyDpi(int dpi, const POINT* position) {
  if (!handle_ || dpi <= 0) return;
  dpi_ = dpi;
  MakeFont();
  SetFont(font_);
  for (const TControlDef& c : controls_) {
    TControlDef placed = c;
    ScaleBounds(placed, dpi_);
    SetWindowPos(c.Control->Handle(), nullptr, placed.Left, placed.Top, placed.Width, placed.Height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    c.Control->SetFont(c.Flags & kBold ? Application->BoldFont(dpi_) : font_);
    c.Control->LaidOut();
  }
  DpiChanged();
  FitClientArea();
  if (position)
    SetWindowPos(handle_, nullptr, position->x, position->y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(handle_, nullptr, TRUE);
}

void TForm::FitClientArea() {
  int left = form_.Left, top = form_.Top;
  RECT window{}, client{};
  GetWindowRect(handle_, &window);
  GetClientRect(handle_, &client);
  int width = window.right - window.left, height = window.bottom - window.top;
  if (form_.ClientWidth > 0) {
    // Measured rather than computed: the menu bar's height is known only now.
    width += ScaleToDpi(form_.ClientWidth, dpi_) - (client.right - client.left);
    height += ScaleToDpi(form_.ClientHeight, dpi_) - (client.bottom - client.top);
  } else {
    // Also back at the design dpi: a window that came from a larger one must
    // shrink again.
    width = ScaleToDpi(form_.Width, dpi_);
    height = ScaleToDpi(form_.Height, dpi_);
  }
  if (form_.Position == TPosition::ScreenCenter) {
    left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  }
  // A designed place suits the screen it was designed on; on another one the window
  // is moved into the work area.
  const POINT at = IntoWorkArea({left, top, left + width, top + height});
  SetWindowPos(handle_, nullptr, at.x, at.y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::AddHint(TWinControl* control, const wchar_t* hint) {
  if (!tooltip_) return;
  // A disabled control gets no mouse messages, so its hint is also registered as an
  // area of its parent, which does.
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = GetParent(control->Handle());
  ti.uId = reinterpret_cast<UINT_PTR>(control->Handle());
  ti.lpszText = const_cast<wchar_t*>(hint);
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  TOOLINFOW area{};
  area.cbSize = sizeof area;
  area.uFlags = TTF_SUBCLASS;
  area.hwnd = GetParent(control->Handle());
  area.uId = reinterpret_cast<UINT_PTR>(control);
  GetWindowRect(control->Handle(), &area.rect);
  MapWindowPoints(nullptr, area.hwnd, reinterpret_cast<POINT*>(&area.rect), 2);
  area.lpszText = const_cast<wchar_t*>(hint);
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&area));
}

void TForm::Show() {
  if (handle_ && !IsWindowVisible(handle_)) ShowWindow(handle_, SW_SHOW);
}

void TForm::Hide() {
  if (handle_) ShowWindow(handle_, SW_HIDE);
}

void TForm::Close() {
  TCloseAction action = TCloseAction::Hide;
  ++closeCount_;
  if (form_.OnClose) form_.OnClose(this, action);
  if (action == TCloseAction::None) return;
  if (Application->MainForm() == this) {
    Application->Terminate();
  } else {
    Hide();
  }
}

void TForm::DestroyHandle() {
  if (handle_) DestroyWindow(handle_);
}

void TForm::DetachSessionEnd(const void* who) {
  std::erase_if(sessionEnd_, [who](const auto& entry) { return entry.first == who; });
}

void TForm::DetachTimer(TTimer* timer) {
  timers_.erase(std::remove(timers_.begin(), timers_.end(), timer), timers_.end());
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      POINT at{suggested ? suggested->left : 0, suggested ? suggested->top : 0};
      ApplyDpi(HIWORD(wParam), suggested ? &at : nullptr);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && form_.OnActivate) form_.OnActivate(this);
      break;
    case WM_ENDSESSION:
      if (wParam)
        for (const auto& [who, onEnd] : sessionEnd_) onEnd(this);
      return 0;
    case WM_TIMER:
      for (TTimer* t : timers_)
        if (t->Id() == wParam) {
          t->Tick();
          return 0;
        }
      break;
    case WM_COMMAND:
      if (lParam == 0 && HIWORD(wParam) == 0) {
        for (TMenu* m : menus_)
          if (m->Command(LOWORD(wParam))) return 0;
      }
      break;
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (item->CtlType == ODT_MENU) {
        for (TMenu* m : menus_)
          if (m->Measure(item)) return TRUE;
      }
      break;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      if (item->CtlType == ODT_MENU) {
        for (TMenu* m : menus_)
          if (m->Draw(item)) return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return DefaultProc(msg, wParam, lParam);
}

TDisplayForm::~TDisplayForm() { DestroyHandle(); }

DWORD TDisplayForm::ExStyle() const { return TForm::ExStyle() | WS_EX_APPWINDOW; }

LRESULT TDisplayForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      Application->DisplayFormCreated();
      counted_ = true;
      break;
    case WM_NCDESTROY:
      if (counted_) Application->DisplayFormDestroyed();
      counted_ = false;
      break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        // Minimise this window itself, not the hidden application window.
        LRESULT r = TForm::WndProc(msg, wParam, lParam);
        ShowWindow(handle_, SW_MINIMIZE);
        return r;
      }
      break;
    default:
      break;
  }
  return TForm::WndProc(msg, wParam, lParam);
}

}  // namespace ts
