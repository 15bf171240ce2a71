#include "control/DialogLink.h"

#include "link/LinkUnit.h"

namespace ts {
namespace {

class TLinkFormPath : public TDialogLink {
 public:
  void SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3) override {
    LinkForm->SendCommand(Code, Arg1, Arg2, Arg3);
  }
  void SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text) override {
    LinkForm->SendScreenMessage(X, Y, Time, Text);
  }
};

TLinkFormPath linkFormPath;
TDialogLink* current = &linkFormPath;

}  // namespace

TDialogLink& DialogLink() { return *current; }

void SetDialogLink(TDialogLink* link) { current = link ? link : &linkFormPath; }

TDisabledWhileSending::TDisabledWhileSending(TWinControl& button)
    : button_(button), hadFocus_(button.Handle() && GetFocus() == button.Handle()) {
  button_.SetEnabled(false);
}

TDisabledWhileSending::~TDisabledWhileSending() {
  button_.SetEnabled(true);
  // Disabling took the focus away; a button that had it, in a window still
  // active, gets it back so the keyboard goes on working there.
  HWND h = button_.Handle();
  if (hadFocus_ && h && !GetFocus() && GetActiveWindow() == GetAncestor(h, GA_ROOT)) SetFocus(h);
}

}  // namespace ts
