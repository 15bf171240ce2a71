// The program's HID path (Win32 binding, controller, read thread, device-change
// watch) against a real HID device on Wine's HID class stack: the stand-in
// driver on a root-enumerated device, fed through its control device. Runs in a
// prefix of its own (hid-prefix.sh).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include <windows.h>
// After windows.h, which it builds on.
#include <dbt.h>

#include "link/HidWin32Binding.h"
#include "link/HidWin32Dispatcher.h"
#include "link/HidWin32Io.h"
#include "tests/native/link/HidTestSupport.h"
#include "tests/windows/support/HidStandIn.h"
#include "tests/windows/support/Pump.h"
#include "ui/WindowObject.h"

namespace ts::test {
namespace {

using namespace std::chrono;

constexpr uint16_t kOtherProductId = 0x4171;

std::vector<uint8_t> Data(uint8_t seed) {
  std::vector<uint8_t> data(64);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(seed + i);
  return data;
}

// Every WM_DEVICECHANGE a top-level window gets, in order, with the device
// interface named by arrival and removal notices. It registers for HID
// interface notices as a program that wants them would.
class DeviceChangeLog {
 public:
  DeviceChangeLog() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HidClassStackTestLog";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                              wc.hInstance, this);
    DEV_BROADCAST_DEVICEINTERFACE_W filter{sizeof filter, DBT_DEVTYP_DEVICEINTERFACE};
    filter.dbcc_classguid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    notify_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  ~DeviceChangeLog() {
    if (notify_) UnregisterDeviceNotification(notify_);
    DestroyWindow(window_);
  }
  std::vector<std::string> Take() { return std::exchange(entries_, {}); }
  const std::vector<std::string>& Entries() const { return entries_; }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    auto* self = WindowObject<DeviceChangeLog>(window, message, lp);
    if (self && message == WM_DEVICECHANGE) self->Note(wp, lp);
    return DefWindowProcW(window, message, wp, lp);
  }
  void Note(WPARAM wp, LPARAM lp) {
    char text[64];
    snprintf(text, sizeof text, "0x%04llx", static_cast<unsigned long long>(wp));
    std::string entry = text;
    if ((wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE) && lp) {
      const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lp);
      if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        // Wine hands windows wide names whichever way they registered.
        const auto* d = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lp);
        std::string name;
        for (const wchar_t* c = d->dbcc_name; *c; ++c) name += static_cast<char>(tolower(*c));
        entry += name.find("pid_4171") != std::string::npos   ? " 4171"
                 : name.find("pid_4170") != std::string::npos ? " 4170"
                                                              : " other";
      }
    }
    entries_.push_back(entry);
  }
  HWND window_ = nullptr;
  HDEVNOTIFY notify_ = nullptr;
  std::vector<std::string> entries_;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "; ";
  return all;
}

class HidClassStackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    standIn = std::make_unique<HidStandIn>(BuildSimDir());
    const auto start = steady_clock::now();
    plugged = standIn->Plug();
    printf("first plug: %lld ms\n",
           static_cast<long long>(duration_cast<milliseconds>(steady_clock::now() - start).count()));
  }
  static void TearDownTestSuite() { standIn.reset(); }
  void SetUp() override {
    ASSERT_TRUE(plugged) << standIn->Failure();
    ASSERT_TRUE(standIn->Plug()) << standIn->Failure();  // again, should a test have left it unplugged
  }
  void TearDown() override {
    if (lent) controller->ReturnDevice(lent);
    controller.reset();
    if (HasFailure()) printf("driver log:\n%s\n", standIn->DriverLog().c_str());
  }

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
  THidDevice* Find(uint16_t productId) {
    for (THidDevice* d : controller->DeviceList())
      if (d->Attributes().VendorID == 0x5555 && d->Attributes().ProductID == productId) return d;
    return nullptr;
  }
  void CheckOut() {
    MakeController();
    ASSERT_EQ(controller->CountMatching(0x5555, 0x4170), 1);
    THidDevice* device = Find(0x4170);
    ASSERT_TRUE(device);
    const std::vector<THidDevice*> listed = controller->DeviceList();
    const auto index = static_cast<int32_t>(std::find(listed.begin(), listed.end(), device) - listed.begin());
    ASSERT_TRUE(controller->CheckOutAt(lent, index));
  }
  // Checks out the instrument and waits until its reader delivers.
  void CheckOutReading() {
    ASSERT_NO_FATAL_FAILURE(CheckOut());
    lent->SetThreadSleepTime(10);
    lent->SetNumInputBuffers(256);
    // The reader may start after a push: push until one arrives.
    const std::vector<uint8_t> probe = Data(0xA0);
    ASSERT_TRUE(PumpUntil([&] { return standIn->Push(probe.data()), rec.DataCount > 0; }, 10000))
        << standIn->DriverLog();
  }
  // Pushes a report and waits until the reader hands it over.
  bool PushAndSee(uint8_t seed) {
    const std::vector<uint8_t> data = Data(seed);
    return standIn->Push(data.data()) &&
           PumpUntil([&] { return !rec.Reports.empty() && rec.Reports.back() == data; });
  }
  std::string Listed() {
    std::string all;
    for (THidDevice* d : controller->DeviceList()) {
      char text[32];
      snprintf(text, sizeof text, "%04x/%04x ", d->Attributes().VendorID, d->Attributes().ProductID);
      all += text;
    }
    std::vector<std::unique_ptr<THidPnPInfo>> found;
    binding->Enumerate(binding->HidGuid(), found);
    for (const auto& f : found) {
      const THidHandle h = binding->Open(f->DevicePath, THidAccess::ReadWrite);
      THidAttributes a;
      const bool got = h != kNoHidHandle && binding->GetAttributes(h, a);
      char text[300];
      snprintf(text, sizeof text, "\n  %s id %u%s pid %04x", f->DevicePath.c_str(), f->DeviceID,
               h == kNoHidHandle ? " (no open)" : "", got ? a.ProductID : 0);
      all += text;
      binding->Close(h);
    }
    return all + "\n; log " + Joined(rec.Log);
  }

  static inline std::unique_ptr<HidStandIn> standIn;
  static inline bool plugged = false;
  std::shared_ptr<THidWin32Binding> binding = std::make_shared<THidWin32Binding>();
  std::unique_ptr<THidDeviceController> controller;
  Recorder rec;
  THidDevice* lent = nullptr;
  int reported = 0;
};

