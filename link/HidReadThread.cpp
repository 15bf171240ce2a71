#include "link/HidReadThread.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <optional>

#include "link/HidControllerClass.h"

namespace ts {

namespace {
constexpr std::chrono::seconds kSteadyReading{3};
}  // namespace

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device, uint16_t reportLength)
    : device_(device), report_(reportLength), ended_(device.environment_->Dispatcher->NewSignal()) {}

THidDeviceReadThread::~THidDeviceReadThread() {
  if (thread_.joinable()) {
    terminated_ = true;
    thread_.join();
  }
}

void THidDeviceReadThread::Start(int32_t delayMs) {
  delayMs_ = delayMs;
  thread_ = std::thread([this] { Execute(); });
}

void THidDeviceReadThread::StopAndWait() {
  terminated_ = true;
  device_.environment_->Dispatcher->WaitServing(*ended_);
  if (thread_.joinable()) thread_.join();
}

void THidDeviceReadThread::Execute() {
  THidBinding& binding = device_.Binding();
  bool gone = false;
  uint32_t died = 0;
  std::optional<std::chrono::steady_clock::time_point> readingSince;  // the first report
  for (int32_t waited = 0; waited < delayMs_ && !terminated_; waited += device_.ThreadSleepTime())
    std::this_thread::sleep_for(std::chrono::milliseconds(device_.ThreadSleepTime()));
  try {
    binding.EnterReadThread();
    std::unique_ptr<THidReadRequest> request = binding.NewReadRequest();
    const uint32_t length = static_cast<uint32_t>(report_.size());
    while (!terminated_) {
      std::fill(report_.begin(), report_.end(), uint8_t{0});
      uint32_t error = kHidErrorInvalidHandle;
      const THidHandle handle = device_.EnsureReadHandle();
      if (handle == kNoHidHandle || !request->Start(handle, report_.data(), length, error)) {
        if ((gone = ReportReadError(error))) break;
        // A condition that stops reads usually lasts; retrying at once would
        // spin a core and flood the user interface thread with errors.
        if (!terminated_) request->Pause(device_.ThreadSleepTime());
        continue;
      }
      bool completed = false;
      while (!terminated_) {
        if (request->Wait(device_.ThreadSleepTime())) {
          completed = true;
          break;
        }
      }
      if (!completed) {
        if (!request->Cancel()) AbandonRead(std::move(request));
        break;
      }
      if (terminated_) break;
      numBytesRead_ = std::min(request->Result(), length);
      if (numBytesRead_ > 0) {
        // A device that answers once and fails again is no better: only reading
        // that lasts ends the growing pause between readers.
        const auto now = std::chrono::steady_clock::now();
        if (!readingSince) {
          readingSince = now;
        } else if (now - *readingSince >= kSteadyReading) {
          device_.readerRestarts_ = 0;
        }
        HandOverReport();
        continue;
      }
      if (const uint32_t error = request->Error(); error != 0 && (gone = ReportReadError(error))) break;
      // Not in a loop: a device whose reads keep ending empty would spin.
      request->Pause(device_.ThreadSleepTime());
    }
  } catch (const std::bad_alloc&) {
    died = kHidErrorNotEnoughMemory;
  } catch (...) {
    died = kHidErrorReaderDied;
  }
  // Nothing may leave a thread entry. A reader that can read no more says why
  // and lets a re-scan find out whether its device is still there.
  if (died != 0 && !terminated_) {
    try {
      lastError_ = died;
      HandOverError();
    } catch (...) {
    }
  }
  // Ended before the re-scan is asked for, so that the re-scan finds it ended.
  finished_ = true;
  if ((gone || died != 0) && !terminated_) {
    try {
      PostDeviceChange(device_.environment_);
    } catch (...) {
    }
  }
  ended_->Set();
}

void THidDeviceReadThread::AbandonRead(std::unique_ptr<THidReadRequest> request) {
  // The read may still complete into the request and the report buffer: both
  // stay allocated for good. Its handle is closed, so nothing reads there again.
  static_cast<void>(request.release());
  static_cast<void>(new std::vector<uint8_t>(std::move(report_)));
  device_.CloseReadHandle();
  lastError_ = kHidErrorTimeout;
  HandOverError();
}

bool THidDeviceReadThread::ReportReadError(uint32_t error) {
  lastError_ = error;
  HandOverError();
  return IsDeviceGoneError(error);
}

void THidDeviceReadThread::HandOverReport() {
  device_.environment_->Dispatcher->Send([this] {
    if (device_.deviceDataHandler_) {
      device_.deviceDataHandler_(&device_, report_[0], report_.data() + 1,
                                 static_cast<uint16_t>(numBytesRead_ - 1));
    }
  });
}

void THidDeviceReadThread::HandOverError() {
  device_.environment_->Dispatcher->Send([this] {
    if (device_.deviceErrorHandler_) device_.deviceErrorHandler_(&device_, lastError_);
  });
}

}  // namespace ts
