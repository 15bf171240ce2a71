#pragma once
// Windows are defined at 96 dpi and laid out at the dpi of the monitor they are on.

#include <windows.h>

namespace ts {

inline constexpr int kDesignDpi = 96;

// The programs are per-monitor aware by their manifest (res/), which every
// system from 7 on reads; a call at run time would do nothing after it.

// The dpi a window is laid out at: its monitor's when the system tells, else the system's.
int DpiOf(HWND window);
inline int ScaleToDpi(int value, int dpi) { return MulDiv(value, dpi, kDesignDpi); }

}  // namespace ts
