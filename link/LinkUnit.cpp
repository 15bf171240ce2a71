#include "link/LinkUnit.h"

#include <algorithm>
#include <string>
#include <vector>

#include "link/HidPipeBinding.h"
#include "link/HidProduction.h"
#include "link/LinkHost.h"
#include "link/LinkReports.h"
#include "ui/Application.h"
#include "ui/Cp1251.h"
#include "ui/Dpi.h"

namespace ts {

TLinkForm* LinkForm = nullptr;
int32_t LogLineCount = 0;

namespace {

// How long a device's reader waits at a time before it looks whether to stop:
// the instrument's and a recording's alike.
constexpr int32_t kReadWaitMs = 10;

// The system's message for an error number, trimmed; empty when there is none or
// it does not fit the buffer.
std::string SystemMessage(uint32_t error) {
  wchar_t buffer[256];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                           buffer, 256, nullptr);
  if (n == 0) return {};
  return TrimSystemMessage(Narrow(std::wstring(buffer, n)));
}

}  // namespace

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
  // The controller, configured in this order: attaching OnDeviceChange reports the
  // first device change at once, which selects the instrument and writes the first
  // log line; attaching OnDeviceData starts its read thread.
  HidDevCntrl = CreateHidDeviceController(this);
  HidDevCntrl->SetDevThreadSleepTime(10);
  HidDevCntrl->SetOnArrival(Bind(this, &TLinkForm::HidDevCntrlArrival));
  HidDevCntrl->SetOnEnumerate(Bind(this, &TLinkForm::HidDevCntrlEnumerate));
  HidDevCntrl->SetOnDeviceChange(Bind(this, &TLinkForm::HidDevCntrlDeviceChange));
  HidDevCntrl->SetOnDeviceData(Bind(this, &TLinkForm::HidDevCntrlDeviceData));
  HidDevCntrl->SetOnDeviceDataError(Bind(this, &TLinkForm::HidDevCntrlDeviceDataError));
  HidDevCntrl->SetOnDeviceUnplug(Bind(this, &TLinkForm::HidDevCntrlDeviceUnplug));
  HidDevCntrl->SetOnRemoval(Bind(this, &TLinkForm::HidDevCntrlRemoval));
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

void TLinkForm::FormCreate(TObject*) {
  LogLineCount = 0;
  // A pipe served by another user is refused; the operator reads why here.
  SetVirtualInstrumentNotice([this](const std::string& line) { AddLogLine(line); });
}

void TLinkForm::FormActivate(TObject*) {}

TLinkForm::~TLinkForm() {
  if (LinkForm == this) LinkForm = nullptr;
  SetVirtualInstrumentNotice(nullptr);
  // The device and its reader go while the handlers they call still exist.
  try {
    if (CurrentDevice && HidDevCntrl) HidDevCntrl->ReturnDevice(CurrentDevice);
  } catch (...) {
  }
  HidDevCntrl.reset();
}

void TLinkForm::FormClose(TObject*, TCloseAction&) {
  Closed = true;
  ShowsOther = false;
  if (!CurrentDevice) return;
  CurrentDevice->DiscardInput();
  HidDevCntrl->ReturnDevice(CurrentDevice);
}

void TLinkForm::ShowOther(std::unique_ptr<THidPnPInfo> PnPInfo) {
  if (Closed) return;
  HidDevCntrl->ReturnDevice(CurrentDevice);  // the instrument, or a device shown before
  ShowsOther = HidDevCntrl->CheckOutUnlisted(CurrentDevice, std::move(PnPInfo));
  if (ShowsOther) {
    CurrentDevice->SetThreadSleepTime(kReadWaitMs);
  } else {
    HidDevCntrl->OfferDevices();
  }
}

void TLinkForm::ShowInstrument() {
  if (!ShowsOther) return;
  ShowsOther = false;
  HidDevCntrl->ReturnDevice(CurrentDevice);
  // An instrument that came or went meanwhile is taken as a device change would
  // have taken it.
  if (!Closed) HidDevCntrl->OfferDevices();
}

void TLinkForm::HidDevCntrlArrival(THidDevice*) { AddLogLine("Arrival TS4170"); }

void TLinkForm::HidDevCntrlRemoval(THidDevice*) { AddLogLine("Removal TS4170"); }

