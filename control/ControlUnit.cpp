#include "control/ControlUnit.h"

namespace ts {

TControlForm* ControlForm = nullptr;

void TControlForm::DefineWindow() {
  Build(TFormDef{.Caption = L"Прямое управление прибором ТС4170",
                 .Left = 579,
                 .Top = 307,
                 .ClientWidth = 376,
                 .ClientHeight = 169,
                 .Border = TBorderStyle::Dialog,
                 .BorderIcons = biSystemMenu,
                 .StayOnTop = false,
                 .FontName = L"MS Sans Serif",
                 .FontHeight = 11},
        {});
}

}  // namespace ts
