#pragma once
// The one way a window class of the program is registered: once per process,
// whoever asks first.

#include <windows.h>

namespace ts {

// wc names the class and its procedure, and may give its style, background and
// icons; the module, the size and an arrow cursor are filled in here. False when
// the class is neither there nor made.
inline bool RegisterWindowClass(WNDCLASSEXW wc) {
  wc.cbSize = sizeof wc;
  if (!wc.hInstance) wc.hInstance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(wc.hInstance, wc.lpszClassName, &existing)) return true;
  if (!wc.hCursor) wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  return RegisterClassExW(&wc) != 0;
}

inline void RegisterWindowClass(const wchar_t* name, WNDPROC procedure, UINT style = 0) {
  WNDCLASSEXW wc{};
  wc.style = style;
  wc.lpfnWndProc = procedure;
  wc.lpszClassName = name;
  RegisterWindowClass(wc);
}

}  // namespace ts
