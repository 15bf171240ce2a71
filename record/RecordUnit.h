#pragma once
// Recording the live report stream from the main window: the file and the
// recorder, a sink of the link that ends the file when the instrument goes.

#include <windows.h>

#include <memory>
#include <string>

#include "record/FileSource.h"
#include "record/Recorder.h"
#include "ui/Bound.h"
#include "ui/ReportSink.h"
#include "ui/WinHandle.h"

namespace ts {

class THidDevice;
class TForm;

// Writes a file; a failure keeps the program's text for it.
class TWin32FileSink : public TRecordSink {
 public:
  explicit TWin32FileSink(const std::wstring& fileName);
  ~TWin32FileSink() override;
  bool Opened() const { return file_.IsOpen(); }
  bool Write(const uint8_t* data, size_t size) override;
  bool Flush() override;
  bool Close() override;
  std::string Error() const override { return file_.Failure(); }

 private:
  TFile file_;
};

// The file to read, or null with the system's message in error.
std::shared_ptr<TByteSource> OpenRecordingFile(const std::wstring& fileName, std::string& error);

// The file dialog for a recording: to write one (save) or to play one; false
// when the user cancels.
bool AskRecordingFile(HWND owner, bool save, std::wstring& fileName);

// The reading of the clock that times recorded reports, in microseconds.
int64_t MonotonicMicros();

class TRecordControl : public TReportSink {
 public:
  explicit TRecordControl(TForm& owner);
  ~TRecordControl() override;

  bool Recording() const { return serial_ != 0; }
  // Asks for a file and starts recording the device, or stops a recording.
  void Toggle(THidDevice* device);
  // Records the device into the file; says why when it cannot.
  void Start(THidDevice* device, const std::wstring& fileName);
  // The link's reports: the device recorded is the one opened last.
  void Open(THidDevice& device) override;
  void Report(uint8_t reportID, const uint8_t* data, uint16_t size) override;
  void Close(TSourceEnd reason) override;
  // Ends the file as the program closes.
  void Close() { Stop(TRecordingEnd::ProgramClosed); }
  // Ends a recording under way, whole, as the user's own stop would.
  void Finish() { Stop(TRecordingEnd::Stopped); }
  // Called whenever recording starts or stops, to show it.
  TNotifyEvent OnChange;

 private:
  void Stop(TRecordingEnd reason);
  void SessionEnd(TObject*) { Close(); }
  TForm& owner_;
  TRecorder recorder_;
  // The device recorded and the one whose reports come, by their serials: an
  // address may be another's by now.
  uint64_t serial_ = 0;
  uint64_t openSerial_ = 0;
  std::wstring fileName_;
};

}  // namespace ts
