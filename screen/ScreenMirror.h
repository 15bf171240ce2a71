#pragma once
// Shows the screen model on the display control's back surface: for each report
// the model takes, one tile copy per pixel byte of its receive buffer from a table
// of 256 pre-drawn 8 x 1 tiles, and a present when line group 0 has been drawn.

#include <array>
#include <cstdint>
#include <memory>

#include "screen/DisplayView.h"
#include "screen/ScreenLayout.h"
#include "screen/ScreenModel.h"

namespace ts {

class TScreenMirror {
 public:
  // Watches `model` from here on; both outlive it.
  TScreenMirror(TCustomDisplayView& view, TScreenModel& model);
  ~TScreenMirror();
  TScreenMirror(const TScreenMirror&) = delete;
  TScreenMirror& operator=(const TScreenMirror&) = delete;

  // Handlers of the display control's OnInitialize and OnFinalize.
  void DisplayViewInitialize(TObject* Sender);
  void DisplayViewFinalize(TObject* Sender);

  // The model's view: draws the report it has just taken.
  void RenderScreenReport(const TScreenModel& model, bool presents);
  // The display control's OnRestoreSurface: the surface is black again, and so
  // is the picture it shows.
  void SurfaceRestored(TObject* Sender);

  TDirectDrawSurface* Tile(int value) const { return tileTable_[static_cast<size_t>(value)].get(); }

 private:
  TCustomDisplayView& view_;
  TScreenModel& model_;
  std::array<std::unique_ptr<TDirectDrawSurface>, kTileCount> tileTable_;
};

}  // namespace ts
