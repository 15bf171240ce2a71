// The hand-over to the user interface thread and the device-change watch, with
// real windows and messages.

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "link/HidProduction.h"
#include "link/HidWin32Dispatcher.h"
#include "link/HidWin32Io.h"
#include "tests/windows/link/TestPipeServer.h"
#include "ui/WindowObject.h"

namespace ts::test {
namespace {

TEST(HidWin32Dispatcher, RunsSentCallsOnItsThreadAlsoWhileWaiting) {
  int reported = 0;
  THidWin32Dispatcher dispatcher([&](const std::exception&) { ++reported; });
  const DWORD uiThread = GetCurrentThreadId();
  std::unique_ptr<TUiSignal> ended = dispatcher.NewSignal();
  std::vector<DWORD> ranOn;
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) dispatcher.Send([&] { ranOn.push_back(GetCurrentThreadId()); });
    dispatcher.Send([] { throw std::runtime_error("handler failed"); });
    ended->Set();
  });
  // Nothing else pumps here: only the wait itself can serve the worker.
  dispatcher.WaitServing(*ended);
  worker.join();
  EXPECT_EQ(ranOn, std::vector<DWORD>(50, uiThread));
  EXPECT_EQ(reported, 1) << "an error in a handler is reported, not thrown across the callback";
  // From the user interface thread itself the call runs at once.
  bool ran = false;
  dispatcher.Send([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(HidWin32Dispatcher, AnErrorIsReportedOnlyOnceTheHandOverHasReturned) {
  // A modal box inside the hand-over would keep the reader waiting in it, and an
  // unplug waiting for the reader.
  TWinHandle returned(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::vector<bool> senderFree;
  THidWin32Dispatcher dispatcher([&](const std::exception&) {
    senderFree.push_back(WaitForSingleObject(returned.Get(), 5000) == WAIT_OBJECT_0);
  });
  std::unique_ptr<TUiSignal> ended = dispatcher.NewSignal();
  std::thread worker([&] {
    dispatcher.Send([] { throw std::runtime_error("handler failed"); });
    SetEvent(returned.Get());
    ended->Set();
  });
  dispatcher.WaitServing(*ended);
  worker.join();
  EXPECT_EQ(senderFree, std::vector<bool>({true}));
}

LRESULT CALLBACK PaintProbe(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(window, &ps);
    EndPaint(window, &ps);
    BoundObject<TUiSignal>(window)->Set();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(HidWin32Dispatcher, AWaitKeepsTheWindowsPainted) {
  THidWin32Dispatcher dispatcher;
  std::unique_ptr<TUiSignal> painted = dispatcher.NewSignal();
  WNDCLASSW wc = {};
  wc.lpfnWndProc = &PaintProbe;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TS4170.PaintProbe";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"", WS_POPUP, 0, 0, 40, 40, nullptr,
                                nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  BindObject(window, painted.get());
  ShowWindow(window, SW_SHOWNOACTIVATE);
  // Only the wait can paint here; a deadline ends it if it does not.
  TWinHandle deadline(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<bool> timedOut{false};
  std::thread watchdog([&] {
    if (WaitForSingleObject(deadline.Get(), 10000) == WAIT_TIMEOUT) {
      timedOut = true;
      painted->Set();
    }
  });
  dispatcher.WaitServing(*painted);
  SetEvent(deadline.Get());
  watchdog.join();
  EXPECT_FALSE(timedOut) << "the window was not painted while the thread waited";
  DestroyWindow(window);
}

TEST(HidWindowDeviceWatch, ActsOnceOnARunOfDeviceNodeChangesAndHearsBroadcasts) {
  THidWindowDeviceWatch watch;
  int changes = 0;
  watch.Start([&] { ++changes; });
  // Everything the window was sent or posted has been handled.
  auto drained = [&] {
    MSG waiting;
    return PumpUntil([&] { return !PeekMessageW(&waiting, watch.Handle(), 0, 0, PM_NOREMOVE); });
  };
  // Sent straight to the window, so other programs' broadcasts cannot mix in.
  SendMessageW(watch.Handle(), WM_DEVICECHANGE, 0x8000, 0);  // an arrival: not ours
  SendMessageW(watch.Handle(), WM_DEVICECHANGE, 0x0007, 0);
  ASSERT_TRUE(drained());
  EXPECT_EQ(changes, 1);
  // A flaky cable: every change waiting at once is one scan, not one each, so
  // the program's own messages (a key's click) are not held up behind them.
  for (int i = 0; i < 50; ++i) PostMessageW(watch.Handle(), WM_DEVICECHANGE, 0x0007, 0);
  ASSERT_TRUE(drained());
  EXPECT_EQ(changes, 2);
  // A top-level window: the broadcast that a server sends reaches it.
  PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, 0x0007, 0);
  ASSERT_TRUE(PumpUntil([&] { return changes >= 3; }));
  watch.Stop();
  const int before = changes;
  SendMessageW(watch.Handle(), WM_DEVICECHANGE, 0x0007, 0);
  ASSERT_TRUE(drained());
  EXPECT_EQ(changes, before);
}

struct ChangeCounter : TObject {
  int Changes = 0;
  void Change(TObject*) { ++Changes; }
};

TEST(CreateHidDeviceController, WiresTheProgramsControllerInOneCall) {
  // No application object here: the watch simply has nothing to hook.
  std::unique_ptr<THidDeviceController> controller = CreateHidDeviceController(nullptr);
  ChangeCounter counter;
  controller->SetDevThreadSleepTime(10);
  controller->SetOnDeviceChange(Bind(&counter, &ChangeCounter::Change));
  EXPECT_EQ(counter.Changes, 1);
  EXPECT_TRUE(controller->DeviceChangeReported());
  for (THidDevice* device : controller->DeviceList()) EXPECT_EQ(device->HidFileHandle(), kNoHidHandle);
}

}  // namespace
}  // namespace ts::test
