#pragma once
// The USB event window: the link to the instrument, the event log and the
// property listing.

#include <cstdint>
#include <memory>
#include <string>

#include "link/HidControllerClass.h"
#include "link/LinkReports.h"

#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/StdCtrls.h"

namespace ts {

class TLinkForm : public TForm {
 public:
  TPanel Panel1;
  TSpeedButton SpeedButton1;
  TButton ClearMemoBitBtn;
  TSpeedButton SpeedButton;
  TMemo Memo;

  std::unique_ptr<THidDeviceController> HidDevCntrl;

  ~TLinkForm() override;

  void FormCreate(TObject* Sender);
  void FormActivate(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void SpeedButton1Click(TObject* Sender);
  void ClearMemoBitBtnClick(TObject* Sender);
  void SpeedButtonClick(TObject* Sender);

  // The controller's handlers.
  void HidDevCntrlArrival(THidDevice* HidDev);
  bool HidDevCntrlEnumerate(THidDevice* HidDev, int32_t Idx);
  void HidDevCntrlDeviceChange(TObject* Sender);
  void HidDevCntrlDeviceData(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);
  void HidDevCntrlDeviceDataError(THidDevice* HidDev, uint32_t Error);
  void HidDevCntrlDeviceUnplug(THidDevice* HidDev);
  void HidDevCntrlRemoval(THidDevice* HidDev);

  void AddLogLine(const std::string& text);
  void SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3);
  void SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text);
  // The instrument while it is checked out; none while another device is shown.
  THidDevice* Current() const { return ShowsOther ? nullptr : CurrentDevice; }
  // Shows a device the controller lends outside its list (a recording) in the
  // instrument's place: the instrument is given back, so nothing is read from it
  // or sent to it until ShowInstrument, which checks it out again if it is there.
  void ShowOther(std::unique_ptr<THidPnPInfo> PnPInfo);
  void ShowInstrument();

 protected:
  void DefineWindow() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Arrange();
  // DiscardInput, then the write of one output report; a plain message box with
  // failText when the instrument does not take it. Nothing without an instrument.
  void WriteOutputReport(const TOutputReport& report, const wchar_t* failText);
  // The device whose reports are shown: the instrument, or the one ShowOther lent.
  THidDevice* CurrentDevice = nullptr;
  bool ShowsOther = false;
  // Set by FormClose: the program is ending, so nothing is checked out again.
  bool Closed = false;
  // The instrument's reader failed as if it were gone, and it is still listed:
  // no connection is shown until a report is read again.
  bool ReadsLost = false;
  TReadErrorLog ReadErrors;
};

extern TLinkForm* LinkForm;
extern int32_t LogLineCount;

}  // namespace ts
