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
