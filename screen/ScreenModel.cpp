#include "screen/ScreenModel.h"

#include <algorithm>
#include <cstring>

namespace ts {

bool TScreenModel::Take(const uint8_t* data, size_t size) {
  if (OutputOn && !OutputOn()) return false;
  CopyScreenReport(received_.data(), data, data ? size : 0);
  integrity_.Apply(data, size);
  PlacePixelBytes(received_.data(), [this](int x, int y, uint8_t bits) {
    // Group 80 lands in the bottom margin; the groups after it off the picture.
    if (y < kPictureHeight) picture_[size_t(y) * kModelRowBytes + size_t(kModelLead + x) / 8] = bits;
  });
  const bool presents = received_[kLineGroupByte] == 0;
  presents_ += presents;
  for (const TView& view : views_) view(*this, presents);
  return presents;
}

void TScreenModel::CopyScreen(uint8_t* rows) const {
  constexpr size_t kScreenRowBytes = kScreenWidth / 8;
  for (int y = 0; y < kScreenHeight; ++y)
    std::memcpy(rows + size_t(y) * kScreenRowBytes, Row(y + kScreenMargin) + (kModelLead + kScreenMargin) / 8,
                kScreenRowBytes);
}

std::vector<uint32_t> TScreenModel::Colours() const {
  std::vector<uint32_t> colours(size_t(kPictureWidth) * kPictureHeight);
  for (int y = 0; y < kPictureHeight; ++y)
    for (int x = 0; x < kPictureWidth; ++x)
      colours[size_t(y) * kPictureWidth + size_t(x)] = Black(x, y) ? 0x000000 : 0xFFFFFF;
  return colours;
}

void TScreenModel::Fill(int left, int top, int right, int bottom, bool black) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, kPictureWidth);
  bottom = std::min(bottom, kPictureHeight);
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) {
      uint8_t& byte = picture_[size_t(y) * kModelRowBytes + size_t(kModelLead + x) / 8];
      const auto bit = static_cast<uint8_t>(0x80 >> ((kModelLead + x) % 8));
      byte = static_cast<uint8_t>(black ? byte | bit : byte & ~bit);
    }
}

}  // namespace ts
