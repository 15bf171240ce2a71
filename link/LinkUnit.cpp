#include "link/LinkUnit.h"

#include <string>

#include "link/LinkReports.h"
#include "ui/Cp1251.h"
#include "ui/Dpi.h"

namespace ts {

TLinkForm* LinkForm = nullptr;

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

void TLinkForm::SetLink(TInstrumentLink& link) {
  link_ = &link;
  link.OnLogLine = Bind(this, &TLinkForm::AddLogLine);
}

void TLinkForm::Arrange() {
  // The button panel's height as the window's table has it, at the window's dpi:
  // its buttons grow with the dpi too.
  const int panel = ScaleToDpi(33, Dpi());
  RECT r;
  GetClientRect(handle_, &r);
  SetWindowPos(Panel1.Handle(), nullptr, 0, 0, r.right, panel, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(Memo.Handle(), nullptr, 0, panel, r.right, r.bottom > panel ? r.bottom - panel : 0,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT TLinkForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_SIZE && Memo.Handle()) Arrange();
  // The operator closing the log only hides it; the instrument is given back on
  // the program's own shutdown alone (Close from the main window).
  if (msg == WM_CLOSE) {
    Hide();
    return 0;
  }
  const LRESULT result = TForm::WndProc(msg, wParam, lParam);
  // A new dpi puts the panel and the memo back at the table's sizes; they fill
  // the window again even where its size stayed the same.
  if (msg == WM_DPICHANGED && Memo.Handle()) Arrange();
  return result;
}

// The link's first line, its first device change, is numbered 001 and the
// numbering starts again after it, as the log has always shown it.
void TLinkForm::FormCreate(TObject*) { restartNumbering_ = true; }

void TLinkForm::FormActivate(TObject*) {}

TLinkForm::~TLinkForm() {
  if (LinkForm == this) LinkForm = nullptr;
}

// The link is closed by the main window; this window only hides.
void TLinkForm::FormClose(TObject*, TCloseAction&) {}

void TLinkForm::SpeedButton1Click(TObject*) {
  AddLogLine(" ");
  // The instrument's properties only: a device shown in its place is no instrument.
  THidDevice* instrument = link_ ? link_->Current() : nullptr;
  if (!instrument) {
    AddLogLine("Прибор ТС4170 не подключен");
  } else {
    SpeedButton1.SetEnabled(false);
    for (const std::string& line : PropertyListing(*instrument)) AddLogLine(line);
    SpeedButton1.SetEnabled(true);
  }
  AddLogLine(" ");
}

void TLinkForm::ClearMemoBitBtnClick(TObject*) { Memo.Clear(); }

void TLinkForm::SpeedButtonClick(TObject*) { Hide(); }

void TLinkForm::AddLogLine(const std::string& text) {
  // Blank lines set listings apart: never folded.
  if (text.find_first_not_of(' ') == std::string::npos) {
    for (const std::string& line : fold_.End()) AddLine(line);
    AddLine(text);
    return;
  }
  for (const std::string& line : fold_.Add(text)) AddLine(line);
}

void TLinkForm::AddLine(const std::string& text) {
  if (logLineCount_ > 1000) {
    Memo.Clear();
    logLineCount_ = 0;
    Memo.Add(L" Очистка сообщений");
  }
  ++logLineCount_;
  Memo.Add(Widen(LogLine(logLineCount_, text)));
  if (restartNumbering_) {
    restartNumbering_ = false;
    logLineCount_ = 0;
  }
}

}  // namespace ts
