// The interface identifiers of DirectDraw are defined here, once, as nothing of
// DirectDraw is linked: <initguid.h> must come before <ddraw.h>.
// clang-format off
#include <windows.h>
#include <initguid.h>
#include <ddraw.h>
// clang-format on

#include "screen/DDrawUnit.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "screen/DDrawConsts.h"
#include "ui/PathCounters.h"

namespace ts {
namespace {

constexpr char kDDrawLibrary[] = "DDraw.dll";

template <class T>
void Unregister(std::vector<T*>& list, T* item) {
  auto it = std::find(list.rbegin(), list.rend(), item);
  if (it != list.rend()) list.erase(std::next(it).base());
}

// The object, made through DirectDrawCreateEx in DirectX 7 mode, else through
// DirectDrawCreate; null, with the result, when it cannot be made.
TComPtr<IDirectDraw> NewDirectDraw(GUID* device, bool directX7Mode, HRESULT& result) {
  TComPtr<IDirectDraw> draw;
  if (directX7Mode) {
    auto create = LoadPlatformFunction<decltype(&DirectDrawCreateEx)>(kDDrawLibrary, "DirectDrawCreateEx");
    TComPtr<IDirectDraw7> draw7;
    result = create(device, reinterpret_cast<void**>(draw7.Receive()), IID_IDirectDraw7, nullptr);
    if (result == DD_OK && draw7) draw = draw7.Query<IDirectDraw>(IID_IDirectDraw);
  } else {
    auto create = LoadPlatformFunction<decltype(&DirectDrawCreate)>(kDDrawLibrary, "DirectDrawCreate");
    result = create(device, draw.Receive(), nullptr);
    if (result != DD_OK) draw.Reset();
  }
  return draw;
}

}  // namespace

// ---------------------------------------------------------------- TDirectDrawHeadStart

TDirectDrawHeadStart::TDirectDrawHeadStart(bool directX7Mode) : directX7Mode_(directX7Mode) {
  thread_ = std::thread([this] {
    try {
      HRESULT result = DD_OK;
      made_ = NewDirectDraw(nullptr, directX7Mode_, result);
    } catch (...) {
      // Nothing made: the TDirectDraw makes its own and reports what fails.
    }
  });
}

TDirectDrawHeadStart::~TDirectDrawHeadStart() {
  if (thread_.joinable()) thread_.join();
}

TComPtr<IDirectDraw> TDirectDrawHeadStart::Take(bool directX7Mode) {
  if (thread_.joinable()) thread_.join();
  if (directX7Mode != directX7Mode_) return {};
  return std::move(made_);
}

// ---------------------------------------------------------------- TDirectDraw

TDirectDraw::TDirectDraw(GUID* device, bool directX7Mode, TDirectDrawHeadStart* headStart) {
  driverCaps_.dwSize = sizeof driverCaps_;
  helCaps_.dwSize = sizeof helCaps_;
  if (headStart && !device) draw_ = headStart->Take(directX7Mode);
  if (!draw_) {
    HRESULT result = DD_OK;
    draw_ = NewDirectDraw(device, directX7Mode, result);
    SetLastResult(result);
  }
  if (!draw_) throw EDirectDrawError(Format(kSCannotInitialize, "DirectDraw"));
  if (directX7Mode) {
    draw7_ = draw_.Query<IDirectDraw7>(IID_IDirectDraw7);
    draw4_ = draw_.Query<IDirectDraw4>(IID_IDirectDraw4);
    if (!draw7_ || !draw4_) throw EDirectDrawError(kSNecessaryDirectX7);
  } else {
    draw4_ = draw_.Query<IDirectDraw4>(IID_IDirectDraw4);
    if (!draw4_) throw EDirectDrawError(kSNecessaryDirectX6);
  }
  SetLastResult(draw_->GetCaps(&driverCaps_, &helCaps_));
}

TDirectDraw::~TDirectDraw() {
  // What its makers left behind is released newest first; each Orphan takes the
  // wrapper off its list.
  while (!surfaces_.empty()) surfaces_.back()->Orphan();
  while (!palettes_.empty()) palettes_.back()->Orphan();
  while (!clippers_.empty()) clippers_.back()->Orphan();
}

// ---------------------------------------------------------------- TDirectDrawSurfaceCanvas

HDC TDirectDrawSurfaceCanvas::Handle() {
  if (!dc_) {
    IDirectDrawSurface* surface = surface_.ISurface();
    if (!surface) throw EDirectDrawSurfaceError(Format(kSNotMade, "IDirectDrawSurface"));
    HDC dc = nullptr;
    surface_.SetLastResult(surface->GetDC(&dc));
    if (surface_.LastResult() == DD_OK) dc_ = dc;
  }
  return dc_;
}

void TDirectDrawSurfaceCanvas::ReleaseCanvas() {
  if (!dc_) return;
  HDC dc = std::exchange(dc_, nullptr);
  if (IDirectDrawSurface* surface = surface_.ISurface()) surface_.SetLastResult(surface->ReleaseDC(dc));
}

void TDirectDrawSurfaceCanvas::CopyRect(HDC target, const RECT& dest, const RECT& source) {
  HDC dc = Handle();
  if (!dc) throw Exception(kSCanvasNoDrawing);
  int oldMode = SetStretchBltMode(target, COLORONCOLOR);
  StretchBlt(target, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, dc, source.left,
             source.top, source.right - source.left, source.bottom - source.top, SRCCOPY);
  SetStretchBltMode(target, oldMode);
}

// ---------------------------------------------------------------- TDirectDrawSurface

TDirectDrawSurface::TDirectDrawSurface(TDirectDraw* owner) : owner_(owner) {
  if (owner_) owner_->surfaces_.push_back(this);
}

TDirectDrawSurface::~TDirectDrawSurface() { Orphan(); }

void TDirectDrawSurface::Orphan() {
  if (canvas_) canvas_->ReleaseCanvas();
  Attach(TComPtr<IDirectDrawSurface>());
  if (owner_) Unregister(owner_->surfaces_, this);
  owner_ = nullptr;
}

void TDirectDrawSurface::Attach(TComPtr<IDirectDrawSurface> surface) {
  if (surface.Get() == surface_.Get() && surface) {
    surface.Reset();  // the same interface: keep ours, drop the extra reference
    return;
  }
  if (!surface && !surface_) return;
  wrongMode_ = false;
  // A device context must not outlive the surface it was taken from.
  if (canvas_) canvas_->ReleaseCanvas();
  if (lockCount_ > 0 && surface_) surface_->Unlock(lockDesc_.lpSurface);
  surface7_.Reset();
  surface4_.Reset();
  surface_.Reset();
  hasClipper_ = false;
  lockCount_ = 0;
  desc_ = DDSURFACEDESC{};
  if (!surface) return;

  surface_ = std::move(surface);
  surface4_ = surface_.Query<IDirectDrawSurface4>(IID_IDirectDrawSurface4);
  if (owner_ && owner_->IDraw7()) surface7_ = surface_.Query<IDirectDrawSurface7>(IID_IDirectDrawSurface7);
  TComPtr<IDirectDrawClipper> clipper;
  hasClipper_ = surface_->GetClipper(clipper.Receive()) == DD_OK && clipper;
  desc_.dwSize = sizeof desc_;
  SetLastResult(surface_->GetSurfaceDesc(&desc_));
  if (LastResult() != DD_OK) {
    desc_ = DDSURFACEDESC{};
    desc_.dwSize = sizeof desc_;
  }
}

bool TDirectDrawSurface::CreateSurface(const DDSURFACEDESC& desc) {
  Attach(TComPtr<IDirectDrawSurface>());
  if (!owner_ || !owner_->IDraw()) return false;
  DDSURFACEDESC copy = desc;
  TComPtr<IDirectDrawSurface> made;
  HRESULT result = owner_->IDraw()->CreateSurface(&copy, made.Receive(), nullptr);
  owner_->SetLastResult(result);
  SetLastResult(result);
  if (result != DD_OK || !made) return false;
  Attach(std::move(made));
  DDCOLORKEY key{0, 0};
  SetLastResult(surface_->SetColorKey(DDCKEY_SRCBLT, &key));
  return true;
}

void TDirectDrawSurface::SetSize(int width, int height) {
  if (width <= 0 || height <= 0) {
    Release();
    return;
  }
  DDSURFACEDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  desc.dwWidth = static_cast<DWORD>(width);
  desc.dwHeight = static_cast<DWORD>(height);
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  if (systemMemory_) desc.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
  if (CreateSurface(desc)) return;
  if (!(desc.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY)) {
    desc.ddsCaps.dwCaps = (desc.ddsCaps.dwCaps & ~DDSCAPS_VIDEOMEMORY) | DDSCAPS_SYSTEMMEMORY;
    if (CreateSurface(desc)) {
      systemMemory_ = true;
      return;
    }
  }
  throw EDirectDrawSurfaceError(Format(kSCannotMade, "Surface"));
}

bool TDirectDrawSurface::Lock(const RECT* rect, DDSURFACEDESC& desc) {
  if (!surface_ || lockCount_ > 0) return false;
  lockDesc_ = DDSURFACEDESC{};
  lockDesc_.dwSize = sizeof lockDesc_;
  bool whole =
      !rect || (rect->left == 0 && rect->top == 0 && rect->right == Width() && rect->bottom == Height());
  RECT copy = rect ? *rect : RECT{};
  SetLastResult(surface_->Lock(whole ? nullptr : &copy, &lockDesc_, DDLOCK_WAIT, nullptr));
  if (LastResult() != DD_OK) return false;
  lockCount_ = 1;
  desc = lockDesc_;
  return true;
}

void TDirectDrawSurface::Unlock() {
  if (lockCount_ <= 0) return;
  if (--lockCount_ == 0 && surface_) SetLastResult(surface_->Unlock(lockDesc_.lpSurface));
}

void TDirectDrawSurface::SetPixel(int x, int y, uint32_t value) {
  if (!surface_ || x < 0 || x >= Width() || y < 0 || y >= Height()) return;
  DDSURFACEDESC locked{};
  if (!Lock(nullptr, locked)) return;
  TDeferred unlock([this] { Unlock(); });
  auto* row = static_cast<uint8_t*>(locked.lpSurface) + static_cast<ptrdiff_t>(y) * locked.lPitch;
  switch (locked.ddpfPixelFormat.dwRGBBitCount) {
    case 1: {
      uint8_t mask = static_cast<uint8_t>(0x80 >> (x % 8));
      row[x / 8] = value ? (row[x / 8] | mask) : (row[x / 8] & ~mask);
      break;
    }
    case 4: {
      uint8_t& b = row[x / 2];
      b = (x % 2 == 0) ? static_cast<uint8_t>((b & 0x0F) | ((value & 0x0F) << 4))
                       : static_cast<uint8_t>((b & 0xF0) | (value & 0x0F));
      break;
    }
    case 8:
      row[x] = static_cast<uint8_t>(value);
      break;
    case 16: {
      uint16_t v = static_cast<uint16_t>(value);
      std::memcpy(row + 2 * x, &v, 2);
      break;
    }
    case 24:
      row[3 * x] = static_cast<uint8_t>(value);
      row[3 * x + 1] = static_cast<uint8_t>(value >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(value >> 16);
      break;
    case 32:
      std::memcpy(row + 4 * x, &value, 4);
      break;
    default:
      break;
  }
}

bool TDirectDrawSurface::Draw(int x, int y, const RECT& source, DWORD flags, TDirectDrawSurface* from) {
  if (!surface_) return false;
  // A copy from nothing is refused here: some DirectDraw implementations crash on it.
  if (!from || !from->ISurface()) {
    SetLastResult(DDERR_INVALIDPARAMS);
    return false;
  }
  RECT rect = source;
  // Negative positions wrap to huge unsigned values, which BltFast refuses.
  SetLastResult(
      surface_->BltFast(static_cast<DWORD>(x), static_cast<DWORD>(y), from->ISurface(), &rect, flags));
  CountPath(PathCounters.Blits);
  return LastResult() == DD_OK;
}

void TDirectDrawSurface::FillRect(const RECT& rect, uint32_t color) {
  if (!surface_) return;
  DDBLTFX fx{};
  fx.dwSize = sizeof fx;
  fx.dwFillColor = color;
  RECT r{std::max<LONG>(rect.left, 0), std::max<LONG>(rect.top, 0), std::min<LONG>(rect.right, Width()),
         std::min<LONG>(rect.bottom, Height())};
  if (r.left >= r.right || r.top >= r.bottom) return;
  SetLastResult(surface_->Blt(&r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx));
}

bool TDirectDrawSurface::Fill(uint32_t color) {
  if (!surface_) return false;
  DDBLTFX fx{};
  fx.dwSize = sizeof fx;
  fx.dwFillColor = color;
  SetLastResult(surface_->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx));
  return LastResult() == DD_OK;
}

bool TDirectDrawSurface::Restore() {
  if (!surface_) return false;
  SetLastResult(wrongMode_ ? DDERR_WRONGMODE : surface_->Restore());
  return LastResult() == DD_OK;
}

HRESULT TDirectDrawSurface::IsLost() {
  if (!surface_) return DD_OK;
  HRESULT result = wrongMode_ ? DDERR_SURFACELOST : surface_->IsLost();
  SetLastResult(result);
  return result;
}

bool TDirectDrawSurface::SetClipper(TDirectDrawClipper* clipper) {
  if (!surface_) return false;
  SetLastResult(surface_->SetClipper(clipper ? clipper->IClipper() : nullptr));
  if (LastResult() == DD_OK) hasClipper_ = clipper && clipper->IClipper();
  return LastResult() == DD_OK;
}

bool TDirectDrawSurface::SetPalette(TDirectDrawPalette* palette) {
  if (!surface_) return false;
  SetLastResult(surface_->SetPalette(palette ? palette->IPalette() : nullptr));
  return LastResult() == DD_OK;
}

TDirectDrawSurfaceCanvas& TDirectDrawSurface::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TDirectDrawSurfaceCanvas>(*this);
  return *canvas_;
}

