#include "link/LinkReports.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/HidControllerClass.h"
#include "ui/Cp1251.h"

namespace ts {
namespace {

void Put16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v & 0xFF);
  at[1] = static_cast<uint8_t>(v >> 8);
}

std::string Hex(uint32_t v, int digits) {
  char s[32];
  std::snprintf(s, sizeof s, "%0*X", digits, v);
  return s;
}

std::string Dec(int64_t v) { return std::to_string(v); }

std::string YesNo(bool b) { return b ? "Yes" : "No"; }

}  // namespace

TOutputReport BuildCommandReport(uint16_t code, uint16_t arg1, uint16_t arg2, uint16_t arg3) {
  TOutputReport out{};
  out[0] = TS4170_COMMAND_REPORT_ID;
  Put16(&out[1], code);
  Put16(&out[3], arg1);
  Put16(&out[5], arg2);
  Put16(&out[7], arg3);
  return out;
}

TOutputReport BuildMessageReport(uint16_t x, uint16_t y, int32_t seconds, std::string_view text1251) {
  TOutputReport out{};
  out[0] = TS4170_MESSAGE_REPORT_ID;
  out[1] = TS4170_MESSAGE_MARKER_1;
  out[2] = TS4170_MESSAGE_MARKER_2;
  Put16(&out[3], x);
  Put16(&out[5], y);
  Put16(&out[7], static_cast<uint16_t>(static_cast<uint32_t>(seconds) * TS4170_MESSAGE_TICKS_PER_SECOND));
  size_t n = std::min<size_t>(text1251.size(), TS4170_MESSAGE_TEXT_SIZE);
  std::memcpy(&out[TS4170_MESSAGE_TEXT_OFFSET], text1251.data(), n);
  return out;
}

std::string LogLine(int32_t number, std::string_view text) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", number);
  return std::string(digits) + "  " + std::string(text);
}

std::vector<std::string> TLogFold::Add(std::string_view text) {
  if (!last_.empty() && text == last_) {
    ++repeats_;
    return {};
  }
  std::vector<std::string> lines = End();
  last_ = text;
  lines.push_back(last_);
  return lines;
}

std::vector<std::string> TLogFold::End() {
  std::vector<std::string> lines;
  if (repeats_ > 0) lines.push_back(last_ + " (повторено " + std::to_string(repeats_) + " раз)");
  last_.clear();
  repeats_ = 0;
  return lines;
}

std::vector<std::string> TReadErrorLog::Error(std::string_view text) {
  return fold_.Add("Ошибка: " + std::string(text));
}

std::vector<std::string> TReadErrorLog::Success() { return fold_.End(); }

std::string PacketText(uint16_t size) { return " Пакет " + std::to_string(size) + " байта"; }

const std::wstring& TPacketWideText::operator()(uint16_t size) {
  if (size != shownSize_) {
    const std::u16string wide = Utf8ToUtf16(PacketText(size));
    text_.assign(wide.begin(), wide.end());
    shownSize_ = size;
  }
  return text_;
}

