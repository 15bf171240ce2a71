#pragma once
// Recording the live report stream from the main window: the file, the
// recorder, and the watch that ends the file when the instrument goes.

#include <windows.h>

#include <memory>
#include <string>

#include "record/FileSource.h"
#include "record/Recorder.h"
#include "ui/ExtCtrls.h"
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

class TRecordControl {
 public:
  explicit TRecordControl(TForm& owner);
  ~TRecordControl();

  bool Recording() const { return serial_ != 0; }
  // Asks for a file and starts recording the device, or stops a recording.
  void Toggle(THidDevice* device);
  // Records the device into the file; says why when it cannot.
  void Start(THidDevice* device, const std::wstring& fileName);
  // From the live report path, on the user interface thread.
  void Report(THidDevice* device, uint8_t reportID, const uint8_t* data, uint16_t size);
  // Ends the file as the program closes.
  void Close() { Stop(TRecordingEnd::ProgramClosed); }
  // Ends a recording under way, whole, as the user's own stop would.
  void Finish() { Stop(TRecordingEnd::Stopped); }
  // Called whenever recording starts or stops, to show it.
  TNotifyEvent OnChange;
  // The device to record, asked afresh on each tick.
  TMethod<THidDevice*()> CurrentDevice;

 private:
  void Stop(TRecordingEnd reason);
  void Tick(TObject*);
  void SessionEnd(TObject*) { Close(); }
  TForm& owner_;
  TRecorder recorder_;
  TTimer watch_;
  // The device recorded, by its serial: its address may be another's by now.
  uint64_t serial_ = 0;
  std::wstring fileName_;
};

}  // namespace ts
