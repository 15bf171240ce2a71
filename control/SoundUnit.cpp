#include "control/SoundUnit.h"

namespace ts {

TSoundForm* SoundForm = nullptr;

void TSoundForm::DefineWindow() {
  Build(TFormDef{.Caption = L"Вывод звуковых дорожек ТС4170",
                 .Left = 703,
                 .Top = 182,
                 .ClientWidth = 242,
                 .ClientHeight = 42,
                 .Border = TBorderStyle::Dialog,
                 .BorderIcons = biSystemMenu,
                 .StayOnTop = true,
                 .FontName = L"MS Sans Serif",
                 .FontHeight = 11},
        {});
}

}  // namespace ts
