#include "ui/Controls.h"

#include <stdexcept>

#include <commctrl.h>

#include "ui/Application.h"
#include "ui/Dpi.h"
#include "ui/ErrorReport.h"
#include "ui/Forms.h"
#include "ui/WindowClass.h"

namespace ts {
namespace {

constexpr wchar_t kObjectProp[] = L"ts.Object";
constexpr wchar_t kOwnClass[] = L"TS4170Window";

}  // namespace

const wchar_t* OwnWindowClass() {
  WNDCLASSEXW wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = TWinControl::OwnWindowProc;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kOwnClass;
  RegisterWindowClass(wc);
  return kOwnClass;
}

TWinControl::~TWinControl() {
  if (handle_) DestroyWindow(handle_);
}

TWinControl* TWinControl::FromHandle(HWND handle) {
  return handle ? static_cast<TWinControl*>(GetPropW(handle, kObjectProp)) : nullptr;
}

TForm* TWinControl::Form() const {
  const TWinControl* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<TForm*>(const_cast<TWinControl*>(c));
}

void TWinControl::Create(const TControlDef& def, TWinControl* parent) {
  def_ = def;
  parent_ = parent;
  HWND h = CreateWindowFor(def, parent ? parent->Handle() : nullptr);
  if (!h) throw std::runtime_error("Cannot create window");
  if (def.Flags & kDisabled) EnableWindow(h, FALSE);
  const int dpi = Form() ? Form()->Dpi() : kDesignDpi;
  SetFont(def.Flags & kBold ? Application->BoldFont(dpi) : Application->DefaultFont(dpi));
  Created();
}

HWND TWinControl::CreateWindowFor(const TControlDef& def, HWND parent) {
  return CreateOwn(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, def, parent);
}

HWND TWinControl::CreateOwn(DWORD style, DWORD exStyle, const TControlDef& def, HWND parent) {
  return CreateWindowExW(exStyle, OwnWindowClass(), def.Caption, style, def.Left, def.Top, def.Width,
                         def.Height, parent, nullptr, GetModuleHandleW(nullptr), this);
}

HWND TWinControl::CreateStandard(const wchar_t* className, DWORD style, DWORD exStyle, const TControlDef& def,
                                 HWND parent) {
  HWND h = CreateWindowExW(exStyle, className, def.Caption, style, def.Left, def.Top, def.Width, def.Height,
                           parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (h) Attach(h);
  return h;
}

void TWinControl::Attach(HWND handle) {
  handle_ = handle;
  SetPropW(handle, kObjectProp, this);
  SetWindowSubclass(handle, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
  subclassed_ = true;
}

void TWinControl::Detach() {
  if (!handle_) return;
  if (subclassed_) RemoveWindowSubclass(handle_, SubclassProc, 1);
  RemovePropW(handle_, kObjectProp);
  subclassed_ = false;
  handle_ = nullptr;
}

bool TWinControl::Enabled() const { return handle_ && IsWindowEnabled(handle_); }
void TWinControl::SetEnabled(bool enabled) {
  if (handle_) EnableWindow(handle_, enabled);
}
bool TWinControl::Visible() const { return handle_ && IsWindowVisible(handle_); }

std::wstring TWinControl::Text() const {
  if (!handle_) return {};
  int n = GetWindowTextLengthW(handle_);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(handle_, s.data(), n + 1);
  s.resize(static_cast<size_t>(n > 0 ? n : 0));
  return s;
}

void TWinControl::SetText(const std::wstring& text) {
  if (handle_) SetWindowTextW(handle_, text.c_str());
}

void TWinControl::SetFont(HFONT font) {
  if (handle_) SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void TWinControl::Click() {
  if (def_.OnClick) def_.OnClick(this);
}

LRESULT TWinControl::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return subclassed_ ? DefSubclassProc(handle_, msg, wParam, lParam)
                     : DefWindowProcW(handle_, msg, wParam, lParam);
}

LRESULT TWinControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefaultProc(msg, wParam, lParam);
}

LRESULT TWinControl::Dispatch(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (lParam) {
        TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam));
        if (child && child != this) {
          child->Command(HIWORD(wParam));
          return 0;
        }
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      TWinControl* child = FromHandle(header->hwndFrom);
      if (child && child != this) return child->Notify(header);
      break;
    }
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      if (item->CtlType != ODT_MENU) {
        if (TWinControl* child = FromHandle(item->hwndItem)) {
          child->DrawItem(item);
          return TRUE;
        }
      }
      break;
    }
    default:
      break;
  }
  return WndProc(msg, wParam, lParam);
}

LRESULT CALLBACK TWinControl::OwnWindowProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  TWinControl* self = FromHandle(h);
  if (!self && msg == WM_NCCREATE) {
    // The object arrives with the creation parameters, before any message it handles.
    self = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (self) {
      self->handle_ = h;
      SetPropW(h, kObjectProp, self);
    }
  }
  if (!self) return DefWindowProcW(h, msg, wParam, lParam);
  LRESULT result = Guarded([&] { return self->Dispatch(msg, wParam, lParam); }, LRESULT{0});
  if (msg == WM_NCDESTROY) {
    RemovePropW(h, kObjectProp);
    self->handle_ = nullptr;
  }
  return result;
}

LRESULT CALLBACK TWinControl::SubclassProc(HWND, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
  auto* self = reinterpret_cast<TWinControl*>(data);
  LRESULT result = Guarded([&] { return self->Dispatch(msg, wParam, lParam); }, LRESULT{0});
  if (msg == WM_NCDESTROY) self->Detach();
  return result;
}

}  // namespace ts
