#pragma once
// The display control: a child window that owns a DirectDraw object with a primary
// surface, clipper, palette and a back surface, made when its form is first shown and
// torn down when the form's window is destroyed. Windowed use only: presenting copies
// the back surface into the control's place on the screen.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "screen/DDrawBase.h"
#include "screen/DDrawUnit.h"
#include "ui/Bound.h"
#include "ui/Exception.h"

namespace ts {

class EDisplayViewError : public Exception {
 public:
  using Exception::Exception;
};

enum TDisplayViewOption : uint16_t {
  doFullScreen = 1 << 0,
  doNoWindowChange = 1 << 1,
  doAllowReboot = 1 << 2,
  doWaitVBlank = 1 << 3,
  doAllowPalette256 = 1 << 4,
  doSystemMemory = 1 << 5,
  doStretch = 1 << 6,
  doCenter = 1 << 7,
  doFlip = 1 << 8,
  do3D = 1 << 9,
  doDirectX7Mode = 1 << 10,
  doRetainedMode = 1 << 11,
  doHardware = 1 << 12,
  doSelectDriver = 1 << 13,
  doZBuffer = 1 << 14,
};
using TDisplayViewOptions = uint16_t;

// The effective set for `options`, computed afresh (not while initialised).
TDisplayViewOptions EffectiveOptionsOf(TDisplayViewOptions options);

// Full-screen mode settings; stored and checked, used only in full screen.
class TDisplayModeSettings {
 public:
  int BitCount() const { return bitCount_; }
  void SetBitCount(int value);  // 8, 16, 24 or 32, else EDirectDrawError
  int Width() const { return width_; }
  void SetWidth(int value) { width_ = value < 0 ? 0 : value; }
  int Height() const { return height_; }
  void SetHeight(int value) { height_ = value < 0 ? 0 : value; }
  bool FixedBitCount = true;
  bool FixedRatio = true;
  bool FixedSize = false;
  void ClearModes() { modes_.clear(); }

 private:
  int bitCount_ = 8;
  int width_ = 640;
  int height_ = 480;
  std::vector<SIZE> modes_;
};

class TCustomDisplayView;

class TDisplayViewDriver {
 public:
  explicit TDisplayViewDriver(TCustomDisplayView& view);  // makes the DirectDraw object
  virtual ~TDisplayViewDriver();
  TDisplayViewDriver(const TDisplayViewDriver&) = delete;
  TDisplayViewDriver& operator=(const TDisplayViewDriver&) = delete;

  virtual void Finalize();
  virtual void Flip() {}
  virtual void Initialize() = 0;
  virtual bool SetSize(int, int) { return false; }

 protected:
  TCustomDisplayView& view_;
};

class TDisplayViewDriverBlt : public TDisplayViewDriver {
 public:
  using TDisplayViewDriver::TDisplayViewDriver;
  void Flip() override;
  void Initialize() override;
  bool SetSize(int width, int height) override;
  // Where Flip puts the back surface, in screen coordinates.
  RECT Destination() const;
};

class TCustomDisplayView : public TObject {
 public:
  TCustomDisplayView();
  ~TCustomDisplayView() override;
  TCustomDisplayView(const TCustomDisplayView&) = delete;
  TCustomDisplayView& operator=(const TCustomDisplayView&) = delete;

  // Makes the control's window on `form` and hooks the form. Set the properties
  // first, as a window definition would; this ends their loading.
  HWND CreateWnd(HWND form, int left, int top, int width, int height);
  HWND Handle() const { return window_; }
  HWND ParentForm() const { return parentForm_; }
  int Width() const;
  int Height() const;

  void Initialize();
  void Finalize();
  bool CanDraw();
  bool SurfaceCheck();
  void Flip();
  void Restore();
  void SetSize(int width, int height);

  bool Initialized() const { return initialized_; }
  bool InitializeCalled() const { return initializeCalled_; }
  bool Updating() const { return updating_; }

  bool AutoInitialize = true;
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  COLORREF Color = GetSysColor(COLOR_BTNFACE);

