#include "ui/Application.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/Dpi.h"
#include "ui/ErrorReport.h"
#include "ui/Exception.h"
#include "ui/Forms.h"
#include "ui/WindowClass.h"
#include "ui/WindowObject.h"

namespace ts {

TApplication* Application = nullptr;

namespace {
constexpr wchar_t kAppClass[] = L"TS4170Application";

void ShowApplicationException(const std::exception& error) {
  if (Application) Application->ShowException(error);
}
}  // namespace

TApplication::TApplication() {
  Application = this;
  SetErrorSink(&ShowApplicationException);
}

TApplication::~TApplication() {
  DestroyForms();
  if (window_) DestroyWindow(window_);
  if (Application == this) {
    Application = nullptr;
    SetErrorSink(nullptr);
  }
}

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&icc);
  RegisterWindowClass(kAppClass, &ObjectWindowProc<TApplication>);
  // A zero-sized popup that is never shown: owner of every form.
  CreateWindowExW(0, kAppClass, title_.c_str(), WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU, 0, 0, 0,
                  0, nullptr, nullptr, GetModuleHandleW(nullptr), this);
}

LRESULT TApplication::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window_, message, wParam, lParam);
}

bool TApplication::HandleMessage(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return false;
  }
  if (OnMessage && Guarded([&] { return OnMessage(msg); }, true)) return true;
  // Dialog navigation (Tab, arrows) inside the form that has the message.
  HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (top && top != window_ && IsDialogMessageW(top, &msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

void TApplication::Run() {
  MSG msg;
  while (!terminated_) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      terminated_ = true;
      break;
    }
    HandleMessage(msg);
  }
  DestroyForms();
}

void TApplication::Terminate() {
  if (!terminated_) PostQuitMessage(0);
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (!terminated_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!HandleMessage(msg)) break;
  }
}

void TApplication::DestroyForms() {
  while (!forms_.empty()) {
    // The window first, so its WM_DESTROY finds every part of the form alive.
    forms_.back()->DestroyHandle();
    forms_.pop_back();
  }
  mainForm_ = nullptr;
}

HWND TApplication::MessageOwner() const {
  HWND active = GetActiveWindow();
  if (active) return active;
  return mainForm_ ? mainForm_->Handle() : window_;
}

void TApplication::ShowException(const std::exception& error) {
  auto* own = dynamic_cast<const Exception*>(&error);
  std::string text = ErrorReportText(own ? own->Message() : std::string(error.what()));
  MessageBoxW(MessageOwner(), Widen(text).c_str(), title_.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::ShowMessage(const std::wstring& text) {
  MessageBoxW(MessageOwner(), text.c_str(), title_.c_str(), MB_OK);
}

HFONT TApplication::DefaultFont() {
  if (!font_)
    font_.Reset(CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                            L"MS Sans Serif"));
  return static_cast<HFONT>(font_.Get());
}

HFONT TApplication::BoldFont() {
  if (!boldFont_)
    boldFont_.Reset(CreateFontW(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                L"MS Sans Serif"));
  return static_cast<HFONT>(boldFont_.Get());
}

HFONT TApplication::DefaultFont(int dpi) {
  if (dpi == kDesignDpi) return DefaultFont();
  for (const TScaledFont& f : scaledFonts_)
    if (f.Dpi == dpi && !f.Bold) return static_cast<HFONT>(f.Font.Get());
  HFONT font =
      CreateFontW(-ScaleToDpi(11, dpi), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
  scaledFonts_.push_back({dpi, false, TGdiObject(font)});
  return font;
}

HFONT TApplication::BoldFont(int dpi) {
  if (dpi == kDesignDpi) return BoldFont();
  for (const TScaledFont& f : scaledFonts_)
    if (f.Dpi == dpi && f.Bold) return static_cast<HFONT>(f.Font.Get());
  HFONT font =
      CreateFontW(-ScaleToDpi(11, dpi), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
  scaledFonts_.push_back({dpi, true, TGdiObject(font)});
  return font;
}

void TApplication::DisplayFormCreated() {
  if (displayForms_++ == 0 && window_)
    SetWindowLongPtrW(window_, GWL_EXSTYLE, GetWindowLongPtrW(window_, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
}

void TApplication::DisplayFormDestroyed() {
  if (--displayForms_ == 0 && window_)
    SetWindowLongPtrW(window_, GWL_EXSTYLE, GetWindowLongPtrW(window_, GWL_EXSTYLE) & ~WS_EX_TOOLWINDOW);
}

}  // namespace ts
