#pragma once
// Common ground of the display layer: the wrapper base with its last platform
// result, the run-time library loader, the window-procedure hook, and the
// hand-over of errors that reach a window procedure.

#include <windows.h>

#include <exception>
#include <string>
#include <utility>

#include "ui/Bound.h"
#include "ui/WinHandle.h"

namespace ts {

// Runs a step when the scope ends, however it ends: for the "put it back whatever
// happens" steps of the display layer.
template <class F>
class TDeferred {
 public:
  explicit TDeferred(F f) : f_(f) {}
  ~TDeferred() { f_(); }
  TDeferred(const TDeferred&) = delete;
  TDeferred& operator=(const TDeferred&) = delete;

 private:
  F f_;
};

// Base of the DirectDraw wrappers. Platform failures are not raised: they are kept
// here and in the Boolean result of the operation that met them.
class TDirectX : public TObject {
 public:
  HRESULT LastResult() const { return lastResult_; }
  void SetLastResult(HRESULT result) {
    lastResult_ = result;
    if (result != 0) Check();
  }

 protected:
  virtual void Check() {}

 private:
  HRESULT lastResult_ = 0;
};

// Loads `file` once per process (kept until the process ends) and returns the entry
// point. Throws ts::Exception "<file> not loaded" when either is missing.
FARPROC LoadPlatformFunction(const char* file, const char* function);

template <class F>
F LoadPlatformFunction(const char* file, const char* function) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(LoadPlatformFunction(file, function)));
}

// Puts a handler in front of a window's procedure. The handler decides whether and
// when the displaced procedure runs (CallPrevious). The hook goes when this object
// is destroyed or when the window is, whichever comes first; hooks stacked by others
// on the same window stay intact either way.
class TControlSubClass {
 public:
  using THandler = TMethod<LRESULT(TControlSubClass& hook, UINT message, WPARAM wParam, LPARAM lParam)>;

  TControlSubClass(HWND window, THandler handler);
  ~TControlSubClass();
  TControlSubClass(const TControlSubClass&) = delete;
  TControlSubClass& operator=(const TControlSubClass&) = delete;

  HWND Window() const { return window_; }
  LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR data);
  void Unhook();

  HWND window_;
  THandler handler_;
  bool hooked_ = false;
};

}  // namespace ts
