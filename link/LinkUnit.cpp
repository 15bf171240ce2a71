#include "link/LinkUnit.h"

#include "ui/Application.h"

namespace ts {

TLinkForm* LinkForm = nullptr;
int32_t LogLineCount = 0;

void TLinkForm::DefineWindow() {
  Build(TFormDef{.Caption = L"События USB ",
                 .Left = 580,
                 .Top = 352,
                 .Width = 393,
                 .Height = 323,
                 .Border = TBorderStyle::SizeToolWin,
                 .BorderIcons = biMinimize | biMaximize,
                 .FontName = L"MS Sans Serif",
                 .FontHeight = 11,
                 .OnCreate = Bind(this, &TLinkForm::FormCreate),
                 .OnClose = Bind(this, &TLinkForm::FormClose),
                 .OnActivate = Bind(this, &TLinkForm::FormActivate)},
        {
            // clang-format off
            {.Control = &Panel1, .Left = 0, .Top = 0, .Width = 385, .Height = 33, .Flags = kAlignTop},
            {.Control = &SpeedButton1, .Parent = &Panel1, .Left = 8, .Top = 3, .Width = 73, .Height = 22, .Caption = L"Свойства", .OnClick = Bind(this, &TLinkForm::SpeedButton1Click)},
            {.Control = &ClearMemoBitBtn, .Parent = &Panel1, .Left = 96, .Top = 3, .Width = 75, .Height = 22, .Caption = L"Очистить", .OnClick = Bind(this, &TLinkForm::ClearMemoBitBtnClick)},
            {.Control = &SpeedButton, .Parent = &Panel1, .Left = 328, .Top = 3, .Width = 55, .Height = 22, .Caption = L"Закрыть", .OnClick = Bind(this, &TLinkForm::SpeedButtonClick)},
            {.Control = &Memo, .Left = 0, .Top = 33, .Width = 385, .Height = 256},
            // clang-format on
        });
  // The memo starts with one empty line.
  Memo.SetText(L"\r\n");
  Arrange();
}

void TLinkForm::Arrange() {
  RECT r;
  GetClientRect(handle_, &r);
  SetWindowPos(Panel1.Handle(), nullptr, 0, 0, r.right, 33, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(Memo.Handle(), nullptr, 0, 33, r.right, r.bottom > 33 ? r.bottom - 33 : 0,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT TLinkForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SIZE && Memo.Handle()) Arrange();
  return TForm::WndProc(msg, wParam, lParam);
}

void TLinkForm::FormCreate(TObject*) { LogLineCount = 0; }

void TLinkForm::FormActivate(TObject*) {}

void TLinkForm::FormClose(TObject*, TCloseAction&) {}

void TLinkForm::SpeedButton1Click(TObject*) {}

void TLinkForm::ClearMemoBitBtnClick(TObject*) { Memo.Clear(); }

void TLinkForm::SpeedButtonClick(TObject*) { Hide(); }

void TLinkForm::AddLogLine(const std::string& text) {
  if (LogLineCount > 1000) {
    Memo.Clear();
    LogLineCount = 0;
    Memo.Add(L" Очистка сообщений");
  }
  ++LogLineCount;
  wchar_t number[16];
  swprintf(number, 16, L"%03d", LogLineCount);
  Memo.Add(std::wstring(number) + L"  " + Widen(text));
}

void TLinkForm::SendCommand(uint16_t, uint16_t, uint16_t, uint16_t) {}

void TLinkForm::SendScreenMessage(uint16_t, uint16_t, int, const std::u16string&) {}

}  // namespace ts
