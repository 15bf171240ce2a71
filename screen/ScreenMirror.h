#pragma once
// Turns screen reports into pixels on the display control's back surface: one tile
// copy per pixel byte from a table of 256 pre-drawn 8 x 1 tiles, and a present when
// line group 0 has been drawn.

#include <array>
#include <cstdint>
#include <memory>

#include "screen/DisplayView.h"
#include "screen/ScreenLayout.h"

namespace ts {

class TScreenMirror {
 public:
  explicit TScreenMirror(TCustomDisplayView& view);
  ~TScreenMirror();
  TScreenMirror(const TScreenMirror&) = delete;
  TScreenMirror& operator=(const TScreenMirror&) = delete;

  // Handlers of the display control's OnInitialize and OnFinalize.
  void DisplayViewInitialize(TObject* Sender);
  void DisplayViewFinalize(TObject* Sender);

  // Copies the report over the last one (at most its 64 bytes) and draws it.
  void RenderScreenReport(const uint8_t* data, uint16_t size);
  // The report last taken, with the bytes a short one left from those before it.
  const std::array<uint8_t, kScreenReportSize>& Received() const { return received_; }

  TDirectDrawSurface* Tile(int value) const { return tileTable_[static_cast<size_t>(value)].get(); }

 private:
  TCustomDisplayView& view_;
  std::array<std::unique_ptr<TDirectDrawSurface>, kTileCount> tileTable_;
  std::array<uint8_t, kScreenReportSize> received_{};
};

}  // namespace ts
