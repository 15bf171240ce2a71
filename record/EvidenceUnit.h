#pragma once
// Evidence pictures from the main window: PNG with text fields through a save
// dialog, and a one-key snapshot (F12) into a folder asked for once per
// session, under a time-stamped name, with no dialog.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "record/FrameStream.h"
#include "record/PictureExport.h"
#include "record/RangeDialog.h"
#include "ui/Bound.h"

namespace ts {

class TEvidence : public TObject {
 public:
  // `capture` gives the picture as shown; `texts` the fields that describe it.
  TEvidence(HWND owner, TMethod<TPixels()> capture, TMethod<std::vector<TPngText>()> texts);
  ~TEvidence() override;
  TEvidence(const TEvidence&) = delete;
  TEvidence& operator=(const TEvidence&) = delete;

  void SavePngClick(TObject*);
  void SnapshotClick(TObject*);
  // A recording's frames as an animated GIF, or as numbered PNG files.
  void ExportGifClick(TObject*);
  void ExportPngFramesClick(TObject*);

 private:
  bool Save(const std::wstring& fileName);
  bool AskOutput(const wchar_t* title, const wchar_t* filter, const wchar_t* extension, std::wstring& name);
  // The recording and the part of it to export; false when there is none.
  bool AskExport(std::shared_ptr<TByteSource>& source, TRecordingMap& map, TTimeRange& range);
  // Each frame of the part to `take`, with a progress bar and Cancel; false
  // when cancelled or when there was no frame (the user told why). `notice`
  // gets what the user is to hear once the export is published: reports lost
  // in it, damage that cut it short.
  bool EachFrame(const wchar_t* title, const std::shared_ptr<TByteSource>& source, const TRecordingMap& map,
                 const TTimeRange& range, int64_t shortestHundredths,
                 const std::function<void(const TFrameStream::TFrame&)>& take, std::wstring& notice);
  HWND owner_;
  TMethod<TPixels()> capture_;
  TMethod<std::vector<TPngText>()> texts_;
  std::wstring folder_;  // chosen once per session, never stored
};

// "2026-12-08T14:03:07.123Z"
std::string UtcTimeText();

}  // namespace ts
