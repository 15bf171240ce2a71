#pragma once
// Window-backed controls. One window procedure serves every window the toolkit
// makes: it finds the C++ object for the HWND, catches what escapes, and reflects
// WM_COMMAND, WM_NOTIFY and WM_DRAWITEM back to the child control's own object.

#include <windows.h>

#include <string>

#include "ui/Bound.h"

namespace ts {

class TForm;

enum class TGlyph {
  None,
  TriangleLeft,
  TriangleRight,
  ArrowUp,
  ArrowLeft,
  ArrowRight,
  ArrowDown,
  Enter,
  Restart,
  Parameters,
  Message,
  Sound,
  Keypad,
  BlankPage,
  DottedFrame,
};

// Flags of a control in a window definition.
enum : unsigned {
  kBold = 1u << 0,      // bold 8-point window font
  kDisabled = 1u << 1,  // created disabled
  kChecked = 1u << 2,   // check box ticked, radio item selected
  kToggle = 1u << 3,    // speed button in a group of its own where all may be up
  kAlignTop = 1u << 4,  // panel docked to the top of its parent
  kReadOnly = 1u << 5,
};

// One row of a window definition: the control, where it goes and what it shows.
struct TControlDef {
  class TWinControl* Control = nullptr;
  class TWinControl* Parent = nullptr;  // none: the form itself
  int Left = 0, Top = 0, Width = 0, Height = 0;
  const wchar_t* Caption = L"";
  const wchar_t* Hint = L"";
  TGlyph Glyph = TGlyph::None;
  unsigned Flags = 0;
  TNotifyEvent OnClick;
  int Min = 0, Max = 0, Value = 0;  // spin edits
  int MaxLength = 0;                // edits
};

class TWinControl : public TObject {
 public:
  TWinControl() = default;
  ~TWinControl() override;
  TWinControl(const TWinControl&) = delete;
  TWinControl& operator=(const TWinControl&) = delete;

  HWND Handle() const { return handle_; }
  TWinControl* Parent() const { return parent_; }
  TForm* Form() const;
  const TControlDef& Definition() const { return def_; }

  // Creates the window from its definition row.
  void Create(const TControlDef& def, TWinControl* parent);

  bool Enabled() const;
  void SetEnabled(bool enabled);
  bool Visible() const;
  std::wstring Text() const;
  void SetText(const std::wstring& text);
  void SetFont(HFONT font);

  // Runs the click handler of the definition, if any.
  virtual void Click();
  // The form has moved and sized the window for a new dpi; parts that size
  // themselves follow here.
  virtual void LaidOut() {}

  static TWinControl* FromHandle(HWND handle);

 protected:
  // Makes the window; the default makes a window of the toolkit's own class.
  virtual HWND CreateWindowFor(const TControlDef& def, HWND parent);
  // Called after the window exists (fonts, tooltips, control-specific settings).
  virtual void Created() {}

  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);

  // Reflected notifications from the parent window.
  virtual void Command(WORD /*code*/) {}
  virtual LRESULT Notify(NMHDR* /*header*/) { return 0; }
  virtual void DrawItem(DRAWITEMSTRUCT* /*item*/) {}

  // Makes a window of a standard class and subclasses it.
  HWND CreateStandard(const wchar_t* className, DWORD style, DWORD exStyle, const TControlDef& def,
                      HWND parent);
  // Makes a window of the toolkit's own class.
  HWND CreateOwn(DWORD style, DWORD exStyle, const TControlDef& def, HWND parent);
  void Attach(HWND handle);
  void Detach();

  TControlDef def_;
  HWND handle_ = nullptr;
  TWinControl* parent_ = nullptr;
  bool subclassed_ = false;

 public:
  static LRESULT CALLBACK OwnWindowProc(HWND, UINT, WPARAM, LPARAM);

 private:
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
  friend class TForm;
};

// Registers the toolkit's window class once; its name.
const wchar_t* OwnWindowClass();

}  // namespace ts
