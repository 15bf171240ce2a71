#include "control/USBMessageUnit.h"

#include <cstdint>
#include <string>

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
        {
            // clang-format off
            {.Control = &USBMessageMaskEdit, .Left = 8, .Top = 8, .Width = 281, .Height = 21, .Caption = L"Сообщение на экране прибора", .MaxLength = 29},
            {.Control = &Label1, .Left = 16, .Top = 44, .Caption = L"X = ", .Flags = kBold},
            {.Control = &XSpinEdit, .Left = 48, .Top = 40, .Width = 49, .Height = 22, .Min = 0, .Max = 90, .Value = 50, .MaxLength = 2},
            {.Control = &Label2, .Left = 16, .Top = 68, .Caption = L"Y = ", .Flags = kBold},
            {.Control = &YSpinEdit, .Left = 48, .Top = 64, .Width = 49, .Height = 22, .Min = 0, .Max = 190, .Value = 60, .MaxLength = 2},
            {.Control = &Label3, .Left = 128, .Top = 44, .Caption = L"Время (с) = ", .Flags = kBold},
            {.Control = &TimeSpinEdit, .Left = 208, .Top = 40, .Width = 49, .Height = 22, .Min = 1, .Max = 20, .Value = 4, .MaxLength = 2},
            {.Control = &USBMessageSpeedButton, .Left = 185, .Top = 68, .Width = 104, .Height = 22, .Caption = L"Послать", .Hint = L"Послать сообщение", .Glyph = TGlyph::Message, .OnClick = Bind(this, &TUSBMessageForm::USBMessageSpeedButtonClick)},
            // clang-format on
        });
}

void TUSBMessageForm::USBMessageSpeedButtonClick(TObject*) {
  TDisabledWhileSending busy(USBMessageSpeedButton);
  int time = TimeSpinEdit.ValueInRange();
  std::wstring text = USBMessageMaskEdit.Text();
  int y = YSpinEdit.ValueInRange();
  int x = XSpinEdit.ValueInRange();
  if (Link)
    Link->SendScreenMessage(static_cast<uint16_t>(x), static_cast<uint16_t>(y), time,
                            std::u16string(text.begin(), text.end()));
}

}  // namespace ts
