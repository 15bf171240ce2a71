// Starting the program: a window that cannot be made ends it with a box and a
// non-zero exit code, instead of a loop over half-built windows.

#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/Startup.h"

namespace ts {
namespace {

// Reads and closes every message box the thread shows; once one is closed it also
// ends any message loop that follows, so a program that goes on cannot hang the test.
std::vector<std::wstring> boxes;

BOOL CALLBACK CloseBox(HWND window, LPARAM) {
  wchar_t cls[64] = {}, text[256] = {};
  GetClassNameW(window, cls, 64);
  if (!IsWindowVisible(window) || std::wstring(cls) != L"#32770") return TRUE;
  GetDlgItemTextW(window, 0xFFFF, text, 256);
  boxes.push_back(text);
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  PostQuitMessage(0);
  return TRUE;
}

void CALLBACK CloseBoxes(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), &CloseBox, 0);
}

TEST(StartupTest, AWindowThatCannotBeMadeEndsTheProgram) {
  TApplication application;
  application.SetTitle(L"Virtual_TS4170");
  application.Initialize();
  UINT_PTR timer = SetTimer(nullptr, 0, 50, &CloseBoxes);
  std::vector<int> made;
  int code = StartProgram(
      application, [&] { made.push_back(1); }, [&] { throw std::runtime_error("Cannot create window"); },
      [&] { made.push_back(3); });
  KillTimer(nullptr, timer);
  MSG quit;
  while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  EXPECT_NE(code, 0);
  EXPECT_EQ(made, std::vector<int>{1});
  EXPECT_EQ(boxes, std::vector<std::wstring>{L"Cannot create window."});
}

}  // namespace
}  // namespace ts
