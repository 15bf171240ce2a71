#pragma once
// The one link from a window of our own class to the object behind it: bound from
// WM_NCCREATE's create parameter (a dialog hook binds on WM_INITDIALOG), found for
// every later message, cleared on WM_NCDESTROY.
// The toolkit's controls keep a named window property instead (ui/Controls.cpp):
// they wrap windows of foreign classes too, whose user data is not ours to take.

#include <windows.h>

#include "ui/ErrorReport.h"

namespace ts {

template <class T>
T* BoundObject(HWND window) {
  return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

inline void BindObject(HWND window, void* object) {
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
}

// Unbinds and hands back what was bound, e.g. for the caller to delete it.
template <class T>
T* UnbindObject(HWND window) {
  return reinterpret_cast<T*>(SetWindowLongPtrW(window, GWLP_USERDATA, 0));
}

// For a window procedure: the object for this message, or null before it is
// bound. On WM_NCDESTROY the object is still returned, for the last time.
template <class T>
T* WindowObject(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    BindObject(window, reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
  } else if (message == WM_NCDESTROY) {
    return UnbindObject<T>(window);
  }
  return BoundObject<T>(window);
}

// The window procedure of a class of ours whose object keeps its window in
// `window_`, from WM_NCCREATE to WM_NCDESTROY, and answers messages in
// HandleMessage; nothing a handler throws crosses the callback. Such a class
// befriends it.
template <class T>
LRESULT CALLBACK ObjectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = WindowObject<T>(window, message, lParam);
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCCREATE) self->window_ = window;
  if (message == WM_NCDESTROY) {
    self->window_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return Guarded([&] { return self->HandleMessage(message, wParam, lParam); }, LRESULT{0});
}

}  // namespace ts
