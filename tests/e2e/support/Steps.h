#pragma once
// Working the program's windows in the ways the instrument tests share.

#include <string>
#include <vector>

#include "tests/e2e/support/Driver.h"

namespace ts::e2e {

inline constexpr wchar_t kConnected[] = L"ТС4170 подключен !!!";
inline constexpr wchar_t kDisconnected[] = L"Нет связи с прибором ???";

// The memo's lines without their numbers ("001  "), in order.
inline std::vector<std::wstring> LogTexts(const Program& p) {
  std::vector<std::wstring> out;
  for (const auto& line : p.MemoLines())
    if (line.size() > 5 && line.compare(3, 2, L"  ") == 0) out.push_back(line.substr(5));
  return out;
}

// The keypad's arrows show only a picture; they are found by where they sit.
inline HWND ControlAt(const Program& p, int x, int y) {
  return ChildWindowFromPointEx(p.Main(), POINT{x, y}, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
}
inline HWND UpKey(const Program& p) { return ControlAt(p, 462, 12); }
inline HWND LeftKey(const Program& p) { return ControlAt(p, 444, 44); }
inline HWND RightKey(const Program& p) { return ControlAt(p, 484, 44); }
inline HWND DownKey(const Program& p) { return ControlAt(p, 462, 76); }

// A top-level window of the program with this caption.
inline HWND OwnWindow(const Program& p, const wchar_t* caption) {
  return FindOwnWindow(GetProcessId(p.Process()), caption);
}

// Nothing may cover the picture while it is read off the screen.
inline void UncoverDisplay(const Program& p) {
  if (HWND link = p.Link(); link && IsWindowVisible(link)) ShowWindow(link, SW_HIDE);
  SetWindowPos(p.Main(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(p.Main());
}

}  // namespace ts::e2e
