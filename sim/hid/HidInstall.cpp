// TS4170_HidInstall.exe: plugs and unplugs the HID stand-in's devices, and shows
// its driver's log. Never waits longer than its time limit.
//
//   TS4170_HidInstall.exe plug   [--pid 4170] [--inf PATH] [--timeout SECONDS]
//   TS4170_HidInstall.exe unplug [--pid 4170] [--timeout SECONDS]
//   TS4170_HidInstall.exe log
// Exit code: 0 done, 1 failed, 2 usage, 3 out of time.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "sim/hid/HidDevice.h"

namespace {

using namespace std::chrono;
using namespace ts::sim;

std::wstring DefaultInf() {
  std::wstring dir = HidInstallToolPath();
  dir.resize(dir.find_last_of(L"\\/") + 1);
  return dir + L"ts4170hid.inf";
}

DWORD WINAPI Watchdog(void* seconds) {
  Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(seconds)) * 1000);
  fprintf(stderr, "out of time\n");
  fflush(stderr);
  ExitProcess(3);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: TS4170_HidInstall.exe plug|unplug|log [--pid HEX] [--inf PATH] [--timeout S]\n");
    return 2;
  }
  const std::wstring command = argv[1];
  uint16_t pid = kHidProductId;
  std::wstring inf = DefaultInf();
  unsigned timeout = 60;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::wstring a = argv[i];
    if (a == L"--pid")
      pid = static_cast<uint16_t>(wcstoul(argv[i + 1], nullptr, 16));
    else if (a == L"--inf")
      inf = argv[i + 1];
    else if (a == L"--timeout")
      timeout = static_cast<unsigned>(wcstoul(argv[i + 1], nullptr, 10));
    else
      return fprintf(stderr, "unknown switch\n"), 2;
  }
  // The setup functions can wait on Wine's device services; the limit stands
  // over all of it, and the inner waits end a second earlier with a reason.
  CreateThread(nullptr, 0, Watchdog, reinterpret_cast<void*>(uintptr_t(timeout)), 0, nullptr);
  const milliseconds inner = seconds(timeout > 1 ? timeout - 1 : 1);
  std::string error;
  if (command == L"plug") {
    if (!PlugHidDevice(inf, pid, inner, error)) return fprintf(stderr, "plug: %s\n", error.c_str()), 1;
    HidControlChannel control;
    if (!control.Open(steady_clock::now() + seconds(5)))
      return fprintf(stderr, "plug: no control device\n"), 1;
    printf("plugged %s\n", FindHidInterface(pid).value_or("?").c_str());
    return 0;
  }
  if (command == L"unplug") {
    if (!UnplugHidDevice(pid, inner, error)) return fprintf(stderr, "unplug: %s\n", error.c_str()), 1;
    printf("unplugged\n");
    return 0;
  }
  if (command == L"log") {
    HidControlChannel control;
    if (!control.Open(steady_clock::now())) return fprintf(stderr, "log: no control device\n"), 1;
    fputs(control.TakeLog().c_str(), stdout);
    return 0;
  }
  fprintf(stderr, "unknown command\n");
  return 2;
}
