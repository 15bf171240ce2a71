#include "screen/ScreenImage.h"

namespace ts {

TScreenImage::TScreenImage(bool withPixels) {
  if (withPixels) pixels_.assign(size_t(kPictureWidth) * kPictureHeight, 0);
}

TScreenImage::TApplied TScreenImage::Apply(const uint8_t* data, size_t size) {
  const int slot = ScreenSlot(data, size);
  if (slot < 0) return {};
  const uint8_t group = data[kLineGroupByte];
  if (!pixels_.empty()) {
    PlacePixelBytes(data, [this](int x, int y, uint8_t bits) {
      uint32_t* row = pixels_.data() + size_t(y) * kPictureWidth + size_t(x);
      for (int b = 0; b < kTileWidth; ++b) row[b] = (bits >> (7 - b)) & 1 ? 0x000000 : 0xFFFFFF;
    });
  }
  seen_.set(size_t(slot));
  if (group != 0) {
    inRun_ = false;
    return {};
  }
  if (!inRun_) {
    // A frame begins with the first of a run of group 0 reports, which is drawn
    // before it presents and so counts for the frame it presents.
    whole_ = seen_.all() && !gap_;
    frameGap_ = gap_;
    seen_.reset();
    seen_.set(size_t(slot));
    gap_ = false;
    inRun_ = true;
  }
  ++presents_;
  return {true, whole_};
}

}  // namespace ts