bool TLinkForm::HidDevCntrlEnumerate(THidDevice* HidDev, int32_t Idx) {
  if (!Closed && HidDev->Attributes().VendorID == kInstrumentVendorID &&
      HidDev->Attributes().ProductID == kInstrumentProductID && HidDevCntrl->CheckOutAt(CurrentDevice, Idx)) {
    ReadsLost = false;
    CurrentDevice->SetThreadSleepTime(kReadWaitMs);
    CurrentDevice->SetNumOverlappedBuffers(256);
    CurrentDevice->SetNumInputBuffers(256);
    // Such a device gets no reader (there is nothing to read); say why.
    if (const uint16_t length = CurrentDevice->HIDCaps().InputReportByteLength; length < 2) {
      AddLogLine("Ошибка: длина входного отчёта " + std::to_string(length) + " байт, чтение не начато");
    }
  }
  return CurrentDevice == nullptr;
}

void TLinkForm::HidDevCntrlDeviceChange(TObject*) {
  if (CurrentDevice && !CurrentDevice->IsPluggedIn()) HidDevCntrl->ReturnDevice(CurrentDevice);
  if (!CurrentDevice) HidDevCntrl->OfferDevices();
  if (HidDevCntrl->CountMatching(kInstrumentVendorID, kInstrumentProductID) > 0 && CurrentDevice &&
      !ReadsLost) {
    LinkHost->SetStatusPanel(0, L"ТС4170 подключен !!!");
    AddLogLine("DeviceChange ТС4170 подключен");
  } else {
    LinkHost->SetStatusPanel(0, L"Нет связи с прибором ???");
    AddLogLine("DeviceChange Нет связи с прибором");
  }
}

void TLinkForm::HidDevCntrlDeviceData(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data,
                                      uint16_t Size) {
  if (HidDev != CurrentDevice) return;
  for (const std::string& line : ReadErrors.Success()) AddLogLine(line);
  if (ReadsLost) {
    ReadsLost = false;
    LinkHost->SetStatusPanel(0, L"ТС4170 подключен !!!");
  }
  LinkHost->SetStatusPanel(2, PacketWideText(Size));
  ReceivedBytes += Size;
  LinkHost->RenderScreenReport(Data, Size);
  LinkHost->RecordReport(HidDev, ReportID, Data, Size);
}

void TLinkForm::HidDevCntrlDeviceDataError(THidDevice* HidDev, uint32_t Error) {
  for (const std::string& line : ReadErrors.Error(Error, SystemMessage(Error))) AddLogLine(line);
  // The reader has stopped: until a new one reads, the picture is no live one.
  if (HidDev == CurrentDevice && !ShowsOther && IsDeviceGoneError(Error)) {
    ReadsLost = true;
    LinkHost->SetStatusPanel(0, L"Нет связи с прибором ???");
  }
}

void TLinkForm::HidDevCntrlDeviceUnplug(THidDevice* HidDev) {
  if (HidDev == CurrentDevice) AddLogLine("Unplug TS4170");
}

void TLinkForm::SpeedButton1Click(TObject*) {
  AddLogLine(" ");
  // The instrument's properties only: a device shown in its place is no instrument.
  if (!Current()) {
    AddLogLine("Прибор ТС4170 не подключен");
  } else {
    SpeedButton1.SetEnabled(false);
    for (const std::string& line : PropertyListing(*Current())) AddLogLine(line);
    SpeedButton1.SetEnabled(true);
  }
  AddLogLine(" ");
}

void TLinkForm::ClearMemoBitBtnClick(TObject*) { Memo.Clear(); }

void TLinkForm::SpeedButtonClick(TObject*) { Hide(); }

void TLinkForm::AddLogLine(const std::string& text) {
  if (LogLineCount > 1000) {
    Memo.Clear();
    LogLineCount = 0;
    Memo.Add(L" Очистка сообщений");
  }
  ++LogLineCount;
  Memo.Add(Widen(LogLine(LogLineCount, text)));
}

void TLinkForm::WriteOutputReport(const TOutputReport& report, const wchar_t* failText) {
  if (!Current()) return;
  CurrentDevice->DiscardInput();
  const uint32_t length = CurrentDevice->HIDCaps().OutputReportByteLength;
  // A device with longer output reports gets the report padded with zeros;
  // nothing past the report is ever read.
  std::vector<uint8_t> padded(report.begin(), report.end());
  padded.resize(std::max<size_t>(length, padded.size()), 0);
  uint32_t written = 0;
  if (!CurrentDevice->WriteReport(padded.data(), length, written)) Application->ShowMessage(failText);
}

void TLinkForm::SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3) {
  WriteOutputReport(BuildCommandReport(Code, Arg1, Arg2, Arg3), L"Не прошла команда в прибор ТС4170.");
}

void TLinkForm::SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text) {
  WriteOutputReport(BuildMessageReport(X, Y, Time, Utf16ToCp1251(Text)),
                    L"Не прошла команда выдачи сообщения в прибор ТС4170.");
}

}  // namespace ts
