#pragma once
// The virtual instrument as the end-to-end tests and the pipeline benchmark drive
// it: the model and its transport (the pipe, or the HID stand-in device when
// TS_E2E_TRANSPORT=hid) in the test process, a stream paced like the USB link,
// and the picture the program's mirror must show.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/Instrument.h"
#include "sim/Screen.h"
#include "sim/Transport.h"
#include "tests/e2e/support/Driver.h"

namespace ts::e2e {

inline constexpr int kViewWidth = 326, kViewHeight = 246, kMargin = 3;

// What the display surface must hold: 326 x 246 pixels, true for black. It starts
// black like the surface the display control makes.
class Surface {
 public:
  Surface() : black_(static_cast<size_t>(kViewWidth) * kViewHeight, true) {}
  bool Black(int x, int y) const { return black_[static_cast<size_t>(y) * kViewWidth + x]; }
  void Set(int x, int y, bool black) { black_[static_cast<size_t>(y) * kViewWidth + x] = black; }
  void Fill(int left, int top, int right, int bottom, bool black);
  // A complete frame drawn through the screen area; the margins keep their pixels.
  void DrawScreen(const sim::Screen& screen);
  // One 64-byte report as the mirror places it (any line group, either half).
  void DrawReport(const uint8_t* data64);
  // The clear button: everything white.
  void Clear() { Fill(0, 0, kViewWidth, kViewHeight, false); }
  // The frame button: 2-pixel black bands at the edges.
  void Border();

 private:
  std::vector<bool> black_;
};

// Pixels of the capture that differ from the surface, and where the first one is;
// -1 when the capture is not the display's size.
struct Difference {
  int Count = -1;
  int FirstX = -1, FirstY = -1;
  std::string Describe() const;
};
Difference Compare(const Picture& picture, const Surface& expected);
// Waits until the display shows exactly the expected surface.
bool WaitForPicture(const Program& program, const Surface& expected, Difference& last,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The transport the suite runs over, from TS_E2E_TRANSPORT ("hid" or the pipe).
sim::Transport::Options TransportUnderTest();
bool OverHid();

// The model behind the transport. Its clock stands still unless moved, so a message
// or a tune shown on its screen stays until the test moves on.
class VirtualInstrument {
 public:
  explicit VirtualInstrument(sim::Transport::Options options = TransportUnderTest());
  ~VirtualInstrument();

  sim::Transport& Server() { return server_; }
  // Waits for the next output report from the program and lets the model act on it.
  bool TakeOutputReport(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  void Advance(std::chrono::milliseconds time);
  sim::Screen CurrentScreen();
  int Gain();
  std::optional<std::string> Message();

  // A whole frame of the current screen, then group 0 again so it is presented;
  // answers how many reports that was.
  size_t SendFrame();

  // Streams the current screen frame after frame, one report each millisecond
  // (or as fast as the program takes them when `pace` is zero), on its own thread.
  void StartStream(std::chrono::microseconds pace = std::chrono::milliseconds(1));
  // From the next stream on, waits while `limit` reports are sent and not yet
  // `taken`: the class driver keeps 256 reports for the program and drops the
  // oldest beyond them, so a stalled program, or a stream catching up after a
  // late wake-up, would lose reports that no program could have kept.
  void LimitBacklog(uint64_t limit, std::function<uint64_t()> taken);
  // Stops after a whole frame and its presenting report; returns the reports sent.
  uint64_t StopStream();
  uint64_t Streamed() const { return streamed_; }

 private:
  void Stream(std::chrono::microseconds pace);
  bool BacklogFull() const;

  sim::Transport server_;
  std::mutex modelMutex_;
  sim::Instrument model_;
  sim::SimTime now_{100000};
  std::thread streamer_;
  std::atomic<bool> stopStream_{false};
  std::atomic<uint64_t> streamed_{0};
  uint64_t backlogLimit_ = 0;
  std::function<uint64_t()> taken_;
};

// The number in "Скорость приема данных  64 000 Байт/c", or -1.
long RateOf(const std::wstring& text);

}  // namespace ts::e2e
