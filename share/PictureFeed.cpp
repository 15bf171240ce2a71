#include "share/PictureFeed.h"

namespace ts {

void TPictureFeed::Show(const TScreenModel& model, bool presents) {
  if (!presents) return;
  {
    std::lock_guard lock(mutex_);
    model.CopyScreen(shown_.Bits.data());
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
