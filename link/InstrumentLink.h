#pragma once
// The link to the instrument: owns the HID controller and the choice of the
// current device, a source of reports: tells the sinks that subscribed which
// device they come from, hands on each report it reads and says when it is read
// no more; tells the event log and the status bar what happens, and writes
// output reports. Made by the program, lent to the windows that use it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/HidControllerClass.h"
#include "link/LinkReports.h"
#include "ui/ReportSink.h"

namespace ts {

// The road from the windows' buttons to the instrument, behind a seam that
// tests take over to watch what is sent and the buttons around it.
class TDialogLink {
 public:
  virtual ~TDialogLink() = default;
  virtual void SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3) = 0;
  virtual void SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text) = 0;
};

class TInstrumentLink : public TObject, public TDialogLink {
 public:
  using TLogEvent = TMethod<void(const std::string& Line)>;
  using TStatusEvent = TMethod<void(int Panel, const std::wstring& Text)>;

  TInstrumentLink() = default;
  // Hands nothing on any more, gives the device back and ends the controller.
  ~TInstrumentLink() override;
  TInstrumentLink(const TInstrumentLink&) = delete;
  TInstrumentLink& operator=(const TInstrumentLink&) = delete;

  // Where the event log's lines and the status bar's texts go; set before Start.
  TLogEvent OnLogLine;
  TStatusEvent OnStatus;
  // The current device's reports, on the user interface thread; the sinks hear
  // them in the order they subscribed. A sink outlives the link's Close.
  void Subscribe(TReportSink& sink) { sinks_.push_back(&sink); }

  // Makes the controller, which reports the first device change at once: that
  // selects the instrument and writes the first log line.
  void Start();
  // The program is ending: the device is given back and nothing is checked out again.
  void Close();

  // The instrument while it is checked out; none while another device is shown.
  THidDevice* Current() const { return ShowsOther ? nullptr : CurrentDevice; }
  // Shows a device the controller lends outside its list (a recording) in the
  // instrument's place: the instrument is given back, so nothing is read from it
  // or sent to it until ShowInstrument, which checks it out again if it is there.
  void ShowOther(std::unique_ptr<THidPnPInfo> PnPInfo);
  void ShowInstrument();

  // Build the report and write it to the instrument, if there is one; a plain
  // message box when it does not take it.
  void SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3) override;
  void SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text) override;
  // A line of the event log from outside the link.
  void Log(const std::string& line) const;

  std::unique_ptr<THidDeviceController> HidDevCntrl;

 private:
  // The controller's handlers.
  void HidDevCntrlArrival(THidDevice* HidDev);
  bool HidDevCntrlEnumerate(THidDevice* HidDev, int32_t Idx);
  void HidDevCntrlDeviceChange(TObject* Sender);
  void HidDevCntrlDeviceData(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);
  void HidDevCntrlDeviceDataError(THidDevice* HidDev, uint32_t Error);
  void HidDevCntrlDeviceUnplug(THidDevice* HidDev);
  void HidDevCntrlRemoval(THidDevice* HidDev);

  void Status(int panel, const std::wstring& text) const;
  // The sinks hear of the device just checked out, or of the current one given back.
  void Opened();
  void ReturnCurrent(TSourceEnd reason);
  // DiscardInput, then the write of one output report; failText in a box when
  // the instrument does not take it.
  void WriteOutputReport(const TOutputReport& report, const wchar_t* failText);

  std::vector<TReportSink*> sinks_;
  // The device whose reports are handed on: the instrument, or the one ShowOther lent.
  THidDevice* CurrentDevice = nullptr;
  bool ShowsOther = false;
  // Set by Close: the program is ending, so nothing is checked out again.
  bool Closed = false;
  // The instrument's reader failed as if it were gone, and it is still listed:
  // no connection is shown until a report is read again.
  bool ReadsLost = false;
  TReadErrorLog ReadErrors;
  TPacketWideText packetText_;
};

}  // namespace ts
