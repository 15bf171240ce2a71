// Finds windows for the run script, which cannot see windows inside Wine's
// virtual desktop.
//   ts_window wait <caption> <seconds>   exit 0 once a visible window has the caption
//   ts_window close <caption>            asks that window to close

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  if (std::wcscmp(argv[1], L"close") == 0) {
    HWND window = FindWindowW(nullptr, argv[2]);
    if (!window) return 1;
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if (std::wcscmp(argv[1], L"wait") != 0 || argc < 4) return 2;
  DWORD deadline = GetTickCount() + static_cast<DWORD>(_wtoi(argv[3])) * 1000;
  while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
    HWND window = FindWindowW(nullptr, argv[2]);
    if (window && IsWindowVisible(window)) return 0;
    Sleep(100);
  }
  return 1;
}
