#pragma once
// Windows are defined at 96 dpi and laid out at the dpi of the monitor they are on.

#include <windows.h>

namespace ts {

inline constexpr int kDesignDpi = 96;

// Declares per-monitor awareness with the newest call the system has.
void DeclareDpiAwareness();
// The dpi a window is laid out at: its monitor's when the system tells, else the system's.
int DpiOf(HWND window);
inline int ScaleToDpi(int value, int dpi) { return MulDiv(value, dpi, kDesignDpi); }

}  // namespace ts
