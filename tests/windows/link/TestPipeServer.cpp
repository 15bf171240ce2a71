#include "tests/windows/link/TestPipeServer.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

namespace ts::test {

namespace {

constexpr DWORD kOutBufferSize = 65 * 64;
// A client whose queue is full loses the report rather than stall the server,
// as the instrument's own server does.
constexpr DWORD kSendTimeoutMs = 20;
constexpr DWORD kPlugTimeoutMs = 10000;

// Waits for an overlapped operation or the stop event; a stop cancels it and
// waits until it is over. Answers whether it completed with success.
bool Await(HANDLE pipe, OVERLAPPED& overlapped, HANDLE stop, DWORD& transferred, DWORD& error) {
  HANDLE events[2] = {overlapped.hEvent, stop};
  if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
    error = ERROR_OPERATION_ABORTED;
    return false;
  }
  const BOOL ok = GetOverlappedResult(pipe, &overlapped, &transferred, FALSE);
  error = ok ? 0 : GetLastError();
  return ok;
}

// Owned by `owner` (the current user when empty), open to the current user and
// SYSTEM. Error() names what failed, empty when it was made.
struct PipeSecurity {
  SECURITY_ATTRIBUTES Attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  std::string Error;
  explicit PipeSecurity(const std::string& owner) {
    HANDLE token = nullptr;
    BYTE buffer[256];
    DWORD size = 0;
    char* me = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
        !GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &me)) {
      Error = "the user's SID, error " + std::to_string(GetLastError());
    }
    if (token) CloseHandle(token);
    const std::string user = me ? me : "";
    LocalFree(me);
    const std::string text = "O:" + (owner.empty() ? user : owner) + "D:P(A;;FA;;;" + user + ")(A;;FA;;;SY)";
    if (Error.empty() && !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                             text.c_str(), SDDL_REVISION_1, &Attributes.lpSecurityDescriptor, nullptr))
      Error = "the security descriptor " + text + ", error " + std::to_string(GetLastError());
  }
  ~PipeSecurity() { LocalFree(Attributes.lpSecurityDescriptor); }
};

}  // namespace

std::string TestPipeName(const char* suffix) {
  return R"(\\.\pipe\TS4170-test-)" + std::to_string(GetCurrentProcessId()) + "-" + suffix;
}

TestPipeServer::TestPipeServer(std::string name, bool reads, DWORD inBufferSize)
    : name_(std::move(name)),
      reads_(reads),
      inBufferSize_(inBufferSize),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      listening_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

TestPipeServer::~TestPipeServer() {
  Unplug();
  CloseHandle(stop_);
  CloseHandle(listening_);
}

void TestPipeServer::Plug() {
  Unplug();
  ResetEvent(stop_);
  ResetEvent(listening_);
  {
    std::lock_guard lock(mutex_);
    setupError_.clear();
  }
  acceptor_ = std::thread([this] { AcceptLoop(); });
  if (WaitForSingleObject(listening_, kPlugTimeoutMs) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the test server " << name_ << " did not listen within " << kPlugTimeoutMs << " ms";
    return;
  }
  std::lock_guard lock(mutex_);
  if (!setupError_.empty()) ADD_FAILURE() << "the test server " << name_ << " failed: " << setupError_;
}

void TestPipeServer::Unplug() {
  SetEvent(stop_);
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::unique_ptr<Client>> clients;
  {
    std::lock_guard lock(mutex_);
    clients.swap(clients_);
  }
  for (auto& client : clients) {
    if (client->Thread.joinable()) client->Thread.join();
    CloseHandle(client->Pipe);
  }
}

bool TestPipeServer::Listening() const { return listens_; }

