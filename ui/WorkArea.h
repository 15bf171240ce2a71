#pragma once
// The one rule for where a window may open: moved (never resized) into the work
// area of the monitor nearest to where it was wanted, so no part of it opens
// off the screen or under the taskbar.

#include <windows.h>

#include <algorithm>

namespace ts {

inline POINT IntoWorkArea(const RECT& wanted) {
  POINT at{wanted.left, wanted.top};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoW(MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    at.x = std::max<LONG>(std::min<LONG>(at.x, work.right - (wanted.right - wanted.left)), work.left);
    at.y = std::max<LONG>(std::min<LONG>(at.y, work.bottom - (wanted.bottom - wanted.top)), work.top);
  }
  return at;
}

}  // namespace ts
