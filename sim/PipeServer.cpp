#include "sim/PipeServer.h"

#include <dbt.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>

#include "ui/Cp1251.h"
#include "ui/Exception.h"
#include "ui/SystemError.h"
#include "ui/WinHandle.h"

namespace ts::sim {

namespace {

constexpr ULONG_PTR kWakeKey = 1;
// How long a caller waits for the server's thread to answer, and how long a
// closed instance may wait for its cancelled operations to report: the owner's
// handler may hang, and a cancel may never take.
constexpr DWORD kAnswerTimeoutMs = 5000;
constexpr ULONGLONG kCloseTimeoutMs = 2000;
constexpr DWORD kReadBufferSize = 1024;
// Room for a few reports in the pipe itself; the rest wait in the client's own
// bounded queue, where the oldest can be dropped.
constexpr DWORD kPipeBufferSize = kReportSize * 8;

// Owned by the user who serves it, open to that user and SYSTEM only: nobody
// else on the PC may watch the stream, take an instance or send commands.
PSECURITY_DESCRIPTOR OwnUserSecurity() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
    throw Exception(Format("The process's user cannot be read (error %lu)", GetLastError()));
  TWinHandle token(opened);
  BYTE buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  DWORD size = 0;
  const BOOL ok = GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size);
  const DWORD tokenError = GetLastError();
  token.Reset();
  wchar_t* user = nullptr;
  if (!ok || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user))
    throw Exception(
        Format("The process's user cannot be read (error %lu)", ok ? GetLastError() : tokenError));
  const TLocalMemory ownedUser(user);
  const std::wstring text = std::wstring(L"O:") + user + L"D:P(A;;FA;;;" + user + L")(A;;FA;;;SY)";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &sd, nullptr))
    throw Exception(Format("The pipe's security cannot be made (error %lu)", GetLastError()));
  return sd;
}

}  // namespace

struct PipeServer::Op {
  enum Kind { Connect, Read, Write };
  OVERLAPPED ov{};
  Kind kind;
  Instance* inst;
  bool pending = false;
  Op(Kind k, Instance* i) : kind(k), inst(i) {}
};

struct PipeServer::Instance {
  TWinHandle pipe;
  Op connectOp{Op::Connect, this};
  Op readOp{Op::Read, this};
  Op writeOp{Op::Write, this};
  bool connected = false;
  bool closing = false;
  ULONGLONG closedAt = 0;
  bool oversize = false;  // the message being read is longer than the buffer
  uint64_t delivered = 0, dropped = 0;
  uint8_t readBuffer[kReadBufferSize];
  std::shared_ptr<const std::vector<uint8_t>> writing;  // kept alive while written
  std::deque<std::shared_ptr<const std::vector<uint8_t>>> queue;

  bool Idle() const { return !connectOp.pending && !readOp.pending && !writeOp.pending; }
};

struct PipeServer::Request : std::enable_shared_from_this<Request> {
  enum Kind { Plug, Unplug, Send, Stop, Count } kind;
  std::shared_ptr<const std::vector<uint8_t>> message;
  std::vector<ClientStatistics> clients;  // filled by Count
  std::mutex mutex;
  std::condition_variable doneChanged;
  bool done = false;
  std::string error;

  explicit Request(Kind k) : kind(k) {}
  void Finish(std::string err = {}) {
    std::lock_guard lock(mutex);
    error = std::move(err);
    done = true;
    doneChanged.notify_all();
  }
};

// What the server's thread works on. The server and the thread each hold it,
// so a thread still held up in the owner's handler after the server's bounded
// stop works on state that is still there, and frees it when it ends.
struct PipeServer::Core {
  explicit Core(Options options);

  void Run();
  void Execute(Request& request);
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

  const Options options_;
  OutputHandler handler_;
  // Set as the server goes: its handler is not called again.
  std::atomic<bool> ownerGone_{false};
  TLocalMemory security_;  // the pipe's: its owner's user and SYSTEM only
  TWinHandle port_;

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
  std::atomic<size_t> smallestBacklog_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> ignored_{0};
};

PipeServer::Core::Core(Options options) : options_(std::move(options)) {
  security_.Reset(OwnUserSecurity());
  port_.Reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  if (!port_.Get()) {
    throw Exception(Format("Completion port cannot be made (error %lu)", GetLastError()));
  }
}

PipeServer::PipeServer() : PipeServer(Options{}) {}

PipeServer::PipeServer(Options options) : core_(std::make_shared<Core>(std::move(options))) {
  thread_ = std::thread([core = core_] { core->Run(); });
}