  TDisplayViewOptions Options() const { return options_; }
  void SetOptions(TDisplayViewOptions options);
  // The DirectDraw object made ahead, for the first initialisation; it must
  // outlive the view.
  void SetHeadStart(TDirectDrawHeadStart* headStart) { headStart_ = headStart; }
  TDisplayViewOptions EffectiveOptions() const { return effectiveOptions_; }

  int SurfaceWidth() const;
  int SurfaceHeight() const;
  void SetSurfaceWidth(int value);
  void SetSurfaceHeight(int value);

  TDisplayModeSettings& Display() { return display_; }

  TDirectDraw* DirectDrawObject() const { return directDraw_.get(); }
  TDirectDrawSurface* PrimarySurface() const { return primarySurface_.get(); }
  TDirectDrawSurface* BackSurface() const { return backSurface_.get(); }
  TDirectDrawClipper* Clipper() const { return clipper_.get(); }
  TDirectDrawPalette* Palette() const { return palette_.get(); }
  TDisplayViewDriver* Driver() const { return driver_.get(); }

  TNotifyEvent OnFinalize, OnFinalizeSurface, OnInitialize, OnInitializeSurface, OnInitializing,
      OnRestoreSurface;
  // Runs after every present; other views of the same picture follow it here.
  TNotifyEvent OnPresent;
  // Whole-pixel enlargement made when presenting; the back surface keeps its size
  // and follows the control's size divided by it.
  int PresentScale() const { return presentScale_; }
  void SetPresentScale(int scale);
  // Moves the control and changes the enlargement at once, the back surface
  // untouched (a dpi change).
  void Place(const RECT& bounds, int scale);

  // The right-click menu belongs to the form: this says where to show it.
  TMethod<void(int screenX, int screenY)> OnContextPopup;

  PALETTEENTRY ColorTable[256] = {};
  PALETTEENTRY DefaultColorTable[256] = {};

 protected:
  virtual void DoFinalize();
  virtual void DoFinalizeSurface();
  virtual void DoInitialize();
  virtual void DoInitializeSurface();
  virtual void DoInitializing();
  virtual void DoRestoreSurface();

 private:
  friend class TDisplayViewDriver;
  friend class TDisplayViewDriverBlt;

  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT FormHook(TControlSubClass& hook, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();
  void SetCooperativeLevel();
  void LoadPalette(const PALETTEENTRY (&table)[256]);
  void BuildPaletteEntries(const PALETTEENTRY (&table)[256], PALETTEENTRY (&entries)[256]) const;
  void InitializeSurfaceStep();
  bool PaletteChanged(bool foreground);
  void ScheduleRecovery();
  void Recover();

  bool autoSize_ = true;
  bool initializeEventFired_ = false;
  bool surfaceEventFired_ = false;
  HWND parentForm_ = nullptr;
  bool initialized_ = false;
  bool initializeCalled_ = false;
  bool resourcesHeld_ = false;
  bool updating_ = false;
  bool loading_ = true;
  bool recoveryPending_ = false;
  std::unique_ptr<TControlSubClass> hook_;
  TDisplayViewOptions effectiveOptions_;
  TDisplayViewOptions options_;
  std::unique_ptr<TDisplayViewDriver> driver_;
  TDisplayModeSettings display_;
  std::unique_ptr<TDirectDraw> directDraw_;
  TDirectDrawHeadStart* headStart_ = nullptr;
  std::unique_ptr<TDirectDrawClipper> clipper_;
  std::unique_ptr<TDirectDrawPalette> palette_;
  std::unique_ptr<TDirectDrawSurface> primarySurface_;
  std::unique_ptr<TDirectDrawSurface> backSurface_;
  int presentScale_ = 1;
  int surfaceWidth_ = 100;
  int surfaceHeight_ = 100;
  HWND window_ = nullptr;
};

class TDisplayView : public TCustomDisplayView {};

// The options that the main window's definition stores.
inline constexpr TDisplayViewOptions kMainWindowDisplayOptions =
    doAllowReboot | doWaitVBlank | doSystemMemory | doCenter | doFlip | doDirectX7Mode | doRetainedMode |
    doHardware | doSelectDriver | doZBuffer;

}  // namespace ts