TEST_F(HidClassStackTest, DescribesItselfAsTheInstrument) {
  ASSERT_NO_FATAL_FAILURE(CheckOut());
  THidDevice* device = lent;
  EXPECT_NE(device->PnPInfo().DevicePath.find("vid_5555&pid_4170"), std::string::npos)
      << device->PnPInfo().DevicePath;
  const THidCaps caps = device->HIDCaps();
  EXPECT_EQ(caps.InputReportByteLength, 65);
  EXPECT_EQ(caps.OutputReportByteLength, 65);
  EXPECT_EQ(caps.UsagePage, 0xFF00);

  // The device's strings reach programs through the named-string calls (Wine's
  // class driver asks the device by 1/2/3 for them). By index, as the property
  // listing asks, Wine 8 answers ERROR_NOT_SUPPORTED, so the listing shows none.
  const THidHandle handle = binding->Open(device->PnPInfo().DevicePath, THidAccess::ReadWrite);
  ASSERT_NE(handle, kNoHidHandle);
  HMODULE hid = GetModuleHandleA("hid.dll");
  using GetString = BOOLEAN(WINAPI*)(HANDLE, void*, ULONG);
  const struct {
    const char* function;
    const wchar_t* text;
    uint8_t index;
  } strings[] = {{"HidD_GetManufacturerString", L"TS4170 Virtual", 1},
                 {"HidD_GetProductString", L"TS4170 HID", 2},
                 {"HidD_GetSerialNumberString", L"VT41700001", 3}};
  for (const auto& s : strings) {
    wchar_t text[128] = {};
    auto get = reinterpret_cast<GetString>(reinterpret_cast<void*>(GetProcAddress(hid, s.function)));
    ASSERT_TRUE(get) << s.function;
    EXPECT_TRUE(get(ToWinHandle(handle), text, sizeof text)) << s.function;
    EXPECT_STREQ(text, s.text) << s.function;
    std::u16string indexed;
    EXPECT_FALSE(binding->GetIndexedString(handle, s.index, indexed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(device->DeviceStrings(s.index), "");
  }

  // The class driver's queue length per handle: Windows takes 2 to 512.
  const struct {
    uint32_t asked;
    bool taken;
    uint32_t held;
  } buffers[] = {{32, true, 32}, {1, false, 32}, {2, true, 2}, {512, true, 512}, {513, false, 512}};
  for (const auto& b : buffers) {
    EXPECT_EQ(binding->SetNumInputBuffers(handle, b.asked), b.taken) << b.asked;
    uint32_t held = 0;
    EXPECT_TRUE(binding->GetNumInputBuffers(handle, held));
    EXPECT_EQ(held, b.held) << "after asking for " << b.asked;
  }
  binding->Close(handle);
}

TEST_F(HidClassStackTest, CarriesWholeReportsBothWaysAndDiscardsWhatWaits) {
  ASSERT_NO_FATAL_FAILURE(CheckOutReading());
  ASSERT_TRUE(PushAndSee(1));
  EXPECT_EQ(rec.ReportIDs.back(), 0x01);

  // The device gets exactly the bytes written, report ID first.
  std::vector<uint8_t> command(65), message(65);
  command[0] = 0x0F, command[1] = 0xEE, command[2] = 0xAA, command[3] = 0x01;
  message[0] = 0x07, message[1] = 0x55, message[2] = 0xAA;
  for (int i = 3; i < 65; ++i) message[i] = static_cast<uint8_t>(0x80 + i);
  for (const auto* report : {&command, &message}) {
    uint32_t written = 0;
    EXPECT_TRUE(lent->WriteReport(report->data(), 65, written));
    // Wine counts the data bytes, Windows the whole report; the program looks
    // only at success.
    EXPECT_TRUE(written == 64 || written == 65) << written;
    const auto got = standIn->TakeOutput(steady_clock::now() + seconds(10));
    ASSERT_TRUE(got) << "report 0x" << std::hex << int((*report)[0]) << "\n" << standIn->DriverLog();
    EXPECT_EQ(std::vector<uint8_t>(got->begin(), got->end()), *report);
  }

  // Discarding before a write: Wine 8's class driver has no queue flush
  // (ERROR_NOT_SUPPORTED), so what waits on the control handle, which nobody
  // reads, stays; the program goes on to write all the same.
  for (uint8_t seed : {10, 20}) ASSERT_TRUE(PushAndSee(seed));
  EXPECT_FALSE(lent->DiscardInput());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  auto read = binding->NewReadRequest();
  std::vector<uint8_t> buffer(65);
  uint32_t error = 0;
  ASSERT_TRUE(read->Start(lent->HidFileHandle(), buffer.data(), 65, error)) << error;
  ASSERT_TRUE(read->Wait(10000));
  EXPECT_EQ(read->Result(), 65u);
  EXPECT_NE(std::vector<uint8_t>(buffer.begin() + 1, buffer.end()), Data(20)) << "the oldest report stays";
  EXPECT_EQ(reported, 0);
}

TEST_F(HidClassStackTest, RemovalEndsThePendingReadAndAReplugIsFoundAgain) {
  DeviceChangeLog changes;
  ASSERT_NO_FATAL_FAILURE(CheckOutReading());
  const std::string id = Recorder::Id(lent);
  rec.Log.clear();
  ASSERT_TRUE(standIn->Unplug()) << standIn->Failure();
  ASSERT_TRUE(PumpUntil([&] { return rec.ErrorCount >= 1; })) << standIn->DriverLog();
  EXPECT_EQ(rec.Errors[0], static_cast<uint32_t>(ERROR_ACCESS_DENIED))
      << "Windows gives ERROR_DEVICE_NOT_CONNECTED";
  // The unplug comes with the device change Wine broadcasts.
  ASSERT_TRUE(PumpUntil([&] { return !lent->IsPluggedIn(); })) << Joined(changes.Entries());
  PumpUntil([&] { return std::count(rec.Log.begin(), rec.Log.end(), "change") > 0; }, 2000);
  // The read error leads to a scan of its own, and so does Wine's broadcast; a
  // lent device that is gone counts as removed at each until it is returned.
  ASSERT_GE(rec.Log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(rec.Log.begin(), rec.Log.begin() + 3),
            std::vector<std::string>({"unplug " + id, "removal " + id, "change"}));
  for (size_t k = 3; k < rec.Log.size(); ++k) EXPECT_EQ(rec.Log[k], k % 2 ? "removal " + id : "change");
  printf("on removal: %s\n", Joined(changes.Take()).c_str());
  controller->ReturnDevice(lent);

  rec.Log.clear();
  ASSERT_TRUE(standIn->Plug()) << standIn->Failure();
  ASSERT_TRUE(PumpUntil([&] { return Find(0x4170) != nullptr; })) << Joined(changes.Entries());
  PumpUntil([&] { return std::count(rec.Log.begin(), rec.Log.end(), "change") > 0; }, 2000);
  printf("on installation: %s\n", Joined(changes.Take()).c_str());
  EXPECT_EQ(rec.Log, std::vector<std::string>({"arrival " + Recorder::Id(Find(0x4170)), "change"}));
  EXPECT_EQ(reported, 0);
}

TEST_F(HidClassStackTest, ASecondDeviceIsListedWhileTheInstrumentKeepsReading) {
  DeviceChangeLog changes;
  ASSERT_NO_FATAL_FAILURE(CheckOutReading());
  rec.Log.clear();
  ASSERT_TRUE(standIn->Plug(kOtherProductId)) << standIn->Failure();
  ASSERT_TRUE(PumpUntil([&] { return Find(kOtherProductId) != nullptr; }))
      << Listed() << "; messages " << Joined(changes.Entries());
  EXPECT_EQ(controller->CountMatching(0x5555, 0x4170), 1);
  // Only the new device comes and goes: the others listed keep their place.
  const std::string other = Recorder::Id(Find(kOtherProductId));
  PumpUntil([&] { return std::count(rec.Log.begin(), rec.Log.end(), "change") > 0; }, 2000);
  EXPECT_EQ(std::exchange(rec.Log, {}), std::vector<std::string>({"arrival " + other, "change"}));
  ASSERT_TRUE(standIn->Unplug(kOtherProductId)) << standIn->Failure();
  ASSERT_TRUE(PumpUntil([&] { return Find(kOtherProductId) == nullptr; }));
  PumpUntil([&] { return std::count(rec.Log.begin(), rec.Log.end(), "change") > 0; }, 2000);
  EXPECT_EQ(rec.Log, std::vector<std::string>({"unplug " + other, "removal " + other, "change"}));

  EXPECT_TRUE(lent->IsPluggedIn());
  EXPECT_TRUE(PushAndSee(7));
  EXPECT_TRUE(rec.Errors.empty()) << rec.Errors[0];
  EXPECT_EQ(reported, 0);
}

}  // namespace
}  // namespace ts::test
