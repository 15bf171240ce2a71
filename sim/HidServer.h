#pragma once
// The instrument's side of the HID stand-in: plugging installs the device (a
// root-enumerated device under the ts4170hid minidriver, through
// TS4170_HidInstall.exe next to this program), input reports go to the driver's
// control device, output reports come back from it on a thread of its own. The
// class driver is the device's one client; Wine's plug and play tells windows
// of the device's coming and going.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/KeptOutputReports.h"
#include "sim/hid/HidDevice.h"

namespace ts::sim {

class HidServer {
 public:
  using OutputHandler = std::function<void(const Report&)>;
  // `tool` is TS4170_HidInstall.exe; empty: the one next to this program.
  explicit HidServer(uint16_t productId = kHidProductId, std::wstring tool = {});
  ~HidServer();  // unplugs if plugged
  HidServer(const HidServer&) = delete;
  HidServer& operator=(const HidServer&) = delete;

  // Set before Plug; runs on the server's thread.
  void SetOutputHandler(OutputHandler handler) { handler_ = std::move(handler); }
  // Throws ts::Exception with the install tool's words when the device does not
  // come (within a minute).
  void Plug();
  void Unplug();
  bool IsPlugged() const { return plugged_; }

  // Sent with the input report ID the device declares in byte 0.
  void SendReport(const Report& report);
  // Several in one write to the driver, which costs as much as one.
  void SendReports(const Report* reports, size_t count);
  // Takes the next output report not yet taken, waiting until `deadline`.
  std::optional<Report> WaitForOutputReport(std::chrono::steady_clock::time_point deadline) {
    return outputs_.TakeNext(deadline);
  }
  size_t ClientCount() const { return plugged_ ? 1 : 0; }
  uint64_t DroppedReports() const;
  // Reports sent since the plug that the driver holds yet.
  size_t Backlog() const;
  std::string LastError() const;

 private:
  void Collect();
  void SetError(std::string text);

  const uint16_t productId_;
  const std::wstring tool_;
  std::atomic<uint64_t> sent_{0};
  std::atomic<uint64_t> refused_{0};  // not taken by the driver in time: lost
  uint64_t passedAtPlug_ = 0;         // the driver's delivered and dropped counts then
  OutputHandler handler_;
  KeptOutputReports outputs_;
  mutable std::mutex controlMutex_;  // control_ against Unplug
  mutable HidControlChannel control_;
  std::thread collector_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> plugged_{false};
  mutable std::mutex errorMutex_;
  std::string lastError_;
};

}  // namespace ts::sim
