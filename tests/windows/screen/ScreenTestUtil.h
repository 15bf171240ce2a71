#pragma once
// Helpers shared by the display tests: a real top-level window, reading surface
// pixels back, pumping messages until a condition holds, recording reported errors.

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "screen/DDrawUnit.h"
#include "tests/windows/support/Pump.h"
#include "ui/ErrorReport.h"

namespace ts::test {

// A visible top-level window of its own class, destroyed with the object.
class TTestWindow {
 public:
  explicit TTestWindow(int clientWidth = 480, int clientHeight = 320, bool visible = true);
  ~TTestWindow();
  TTestWindow(const TTestWindow&) = delete;
  TTestWindow& operator=(const TTestWindow&) = delete;
  HWND Handle() const { return window_; }
  void Destroy();

 private:
  HWND window_ = nullptr;
};

void PumpPending();

// Pixel value at (x, y) of a surface of 8 to 32 bits, through a lock of its own.
uint32_t ReadPixel(TDirectDrawSurface& surface, int x, int y);
// All pixels of one surface row, or of the whole surface row by row.
std::vector<uint32_t> ReadRow(TDirectDrawSurface& surface, int y);
std::vector<uint32_t> ReadAll(TDirectDrawSurface& surface);
// What the colour value 0xFFFFFF becomes on the surface: its low bits, unconverted.
uint32_t White(TDirectDrawSurface& surface);
// What any colour value becomes on the surface, as White does for white.
uint32_t Raw(TDirectDrawSurface& surface, uint32_t value);

// Collects the errors handed to the report while it lives.
class TErrorRecorder {
 public:
  TErrorRecorder();
  ~TErrorRecorder();
  std::vector<std::string> Messages() const;

 private:
  TErrorSink previous_;
};

}  // namespace ts::test
