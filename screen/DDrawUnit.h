#pragma once
// Wrappers over DirectDraw: the DirectDraw object, surfaces, clippers, palettes and
// a GDI canvas on a surface. DirectDraw itself is loaded at run time.

#include <ddraw.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "screen/DDrawBase.h"
#include "ui/Exception.h"

namespace ts {

class EDirectXError : public Exception {
 public:
  using Exception::Exception;
};
class EDirectDrawError : public EDirectXError {
 public:
  using EDirectXError::EDirectXError;
};
class EDirectDrawSurfaceError : public EDirectDrawError {
 public:
  using EDirectDrawError::EDirectDrawError;
};
class EDirectDrawClipperError : public EDirectDrawError {
 public:
  using EDirectDrawError::EDirectDrawError;
};
class EDirectDrawPaletteError : public EDirectDrawError {
 public:
  using EDirectDrawError::EDirectDrawError;
};

class TDirectDrawSurface;
class TDirectDrawClipper;
class TDirectDrawHeadStart;
class TDirectDrawPalette;

// One DirectDraw object. Every wrapper made on it registers itself; whatever is
// still registered when the object goes is released (surfaces, then palettes, then
// clippers, newest first) and left holding nothing, so its maker can still free it.
class TDirectDraw : public TDirectX {
 public:
  // Takes headStart's object when it was made in the same mode.
  TDirectDraw(GUID* device, bool directX7Mode, TDirectDrawHeadStart* headStart = nullptr);
  ~TDirectDraw() override;
  TDirectDraw(const TDirectDraw&) = delete;
  TDirectDraw& operator=(const TDirectDraw&) = delete;

  IDirectDraw* IDraw() const { return draw_.Get(); }
  IDirectDraw4* IDraw4() const { return draw4_.Get(); }
  IDirectDraw7* IDraw7() const { return draw7_.Get(); }
  const DDCAPS& DriverCaps() const { return driverCaps_; }

  size_t SurfaceCount() const { return surfaces_.size(); }
  size_t ClipperCount() const { return clippers_.size(); }
  size_t PaletteCount() const { return palettes_.size(); }

 private:
  friend class TDirectDrawSurface;
  friend class TDirectDrawClipper;
  friend class TDirectDrawPalette;

  TComPtr<IDirectDraw> draw_;
  TComPtr<IDirectDraw4> draw4_;
  TComPtr<IDirectDraw7> draw7_;
  DDCAPS driverCaps_{};
  DDCAPS helCaps_{};
  std::vector<TDirectDrawClipper*> clippers_;
  std::vector<TDirectDrawPalette*> palettes_;
  std::vector<TDirectDrawSurface*> surfaces_;
};

// Making the first DirectDraw object of a process loads and sets up the graphics
// runtime: the longest single step of the program's start. While a head start
// lives, that runs on a thread of its own, beside the making of the windows, and
// the TDirectDraw given it takes the object it made. Make it on the
// thread that will use DirectDraw, before any TDirectDraw.
class TDirectDrawHeadStart {
 public:
  explicit TDirectDrawHeadStart(bool directX7Mode);
  ~TDirectDrawHeadStart();
  TDirectDrawHeadStart(const TDirectDrawHeadStart&) = delete;
  TDirectDrawHeadStart& operator=(const TDirectDrawHeadStart&) = delete;

 private:
  friend class TDirectDraw;
  // Waits for the thread; the object, once, if the mode is the one it made.
  TComPtr<IDirectDraw> Take(bool directX7Mode);

  bool directX7Mode_;
  TComPtr<IDirectDraw> made_;
  std::thread thread_;
};

// GDI drawing on a surface through the surface's device context. The context is
// taken on first need and must be given back (ReleaseCanvas) before the surface is
// used by DirectDraw again.
class TDirectDrawSurfaceCanvas {
 public:
  explicit TDirectDrawSurfaceCanvas(TDirectDrawSurface& surface) : surface_(surface) {}
  ~TDirectDrawSurfaceCanvas() { ReleaseCanvas(); }
  TDirectDrawSurfaceCanvas(const TDirectDrawSurfaceCanvas&) = delete;
  TDirectDrawSurfaceCanvas& operator=(const TDirectDrawSurfaceCanvas&) = delete;

  // The device context, 0 when the surface refused one. Throws EDirectDrawSurfaceError
  // when the surface wrapper holds no surface.
  HDC Handle();
  void ReleaseCanvas();
  // Copies `source` of this canvas into `dest` of `target`, stretched to fit.
  void CopyRect(HDC target, const RECT& dest, const RECT& source);

