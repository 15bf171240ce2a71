#include "record/FrameStream.h"

#include <algorithm>
#include <utility>

namespace ts {
namespace {

// A frame begins this long before the range at the latest: the screen is
// drawn whole many times over in it.
constexpr int64_t kRunUpMicros = 2'000'000;

}  // namespace

TFrameStream::TFrameStream(std::shared_ptr<TByteSource> source, const TRecordingMap& map, int64_t fromMicros,
                           int64_t toMicros)
    : reader_(std::move(source)), from_(std::max<int64_t>(fromMicros, 0)), to_(toMicros), position_(from_) {
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

bool TFrameStream::Emit(TFrame& frame, int64_t endMicros) {
  const int64_t start = std::max(pendingStart_, from_);
  shown_.swap(pending_);
  frame.Pixels = &shown_;
  frame.StartMicros = start;
  frame.Hundredths = std::max<int64_t>(1, (endMicros - start + 5000) / 10000);
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
    const bool emit = havePending_ && t > from_;  // a frame replaced before the range is never seen in it
    if (emit) Emit(frame, t);
    pending_ = image_.Pixels();
    pendingStart_ = t;
    pendingLost_ = std::exchange(lost_, 0);
    havePending_ = true;
    if (emit) return true;
  }
  done_ = true;
  if (!havePending_) return false;
  return Emit(frame, std::min(to_, reader_.LastTimeMicros()));
}

}  // namespace ts
