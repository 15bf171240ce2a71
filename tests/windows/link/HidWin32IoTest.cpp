// The overlapped read's stop against a real pipe: a read whose cancel never
// takes must not hold the thread that stops it for ever.

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <thread>

#include "link/HidWin32Io.h"

namespace ts::test {
namespace {

struct CancelRun {
  TOverlappedReadRequest* Request;
  bool Ended = false;
};

DWORD WINAPI CancelFromHere(void* parameter) {
  auto* run = static_cast<CancelRun*>(parameter);
  run->Request->Cancel();
  run->Ended = true;
  return 0;
}

TEST(TOverlappedReadRequest, ACancelThatNeverTakesIsGivenUpWithinItsBound) {
  const wchar_t* name = L"\\\\.\\pipe\\TS4170.CancelTest";
  TWinHandle server(CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 65, 65, 0, nullptr));
  ASSERT_NE(server.Get(), INVALID_HANDLE_VALUE);
  TWinHandle client(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
  ASSERT_NE(client.Get(), INVALID_HANDLE_VALUE);

  // The read is this thread's; a cancel from another thread does not reach it,
  // as the cancel of a driver that ignores cancellation would not.
  auto request = std::make_unique<TOverlappedReadRequest>();
  static uint8_t buffer[65];
  uint32_t error = 0;
  ASSERT_TRUE(request->Start(FromWinHandle(client.Get()), buffer, sizeof buffer, error));
  CancelRun run{request.get()};
  TWinHandle canceller(CreateThread(nullptr, 0, &CancelFromHere, &run, 0, nullptr));
  const bool ended = WaitForSingleObject(canceller.Get(), 20000) == WAIT_OBJECT_0;
  if (!ended) TerminateThread(canceller.Get(), 1);  // what a hang leaves behind
  EXPECT_TRUE(ended) << "the cancel waited for ever";
  // Given up, the read may still complete into the request and the buffer:
  // both stay allocated for good, as the reader keeps them.
  (void)request.release();
  server.Reset();
  client.Reset();
}

}  // namespace
}  // namespace ts::test
