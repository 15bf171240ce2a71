#pragma once
// What the simulator serves the instrument on: the pipe (the default) or the
// HID stand-in driver, behind the calls the simulator makes of either.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sim/HidServer.h"
#include "sim/PipeServer.h"

namespace ts::sim {

class Transport {
 public:
  using Clock = std::chrono::steady_clock;
  struct Options {
    bool hid = false;
    PipeServer::Options pipe;
    uint16_t hidProductId = kHidProductId;
    std::wstring hidTool;  // TS4170_HidInstall.exe; empty: next to this program
  };
  explicit Transport(const Options& options);
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  void SetOutputHandler(PipeServer::OutputHandler handler);
  void Plug();
  void Unplug();
  bool IsPlugged() const;
  void SendReport(const Report& report);
  // The HID device takes them in one write; the pipe one message each.
  void SendReports(const Report* reports, size_t count);
  // A message of any size; the HID device takes whole reports only.
  void SendRaw(const void* bytes, size_t size);
  size_t ClientCount() const;
  bool WaitForBacklogBelow(size_t limit, Clock::time_point deadline) const;
  uint64_t DroppedReports() const;
  uint64_t IgnoredMessages() const;
  std::string LastError() const;

  bool IsHid() const { return hid_ != nullptr; }
  // Takes the next output report not yet taken, waiting until `deadline`.
  std::optional<Report> WaitForOutputReport(Clock::time_point deadline);
  bool WaitForClientCount(size_t count, Clock::time_point deadline) const;
  // Reports sent that the device has not yet passed on (the pipe: the fastest
  // client's queue; HID: the driver's queue).
  size_t SmallestBacklog() const;
  PipeServer* Pipe() { return pipe_.get(); }

 private:
  std::unique_ptr<PipeServer> pipe_;
  std::unique_ptr<HidServer> hid_;
};

}  // namespace ts::sim
