#pragma once
// Top-level windows built from window definitions.

#include <windows.h>

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "ui/Controls.h"
#include "ui/WinHandle.h"

namespace ts {

enum class TBorderStyle { Single, Dialog, SizeToolWin };
enum class TPosition { Designed, ScreenCenter };
enum class TCloseAction { None, Hide };
enum : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };

using TCloseEvent = TMethod<void(TObject* Sender, TCloseAction& Action)>;

struct TFormDef {
  const wchar_t* Caption = L"";
  int Left = 0, Top = 0;
  int Width = 0, Height = 0;              // outer size, when no client size is given
  int ClientWidth = 0, ClientHeight = 0;  // client size the window is fitted to
  TBorderStyle Border = TBorderStyle::Single;
  unsigned BorderIcons = biSystemMenu;
  TPosition Position = TPosition::Designed;
  bool StayOnTop = false;
  bool Visible = false;
  const wchar_t* FontName = nullptr;  // none: the toolkit's default font
  int FontHeight = 11;
  TNotifyEvent OnCreate;
  TCloseEvent OnClose;
  TNotifyEvent OnActivate;
};

class TMenu;
class TTimer;

class TForm : public TWinControl {
 public:
  ~TForm() override;

  // Builds the window from its definition, runs OnCreate and shows it when the
  // definition marks it visible. Called once by TApplication::CreateForm.
  void Load();
  // Makes the window visible; a visible window stays as it is (not brought up).
  void Show();
  void Hide();
  // Runs the close handling, then hides; closing the main form ends the loop.
  void Close();
  // How many times the close handling has run.
  int CloseCount() const { return closeCount_; }
  // Destroys the window (WM_DESTROY reaches every hook), keeping the object.
  void DestroyHandle();

  HFONT Font() const { return font_; }
  // The dpi the window is laid out at; its definition is at 96 dpi.
  int Dpi() const { return dpi_; }
  // Lays the whole window out again at `dpi`, keeping its top-left corner at
  // `position` when one is given (WM_DPICHANGED).
  void ApplyDpi(int dpi, const POINT* position = nullptr);
  void AddHint(TWinControl* control, const wchar_t* hint);

  // Menus and timers of the form register here for their messages.
  void AttachMenu(TMenu* menu) { menus_.push_back(menu); }
  void AttachTimer(TTimer* timer) { timers_.push_back(timer); }
  void DetachTimer(TTimer* timer);
  // Work that must be finished before the session ends (log-off, shut-down),
  // after which the system may end the process at any moment.
  void AttachSessionEnd(const void* who, TNotifyEvent onEnd) { sessionEnd_.emplace_back(who, onEnd); }
  void DetachSessionEnd(const void* who);

 protected:
  // Lays out the window: calls Build with its definition and component table.
  virtual void DefineWindow() = 0;
  void Build(const TFormDef& def, std::initializer_list<TControlDef> controls);
  virtual DWORD ExStyle() const;
  // Parts the form places outside its component table follow a dpi change here.
  virtual void DpiChanged() {}

  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

  TFormDef form_;

 private:
  void FitClientArea();
  void MakeFont();
  HFONT font_ = nullptr;  // ownFont_'s or the application's
  TGdiObject ownFont_;
  int dpi_ = 96;
  // The component table at 96 dpi, for laying out again at another.
  std::vector<TControlDef> controls_;
  HWND tooltip_ = nullptr;
  int closeCount_ = 0;
  std::vector<TMenu*> menus_;
  std::vector<TTimer*> timers_;
  std::vector<std::pair<const void*, TNotifyEvent>> sessionEnd_;
};

// Form class whose windows carry the application's taskbar button: the main
// window. While one exists the hidden owner window is a tool window.
class TDisplayForm : public TForm {
 public:
  ~TDisplayForm() override;

 protected:
  DWORD ExStyle() const override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  bool counted_ = false;
};

}  // namespace ts
