#include "link/InstrumentLink.h"

#include <algorithm>

#include "link/HidProduction.h"
#include "ui/Application.h"
#include "ui/Cp1251.h"
#include "ui/SystemError.h"

namespace ts {

namespace {

// How long a device's reader waits at a time before it looks whether to stop:
// the instrument's and a recording's alike.
constexpr int32_t kReadWaitMs = 10;

}  // namespace

TInstrumentLink::~TInstrumentLink() {
  // A hand-over served while the reader stops reaches no window, which may be
  // gone already.
  sinks_.clear();
  OnLogLine = nullptr;
  OnStatus = nullptr;
  try {
    if (CurrentDevice && HidDevCntrl) HidDevCntrl->ReturnDevice(CurrentDevice);
  } catch (...) {
  }
  HidDevCntrl.reset();
}

void TInstrumentLink::Start() {
  // Configured in this order: attaching OnDeviceChange reports the first device
  // change at once; attaching OnDeviceData starts the instrument's read thread.
  // A pipe served by another user is refused; the operator reads why in the log.
  HidDevCntrl = CreateHidDeviceController(this, [this](const std::string& line) { Log(line); });
  HidDevCntrl->SetDevThreadSleepTime(kReadWaitMs);
  HidDevCntrl->SetOnArrival(Bind(this, &TInstrumentLink::HidDevCntrlArrival));
  HidDevCntrl->SetOnEnumerate(Bind(this, &TInstrumentLink::HidDevCntrlEnumerate));
  HidDevCntrl->SetOnDeviceChange(Bind(this, &TInstrumentLink::HidDevCntrlDeviceChange));
  HidDevCntrl->SetOnDeviceData(Bind(this, &TInstrumentLink::HidDevCntrlDeviceData));
  HidDevCntrl->SetOnDeviceDataError(Bind(this, &TInstrumentLink::HidDevCntrlDeviceDataError));
  HidDevCntrl->SetOnDeviceUnplug(Bind(this, &TInstrumentLink::HidDevCntrlDeviceUnplug));
  HidDevCntrl->SetOnRemoval(Bind(this, &TInstrumentLink::HidDevCntrlRemoval));
}

void TInstrumentLink::Close() {
  Closed = true;
  ShowsOther = false;
  if (!CurrentDevice) return;
  CurrentDevice->DiscardInput();
  ReturnCurrent(TSourceEnd::Closed);
}

void TInstrumentLink::Opened() {
  for (TReportSink* sink : sinks_) sink->Open(*CurrentDevice);
}

void TInstrumentLink::ReturnCurrent(TSourceEnd reason) {
  if (!CurrentDevice) return;
  for (TReportSink* sink : sinks_) sink->Close(reason);
  HidDevCntrl->ReturnDevice(CurrentDevice);
}

void TInstrumentLink::ShowOther(std::unique_ptr<THidPnPInfo> PnPInfo) {
  if (Closed || !HidDevCntrl) return;
  ReturnCurrent(TSourceEnd::Replaced);  // the instrument, or a device shown before
  ShowsOther = HidDevCntrl->CheckOutUnlisted(CurrentDevice, std::move(PnPInfo));
  if (ShowsOther) {
    CurrentDevice->SetThreadSleepTime(kReadWaitMs);
    Opened();
  } else {
    HidDevCntrl->OfferDevices();
  }
}

void TInstrumentLink::ShowInstrument() {
  if (!ShowsOther) return;
  ShowsOther = false;
  ReturnCurrent(TSourceEnd::Replaced);
  // An instrument that came or went meanwhile is taken as a device change would
  // have taken it.
  if (!Closed) HidDevCntrl->OfferDevices();
}

void TInstrumentLink::Log(const std::string& line) const {
  if (OnLogLine) OnLogLine(line);
}

void TInstrumentLink::Status(int panel, const std::wstring& text) const {
  if (OnStatus) OnStatus(panel, text);
}

void TInstrumentLink::HidDevCntrlArrival(THidDevice*) { Log("Arrival TS4170"); }

void TInstrumentLink::HidDevCntrlRemoval(THidDevice*) { Log("Removal TS4170"); }

bool TInstrumentLink::HidDevCntrlEnumerate(THidDevice* HidDev, int32_t Idx) {
  if (!Closed && HidDev->Attributes().VendorID == kInstrumentVendorID &&
      HidDev->Attributes().ProductID == kInstrumentProductID && HidDevCntrl->CheckOutAt(CurrentDevice, Idx)) {
    ReadsLost = false;
    CurrentDevice->SetThreadSleepTime(kReadWaitMs);
    CurrentDevice->SetNumOverlappedBuffers(256);
    CurrentDevice->SetNumInputBuffers(256);
    // Such a device gets no reader (there is nothing to read); say why.
    if (const uint16_t length = CurrentDevice->HIDCaps().InputReportByteLength; length < 2) {
      Log("Ошибка: длина входного отчёта " + std::to_string(length) + " байт, чтение не начато");
    }
    Opened();
  }
  return CurrentDevice == nullptr;
}

void TInstrumentLink::HidDevCntrlDeviceChange(TObject*) {
  if (CurrentDevice && !CurrentDevice->IsPluggedIn()) ReturnCurrent(TSourceEnd::Gone);
  if (!CurrentDevice) HidDevCntrl->OfferDevices();
  if (HidDevCntrl->CountMatching(kInstrumentVendorID, kInstrumentProductID) > 0 && CurrentDevice &&
      !ReadsLost) {
    Status(0, L"ТС4170 подключен !!!");
    Log("DeviceChange ТС4170 подключен");
  } else {
    Status(0, L"Нет связи с прибором ???");
    Log("DeviceChange Нет связи с прибором");
  }
}

void TInstrumentLink::HidDevCntrlDeviceData(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data,
                                            uint16_t Size) {
  if (HidDev != CurrentDevice) return;
  for (const std::string& line : ReadErrors.Success()) Log(line);
  if (ReadsLost) {
    ReadsLost = false;
    Status(0, L"ТС4170 подключен !!!");
  }
  Status(2, packetText_(Size));
  for (TReportSink* sink : sinks_) sink->Report(ReportID, Data, Size);
}

void TInstrumentLink::HidDevCntrlDeviceDataError(THidDevice* HidDev, uint32_t Error) {
  for (const std::string& line : ReadErrors.Error(SystemErrorText(Error))) Log(line);
  // The reader has stopped: until a new one reads, the picture is no live one.
  if (HidDev == CurrentDevice && !ShowsOther && IsDeviceGoneError(Error)) {
    ReadsLost = true;
    Status(0, L"Нет связи с прибором ???");
  }
}

void TInstrumentLink::HidDevCntrlDeviceUnplug(THidDevice* HidDev) {
  if (HidDev == CurrentDevice) Log("Unplug TS4170");
}

void TInstrumentLink::WriteOutputReport(const TOutputReport& report, const wchar_t* failText) {
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

void TInstrumentLink::SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3) {
  WriteOutputReport(BuildCommandReport(Code, Arg1, Arg2, Arg3), L"Не прошла команда в прибор ТС4170.");
}

void TInstrumentLink::SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text) {
  WriteOutputReport(BuildMessageReport(X, Y, Time, Utf16ToCp1251(Text)),
                    L"Не прошла команда выдачи сообщения в прибор ТС4170.");
}

}  // namespace ts