PipeServer::~PipeServer() {
  // The owner may be going already: its handler is not called again.
  core_->ownerGone_ = true;
  // The stop closes every instance, as an unplug does.
  const bool wasPlugged = plugged_.exchange(false);
  bool stopped = false;
  try {
    Post(std::make_shared<Request>(Request::Stop), true);
    stopped = true;
  } catch (...) {
  }
  if (wasPlugged && core_->options_.broadcast) BroadcastDeviceChange();
  if (stopped) {
    thread_.join();
  } else {
    // Held up in the handler: the thread keeps the core and stops when it is free.
    thread_.detach();
  }
}

void PipeServer::SetOutputHandler(OutputHandler handler) { core_->handler_ = std::move(handler); }

void PipeServer::Post(std::shared_ptr<Request> request, bool wait) {
  if (wait && std::this_thread::get_id() == thread_.get_id())
    throw Exception("The pipe server cannot wait for itself");
  {
    std::lock_guard lock(core_->requestsMutex_);
    core_->requests_.push_back(request);
  }
  PostQueuedCompletionStatus(core_->port_.Get(), 0, kWakeKey, nullptr);
  if (!wait) return;
  std::unique_lock lock(request->mutex);
  if (!request->doneChanged.wait_for(lock, std::chrono::milliseconds(kAnswerTimeoutMs),
                                     [&] { return request->done; }))
    throw Exception(Format("The pipe server did not answer in %lu ms", kAnswerTimeoutMs));
  if (!request->error.empty()) throw Exception(request->error);
}

void PipeServer::Plug() {
  if (plugged_) return;
  Post(std::make_shared<Request>(Request::Plug), true);
  plugged_ = true;
  if (core_->options_.broadcast) BroadcastDeviceChange();
}

void PipeServer::Unplug() {
  if (!plugged_) return;
  plugged_ = false;
  Post(std::make_shared<Request>(Request::Unplug), true);
  if (core_->options_.broadcast) BroadcastDeviceChange();
}

void PipeServer::BroadcastDeviceChange() {
  // Posted, not sent: a window that does not answer must not hold up the
  // instrument. DBT_DEVNODES_CHANGED carries no pointer, so posting is allowed.
  PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

void PipeServer::SendReport(const uint8_t (&report)[kReportSize]) { SendRaw(report, kReportSize); }

void PipeServer::SendReport(const Report& report) { SendRaw(report.data(), report.size()); }

void PipeServer::SendRaw(const void* bytes, size_t size) {
  auto request = std::make_shared<Request>(Request::Send);
  const auto* p = static_cast<const uint8_t*>(bytes);
  request->message = std::make_shared<const std::vector<uint8_t>>(p, p + size);
  Post(std::move(request), false);
}

std::optional<Report> PipeServer::WaitForOutputReport(Clock::time_point deadline) {
  return core_->outputs_.TakeNext(deadline);
}

void PipeServer::Core::RecordError(const std::string& text) {
  std::lock_guard lock(stateMutex_);
  lastError_ = text;
}

std::string PipeServer::LastError() const {
  std::lock_guard lock(core_->stateMutex_);
  return core_->lastError_;
}

std::vector<Report> PipeServer::OutputReports() const { return core_->outputs_.All(); }

size_t PipeServer::ClientCount() const { return core_->clientCount_; }

size_t PipeServer::SmallestBacklog() const { return core_->smallestBacklog_; }

uint64_t PipeServer::DroppedReports() const { return core_->dropped_; }

uint64_t PipeServer::IgnoredMessages() const { return core_->ignored_; }

std::vector<PipeServer::ClientStatistics> PipeServer::Clients() {
  auto request = std::make_shared<Request>(Request::Count);
  Post(request, true);
  return std::move(request->clients);
}

bool PipeServer::WaitForBacklogBelow(size_t limit, Clock::time_point deadline) const {
  std::unique_lock lock(core_->stateMutex_);
  return core_->stateChanged_.wait_until(lock, deadline, [&] { return core_->smallestBacklog_ < limit; });
}

bool PipeServer::WaitForClientCount(size_t count, Clock::time_point deadline) const {
  std::unique_lock lock(core_->stateMutex_);
  return core_->stateChanged_.wait_until(lock, deadline, [&] { return core_->clientCount_ == count; });
}

void PipeServer::Core::Run() {
  for (;;) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* ov = nullptr;
    // Without a listening instance no new client can come, and a closed
    // instance may wait too long for its operations: look again shortly.
    const bool closing = std::any_of(instances_.begin(), instances_.end(),
                                     [](const std::unique_ptr<Instance>& inst) { return inst->closing; });
    const DWORD timeout = (serving_ && !listener_) || closing ? 100 : INFINITE;
    const BOOL ok = GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &ov, timeout);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    try {
      if (!ov && !ok) {
        ListenIfRoom();
      } else if (!ov) {
        std::deque<std::shared_ptr<Request>> requests;
        {
          std::lock_guard lock(requestsMutex_);
          requests.swap(requests_);
        }
        for (auto& r : requests) Execute(*r);
      } else {
        Op* op = CONTAINING_RECORD(ov, Op, ov);
        op->pending = false;
        if (!op->inst->closing) Complete(op, ok, bytes, error);
      }
    } catch (const std::exception& e) {
      // A failed re-listen leaves the connected clients served and is tried
      // again; the owner can show why.
      RecordError(e.what());
    }
    ReleaseClosed();
    UpdateCounts();
    // The thread ends only when no operation can still write into an instance.
    if (stopRequest_ && instances_.empty()) {
      stopRequest_->Finish();
      return;
    }
  }
}

