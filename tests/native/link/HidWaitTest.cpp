// What the user interface thread may meet while it waits for a reader to stop:
// calls other threads sent it, device changes among them.

#include <thread>

#include "tests/native/link/HidTestSupport.h"

namespace ts::test {
namespace {

using Log = std::vector<std::string>;

// The USB window's way with the controller: gives an unplugged device back and
// takes the first one offered.
struct Link : TObject {
  THidDeviceController* Controller = nullptr;
  FakeBinding* Platform = nullptr;
  THidDevice* Current = nullptr;
  Log Events;

  bool Enumerate(THidDevice*, int32_t idx) {
    Controller->CheckOutAt(Current, idx);
    return Current == nullptr;
  }
  void Change(TObject*) {
    Events.push_back(Platform->WritesPending() > 0  ? "change while a write hangs"
                     : Platform->LiveRequests() > 0 ? "change while a reader runs"
                                                    : "change");
    if (Current && !Current->IsPluggedIn()) Controller->ReturnDevice(Current);
    if (!Current) Controller->OfferDevices();
  }
  void Data(THidDevice*, uint8_t, const uint8_t*, uint16_t) {}
};

class HidWaitTest : public HidTest {
 protected:
  void SetUp() override {
    binding->Plug(Interface(1));
    Make();
    link.Controller = controller.get();
    link.Platform = binding.get();
    controller->SetDevThreadSleepTime(10);
    controller->SetOnEnumerate(Bind(&link, &Link::Enumerate));
    controller->SetOnDeviceChange(Bind(&link, &Link::Change));
    controller->SetOnDeviceData(Bind(&link, &Link::Data));
  }
  void TearDown() override {
    if (link.Current && controller) controller->ReturnDevice(link.Current);
    HidTest::TearDown();
  }
  // A device change another thread has sent and that waits to be served, as a
  // broadcast sent to the application window does.
  std::thread SendDeviceChange() {
    std::thread sender([this] { dispatcher->Send([this] { watch->Fire(); }); });
    while (dispatcher->Pending() == 0) std::this_thread::yield();
    return sender;
  }

  Link link;
};

TEST_F(HidWaitTest, ADeviceChangeSentWhileAReaderStopsRunsAfterTheStop) {
  struct Case {
    const char* Name;
    bool ByReturn;  // else the data handler is taken away
  };
  for (const Case& c : {Case{"the window closes", true}, Case{"the data handler goes", false}}) {
    SCOPED_TRACE(c.Name);
    if (!link.Current) {
      binding->Plug(Interface(1));
      controller->SetOnDeviceData(Bind(&link, &Link::Data));
      controller->DeviceChange();
    }
    ASSERT_NE(link.Current, nullptr);
    ASSERT_TRUE(dispatcher->PumpUntil([&] { return binding->ReadStarts() > 0; }));
    link.Events.clear();
    // The instrument is pulled out as the program stops reading it.
    binding->Unplug(1);
    std::thread sender = SendDeviceChange();
    if (c.ByReturn) {
      controller->ReturnDevice(link.Current);
    } else {
      controller->SetOnDeviceData(nullptr);
    }
    ASSERT_TRUE(dispatcher->PumpUntil([&] { return !link.Events.empty(); }));
    sender.join();
    EXPECT_EQ(link.Events, Log({"change"}));
    EXPECT_EQ(link.Current, nullptr);
    EXPECT_TRUE(controller->DeviceList().empty());
    EXPECT_EQ(binding->LiveRequests(), 0);
  }
}

TEST_F(HidWaitTest, AWriteThatHangsLetsSentCallsInAndHoldsDeviceChangesBack) {
  ASSERT_NE(link.Current, nullptr);
  link.Events.clear();
  binding->HoldWrites(true);
  Log served;
  bool secondWritten = false;
  std::thread sender([&] {
    while (binding->WritesPending() == 0 && binding->Writes().empty()) std::this_thread::yield();
    // A report handed over, a device change and a second send arrive meanwhile.
    dispatcher->Send([&] {
      served.push_back(binding->WritesPending() > 0 ? "served during the write" : "served after the write");
      binding->Unplug(1);
      watch->Fire();
      binding->HoldWrites(false);
      uint32_t written = 0;
      const uint8_t second[65] = {0x07};
      secondWritten = link.Current && link.Current->WriteReport(second, sizeof second, written);
    });
  });
  uint32_t written = 0;
  const uint8_t first[65] = {0x0F};
  EXPECT_TRUE(link.Current->WriteReport(first, sizeof first, written));
  ASSERT_TRUE(dispatcher->PumpUntil([&] { return !link.Events.empty() && !served.empty(); }));
  sender.join();
  EXPECT_EQ(served, Log({"served during the write"}));
  EXPECT_TRUE(secondWritten);
  // The writes went one after the other, the first whole, and the unplug was
  // acted on only once both had ended.
  const auto writes = binding->Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0][0], 0x0F);
  EXPECT_EQ(writes[1][0], 0x07);
  EXPECT_EQ(binding->WritesOnClosedHandles(), 0);
  // (The reader may or may not have ended on its own by then.)
  ASSERT_EQ(link.Events.size(), 1u);
  EXPECT_NE(link.Events[0], "change while a write hangs");
  EXPECT_EQ(link.Current, nullptr);
}

}  // namespace
}  // namespace ts::test
