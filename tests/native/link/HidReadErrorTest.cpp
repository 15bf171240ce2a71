// Read errors: which ones end the reader and lead to a re-scan, which ones are
// only reported, and a device that has no input report to read.

#include "tests/native/link/HidTestSupport.h"

namespace ts::test {
namespace {

constexpr uint32_t kGenFailure = 31;
constexpr uint32_t kAccessDenied = 5;  // Wine's answer on a removed HID device
constexpr uint32_t kBrokenPipe = 109;
constexpr uint32_t kDeviceNotConnected = 1167;
constexpr uint32_t kNotEnoughMemory = 8;

// A reader that stops on an error meaning "gone" leads to a re-scan. A device
// the re-scan no longer finds is reported gone; one it keeps gets a new reader
// (after a pause that grows while the errors go on), which reads again once
// the fault is over.
TEST_F(HidTest, AReadErrorThatMeansTheDeviceIsGoneLeadsToAReScanAndAKeptDeviceIsReadAgain) {
  struct Case {
    const char* Name;
    bool Pulled;          // the instrument goes, and no device change says so
    uint32_t GoneError;   // what the read pending then fails with
    uint32_t StartError;  // reads cannot start (0: they start)
    uint32_t CompletionError;
    bool RequestFails;  // the reader dies before its first read
    uint32_t Reported;  // the first error handed over
    bool ReaderGoesOn;  // the error ends no reader
  };
  const Case cases[] = {
      {"a pending read fails as the device goes", true, kDeviceNotConnected, 0, 0, false, kDeviceNotConnected,
       false},
      {"a pending read fails so under Wine", true, kAccessDenied, 0, 0, false, kAccessDenied, false},
      {"a read cannot start on a broken pipe", false, 0, kBrokenPipe, 0, false, kBrokenPipe, false},
      {"a read cannot start, access denied, the device stays", false, 0, kAccessDenied, 0, false,
       kAccessDenied, false},
      {"the reader dies", false, 0, 0, 0, true, kNotEnoughMemory, false},
      {"a completed read fails, the device stays", false, 0, 0, kGenFailure, false, kGenFailure, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    binding = std::make_shared<FakeBinding>();
    binding->Plug(Interface(1));
    binding->NewRequestFails = c.RequestFails;
    binding->CompletionError = c.CompletionError;
    binding->GoneError = c.GoneError;
    binding->ReadStartError = c.StartError;
    binding->ReadStartFails = c.StartError != 0;
    Make();
    AttachAll();
    rec.Log.clear();
    rec.Errors.clear();
    rec.ErrorCount = 0;
    ASSERT_TRUE(controller->CheckOutAt(lent, 0));
    lent->SetThreadSleepTime(10);
    ASSERT_TRUE(dispatcher->PumpUntil([&] { return binding->ReadStarts() > 0 || c.RequestFails; }));
    const int scans = binding->Enumerations();
    if (c.Pulled) binding->Unplug(1);
    if (c.ReaderGoesOn) {
      ASSERT_TRUE(dispatcher->PumpUntil([&] { return rec.ErrorCount >= 3; }, std::chrono::seconds(5)));
      EXPECT_EQ(binding->Enumerations(), scans);
    } else if (c.Pulled) {
      ASSERT_TRUE(dispatcher->PumpUntil(
          [&] {
            return rec.ErrorCount >= 1 && binding->LiveRequests() == 0 && binding->Enumerations() > scans;
          },
          std::chrono::seconds(5)));
      const int starts = binding->ReadStarts();
      // Whatever was still on its way has arrived: the reader is gone.
      ASSERT_FALSE(dispatcher->PumpUntil([&] { return rec.ErrorCount > 1; }, std::chrono::seconds(0)));
      EXPECT_EQ(rec.Errors, std::vector<uint32_t>({c.Reported}));
      EXPECT_EQ(binding->ReadStarts(), starts);
      EXPECT_EQ(rec.Log, std::vector<std::string>({"unplug 1", "removal 1", "change"}));
    } else {
      // Each new reader fails as the first did and leads to one more re-scan.
      ASSERT_TRUE(
          dispatcher->PumpUntil([&] { return rec.ErrorCount >= 3 && binding->Enumerations() >= scans + 3; },
                                std::chrono::seconds(10)));
      EXPECT_EQ(rec.Errors, std::vector<uint32_t>(rec.Errors.size(), c.Reported));
      EXPECT_TRUE(rec.Log.empty()) << rec.Log.front();
      EXPECT_TRUE(lent->IsPluggedIn());
      binding->Heal();
      ASSERT_TRUE(dispatcher->PumpUntil(
          [&] {
            binding->Report(1, std::vector<uint8_t>(65, 7));
            return rec.DataCount > 0;
          },
          std::chrono::seconds(10)))
          << "no reader came back";
    }
    EXPECT_EQ(rec.Errors.front(), c.Reported);
    controller->ReturnDevice(lent);
    controller.reset();
  }
}

// A device that gives a report and fails again must not be re-read at once each
// time: one report is no sign the fault is over, so the pause keeps growing.
TEST_F(HidTest, OneReportBetweenFailuresKeepsTheReadersPauseGrowing) {
  binding->Plug(Interface(1));
  Make();
  AttachAll();
  // Counted before anything can begin a read: the first may begin at once.
  int begun = binding->ReadsBegun();
  ASSERT_TRUE(controller->CheckOutAt(lent, 0));
  lent->SetThreadSleepTime(10);
  constexpr int kCycles = 4;
  for (int cycle = 0; cycle <= kCycles; ++cycle) {
    SCOPED_TRACE(cycle);
    binding->Heal();
    const int data = rec.DataCount, scans = binding->Enumerations();
    ASSERT_TRUE(
        dispatcher->PumpUntil([&] { return binding->ReadsBegun() > begun; }, std::chrono::seconds(10)));
    begun = binding->ReadsBegun();
    // The read under way brings this report; the one after it cannot start.
    if (cycle < kCycles) binding->FailReadStarts(kBrokenPipe);
    binding->Report(1, std::vector<uint8_t>(65, 7));
    ASSERT_TRUE(dispatcher->PumpUntil([&] { return rec.DataCount > data; }, std::chrono::seconds(10)));
    if (cycle < kCycles) {
      ASSERT_TRUE(
          dispatcher->PumpUntil([&] { return binding->Enumerations() > scans; }, std::chrono::seconds(10)));
    }
  }
  EXPECT_GE(lent->ReaderRestarts(), kCycles);
  controller->ReturnDevice(lent);
  controller.reset();
}

TEST_F(HidTest, ADeviceWithoutAnInputReportGetsNoReader) {
  for (uint16_t length : {0, 1}) {
    SCOPED_TRACE(length);
    binding = std::make_shared<FakeBinding>();
    FakeInterface i = Interface(1);
    i.Caps.InputReportByteLength = length;
    binding->Plug(i);
    Make();
    AttachAll();
    ASSERT_TRUE(controller->CheckOutAt(lent, 0));
    EXPECT_FALSE(lent->HasReaderThread());
    controller->ReturnDevice(lent);
    EXPECT_EQ(binding->ReadStarts(), 0);
    controller.reset();
  }
}

}  // namespace
}  // namespace ts::test
