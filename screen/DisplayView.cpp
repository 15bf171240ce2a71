#include "screen/DisplayView.h"

#include "ui/WindowClass.h"

#include <algorithm>
#include <exception>

#include "screen/DDrawConsts.h"
#include "ui/ErrorReport.h"
#include "ui/PathCounters.h"
#include "ui/WinHandle.h"
#include "ui/WindowObject.h"

namespace ts {
namespace {

constexpr wchar_t kDisplayViewClass[] = L"TDisplayView";
constexpr TDisplayViewOptions kDefaultOptions =
    doAllowReboot | doWaitVBlank | doCenter | doDirectX7Mode | doHardware | doSelectDriver;
constexpr BYTE kPaletteEntryFlags = 0x40;
constexpr UINT_PTR kRecoveryTimer = 1;
constexpr UINT kRecoveryInterval = 1000;  // ms: at most one new start a second

}  // namespace

TDisplayViewOptions EffectiveOptionsOf(TDisplayViewOptions o) {
  if (!(o & doFullScreen)) o &= ~(doNoWindowChange | doAllowReboot | doAllowPalette256 | doFlip);
  if (!(o & do3D)) o &= ~(doDirectX7Mode | doRetainedMode | doHardware | doSelectDriver | doZBuffer);
  if (o & doSystemMemory) o &= ~doFlip;
  if (o & doDirectX7Mode) o &= ~doRetainedMode;
  o &= ~doHardware;
  return o;
}

void TDisplayModeSettings::SetBitCount(int value) {
  if (value != 8 && value != 16 && value != 24 && value != 32) throw EDirectDrawError(kSInvalidBitCount);
  bitCount_ = value;
}

// ---------------------------------------------------------------- drivers

TDisplayViewDriver::TDisplayViewDriver(TCustomDisplayView& view) : view_(view) {
  // A device GUID only matters for full-screen hardware modes, which are not offered.
  view_.directDraw_ =
      std::make_unique<TDirectDraw>(nullptr, (view_.options_ & doDirectX7Mode) != 0, view_.headStart_);
}

TDisplayViewDriver::~TDisplayViewDriver() {
  Finalize();
  view_.directDraw_.reset();
}

void TDisplayViewDriver::Finalize() {
  view_.clipper_.reset();
  view_.palette_.reset();
  view_.backSurface_.reset();
  view_.primarySurface_.reset();
}

void TDisplayViewDriverBlt::Initialize() {
  TDirectDraw* draw = view_.directDraw_.get();
  view_.primarySurface_ = std::make_unique<TDirectDrawSurface>(draw);
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (!view_.primarySurface_->CreateSurface(desc))
    throw EDisplayViewError(Format(kSCannotMade, "Primary Surface"));
  view_.backSurface_ = std::make_unique<TDirectDrawSurface>(draw);

  view_.clipper_ = std::make_unique<TDirectDrawClipper>(draw);
  view_.clipper_->SetHandle(view_.window_);
  view_.primarySurface_->SetClipper(view_.clipper_.get());

  PALETTEENTRY entries[256];
  view_.BuildPaletteEntries(view_.ColorTable, entries);
  DWORD caps = DDPCAPS_8BIT | DDPCAPS_INITIALIZE;
  if (view_.effectiveOptions_ & doAllowPalette256) caps |= DDPCAPS_ALLOW256;
  view_.palette_ = std::make_unique<TDirectDrawPalette>(draw, caps, entries);
  view_.primarySurface_->SetPalette(view_.palette_.get());  // refused above 8 bits; that is fine

  view_.InitializeSurfaceStep();
}

bool TDisplayViewDriverBlt::SetSize(int width, int height) {
  view_.surfaceWidth_ = std::max(width, 1);
  view_.surfaceHeight_ = std::max(height, 1);
  if (view_.surfaceEventFired_) {
    view_.surfaceEventFired_ = false;
    view_.DoFinalizeSurface();
  }
  view_.InitializeSurfaceStep();
  view_.surfaceEventFired_ = true;
  view_.DoInitializeSurface();
  return true;
}

RECT TDisplayViewDriverBlt::Destination() const {
  POINT p{0, 0};
  ClientToScreen(view_.window_, &p);
  TDirectDrawSurface& back = *view_.backSurface_;
  if (view_.effectiveOptions_ & doStretch) return RECT{p.x, p.y, p.x + view_.Width(), p.y + view_.Height()};
  const int width = back.Width() * view_.presentScale_, height = back.Height() * view_.presentScale_;
  if (view_.effectiveOptions_ & doCenter) {
    // Integer division truncates toward zero, also for a surface wider than the control.
    p.x += (view_.Width() - width) / 2;
    p.y += (view_.Height() - height) / 2;
  }
  return RECT{p.x, p.y, p.x + width, p.y + height};
}

void TDisplayViewDriverBlt::Flip() {
  RECT dest = Destination();
  TDirectDraw& draw = *view_.directDraw_;
  if (view_.effectiveOptions_ & doWaitVBlank)
    draw.SetLastResult(draw.IDraw7()->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr));
  TDirectDrawSurface& back = *view_.backSurface_;
  RECT source = back.ClientRect();
  DDBLTFX fx{};
  fx.dwSize = sizeof fx;
  TDirectDrawSurface& primary = *view_.primarySurface_;
  primary.SetLastResult(primary.ISurface()->Blt(&dest, back.ISurface(), &source, DDBLT_WAIT, &fx));
  CountPath(PathCounters.Presents);
}

