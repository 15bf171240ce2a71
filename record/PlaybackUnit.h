#pragma once
// The playback window: a recording, lent to the link as a device, shown through
// the link and the mirror as the instrument would be, with play, pause, speed, a
// position slider and a frame step. While it is open the keypad sends nothing;
// closing it gives the screen back to the instrument.

#include <windows.h>

#include <memory>
#include <string>

#include "link/HidBinding.h"
#include "record/RecordingBinding.h"
#include "screen/ScreenImage.h"
#include "ui/Bound.h"
#include "ui/ReportSink.h"

namespace ts {

class TPlaybackWindow : public TObject {
 public:
  // Opens the window; `onEnded` runs once it closes, while the recording's
  // binding is still there.
  TPlaybackWindow(HWND owner, const std::wstring& fileName, std::shared_ptr<TPlayback> playback,
                  TNotifyEvent onEnded);
  ~TPlaybackWindow() override;
  HWND Handle() const { return window_; }
  bool Open() const { return open_; }
  TPlayback& Playback() { return *playback_; }
  // The recording as an interface to lend; it reads through this window's
  // binding, so is to be returned by `onEnded` at the latest.
  std::unique_ptr<THidPnPInfo> Interface();
  // Each report shown, for the frame-integrity text; reports lost while
  // recording make the frame they fell in incomplete.
  void Shown(const uint8_t* data, uint16_t size);
  const TScreenImage& Integrity() const { return integrity_; }

 private:
  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControls();
  void Refresh();
  void End();

  HWND window_ = nullptr, playButton_ = nullptr, slider_ = nullptr, time_ = nullptr, integrityText_ = nullptr,
       problemText_ = nullptr;
  // A step of the slider: a millisecond, or more for a recording that would
  // need more than about 10,000 of them.
  int64_t sliderUnit_ = 1000;
  std::wstring fileName_;
  std::shared_ptr<TPlayback> playback_;
  TRecordingBinding binding_{playback_};
  bool open_ = true;
  TScreenImage integrity_{false};
  uint64_t lostSeen_ = 0;
  std::wstring problem_;
  TNotifyEvent onEnded_;
  bool dragging_ = false;
};

// The link's reports, for the playback window while it shows its recording
// through the link.
class TPlaybackFollower : public TReportSink {
 public:
  void Follow(TPlaybackWindow* window) { window_ = window; }
  void Open(THidDevice&) override {}
  void Report(uint8_t, const uint8_t* data, uint16_t size) override {
    if (window_ && window_->Open()) window_->Shown(data, size);
  }
  void Close(TSourceEnd) override {}

 private:
  TPlaybackWindow* window_ = nullptr;
};

}  // namespace ts
