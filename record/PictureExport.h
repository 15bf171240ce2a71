#pragma once
// Pictures as evidence: PNG through Windows' imaging component with text fields
// that say when, from what and how whole, and the time-stamped names of
// snapshots.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

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

// The bitmap's pixels (any depth GDI can give as 32 bits).
TPixels PixelsOf(HBITMAP bitmap, int width, int height);

// Encodes through WIC and writes the text fields. WIC's own metadata writer is
// tried first; where it cannot write them (Wine's cannot) the fields go in as
// tEXt chunks placed before the image end. `wicWroteTexts` says which. Throws
// ts::Exception with the step and the error code on failure.
void SavePng(const TPixels& pixels, const std::wstring& fileName, const std::vector<TPngText>& texts,
             bool* wicWroteTexts = nullptr);
// Decodes through WIC: the pixels, and the value WIC's metadata reader gives
// for each keyword asked for in `texts` (those it cannot find are dropped).
TPixels LoadPng(const std::wstring& fileName, std::vector<TPngText>* texts);

// An animated GIF through WIC's GIF encoder, black and white, each frame with
// its delay in hundredths of a second. `wicWroteDelays` says whether WIC's
// metadata writer took the delays.
void SaveGif(const std::vector<TPixels>& frames, const std::vector<int>& delays, const std::wstring& fileName,
             bool* wicWroteDelays = nullptr);
// Decodes every frame of a GIF through WIC, with the delays WIC's reader finds
// (0 where it finds none).
std::vector<TPixels> LoadGif(const std::wstring& fileName, std::vector<int>* delays);

// A recording's presented frames, each with how long it stayed, in hundredths
// of a second; a frame equal to the one before only lengthens it. Only what was
// on screen from `fromMicros` to `toMicros` (from the recording's start): the
// frame shown at `fromMicros` first, each frame cut to the range. Answers how
// far it read, in microseconds from the start: the recording's length when the
// range reaches its end.
int64_t RecordingFrames(const std::vector<uint8_t>& recording, std::vector<TPixels>& frames,
                        std::vector<int>& delays, int64_t fromMicros = 0, int64_t toMicros = INT64_MAX);

}  // namespace ts
