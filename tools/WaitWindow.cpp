// Finds windows for the run script, which cannot see windows inside Wine's
// virtual desktop. A window matches when its caption begins with the text given.
//   ts_window wait <caption> <seconds>   exit 0 once a visible window matches
//   ts_window close <caption>            asks every matching window to close

#include <windows.h>

#include <cwchar>

namespace {

struct Match {
  const wchar_t* prefix;
  bool close;
  bool found = false;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* m = reinterpret_cast<Match*>(param);
  wchar_t caption[512] = {};
  GetWindowTextW(window, caption, 512);
  if (!IsWindowVisible(window) || std::wcsncmp(caption, m->prefix, std::wcslen(m->prefix)) != 0) return TRUE;
  m->found = true;
  if (m->close) PostMessageW(window, WM_CLOSE, 0, 0);
  return m->close;  // closing visits every match; waiting stops at the first
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  if (std::wcscmp(argv[1], L"close") == 0) {
    Match m{argv[2], true};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&m));
    return m.found ? 0 : 1;
  }
  if (std::wcscmp(argv[1], L"wait") != 0 || argc < 4) return 2;
  DWORD deadline = GetTickCount() + static_cast<DWORD>(_wtoi(argv[3])) * 1000;
  while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
    Match m{argv[2], false};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&m));
    if (m.found) return 0;
    Sleep(100);
  }
  return 1;
}
