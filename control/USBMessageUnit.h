#pragma once

#include "ui/Forms.h"

namespace ts {

class TUSBMessageForm : public TForm {
protected:
  void DefineWindow() override;
};

extern TUSBMessageForm* USBMessageForm;

}  // namespace ts
