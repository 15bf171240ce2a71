#pragma once
// The screen message dialog: a short text shown on the instrument's screen at a
// position and for a number of seconds.

#include "control/DialogForm.h"
#include "ui/Spin.h"
#include "ui/StdCtrls.h"

namespace ts {

class TUSBMessageForm : public TDialogForm {
 public:
  TEdit USBMessageMaskEdit;
  TLabel Label1;
  TSpinEdit XSpinEdit;
  TLabel Label2;
  TSpinEdit YSpinEdit;
  TLabel Label3;
  TSpinEdit TimeSpinEdit;
  TSpeedButton USBMessageSpeedButton;

  void USBMessageSpeedButtonClick(TObject* Sender);

 protected:
  void DefineWindow() override;
};

extern TUSBMessageForm* USBMessageForm;

}  // namespace ts
