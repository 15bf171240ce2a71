#include "ui/Dpi.h"

#include "ui/WinHandle.h"

namespace ts {
namespace {

// Newer than the oldest system the program runs on, so looked up by name.
template <class F>
F UserFunction(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

void DeclareDpiAwareness() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  if (auto set = UserFunction<SetContext>("SetProcessDpiAwarenessContext")) {
    // Per-monitor v2 (-4), else v1 (-3).
    if (set(reinterpret_cast<HANDLE>(-4)) || set(reinterpret_cast<HANDLE>(-3))) return;
  }
  if (auto set = UserFunction<BOOL(WINAPI*)()>("SetProcessDPIAware")) set();
}

int DpiOf(HWND window) {
  using GetForWindow = UINT(WINAPI*)(HWND);
  static const auto getForWindow = UserFunction<GetForWindow>("GetDpiForWindow");
  if (getForWindow && window) {
    if (UINT dpi = getForWindow(window)) return static_cast<int>(dpi);
  }
  const int dpi = GetDeviceCaps(TWindowDC(nullptr).Get(), LOGPIXELSY);
  return dpi > 0 ? dpi : kDesignDpi;
}

}  // namespace ts
