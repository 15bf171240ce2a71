#pragma once
// The user interface thread's side of the HID layer on Win32: the hand-over of
// read-thread calls (SendMessage to a window of that thread) and the watch for
// WM_DEVICECHANGE / DBT_DEVNODES_CHANGED.

#include <windows.h>

#include <deque>
#include <exception>
#include <functional>
#include <string>

#include "link/HidBinding.h"
#include "ui/ErrorReport.h"

namespace ts {

// What a handler run from a window procedure threw; never crosses the callback.
// Tests take it over; by default it goes the program's one way to the user.
using TErrorReporter = std::function<void(const std::exception& error)>;

// Create on the user interface thread; it serves calls there.
class THidWin32Dispatcher : public TUiDispatcher {
 public:
  explicit THidWin32Dispatcher(TErrorReporter reporter = ReportException);
  ~THidWin32Dispatcher() override;
  THidWin32Dispatcher(const THidWin32Dispatcher&) = delete;
  THidWin32Dispatcher& operator=(const THidWin32Dispatcher&) = delete;

  void Send(const std::function<void()>& call) override;
  void Post(std::function<void()> call) override;
  std::unique_ptr<TUiSignal> NewSignal() override;
  void WaitServing(TUiSignal& signal) override;

 private:
  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ReportAfterHandOver(std::string text);

  static constexpr size_t kMaxQueuedReports = 8;

  TErrorReporter reporter_;
  DWORD threadId_;
  HWND window_ = nullptr;
  // Texts of handler errors waiting for their box, the one shown first.
  std::deque<std::string> reported_;
  bool reporting_ = false;
};

// Watches with a hidden top-level window of its own (message-only windows get
// no broadcasts). Create on the user interface thread.
class THidWindowDeviceWatch : public TDeviceChangeWatch {
 public:
  explicit THidWindowDeviceWatch(TErrorReporter reporter = ReportException);
  ~THidWindowDeviceWatch() override;
  THidWindowDeviceWatch(const THidWindowDeviceWatch&) = delete;
  THidWindowDeviceWatch& operator=(const THidWindowDeviceWatch&) = delete;

  void Start(std::function<void()> onChange) override;
  void Stop() override;
  HWND Handle() const { return window_; }

 private:
  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  static constexpr UINT kScanMessage = WM_APP + 1;
  TErrorReporter reporter_;
  std::function<void()> onChange_;
  HWND window_ = nullptr;
  bool scanPosted_ = false;
};

// True for the one message that means devices came or went.
inline bool IsDeviceNodesChange(UINT message, WPARAM wParam) {
  return message == WM_DEVICECHANGE && wParam == 0x0007;  // DBT_DEVNODES_CHANGED
}

}  // namespace ts
