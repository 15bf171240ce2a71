#include "link/HidWin32Io.h"

#include <memory>
#include <vector>

namespace ts {

namespace {

// One write's OVERLAPPED, event and bytes: a write whose cancel does not take
// may still complete into them, so such a write leaves them allocated.
struct TWriteBlock {
  OVERLAPPED Overlapped = {};
  TWinHandle Event;
  std::vector<uint8_t> Bytes;
};

}  // namespace

bool BoundedWrite(HANDLE handle, const uint8_t* buffer, uint32_t length, uint32_t& written, DWORD timeoutMs) {
  written = 0;
  auto block = std::make_unique<TWriteBlock>();
  block->Event = TWinHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!block->Event.Get()) return false;
  block->Bytes.assign(buffer, buffer + length);
  block->Overlapped.hEvent = block->Event.Get();
  if (!WriteFile(handle, block->Bytes.data(), length, nullptr, &block->Overlapped)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(block->Event.Get(), timeoutMs) != WAIT_OBJECT_0) {
      CancelIo(handle);
      if (WaitForSingleObject(block->Event.Get(), kCancelTimeoutMs) != WAIT_OBJECT_0) {
        static_cast<void>(block.release());  // given up, never waited on again
      }
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
  }
  DWORD transferred = 0;
  if (!GetOverlappedResult(handle, &block->Overlapped, &transferred, FALSE)) return false;
  written = transferred;
  return true;
}

TOverlappedReadRequest::~TOverlappedReadRequest() { Cancel(); }

bool TOverlappedReadRequest::Start(THidHandle handle, uint8_t* buffer, uint32_t length, uint32_t& error) {
  overlapped_ = {};
  overlapped_.hEvent = event_.Get();
  handle_ = ToWinHandle(handle);
  if (!event_.Get()) {
    error = GetLastError();
    return false;
  }
  if (ReadFile(handle_, buffer, length, nullptr, &overlapped_)) return true;
  error = GetLastError();
  if (error != ERROR_IO_PENDING) return false;
  outstanding_ = true;
  return true;
}

bool TOverlappedReadRequest::Wait(int32_t milliseconds) {
  if (outstanding_ && WaitForSingleObject(event_.Get(), static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0)
    outstanding_ = false;
  return !outstanding_;
}

uint32_t TOverlappedReadRequest::Completion(DWORD& error) {
  DWORD transferred = 0;
  error = GetOverlappedResult(handle_, &overlapped_, &transferred, FALSE) ? 0 : GetLastError();
  return transferred;
}

uint32_t TOverlappedReadRequest::Result() {
  DWORD error = 0;
  const uint32_t transferred = Completion(error);
  return error == 0 ? transferred : 0;
}

uint32_t TOverlappedReadRequest::Error() {
  DWORD error = 0;
  Completion(error);
  // A message longer than a report is dropped by the pipe binding, not an error.
  return error == ERROR_MORE_DATA ? 0 : error;
}

bool TOverlappedReadRequest::Cancel() {
  if (!outstanding_) return true;
  // Only the issuing thread's CancelIo reaches this read; it must be over before
  // the buffer or the handle may go. A driver that ignores the cancel must not
  // hold this thread for ever.
  CancelIo(handle_);
  if (WaitForSingleObject(event_.Get(), kCancelTimeoutMs) != WAIT_OBJECT_0) return false;
  outstanding_ = false;
  return true;
}

void TOverlappedReadRequest::Pause(int32_t milliseconds) { SleepEx(static_cast<DWORD>(milliseconds), TRUE); }

}  // namespace ts
