#pragma once
// The application object: title, hidden owner window, forms, message loop, the
// error report and the plain message box.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/Bound.h"
#include "ui/Cp1251.h"
#include "ui/WinHandle.h"

namespace ts {

class TForm;

class TApplication {
 public:
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Creates the hidden owner window. It is a real top-level window (not
  // message-only), so device-change broadcasts reach it.
  void Initialize();
  void SetTitle(const std::wstring& title) { title_ = title; }
  const std::wstring& Title() const { return title_; }
  HWND Handle() const { return window_; }

  // Sees every queued message of the loop before dialog navigation and dispatch;
  // answering true consumes it.
  TMethod<bool(MSG& Message)> OnMessage;

  // Creates a form of type F from args and stores it in ref; the first form
  // created becomes the main form. Forms are destroyed in reverse order of creation.
  template <class F, class... Args>
  void CreateForm(F*& ref, Args&&... args) {
    auto form = std::make_unique<F>(std::forward<Args>(args)...);
    ref = form.get();
    forms_.push_back(std::move(form));
    if (!mainForm_) mainForm_ = ref;
    ref->Load();
  }
  TForm* MainForm() const { return mainForm_; }

  // Runs the message loop until Terminate; then destroys the forms.
  void Run();
  void Terminate();
  // Dispatches the waiting messages until none is left.
  void ProcessMessages();
  // Destroys every form, last created first.
  void DestroyForms();

  void ShowException(const std::exception& error);
  // A plain message box: no icon, one "OK" button, the title as caption.
  void ShowMessage(const std::wstring& text);

  // The toolkit's default font ("MS Sans Serif", 8 pt) and its bold variant.
  HFONT DefaultFont();
  HFONT BoldFont();
  // The same fonts for a window laid out at `dpi`; at 96 dpi the ones above.
  HFONT DefaultFont(int dpi);
  HFONT BoldFont(int dpi);

  // The window that message boxes are owned by: the active window of the process,
  // else the main form.
  HWND MessageOwner() const;

  // Keeps the hidden window's tool-window style while display forms exist.
  void DisplayFormCreated();
  void DisplayFormDestroyed();

 private:
  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool HandleMessage(MSG& msg);

  std::wstring title_;
  HWND window_ = nullptr;
  std::vector<std::unique_ptr<TForm>> forms_;
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
  int displayForms_ = 0;
  TGdiObject font_;
  TGdiObject boldFont_;
  struct TScaledFont {
    int Dpi;
    bool Bold;
    TGdiObject Font;
  };
  std::vector<TScaledFont> scaledFonts_;
};

extern TApplication* Application;

}  // namespace ts
