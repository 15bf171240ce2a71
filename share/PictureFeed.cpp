#include "share/PictureFeed.h"

#include "screen/ScreenImage.h"

namespace ts {

void TPictureFeed::Add(const uint8_t* data, uint16_t size) {
  if (!IsScreenReport(data, size)) return;
  // Every byte lands on a whole byte of a row: its 8 pixels start at a multiple of 8.
  PlacePixelBytes(data, [this](int x, int y, uint8_t bits) {
    drawing_[size_t(y - kScreenMargin) * kFeedRowBytes + size_t(x - kScreenMargin) / 8] = bits;
  });
  if (!PresentsFrame(data, size)) return;
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
