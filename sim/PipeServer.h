#pragma once
// The instrument's side of the pipe that stands in for USB: one listening
// instance while plugged in, any number of clients, every input report to every
// client, every 65-byte output report from any client to the owner. One thread
// runs all the pipe I/O, overlapped, through a completion port.

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
  ~PipeServer();  // unplugs if plugged
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

  size_t ClientCount() const { return clientCount_; }
  bool WaitForClientCount(size_t count, Clock::time_point deadline) const;
  // The shortest send queue among connected clients (0 with none): how far the
  // fastest reader lags behind.
  size_t SmallestBacklog() const { return smallestBacklog_; }
  bool WaitForBacklogBelow(size_t limit, Clock::time_point deadline) const;
  uint64_t DroppedReports() const { return dropped_; }
  // One entry per connected client, in the order they came.
  std::vector<ClientStatistics> Clients();
  uint64_t IgnoredMessages() const { return ignored_; }

  // Why the server last failed to offer a listening instance, or empty.
  std::string LastError() const;

  static void BroadcastDeviceChange();

 private:
  struct Instance;
  struct Op;
  struct Request;

  void Run();
  void Execute(Request& request);
  void Post(std::shared_ptr<Request> request, bool wait);
  void Listen();
  void ListenIfRoom();
  void OnConnected(Instance* inst);
  void StartRead(Instance* inst);
  void OnRead(Instance* inst, bool ok, DWORD bytes, DWORD error);
  void Enqueue(Instance* inst, const std::shared_ptr<const std::vector<uint8_t>>& message);
  void StartWrite(Instance* inst);
  void Complete(Op* op, bool ok, DWORD bytes, DWORD error);
  void Close(Instance* inst);
  void ReleaseClosed();
  void UpdateCounts();
  void RecordError(const std::string& text);

  Options options_;
  OutputHandler handler_;
  TWinHandle port_;
  TLocalMemory security_;  // the pipe's: its owner's user and SYSTEM only
  std::thread thread_;

  // Owned by the server thread.
  std::vector<std::unique_ptr<Instance>> instances_;
  Instance* listener_ = nullptr;
  bool serving_ = false;
  std::vector<std::shared_ptr<Request>> unplugWaiters_;
  std::shared_ptr<Request> stopRequest_;

  std::mutex requestsMutex_;
  std::deque<std::shared_ptr<Request>> requests_;

  KeptOutputReports outputs_;
  // The last error, the client count and the backlog, for the waits on them.
  mutable std::mutex stateMutex_;
  mutable std::condition_variable stateChanged_;
  std::string lastError_;
  std::atomic<size_t> clientCount_{0};

  std::atomic<bool> plugged_{false};
  std::atomic<size_t> smallestBacklog_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> ignored_{0};
};

}  // namespace ts::sim
