#pragma once
// The instrument's side of the pipe that stands in for USB: one listening
// instance while plugged in, any number of clients, every input report to every
// client, every 65-byte output report from any client to the owner. One thread
// runs all the pipe I/O, overlapped, through a completion port; it shares the
// state it works on with the server, so a thread held up past the server's
// bounded stop ends by itself once it is free.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/Ts4170Protocol.h"
#include "sim/KeptOutputReports.h"
#include "sim/Screen.h"
#include "ui/WinHandle.h"

namespace ts::sim {

inline constexpr wchar_t kPipeName[] = L"" TS4170_PIPE_NAME;

class PipeServer {
 public:
  using Clock = std::chrono::steady_clock;
  // Runs on the server's thread for each output report; must not block long.
  // One still running when the server is destroyed returns into the thread,
  // which then stops: it may run after the destructor has returned.
  using OutputHandler = std::function<void(const Report&)>;

  struct Options {
    std::wstring name = kPipeName;
    // Reports a client may have waiting before its oldest are dropped.
    size_t clientQueueLimit = 256;
    // Broadcast WM_DEVICECHANGE on plug and unplug, as Windows does for a device.
    bool broadcast = true;
  };

  // Clients served at once; the next is refused as "all pipe instances are busy".
  static constexpr size_t kMaxClients = 16;
  struct ClientStatistics {
    uint64_t delivered = 0;  // reports the client's pipe took
    uint64_t dropped = 0;    // reports lost because the client did not read
  };

  PipeServer();
  explicit PipeServer(Options options);
  ~PipeServer();  // unplugs if plugged; bounded, as the waiting calls are
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Set before Plug.
  void SetOutputHandler(OutputHandler handler);

  // Creates the listening instance, then broadcasts. Throws ts::Exception when
  // the pipe cannot be made (for example, another server holds the name).
  void Plug();
  // Closes every instance, so clients' reads fail, then broadcasts. Returns
  // when every instance is closed.
  void Unplug();
  bool IsPlugged() const { return plugged_; }

  // Queues a message for every connected client and returns at once.
  void SendReport(const uint8_t (&report)[kReportSize]);
  void SendReport(const Report& report);
  // Any bytes as one message, for tests that send malformed reports.
  void SendRaw(const void* bytes, size_t size);

  // Takes the next output report not yet taken, waiting until `deadline`.
  std::optional<Report> WaitForOutputReport(Clock::time_point deadline);
  // The last KeptOutputReports::kLimit output reports received, in order.
  std::vector<Report> OutputReports() const;

  size_t ClientCount() const;
  bool WaitForClientCount(size_t count, Clock::time_point deadline) const;
  // The shortest send queue among connected clients (0 with none): how far the
  // fastest reader lags behind.
  size_t SmallestBacklog() const;
  bool WaitForBacklogBelow(size_t limit, Clock::time_point deadline) const;
  uint64_t DroppedReports() const;
  // One entry per connected client, in the order they came.
  std::vector<ClientStatistics> Clients();
  uint64_t IgnoredMessages() const;

  // Why the server last failed to offer a listening instance, or empty.
  std::string LastError() const;

  static void BroadcastDeviceChange();

 private:
  struct Instance;
  struct Op;
  struct Request;
  struct Core;

  void Post(std::shared_ptr<Request> request, bool wait);

  // The thread keeps its own reference: the core lives until both are done.
  std::shared_ptr<Core> core_;
  std::thread thread_;
  std::atomic<bool> plugged_{false};
};

}  // namespace ts::sim