// ---------------------------------------------------------------- TDirectDrawClipper

TDirectDrawClipper::TDirectDrawClipper(TDirectDraw* owner) : owner_(owner) {
  if (!owner_ || !owner_->IDraw()) throw EDirectDrawClipperError(Format(kSCannotMade, "Clipper"));
  HRESULT result = owner_->IDraw()->CreateClipper(0, clipper_.Receive(), nullptr);
  owner_->SetLastResult(result);
  SetLastResult(result);
  if (result != DD_OK || !clipper_) throw EDirectDrawClipperError(Format(kSCannotMade, "Clipper"));
  owner_->clippers_.push_back(this);
}

TDirectDrawClipper::~TDirectDrawClipper() { Orphan(); }

void TDirectDrawClipper::Orphan() {
  clipper_.Reset();
  if (owner_) Unregister(owner_->clippers_, this);
  owner_ = nullptr;
}

bool TDirectDrawClipper::SetHandle(HWND window) {
  if (!clipper_) return false;
  SetLastResult(clipper_->SetHWnd(0, window));
  return LastResult() == DD_OK;
}

// ---------------------------------------------------------------- TDirectDrawPalette

TDirectDrawPalette::TDirectDrawPalette(TDirectDraw* owner, DWORD caps, const PALETTEENTRY (&entries)[256])
    : owner_(owner) {
  if (owner_) owner_->palettes_.push_back(this);
  if (!owner_ || !owner_->IDraw()) return;
  PALETTEENTRY copy[256];
  std::copy(std::begin(entries), std::end(entries), copy);
  HRESULT result = owner_->IDraw()->CreatePalette(caps, copy, palette_.Receive(), nullptr);
  owner_->SetLastResult(result);
  SetLastResult(result);
}

TDirectDrawPalette::~TDirectDrawPalette() { Orphan(); }

void TDirectDrawPalette::Orphan() {
  palette_.Reset();
  if (owner_) Unregister(owner_->palettes_, this);
  owner_ = nullptr;
}

bool TDirectDrawPalette::SetEntries(const PALETTEENTRY (&entries)[256]) {
  if (!palette_) return false;
  PALETTEENTRY copy[256];
  std::copy(std::begin(entries), std::end(entries), copy);
  SetLastResult(palette_->SetEntries(0, 0, 256, copy));
  return LastResult() == DD_OK;
}

}  // namespace ts
