#pragma once
// What the link needs of the main window, which sits above it: the status panels
// and the two halves of the input-report handler. The main window registers itself.

#include <cstdint>
#include <string>

namespace ts {

class THidDevice;

class TLinkHost {
 public:
  virtual void SetStatusPanel(int index, const std::wstring& text) = 0;
  virtual void RenderScreenReport(const uint8_t* data, uint16_t size) = 0;
  virtual void RecordReport(THidDevice* device, uint8_t reportID, const uint8_t* data, uint16_t size) = 0;

 protected:
  ~TLinkHost() = default;
};

// The main window while it exists; the link form is created after it.
inline TLinkHost* LinkHost = nullptr;

// Input-report data bytes of the current device since the last rate tick. Touched
// by the user interface thread only, so it needs no lock.
inline int32_t ReceivedBytes = 0;

}  // namespace ts
