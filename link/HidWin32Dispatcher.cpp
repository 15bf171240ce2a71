#include "link/HidWin32Dispatcher.h"

#include <stdexcept>
#include <string>

#include "ui/Cp1251.h"
#include "ui/PathCounters.h"

namespace ts {

namespace {

constexpr UINT kCallMessage = WM_APP + 0x41;
constexpr wchar_t kDispatcherClass[] = L"TS4170.HidDispatcher";
constexpr wchar_t kWatchClass[] = L"TS4170.HidDeviceWatch";

void RegisterOnce(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW existing = {};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), name, &existing)) return;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

template <class T>
T* ObjectOf(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* object = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    return object;
  }
  return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void Guard(const TErrorReporter& reporter, const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& error) {
    if (reporter) reporter(error);
  } catch (...) {
    if (reporter) reporter(std::runtime_error("unknown error"));
  }
}

class TEventSignal : public TUiSignal {
 public:
  TEventSignal() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~TEventSignal() override { CloseHandle(event_); }
  TEventSignal(const TEventSignal&) = delete;
  TEventSignal& operator=(const TEventSignal&) = delete;
  void Set() override { SetEvent(event_); }
  HANDLE Handle() const { return event_; }

 private:
  HANDLE event_;
};

}  // namespace

void ShowErrorBox(const std::exception& error) {
  const std::u16string text = Utf8ToUtf16(error.what());
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()), L"Virtual_TS4170",
              MB_OK | MB_ICONERROR);
}

// ---------------------------------------------------------------------------

THidWin32Dispatcher::THidWin32Dispatcher(TErrorReporter reporter)
    : reporter_(std::move(reporter)), threadId_(GetCurrentThreadId()) {
  RegisterOnce(kDispatcherClass, &WindowProc);
  window_ = CreateWindowExW(0, kDispatcherClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), this);
}

THidWin32Dispatcher::~THidWin32Dispatcher() {
  if (window_) DestroyWindow(window_);
}

void THidWin32Dispatcher::Send(const std::function<void()>& call) {
  if (GetCurrentThreadId() == threadId_) {
    Guard(reporter_, call);
    return;
  }
  SendMessageW(window_, kCallMessage, 0, reinterpret_cast<LPARAM>(&call));
  CountPath(PathCounters.HandOvers);
}

std::unique_ptr<TUiSignal> THidWin32Dispatcher::NewSignal() { return std::make_unique<TEventSignal>(); }

void THidWin32Dispatcher::WaitServing(TUiSignal& signal) {
  HANDLE event = static_cast<TEventSignal&>(signal).Handle();
  for (;;) {
    // Serve what was sent before we looked: the wait below reports only what
    // arrives afterwards.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    const DWORD result = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0) return;
    if (result == WAIT_FAILED && WaitForSingleObject(event, 10) == WAIT_OBJECT_0) return;
  }
}

LRESULT CALLBACK THidWin32Dispatcher::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = ObjectOf<THidWin32Dispatcher>(window, message, lParam);
  if (message == kCallMessage && self) {
    Guard(self->reporter_, *reinterpret_cast<const std::function<void()>*>(lParam));
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// ---------------------------------------------------------------------------

THidWindowDeviceWatch::THidWindowDeviceWatch(TErrorReporter reporter) : reporter_(std::move(reporter)) {
  RegisterOnce(kWatchClass, &WindowProc);
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kWatchClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleW(nullptr), this);
}

THidWindowDeviceWatch::~THidWindowDeviceWatch() {
  onChange_ = nullptr;
  if (window_) DestroyWindow(window_);
}

void THidWindowDeviceWatch::Start(std::function<void()> onChange) { onChange_ = std::move(onChange); }

void THidWindowDeviceWatch::Stop() { onChange_ = nullptr; }

LRESULT CALLBACK THidWindowDeviceWatch::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = ObjectOf<THidWindowDeviceWatch>(window, message, lParam);
  if (self && IsDeviceNodesChange(message, wParam) && self->onChange_) {
    const std::function<void()> onChange = self->onChange_;
    Guard(self->reporter_, onChange);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace ts
