#include "link/HidWin32Io.h"

namespace ts {

bool BoundedWrite(HANDLE handle, const uint8_t* buffer, uint32_t length, uint32_t& written, DWORD timeoutMs) {
  written = 0;
  TWinHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event.Get()) return false;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = event.Get();
  if (!WriteFile(handle, buffer, length, nullptr, &overlapped)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(event.Get(), timeoutMs) != WAIT_OBJECT_0) {
      // The buffer belongs to the caller: the write must be over before we go.
      CancelIo(handle);
      DWORD ignored = 0;
      GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
  }
  DWORD transferred = 0;
  if (!GetOverlappedResult(handle, &overlapped, &transferred, TRUE)) return false;
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

void TOverlappedReadRequest::Cancel() {
  if (!outstanding_) return;
  // Only the issuing thread's CancelIo reaches this read; it must be over
  // before the buffer or the handle may go.
  CancelIo(handle_);
  DWORD ignored = 0;
  GetOverlappedResult(handle_, &overlapped_, &ignored, TRUE);
  outstanding_ = false;
}

void TOverlappedReadRequest::Pause(int32_t milliseconds) { SleepEx(static_cast<DWORD>(milliseconds), TRUE); }

}  // namespace ts
