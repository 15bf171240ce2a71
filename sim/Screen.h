#pragma once
// The instrument's 320 x 240 one-bit screen and its encoding as screen reports.
// A set bit is a black pixel; within a byte the most significant bit is the
// leftmost pixel, the same order the reports carry, so encoding is a copy.

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/Ts4170Protocol.h"

namespace ts::sim {

inline constexpr int kScreenWidth = TS4170_SCREEN_WIDTH;
inline constexpr int kScreenHeight = TS4170_SCREEN_HEIGHT;
inline constexpr int kScreenStride = kScreenWidth / 8;
inline constexpr int kLineGroups = TS4170_SCREEN_LINE_GROUPS;
inline constexpr int kReportsPerFrame = TS4170_SCREEN_REPORTS_PER_FRAME;
inline constexpr size_t kReportSize = TS4170_REPORT_SIZE;
inline constexpr int kPixelBytesPerReport = TS4170_SCREEN_PIXEL_BYTES;

using Report = std::array<uint8_t, kReportSize>;

class Screen {
 public:
  using Bits = std::array<uint8_t, kScreenStride * kScreenHeight>;

  void Clear() { bits_.fill(0); }
  bool Pixel(int x, int y) const;
  // Drawing outside the screen is clipped, never an error: every primitive
  // below may be handed coordinates partly or wholly off screen.
  void SetPixel(int x, int y, bool black = true);
  void HLine(int x0, int x1, int y, bool black = true);
  void VLine(int x, int y0, int y1, bool black = true);
  void DottedHLine(int x0, int x1, int y, int step);
  void DottedVLine(int x, int y0, int y1, int step);
  // Rectangles are (left, top, right, bottom), right and bottom exclusive.
  void Frame(int left, int top, int right, int bottom);
  void Fill(int left, int top, int right, int bottom, bool black);
  void Invert(int left, int top, int right, int bottom);

  const Bits& Data() const { return bits_; }
  bool operator==(const Screen&) const = default;

 private:
  Bits bits_{};
};

// Input report number `index` (0-159) of a frame: group index / 2, half index % 2.
// Byte 0 is report ID 0; bytes 1-60 the pixels, 61 the line group, 62 the half
// flag, 63-64 zero.
void EncodeScreenReport(const Screen& screen, int group, bool secondHalf, uint8_t* report65);
Report EncodeScreenReport(const Screen& screen, int index);

}  // namespace ts::sim
