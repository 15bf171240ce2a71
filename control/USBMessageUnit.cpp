#include "control/USBMessageUnit.h"

namespace ts {

TUSBMessageForm* USBMessageForm = nullptr;

void TUSBMessageForm::DefineWindow() {
  Build(TFormDef{.Caption = L"Вывод окна сообщения на экран ТС4170",
                 .Left = 406,
                 .Top = 602,
                 .ClientWidth = 295,
                 .ClientHeight = 92,
                 .Border = TBorderStyle::Dialog,
                 .BorderIcons = biSystemMenu,
                 .StayOnTop = false,
                 .FontName = L"MS Sans Serif",
                 .FontHeight = 11},
        {});
}

}  // namespace ts
