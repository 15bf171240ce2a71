// The device list: scans, device-change events and their order, lending.

#include "tests/native/link/HidTestSupport.h"

namespace ts::test {
namespace {

using Log = std::vector<std::string>;

TEST_F(HidTest, AttachingOnDeviceChangeReportsOnceEvenWithoutLibraries) {
  for (bool hidLibrary : {true, false}) {
    SCOPED_TRACE(hidLibrary ? "with libraries" : "without the HID library");
    binding = std::make_shared<FakeBinding>();
    binding->HidLibrary = hidLibrary;
    binding->Plug(Interface(1));
    rec.Log.clear();
    watchStarts = 0;
    Make();
    EXPECT_FALSE(controller->DeviceChangeReported());
    controller->SetOnDeviceChange(Bind(&rec, &Recorder::Change));
    controller->SetOnDeviceChange(Bind(&rec, &Recorder::Change));
    EXPECT_EQ(rec.Log, Log({"change"}));
    EXPECT_TRUE(controller->DeviceChangeReported());
    EXPECT_EQ(controller->DeviceList().size(), hidLibrary ? 1u : 0u);
    EXPECT_EQ(watchStarts, hidLibrary ? 1 : 0);
    EXPECT_EQ(controller->InterfaceClass(), hidLibrary ? FakeBinding::kHidGuid : kFallbackHidInterfaceClass);
    controller.reset();
  }
}

TEST_F(HidTest, OnlyOneControllerPerProgram) {
  Make();
  try {
    THidDeviceController second(nullptr, binding, dispatcher, nullptr);
    FAIL() << "a second controller was made";
  } catch (const EControllerError& e) {
    EXPECT_STREQ(e.what(), "Only one THidDeviceController allowed per program");
  }
  // The failed one gave its place back.
  controller.reset();
  EXPECT_NO_THROW(Make());
  EXPECT_EQ(controller->Version(), "1.0.22");
}

TEST_F(HidTest, ScanSkipsInterfacesThatCannotBeOpenedOrIdentified) {
  FakeInterface closed = Interface(2);
  closed.ReadWrite = closed.Query = false;
  FakeInterface anonymous = Interface(3);
  anonymous.Identifiable = false;
  FakeInterface readOnly = Interface(4);
  readOnly.ReadWrite = false;
  for (const FakeInterface& i : {Interface(1), closed, anonymous, readOnly}) binding->Plug(i);
  Make();
  EXPECT_EQ(Ids(), std::vector<uint32_t>({1, 4}));
  EXPECT_TRUE(At(0)->HasReadWriteAccess());
  EXPECT_FALSE(At(1)->HasReadWriteAccess());
  EXPECT_EQ(At(0)->Attributes().VendorID, 0x5555);
  EXPECT_EQ(At(0)->Attributes().VersionNumber, 0x0100);
  // Every handle of the scan was closed again; the control handle shows as unopened.
  EXPECT_EQ(binding->OpenHandles(), 0);
  EXPECT_EQ(At(0)->HidFileHandle(), ~uint64_t{0});
  EXPECT_EQ(controller->NumCheckedInDevices(), 2);
}

TEST_F(HidTest, ScanFindingTheSameDevicesFiresNothing) {
  binding->Plug(Interface(1));
  binding->Plug(Interface(2));
  Make();
  AttachAll();
  rec.Log.clear();
  THidDevice* first = At(0);
  controller->DeviceChange();
  controller->DeviceChange();
  EXPECT_TRUE(rec.Log.empty());
  EXPECT_EQ(At(0), first) << "the listed object stays, the fresh duplicate goes";
  EXPECT_EQ(binding->OpenHandles(), 0);
}

TEST_F(HidTest, ArrivalsAreAppendedAndFollowedByOneDeviceChange) {
  binding->Plug(Interface(1));
  Make();
  AttachAll();
  rec.Log.clear();
  binding->Plug(Interface(7, 0x1234, 0x0001));
  binding->Plug(Interface(5));
  controller->DeviceChange();
  EXPECT_EQ(rec.Log, Log({"arrival 7", "arrival 5", "change"}));
  EXPECT_EQ(Ids(), std::vector<uint32_t>({1, 7, 5}));
  EXPECT_TRUE(rec.OfferedDuringEvent);
  EXPECT_FALSE(At(1)->IsOffered());
}

TEST_F(HidTest, UnpluggingAFreeDeviceDestroysIt) {
  binding->Plug(Interface(1));
  binding->Plug(Interface(2));
  binding->Plug(Interface(3));
  Make();
  AttachAll();
  rec.Log.clear();
  binding->Unplug(1);
  binding->Unplug(3);
  controller->DeviceChange();
  // Removals run from the last listed device to the first.
  EXPECT_EQ(rec.Log, Log({"unplug 3", "removal 3", "unplug 1", "removal 1", "change"}));
  EXPECT_TRUE(rec.OfferedDuringEvent);
  EXPECT_EQ(Ids(), std::vector<uint32_t>({2}));
}

TEST_F(HidTest, AnUnpluggedLentDeviceStaysListedUntilReturned) {
  binding->Plug(Interface(1));
  binding->Plug(Interface(2, 0x5555, 0x0002));
  Make();
  AttachAll();
  ASSERT_TRUE(controller->CheckOutAt(lent, 0));
  rec.Log.clear();
  binding->Unplug(1);
  controller->DeviceChange();
  EXPECT_EQ(rec.Log, Log({"unplug 1", "removal 1", "change"}));
  ASSERT_EQ(Ids(), std::vector<uint32_t>({1, 2}));
  EXPECT_FALSE(lent->IsPluggedIn());
  EXPECT_EQ(lent->HidFileHandle(), kNoHidHandle);
  EXPECT_EQ(controller->NumUnpluggedDevices(), 1);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 0);
  EXPECT_EQ(controller->CountMatching(0x5555, -1), 1) << "an unplugged device is not counted";