std::vector<std::string> PropertyListing(THidDevice& d) {
  const THidPnPInfo& p = d.PnPInfo();
  // Read afresh for each line, as each line asks the device.
  auto caps = [&d] { return d.HIDCaps(); };
  auto hex16 = [](uint32_t v) { return Hex(v, 16) + "h"; };
  return {
      "******** СВОЙСТВА USB УСТРОЙСТВА TS4170 *********** ",
      "Прибор ТС4170 подключен !!!",
      "Attributes.VendorID     = " + Hex(d.Attributes().VendorID, 5) + "h",
      "Attributes.ProductID    = " + Hex(d.Attributes().ProductID, 5) + "h",
      "Attributes.VersionNumber= " + Hex(d.Attributes().VersionNumber, 5) + "h",
      " ",
      "DeviceStrings[0] = " + d.DeviceStrings(0),
      " ",
      // The handle as an unsigned 32-bit number: no handle shows as 00000000FFFFFFFFh.
      "HidFileHandle= " + hex16(static_cast<uint32_t>(d.HidFileHandle())),
      " ",
      "HasReadWriteAccess = " + YesNo(d.HasReadWriteAccess()),
      "IsCheckedOut = " + YesNo(d.IsCheckedOut()),
      "IsPluggedIn  = " + YesNo(d.IsPluggedIn()),
      "MaxButtonListLength  = " + Dec(d.MaxButtonListLength()),
      "MaxDataListLength    = " + Dec(d.MaxDataListLength()),
      "MaxUsageListLength   = " + Dec(d.MaxUsageListLength()),
      "NumInputBuffers      = " + Dec(d.NumInputBuffers()),
      "NumOverlappedBuffers = " + Dec(d.NumOverlappedBuffers()),
      "Tag = " + Dec(d.Tag()),
      "ThreadSleepTime = " + Dec(d.ThreadSleepTime()),
      " ",
      "HIDCaps.InputReportByteLength  = " + Dec(caps().InputReportByteLength),
      "HIDCaps.OutputReportByteLength = " + Dec(caps().OutputReportByteLength),
      "HIDCaps.FeatureReportByteLength  = " + Dec(caps().FeatureReportByteLength),
      "HIDCaps.NumberInputButtonCaps    = " + Dec(caps().NumberInputButtonCaps),
      "HIDCaps.NumberInputValueCaps     = " + Dec(caps().NumberInputValueCaps),
      "HIDCaps.NumberInputDataIndices   = " + Dec(caps().NumberInputDataIndices),
      "HIDCaps.NumberOutputButtonCaps   = " + Dec(caps().NumberOutputButtonCaps),
      "HIDCaps.NumberOutputValueCaps    = " + Dec(caps().NumberOutputValueCaps),
      "HIDCaps.NumberOutputDataIndices  = " + Dec(caps().NumberOutputDataIndices),
      "HIDCaps.NumberFeatureButtonCaps  = " + Dec(caps().NumberFeatureButtonCaps),
      "HIDCaps.NumberFeatureValueCaps   = " + Dec(caps().NumberFeatureValueCaps),
      "HIDCaps.NumberFeatureDataIndices = " + Dec(caps().NumberFeatureDataIndices),
      " ",
      "PnPInfo.DeviceID     = " + hex16(p.DeviceID),
      "PnPInfo.DevicePath   = " + p.DevicePath,
      "PnPInfo.Capabilities = " + hex16(p.Capabilities),
      "PnPInfo.ClassDescr   = " + p.ClassDescr,
      "PnPInfo.ClassGUID   = " + p.ClassGUID,
      "PnPInfo.ConfigFlags = " + hex16(p.ConfigFlags),
      "PnPInfo.DeviceDescr = " + p.DeviceDescr,
      "PnPInfo.Driver      = " + p.Driver,
      "PnPInfo.FriendlyName = " + p.FriendlyName,
      "PnPInfo.Mfg      = " + p.Mfg,
      "PnPInfo.Address  = " + p.Address,
      "PnPInfo.BusNumber= " + hex16(p.BusNumber),
      "PnPInfo.BusType      = " + p.BusType,
      "PnPInfo.Characteristics = " + p.Characteristics,
      "PnPInfo.EnumeratorName  = " + p.EnumeratorName,
      "PnPInfo.Exclusive  = " + hex16(p.Exclusive),
      "PnPInfo.LocationInfo   = " + p.LocationInfo,
      "PnPInfo.PhysDevObjName = " + p.PhysDevObjName,
      "PnPInfo.Service  = " + p.Service,
      "PnPInfo.UINumber = " + hex16(p.UINumber),
      "PnPInfo.UINumberFormat = " + p.UINumberFormat,
  };
}

}  // namespace ts
