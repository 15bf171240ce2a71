#pragma once
// The screen model's picture in a window of its own, as large as the room needs:
// whole-pixel enlargements 1x to 8x, or the largest that fits, and full screen. It
// follows the display control's presents and enlarges only what changed, so the
// surface, saved and copied pictures keep their size. While it is hidden it is not
// bound to the control at all.

#include <windows.h>

#include <cstdint>
#include <vector>

#include "screen/DisplayView.h"
#include "screen/ScreenModel.h"

namespace ts {

class TLargeView {
 public:
  static constexpr int kMaxScale = 8;
  static constexpr int kFit = 0;

  TLargeView(TCustomDisplayView& source, const TScreenModel& model) : source_(source), model_(model) {}
  ~TLargeView();
  TLargeView(const TLargeView&) = delete;
  TLargeView& operator=(const TLargeView&) = delete;

  // Makes the window on first use (owned by `owner`), shows and activates it.
  void Show(HWND owner);
  // Leaves full screen, hides the window and stops following the control.
  void Close();
  bool Visible() const { return window_ && IsWindowVisible(window_); }
  HWND Handle() const { return window_; }

  // 1 to 8, or kFit. A fixed scale in a window sizes the window to the picture.
  void SetScale(int scale);
  // The enlargement in use now.
  int EffectiveScale() const;
  // Where the picture sits, in client coordinates.
  RECT PictureRect() const;

  void SetFullScreen(bool on);

  // Copies the part of the model's picture that changed since the last present
  // into the window at the current enlargement.
  void Present(TObject* Sender = nullptr);

 private:
  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();
  void FitWindowToScale();
  void ShowMenu(int screenX, int screenY);
  // The rectangle of the picture that differs from the last presented one, which
  // it then becomes; all of it after a repaint; empty when nothing changed.
  RECT ChangedArea();

  TCustomDisplayView& source_;
  const TScreenModel& model_;
  HWND window_ = nullptr;
  int scale_ = 3;
  bool fullScreen_ = false;
  bool repaint_ = true;
  std::vector<uint8_t> presented_;
  DWORD savedStyle_ = 0;
  WINDOWPLACEMENT savedPlacement_{sizeof(WINDOWPLACEMENT)};
};

// Caption of the large view's window.
inline constexpr wchar_t kLargeViewCaption[] = L"Экран ТС4170";

}  // namespace ts
