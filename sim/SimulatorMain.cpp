// TS4170_Simulator.exe: the virtual instrument on the pipe, with its own screen
// at 1:1 beside a log of every command it receives. See sim/README.md.

#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "sim/SimulatorEngine.h"
#include "sim/SimulatorWindow.h"
#include "ui/Cp1251.h"
#include "ui/ErrorReport.h"
#include "ui/WinHandle.h"

namespace ts::sim {
namespace {

Settings ParseCommandLine() {
  Settings s;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const TLocalMemory arguments(argv);
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--fast")
      s.fast = true;
    else if (a == L"--unplugged")
      s.unplugged = true;
    else if (a == L"--hid")
      s.hid = true;
    else if (a == L"--pipe" && i + 1 < argc)
      s.pipe = argv[++i];
    else if (a == L"--log" && i + 1 < argc)
      s.logFile = argv[++i];
    else if (a == L"--play" && i + 1 < argc)
      s.play = argv[++i];
    else if (a == L"--unplug")
      s.control = 0;
    else if (a == L"--replug")
      s.control = 1;
    else if (a == L"--quit")
      s.control = 2;
    else if (a == L"--help" || a == L"/?")
      s.help = s.helpAsked = true;
    else
      s.help = true;
  }
  return s;
}

constexpr wchar_t kUsage[] =
    L"TS4170_Simulator.exe [--fast] [--unplugged] [--log FILE] [--pipe NAME | --hid] [--play FILE]\n"
    L"TS4170_Simulator.exe [--pipe NAME] --unplug | --replug | --quit\n\n"
    L"--fast\tслать отчёты как можно быстрее, а не 1 в мс\n"
    L"--unplugged\tзапуститься отключённым\n"
    L"--log FILE\tдописывать принятые команды в файл (UTF-8)\n"
    L"--play FILE\tслать отчёты записи с их временами, а не свой экран\n"
    L"--pipe NAME\tдругое имя канала (по умолчанию \\\\.\\pipe\\TS4170)\n"
    L"--hid\tбыть устройством HID через драйвер-заменитель ts4170hid.sys (Wine; в Windows не загрузится без "
    L"подписи)\n"
    L"--unplug, --replug, --quit\tуправлять уже запущенным симулятором (того же канала)";

}  // namespace
}  // namespace ts::sim

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  using namespace ts::sim;
  const Settings settings = ParseCommandLine();
  if (settings.help) {
    // On the console for scripts (an unknown switch must not wait for a click);
    // in a box only when asked for.
    const std::string usage = ts::Narrow(kUsage);
    fprintf(stderr, "%s\n", usage.c_str());
    if (settings.helpAsked) MessageBoxW(nullptr, kUsage, kTitle, MB_OK | MB_ICONINFORMATION);
    return 2;
  }
  if (settings.control >= 0) {
    HWND running = FindWindowW(kClassName, WindowTitle(settings.pipe).c_str());
    if (!running) return 1;
    if (settings.control == 2)
      PostMessageW(running, WM_CLOSE, 0, 0);
    else
      PostMessageW(running, WM_APP_CONTROL, WPARAM(settings.control), 0);
    return 0;
  }
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  ts::SetErrorSink(&ShowSimulatorError);
  return ts::Guarded(
      [&] {
        SimulatorEngine engine(settings);
        if (!engine.LogError().empty()) {
          // A script that asked for the log must not run on without it.
          fprintf(stderr, "%s\n", ts::Narrow(engine.LogError()).c_str());
          return 2;
        }
        SimulatorWindow window(engine);
        if (!window.Create(instance, show, settings.pipe)) return 1;
        window.Start();
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
        return 0;
      },
      1);
}
