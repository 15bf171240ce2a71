#pragma once
// Waiting on conditions under Wine: messages are dispatched while waiting, and
// every wait has a deadline, so a test fails instead of hanging.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ui/WinHandle.h"

namespace ts::test {

// Dispatches this thread's messages until cond holds or timeoutMs has passed.
// The one wait of the Windows tests.
bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs = 20000);
inline bool PumpUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
  return PumpUntil(cond, static_cast<DWORD>(timeout.count()));
}

// The text of a status bar panel as the control holds it.
std::wstring StatusText(HWND statusBar, int panel);

// Clicks a window with the mouse messages a user's click produces.
void MouseClick(HWND window);

}  // namespace ts::test

namespace ts::test {

// Watches for message boxes with a given caption from a thread of its own, reads
// their text and icon, and closes them with "OK".
class MessageBoxWatcher {
 public:
  explicit MessageBoxWatcher(std::wstring caption);
  ~MessageBoxWatcher();
  // The texts of the boxes closed so far.
  std::vector<std::wstring> Texts();
  // Whether the last closed box showed an icon.
  bool LastHadIcon();

 private:
  static DWORD WINAPI ThreadMain(void* self);
  void Run();
  std::wstring caption_;
  TWinHandle stop_;
  TWinHandle thread_;
  CRITICAL_SECTION lock_;
  std::vector<std::wstring> texts_;
  bool lastHadIcon_ = false;
};

}  // namespace ts::test
