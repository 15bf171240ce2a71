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
    Events.push_back(Platform->LiveRequests() > 0 ? "change while a reader runs" : "change");
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

}  // namespace
}  // namespace ts::test
