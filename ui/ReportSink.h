#pragma once
// Whatever takes the instrument's reports: the screen, the recorder, the rate
// meter. A source (the link to the instrument) tells each of its sinks which
// device its reports come from, hands them on one by one, and says when that
// device is no longer read. All on the user interface thread.

#include <cstdint>

namespace ts {

class THidDevice;

enum class TSourceEnd {
  Gone,      // the device was unplugged or stopped answering
  Replaced,  // another device's reports follow in its place
  Closed,    // the program is ending
};

class TReportSink {
 public:
  virtual ~TReportSink() = default;
  // Reports of `device` follow, until Close.
  virtual void Open(THidDevice& device) = 0;
  // One input report's data, whatever its ID.
  virtual void Report(uint8_t reportID, const uint8_t* data, uint16_t size) = 0;
  virtual void Close(TSourceEnd reason) = 0;
};

}  // namespace ts
