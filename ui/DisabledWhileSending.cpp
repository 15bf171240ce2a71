#include "ui/DisabledWhileSending.h"

#include <utility>

namespace ts {

TDisabledWhileSending::TDisabledWhileSending(TWinControl& button, std::function<void()> beforeEnable)
    : button_(button),
      beforeEnable_(std::move(beforeEnable)),
      hadFocus_(button.Handle() && GetFocus() == button.Handle()) {
  button_.SetEnabled(false);
}

TDisabledWhileSending::~TDisabledWhileSending() {
  if (beforeEnable_) beforeEnable_();
  button_.SetEnabled(true);
  // Disabling took the focus away; a button that had it, in a window still
  // active, gets it back so the keyboard goes on working there.
  HWND h = button_.Handle();
  if (hadFocus_ && h && !GetFocus() && GetActiveWindow() == GetAncestor(h, GA_ROOT)) SetFocus(h);
}

}  // namespace ts
