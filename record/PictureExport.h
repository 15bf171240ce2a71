#pragma once
// Pictures as evidence: PNG through Windows' imaging component with text fields
// that say when, from what and how whole, and the time-stamped names of
// snapshots.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/WinHandle.h"

struct IWICImagingFactory;

namespace ts {

struct TPngText {
  std::string Key;  // Latin-1 keyword, as PNG requires
  std::string Value;
  friend bool operator==(const TPngText&, const TPngText&) = default;
};

struct TPixels {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Data;  // 0x00RRGGBB, rows top to bottom
};

// The imaging component's factory, COM started on this thread for it; a failed
// step of the component as ts::Exception "WIC: <step> failed (0x...)".
void ImagingFactory(TComPtr<IWICImagingFactory>& factory);
void CheckImaging(HRESULT hr, const char* step);

// Encodes through WIC and writes the text fields. WIC's own metadata writer is
// tried first; where it cannot write them (Wine's cannot) the fields go in as
// tEXt chunks placed before the image end. `wicWroteTexts` says which. Throws
// ts::Exception with the step and the error code on failure, and when the name
// is taken and `replace` is false.
void SavePng(const TPixels& pixels, const std::wstring& fileName, const std::vector<TPngText>& texts,
             bool* wicWroteTexts = nullptr, bool replace = true);

// An animated GIF, black and white, that repeats for ever, written frame by
// frame under a temporary name and published whole, or not at all: a writer
// destroyed before Finish leaves nothing behind. Throws ts::Exception on any
// failure.
class TGifWriter {
 public:
  explicit TGifWriter(const std::wstring& fileName);
  ~TGifWriter();
  TGifWriter(const TGifWriter&) = delete;
  TGifWriter& operator=(const TGifWriter&) = delete;
  // A frame shown for `hundredths` of a second; a delay beyond what a GIF frame
  // holds (655.35 s) goes over repeats of the frame. Every frame has the first's size.
  void Add(const std::vector<uint32_t>& pixels, int width, int height, int64_t hundredths);
  void Finish();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

// Frames as numbered PNG files beside the name the user gave ("frame.png":
// frame_00001.png, frame_00002.png, ...). The user named none of them, so none
// replaces a file; until Keep, destroying this removes what it wrote, and only that.
class TNumberedPngs {
 public:
  explicit TNumberedPngs(const std::wstring& fileName);
  ~TNumberedPngs();
  TNumberedPngs(const TNumberedPngs&) = delete;
  TNumberedPngs& operator=(const TNumberedPngs&) = delete;
  // The next file; throws when its name is taken or it cannot be written.
  void Add(const TPixels& pixels);
  void Keep() { written_.clear(); }

 private:
  std::wstring stem_;
  std::vector<std::wstring> written_;
  size_t count_ = 0;
};

}  // namespace ts
