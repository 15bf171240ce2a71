#pragma once
// The owners of what Windows hands out: kernel handles, GDI objects, icons, device
// contexts and COM interfaces; and C streams. Each is move-only, so one owner frees it, once, on
// every path. Nothing outside this header closes, deletes or releases by hand.

#include <windows.h>

#include <cstdio>
#include <utility>

namespace ts {

// One owned value of a kind that Traits knows how to free.
template <class Traits>
class TOwned {
 public:
  using TValue = typename Traits::TValue;
  TOwned() = default;
  explicit TOwned(TValue value) : value_(value) {}
  ~TOwned() { Reset(); }
  TOwned(TOwned&& other) noexcept : value_(std::exchange(other.value_, TValue{})) {}
  TOwned& operator=(TOwned&& other) noexcept {
    if (this != &other) {
      Reset();
      value_ = std::exchange(other.value_, TValue{});
    }
    return *this;
  }
  TOwned(const TOwned&) = delete;
  TOwned& operator=(const TOwned&) = delete;

  TValue Get() const { return value_; }
  explicit operator bool() const { return Traits::Valid(value_); }
  // Frees what is held and takes value instead.
  void Reset(TValue value = TValue{}) {
    if (Traits::Valid(value_)) Traits::Free(value_);
    value_ = value;
  }
  // Frees what is held and answers whether that worked: a file's last writes
  // can fail there.
  bool Close() { return !Traits::Valid(value_) || Traits::Free(std::exchange(value_, TValue{})); }
  // Gives the value up without freeing it.
  TValue Detach() { return std::exchange(value_, TValue{}); }

 private:
  TValue value_{};
};

struct THandleTraits {
  using TValue = HANDLE;
  static bool Valid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
  static bool Free(HANDLE h) { return CloseHandle(h) != 0; }
};
struct TGdiTraits {
  using TValue = HGDIOBJ;
  static bool Valid(HGDIOBJ h) { return h != nullptr; }
  static bool Free(HGDIOBJ h) { return DeleteObject(h) != 0; }
};
struct TIconTraits {
  using TValue = HICON;
  static bool Valid(HICON h) { return h != nullptr; }
  static bool Free(HICON h) { return DestroyIcon(h) != 0; }
};
struct TMemoryDCTraits {
  using TValue = HDC;
  static bool Valid(HDC h) { return h != nullptr; }
  static bool Free(HDC h) { return DeleteDC(h) != 0; }
};

struct TMenuTraits {
  using TValue = HMENU;
  static bool Valid(HMENU h) { return h != nullptr; }
  static bool Free(HMENU h) { return DestroyMenu(h) != 0; }
};
struct TLocalTraits {
  using TValue = HLOCAL;
  static bool Valid(HLOCAL h) { return h != nullptr; }
  static bool Free(HLOCAL h) { return LocalFree(h) == nullptr; }
};
struct TEnhMetafileTraits {
  using TValue = HENHMETAFILE;
  static bool Valid(HENHMETAFILE h) { return h != nullptr; }
  static bool Free(HENHMETAFILE h) { return DeleteEnhMetaFile(h) != 0; }
};

struct TStdioTraits {
  using TValue = FILE*;
  static bool Valid(FILE* f) { return f != nullptr; }
  static bool Free(FILE* f) { return std::fclose(f) == 0; }
};

// A kernel handle: a file, a pipe, an event, a thread, a process, a token.
using TWinHandle = TOwned<THandleTraits>;
// A pen, a brush, a font, a bitmap, a region or a palette.
using TGdiObject = TOwned<TGdiTraits>;
using TIconHandle = TOwned<TIconTraits>;
// A device context made with CreateCompatibleDC.
using TMemoryDC = TOwned<TMemoryDCTraits>;
using TEnhMetafile = TOwned<TEnhMetafileTraits>;
// What the system allocated for the caller from the local heap: a text, a
// security descriptor.
using TLocalMemory = TOwned<TLocalTraits>;
// A file opened with fopen.
using TStdioFile = TOwned<TStdioTraits>;
// A menu that no window holds: a window destroys the menu it is given itself.
using TMenuHandle = TOwned<TMenuTraits>;

// A device information set. It is freed through the function given, as the link
// reaches the setup library through a table it resolves at run time.
class TDevInfoList {
 public:
  using TDestroy = BOOL(WINAPI*)(void*);
  TDevInfoList(void* set, TDestroy destroy) : set_(set), destroy_(destroy) {}
  ~TDevInfoList() {
    if (*this) destroy_(set_);
  }
  TDevInfoList(TDevInfoList&& other) noexcept
      : set_(std::exchange(other.set_, INVALID_HANDLE_VALUE)), destroy_(other.destroy_) {}
  TDevInfoList& operator=(TDevInfoList&&) = delete;
  TDevInfoList(const TDevInfoList&) = delete;
  TDevInfoList& operator=(const TDevInfoList&) = delete;
  void* Get() const { return set_; }
  explicit operator bool() const { return set_ && set_ != INVALID_HANDLE_VALUE && destroy_; }

 private:
  void* set_;
  TDestroy destroy_;
};

// A window's device context (the screen's for nullptr), given back when it goes.
class TWindowDC {
 public:
  explicit TWindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~TWindowDC() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  TWindowDC(const TWindowDC&) = delete;
  TWindowDC& operator=(const TWindowDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// The device context of a WM_PAINT, ended when it goes.
class TPaintDC {
 public:
  explicit TPaintDC(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  ~TPaintDC() { EndPaint(window_, &paint_); }
  TPaintDC(const TPaintDC&) = delete;
  TPaintDC& operator=(const TPaintDC&) = delete;
  HDC Get() const { return dc_; }
  const PAINTSTRUCT& Paint() const { return paint_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// One reference of a COM interface. Move-only: a copy would hide who releases.
template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  explicit TComPtr(T* adopted) : p_(adopted) {}
  TComPtr(TComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  TComPtr& operator=(TComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  ~TComPtr() { Reset(); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // For out parameters: drops the current reference first.
  T** Receive() {
    Reset();
    return &p_;
  }
  template <class U>
  TComPtr<U> Query(REFIID iid) const {
    void* out = nullptr;
    if (p_ && SUCCEEDED(p_->QueryInterface(iid, &out)) && out) return TComPtr<U>(static_cast<U*>(out));
    return TComPtr<U>();
  }

 private:
  T* p_ = nullptr;
};

}  // namespace ts
