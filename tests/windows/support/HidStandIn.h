#pragma once
// The HID stand-in for tests: plugs and unplugs real HID devices on Wine's HID
// class stack (through TS4170_HidInstall.exe, each call bounded and ended by
// its process ID if it overstays), plays the instrument through the driver's
// control device, and keeps the driver's log for failure messages. Run in a
// Wine prefix of its own (tests/windows/support/hid-prefix.sh).

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "sim/hid/HidDevice.h"

namespace ts::test {

class HidStandIn {
 public:
  using Clock = std::chrono::steady_clock;
  // `simDir` holds TS4170_HidInstall.exe, ts4170hid.sys and ts4170hid.inf.
  explicit HidStandIn(std::wstring simDir);
  ~HidStandIn();  // unplugs what it plugged
  HidStandIn(const HidStandIn&) = delete;
  HidStandIn& operator=(const HidStandIn&) = delete;

  // Returns once the HID interface is there and the control device open.
  bool Plug(uint16_t productId = sim::kHidProductId);
  // Returns once the HID interface is gone.
  bool Unplug(uint16_t productId = sim::kHidProductId);

  // An input report to every plugged device: 64 data bytes after the report
  // ID the device declares (0x01).
  bool Push(const uint8_t* data64);
  // The next output report a device was given, exactly as written.
  std::optional<sim::Report> TakeOutput(Clock::time_point deadline);

  // What went wrong last, the tool's output and the driver's log included.
  const std::string& Failure() const { return failure_; }
  // The driver's log so far.
  std::string DriverLog();

 private:
  bool Run(const std::wstring& arguments);

  std::wstring tool_;
  std::set<uint16_t> plugged_;
  sim::HidControlChannel control_;
  std::string log_;
  std::string failure_;
};

// The build's simulator directory as a Windows path.
std::wstring BuildSimDir();

}  // namespace ts::test
