#pragma once
// The simulator's window: its screen at 1:1 beside the plug controls, the status
// and the log of every command it receives.

#include <windows.h>

#include <exception>
#include <string>

#include "sim/SimulatorEngine.h"
#include "ui/WindowObject.h"

namespace ts::sim {

constexpr wchar_t kClassName[] = L"TS4170_Simulator";
constexpr wchar_t kTitle[] = L"Виртуальный ТС4170";
// Scripts drive a running simulator with this message: wParam 0 unplugs, 1
// plugs back in. WM_CLOSE ends it.
constexpr UINT WM_APP_CONTROL = WM_APP + 1;

// The window's title names the pipe, so a script can address the simulator that
// serves a given pipe when several run.
inline std::wstring WindowTitle(const std::wstring& pipe) { return std::wstring(kTitle) + L" — " + pipe; }

// Shows an error in a box of the simulator's own.
void ShowSimulatorError(const std::exception& error);

class SimulatorWindow {
 public:
  explicit SimulatorWindow(SimulatorEngine& engine) : engine_(engine) {}

  bool Create(HINSTANCE instance, int show, const std::wstring& pipe);
  void Start();

 private:
  template <class T>
  friend LRESULT CALLBACK ts::ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControls();
  void Paint();
  void SetPlugged(bool plugged);
  void UpdateStatus();
  void DrainLog();

  SimulatorEngine& engine_;
  HWND window_ = nullptr, plugButton_ = nullptr, fastBox_ = nullptr, logList_ = nullptr, status_ = nullptr;
};

}  // namespace ts::sim
