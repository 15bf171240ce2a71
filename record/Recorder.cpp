#include "record/Recorder.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace ts {
namespace {

// A block is written at least this often, so a crash loses at most this much.
constexpr std::chrono::milliseconds kBlockMaxAge{1000};
constexpr std::chrono::milliseconds kWriterTick{50};

int64_t SteadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TRecorder::TRecorder(size_t ringCapacity)
    : ring_(ringCapacity), block_(kBlockHeaderSize + kBlockTargetSize + kMaxRecordSize) {}

TRecorder::~TRecorder() { Stop(TRecordingEnd::ProgramClosed); }

bool TRecorder::Start(std::unique_ptr<TRecordSink> sink, const TRecordingHeader& header,
                      int64_t originMicros) {
  Stop(TRecordingEnd::Stopped);
  sink_ = std::move(sink);
  encoder_ = TRecordEncoder();
  failed_ = false;
  blockSize_ = 0;
  blockRecords_ = 0;
  lastTime_ = 0;
  origin_ = originMicros;
  head_ = tail_ = 0;
  stop_ = false;
  dropped_ = written_ = 0;
  {
    std::lock_guard lock(failureMutex_);
    failure_.clear();
  }
  const std::vector<uint8_t> bytes = EncodeRecordingHeader(header);
  if (!sink_->Write(bytes.data(), bytes.size())) {
    Fail(sink_->Error());
    sink_->Close();
    sink_.reset();
    return false;
  }
  recording_ = true;
  writer_ = std::thread([this] { Run(); });
  return true;
}

void TRecorder::Push(int64_t nowMicros, uint8_t reportID, const uint8_t* data, uint16_t size) {
  if (!recording_) return;
  const uint64_t h = head_.load(std::memory_order_relaxed);
  if (h - tail_.load(std::memory_order_acquire) >= ring_.size()) {
    ++dropped_;
    return;
  }
  TSlot& slot = ring_[h % ring_.size()];
  slot.time = nowMicros - origin_;
  slot.reportID = reportID;
  slot.size = size < kMaxRecordedReportSize ? size : kMaxRecordedReportSize;
  if (slot.size) std::memcpy(slot.data, data, slot.size);
  head_.store(h + 1, std::memory_order_release);
}

void TRecorder::Stop(TRecordingEnd reason) {
  if (!writer_.joinable()) return;
  {
    std::lock_guard lock(stopMutex_);
    endReason_ = reason;
    stop_ = true;
  }
  stopped_.notify_all();
  writer_.join();
  recording_ = false;
  sink_.reset();
}

std::string TRecorder::TakeFailure() {
  std::lock_guard lock(failureMutex_);
  return std::exchange(failure_, std::string());
}

void TRecorder::Fail(const std::string& why) {
  failed_ = true;
  {
    std::lock_guard lock(failureMutex_);
    failure_ = why;
  }
  // Only now: whoever sees the recording over must find why.
  recording_ = false;
}

void TRecorder::Run() {
  while (true) {
    bool stopping;
    {
      std::unique_lock lock(stopMutex_);
      stopping = stopped_.wait_for(lock, kWriterTick, [this] { return stop_; });
    }
    Drain();
    if (!failed_ && blockRecords_ > 0 && SteadyMillis() - blockOpenedAt_ >= kBlockMaxAge.count())
      FlushBlock();
    if (stopping) break;
  }
  Drain();
  if (failed_) return;
  blockSize_ += encoder_.EncodeEnd(lastTime_, endReason_, block_.data() + kBlockHeaderSize + blockSize_);
  ++blockRecords_;
  if (FlushBlock() && !sink_->Close()) Fail(sink_->Error());
}

void TRecorder::Drain() {
  uint64_t t = tail_.load(std::memory_order_relaxed);
  const uint64_t h = head_.load(std::memory_order_acquire);
  for (; t != h; ++t) {
    const TSlot& slot = ring_[t % ring_.size()];
    if (!failed_) {
      if (blockRecords_ == 0) blockOpenedAt_ = SteadyMillis();
      lastTime_ = slot.time;
      blockSize_ += encoder_.Encode(slot.time, slot.reportID, slot.data, slot.size,
                                    block_.data() + kBlockHeaderSize + blockSize_);
      ++blockRecords_;
      ++written_;
    }
    tail_.store(t + 1, std::memory_order_release);
    if (!failed_ && blockSize_ >= kBlockTargetSize) FlushBlock();
  }
}

bool TRecorder::FlushBlock() {
  if (blockRecords_ == 0) return true;
  uint8_t* payload = block_.data() + kBlockHeaderSize;
  EncodeBlockHeader(uint32_t(blockSize_), blockRecords_, Crc32(payload, blockSize_), block_.data());
  const size_t total = kBlockHeaderSize + blockSize_;
  blockSize_ = 0;
  blockRecords_ = 0;
  if (!sink_->Write(block_.data(), total)) {
    Fail(sink_->Error());
    sink_->Close();
    return false;
  }
  return true;
}

}  // namespace ts
