// Finds windows for the run script. A window matches when its caption begins with
// the text given; with --desktop NAME the windows of that desktop are searched
// (Wine's virtual desktops are desktops of their own).
//   ts_window [--desktop NAME] wait <caption> <seconds>   exit 0 once a visible window matches
//   ts_window [--desktop NAME] close <caption>            asks every matching window to close
//   ts_window hold                                        keeps the desktop open until ended

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
  const wchar_t* desktopName = nullptr;
  if (argc >= 3 && std::wcscmp(argv[1], L"--desktop") == 0) {
    desktopName = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (argc == 2 && std::wcscmp(argv[1], L"hold") == 0) {
    // Wine ends a desktop a second after the last program on it has ended, and
    // the next program that needs one starts a desktop process of its own,
    // which inherits that program's standard streams. A program that never ends
    // keeps the one desktop up for as long as it runs.
    GetDesktopWindow();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
  }
  if (argc < 3) return 2;
  auto search = [&](Match& m) {
    // Joined afresh each time: the desktop may not exist yet on the first tries.
    if (desktopName) {
      HDESK desktop = OpenDesktopW(desktopName, 0, FALSE, GENERIC_ALL);
      if (!desktop || !SetThreadDesktop(desktop)) {
        if (desktop) CloseDesktop(desktop);
        return;
      }
    }
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&m));
  };
  if (std::wcscmp(argv[1], L"close") == 0) {
    Match m{argv[2], true};
    search(m);
    return m.found ? 0 : 1;
  }
  if (std::wcscmp(argv[1], L"wait") != 0 || argc < 4) return 2;
  DWORD deadline = GetTickCount() + static_cast<DWORD>(_wtoi(argv[3])) * 1000;
  while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
    Match m{argv[2], false};
    search(m);
    if (m.found) return 0;
    Sleep(100);
  }
  return 1;
}
