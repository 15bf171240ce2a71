#pragma once
// The output reports a server has received, the last kLimit of them, for a test
// or a tool to take one by one or read all at once: the same for the pipe and the
// HID device.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/Screen.h"

namespace ts::sim {

class KeptOutputReports {
 public:
  static constexpr size_t kLimit = 4096;

  void Add(const Report& report) {
    {
      std::lock_guard lock(mutex_);
      reports_.push_back(report);
      if (reports_.size() > kLimit) {
        reports_.pop_front();
        if (taken_ > 0) --taken_;
      }
    }
    added_.notify_all();
  }
  // Takes the next report not yet taken, waiting until `deadline`.
  std::optional<Report> TakeNext(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!added_.wait_until(lock, deadline, [&] { return taken_ < reports_.size(); })) return std::nullopt;
    return reports_[taken_++];
  }
  std::vector<Report> All() const {
    std::lock_guard lock(mutex_);
    return {reports_.begin(), reports_.end()};
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable added_;
  std::deque<Report> reports_;
  size_t taken_ = 0;
};

}  // namespace ts::sim
