#pragma once
// The one picture the screen reports build, kept apart from any way of showing
// it: the receive buffer each report is copied over (any size: a short report
// leaves the bytes of those before it), the 326 x 246 picture one bit a pixel
// with what the picture tools drew on it, and whether the frame presented last
// was whole. The mirror draws its tiles from it; the browsers' page, the large
// view, the saved and copied pictures and the evidence take their picture here.
// User interface thread only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "screen/ScreenImage.h"
#include "screen/ScreenLayout.h"
#include "ui/Bound.h"
#include "ui/ReportSink.h"

namespace ts {

// A row of the picture holds its 326 pixels from bit 5 of its first byte on, so
// that the screen's own bytes (from x = 3) fall on whole bytes: 1 to 40. Rows are
// padded to whole 32-bit words: the picture is a one-bit bitmap as it stands.
inline constexpr int kModelLead = 8 - kScreenMargin;
inline constexpr int kModelRowBytes = (kModelLead + kPictureWidth + 31) / 32 * 4;  // 44

class TScreenModel : public TReportSink {
 public:
  // Told of each report taken, after the picture has it; `presents` for line
  // group 0, when whoever shows the picture presents it.
  using TView = TMethod<void(const TScreenModel& model, bool presents)>;

  TScreenModel() { Blank(); }

  // While it answers false, reports change nothing (the picture-output switch).
  TMethod<bool()> OutputOn;

  void AddView(TView view) { views_.push_back(view); }
  // A new device: its first frame is judged from its own reports alone.
  void Open(THidDevice&) override { integrity_ = TScreenImage(false); }
  void Report(uint8_t, const uint8_t* data, uint16_t size) override { Take(data, size); }
  void Close(TSourceEnd) override {}
  // Takes one input report's data; answers whether it presented.
  bool Take(const uint8_t* data, size_t size);

  const std::array<uint8_t, kScreenReportSize>& Received() const { return received_; }
  bool Black(int x, int y) const {
    const int bit = kModelLead + x;
    return (picture_[size_t(y) * kModelRowBytes + size_t(bit / 8)] >> (7 - bit % 8)) & 1;
  }
  // Row y of the picture as stored, kModelRowBytes bytes, a set bit black.
  const uint8_t* Row(int y) const { return picture_.data() + size_t(y) * kModelRowBytes; }
  // The picture as 0x00RRGGBB, rows top to bottom.
  std::vector<uint32_t> Colours() const;
  // The instrument's 240 rows of 40 bytes, margins left out.
  void CopyScreen(uint8_t* rows) const;
  // Paints the rectangle (right and bottom exclusive, clipped to the picture).
  void Fill(int left, int top, int right, int bottom, bool black);
  // The picture that a surface shows once it has been filled black.
  void Blank() { picture_.fill(0xFF); }

  // Counts every report that presented.
  uint64_t Presents() const { return presents_; }
  const TScreenImage& Integrity() const { return integrity_; }

 private:
  std::array<uint8_t, kScreenReportSize> received_{};
  std::array<uint8_t, size_t(kModelRowBytes) * kPictureHeight> picture_;
  TScreenImage integrity_{false};
  uint64_t presents_ = 0;
  std::vector<TView> views_;
};

}  // namespace ts
