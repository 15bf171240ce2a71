#include "control/SoundUnit.h"

#include <cstdint>

#include "protocol/Ts4170Protocol.h"

namespace ts {

TSoundForm* SoundForm = nullptr;

namespace {
constexpr uint16_t kPlaySound = TS4170_CMD_SOUND;
}

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
        {
            // clang-format off
            {.Control = &SoundSpinEdit, .Left = 8, .Top = 8, .Width = 97, .Height = 22, .Min = 1, .Max = 25, .Value = 3},
            {.Control = &SetSoundSpeedButton, .Left = 128, .Top = 8, .Width = 97, .Height = 22, .Caption = L"Играть", .Hint = L"Проиграть", .Glyph = TGlyph::Sound, .OnClick = Bind(this, &TSoundForm::SetSoundSpeedButtonClick)},
            // clang-format on
        });
}

void TSoundForm::SetSoundSpeedButtonClick(TObject*) {
  TDisabledWhileSending busy(SetSoundSpeedButton);
  if (Link) Link->SendCommand(kPlaySound, static_cast<uint16_t>(SoundSpinEdit.ValueInRange()), 0, 0);
}

}  // namespace ts