 private:
  TDirectDrawSurface& surface_;
  HDC dc_ = nullptr;
};

class TDirectDrawSurface : public TDirectX {
 public:
  explicit TDirectDrawSurface(TDirectDraw* owner);
  ~TDirectDrawSurface() override;
  TDirectDrawSurface(const TDirectDrawSurface&) = delete;
  TDirectDrawSurface& operator=(const TDirectDrawSurface&) = delete;

  TDirectDraw* Owner() const { return owner_; }
  IDirectDrawSurface* ISurface() const { return surface_.Get(); }
  IDirectDrawSurface4* ISurface4() const { return surface4_.Get(); }
  IDirectDrawSurface7* ISurface7() const { return surface7_.Get(); }
  const DDSURFACEDESC& SurfaceDesc() const { return desc_; }

  bool SystemMemory() const { return systemMemory_; }
  void SetSystemMemory(bool value) { systemMemory_ = value; }
  bool HasClipper() const { return hasClipper_; }
  int LockCount() const { return lockCount_; }

  int Width() const { return static_cast<int>(desc_.dwWidth); }
  int Height() const { return static_cast<int>(desc_.dwHeight); }
  RECT ClientRect() const { return RECT{0, 0, Width(), Height()}; }

  bool CreateSurface(const DDSURFACEDESC& desc);
  void SetSize(int width, int height);
  void Release() { Attach(TComPtr<IDirectDrawSurface>()); }

  bool Lock(const RECT* rect, DDSURFACEDESC& desc);
  void Unlock();
  void SetPixel(int x, int y, uint32_t value);
  bool Draw(int x, int y, const RECT& source, DWORD flags, TDirectDrawSurface* from);
  void FillRect(const RECT& rect, uint32_t color);
  bool Fill(uint32_t color);
  bool Restore();
  HRESULT IsLost();
  // From now on this surface acts as after a change of colour depth: lost, and every
  // restore refused with DDERR_WRONGMODE. Tests use it; the platform cannot be made
  // to on demand.
  void SimulateWrongMode() { wrongMode_ = true; }

  bool SetClipper(TDirectDrawClipper* clipper);
  bool SetPalette(TDirectDrawPalette* palette);

  TDirectDrawSurfaceCanvas& Canvas();

 private:
  bool wrongMode_ = false;
  friend class TDirectDraw;
  void Attach(TComPtr<IDirectDrawSurface> surface);
  void Orphan();

  std::unique_ptr<TDirectDrawSurfaceCanvas> canvas_;
  bool hasClipper_ = false;
  TDirectDraw* owner_;
  TComPtr<IDirectDrawSurface> surface_;
  TComPtr<IDirectDrawSurface4> surface4_;
  TComPtr<IDirectDrawSurface7> surface7_;
  bool systemMemory_ = false;
  DDSURFACEDESC desc_{};
  DDSURFACEDESC lockDesc_{};
  int lockCount_ = 0;
};

class TDirectDrawClipper : public TDirectX {
 public:
  // Throws EDirectDrawClipperError when DirectDraw refuses the clipper.
  explicit TDirectDrawClipper(TDirectDraw* owner);
  ~TDirectDrawClipper() override;
  TDirectDrawClipper(const TDirectDrawClipper&) = delete;
  TDirectDrawClipper& operator=(const TDirectDrawClipper&) = delete;

  IDirectDrawClipper* IClipper() const { return clipper_.Get(); }
  bool SetHandle(HWND window);

 private:
  friend class TDirectDraw;
  void Orphan();

  TDirectDraw* owner_;
  TComPtr<IDirectDrawClipper> clipper_;
};

class TDirectDrawPalette : public TDirectX {
 public:
  // Never raises: a refused palette leaves the wrapper empty, seen in LastResult.
  TDirectDrawPalette(TDirectDraw* owner, DWORD caps, const PALETTEENTRY (&entries)[256]);
  ~TDirectDrawPalette() override;
  TDirectDrawPalette(const TDirectDrawPalette&) = delete;
  TDirectDrawPalette& operator=(const TDirectDrawPalette&) = delete;

  IDirectDrawPalette* IPalette() const { return palette_.Get(); }
  bool SetEntries(const PALETTEENTRY (&entries)[256]);

 private:
  friend class TDirectDraw;
  void Orphan();

  TDirectDraw* owner_;
  TComPtr<IDirectDrawPalette> palette_;
};

}  // namespace ts
