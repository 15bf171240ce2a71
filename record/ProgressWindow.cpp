#include "record/ProgressWindow.h"

#include <commctrl.h>

#include "ui/WindowClass.h"
#include "ui/WindowObject.h"
#include "ui/WorkArea.h"

namespace ts {
namespace {

constexpr wchar_t kClass[] = L"TS4170_Progress";
constexpr int kCancel = 1;
constexpr DWORD kShowAfterMillis = 1000;
constexpr DWORD kPumpEveryMillis = 30;
constexpr int kRange = 1000;

}  // namespace

TProgressWindow::TProgressWindow(HWND owner, std::wstring title)
    : owner_(owner), title_(std::move(title)), start_(GetTickCount()), lastPump_(start_) {}

TProgressWindow::~TProgressWindow() {
  if (!window_) return;
  // The owner first, so that it, not some other program, gets the activation back.
  EnableWindow(owner_, TRUE);
  DestroyWindow(window_);
}

void TProgressWindow::Show() {
  RegisterWindowClass(kClass, ObjectWindowProc<TProgressWindow>);
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT r{0, 0, 360, 86};
  AdjustWindowRect(&r, style, FALSE);
  const int width = r.right - r.left, height = r.bottom - r.top;
  RECT ownerRect{};
  GetWindowRect(owner_, &ownerRect);
  const int left = (ownerRect.left + ownerRect.right - width) / 2,
            top = (ownerRect.top + ownerRect.bottom - height) / 2;
  const POINT at = IntoWorkArea({left, top, left + width, top + height});
  CreateWindowExW(WS_EX_DLGMODALFRAME, kClass, title_.c_str(), style, at.x, at.y, width, height, owner_,
                  nullptr, GetModuleHandleW(nullptr), this);
  if (!window_) return;
  EnableWindow(owner_, FALSE);
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
}

LRESULT TProgressWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      const HINSTANCE instance = GetModuleHandleW(nullptr);
      const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
      bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 12, 14, 336, 20, window_,
                             nullptr, instance, nullptr);
      SendMessageW(bar_, PBM_SETRANGE32, 0, kRange);
      const HWND cancel =
          CreateWindowExW(0, L"BUTTON", L"Отмена", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 270,
                          48, 78, 26, window_, reinterpret_cast<HMENU>(INT_PTR(kCancel)), instance, nullptr);
      SendMessageW(cancel, WM_SETFONT, WPARAM(font), TRUE);
      return 0;
    }
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(window_, &client);
      FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kCancel) cancelled_ = true;
      return 0;
    case WM_CLOSE:
      cancelled_ = true;
      return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

bool TProgressWindow::Step(double done) {
  const DWORD now = GetTickCount();
  if (now - lastPump_ < kPumpEveryMillis) return !cancelled_;
  lastPump_ = now;
  if (!window_ && now - start_ >= kShowAfterMillis) Show();
  if (!window_) return !cancelled_;
  SendMessageW(bar_, PBM_SETPOS, WPARAM(done * kRange), 0);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Left for the loop that owns it.
      PostQuitMessage(int(msg.wParam));
      cancelled_ = true;
      break;
    }
    if (!IsDialogMessageW(window_, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return !cancelled_;
}

}  // namespace ts