  // Counted as gone again; its unplug handler ran once only.
  rec.Log.clear();
  controller->DeviceChange();
  EXPECT_EQ(rec.Log, Log({"removal 1", "change"}));

  // The same interface coming back is a new device while the old one waits.
  binding->Plug(Interface(1));
  rec.Log.clear();
  controller->DeviceChange();
  EXPECT_EQ(rec.Log, Log({"removal 1", "arrival 1", "change"}));
  EXPECT_EQ(Ids(), std::vector<uint32_t>({1, 2, 1}));

  controller->ReturnDevice(lent);
  EXPECT_EQ(lent, nullptr);
  EXPECT_EQ(Ids(), std::vector<uint32_t>({2, 1}));
  EXPECT_TRUE(At(1)->IsPluggedIn());
}

// A handler that pumps messages (a message box, say) can let the next device
// change in while the last one is still being reported.
struct NestingRecorder : Recorder {
  FakeWatch* Watch = nullptr;
  FakeBinding* Platform = nullptr;
  void ArrivalThatPumps(THidDevice* d) {
    Arrival(d);
    if (d->PnPInfo().DeviceID == 2) {
      Platform->Unplug(2);
      Watch->Fire();
    }
  }
};

TEST_F(HidTest, ADeviceChangeDuringAnotherRunsAfterIt) {
  binding->Plug(Interface(1));
  Make();
  NestingRecorder nesting;
  nesting.Watch = watch;
  nesting.Platform = binding.get();
  controller->SetOnArrival(Bind(&nesting, &NestingRecorder::ArrivalThatPumps));
  controller->SetOnRemoval(Bind(static_cast<Recorder*>(&nesting), &Recorder::Removal));
  controller->SetOnDeviceChange(Bind(static_cast<Recorder*>(&nesting), &Recorder::Change));
  nesting.Log.clear();
  binding->Plug(Interface(2));
  binding->Plug(Interface(3));
  watch->Fire();
  EXPECT_EQ(nesting.Log, Log({"arrival 2", "arrival 3", "change", "removal 2", "change"}));
  EXPECT_EQ(Ids(), std::vector<uint32_t>({1, 3}));
}

TEST_F(HidTest, AFailedScanCountsEveryDeviceAsGone) {
  binding->Plug(Interface(1));
  Make();
  AttachAll();
  rec.Log.clear();
  binding->EnumerationFails = true;
  controller->DeviceChange();
  EXPECT_EQ(rec.Log, Log({"unplug 1", "removal 1", "change"}));
  EXPECT_TRUE(controller->DeviceList().empty());
}

TEST_F(HidTest, CountMatchingWithAnyProduct) {
  binding->Plug(Interface(1, 0x5555, 0x4170));
  binding->Plug(Interface(2, 0x5555, 0x0001));
  binding->Plug(Interface(3, 0x1111, 0x4170));
  Make();
  EXPECT_EQ(controller->CountMatching(0x5555, -1), 2);
  EXPECT_EQ(controller->CountMatching(0x5555, 0x4170), 1);
  EXPECT_EQ(controller->CountMatching(0x1111, -1), 1);
  EXPECT_EQ(controller->CountMatching(0x4170, -1), 0);
  EXPECT_EQ(controller->CountMatching(0x5555, 0xFFFF), 0);
}

TEST_F(HidTest, OfferDevicesPassesListIndexesWithGaps) {
  for (uint32_t id : {1, 2, 3, 4}) binding->Plug(Interface(id));
  Make();
  AttachAll();
  THidDevice* other = nullptr;
  ASSERT_TRUE(controller->CheckOutAt(lent, 0));
  ASSERT_TRUE(controller->CheckOutAt(other, 2));
  binding->Unplug(1);
  binding->Unplug(3);
  controller->DeviceChange();
  ASSERT_EQ(controller->DeviceList().size(), 4u);

  rec.Offered.clear();
  rec.OfferedDuringEvent = true;
  EXPECT_EQ(controller->OfferDevices(), 2);
  EXPECT_EQ(rec.Offered, std::vector<int32_t>({1, 3}));
  EXPECT_TRUE(rec.OfferedDuringEvent);
  EXPECT_EQ(At(1)->HidFileHandle(), kNoHidHandle);

  // The first false answer ends the offer.
  rec.Offered.clear();
  rec.GoOn = false;
  EXPECT_EQ(controller->OfferDevices(), 1);
  EXPECT_EQ(rec.Offered, std::vector<int32_t>({1}));

  // With no handler only the first plugged-in device counts.
  controller->SetOnEnumerate(nullptr);
  EXPECT_EQ(controller->OfferDevices(), 1);
  controller->ReturnDevice(other);
}

TEST_F(HidTest, CheckOutAtRefusesBadIndexesAndLentDevices) {
  binding->Plug(Interface(1));
  Make();
  THidDevice* device = At(0);
  EXPECT_FALSE(controller->CheckOutAt(device, 1));
  EXPECT_EQ(device, nullptr);
  EXPECT_FALSE(controller->CheckOutAt(device, -1));
  ASSERT_TRUE(controller->CheckOutAt(lent, 0));
  EXPECT_TRUE(lent->IsCheckedOut());
  EXPECT_EQ(controller->NumCheckedOutDevices(), 1);
  device = lent;
  EXPECT_FALSE(controller->CheckOutAt(device, 0));
  EXPECT_EQ(device, nullptr);
  controller->ReturnDevice(lent);
  EXPECT_FALSE(At(0)->IsCheckedOut());
  EXPECT_EQ(controller->NumCheckedInDevices(), 1);
  THidDevice* none = nullptr;
  controller->ReturnDevice(none);  // nothing happens
}

TEST_F(HidTest, DevThreadSleepTimeMovesOnlyDevicesAtTheOldValue) {
  for (uint32_t id : {1, 2, 3}) binding->Plug(Interface(id));
  Make();
  At(1)->SetThreadSleepTime(50);
  controller->SetDevThreadSleepTime(10);
  EXPECT_EQ(At(0)->ThreadSleepTime(), 10);
  EXPECT_EQ(At(1)->ThreadSleepTime(), 50);
  EXPECT_EQ(At(2)->ThreadSleepTime(), 10);
  // Out of the device's range: the property moves, the devices keep theirs.
  controller->SetDevThreadSleepTime(5);
  EXPECT_EQ(controller->DevThreadSleepTime(), 5);
  EXPECT_EQ(At(0)->ThreadSleepTime(), 10);
  // Devices found later start at the device default.
  binding->Plug(Interface(4));
  controller->DeviceChange();
  EXPECT_EQ(At(3)->ThreadSleepTime(), 100);
}

TEST_F(HidTest, HandlersPassToDevicesThatStillHaveTheOldOne) {
  binding->Plug(Interface(1));
  binding->Plug(Interface(2));
  Make();
  AttachAll();
  EXPECT_EQ(At(0)->DeviceDataHandler(), Bind(&rec, &Recorder::Data));
  EXPECT_EQ(At(0)->DeviceUnplugHandler(), Bind(&rec, &Recorder::Unplug));
  EXPECT_EQ(At(0)->DeviceErrorHandler(), Bind(&rec, &Recorder::Error));
  controller->SetOnDeviceData(Bind(&rec, &Recorder::OtherData));
  EXPECT_EQ(At(1)->DeviceDataHandler(), Bind(&rec, &Recorder::OtherData));
  controller->SetOnDeviceUnplug(nullptr);
  EXPECT_FALSE(At(0)->DeviceUnplugHandler());
  // A new device starts with the controller's current handlers.
  binding->Plug(Interface(3));
  controller->DeviceChange();
  EXPECT_EQ(At(2)->DeviceDataHandler(), Bind(&rec, &Recorder::OtherData));
}

TEST_F(HidTest, DestructionKeepsLentDevicesAliveAndUnplugged) {
  binding->Plug(Interface(1));
  binding->Plug(Interface(2));
  Make();
  AttachAll();
  ASSERT_TRUE(controller->CheckOutAt(lent, 1));
  ASSERT_TRUE(dispatcher->PumpUntil([&] { return binding->ReadStarts() > 0; }));
  rec.Log.clear();
  controller.reset();
  EXPECT_EQ(watchStops, 1);
  EXPECT_EQ(binding->Unloads(), 1);
  // A reader left running would read through an unloaded library and hand its
  // reports to handlers of windows that are gone.
  EXPECT_EQ(binding->LiveRequestsAtUnload(), 0);
  EXPECT_FALSE(lent->HasReaderThread());
  // The free device went; the lent one lives on for its holder, unplugged.
  ASSERT_NE(lent, nullptr);
  EXPECT_FALSE(lent->IsPluggedIn());
  EXPECT_EQ(rec.Log, Log({"unplug 2"}));
  EXPECT_EQ(lent->HidFileHandle(), kNoHidHandle);
  delete lent;
  lent = nullptr;
  EXPECT_EQ(binding->OpenHandles(), 0);
}

}  // namespace
}  // namespace ts::test
