#pragma once
// The playback window: a recording shown through the link and the mirror as if
// it were the instrument, with play, pause, speed, a position slider and a
// frame step. While it is open the keypad sends nothing; closing it gives the
// screen back to the instrument.

#include <windows.h>

#include <memory>
#include <string>

#include <atomic>
#include <thread>

#include "link/HidBinding.h"
#include "record/FrameIntegrity.h"
#include "record/RecordingBinding.h"
#include "ui/Bound.h"

namespace ts {

class TPlaybackWindow : public TObject {
 public:
  using TReportEvent = TMethod<void(const uint8_t* data, uint16_t size)>;
  // Opens the window; `onReport` receives each played report on the user
  // interface thread, `onEnded` runs once the window has closed.
  TPlaybackWindow(HWND owner, const std::wstring& fileName, std::shared_ptr<const std::vector<uint8_t>> file,
                  TReportEvent onReport, TNotifyEvent onEnded);
  ~TPlaybackWindow() override;
  HWND Handle() const { return hwnd_; }
  bool Open() const { return reading_; }
  TPlayback& Playback() { return *playback_; }
  const TFrameIntegrity& Integrity() const { return integrity_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControls();
  void Refresh();
  void End();
  // The read thread: the binding's read request, each report handed to the
  // user interface thread as the link's read thread hands a live one. (The
  // program may hold only one device controller, and it is the link's.)
  void Read();

  HWND hwnd_ = nullptr, playButton_ = nullptr, slider_ = nullptr, time_ = nullptr, integrityText_ = nullptr;
  std::wstring fileName_;
  std::shared_ptr<TPlayback> playback_;
  std::unique_ptr<THidBinding> binding_;
  std::shared_ptr<TUiDispatcher> dispatcher_;
  std::unique_ptr<TUiSignal> readEnded_;
  std::atomic<bool> stop_{false};
  bool reading_ = false;
  uint8_t report_[65] = {};
  uint32_t reportSize_ = 0;
  std::thread reader_;
  TFrameIntegrity integrity_;
  TReportEvent onReport_;
  TNotifyEvent onEnded_;
  bool dragging_ = false;
};

}  // namespace ts
