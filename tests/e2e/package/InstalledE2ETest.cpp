// The product as installed: both programs started from the Start-menu
// shortcuts' targets, the program mirroring the simulator's screen. The package
// test installs the MSI before and removes it after.

#include <gtest/gtest.h>
#include <objidl.h>
#include <shlobj.h>
#include <windows.h>

#include <string>

#include "tests/e2e/support/Driver.h"
#include "tests/e2e/support/Steps.h"
#include "ui/WinHandle.h"

namespace ts::e2e {
namespace {

// The program a shortcut of the product's Start-menu folder starts: all users'
// folder, where Windows puts a per-machine package's shortcuts, or the user's,
// where Wine's msiexec does.
std::wstring ShortcutTarget(const wchar_t* name) {
  std::wstring path;
  for (int folder : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    wchar_t programs[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, folder, nullptr, 0, programs))) continue;
    path = std::wstring(programs) + L"\\Virtual_TS4170\\" + name + L".lnk";
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) break;
  }
  TComPtr<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(link.Receive()))))
    return {};
  const auto file = link.Query<IPersistFile>(IID_IPersistFile);
  wchar_t target[MAX_PATH] = {};
  if (!file || FAILED(file->Load(path.c_str(), STGM_READ)) ||
      FAILED(link->GetPath(target, MAX_PATH, nullptr, 0)))
    return {};
  return target;
}

// The mirror's border around the instrument's screen.
constexpr int kBorder = 3;

bool Dark(uint32_t rgb) { return ((rgb >> 16 & 0xFF) + (rgb >> 8 & 0xFF) + (rgb & 0xFF)) < 3 * 128; }

TEST(Installed, TheProgramFromItsShortcutMirrorsTheSimulatorFromItsShortcut) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  const std::wstring program = ShortcutTarget(L"Virtual_TS4170"),
                     simulator = ShortcutTarget(L"TS4170_Simulator");
  ASSERT_FALSE(program.empty());
  ASSERT_FALSE(simulator.empty());
  std::wcout << L"shortcut targets: " << program << L", " << simulator << L"\n";

  // The simulator in a job that ends it with this test, however the test ends.
  const TWinHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  ASSERT_TRUE(SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  std::wstring command = L"\"" + simulator + L"\"";
  ASSERT_TRUE(CreateProcessW(simulator.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                             nullptr, nullptr, &startup, &started));
  const TWinHandle process(started.hProcess), thread(started.hThread);
  ASSERT_TRUE(AssignProcessToJobObject(job.Get(), process.Get()));
  ResumeThread(thread.Get());
  HWND window = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    return (window = FindOwnWindow(started.dwProcessId, L"Виртуальный ТС4170 — \\\\.\\pipe\\TS4170")) !=
           nullptr;
  }));
  // Below the program's windows, so that nothing covers the screen it shows.
  SetWindowPos(window, HWND_TOP, 0, 600, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);

  {
    Program installed(program);
    ASSERT_TRUE(WaitFor([&] { return installed.StatusPanel(0) == kConnected; })) << installed.StatusPanel(0);
    // The screen the simulator shows, pixel for pixel inside the mirror's border.
    constexpr int kSimulatorScreen = 8 + 3, kWidth = 320, kHeight = 240;
    int mismatches = -1;
    const bool same = WaitFor(
        [&] {
          const Picture shown = installed.CaptureDisplay();
          const Picture source =
              CaptureClientOf(window, RECT{kSimulatorScreen, kSimulatorScreen, kSimulatorScreen + kWidth,
                                           kSimulatorScreen + kHeight});
          if (shown.Width < kBorder + kWidth || source.Width != kWidth) return false;
          mismatches = 0;
          for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
              mismatches += Dark(shown.At(x + kBorder, y + kBorder)) != Dark(source.At(x, y));
          return mismatches == 0;
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(same) << mismatches << " pixels differ";
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.Get(), 15000), WAIT_OBJECT_0);
  CoUninitialize();
}

}  // namespace
}  // namespace ts::e2e
