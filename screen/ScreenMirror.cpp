#include "screen/ScreenMirror.h"

#include "screen/ScreenImage.h"

namespace ts {
namespace {

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr RECT kTileRect{0, 0, kTileWidth, 1};

}  // namespace

TScreenMirror::TScreenMirror(TCustomDisplayView& view, TScreenModel& model) : view_(view), model_(model) {
  model.AddView(Bind(this, &TScreenMirror::RenderScreenReport));
  view.OnRestoreSurface = Bind(this, &TScreenMirror::SurfaceRestored);
}

void TScreenMirror::SurfaceRestored(TObject*) { model_.Blank(); }

TScreenMirror::~TScreenMirror() { DisplayViewFinalize(nullptr); }

void TScreenMirror::DisplayViewInitialize(TObject*) {
  for (int v = 0; v < kTileCount; ++v) {
    auto& tile = tileTable_[static_cast<size_t>(v)];
    tile = std::make_unique<TDirectDrawSurface>(view_.DirectDrawObject());
    tile->SetSystemMemory(true);
    tile->SetSize(kTileWidth, 1);
    for (int x = kTileWidth - 1; x >= 0; --x) tile->SetPixel(x, 0, (v >> (7 - x)) & 1 ? kBlack : kWhite);
  }
}

void TScreenMirror::DisplayViewFinalize(TObject*) {
  for (auto& tile : tileTable_) tile.reset();
}

void TScreenMirror::RenderScreenReport(const TScreenModel& model, bool presents) {
  if (!view_.CanDraw()) return;

  TDirectDrawSurface& back = *view_.BackSurface();
  const int width = back.Width();
  const int height = back.Height();
  PlacePixelBytes(model.Received().data(), [&](int x, int y, uint8_t bits) {
    // Rows past the surface (groups from 81 on) are skipped here rather than left
    // to the blitter's refusal; a tile missing from a failed build is never used.
    if (y >= height || x + kTileWidth > width) return;
    if (TDirectDrawSurface* tile = tileTable_[bits].get()) back.Draw(x, y, kTileRect, 0, tile);
  });
  if (presents) view_.Flip();
}

}  // namespace ts