void PipeServer::Core::Complete(Op* op, bool ok, DWORD bytes, DWORD error) {
  Instance* inst = op->inst;
  switch (op->kind) {
    case Op::Connect:
      if (ok) {
        OnConnected(inst);
      } else {
        Close(inst);
        ListenIfRoom();
      }
      break;
    case Op::Read:
      OnRead(inst, ok, bytes, error);
      break;
    case Op::Write:
      inst->writing.reset();
      if (ok) {
        ++inst->delivered;
        StartWrite(inst);
      } else {
        Close(inst);
      }
      break;
  }
}

void PipeServer::Core::Execute(Request& r) {
  try {
    switch (r.kind) {
      case Request::Plug:
        serving_ = true;
        Listen();
        r.Finish();
        break;
      case Request::Unplug:
        serving_ = false;
        for (auto& inst : instances_) Close(inst.get());
        unplugWaiters_.push_back(r.shared_from_this());
        break;
      case Request::Send:
        for (auto& inst : instances_) Enqueue(inst.get(), r.message);
        break;
      case Request::Count:
        for (auto& inst : instances_)
          if (inst->connected && !inst->closing) r.clients.push_back({inst->delivered, inst->dropped});
        r.Finish();
        break;
      case Request::Stop:
        serving_ = false;
        for (auto& inst : instances_) Close(inst.get());
        stopRequest_ = r.shared_from_this();
        break;
    }
  } catch (const std::exception& e) {
    if (r.kind == Request::Plug) {
      serving_ = false;
      for (auto& inst : instances_) Close(inst.get());
    }
    r.Finish(e.what());
  }
}

