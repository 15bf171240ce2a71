#include "share/PictureFeed.h"

#include <algorithm>

namespace ts {

void TPictureFeed::Add(const uint8_t* data, uint16_t size) {
  if (!data || size < kSecondHalfByte + 1) return;
  const uint8_t group = data[kLineGroupByte];
  const auto& placement = kPlacement[HalfIndex(data[kSecondHalfByte])];
  // Every byte lands on a whole byte of a row: its 8 pixels start at a multiple of 8.
  for (int k = 0; k < kPixelBytes; ++k) {
    const int x = placement[size_t(k)].x - kScreenMargin;
    const int y = 3 * group + placement[size_t(k)].row;
    if (y >= kScreenHeight) continue;
    drawing_[size_t(y) * kFeedRowBytes + size_t(x / 8)] = data[k];
  }
  if (group != 0) return;
  {
    std::lock_guard lock(mutex_);
    shown_.Bits = drawing_;
    ++shown_.Presents;
  }
  Notify();
}

void TPictureFeed::SetLink(bool linked, int64_t rate) {
  {
    std::lock_guard lock(mutex_);
    if (shown_.Linked == linked && shown_.Rate == rate) return;
    shown_.Linked = linked;
    shown_.Rate = rate;
    ++shown_.LinkChanges;
  }
  Notify();
}

bool TPictureFeed::Update(TFeedState& state) const {
  std::lock_guard lock(mutex_);
  if (state.Presents == shown_.Presents && state.LinkChanges == shown_.LinkChanges) return false;
  if (state.Presents != shown_.Presents) state.Bits = shown_.Bits;
  state.Presents = shown_.Presents;
  state.LinkChanges = shown_.LinkChanges;
  state.Linked = shown_.Linked;
  state.Rate = shown_.Rate;
  return true;
}

uint64_t TPictureFeed::Presents() const {
  std::lock_guard lock(mutex_);
  return shown_.Presents;
}

void TPictureFeed::SetListener(std::function<void()> listener) {
  std::lock_guard lock(listenerMutex_);
  listener_ = std::move(listener);
}

void TPictureFeed::Notify() {
  // Held while calling, so a listener being removed is never called afterwards.
  std::lock_guard lock(listenerMutex_);
  if (listener_) listener_();
}

}  // namespace ts
