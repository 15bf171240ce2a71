#pragma once
// The picture that screen reports build, the way the mirror builds it: each
// report's 60 bytes as pixels of its half line group on a 326 x 246 picture with
// a black margin, presented when line group 0 arrives; and whether the frame
// last presented was whole. A screen report is known by its shape alone: the
// pipe, the HID device and the instrument each give it a report ID of their own.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "screen/ScreenLayout.h"

namespace ts {

inline bool IsScreenReport(const uint8_t* data, size_t size) {
  return data && size == kScreenReportSize && data[kLineGroupByte] < TS4170_SCREEN_LINE_GROUPS &&
         data[kSecondHalfByte] <= 1;
}

// The place of a screen report in its frame, 0 to 159, or -1 for any other report.
inline int ScreenSlot(const uint8_t* data, size_t size) {
  return IsScreenReport(data, size) ? data[kLineGroupByte] * 2 + data[kSecondHalfByte] : -1;
}

// Screen reports lost between two received ones, by the order the instrument
// sends them in: every slot in turn, 0 to 159, then 0 again. A slot that comes
// again at once is a repeat, not a frame lost, and whole frames lost cannot
// be seen at all.
inline int ScreenReportsMissed(int previousSlot, int slot) {
  if (previousSlot < 0 || slot < 0 || slot == previousSlot) return 0;
  constexpr int kSlots = TS4170_SCREEN_REPORTS_PER_FRAME;
  return (slot - previousSlot - 1 + kSlots) % kSlots;
}

// A screen report that presents: line group 0, either half.
inline bool PresentsFrame(const uint8_t* data, size_t size) {
  return IsScreenReport(data, size) && data[kLineGroupByte] == 0;
}

// Hands each pixel byte of a screen report to place(x, y, byte), with the
// picture position (margin included) of the byte's leftmost pixel.
template <class F>
void PlacePixelBytes(const uint8_t* screenReport, F&& place) {
  const auto& placement = kPlacement[size_t(HalfIndex(screenReport[kSecondHalfByte]))];
  const int top = GroupTopRow(screenReport[kLineGroupByte]);
  for (size_t k = 0; k < size_t(kPixelBytes); ++k)
    place(placement[k].x, top + placement[k].row, screenReport[k]);
}

class TScreenImage {
 public:
  // Without pixels it only judges frames, for a window that shows whether the
  // frame is whole and draws nothing itself.
  explicit TScreenImage(bool withPixels = true);

  struct TApplied {
    bool Presented = false;   // the report presents the picture
    bool FrameWhole = false;  // and the frame it presents is whole
  };
  // Takes one input report's data (its ID is no concern here).
  TApplied Apply(const uint8_t* data, size_t size);
  // Reports went missing here: the frame being built cannot be whole.
  void MarkGap() { gap_ = true; }

  // 0x00RRGGBB, rows top to bottom; empty without pixels.
  const std::vector<uint32_t>& Pixels() const { return pixels_; }
  bool Whole() const { return whole_; }
  // Whether reports were lost in the frame last presented.
  bool GapInFrame() const { return frameGap_; }
  uint64_t Presents() const { return presents_; }

 private:
  std::vector<uint32_t> pixels_;
  std::bitset<TS4170_SCREEN_REPORTS_PER_FRAME> seen_;
  bool gap_ = false;
  bool frameGap_ = false;
  bool whole_ = false;
  bool inRun_ = false;
  uint64_t presents_ = 0;
};

}  // namespace ts
