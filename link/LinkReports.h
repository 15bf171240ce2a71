#pragma once
// The link's texts and report layouts, apart from the window that shows them.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Ts4170Protocol.h"

namespace ts {

class THidDevice;

inline constexpr uint16_t kInstrumentVendorID = TS4170_VENDOR_ID;
inline constexpr uint16_t kInstrumentProductID = TS4170_PRODUCT_ID;
inline constexpr int kOutputReportSize = TS4170_REPORT_SIZE;

// An output report as written: the report ID and 64 bytes, passed by value.
using TOutputReport = std::array<uint8_t, kOutputReportSize>;

// Command report (ID 0x0F): code and three arguments, little-endian, rest zero.
TOutputReport BuildCommandReport(uint16_t code, uint16_t arg1, uint16_t arg2, uint16_t arg3);
// Message report (ID 0x07, marker 0x55 0xAA): position, time in fiftieths of a
// second (low 16 bits), then up to 56 bytes of Windows-1251 text with no
// terminator when it fills the field.
TOutputReport BuildMessageReport(uint16_t x, uint16_t y, int32_t seconds, std::string_view text1251);

// A numbered log line: at least three digits, two spaces, the text.
std::string LogLine(int32_t number, std::string_view text);
// " Пакет N байта"
std::string PacketText(uint16_t size);
// The same in UTF-16, built only when the size differs from the last one's: the
// link shows it for every report, and must not touch the heap then.
class TPacketWideText {
 public:
  const std::wstring& operator()(uint16_t size);

 private:
  int shownSize_ = -1;
  std::wstring text_;
};
// A run of one line, logged once and once more with the number of its
// repeats when the run ends, so nothing repeated can flood the log.
class TLogFold {
 public:
  // The lines to log for `text`: none while it repeats the last.
  std::vector<std::string> Add(std::string_view text);
  // Ends the run: its count, if it repeated.
  std::vector<std::string> End();

 private:
  std::string last_;
  int repeats_ = 0;
};

// The event log's lines for the read errors the reader reports, "Ошибка: "
// and the system's text. An error repeated with no report in between is
// logged once, and once more with the number of its repeats when a report or
// another error comes, so reads that keep failing cannot flood the log.
class TReadErrorLog {
 public:
  std::vector<std::string> Error(std::string_view text);
  // A read has brought a report.
  std::vector<std::string> Success();

 private:
  TLogFold fold_;
};

// The 55 lines of the property listing of a device, labels and values.
std::vector<std::string> PropertyListing(THidDevice& device);

}  // namespace ts
