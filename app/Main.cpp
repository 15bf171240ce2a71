// Program entry: the application object, the five windows in their order, the
// message loop.

#include <windows.h>

#include "app/MainFormUnit.h"
#include "app/Startup.h"
#include "control/ControlUnit.h"
#include "control/SoundUnit.h"
#include "control/USBMessageUnit.h"
#include "link/LinkUnit.h"
#include "screen/DDrawUnit.h"
#include "screen/DisplayView.h"
#include "ui/Application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ts::TDirectDrawHeadStart directDraw((ts::kMainWindowDisplayOptions & ts::doDirectX7Mode) != 0);
  ts::TApplication application;
  application.SetTitle(L"Virtual_TS4170");
  application.Initialize();
  return ts::StartProgram(
      application, [&] { application.CreateForm(ts::MainForm); },
      [&] { application.CreateForm(ts::LinkForm); }, [&] { application.CreateForm(ts::SoundForm); },
      [&] { application.CreateForm(ts::USBMessageForm); }, [&] { application.CreateForm(ts::ControlForm); });
}