// As the instrument's own server: the next instance is made before a connected
// one is served, and an instance whose client left before being served is used
// again, so the name never goes missing while plugged in.
void TestPipeServer::AcceptLoop() {
  const auto fail = [this](const std::string& what) {
    {
      std::lock_guard lock(mutex_);
      setupError_ = what;
    }
    SetEvent(listening_);
  };
  PipeSecurity security(Owner);
  if (!security.Error.empty()) return fail(security.Error);
  const auto newInstance = [&] {
    return CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                            kOutBufferSize, inBufferSize_, 0, &security.Attributes);
  };
  HANDLE pipe = newInstance();
  if (pipe == INVALID_HANDLE_VALUE) return fail("CreateNamedPipe, error " + std::to_string(GetLastError()));
  HANDLE connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (;;) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = connected;
    ResetEvent(connected);
    bool ok = ConnectNamedPipe(pipe, &overlapped) != FALSE;
    const DWORD connectError = ok ? 0 : GetLastError();
    if (connectError == ERROR_PIPE_CONNECTED) {
      ok = true;
    } else if (connectError == ERROR_IO_PENDING) {
      listens_ = true;
      SetEvent(listening_);
      DWORD transferred = 0, error = 0;
      ok = Await(pipe, overlapped, stop_, transferred, error);
      listens_ = false;
      if (error == ERROR_OPERATION_ABORTED) break;
    }
    if (!ok && connectError != ERROR_IO_PENDING && connectError != ERROR_NO_DATA) {
      fail("ConnectNamedPipe, error " + std::to_string(connectError));
      break;
    }
    if (!ok) {
      // The client left before it was served: the same instance listens again.
      DisconnectNamedPipe(pipe);
      continue;
    }
    HANDLE next = newInstance();
    {
      std::lock_guard lock(mutex_);
      auto client = std::make_unique<Client>();
      client->Pipe = pipe;
      Client& ref = *client;
      client->Thread = std::thread([this, &ref] { ClientLoop(ref); });
      clients_.push_back(std::move(client));
    }
    pipe = next;
    if (pipe == INVALID_HANDLE_VALUE) {
      fail("CreateNamedPipe for the next client, error " + std::to_string(GetLastError()));
      break;
    }
  }
  if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  CloseHandle(connected);
}

void TestPipeServer::ClientLoop(Client& client) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!reads_) {
    WaitForSingleObject(stop_, INFINITE);
  } else {
    for (;;) {
      uint8_t buffer[1024];
      OVERLAPPED overlapped = {};
      overlapped.hEvent = event;
      ResetEvent(event);
      DWORD transferred = 0, error = 0;
      bool ok = ReadFile(client.Pipe, buffer, sizeof buffer, &transferred, &overlapped) != FALSE;
      if (!ok && GetLastError() == ERROR_IO_PENDING) {
        ok = Await(client.Pipe, overlapped, stop_, transferred, error);
      } else if (ok) {
        GetOverlappedResult(client.Pipe, &overlapped, &transferred, FALSE);
      }
      if (!ok) break;  // stopped, or the client went
      std::lock_guard lock(mutex_);
      received_.emplace_back(buffer, buffer + transferred);
    }
  }
  // The handle stays open until Unplug, so Send never writes to a closed one.
  client.Alive = false;
  CloseHandle(event);
}

int TestPipeServer::Send(const std::vector<uint8_t>& message) {
  std::vector<HANDLE> pipes;
  {
    std::lock_guard lock(mutex_);
    for (auto& client : clients_) {
      if (client->Alive) pipes.push_back(client->Pipe);
    }
  }
  int reached = 0;
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (HANDLE pipe : pipes) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    ResetEvent(event);
    DWORD transferred = 0;
    BOOL ok = WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(event, kSendTimeoutMs) != WAIT_OBJECT_0) CancelIo(pipe);
      ok = GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
    }
    if (ok) ++reached;
  }
  CloseHandle(event);
  return reached;
}

int TestPipeServer::Clients() {
  std::lock_guard lock(mutex_);
  int alive = 0;
  for (auto& client : clients_) alive += client->Alive ? 1 : 0;
  return alive;
}

std::vector<std::vector<uint8_t>> TestPipeServer::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

}  // namespace ts::test
