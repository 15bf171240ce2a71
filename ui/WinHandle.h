#pragma once
// The owners of what Windows hands out: kernel handles, GDI objects, icons, device
// contexts and COM interfaces. Each is move-only, so one owner frees it, once, on
// every path. Nothing outside this header closes, deletes or releases by hand.

#include <windows.h>

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
  // Gives the value up without freeing it.
  TValue Detach() { return std::exchange(value_, TValue{}); }

 private:
  TValue value_{};
};

struct THandleTraits {
  using TValue = HANDLE;
  static bool Valid(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }
  static void Free(HANDLE h) { CloseHandle(h); }
};
struct TGdiTraits {
  using TValue = HGDIOBJ;
  static bool Valid(HGDIOBJ h) { return h != nullptr; }
  static void Free(HGDIOBJ h) { DeleteObject(h); }
};
struct TIconTraits {
  using TValue = HICON;
  static bool Valid(HICON h) { return h != nullptr; }
  static void Free(HICON h) { DestroyIcon(h); }
};
struct TMemoryDCTraits {
  using TValue = HDC;
  static bool Valid(HDC h) { return h != nullptr; }
  static void Free(HDC h) { DeleteDC(h); }
};

struct TEnhMetafileTraits {
  using TValue = HENHMETAFILE;
  static bool Valid(HENHMETAFILE h) { return h != nullptr; }
  static void Free(HENHMETAFILE h) { DeleteEnhMetaFile(h); }
};

// A kernel handle: a file, a pipe, an event, a thread, a process, a token.
using TWinHandle = TOwned<THandleTraits>;
// A pen, a brush, a font, a bitmap, a region or a palette.
using TGdiObject = TOwned<TGdiTraits>;
using TIconHandle = TOwned<TIconTraits>;
// A device context made with CreateCompatibleDC.
using TMemoryDC = TOwned<TMemoryDCTraits>;
using TEnhMetafile = TOwned<TEnhMetafileTraits>;

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
