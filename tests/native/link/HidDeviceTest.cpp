// One device: handles opened on demand, its properties, writes, and the read
// thread with its hand-over to the user interface thread.

#include <thread>

#include "link/HidWriter.h"
#include "tests/native/link/HidTestSupport.h"

namespace ts::test {
namespace {

class HidDeviceTest : public HidTest {
 protected:
  // One instrument, listed, with the link's handlers attached.
  void SetUp() override {
    binding->Plug(Interface(1));
    Make();
    AttachAll();
  }
  void CheckOut() {
    ASSERT_TRUE(controller->CheckOutAt(lent, 0));
    lent->SetThreadSleepTime(10);
  }
  static std::vector<uint8_t> ScreenReport(uint8_t first, uint8_t seed) {
    std::vector<uint8_t> report(65);
    report[0] = first;
    for (size_t i = 1; i < report.size(); ++i) report[i] = static_cast<uint8_t>(seed + i);
    return report;
  }
};

TEST_F(HidDeviceTest, ThreadSleepTimeTakesTenToTenThousandOnly) {
  THidDevice* device = At(0);
  EXPECT_EQ(device->ThreadSleepTime(), 100);
  device->SetThreadSleepTime(9);
  EXPECT_EQ(device->ThreadSleepTime(), 100);
  device->SetThreadSleepTime(10);
  EXPECT_EQ(device->ThreadSleepTime(), 10);
  device->SetThreadSleepTime(10001);
  EXPECT_EQ(device->ThreadSleepTime(), 10);
  device->SetThreadSleepTime(10000);
  EXPECT_EQ(device->ThreadSleepTime(), 10000);
  device->SetThreadSleepTime(-1);
  EXPECT_EQ(device->ThreadSleepTime(), 10000);
}

TEST_F(HidDeviceTest, AFreeDeviceAsksThePlatformNothing) {
  THidDevice* device = At(0);
  const int calls = binding->Calls();
  const THidCaps caps = device->HIDCaps();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&caps), sizeof caps), std::string(sizeof caps, '\0'));
  EXPECT_EQ(device->DeviceStrings(1), "");
  EXPECT_FALSE(device->DiscardInput());
  uint32_t written = 7;
  const uint8_t report[65] = {0x0F};
  EXPECT_FALSE(device->WriteReport(report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  device->SetNumInputBuffers(64);
  device->SetNumOverlappedBuffers(64);
  EXPECT_EQ(device->NumInputBuffers(), 0);
  EXPECT_EQ(device->NumOverlappedBuffers(), 0);
  EXPECT_EQ(binding->Calls(), calls);
}

TEST_F(HidDeviceTest, ALentDeviceOpensItsControlHandleOnDemand) {
  controller->SetOnDeviceData(nullptr);  // no reader in this test
  CheckOut();
  EXPECT_EQ(lent->HidFileHandle(), kNoHidHandle);
  EXPECT_EQ(lent->DeviceStrings(0), "");
  EXPECT_EQ(lent->HidFileHandle(), kNoHidHandle) << "index 0 asks nothing";
  EXPECT_EQ(lent->DeviceStrings(2), "String 2 \xD0\xA2\xD0\xA1");
  EXPECT_NE(lent->HidFileHandle(), kNoHidHandle);
  EXPECT_EQ(lent->NumInputBuffers(), 32) << "read back when the handle opened";

  const THidCaps caps = lent->HIDCaps();
  EXPECT_EQ(caps.InputReportByteLength, 65);
  EXPECT_EQ(caps.OutputReportByteLength, 65);
  EXPECT_EQ(caps.UsagePage, 0xFF00);
  EXPECT_EQ(lent->HidFileHandle(), kNoHidHandle) << "closed again once the descriptor is fetched";
  EXPECT_EQ(lent->NumInputBuffers(), 0);

  EXPECT_TRUE(lent->DiscardInput());
  const uint8_t report[65] = {0x0F, 0x44, 0xAA};
  uint32_t written = 0;
  EXPECT_TRUE(lent->WriteReport(report, sizeof report, written));
  EXPECT_EQ(written, 65u);
  ASSERT_EQ(binding->Writes().size(), 1u);
  EXPECT_EQ(binding->Writes()[0], std::vector<uint8_t>(report, report + 65));
  binding->WriteAccepted = false;
  EXPECT_FALSE(lent->WriteReport(report, sizeof report, written));

  controller->ReturnDevice(lent);
  EXPECT_EQ(binding->OpenHandles(), 0);
  // The descriptor outlives the handles.
  EXPECT_EQ(At(0)->HIDCaps().InputReportByteLength, 65);
}

TEST_F(HidDeviceTest, WritesGoInOrderThroughOneThreadThatEndsWithTheDevice) {
  controller->SetOnDeviceData(nullptr);
  CheckOut();
  uint32_t written = 0;
  for (uint8_t i = 0; i < 20; ++i) {
    const uint8_t report[65] = {0x0F, i};
    ASSERT_TRUE(lent->WriteReport(report, sizeof report, written)) << int(i);
  }
  const auto writes = binding->Writes();
  const auto threads = binding->WriteThreads();
  ASSERT_EQ(writes.size(), 20u);
  for (uint8_t i = 0; i < 20; ++i) {
    EXPECT_EQ(writes[i][1], i);
    EXPECT_EQ(threads[i].first, threads[0].first);
    EXPECT_EQ(threads[i].second, i + 1) << "one thread for every write";
  }
  EXPECT_NE(threads[0].first, std::this_thread::get_id());

  // Gone: the next write fails without reaching the platform, and the device,
  // freed on its return, takes its writer with it.
  binding->Unplug(1);
  controller->DeviceChange();
  const uint8_t report[65] = {0x0F};
  EXPECT_FALSE(lent->WriteReport(report, sizeof report, written));
  EXPECT_EQ(binding->Writes().size(), 20u);
  controller->ReturnDevice(lent);
  EXPECT_EQ(binding->OpenHandles(), 0);
}

// A job dropped at the stop would leave its write's caller waiting for ever.
TEST(HidWriter, AStopRunsEveryJobHandedOverBeforeIt) {
  int ran = 0;
  {
    THidWriter writer;
    for (int i = 0; i < 3; ++i) writer.Post([&ran] { ++ran; });
    writer.Stop();
    EXPECT_EQ(ran, 3);
    writer.Post([&ran] { ++ran; });
  }
  EXPECT_EQ(ran, 4);
}

TEST_F(HidDeviceTest, NumInputBuffersSetToItsValueOpensNothing) {
  controller->SetOnDeviceData(nullptr);
  CheckOut();
  const int opens = binding->Opens(THidAccess::ReadWrite);
  lent->SetNumInputBuffers(0);
  EXPECT_EQ(binding->Opens(THidAccess::ReadWrite), opens);
  lent->SetNumInputBuffers(256);
  EXPECT_EQ(lent->NumInputBuffers(), 256);
  EXPECT_EQ(binding->Opens(THidAccess::ReadWrite), opens + 1);
  lent->SetNumInputBuffers(1000);  // refused by the platform: the actual length stays
  EXPECT_EQ(lent->NumInputBuffers(), 256);
  lent->SetNumOverlappedBuffers(256);
  EXPECT_EQ(lent->NumOverlappedBuffers(), 256);
  EXPECT_EQ(binding->Opens(THidAccess::OverlappedRead), 1);
  controller->ReturnDevice(lent);
  EXPECT_EQ(At(0)->NumInputBuffers(), 0);
  EXPECT_EQ(At(0)->NumOverlappedBuffers(), 0);
}

TEST_F(HidDeviceTest, AnUnpluggedDeviceAnswersFalseTouchingNoHandle) {
  CheckOut();
  lent->SetNumInputBuffers(256);
  binding->Unplug(1);
  controller->DeviceChange();
  ASSERT_FALSE(lent->IsPluggedIn());
  const int calls = binding->Calls();
  uint32_t written = 0;
  const uint8_t report[65] = {};
  EXPECT_FALSE(lent->DiscardInput());
  EXPECT_FALSE(lent->WriteReport(report, sizeof report, written));
  EXPECT_EQ(lent->DeviceStrings(1), "");
  EXPECT_EQ(binding->Calls(), calls);
  EXPECT_EQ(lent->HidFileHandle(), kNoHidHandle);
}

TEST_F(HidDeviceTest, NoReadThreadWithoutReadWriteAccess) {
  FakeInterface readOnly = Interface(2);
  readOnly.ReadWrite = false;
  binding->Plug(readOnly);
  controller->DeviceChange();
  ASSERT_TRUE(controller->CheckOutAt(lent, 1));
  EXPECT_FALSE(lent->HasReadWriteAccess());
  EXPECT_FALSE(lent->HasReaderThread());
  controller->SetOnDeviceData(Bind(&rec, &Recorder::OtherData));
  EXPECT_FALSE(lent->HasReaderThread());
  EXPECT_EQ(binding->Opens(THidAccess::OverlappedRead), 0);
}

TEST_F(HidDeviceTest, TheReadThreadFollowsTheDataHandler) {
  EXPECT_FALSE(At(0)->HasReaderThread()) << "checked in: no reader";
  CheckOut();
  EXPECT_TRUE(lent->HasReaderThread());
  controller->SetOnDeviceData(nullptr);
  EXPECT_FALSE(lent->HasReaderThread());
  controller->SetOnDeviceData(Bind(&rec, &Recorder::Data));
  EXPECT_TRUE(lent->HasReaderThread());
  controller->ReturnDevice(lent);
  EXPECT_FALSE(At(0)->HasReaderThread());
  EXPECT_EQ(binding->OpenHandles(), 0);
}

TEST_F(HidDeviceTest, AReportArrivesAsReportIdAndData) {
  CheckOut();
  ASSERT_TRUE(dispatcher->PumpUntil([&] { return binding->ReadHandleOpen(1); }));
  binding->CompleteEmpty(1);  // a read that ends with no data is dropped
  binding->Report(1, ScreenReport(0x00, 0x10));
  binding->Report(1, ScreenReport(0x03, 0x20));
  ASSERT_TRUE(dispatcher->PumpUntil([&] { return rec.DataCount >= 2; }));
  ASSERT_EQ(rec.Reports.size(), 2u);
  EXPECT_EQ(rec.ReportIDs, std::vector<uint8_t>({0x00, 0x03}));
  const std::vector<uint8_t> first = ScreenReport(0x00, 0x10);
  EXPECT_EQ(rec.Reports[0], std::vector<uint8_t>(first.begin() + 1, first.end()));
  EXPECT_EQ(rec.Reports[0].size(), 64u);
  EXPECT_TRUE(rec.Errors.empty());
  EXPECT_EQ(binding->Pauses(), 1) << "an empty read is followed by a pause, not at once by the next";
}

TEST_F(HidDeviceTest, TheReadHandleIsOpenedOnceWhoeverComesFirst) {
  for (int round = 0; round < 20; ++round) {
    CheckOut();
    lent->SetNumOverlappedBuffers(256);  // races the reader's own open
    EXPECT_EQ(lent->NumOverlappedBuffers(), 256);
    controller->ReturnDevice(lent);
  }
  EXPECT_EQ(binding->Opens(THidAccess::OverlappedRead), 20);
  EXPECT_EQ(binding->OpenHandles(), 0);
}

TEST_F(HidDeviceTest, AStopIsNoticedWithinOneSliceAndCancelsTheRead) {
  CheckOut();
  ASSERT_TRUE(dispatcher->PumpUntil([&] { return binding->Waits() >= 3; }));
  const int waits = binding->Waits();
  controller->ReturnDevice(lent);
  // At most the slice under way when the stop came, and perhaps one begun just
  // before; then the outstanding read is cancelled before the handle goes.
  EXPECT_LE(binding->Waits() - waits, 2);
  EXPECT_EQ(binding->Cancels(), 1);
  EXPECT_EQ(binding->OpenHandles(), 0);
}

TEST_F(HidDeviceTest, AReadThatCannotStartIsReportedAndRetriedOneSliceLater) {
  binding->ReadStartFails = true;
  CheckOut();
  ASSERT_TRUE(dispatcher->PumpUntil([&] { return rec.ErrorCount >= 4; }));
  controller->ReturnDevice(lent);
  EXPECT_EQ(rec.Errors.front(), 31u);
  EXPECT_EQ(rec.Errors.size(), static_cast<size_t>(binding->ReadStarts()));
  // Every failed start but the last was followed by a pause before the next try.
  EXPECT_GE(binding->Pauses(), binding->ReadStarts() - 1);
  EXPECT_EQ(rec.DataCount, 0);
}

TEST_F(HidDeviceTest, AnUnpluggedReaderReportsOneErrorAndEnds) {
  CheckOut();
  ASSERT_TRUE(dispatcher->PumpUntil([&] { return binding->ReadHandleOpen(1); }));
  binding->Unplug(1);
  controller->DeviceChange();
  ASSERT_TRUE(dispatcher->PumpUntil([&] { return rec.ErrorCount >= 1 && binding->LiveRequests() == 0; }));
  EXPECT_EQ(rec.Errors, std::vector<uint32_t>({binding->GoneError}));
  EXPECT_EQ(rec.Log.back(), "change");
  controller->ReturnDevice(lent);
  EXPECT_TRUE(controller->DeviceList().empty());
  EXPECT_EQ(binding->OpenHandles(), 0);
}

TEST_F(HidDeviceTest, ReturningADeviceWhoseReaderWaitsInAHandOverNeverDeadlocks) {
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    uint8_t seed = 0;
    while (feeding) {
      binding->Report(1, ScreenReport(0x00, seed++));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  for (int round = 0; round < 200; ++round) {
    CheckOut();
    const int before = rec.DataCount;
    // The feeder keeps the reader busy, so at the return it is usually blocked
    // handing the next report over.
    ASSERT_TRUE(dispatcher->PumpUntil([&] { return rec.DataCount > before; })) << "round " << round;
    controller->ReturnDevice(lent);
    ASSERT_FALSE(At(0)->HasReaderThread());
  }
  feeding = false;
  feeder.join();
  EXPECT_EQ(binding->OpenHandles(), 0);
  EXPECT_EQ(dispatcher->Errors(), 0);
}

}  // namespace
}  // namespace ts::test
