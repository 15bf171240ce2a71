#include "link/HidWriter.h"

namespace ts {

void THidWriter::Start() {
  std::lock_guard lock(mutex_);
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void THidWriter::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  stopping_ = false;
}

void THidWriter::Post(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  Start();
  wake_.notify_one();
}

void THidWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    const std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace ts
