#include "link/HidWin32Dispatcher.h"

#include "ui/WindowClass.h"

#include <optional>
#include <stdexcept>
#include <string>

#include "ui/PathCounters.h"
#include "ui/WinHandle.h"
#include "ui/WindowObject.h"

namespace ts {

namespace {

constexpr UINT kCallMessage = WM_APP + 0x41;
constexpr UINT kPostedCallMessage = WM_APP + 0x42;
constexpr int kMaxPaintsPerPass = 64;
constexpr wchar_t kDispatcherClass[] = L"TS4170.HidDispatcher";
constexpr wchar_t kWatchClass[] = L"TS4170.HidDeviceWatch";

void Guard(const TErrorReporter& reporter, const std::function<void()>& body) {
  GuardedTo(
      [&](const std::exception& error) {
        if (reporter) reporter(error);
      },
      body);
}

class TEventSignal : public TUiSignal {
 public:
  TEventSignal() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  void Set() override { SetEvent(event_.Get()); }
  HANDLE Handle() const { return event_.Get(); }

 private:
  TWinHandle event_;
};

}  // namespace

// ---------------------------------------------------------------------------

THidWin32Dispatcher::THidWin32Dispatcher(TErrorReporter reporter)
    : reporter_(std::move(reporter)), threadId_(GetCurrentThreadId()) {
  RegisterWindowClass(kDispatcherClass, &ObjectWindowProc<THidWin32Dispatcher>);
  window_ = CreateWindowExW(0, kDispatcherClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), this);
}

THidWin32Dispatcher::~THidWin32Dispatcher() {
  if (!window_) return;
  // Calls posted and not run yet own their function objects.
  MSG message;
  while (PeekMessageW(&message, window_, kPostedCallMessage, kPostedCallMessage, PM_REMOVE)) {
    std::unique_ptr<std::function<void()>>(reinterpret_cast<std::function<void()>*>(message.lParam));
  }
  DestroyWindow(window_);
}

void THidWin32Dispatcher::Send(const std::function<void()>& call) {
  if (GetCurrentThreadId() == threadId_) {
    Guard(reporter_, call);
    return;
  }
  SendMessageW(window_, kCallMessage, 0, reinterpret_cast<LPARAM>(&call));
  CountPath(PathCounters.HandOvers);
}

void THidWin32Dispatcher::Post(std::function<void()> call) {
  auto owned = std::make_unique<std::function<void()>>(std::move(call));
  if (PostMessageW(window_, kPostedCallMessage, 0, reinterpret_cast<LPARAM>(owned.get()))) owned.release();
}

void THidWin32Dispatcher::ReportAfterHandOver(std::string text) {
  // Hand-overs go on while a box is open and may fail the same way each time:
  // one box per distinct text, one after the other.
  if (!reported_.empty() && reported_.back() == text) return;
  if (reported_.size() >= kMaxQueuedReports) return;
  reported_.push_back(std::move(text));
  if (reporting_) return;
  reporting_ = true;
  while (!reported_.empty()) {
    const std::runtime_error error(reported_.front());
    GuardedTo([](const std::exception&) {},
              [&] {
                if (reporter_) reporter_(error);
              });
    reported_.pop_front();
  }
  reporting_ = false;
}

std::unique_ptr<TUiSignal> THidWin32Dispatcher::NewSignal() { return std::make_unique<TEventSignal>(); }

void THidWin32Dispatcher::WaitServing(TUiSignal& signal) {
  HANDLE event = static_cast<TEventSignal&>(signal).Handle();
  for (;;) {
    // Serve what was sent before we looked: the wait below reports only what
    // arrives afterwards.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    // Paint as well, so that windows do not look hung while a write or a stop
    // lasts; bounded, in case a window never validates itself.
    for (int i = 0; i < kMaxPaintsPerPass && PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);
         ++i) {
      DispatchMessageW(&message);
    }
    const DWORD result = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_SENDMESSAGE | QS_PAINT);
    if (result == WAIT_OBJECT_0) return;
    if (result == WAIT_FAILED && WaitForSingleObject(event, 10) == WAIT_OBJECT_0) return;
  }
}

LRESULT THidWin32Dispatcher::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kCallMessage) {
    std::optional<std::string> failure = FailureOf(*reinterpret_cast<const std::function<void()>*>(lParam));
    if (!failure) return 0;
    // The sender goes on before anything modal opens: a box inside the
    // hand-over would hold the reader, and an unplug waiting for it.
    ReplyMessage(0);
    ReportAfterHandOver(std::move(*failure));
    return 0;
  }
  if (message == kPostedCallMessage) {
    const std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()>*>(lParam));
    Guard(reporter_, *call);
    return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

// ---------------------------------------------------------------------------

THidWindowDeviceWatch::THidWindowDeviceWatch(TErrorReporter reporter) : reporter_(std::move(reporter)) {
  RegisterWindowClass(kWatchClass, &ObjectWindowProc<THidWindowDeviceWatch>);
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kWatchClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
}

THidWindowDeviceWatch::~THidWindowDeviceWatch() {
  onChange_ = nullptr;
  if (window_) DestroyWindow(window_);
}

void THidWindowDeviceWatch::Start(std::function<void()> onChange) { onChange_ = std::move(onChange); }

void THidWindowDeviceWatch::Stop() { onChange_ = nullptr; }

// Each change is not a scan of its own: the first one posts a scan behind every
// change already waiting, and those that come before it runs join it. A cable
// that flickers a hundred times would otherwise queue a hundred scans on the
// user-interface thread, and a key clicked meanwhile would wait behind them.
LRESULT THidWindowDeviceWatch::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (IsDeviceNodesChange(message, wParam) && onChange_ && !scanPosted_)
    scanPosted_ = PostMessageW(window_, kScanMessage, 0, 0) != FALSE;
  if (message == kScanMessage) {
    scanPosted_ = false;
    if (onChange_) {
      const std::function<void()> onChange = onChange_;
      Guard(reporter_, onChange);
    }
    return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace ts
