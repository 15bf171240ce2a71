#pragma once
// A progress bar and a Cancel button for long work done on the user interface
// thread (an export, the first reading of an older recording). It appears once
// the work has lasted about a second; from then on it keeps the program's
// windows answering and its owner disabled, as a modal window would.

#include <windows.h>

#include <string>

namespace ts {

class TProgressWindow {
 public:
  TProgressWindow(HWND owner, std::wstring title);
  ~TProgressWindow();
  TProgressWindow(const TProgressWindow&) = delete;
  TProgressWindow& operator=(const TProgressWindow&) = delete;
  // The work is this far, 0 to 1; false once the user has cancelled it.
  bool Step(double done);
  HWND Handle() const { return window_; }

 private:
  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Show();
  HWND owner_;
  std::wstring title_;
  HWND window_ = nullptr, bar_ = nullptr;
  DWORD start_, lastPump_;
  bool cancelled_ = false;
};

}  // namespace ts
