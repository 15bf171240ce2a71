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
  overlapped_.hEvent = this;  // ReadFileEx leaves hEvent to the caller
  handle_ = ToWinHandle(handle);
  if (!ReadFileEx(handle_, buffer, length, &overlapped_, &Completed)) {
    error = GetLastError();
    return false;
  }
  outstanding_ = true;
  return true;
}

VOID CALLBACK TOverlappedReadRequest::Completed(DWORD, DWORD, LPOVERLAPPED overlapped) {
  static_cast<TOverlappedReadRequest*>(overlapped->hEvent)->outstanding_ = false;
}

bool TOverlappedReadRequest::Wait(int32_t milliseconds) {
  if (outstanding_) SleepEx(static_cast<DWORD>(milliseconds), TRUE);
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

void TOverlappedReadRequest::Cancel() {
  if (!outstanding_) return;
  // Only the issuing thread's CancelIo reaches this read; the completion
  // routine must have run before the buffer or the handle may go.
  CancelIo(handle_);
  while (outstanding_) SleepEx(INFINITE, TRUE);
}

void TOverlappedReadRequest::Pause(int32_t milliseconds) { SleepEx(static_cast<DWORD>(milliseconds), TRUE); }

}  // namespace ts
