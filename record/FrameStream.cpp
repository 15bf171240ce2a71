#include "record/FrameStream.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace ts {
namespace {

// A frame begins this long before the range at the latest: the screen is
// drawn whole many times over in it.
constexpr int64_t kRunUpMicros = 2'000'000;

}  // namespace

TFrameStream::TFrameStream(std::shared_ptr<TByteSource> source, const TRecordingMap& map, int64_t fromMicros,
                           int64_t toMicros, int64_t shortestHundredths)
    : reader_(std::move(source)),
      from_(std::max<int64_t>(fromMicros, 0)),
      to_(toMicros),
      shortest_(std::max<int64_t>(shortestHundredths, 0)),
      position_(from_) {
  const int64_t runUp = from_ - kRunUpMicros;
  const TSeekPoint* start = &map.Points.front();
  for (const TSeekPoint& p : map.Points)
    if (p.Unit * kRecordingTimeUnitMicros <= runUp) start = &p;
  reader_.Seek(*start);
}

double TFrameStream::Progress() const {
  if (to_ <= from_ || done_) return 1;
  return std::clamp(double(position_ - from_) / double(to_ - from_), 0.0, 1.0);
}

int64_t TFrameStream::Due(int64_t micros) const { return (std::max(micros, from_) - from_ + 5000) / 10000; }

bool TFrameStream::Emit(TFrame& frame, int64_t endMicros, bool last) {
  shown_.swap(pending_);
  frame.Pixels = &shown_;
  frame.StartMicros = std::max(pendingStart_, from_);
  // The last frame has no next to take a short remainder: it stays the shortest.
  frame.Hundredths = Due(endMicros) - emitted_;
  if (last) frame.Hundredths = std::max(frame.Hundredths, std::max<int64_t>(shortest_, 1));
  emitted_ += frame.Hundredths;
  frame.Lost = pendingLost_;
  havePending_ = false;
  return true;
}

bool TFrameStream::Next(TFrame& frame) {
  while (!done_ && reader_.Next(report_)) {
    const int64_t t = position_ = report_.TimeMicros;
    // Nothing from the range's end on is shown, however long the screen stays.
    if (t >= to_) break;
    if (report_.LostBefore) {
      image_.MarkGap();
      lost_ += report_.LostBefore;
    }
    if (!image_.Apply(report_.Data.data(), report_.Size).Presented) continue;
    if (havePending_ && pending_ == image_.Pixels()) continue;
    // A frame replaced before the range is never seen in it; one replaced too
    // soon gives its time to the next.
    const bool seen = havePending_ && t > from_;
    const bool emit = seen && Due(t) - emitted_ >= shortest_;
    if (emit) Emit(frame, t, false);
    if (!seen || emit) {
      pendingStart_ = t;
      pendingLost_ = 0;
    }
    pending_ = image_.Pixels();
    pendingLost_ += std::exchange(lost_, 0);
    havePending_ = true;
    if (emit) return true;
  }
  done_ = true;
  if (!havePending_) return false;
  return Emit(frame, std::min(to_, reader_.LastTimeMicros()), true);
}

std::string TFrameStream::Problem() const {
  using S = TRecordingReader::TStatus;
  const S status = reader_.Status();
  if (!done_ || status == S::Ended || status == S::Reading || reader_.LastTimeMicros() >= to_) return {};
  auto seconds = [](int64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(micros) / 1e6);
    return std::string(text);
  };
  return "Экспортирована только часть до " + seconds(std::max(from_, reader_.LastTimeMicros())) + " с из " +
         seconds(from_) + "–" + seconds(to_) + " с. " + reader_.Problem() + ".";
}

}  // namespace ts