void PipeServer::Core::Listen() {
  const std::string name = Narrow(options_.name);
  // Two servers under one name would split the clients between two instruments.
  // FILE_FLAG_FIRST_PIPE_INSTANCE refuses that on Windows; Wine ignores the flag,
  // so look first: a name that nobody serves is not found.
  if (instances_.empty() &&
      (WaitNamedPipeW(options_.name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND))
    throw Exception(Format("Pipe %s is already served", name.c_str()));
  auto inst = std::make_unique<Instance>();
  SECURITY_ATTRIBUTES security{sizeof security, security_.Get(), FALSE};
  const DWORD openMode =
      PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (instances_.empty() ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  inst->pipe.Reset(
      CreateNamedPipeW(options_.name.c_str(), openMode,
                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                       DWORD(kMaxClients), kPipeBufferSize, kPipeBufferSize, 0, &security));
  if (!inst->pipe) {
    const DWORD e = GetLastError();
    throw Exception(
        Format("Pipe %s cannot be made (error %lu: %s)", name.c_str(), e, SystemErrorText(e).c_str()));
  }
  if (!CreateIoCompletionPort(inst->pipe.Get(), port_.Get(), 0, 0)) {
    const DWORD e = GetLastError();
    throw Exception(Format("Pipe cannot be served (error %lu: %s)", e, SystemErrorText(e).c_str()));
  }
  Instance* raw = inst.get();
  instances_.push_back(std::move(inst));
  listener_ = raw;
  BOOL connected = ConnectNamedPipe(raw->pipe.Get(), &raw->connectOp.ov);
  // A client that opened and closed before we got here leaves the instance
  // to be disconnected and offered again.
  for (int i = 0; i < 8 && !connected && GetLastError() == ERROR_NO_DATA; ++i) {
    DisconnectNamedPipe(raw->pipe.Get());
    connected = ConnectNamedPipe(raw->pipe.Get(), &raw->connectOp.ov);
  }
  if (connected || GetLastError() == ERROR_IO_PENDING) {
    raw->connectOp.pending = true;
  } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
    OnConnected(raw);  // a client came between creation and connection
  } else {
    const DWORD e = GetLastError();
    Close(raw);
    throw Exception(Format("Pipe cannot wait for clients (error %lu: %s)", e, SystemErrorText(e).c_str()));
  }
}

// At the cap no instance listens, so the next client is refused at once; a place
// that comes free is offered again by the loop.
void PipeServer::Core::ListenIfRoom() {
  if (serving_ && !listener_ && instances_.size() < kMaxClients) Listen();
}

void PipeServer::Core::OnConnected(Instance* inst) {
  inst->connected = true;
  if (listener_ == inst) listener_ = nullptr;
  // The next listening instance first: a client that has already gone makes
  // the first read fail and closes this one, and the pipe must not vanish
  // with it.
  try {
    ListenIfRoom();
  } catch (const std::exception& e) {
    RecordError(e.what());  // the loop tries again; this client is served meanwhile
  }
  StartRead(inst);
}

void PipeServer::Core::StartRead(Instance* inst) {
  if (inst->closing) return;
  if (ReadFile(inst->pipe.Get(), inst->readBuffer, kReadBufferSize, nullptr, &inst->readOp.ov) ||
      GetLastError() == ERROR_IO_PENDING || GetLastError() == ERROR_MORE_DATA) {
    inst->readOp.pending = true;  // every outcome but an error arrives at the port
  } else {
    Close(inst);
  }
}

void PipeServer::Core::OnRead(Instance* inst, bool ok, DWORD bytes, DWORD error) {
  if (!ok && error == ERROR_MORE_DATA) {
    // Longer than any report: read the rest and drop the whole message.
    inst->oversize = true;
    StartRead(inst);
    return;
  }
  if (!ok) {
    Close(inst);  // the client went away
    return;
  }
  if (!inst->oversize && bytes == kReportSize) {
    Report r;
    std::memcpy(r.data(), inst->readBuffer, kReportSize);
    outputs_.Add(r);
    if (handler_ && !ownerGone_) {
      try {
        handler_(r);
      } catch (...) {
        // The owner's fault must not end the pipe for everyone.
      }
    }
  } else {
    ++ignored_;
  }
  inst->oversize = false;
  StartRead(inst);
}

void PipeServer::Core::Enqueue(Instance* inst, const std::shared_ptr<const std::vector<uint8_t>>& message) {
  if (!inst->connected || inst->closing) return;
  if (inst->writing) {
    inst->queue.push_back(message);
    if (inst->queue.size() > options_.clientQueueLimit) {
      inst->queue.pop_front();
      ++inst->dropped;
      ++dropped_;
    }
    return;
  }
  inst->queue.push_front(message);
  StartWrite(inst);
}

void PipeServer::Core::StartWrite(Instance* inst) {
  if (inst->closing || inst->queue.empty()) return;
  inst->writing = inst->queue.front();
  inst->queue.pop_front();
  if (WriteFile(inst->pipe.Get(), inst->writing->data(), DWORD(inst->writing->size()), nullptr,
                &inst->writeOp.ov) ||
      GetLastError() == ERROR_IO_PENDING) {
    inst->writeOp.pending = true;
  } else {
    inst->writing.reset();
    Close(inst);
  }
}

void PipeServer::Core::Close(Instance* inst) {
  if (inst->closing) return;
  inst->closing = true;
  inst->closedAt = GetTickCount64();
  if (listener_ == inst) listener_ = nullptr;
  inst->queue.clear();
  // Cancel first, then cut the client off: its reads fail at once, and the
  // cancelled operations still report to the port before the memory goes.
  CancelIoEx(inst->pipe.Get(), nullptr);
  DisconnectNamedPipe(inst->pipe.Get());
}

void PipeServer::Core::ReleaseClosed() {
  const ULONGLONG now = GetTickCount64();
  std::erase_if(instances_, [&](std::unique_ptr<Instance>& inst) {
    if (!inst->closing) return false;
    if (inst->Idle()) return true;
    if (now - inst->closedAt < kCloseTimeoutMs) return false;
    // An operation that still reports may write into the instance: it stays
    // allocated for good, its pipe closed.
    inst->pipe.Reset();
    static_cast<void>(inst.release());
    RecordError("An instance of the pipe was abandoned: its cancelled operations did not end");
    return true;
  });
  if (instances_.empty()) {
    for (auto& r : unplugWaiters_) r->Finish();
    unplugWaiters_.clear();
  }
}

void PipeServer::Core::UpdateCounts() {
  size_t clients = 0, smallest = SIZE_MAX;
  for (const auto& inst : instances_) {
    if (!inst->connected || inst->closing) continue;
    ++clients;
    smallest = std::min(smallest, inst->queue.size() + (inst->writing ? 1 : 0));
  }
  const size_t backlog = clients ? smallest : 0;
  if (clients != clientCount_ || backlog != smallestBacklog_) {
    {
      std::lock_guard lock(stateMutex_);
      clientCount_ = clients;
      smallestBacklog_ = backlog;
    }
    stateChanged_.notify_all();
  }
}

}  // namespace ts::sim
