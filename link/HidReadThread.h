#pragma once
// A device's read thread: reads input reports in a loop and hands every report
// and read error over to the user interface thread, waiting until it has been
// handled there.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "link/HidBinding.h"

namespace ts {

class THidDevice;

class THidDeviceReadThread {
 public:
  THidDeviceReadThread(THidDevice& device, uint16_t reportLength);
  ~THidDeviceReadThread();
  THidDeviceReadThread(const THidDeviceReadThread&) = delete;
  THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

  void Start();
  // Tells the loop to stop and waits for it, serving its pending hand-over.
  void StopAndWait();

 private:
  void Execute();
  void HandOverReport();
  void HandOverError();
  // Hands the error over; true when it means the device is gone.
  bool ReportReadError(uint32_t error);
  // A read whose cancel did not take: given up, closed and logged.
  void AbandonRead(std::unique_ptr<THidReadRequest> request);

  THidDevice& device_;
  std::vector<uint8_t> report_;
  uint32_t numBytesRead_ = 0;
  uint32_t lastError_ = 0;
  std::atomic<bool> terminated_{false};
  std::unique_ptr<TUiSignal> ended_;
  std::thread thread_;
};

}  // namespace ts
