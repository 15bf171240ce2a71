#include "app/LargeView.h"

#include "ui/WindowClass.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "screen/DDrawBase.h"
#include "screen/PictureTools.h"
#include "ui/ErrorReport.h"
#include "ui/WinHandle.h"
#include "ui/WindowObject.h"

namespace ts {
namespace {

constexpr wchar_t kLargeViewClass[] = L"TLargeView";
constexpr UINT kFitCommand = 100, kFullScreenCommand = 101;

RECT MonitorArea(HWND window, bool work) {
  MONITORINFO info{sizeof info};
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
  return work ? info.rcWork : info.rcMonitor;
}

}  // namespace

TLargeView::~TLargeView() {
  source_.OnPresent = nullptr;
  if (window_ && IsWindow(window_)) {
    UnbindObject<TLargeView>(window_);
    DestroyWindow(window_);
  }
}

void TLargeView::Show(HWND owner) {
  if (!window_) {
    RegisterWindowClass(kLargeViewClass, &ObjectWindowProc<TLargeView>, CS_HREDRAW | CS_VREDRAW);
    // Owned by the main window: no taskbar button of its own, above its owner.
    window_ = CreateWindowExW(0, kLargeViewClass, kLargeViewCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 400, 300, owner, nullptr, GetModuleHandleW(nullptr), this);
    if (!window_) throw Exception("Cannot create window");
    FitWindowToScale();
  }
  repaint_ = true;
  source_.OnPresent = Bind(this, &TLargeView::Present);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
  InvalidateRect(window_, nullptr, FALSE);
}

void TLargeView::Close() {
  if (!window_) return;
  SetFullScreen(false);
  source_.OnPresent = nullptr;
  ShowWindow(window_, SW_HIDE);
}

void TLargeView::SetScale(int scale) {
  scale_ = std::clamp(scale, kFit, kMaxScale);
  FitWindowToScale();
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

int TLargeView::EffectiveScale() const {
  if (scale_ != kFit) return scale_;
  RECT client{};
  if (window_) GetClientRect(window_, &client);
  const int byWidth = client.right / std::max(source_.SurfaceWidth(), 1);
  const int byHeight = client.bottom / std::max(source_.SurfaceHeight(), 1);
  return std::clamp(std::min(byWidth, byHeight), 1, kMaxScale);
}

RECT TLargeView::PictureRect() const {
  RECT client{};
  if (window_) GetClientRect(window_, &client);
  const int scale = EffectiveScale();
  const int width = source_.SurfaceWidth() * scale, height = source_.SurfaceHeight() * scale;
  // Centred; a picture larger than the window loses equal parts on both sides.
  const int left = (client.right - width) / 2, top = (client.bottom - height) / 2;
  return RECT{left, top, left + width, top + height};
}

void TLargeView::FitWindowToScale() {
  if (!window_ || fullScreen_ || scale_ == kFit || IsZoomed(window_)) return;
  RECT frame{0, 0, source_.SurfaceWidth() * scale_, source_.SurfaceHeight() * scale_};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), FALSE, 0);
  const RECT work = MonitorArea(window_, true);
  const int width = std::min<int>(frame.right - frame.left, work.right - work.left);
  const int height = std::min<int>(frame.bottom - frame.top, work.bottom - work.top);
  SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TLargeView::SetFullScreen(bool on) {
  if (!window_ || on == fullScreen_) return;
  if (on) {
    savedStyle_ = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE));
    GetWindowPlacement(window_, &savedPlacement_);
    const RECT monitor = MonitorArea(window_, false);
    fullScreen_ = true;
    SetWindowLongPtrW(window_, GWL_STYLE, (savedStyle_ & ~WS_OVERLAPPEDWINDOW) | WS_POPUP);
    SetWindowPos(window_, HWND_TOP, monitor.left, monitor.top, monitor.right - monitor.left,
                 monitor.bottom - monitor.top, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
  } else {
    fullScreen_ = false;
    SetWindowLongPtrW(window_, GWL_STYLE, savedStyle_);
    SetWindowPlacement(window_, &savedPlacement_);
    SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  InvalidateRect(window_, nullptr, FALSE);
}

RECT TLargeView::ChangedArea() {
  constexpr size_t kRowBytes = kModelRowBytes;
  const bool all = repaint_ || presented_.empty();
  presented_.resize(kRowBytes * kPictureHeight);
  RECT area{kPictureWidth, kPictureHeight, 0, 0};
  for (int y = 0; y < kPictureHeight; ++y) {
    const uint8_t* row = model_.Row(y);
    uint8_t* kept = presented_.data() + kRowBytes * static_cast<size_t>(y);
    size_t left = 0, right = kRowBytes;
    if (!all) {
      while (left < kRowBytes && row[left] == kept[left]) ++left;
      if (left == kRowBytes) continue;
      while (right > left && row[right - 1] == kept[right - 1]) --right;
    }
    std::memcpy(kept + left, row + left, right - left);
    area.left = std::min<LONG>(area.left, std::max<LONG>(LONG(left) * 8 - kModelLead, 0));
    area.right = std::max<LONG>(area.right, std::min<LONG>(LONG(right) * 8 - kModelLead, kPictureWidth));
    area.top = std::min<LONG>(area.top, y);
    area.bottom = y + 1;
  }
  repaint_ = false;
  return area;
}

void TLargeView::Present(TObject*) {
  if (!window_ || !source_.BackSurface() || IsIconic(window_)) return;
  // An instrument's screen changes in places (the trace, a value, a cursor) or not
  // at all: only what changed is enlarged and sent to the screen.
  const RECT source = ChangedArea();
  if (source.left >= source.right || source.top >= source.bottom) return;
  const RECT picture = PictureRect();
  const int scale = EffectiveScale();
  const RECT dest{picture.left + source.left * scale, picture.top + source.top * scale,
                  picture.left + source.right * scale, picture.top + source.bottom * scale};
  DrawScreenModel(TWindowDC(window_).Get(), dest, source, model_);
}

void TLargeView::Paint() {
  {
    const TPaintDC dc(window_);
    RECT client{};
    GetClientRect(window_, &client);
    const RECT picture = PictureRect();
    // Black around the picture, never over it: the present fills that part.
    const TGdiObject around(CreateRectRgnIndirect(&client));
    const TGdiObject inner(CreateRectRgnIndirect(&picture));
    const auto aroundRegion = static_cast<HRGN>(around.Get());
    CombineRgn(aroundRegion, aroundRegion, static_cast<HRGN>(inner.Get()), RGN_DIFF);
    FillRgn(dc.Get(), aroundRegion, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  repaint_ = true;
  Present();
}

void TLargeView::ShowMenu(int x, int y) {
  const TMenuHandle owned(CreatePopupMenu());
  HMENU menu = owned.Get();
  for (int s = 1; s <= kMaxScale; ++s) {
    std::wstring text = std::to_wstring(s) + L"×\t" + std::to_wstring(s);
    AppendMenuW(menu, MF_STRING | (scale_ == s ? MF_CHECKED : 0u), static_cast<UINT_PTR>(s), text.c_str());
  }
  AppendMenuW(menu, MF_STRING | (scale_ == kFit ? MF_CHECKED : 0u), kFitCommand, L"По размеру окна\t0");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (fullScreen_ ? MF_CHECKED : 0u), kFullScreenCommand, L"Во весь экран\tF11");
  const UINT chosen = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0, window_, nullptr));
  if (chosen >= 1 && chosen <= kMaxScale) SetScale(static_cast<int>(chosen));
  if (chosen == kFitCommand) SetScale(kFit);
  if (chosen == kFullScreenCommand) SetFullScreen(!fullScreen_);
}

LRESULT TLargeView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;  // Esc and Enter are ours, not a dialog's
    case WM_KEYDOWN:
      if (wParam == VK_F11 && !(lParam & (1 << 30))) SetFullScreen(!fullScreen_);
      if (wParam == VK_ESCAPE) SetFullScreen(false);
      if (wParam >= '1' && wParam < '1' + kMaxScale) SetScale(static_cast<int>(wParam - '0'));
      if (wParam == '0') SetScale(kFit);
      return 0;
    case WM_CONTEXTMENU: {
      POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (lParam == -1) {
        p = POINT{0, 0};
        ClientToScreen(window_, &p);
      }
      ShowMenu(p.x, p.y);
      return 0;
    }
    case WM_CLOSE:
      Close();
      return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace ts
