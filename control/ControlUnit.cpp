#include "control/ControlUnit.h"

#include <cstdint>

#include "protocol/Ts4170Protocol.h"

namespace ts {

TControlForm* ControlForm = nullptr;

namespace {

constexpr uint16_t kSetParameter = TS4170_CMD_PARAMETER;
constexpr uint16_t kGain = TS4170_PARAM_GAIN;
constexpr uint16_t kScreenWidth = TS4170_PARAM_SCREEN_WIDTH;
constexpr uint16_t kMarkupUnits = TS4170_PARAM_UNITS;

// The report field is 16 bits wide; within the field ranges the product fits.
uint16_t Scaled(const TSpinEdit& field, int factor) {
  return static_cast<uint16_t>(field.ValueInRange() * factor);
}

}  // namespace

void TControlForm::DefineWindow() {
  auto click = [this](void (TControlForm::*handler)(TObject*)) { return Bind(this, handler); };
  ScrRadioGroup.SetItems({L"мкс", L"ммH", L"ммX", L"ммН"});  // Latin H, Latin X, Cyrillic Н
  Build(
      TFormDef{.Caption = L"Прямое управление прибором ТС4170",
               .Left = 579,
               .Top = 307,
               .ClientWidth = 376,
               .ClientHeight = 169,
               .Border = TBorderStyle::Dialog,
               .BorderIcons = biSystemMenu,
               .StayOnTop = false,
               .FontName = L"MS Sans Serif",
               .FontHeight = 11},
      {
          // clang-format off
            {.Control = &Panel1, .Left = 0, .Top = 0, .Width = 376, .Height = 169},
            {.Control = &Label1, .Parent = &Panel1, .Left = 16, .Top = 32, .Caption = L"Усиление (дБ)"},
            {.Control = &GainSpinEdit, .Parent = &Panel1, .Left = 104, .Top = 24, .Width = 49, .Height = 22, .Min = 0, .Max = 80, .Value = 44, .MaxLength = 2},
            {.Control = &SetGainBitBtn, .Parent = &Panel1, .Left = 160, .Top = 24, .Width = 33, .Height = 22, .Glyph = TGlyph::Parameters, .OnClick = click(&TControlForm::SetGainBitBtnClick)},
            {.Control = &Label2, .Parent = &Panel1, .Left = 136, .Top = 72, .Caption = L"Ширина экрана (мкс)"},
            {.Control = &DWidthSpinEdit, .Parent = &Panel1, .Left = 256, .Top = 64, .Width = 65, .Height = 22, .Min = 0, .Max = 1900, .Value = 44, .MaxLength = 4},
            {.Control = &ScreenWidthBitBtn, .Parent = &Panel1, .Left = 328, .Top = 64, .Width = 33, .Height = 22, .Glyph = TGlyph::Parameters, .OnClick = click(&TControlForm::ScreenWidthBitBtnClick)},
            {.Control = &ScrRadioGroup, .Parent = &Panel1, .Left = 16, .Top = 64, .Width = 105, .Height = 89, .Caption = L"Разметка экрана", .Value = 0},
            {.Control = &SetScrBitBtn, .Parent = &Panel1, .Left = 80, .Top = 104, .Width = 33, .Height = 22, .Glyph = TGlyph::Parameters, .OnClick = click(&TControlForm::SetScrBitBtnClick)},
            {.Control = &Label3, .Parent = &Panel1, .Left = 136, .Top = 104, .Caption = L"Сдвиг экрана (мкс)"},
            {.Control = &DShiftSpinEdit, .Parent = &Panel1, .Left = 256, .Top = 96, .Width = 65, .Height = 22, .Min = -2, .Max = 98, .Value = 44, .MaxLength = 2},
            {.Control = &SetDShiftBitBtn, .Parent = &Panel1, .Left = 328, .Top = 96, .Width = 33, .Height = 22, .Glyph = TGlyph::Parameters, .OnClick = click(&TControlForm::SetDShiftBitBtnClick)},
          // clang-format on
      });
}

void TControlForm::SetGainBitBtnClick(TObject*) {
  TDisabledWhileSending busy(SetGainBitBtn);
  if (Link) Link->SendCommand(kSetParameter, kGain, Scaled(GainSpinEdit, 100), 0);
}

void TControlForm::ScreenWidthBitBtnClick(TObject*) {
  TDisabledWhileSending busy(ScreenWidthBitBtn);
  if (Link) Link->SendCommand(kSetParameter, kScreenWidth, Scaled(DWidthSpinEdit, 10), 0);
}

void TControlForm::SetScrBitBtnClick(TObject*) {
  TDisabledWhileSending busy(SetScrBitBtn);
  if (Link)
    Link->SendCommand(kSetParameter, kMarkupUnits, static_cast<uint16_t>(ScrRadioGroup.ItemIndex()), 0);
}

// No command for the screen shift exists yet, so the button only shows itself busy.
void TControlForm::SetDShiftBitBtnClick(TObject*) { TDisabledWhileSending busy(SetDShiftBitBtn); }

}  // namespace ts
