#pragma once
// The data-rate text of the status bar.

#include <cstdint>
#include <string>
#include <utility>

#include "ui/Bound.h"
#include "ui/PathCounters.h"
#include "ui/ReportSink.h"

namespace ts {

// The bytes of the reports counted between two ticks of the rate timer.
class TRateMeter : public TReportSink {
 public:
  void Open(THidDevice&) override {}
  void Report(uint8_t, const uint8_t*, uint16_t size) override { bytes_ += size; }
  void Close(TSourceEnd) override {}
  int32_t Take() {
    PathCounters.RatedBytes.fetch_add(bytes_, std::memory_order_relaxed);
    return std::exchange(bytes_, 0);
  }

 private:
  int32_t bytes_ = 0;
};

// Bytes per second from the bytes counted over one timer interval. The product is
// taken in 64 bits: in 32 bits it would overflow above 2,147,483 bytes.
int64_t DataRate(int32_t receivedBytes, uint32_t intervalMs);

// "Скорость приема данных  " + the rate written with the pattern "#### 000 Байт/c":
// higher digits without leading zeros, a space, the last three digits
// zero-padded, a space, the unit (UTF-8).
std::string SpeedText(int64_t rate);
// The same in UTF-16, written into storage kept from call to call: the timer shows
// it every second while reports stream, and must not touch the heap then.
class TSpeedWideText {
 public:
  TSpeedWideText() { text_.reserve(64); }  // the longest rate fits
  const std::wstring& operator()(int64_t rate);

 private:
  std::wstring text_;
};

}  // namespace ts
