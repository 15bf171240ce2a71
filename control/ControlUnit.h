#pragma once
// The direct control dialog: sets the instrument's gain, screen width and markup
// units, one parameter command per button.

#include "control/DialogForm.h"
#include "ui/ExtCtrls.h"
#include "ui/RadioGroup.h"
#include "ui/Spin.h"
#include "ui/StdCtrls.h"

namespace ts {

class TControlForm : public TDialogForm {
 public:
  TPanel Panel1;
  TLabel Label1;
  TSpinEdit GainSpinEdit;
  TButton SetGainBitBtn;
  TLabel Label2;
  TSpinEdit DWidthSpinEdit;
  TButton ScreenWidthBitBtn;
  TRadioGroup ScrRadioGroup;
  TButton SetScrBitBtn;
  TLabel Label3;
  TSpinEdit DShiftSpinEdit;
  TButton SetDShiftBitBtn;

  void SetGainBitBtnClick(TObject* Sender);
  void ScreenWidthBitBtnClick(TObject* Sender);
  void SetScrBitBtnClick(TObject* Sender);
  void SetDShiftBitBtnClick(TObject* Sender);

 protected:
  void DefineWindow() override;
};

extern TControlForm* ControlForm;

}  // namespace ts