// ---------------------------------------------------------------- the control

TCustomDisplayView::TCustomDisplayView()
    : effectiveOptions_(EffectiveOptionsOf(kDefaultOptions)), options_(kDefaultOptions) {
  GetSystemPaletteEntries(TWindowDC(nullptr).Get(), 0, 256, ColorTable);
  std::copy(std::begin(ColorTable), std::end(ColorTable), DefaultColorTable);
}

TCustomDisplayView::~TCustomDisplayView() {
  Guarded([&] { Finalize(); });
  hook_.reset();
  if (window_ && IsWindow(window_)) {
    UnbindObject<TCustomDisplayView>(window_);
    DestroyWindow(window_);
  }
}

HWND TCustomDisplayView::CreateWnd(HWND form, int left, int top, int width, int height) {
  RegisterWindowClass(kDisplayViewClass, &ObjectWindowProc<TCustomDisplayView>, CS_HREDRAW | CS_VREDRAW);
  window_ = CreateWindowExW(0, kDisplayViewClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, left, top,
                            width, height, form, nullptr, GetModuleHandleW(nullptr), this);
  if (!window_) throw EDisplayViewError(Format(kSCannotMade, "Display View"));

  hook_.reset();
  parentForm_ = form ? GetAncestor(form, GA_ROOT) : nullptr;
  if (parentForm_)
    hook_ = std::make_unique<TControlSubClass>(parentForm_, Bind(this, &TCustomDisplayView::FormHook));

  loading_ = false;
  if (autoSize_) {
    surfaceWidth_ = Width() / presentScale_;
    surfaceHeight_ = Height() / presentScale_;
  }
  if (AutoInitialize && !hook_) Initialize();
  return window_;
}

int TCustomDisplayView::Width() const {
  RECT r{0, 0, 100, 100};
  if (window_) GetClientRect(window_, &r);
  return r.right - r.left;
}

int TCustomDisplayView::Height() const {
  RECT r{0, 0, 100, 100};
  if (window_) GetClientRect(window_, &r);
  return r.bottom - r.top;
}

void TCustomDisplayView::SetAutoSize(bool value) {
  if (value == autoSize_) return;
  autoSize_ = value;
  if (autoSize_ && !loading_) SetSize(Width() / presentScale_, Height() / presentScale_);
}

void TCustomDisplayView::Place(const RECT& bounds, int scale) {
  presentScale_ = std::clamp(scale, 1, 8);
  if (!window_) return;
  const bool wasLoading = loading_;
  loading_ = true;  // the size follows the scale here, not the other way round
  TDeferred restore([&] { loading_ = wasLoading; });
  SetWindowPos(window_, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
               bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, FALSE);
}

