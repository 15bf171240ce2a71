#pragma once
// The picture a sequence of screen reports presents, built the way the mirror
// builds it: each report's 60 bytes as pixels of its half line group on a
// 326 x 246 picture with a black margin, presented when line group 0 arrives.
// For exports, which have no display to draw on.

#include <cstdint>
#include <vector>

#include "screen/ScreenLayout.h"

namespace ts {

class TFrameBuilder {
 public:
  TFrameBuilder() : pixels_(size_t(kPictureWidth) * kPictureHeight, 0) {}
  // Draws the report; answers true when it presents the picture.
  bool Add(const uint8_t* data, uint16_t size) {
    if (size < kSecondHalfByte + 1) return false;
    const uint8_t group = data[kLineGroupByte];
    const auto& placement = kPlacement[HalfIndex(data[kSecondHalfByte])];
    const int top = GroupTopRow(group);
    for (int k = 0; k < kPixelBytes; ++k) {
      const int x = placement[size_t(k)].x, y = top + placement[size_t(k)].row;
      if (y >= kPictureHeight || x + kTileWidth > kPictureWidth) continue;
      for (int b = 0; b < kTileWidth; ++b)
        pixels_[size_t(y) * kPictureWidth + size_t(x + b)] = (data[k] >> (7 - b)) & 1 ? 0x000000 : 0xFFFFFF;
    }
    return group == 0;
  }
  // 0x00RRGGBB, rows top to bottom.
  const std::vector<uint32_t>& Pixels() const { return pixels_; }

 private:
  std::vector<uint32_t> pixels_;
};

}  // namespace ts
