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

  // Starts reading after `delayMs`: a reader that follows one that failed waits
  // first, so a fault that lasts cannot make the readers spin.
  void Start(int32_t delayMs = 0);
  // Whether the loop has ended on its own (an error) or been stopped.
  bool Ended() const { return finished_; }
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
  std::atomic<bool> finished_{false};
  int32_t delayMs_ = 0;
  std::unique_ptr<TUiSignal> ended_;
  std::thread thread_;
};

}  // namespace ts
