#pragma once
// Overlapped I/O shared by the Win32 and the virtual-instrument bindings: the
// read thread's read and the bounded write.

#include <windows.h>

#include <cstdint>

#include "link/HidBinding.h"
#include "ui/WinHandle.h"

namespace ts {

inline HANDLE ToWinHandle(THidHandle handle) {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
}
inline THidHandle FromWinHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoHidHandle
                                        : static_cast<THidHandle>(reinterpret_cast<uintptr_t>(handle));
}

// How long a write may take before it is given up: a device that stops taking
// reports must not freeze the user interface thread for ever.
inline constexpr DWORD kWriteTimeoutMs = 3000;
// How long a cancelled read or write may take to end before it is given up.
inline constexpr DWORD kCancelTimeoutMs = 1000;

// Writes length bytes on an overlapped handle and waits at most timeoutMs;
// a write still pending then is cancelled, waited for within its own bound,
// and answered false.
bool BoundedWrite(HANDLE handle, const uint8_t* buffer, uint32_t length, uint32_t& written,
                  DWORD timeoutMs = kWriteTimeoutMs);

// An overlapped ReadFile with an event of its own; the read thread waits on the
// event in slices. A read the data already waits for completes within ReadFile,
// with no completion routine to deliver: under Wine each delivery costs server
// round trips, at a thousand reports a second.
class TOverlappedReadRequest : public THidReadRequest {
 public:
  ~TOverlappedReadRequest() override;
  bool Start(THidHandle handle, uint8_t* buffer, uint32_t length, uint32_t& error) override;
  bool Wait(int32_t milliseconds) override;
  uint32_t Result() override;
  uint32_t Error() override;
  bool Cancel() override;
  void Pause(int32_t milliseconds) override;

 protected:
  HANDLE Handle() const { return handle_; }
  // Bytes transferred by the completed read and its error (0 when it succeeded).
  uint32_t Completion(DWORD& error);

 private:
  OVERLAPPED overlapped_ = {};
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  TWinHandle event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  bool outstanding_ = false;
};

}  // namespace ts
