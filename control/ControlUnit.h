#pragma once

#include "ui/Forms.h"

namespace ts {

class TControlForm : public TForm {
protected:
  void DefineWindow() override;
};

extern TControlForm* ControlForm;

}  // namespace ts
