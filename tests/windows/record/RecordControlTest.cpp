#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>

#include <commctrl.h>

#include "link/HidControllerClass.h"
#include "record/PlaybackUnit.h"
#include "record/RecordUnit.h"
#include "record/Recorder.h"
#include "tests/native/link/HidFakes.h"
#include "tests/windows/support/Pump.h"
#include "ui/Application.h"
#include "ui/File.h"
#include "ui/Forms.h"

namespace ts {
namespace {

class TOwnerForm : public TForm {
 protected:
  void DefineWindow() override {
    Build(TFormDef{.Caption = L"Owner", .ClientWidth = 100, .ClientHeight = 50}, {});
  }
};

// The file holds one report and ends whole, with its end record and index.
void ExpectOneReportEnded(const std::wstring& file, TRecordingEnd reason) {
  std::vector<uint8_t> bytes;
  TFile in;
  ASSERT_TRUE(in.Open(file, TFileMode::Read) && in.ReadAll(bytes)) << in.Failure();
  TRecordingReader reader(bytes);
  TRecordingIndex index;
  EXPECT_TRUE(reader.ReadIndex(index));
  TRecordedReport r;
  while (reader.Next(r)) {
  }
  EXPECT_EQ(reader.ReportsRead(), 1u);
  EXPECT_EQ(reader.Status(), TRecordingReader::TStatus::Ended) << reader.Problem();
  EXPECT_EQ(reader.EndReason(), reason);
}

// The device recorded goes: the file ends there, as unplugged, and the reports
// of whatever is opened next are not in it.
TEST(RecordControl, EndsWhenItsDeviceCloses) {
  TApplication application;
  application.Initialize();
  TOwnerForm form;
  form.Load();
  test::FakeBinding binding;
  for (uint32_t id : {1u, 2u}) {
    test::FakeInterface i;
    i.Id = id;
    i.Attributes = {0x5555, 0x4170, 0x0100};
    binding.Plug(i);
  }
  std::vector<std::unique_ptr<THidPnPInfo>> interfaces;
  ASSERT_TRUE(binding.Enumerate(test::FakeBinding::kHidGuid, interfaces));
  ASSERT_EQ(interfaces.size(), 2u);
  const auto environment = std::make_shared<THidEnvironment>();
  THidDevice first(std::move(interfaces[0]), nullptr, environment);
  THidDevice second(std::move(interfaces[1]), nullptr, environment);

  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring file = std::wstring(dir) + L"ts_record_identity.tsrec";
  TRecordControl control(form);
  control.Open(first);
  control.Start(&first, file);
  ASSERT_TRUE(control.Recording());
  uint8_t report[64] = {};  // line group 0, first half: a screen report
  control.Report(0, report, 64);
  control.Close(TSourceEnd::Gone);
  EXPECT_FALSE(control.Recording());
  control.Open(second);
  control.Report(0, report, 64);

  ExpectOneReportEnded(file, TRecordingEnd::Unplugged);
  DeleteFileW(file.c_str());
}

// A log-off or shut-down ends the recording as closing the program does: the
// file has its end record and its index, not the end of a crash.
TEST(RecordControl, EndsTheFileWhenTheSessionEnds) {
  TApplication application;
  application.Initialize();
  TOwnerForm form;
  form.Load();
  test::FakeBinding binding;
  test::FakeInterface i;
  i.Id = 1;
  i.Attributes = {0x5555, 0x4170, 0x0100};
  binding.Plug(i);
  std::vector<std::unique_ptr<THidPnPInfo>> interfaces;
  ASSERT_TRUE(binding.Enumerate(test::FakeBinding::kHidGuid, interfaces));
  THidDevice device(std::move(interfaces[0]), nullptr, std::make_shared<THidEnvironment>());

  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring file = std::wstring(dir) + L"ts_record_session_end.tsrec";
  {
    TRecordControl control(form);
    control.Open(device);
    control.Start(&device, file);
    ASSERT_TRUE(control.Recording());
    const uint8_t report[64] = {};
    control.Report(0, report, 64);
    EXPECT_TRUE(SendMessageW(form.Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF));
    SendMessageW(form.Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_FALSE(control.Recording());

    ExpectOneReportEnded(file, TRecordingEnd::ProgramClosed);
  }
  DeleteFileW(file.c_str());
}

class TMemorySink : public TRecordSink {
 public:
  explicit TMemorySink(std::vector<uint8_t>& out) : out_(out) {}
  bool Write(const uint8_t* data, size_t size) override {
    out_.insert(out_.end(), data, data + size);
    return true;
  }
  bool Close() override { return true; }
  std::string Error() const override { return {}; }

 private:
  std::vector<uint8_t>& out_;
};

// A working day in the playback window: wherever playback is, the slider's
// thumb stands at that part of its channel, where the user can grab it.
TEST(PlaybackWindow, TheSliderShowsWhereAnEightHourRecordingIs) {
  TApplication application;
  application.Initialize();
  TOwnerForm form;
  form.Load();
  constexpr int64_t kDay = 8LL * 3600 * 1'000'000;
  auto file = std::make_shared<std::vector<uint8_t>>();
  {
    TRecorder recorder;
    ASSERT_TRUE(recorder.Start(std::make_unique<TMemorySink>(*file), TRecordingHeader{}, 0));
    uint8_t report[64] = {};  // line group 0: a screen report that presents
    for (int64_t t : {int64_t(0), kDay / 4, kDay / 2, kDay}) recorder.Push(t, 0, report, 64);
    recorder.Stop(TRecordingEnd::Stopped);
  }
  auto playback = std::make_shared<TPlayback>(std::shared_ptr<const std::vector<uint8_t>>(file));
  ASSERT_EQ(playback->DurationMicros(), kDay);
  playback->Pause();
  TPlaybackWindow window(form.Handle(), L"day.tsrec", playback, {});
  HWND slider = GetDlgItem(window.Handle(), 206);
  ASSERT_NE(slider, nullptr);
  const LRESULT steps = SendMessageW(slider, TBM_GETRANGEMAX, 0, 0);
  for (double part : {0.25, 0.5, 0.75, 0.99}) {
    SCOPED_TRACE(part);
    playback->Seek(int64_t(double(kDay) * part));
    ASSERT_TRUE(test::PumpUntil([&] {
      return std::abs(double(SendMessageW(slider, TBM_GETPOS, 0, 0)) - part * double(steps)) <= 1;
    }));
    RECT channel{}, thumb{};
    SendMessageW(slider, TBM_GETCHANNELRECT, 0, LPARAM(&channel));
    SendMessageW(slider, TBM_GETTHUMBRECT, 0, LPARAM(&thumb));
    const double centre = (thumb.left + thumb.right) / 2.0;
    EXPECT_NEAR((centre - channel.left) / double(channel.right - channel.left), part, 0.03)
        << "thumb " << thumb.left << ".." << thumb.right << ", channel " << channel.left << ".."
        << channel.right;
  }
}

}  // namespace
}  // namespace ts
