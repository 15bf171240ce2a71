#pragma once
// Where the bytes of a screen report land on the 326 x 246 picture. The instrument's
// 320 x 240 screen sits inside a 3-pixel margin; each report carries half of a group
// of three lines (960 pixels), one bit per pixel, most significant bit leftmost.

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/Ts4170Protocol.h"

namespace ts {

inline constexpr int kScreenWidth = TS4170_SCREEN_WIDTH;
inline constexpr int kScreenHeight = TS4170_SCREEN_HEIGHT;
inline constexpr int kScreenMargin = 3;
inline constexpr int kPictureWidth = kScreenWidth + 2 * kScreenMargin;    // 326
inline constexpr int kPictureHeight = kScreenHeight + 2 * kScreenMargin;  // 246
inline constexpr int kScreenReportSize = TS4170_REPORT_DATA_SIZE;
inline constexpr int kPixelBytes = TS4170_SCREEN_PIXEL_BYTES;
inline constexpr int kLineGroupByte = TS4170_SCREEN_GROUP_BYTE;
inline constexpr int kSecondHalfByte = TS4170_SCREEN_HALF_BYTE;
inline constexpr int kTileWidth = 8;
inline constexpr int kTileCount = 256;

// Position of byte k's first pixel relative to the top-left pixel of its line group.
struct TTileOffset {
  int16_t x;
  int16_t row;
};

// Both halves of a group: index 0 for SecondHalf = 0, 1 for any other value.
using TPlacementTable = std::array<std::array<TTileOffset, kPixelBytes>, 2>;

constexpr TPlacementTable MakePlacementTable() {
  TPlacementTable table{};
  for (int half = 0; half < 2; ++half)
    for (int k = 0; k < kPixelBytes; ++k) {
      int p = 480 * half + kTileWidth * k;
      table[half][k] = {static_cast<int16_t>(kScreenMargin + p % kScreenWidth),
                        static_cast<int16_t>(p / kScreenWidth)};
    }
  return table;
}

inline constexpr TPlacementTable kPlacement = MakePlacementTable();

inline constexpr int HalfIndex(uint8_t secondHalf) { return secondHalf != 0 ? 1 : 0; }

// Surface row of the first line of a group; the group's three lines follow it.
inline constexpr int GroupTopRow(uint8_t lineGroup) {
  return kScreenMargin + TS4170_SCREEN_LINES_PER_GROUP * lineGroup;
}

// Copies a report into the 64-byte receive buffer. Bytes past 64 are dropped: the
// buffer is all the rendering reads and nothing may be written beyond it. Returns
// the number of bytes taken.
size_t CopyScreenReport(uint8_t* buffer, const uint8_t* data, size_t size);

}  // namespace ts
