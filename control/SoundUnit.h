#pragma once
// The sound track dialog: makes the instrument play one of its numbered tracks.

#include "control/DialogForm.h"
#include "ui/Spin.h"
#include "ui/StdCtrls.h"

namespace ts {

class TSoundForm : public TDialogForm {
 public:
  TSpinEdit SoundSpinEdit;
  TSpeedButton SetSoundSpeedButton;

  void SetSoundSpeedButtonClick(TObject* Sender);

 protected:
  void DefineWindow() override;
};

extern TSoundForm* SoundForm;

}  // namespace ts
