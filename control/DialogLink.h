#pragma once
// The road from the dialogs to the instrument: the link form's two sends, behind a
// seam that tests can take over to watch what is sent and the buttons around it.

#include <cstdint>
#include <string>

#include "ui/DisabledWhileSending.h"

namespace ts {

class TDialogLink {
 public:
  virtual ~TDialogLink() = default;
  virtual void SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3) = 0;
  virtual void SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text) = 0;
};

// The link form, unless another path has been put in its place.
TDialogLink& DialogLink();
// nullptr puts the link form back.
void SetDialogLink(TDialogLink* link);

}  // namespace ts
