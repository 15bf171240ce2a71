#include "tests/windows/support/Pump.h"

#include <commctrl.h>

#include <vector>

namespace ts::test {

bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Left for the loop under test, which ends on it.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return cond();
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (cond()) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(20, timeoutMs - elapsed), QS_ALLINPUT);
  }
}

std::wstring StatusText(HWND statusBar, int panel) {
  LRESULT info = SendMessageW(statusBar, SB_GETTEXTLENGTHW, panel, 0);
  std::vector<wchar_t> buffer(LOWORD(info) + 1);
  SendMessageW(statusBar, SB_GETTEXTW, panel, reinterpret_cast<LPARAM>(buffer.data()));
  std::wstring text(buffer.data());
  // Centred panels carry the control's leading tab.
  if (!text.empty() && text[0] == L'\t') text.erase(0, 1);
  return text;
}

void MouseClick(HWND window) {
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

}  // namespace ts::test

namespace ts::test {

MessageBoxWatcher::MessageBoxWatcher(std::wstring caption) : caption_(std::move(caption)) {
  InitializeCriticalSection(&lock_);
  stop_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  thread_.Reset(CreateThread(nullptr, 0, &ThreadMain, this, 0, nullptr));
}

DWORD WINAPI MessageBoxWatcher::ThreadMain(void* self) {
  static_cast<MessageBoxWatcher*>(self)->Run();
  return 0;
}

MessageBoxWatcher::~MessageBoxWatcher() {
  SetEvent(stop_.Get());
  WaitForSingleObject(thread_.Get(), INFINITE);
  DeleteCriticalSection(&lock_);
}

std::vector<std::wstring> MessageBoxWatcher::Texts() {
  EnterCriticalSection(&lock_);
  auto copy = texts_;
  LeaveCriticalSection(&lock_);
  return copy;
}

bool MessageBoxWatcher::LastHadIcon() {
  EnterCriticalSection(&lock_);
  bool icon = lastHadIcon_;
  LeaveCriticalSection(&lock_);
  return icon;
}

void MessageBoxWatcher::Run() {
  while (WaitForSingleObject(stop_.Get(), 20) == WAIT_TIMEOUT) {
    HWND box = FindWindowW(L"#32770", caption_.c_str());
    if (!box || !IsWindowVisible(box)) continue;
    // The message text is the static control with id 0xFFFF; an icon is a visible
    // static control of the icon kind with an image.
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    bool hasIcon = false;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      LONG style = GetWindowLongW(child, GWL_STYLE);
      if ((style & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
          SendMessageW(child, STM_GETICON, 0, 0))
        hasIcon = true;
    }
    EnterCriticalSection(&lock_);
    texts_.push_back(text);
    lastHadIcon_ = hasIcon;
    LeaveCriticalSection(&lock_);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    // Until it is gone, so one box is read once.
    for (int k = 0; k < 250 && IsWindow(box) && IsWindowVisible(box); ++k) Sleep(20);
  }
}

}  // namespace ts::test
