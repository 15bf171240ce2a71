#include "record/RecordingBinding.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "ui/Cp1251.h"

namespace ts {
namespace {

constexpr size_t kSeekLead = 512;  // reports replayed at once before a seek's target
constexpr size_t kMaxStep = 1024;  // reports one step delivers at most
constexpr THidHandle kHandle = 0x7EC0;

int64_t Micros(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

bool IsPresent(const TRecordedReport& r) { return r.ReportID == 0 && r.Size == 64 && r.Data[60] == 0; }

}  // namespace

TPlayback::TPlayback(std::shared_ptr<const std::vector<uint8_t>> file) : file_(std::move(file)) {
  TRecordingReader reader(*file_);
  TRecordedReport r;
  while (reader.Next(r)) duration_ = r.TimeMicros;
  header_ = reader.Header();
  problem_ = reader.Problem();
  burst_.reserve(kMaxStep);
  Restart();
}

void TPlayback::Restart() {
  reader_ = std::make_unique<TRecordingReader>(*file_);
  haveNext_ = Decode();
  burst_.clear();
  burstAt_ = 0;
  anchorMedia_ = position_ = 0;
  anchorWall_ = Clock::now();
}

bool TPlayback::Decode() { return reader_->Next(next_); }

int64_t TPlayback::MediaNow(Clock::time_point now) const {
  return paused_ ? anchorMedia_ : anchorMedia_ + Micros(now - anchorWall_) * speed_;
}

uint32_t TPlayback::Copy(const TRecordedReport& r, uint8_t* out, uint32_t length) {
  if (length == 0) return 0;
  const uint32_t n = std::min<uint32_t>(length - 1, r.Size);
  out[0] = r.ReportID;
  std::memcpy(out + 1, r.Data.data(), n);
  position_ = r.TimeMicros;
  return n + 1;
}

void TPlayback::Play() {
  std::lock_guard lock(mutex_);
  if (!paused_) return;
  paused_ = false;
  anchorMedia_ = position_;
  anchorWall_ = Clock::now();
  changed_.notify_all();
}

void TPlayback::Pause() {
  std::lock_guard lock(mutex_);
  if (paused_) return;
  anchorMedia_ = std::min(MediaNow(Clock::now()), haveNext_ ? next_.TimeMicros : duration_);
  paused_ = true;
  changed_.notify_all();
}

bool TPlayback::Paused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

void TPlayback::SetSpeed(int speed) {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  anchorMedia_ = MediaNow(now);
  anchorWall_ = now;
  speed_ = std::clamp(speed, 1, 4);
  changed_.notify_all();
}

void TPlayback::Step() {
  std::lock_guard lock(mutex_);
  if (!paused_ || burstAt_ < burst_.size()) return;
  burst_.clear();
  burstAt_ = 0;
  while (haveNext_ && burst_.size() < kMaxStep) {
    burst_.push_back(next_);
    haveNext_ = Decode();
    if (IsPresent(burst_.back())) break;
  }
  if (!burst_.empty()) anchorMedia_ = burst_.back().TimeMicros;
  changed_.notify_all();
}

void TPlayback::Seek(int64_t micros) {
  std::lock_guard lock(mutex_);
  const bool paused = paused_;
  Restart();
  paused_ = paused;
  std::vector<TRecordedReport> lead(kSeekLead);
  size_t n = 0;
  while (haveNext_ && next_.TimeMicros < micros) {
    lead[n++ % kSeekLead] = next_;
    haveNext_ = Decode();
  }
  burst_.clear();
  for (size_t i = n > kSeekLead ? n - kSeekLead : 0; i < n; ++i) burst_.push_back(lead[i % kSeekLead]);
  anchorMedia_ = position_ = std::clamp<int64_t>(micros, 0, duration_);
  anchorWall_ = Clock::now();
  changed_.notify_all();
}

int64_t TPlayback::PositionMicros() const {
  std::lock_guard lock(mutex_);
  return position_;
}

bool TPlayback::AtEnd() const {
  std::lock_guard lock(mutex_);
  return !haveNext_ && burstAt_ >= burst_.size();
}

void TPlayback::Lateness(uint64_t& count, int64_t& sumMicros, int64_t& maxMicros) const {
  std::lock_guard lock(mutex_);
  count = lateCount_;
  sumMicros = lateSum_;
  maxMicros = lateMax_;
}

uint32_t TPlayback::Next(uint8_t* out, uint32_t length, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  const auto deadline = Clock::now() + wait;
  while (true) {
    if (burstAt_ < burst_.size()) {
      const uint32_t n = Copy(burst_[burstAt_++], out, length);
      if (burstAt_ == burst_.size()) {
        burst_.clear();
        burstAt_ = 0;
      }
      return n;
    }
    auto wake = deadline;
    if (haveNext_ && !paused_) {
      const auto now = Clock::now();
      const auto due = anchorWall_ + std::chrono::microseconds((next_.TimeMicros - anchorMedia_) / speed_);
      if (now >= due) {
        const int64_t late = Micros(now - due);
        ++lateCount_;
        lateSum_ += late;
        lateMax_ = std::max(lateMax_, late);
        const uint32_t n = Copy(next_, out, length);
        haveNext_ = Decode();
        return n;
      }
      wake = std::min(due, deadline);
    }
    if (changed_.wait_until(lock, wake) == std::cv_status::timeout && Clock::now() >= deadline) return 0;
  }
}

// ---------------------------------------------------------------------------

namespace {

class TPlaybackRead : public THidReadRequest {
 public:
  explicit TPlaybackRead(std::shared_ptr<TPlayback> playback) : playback_(std::move(playback)) {}
  bool Start(THidHandle, uint8_t* buffer, uint32_t length, uint32_t&) override {
    buffer_ = buffer;
    length_ = length;
    result_ = 0;
    return true;
  }
  bool Wait(int32_t milliseconds) override {
    result_ = playback_->Next(buffer_, length_, std::chrono::milliseconds(std::max(milliseconds, 1)));
    return result_ > 0;
  }
  uint32_t Result() override { return result_; }
  bool Cancel() override { return true; }
  void Pause(int32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

 private:
  std::shared_ptr<TPlayback> playback_;
  uint8_t* buffer_ = nullptr;
  uint32_t length_ = 0;
  uint32_t result_ = 0;
};

}  // namespace

bool TRecordingBinding::Enumerate(const THidGuid&, std::vector<std::unique_ptr<THidPnPInfo>>& found) {
  auto info = std::make_unique<THidPnPInfo>();
  info->Binding = this;
  info->DevicePath = "recording";
  info->DeviceDescr = "Recording";
  info->ClassDescr = "HIDClass";
  found.push_back(std::move(info));
  return true;
}

THidHandle TRecordingBinding::Open(const std::string&, THidAccess access) {
  return kHandle + static_cast<THidHandle>(access);
}

bool TRecordingBinding::GetAttributes(THidHandle, THidAttributes& attributes) {
  attributes.VendorID = playback_->Header().VendorID;
  attributes.ProductID = playback_->Header().ProductID;
  attributes.VersionNumber = playback_->Header().VersionNumber;
  return true;
}

bool TRecordingBinding::GetCaps(THidPreparsedData, THidCaps& caps) {
  caps = THidCaps{};
  caps.InputReportByteLength = 65;
  caps.OutputReportByteLength = 65;
  return true;
}

bool TRecordingBinding::GetNumInputBuffers(THidHandle, uint32_t& count) {
  count = 256;
  return true;
}

bool TRecordingBinding::GetIndexedString(THidHandle, uint32_t index, std::u16string& text) {
  const TRecordingHeader& h = playback_->Header();
  const std::string* s = index == 1   ? &h.Manufacturer
                         : index == 2 ? &h.Product
                         : index == 3 ? &h.SerialNumber
                                      : nullptr;
  if (!s) return false;
  text = Utf8ToUtf16(*s);
  return true;
}

bool TRecordingBinding::Write(THidHandle, const uint8_t*, uint32_t, uint32_t& written) {
  written = 0;
  return false;
}

std::unique_ptr<THidReadRequest> TRecordingBinding::NewReadRequest() {
  return std::make_unique<TPlaybackRead>(playback_);
}

}  // namespace ts
