#pragma once
// A recording's presented frames in a range of its time, one at a time, each
// with how long it stayed: for exports, which must not hold a recording's
// frames, nor its file, in memory. A frame equal to the one before only
// lengthens it; the frame shown at the range's start comes first, and every
// frame is cut to the range. Lengths are in hundredths of a second, as a GIF
// keeps them: they add up to the range's time, the rounding of each frame
// carried into the next.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "record/RecordingBinding.h"
#include "screen/ScreenImage.h"

namespace ts {

// Browsers show a GIF frame shorter than this as a tenth of a second.
inline constexpr int64_t kShortestGifHundredths = 2;

class TFrameStream {
 public:
  // A frame that would stay less than `shortestHundredths` is merged into the
  // next: the next one is shown from its start (0 keeps every frame).
  TFrameStream(std::shared_ptr<TByteSource> source, const TRecordingMap& map, int64_t fromMicros,
               int64_t toMicros, int64_t shortestHundredths = kShortestGifHundredths);
  struct TFrame {
    const std::vector<uint32_t>* Pixels = nullptr;  // 0x00RRGGBB, kPictureWidth x kPictureHeight
    int64_t StartMicros = 0;
    int64_t Hundredths = 0;  // how long it stayed, at least the shortest
    uint64_t Lost = 0;       // reports lost while it was being drawn: it may not be whole
  };
  // The next frame, valid until the next call; false after the last.
  bool Next(TFrame& frame);
  // How far through the range, 0 to 1.
  double Progress() const;
  const TRecordingReader& Reader() const { return reader_; }
  // After the last frame: where damage to the file cut the range short, for
  // the user; empty when the range was read to its end.
  std::string Problem() const;

 private:
  int64_t Due(int64_t micros) const;  // hundredths from the range's start
  bool Emit(TFrame& frame, int64_t endMicros, bool last);
  TRecordingReader reader_;
  int64_t from_, to_, shortest_;
  TScreenImage image_;
  TRecordedReport report_;
  std::vector<uint32_t> pending_, shown_;
  bool havePending_ = false, done_ = false;
  int64_t pendingStart_ = 0, position_ = 0, emitted_ = 0;
  uint64_t pendingLost_ = 0, lost_ = 0;
};

}  // namespace ts
