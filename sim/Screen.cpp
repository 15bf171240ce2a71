#include "sim/Screen.h"

#include <algorithm>
#include <cstring>

namespace ts::sim {

namespace {
bool OnScreen(int x, int y) { return x >= 0 && x < kScreenWidth && y >= 0 && y < kScreenHeight; }
}  // namespace

bool Screen::Pixel(int x, int y) const {
  if (!OnScreen(x, y)) return false;
  return (bits_[y * kScreenStride + x / 8] >> (7 - x % 8)) & 1;
}

void Screen::SetPixel(int x, int y, bool black) {
  if (!OnScreen(x, y)) return;
  uint8_t& b = bits_[y * kScreenStride + x / 8];
  const uint8_t mask = uint8_t(0x80u >> (x % 8));
  b = black ? uint8_t(b | mask) : uint8_t(b & ~mask);
}

void Screen::HLine(int x0, int x1, int y, bool black) {
  if (x0 > x1) std::swap(x0, x1);
  for (int x = std::max(x0, 0); x <= std::min(x1, kScreenWidth - 1); ++x) SetPixel(x, y, black);
}

void Screen::VLine(int x, int y0, int y1, bool black) {
  if (y0 > y1) std::swap(y0, y1);
  for (int y = std::max(y0, 0); y <= std::min(y1, kScreenHeight - 1); ++y) SetPixel(x, y, black);
}

void Screen::DottedHLine(int x0, int x1, int y, int step) {
  for (int x = x0; x <= x1; x += step) SetPixel(x, y);
}

void Screen::DottedVLine(int x, int y0, int y1, int step) {
  for (int y = y0; y <= y1; y += step) SetPixel(x, y);
}

void Screen::Frame(int left, int top, int right, int bottom) {
  if (right <= left || bottom <= top) return;
  HLine(left, right - 1, top);
  HLine(left, right - 1, bottom - 1);
  VLine(left, top, bottom - 1);
  VLine(right - 1, top, bottom - 1);
}

void Screen::Fill(int left, int top, int right, int bottom, bool black) {
  for (int y = std::max(top, 0); y < std::min(bottom, kScreenHeight); ++y)
    for (int x = std::max(left, 0); x < std::min(right, kScreenWidth); ++x) SetPixel(x, y, black);
}

void Screen::Invert(int left, int top, int right, int bottom) {
  for (int y = std::max(top, 0); y < std::min(bottom, kScreenHeight); ++y)
    for (int x = std::max(left, 0); x < std::min(right, kScreenWidth); ++x) SetPixel(x, y, !Pixel(x, y));
}

void EncodeScreenReport(const Screen& screen, int group, bool secondHalf, uint8_t* report65) {
  std::memset(report65, 0, kReportSize);
  uint8_t* data = report65 + (kReportSize - TS4170_REPORT_DATA_SIZE);  // past the report ID
  // A group is 960 pixels in raster order; each half is 480 of them, which are
  // 60 whole bytes because both 320 and 480 are multiples of 8.
  const size_t start =
      size_t(group) * TS4170_SCREEN_LINES_PER_GROUP * kScreenStride + (secondHalf ? kPixelBytesPerReport : 0);
  std::memcpy(data, screen.Data().data() + start, kPixelBytesPerReport);
  data[TS4170_SCREEN_GROUP_BYTE] = uint8_t(group);
  data[TS4170_SCREEN_HALF_BYTE] = secondHalf ? 1 : 0;
}

Report EncodeScreenReport(const Screen& screen, int index) {
  Report r;
  EncodeScreenReport(screen, index / 2, index % 2 != 0, r.data());
  return r;
}

}  // namespace ts::sim
