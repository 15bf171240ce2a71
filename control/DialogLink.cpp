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

}  // namespace ts
