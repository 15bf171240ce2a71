#pragma once
// The HID stand-in from user mode: plugging and unplugging its root-enumerated
// devices, and the control device through which the instrument is played.
// Every wait here has a deadline.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/Screen.h"
#include "sim/hid/HidControl.h"
#include "ui/WinHandle.h"

namespace ts::sim {

inline constexpr uint16_t kHidVendorId = TS4170_VENDOR_ID;
inline constexpr uint16_t kHidProductId = TS4170_PRODUCT_ID;
inline constexpr uint8_t kHidInputReportId = TS4170_INPUT_REPORT_ID;

// "root\vid_5555&pid_4170\0": Wine's HID device path carries the vid/pid only
// with such an instance name.
std::wstring HidInstanceId(uint16_t productId);

// The path of the present HID interface of vid 5555 / productId, if any.
std::optional<std::string> FindHidInterface(uint16_t productId);

// In-process plugging, as the install tool does it. Plug creates the device,
// installs the driver from infPath and returns once its HID interface is
// there; Unplug removes it and returns once the interface is gone. False with
// `error` set on failure or when the deadline passes.
bool PlugHidDevice(const std::wstring& infPath, uint16_t productId, std::chrono::milliseconds timeout,
                   std::string& error);
bool UnplugHidDevice(uint16_t productId, std::chrono::milliseconds timeout, std::string& error);

// Runs TS4170_HidInstall.exe (next to this program unless `tool` names it) with
// `arguments` and waits for it at most `timeout`; a tool still running then is
// ended by its process ID. Answers its exit code (or -1) and its output.
struct ToolResult {
  int exitCode = -1;
  std::string output;
};
std::wstring HidInstallToolPath();
ToolResult RunHidInstallTool(const std::wstring& arguments, std::chrono::milliseconds timeout,
                             std::wstring tool = {});

// The control device. Push sends an input report to every started device;
// TakeOutput waits for the next output report a device was given.
class HidControlChannel {
 public:
  using Clock = std::chrono::steady_clock;
  HidControlChannel() = default;
  ~HidControlChannel() { Close(); }
  HidControlChannel(const HidControlChannel&) = delete;
  HidControlChannel& operator=(const HidControlChannel&) = delete;

  // Opens the control device, waiting for it until `deadline`.
  bool Open(Clock::time_point deadline);
  void Close();
  bool IsOpen() const { return static_cast<bool>(write_); }

  // False when no device is started (or the channel is closed).
  bool Push(const void* report, size_t size);
  // Empty at the deadline, or at once when Interrupt is called from another
  // thread.
  std::optional<Report> TakeOutput(Clock::time_point deadline);
  void Interrupt();
  bool State(TS4170_STATE& state);
  // The driver's log since it was last read.
  std::string TakeLog();

 private:
  TWinHandle write_;  // synchronous: pushes and queries
  TWinHandle read_;   // overlapped: the waiting reads
  TWinHandle readDone_;
  TWinHandle interrupt_;
};

}  // namespace ts::sim
