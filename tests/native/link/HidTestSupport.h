#pragma once
// A controller over the fakes, and a recorder whose handlers log what the
// controller and the read threads report, in order.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "link/HidControllerClass.h"
#include "tests/native/link/HidFakes.h"

namespace ts::test {

inline FakeInterface Interface(uint32_t id, uint16_t vendor = 0x5555, uint16_t product = 0x4170) {
  FakeInterface i;
  i.Id = id;
  i.Attributes = {vendor, product, 0x0100};
  i.Caps.InputReportByteLength = 65;
  i.Caps.OutputReportByteLength = 65;
  i.Caps.UsagePage = 0xFF00;
  return i;
}

struct Recorder : TObject {
  std::vector<std::string> Log;
  std::vector<int32_t> Offered;  // indexes passed to OnEnumerate
  bool GoOn = true;
  bool OfferedDuringEvent = true;
  // Written on the user interface thread only.
  std::vector<std::vector<uint8_t>> Reports;
  std::vector<uint8_t> ReportIDs;
  std::vector<uint32_t> Errors;
  std::atomic<int> DataCount{0};
  std::atomic<int> ErrorCount{0};

  static std::string Id(THidDevice* d) { return std::to_string(d->PnPInfo().DeviceID); }
  void Note(const std::string& what, THidDevice* d) {
    Log.push_back(what + " " + Id(d));
    OfferedDuringEvent = OfferedDuringEvent && d->IsOffered();
  }
  void Arrival(THidDevice* d) { Note("arrival", d); }
  void Removal(THidDevice* d) { Note(d->IsPluggedIn() ? "removal-plugged" : "removal", d); }
  void Unplug(THidDevice* d) { Log.push_back("unplug " + Id(d)); }
  void Change(TObject*) { Log.push_back("change"); }
  void OtherChange(TObject*) { Log.push_back("other change"); }
  bool Enumerate(THidDevice* d, int32_t idx) {
    Offered.push_back(idx);
    OfferedDuringEvent = OfferedDuringEvent && d->IsOffered();
    return GoOn;
  }
  void Data(THidDevice*, uint8_t reportID, const uint8_t* data, uint16_t size) {
    ReportIDs.push_back(reportID);
    Reports.emplace_back(data, data + size);
    ++DataCount;
  }
  void OtherData(THidDevice*, uint8_t, const uint8_t*, uint16_t) {}
  void Error(THidDevice*, uint32_t error) {
    Errors.push_back(error);
    ++ErrorCount;
  }
};

class HidTest : public ::testing::Test {
 protected:
  void Make() {
    auto owned = std::make_unique<FakeWatch>(&watchStarts, &watchStops);
    watch = owned.get();
    controller = std::make_unique<THidDeviceController>(nullptr, binding, dispatcher, std::move(owned));
  }
  // The window definition's order.
  void AttachAll() {
    controller->SetOnArrival(Bind(&rec, &Recorder::Arrival));
    controller->SetOnEnumerate(Bind(&rec, &Recorder::Enumerate));
    controller->SetOnDeviceChange(Bind(&rec, &Recorder::Change));
    controller->SetOnDeviceData(Bind(&rec, &Recorder::Data));
    controller->SetOnDeviceDataError(Bind(&rec, &Recorder::Error));
    controller->SetOnDeviceUnplug(Bind(&rec, &Recorder::Unplug));
    controller->SetOnRemoval(Bind(&rec, &Recorder::Removal));
  }
  THidDevice* At(size_t i) { return controller->DeviceList().at(i); }
  std::vector<uint32_t> Ids() {
    std::vector<uint32_t> ids;
    for (THidDevice* d : controller->DeviceList()) ids.push_back(d->PnPInfo().DeviceID);
    return ids;
  }
  void TearDown() override {
    if (lent && controller) controller->ReturnDevice(lent);
    controller.reset();
  }

  std::shared_ptr<FakeBinding> binding = std::make_shared<FakeBinding>();
  std::shared_ptr<FakeDispatcher> dispatcher = std::make_shared<FakeDispatcher>();
  std::unique_ptr<THidDeviceController> controller;
  Recorder rec;
  THidDevice* lent = nullptr;
  FakeWatch* watch = nullptr;
  int watchStarts = 0;
  int watchStops = 0;
};

}  // namespace ts::test
