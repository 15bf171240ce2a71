#pragma once
// A device's writer: one thread that writes one report at a time, running while
// the device is lent (and started by a write to a device offered meanwhile). The
// user interface thread hands it a job and waits serving
// (THidDevice::WriteReport), so a device that stops taking reports freezes
// nothing and a thousand key presses cost one thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace ts {

class THidWriter {
 public:
  THidWriter() = default;
  ~THidWriter() { Stop(); }
  THidWriter(const THidWriter&) = delete;
  THidWriter& operator=(const THidWriter&) = delete;

  // Starts the thread unless it runs.
  void Start();
  // Runs the jobs handed over, then ends the thread. None is dropped: a write's
  // caller waits for its job's signal, and the binding's write is bounded in time
  // (and fails at once on the handles a returned device has closed).
  void Stop();
  // Runs job on the writer's thread after the jobs handed over before it.
  void Post(std::function<void()> job);

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace ts
