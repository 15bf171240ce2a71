#pragma once
// A plain client of the instrument's pipe, as the program's HID layer opens it:
// CreateFile on the pipe's name, message read mode, overlapped reads with a
// deadline so a missing report fails a test instead of hanging it.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace ts::sim {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Only a bound for failures: generous, as the machine may be busy with other tests.
inline Clock::time_point Deadline() { return Clock::now() + 30s; }

// A distinct name per test, so tests never meet another server on the machine.
inline std::wstring UniqueName() {
  static int n = 0;
  return L"\\\\.\\pipe\\TS4170-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++n);
}

class Client {
 public:
  explicit Client(const std::wstring& name, bool waitWhileBusy = true) {
    const auto deadline = Deadline();
    for (;;) {
      pipe_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
      if (pipe_ != INVALID_HANDLE_VALUE) break;
      error_ = GetLastError();
      // Between one client's connection and the next listening instance the
      // pipe is busy for a moment; a real client waits the same way.
      if (!waitWhileBusy || error_ != ERROR_PIPE_BUSY || Clock::now() > deadline) return;
      WaitNamedPipeW(name.c_str(), 100);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~Client() {
    if (pipe_ != INVALID_HANDLE_VALUE) {
      if (pending_) {
        CancelIoEx(pipe_, nullptr);
        DWORD n;
        GetOverlappedResult(pipe_, &ov_, &n, TRUE);
      }
      CloseHandle(pipe_);
    }
    if (event_) CloseHandle(event_);
  }
  bool Open() const { return pipe_ != INVALID_HANDLE_VALUE; }
  HANDLE Handle() const { return pipe_; }
  DWORD OpenError() const { return error_; }

  struct Read {
    bool ok;
    DWORD error;
    std::vector<uint8_t> bytes;
  };
  // One message, or nothing when none comes before `deadline`.
  std::optional<Read> ReadMessage(Clock::time_point deadline) {
    if (!pending_) {
      ov_ = {};
      ov_.hEvent = event_;
      if (ReadFile(pipe_, buffer_, sizeof buffer_, nullptr, &ov_)) return Finish();
      if (GetLastError() != ERROR_IO_PENDING) return Read{false, GetLastError(), {}};  // no I/O started
      pending_ = true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (WaitForSingleObject(event_, DWORD(std::max<long long>(left, 0))) != WAIT_OBJECT_0)
      return std::nullopt;
    pending_ = false;
    return Finish();
  }

  bool Write(const void* bytes, size_t size) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    BOOL ok = WriteFile(pipe_, bytes, DWORD(size), nullptr, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(pipe_, &ov, &n, TRUE);
    CloseHandle(ov.hEvent);
    return ok;
  }

 private:
  Read Finish() {
    DWORD n = 0;
    const BOOL ok = GetOverlappedResult(pipe_, &ov_, &n, FALSE);
    return Read{bool(ok), ok ? 0 : GetLastError(), std::vector<uint8_t>(buffer_, buffer_ + n)};
  }

  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  DWORD error_ = 0;
  OVERLAPPED ov_{};
  bool pending_ = false;
  uint8_t buffer_[4096];
};

}  // namespace ts::sim
