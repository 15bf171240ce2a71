#pragma once

#include "ui/Forms.h"

namespace ts {

class TSoundForm : public TForm {
protected:
  void DefineWindow() override;
};

extern TSoundForm* SoundForm;

}  // namespace ts