void TCustomDisplayView::SetPresentScale(int scale) {
  presentScale_ = std::clamp(scale, 1, 8);
  if (autoSize_ && !loading_) SetSize(Width() / presentScale_, Height() / presentScale_);
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

void TCustomDisplayView::SetOptions(TDisplayViewOptions options) {
  options_ = options;
  if (initialized_) {
    constexpr TDisplayViewOptions kLive = doWaitVBlank | doStretch | doCenter;
    effectiveOptions_ = static_cast<TDisplayViewOptions>((effectiveOptions_ & ~kLive) | (options & kLive));
    if (!(effectiveOptions_ & do3D))
      effectiveOptions_ &=
          static_cast<TDisplayViewOptions>(~(doRetainedMode | doHardware | doSelectDriver | doZBuffer));
  } else {
    effectiveOptions_ = EffectiveOptionsOf(options);
  }
}

int TCustomDisplayView::SurfaceWidth() const {
  return backSurface_ && backSurface_->ISurface() ? backSurface_->Width() : surfaceWidth_;
}

int TCustomDisplayView::SurfaceHeight() const {
  return backSurface_ && backSurface_->ISurface() ? backSurface_->Height() : surfaceHeight_;
}

void TCustomDisplayView::SetSurfaceWidth(int value) {
  if (loading_)
    surfaceWidth_ = value;
  else
    SetSize(value, SurfaceHeight());
}

void TCustomDisplayView::SetSurfaceHeight(int value) {
  if (loading_)
    surfaceHeight_ = value;
  else
    SetSize(SurfaceWidth(), value);
}

void TCustomDisplayView::DoFinalize() {
  if (OnFinalize) OnFinalize(this);
}
void TCustomDisplayView::DoFinalizeSurface() {
  if (OnFinalizeSurface) OnFinalizeSurface(this);
}
void TCustomDisplayView::DoInitialize() {
  if (OnInitialize) OnInitialize(this);
}
void TCustomDisplayView::DoInitializeSurface() {
  if (OnInitializeSurface) OnInitializeSurface(this);
}
void TCustomDisplayView::DoInitializing() {
  if (OnInitializing) OnInitializing(this);
}
void TCustomDisplayView::DoRestoreSurface() {
  if (OnRestoreSurface) OnRestoreSurface(this);
}

void TCustomDisplayView::Initialize() {
  initializeCalled_ = true;
  Finalize();
  if (!parentForm_) throw EDisplayViewError(kSFormNotFound);
  try {
    DoInitializing();
    updating_ = true;
    TDeferred clearUpdating([this] { updating_ = false; });
    resourcesHeld_ = true;
    // Without full screen the copying driver is the one there is.
    driver_ = std::make_unique<TDisplayViewDriverBlt>(*this);
    SetCooperativeLevel();
    if (effectiveOptions_ & doFullScreen)
      throw EDisplayViewError(
          Format(kSDisplayModeCannotChange, display_.Width(), display_.Height(), display_.BitCount()));
    if (autoSize_) {
      surfaceWidth_ = Width() / presentScale_;
      surfaceHeight_ = Height() / presentScale_;
    }
    driver_->Initialize();
  } catch (...) {
    Finalize();
    ScheduleRecovery();
    throw;
  }
  initialized_ = true;
  initializeEventFired_ = true;
  DoInitialize();
  surfaceEventFired_ = true;
  DoInitializeSurface();
  Restore();
}

void TCustomDisplayView::Finalize() {
  if (!resourcesHeld_) return;
  if (backSurface_ && backSurface_->ISurface()) {
    surfaceWidth_ = backSurface_->Width();
    surfaceHeight_ = backSurface_->Height();
  }
  display_.ClearModes();
  updating_ = true;
  std::exception_ptr error;
  if (surfaceEventFired_) {
    surfaceEventFired_ = false;
    try {
      DoFinalizeSurface();
    } catch (...) {
      error = std::current_exception();
    }
  }
  if (initializeEventFired_) {
    initializeEventFired_ = false;
    try {
      DoFinalize();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  resourcesHeld_ = false;
  initialized_ = false;
  effectiveOptions_ = EffectiveOptionsOf(options_);
  driver_.reset();
  updating_ = false;
  if (error) std::rethrow_exception(error);
}

bool TCustomDisplayView::SurfaceCheck() {
  if (!initialized_ || updating_ || !primarySurface_ || !primarySurface_->ISurface()) return false;
  if (primarySurface_->IsLost() != DDERR_SURFACELOST && backSurface_->IsLost() != DDERR_SURFACELOST)
    return true;
  Restore();
  bool restored = initialized_ && primarySurface_->IsLost() == DD_OK && backSurface_->IsLost() == DD_OK;
  if (!restored) ScheduleRecovery();
  return restored;
}

// A picture that cannot come back by a restore (a surface refused after a change of
// colour depth, an initialisation that failed) would stay dead until a restart: the
// control starts afresh instead, once a second until it draws again. Only the first
// failure is reported.
void TCustomDisplayView::ScheduleRecovery() {
  if (recoveryPending_ || !window_ || !parentForm_) return;
  recoveryPending_ = SetTimer(window_, kRecoveryTimer, kRecoveryInterval, nullptr) != 0;
}

void TCustomDisplayView::Recover() {
  if (updating_) return;  // busy: the next tick
  if (!CanDraw()) {
    try {
      Initialize();
    } catch (const std::exception&) {
      // Reported when it first failed; the next tick tries again.
    }
  }
  if (CanDraw()) {
    KillTimer(window_, kRecoveryTimer);
    recoveryPending_ = false;
  }
}

bool TCustomDisplayView::CanDraw() {
  return initialized_ && !updating_ && backSurface_ && backSurface_->ISurface() && SurfaceCheck();
}

void TCustomDisplayView::Restore() {
  if (!initialized_ || updating_) return;
  updating_ = true;
  TDeferred clearUpdating([this] { updating_ = false; });
  if (!primarySurface_->Restore() || !backSurface_->Restore()) return;
  primarySurface_->Fill(0);  // the clipper keeps this inside the control's window
  backSurface_->Fill(0);
  primarySurface_->SetPalette(palette_.get());
  backSurface_->SetPalette(palette_.get());
  LoadPalette(DefaultColorTable);
  TDeferred reload([this] { LoadPalette(ColorTable); });
  DoRestoreSurface();
}

void TCustomDisplayView::Flip() {
  if (!initialized_ || updating_ || !SurfaceCheck()) return;
  driver_->Flip();
  if (OnPresent) OnPresent(this);
}

void TCustomDisplayView::SetSize(int width, int height) {
  if ((width == SurfaceWidth() && height == SurfaceHeight()) || updating_) return;
  if (!initialized_) {
    surfaceWidth_ = width;
    surfaceHeight_ = height;
    return;
  }
  try {
    if (!driver_->SetSize(width, height)) return;
  } catch (...) {
    Finalize();
    throw;
  }
}

void TCustomDisplayView::SetCooperativeLevel() {
  HWND window = parentForm_ ? parentForm_ : window_;
  DWORD level = DDSCL_NORMAL;
  if (effectiveOptions_ & doFullScreen) {
    level = DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE | DDSCL_ALLOWMODEX;
    if (effectiveOptions_ & doNoWindowChange) level |= DDSCL_NOWINDOWCHANGES;
    if (effectiveOptions_ & doAllowReboot) level |= DDSCL_ALLOWREBOOT;
  }
  directDraw_->SetLastResult(directDraw_->IDraw()->SetCooperativeLevel(window, level));
}

void TCustomDisplayView::InitializeSurfaceStep() {
  backSurface_->Release();
  effectiveOptions_ &= static_cast<TDisplayViewOptions>(~doSystemMemory);
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  desc.dwWidth = static_cast<DWORD>(std::max(surfaceWidth_, 1));
  desc.dwHeight = static_cast<DWORD>(std::max(surfaceHeight_, 1));
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  if (options_ & doSystemMemory) desc.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
  if (effectiveOptions_ & do3D) desc.ddsCaps.dwCaps |= DDSCAPS_3DDEVICE;
  if (!backSurface_->CreateSurface(desc)) {
    desc.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
    if (!backSurface_->CreateSurface(desc)) throw EDisplayViewError(Format(kSCannotMade, "Surface"));
  }
  if (!(backSurface_->SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY))
    effectiveOptions_ |= doSystemMemory;
  backSurface_->SetPalette(palette_.get());
  backSurface_->Fill(0);
}

void TCustomDisplayView::BuildPaletteEntries(const PALETTEENTRY (&table)[256],
                                             PALETTEENTRY (&entries)[256]) const {
  std::copy(std::begin(table), std::end(table), entries);
  if (!(effectiveOptions_ & doAllowPalette256)) {
    PALETTEENTRY system[256] = {};
    GetSystemPaletteEntries(TWindowDC(nullptr).Get(), 0, 256, system);
    std::copy(system, system + 10, entries);
    std::copy(system + 246, system + 256, entries + 246);
  }
  for (PALETTEENTRY& e : entries) e.peFlags = kPaletteEntryFlags;
}

void TCustomDisplayView::LoadPalette(const PALETTEENTRY (&table)[256]) {
  if (!initialized_ || !palette_) return;
  PALETTEENTRY entries[256];
  BuildPaletteEntries(table, entries);
  palette_->SetEntries(entries);
}

bool TCustomDisplayView::PaletteChanged(bool foreground) {
  // Only a palette display can have taken the surfaces' colours away; on a true-colour
  // display a restore would merely blank the picture at every activation.
  bool paletteDisplay = (GetDeviceCaps(TWindowDC(nullptr).Get(), RASTERCAPS) & RC_PALETTE) != 0;
  if (!foreground || !initialized_ || !paletteDisplay) return false;
  Restore();
  return true;
}

void TCustomDisplayView::Paint() {
  {
    const TPaintDC dc(window_);
    const TGdiObject brush(CreateSolidBrush(Color));
    RECT client;
    GetClientRect(window_, &client);
    ::FillRect(dc.Get(), &client, static_cast<HBRUSH>(brush.Get()));
  }
  if (!initialized_) return;
  // A repaint shows the picture at once: no wait for the vertical blank.
  TDisplayViewOptions saved = effectiveOptions_ & doWaitVBlank;
  effectiveOptions_ &= static_cast<TDisplayViewOptions>(~doWaitVBlank);
  TDeferred putBack([this, saved] { effectiveOptions_ |= saved; });
  Flip();
}

LRESULT TCustomDisplayView::FormHook(TControlSubClass& hook, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      Guarded([&] { Finalize(); });
      return hook.CallPrevious(message, wParam, lParam);
    case WM_WINDOWPOSCHANGED: {
      LRESULT result = hook.CallPrevious(message, wParam, lParam);
      auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (pos && (pos->flags & SWP_SHOWWINDOW) && AutoInitialize && !initializeCalled_) {
        Guarded([&] { Initialize(); });
      }
      return result;
    }
    case WM_QUERYNEWPALETTE:
      if (PaletteChanged(true)) return TRUE;
      return hook.CallPrevious(message, wParam, lParam);
    default:
      return hook.CallPrevious(message, wParam, lParam);
  }
}

LRESULT TCustomDisplayView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      if (initialized_ && !updating_) {
        clipper_->SetHandle(window_);
        SetCooperativeLevel();
      }
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint fills the background itself
    case WM_TIMER:
      if (wParam != kRecoveryTimer) break;
      Recover();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_SIZE:
      if (autoSize_ && !updating_ && !loading_)
        SetSize(LOWORD(lParam) / presentScale_, HIWORD(lParam) / presentScale_);
      return 0;
    case WM_CONTEXTMENU:
      if (OnContextPopup) {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (lParam == -1) {  // from the keyboard: under the control's top-left corner
          p = POINT{0, 0};
          ClientToScreen(window_, &p);
        }
        OnContextPopup(p.x, p.y);
        return 0;
      }
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

}  // namespace ts
