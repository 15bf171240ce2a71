#pragma once
// The simulator without its window: the instrument model, the transport, the
// pacing of the screen reports and the command log. The window
// (sim/SimulatorWindow.h) shows what it makes when told to look.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/Instrument.h"
#include "sim/PipeServer.h"
#include "sim/RecordingSource.h"
#include "sim/Screen.h"
#include "sim/Transport.h"
#include "ui/WinHandle.h"

namespace ts::sim {

struct Settings {
  bool fast = false;
  bool unplugged = false;
  bool hid = false;  // the HID stand-in driver instead of the pipe
  std::wstring pipe = kPipeName;
  std::wstring logFile;
  std::wstring play;  // a recording to serve instead of the model
  int control = -1;   // for a running simulator: 0 unplug, 1 replug, 2 quit
  bool help = false;
  bool helpAsked = false;
};

class SimulatorEngine {
 public:
  explicit SimulatorEngine(const Settings& settings);
  // However the program ended, the stream stops before the pipe goes.
  ~SimulatorEngine();
  SimulatorEngine(const SimulatorEngine&) = delete;
  SimulatorEngine& operator=(const SimulatorEngine&) = delete;

  // Why the log asked for cannot be written, or empty.
  const std::wstring& LogError() const { return logError_; }

  // Called from any thread: a new frame waits (once until FrameSeen), log lines
  // wait. Set before Start.
  void SetNotices(std::function<void()> onFrame, std::function<void()> onLog);
  // Logs the start and plugs in unless asked not to.
  void Start();
  void StartPacing();
  void StopPacing();

  // Plugs or unplugs; a failure goes to the log.
  void SetPlugged(bool plugged);
  bool IsPlugged() const { return server_.IsPlugged(); }
  bool Fast() const { return fast_; }
  void SetFast(bool fast);

  Screen Frame();
  void FrameSeen() { framePosted_ = false; }
  // The waiting lines, stamped with the time and written to the log file.
  std::vector<std::wstring> TakeLog();
  // Clients, reports per second since the last call, totals and losses.
  std::wstring StatusText();

 private:
  void Log(const std::wstring& line);
  void OnOutputReport(const Report& r);
  void Stream();
  SimTime Now() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - origin_);
  }

  Settings settings_;
  TStdioFile logFile_;
  std::wstring logError_;
  std::function<void()> onFrame_, onLog_;
  const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();

  std::mutex modelMutex_;
  Instrument model_;

  std::mutex frameMutex_;
  Screen frame_;
  std::atomic<bool> framePosted_{false};

  std::mutex logMutex_;
  std::deque<std::wstring> pendingLog_;

  std::unique_ptr<RecordingSource> recording_;
  std::thread pacer_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> fast_;
  std::atomic<uint64_t> sent_{0};
  uint64_t sentAtLastStatus_ = 0;
  std::chrono::steady_clock::time_point lastStatus_ = std::chrono::steady_clock::now();

  // Last, so it goes first: its thread calls back into the members above.
  Transport server_;
};

}  // namespace ts::sim
