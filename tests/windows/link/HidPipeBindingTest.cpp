// The virtual instrument against a test server of its pipe, with the real
// dispatcher, read thread, overlapped I/O and device-change watch.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "link/HidPipeBinding.h"
#include "link/HidWin32Dispatcher.h"
#include "link/HidWin32Io.h"
#include "sim/PipeServer.h"
#include "tests/native/link/HidTestSupport.h"
#include "tests/windows/link/TestPipeServer.h"
#include "ui/Cp1251.h"

namespace ts::test {
namespace {

std::vector<uint8_t> Report(uint8_t seed) {
  std::vector<uint8_t> report(65);
  for (size_t i = 1; i < report.size(); ++i) report[i] = static_cast<uint8_t>(seed + i);
  return report;
}

// What the simulator does when it plugs or unplugs.
void Broadcast() { PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, 0x0007, 0); }

bool Contains(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

DWORD Waiting(THidHandle handle) {
  DWORD available = 0;
  PeekNamedPipe(ToWinHandle(handle), nullptr, 0, nullptr, &available, nullptr);
  return available;
}

class HidPipeTest : public ::testing::Test {
 protected:
  void MakeController() {
    controller = std::make_unique<THidDeviceController>(
        nullptr, binding,
        std::make_shared<THidWin32Dispatcher>([this](const std::exception&) { ++reported; }),
        std::make_unique<THidWindowDeviceWatch>());
    controller->SetDevThreadSleepTime(10);
    controller->SetOnArrival(Bind(&rec, &Recorder::Arrival));
    controller->SetOnDeviceChange(Bind(&rec, &Recorder::Change));
    controller->SetOnDeviceData(Bind(&rec, &Recorder::Data));
    controller->SetOnDeviceDataError(Bind(&rec, &Recorder::Error));
    controller->SetOnDeviceUnplug(Bind(&rec, &Recorder::Unplug));
    controller->SetOnRemoval(Bind(&rec, &Recorder::Removal));
  }
  void TearDown() override {
    if (lent) controller->ReturnDevice(lent);
    controller.reset();
  }

  std::string name = TestPipeName("pipe");
  std::vector<std::string> notices;
  std::shared_ptr<THidPipeBinding> binding =
      std::make_shared<THidPipeBinding>(name, [this](const std::string& line) { notices.push_back(line); });
  std::unique_ptr<THidDeviceController> controller;
  Recorder rec;
  THidDevice* lent = nullptr;
  int reported = 0;
};

TEST_F(HidPipeTest, ListedOnlyWhileServedAndNewAfterTheServerCameBack) {
  TestPipeServer server(name);
  std::vector<std::unique_ptr<THidPnPInfo>> found;
  ASSERT_TRUE(binding->LoadLibraries());
  ASSERT_TRUE(binding->Enumerate(binding->HidGuid(), found));
  EXPECT_TRUE(found.empty());

  server.Plug();
  ASSERT_TRUE(binding->Enumerate(binding->HidGuid(), found));
  ASSERT_EQ(found.size(), 1u);
  const uint32_t first = found[0]->DeviceID;
  // A connection left open would be a client that never reads, losing every report.
  EXPECT_TRUE(PumpUntil([&] { return server.Clients() == 0 && server.Listening(); }, 5000))
      << server.Clients() << " left open";
  EXPECT_EQ(found[0]->DevicePath, name);
  EXPECT_NE(found[0]->FriendlyName.find("virtual instrument"), std::string::npos);
  EXPECT_EQ(found[0]->HardwareIDs, std::vector<std::string>({"HID\\VID_5555&PID_4170"}));
  found.clear();
  ASSERT_TRUE(binding->Enumerate(binding->HidGuid(), found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->DeviceID, first) << "the same server is the same device";

  const THidHandle handle = binding->Open(name, THidAccess::ReadWrite);
  ASSERT_NE(handle, kNoHidHandle);
  THidAttributes attributes;
  ASSERT_TRUE(binding->GetAttributes(handle, attributes));
  EXPECT_EQ(attributes.VendorID, 0x5555);
  EXPECT_EQ(attributes.ProductID, 0x4170);
  THidCaps caps;
  ASSERT_TRUE(binding->GetCaps(binding->GetPreparsedData(handle), caps));
  EXPECT_EQ(caps.InputReportByteLength, 65);
  EXPECT_EQ(caps.OutputReportByteLength, 65);
  binding->Close(handle);

  server.Unplug();
  found.clear();
  ASSERT_TRUE(binding->Enumerate(binding->HidGuid(), found));
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(binding->Open(name, THidAccess::ReadWrite), kNoHidHandle);

  server.Plug();
  ASSERT_TRUE(binding->Enumerate(binding->HidGuid(), found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_NE(found[0]->DeviceID, first);
  binding->UnloadLibraries();
}

TEST_F(HidPipeTest, EveryOpenHandleHasItsOwnQueue) {
  TestPipeServer server(name);
  server.Plug();
  const THidHandle a = binding->Open(name, THidAccess::ReadWrite);
  const THidHandle b = binding->Open(name, THidAccess::OverlappedRead);
  ASSERT_NE(a, kNoHidHandle);
  ASSERT_NE(b, kNoHidHandle);
  ASSERT_TRUE(PumpUntil([&] { return server.Clients() == 2; }));
  ASSERT_EQ(server.Send(Report(7)), 2);
  EXPECT_EQ(Waiting(a), 65u);
  EXPECT_EQ(Waiting(b), 65u);
  EXPECT_TRUE(binding->FlushQueue(a));
  EXPECT_EQ(Waiting(a), 0u);
  EXPECT_EQ(Waiting(b), 65u) << "flushing one handle leaves the other's queue";
  binding->Close(a);
  binding->Close(b);
}

TEST_F(HidPipeTest, ReadsWritesFlushesAndFollowsUnplugAndReplug) {
  TestPipeServer server(name);
  MakeController();
  EXPECT_TRUE(controller->DeviceList().empty());

  server.Plug();
  Broadcast();
  ASSERT_TRUE(PumpUntil([&] { return controller->DeviceList().size() == 1; }));
  const uint32_t first = controller->DeviceList()[0]->PnPInfo().DeviceID;
  EXPECT_EQ(rec.Log, std::vector<std::string>({"change", "arrival " + std::to_string(first), "change"}));

  ASSERT_TRUE(controller->CheckOutAt(lent, 0));
  lent->SetThreadSleepTime(10);
  lent->SetNumOverlappedBuffers(256);
  lent->SetNumInputBuffers(256);
  EXPECT_EQ(lent->NumInputBuffers(), 256);
  // The read handle and the control handle.
  ASSERT_TRUE(PumpUntil([&] { return server.Clients() == 2; }));

  // Reports arrive whole and in order; messages of any other size are dropped.
  server.Send(Report(1));
  server.Send(std::vector<uint8_t>(10, 0xEE));
  server.Send(std::vector<uint8_t>(100, 0xDD));
  server.Send(Report(2));
  ASSERT_TRUE(PumpUntil([&] { return rec.DataCount >= 2; }));
  ASSERT_EQ(rec.Reports.size(), 2u);
  EXPECT_EQ(rec.ReportIDs, std::vector<uint8_t>({0, 0}));
  const std::vector<uint8_t> second = Report(2);
  EXPECT_EQ(rec.Reports[1], std::vector<uint8_t>(second.begin() + 1, second.end()));
  EXPECT_TRUE(rec.Errors.empty()) << rec.Errors.size() << " errors, first " << rec.Errors[0];

  // Writes go out as whole reports; anything but a whole report is refused.
  std::vector<uint8_t> command(65);
  command[0] = 0x0F;
  command[1] = 0x44;
  command[2] = 0xAA;
  uint32_t written = 0;
  EXPECT_TRUE(lent->WriteReport(command.data(), 65, written));
  EXPECT_EQ(written, 65u);
  EXPECT_FALSE(lent->WriteReport(command.data(), 64, written));
  ASSERT_TRUE(PumpUntil([&] { return server.Received().size() == 1; }));
  EXPECT_EQ(server.Received()[0], command);

  // The control handle queues what is sent while it is open (the write above
  // opened it, perhaps after the reports before); discarding drops it.
  ASSERT_NE(lent->HidFileHandle(), kNoHidHandle);
  server.Send(Report(3));
  ASSERT_TRUE(PumpUntil([&] { return Waiting(lent->HidFileHandle()) > 0; }));
  EXPECT_TRUE(lent->DiscardInput());
  EXPECT_EQ(Waiting(lent->HidFileHandle()), 0u);

  // The server goes away under a pending read: one read error, and the re-scan
  // it leads to reports the unplug before any broadcast comes.
  rec.Log.clear();
  server.Unplug();
  ASSERT_TRUE(PumpUntil([&] { return rec.ErrorCount >= 1; }));
  EXPECT_TRUE(IsDeviceGoneError(rec.Errors[0])) << rec.Errors[0];
  ASSERT_TRUE(PumpUntil([&] { return Contains(rec.Log, "change"); }));
  const std::string id = std::to_string(first);
  EXPECT_EQ(rec.Log, std::vector<std::string>({"unplug " + id, "removal " + id, "change"}));
  EXPECT_EQ(rec.ErrorCount, 1);
  EXPECT_FALSE(lent->IsPluggedIn());
  controller->ReturnDevice(lent);
  EXPECT_TRUE(controller->DeviceList().empty());

  rec.Log.clear();
  server.Plug();
  Broadcast();
  ASSERT_TRUE(PumpUntil([&] { return controller->DeviceList().size() == 1; }));
  const uint32_t again = controller->DeviceList()[0]->PnPInfo().DeviceID;
  EXPECT_NE(again, first);
  EXPECT_EQ(rec.Log, std::vector<std::string>({"arrival " + std::to_string(again), "change"}));
  EXPECT_EQ(reported, 0);
}

TEST_F(HidPipeTest, ReturningADeviceWhoseReaderWaitsInAHandOverNeverDeadlocks) {
  TestPipeServer server(name);
  server.Plug();
  MakeController();
  std::atomic<bool> feeding{true};
  std::thread feeder([&] {
    for (uint8_t seed = 0; feeding; ++seed) {
      if (server.Send(Report(seed)) == 0) Sleep(1);  // nobody to send to yet
    }
  });
  for (int round = 0; round < 100; ++round) {
    ASSERT_TRUE(controller->CheckOutAt(lent, 0));
    lent->SetThreadSleepTime(10);
    const int before = rec.DataCount;
    // The feeder keeps the reader busy, so at the return it is usually blocked
    // in SendMessage with the next report.
    ASSERT_TRUE(PumpUntil([&] { return rec.DataCount > before; })) << "round " << round;
    controller->ReturnDevice(lent);
  }
  feeding = false;
  feeder.join();
  EXPECT_EQ(reported, 0);
}

TEST_F(HidPipeTest, AWriteToADeviceThatTakesNothingGivesUp) {
  TestPipeServer server(name, /*reads=*/false, /*inBufferSize=*/65);
  server.Plug();
  MakeController();
  controller->SetOnDeviceData(nullptr);
  ASSERT_TRUE(controller->CheckOutAt(lent, 0));
  std::vector<uint8_t> command(65, 0x0F);
  uint32_t written = 0;
  bool accepted = true;
  int writes = 0;
  // The pipe takes a few reports into its buffer; then a write can only wait.
  // (It runs on a thread of its own, so its error number stays there.)
  while (accepted && writes < 200) {
    accepted = lent->WriteReport(command.data(), 65, written);
    ++writes;
  }
  EXPECT_FALSE(accepted);
  EXPECT_EQ(written, 0u);
  // The program goes on: the device is still lent and usable.
  EXPECT_TRUE(lent->IsPluggedIn());
  EXPECT_TRUE(lent->DiscardInput());
}

// Someone else's server under the instrument's name is not the instrument.
TEST_F(HidPipeTest, AServerOwnedBySomeoneElseIsNeitherListedNorOpened) {
  TestPipeServer server(name);
  server.Owner = "S-1-5-18";  // a server running as SYSTEM
  server.Plug();
  std::vector<std::unique_ptr<THidPnPInfo>> found;
  for (int scan = 0; scan < 2; ++scan) ASSERT_TRUE(binding->Enumerate(binding->HidGuid(), found));
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(binding->Open(name, THidAccess::ReadWrite), kNoHidHandle);
  ASSERT_EQ(notices.size(), 1u) << "one line however often it is scanned";
  EXPECT_EQ(notices[0],
            "Виртуальный прибор отклонён: канал " + name + " принадлежит другому пользователю (S-1-5-18)");
}

// A server at its cap answers busy: what is listed stays, the scan waits a
// moment only, and the operator reads why once.
TEST_F(HidPipeTest, AServerAtItsCapStaysListedAndIsNamedOnce) {
  sim::PipeServer server({.name = Widen(name), .broadcast = false});
  server.Plug();
  MakeController();
  ASSERT_EQ(controller->DeviceList().size(), 1u);
  std::vector<TWinHandle> clients;
  while (clients.size() < sim::PipeServer::kMaxClients) {
    ASSERT_TRUE(WaitNamedPipeA(name.c_str(), 5000)) << clients.size() << " clients";
    TWinHandle client(CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (client) clients.push_back(std::move(client));
  }
  ASSERT_TRUE(
      server.WaitForClientCount(clients.size(), sim::PipeServer::Clock::now() + std::chrono::seconds(5)));
  notices.clear();
  rec.Log.clear();
  for (int scan = 0; scan < 2; ++scan) controller->DeviceChange();
  EXPECT_EQ(controller->DeviceList().size(), 1u);
  EXPECT_TRUE(rec.Log.empty()) << rec.Log[0];
  EXPECT_EQ(notices,
            std::vector<std::string>{"Виртуальный прибор занят: канал " + name + " не принимает клиентов"});
}

// A server writing without pause must not keep a flush going for ever.
TEST_F(HidPipeTest, FlushingAHandleWhileTheServerFloodsItEnds) {
  // A plain server whose writes wait for room, so the pipe is refilled at once.
  const HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_WAIT, 1,
                                         65 * 64, 65 * 64, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  const HANDLE client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  DWORD mode = PIPE_READMODE_MESSAGE;
  ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    const std::vector<uint8_t> report = Report(3);
    DWORD written = 0;
    while (flooding && WriteFile(server, report.data(), 65, &written, nullptr)) {
    }
  });
  ASSERT_TRUE(PumpUntil([&] { return Waiting(FromWinHandle(client)) >= 65 * 32; }));
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> flushed{false};
  std::thread flush([&] {
    flushed = DrainPipe(client);
    SetEvent(done);
  });
  const bool ended = WaitForSingleObject(done, 10000) == WAIT_OBJECT_0;
  flooding = false;  // lets a flush that never ends return, so the test can report it
  flush.join();
  CloseHandle(client);  // ends a write waiting for room
  flood.join();
  CloseHandle(server);
  CloseHandle(done);
  EXPECT_TRUE(ended) << "the flush went on while the server wrote";
  EXPECT_TRUE(flushed);
}

}  // namespace
}  // namespace ts::test
