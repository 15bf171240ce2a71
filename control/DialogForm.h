#pragma once
// What the three dialogs share as windows: the keyboard focus goes to a field when
// the window is activated, not to the bare window, and comes back to the field
// that had it.

#include "link/InstrumentLink.h"
#include "ui/DisabledWhileSending.h"
#include "ui/Forms.h"

namespace ts {

class TDialogForm : public TForm {
 public:
  // Where the dialog's button sends; nothing is sent without one.
  TDialogLink* Link = nullptr;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  HWND lastFocus_ = nullptr;
};

}  // namespace ts
