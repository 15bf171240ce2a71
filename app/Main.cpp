// Program entry: the application object, the five windows in their order, the
// message loop.

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "app/MainFormUnit.h"
#include "app/Startup.h"
#include "control/ControlUnit.h"
#include "control/SoundUnit.h"
#include "control/USBMessageUnit.h"
#include "link/InstrumentLink.h"
#include "link/LinkUnit.h"
#include "screen/DDrawUnit.h"
#include "screen/DisplayView.h"
#include "ui/Application.h"
#include "ui/WinHandle.h"

namespace {

// The file the program was opened with, as Explorer passes a recording it opens
// here: the one argument, or nothing.
std::wstring FileOnCommandLine() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const ts::TLocalMemory owner(reinterpret_cast<HLOCAL>(arguments));
  return arguments && count == 2 ? arguments[1] : L"";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ts::TDirectDrawHeadStart directDraw((ts::kMainWindowDisplayOptions & ts::doDirectX7Mode) != 0);
  ts::TApplication application;
  application.SetTitle(L"Virtual_TS4170");
  application.Initialize();
  // Ends before the application, so while the windows whose handlers it calls
  // are still there.
  ts::TInstrumentLink link;
  return ts::StartProgram(
      application, [&] { application.CreateForm(ts::MainForm, &directDraw); },
      [&] { application.CreateForm(ts::LinkForm); }, [&] { application.CreateForm(ts::SoundForm); },
      [&] { application.CreateForm(ts::USBMessageForm); }, [&] { application.CreateForm(ts::ControlForm); },
      [&] {
        ts::MainForm->SetLink(link);
        ts::LinkForm->SetLink(link);
        ts::SoundForm->Link = ts::USBMessageForm->Link = ts::ControlForm->Link = &link;
        link.Start();
      },
      [&] {
        if (const std::wstring file = FileOnCommandLine(); !file.empty()) ts::MainForm->OpenPlayback(file);
      });
}
