#include "record/RecordingBinding.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "screen/ScreenImage.h"

#include "ui/Cp1251.h"

namespace ts {
namespace {

constexpr size_t kSeekLead = 512;  // reports replayed at once before a seek's target
constexpr size_t kMaxStep = 1024;  // reports one step delivers at most
constexpr THidHandle kHandle = 0x7EC0;

int64_t Micros(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

// An older file has no key blocks: its map keeps the decoder's state this often,
// and no more than this many times (a copy of the state is some 33 KB).
constexpr int64_t kSnapshotIntervalUnits = 60 * 1'000'000 / kRecordingTimeUnitMicros;
constexpr size_t kMaxSnapshots = 1024;
// However a file crowds its key blocks, a scan keeps at most a point a second.
constexpr int64_t kPointSpacingUnits = 1'000'000 / kRecordingTimeUnitMicros;

bool IsPresent(const TRecordedReport& r) { return PresentsFrame(r.Data.data(), r.Size); }

}  // namespace

bool MapRecording(TRecordingReader& reader, TRecordingMap& map, const std::function<bool(double)>& progress) {
  map = TRecordingMap();
  TRecordingIndex index;
  map.Indexed = reader.ReadIndex(index);
  reader.Seek({reader.FirstBlock(), 0, 0, nullptr});
  const double size = double(std::max<uint64_t>(1, reader.FileSize()));
  bool given = false;
  uint64_t lastBlock = 0;
  size_t snapshots = 0;
  reader.OnBlock = [&](const TSeekPoint& at, bool key, const TCodingState& state) {
    if (progress && !progress(double(at.Offset) / size)) given = true;
    lastBlock = at.Offset;
    if (map.Indexed) return;
    const int64_t since = map.Points.empty() ? kMaxRecordingUnits : at.Unit - map.Points.back().Unit;
    if (key ? since >= kPointSpacingUnits : since >= kSnapshotIntervalUnits && snapshots < kMaxSnapshots) {
      map.Points.push_back(at);
      if (!key) {
        map.Points.back().State = std::make_shared<const TCodingState>(state);
        ++snapshots;
      }
    }
  };
  TRecordedReport r;
  if (map.Indexed) {
    map.Points = std::move(index.Points);
    map.DurationMicros = index.DurationUnits * kRecordingTimeUnitMicros;
    map.Lost = index.Lost;
    // The index was written before anything could damage the file: every
    // block's checksum is checked, and at damage the records are read up to it
    // from the key block before, to tell the user where it lies.
    while (!given && reader.SkipBlock(index.Offset)) {
    }
    if (!given && reader.Status() != TRecordingReader::TStatus::Reading) {
      TSeekPoint from{reader.FirstBlock(), 0, 0, nullptr};
      for (const TSeekPoint& p : map.Points)
        if (p.Offset <= lastBlock) from = p;
      reader.OnBlock = nullptr;
      reader.Seek(from);
      while (reader.Next(r)) {
      }
      map.Problem = reader.Problem();
    }
  } else {
    while (!given && reader.Next(r)) {
    }
    map.DurationMicros = reader.LastTimeMicros();
    map.Lost = reader.Lost();
    map.Problem = reader.Problem();
  }
  reader.OnBlock = nullptr;
  if (given) return false;
  if (map.Points.empty()) map.Points.push_back({reader.FirstBlock(), 0, 0, nullptr});
  return true;
}

TPlayback::TPlayback(std::shared_ptr<TByteSource> source, const std::function<bool(double)>& progress)
    : reader_(std::make_unique<TRecordingReader>(std::move(source))) {
  header_ = reader_->Header();
  mapped_ = MapRecording(*reader_, map_, progress);
  duration_ = map_.DurationMicros;
  problem_ = map_.Problem;
  if (problem_.empty() && map_.Lost)
    problem_ = "В записи пропуски: потеряно отчётов при записи: " + std::to_string(map_.Lost);
  lead_.resize(kSeekLead);
  burst_.reserve(kMaxStep);
  Restart();
}

TPlayback::TPlayback(std::shared_ptr<const std::vector<uint8_t>> file)
    : TPlayback(std::make_shared<TMemorySource>(std::move(file))) {}

void TPlayback::Restart() {
  reader_->Seek(map_.Points.front());
  haveNext_ = Decode();
  burst_.clear();
  burstAt_ = 0;
  anchorMedia_ = position_ = 0;
  anchorWall_ = Clock::now();
}

bool TPlayback::Decode() {
  if (reader_->Next(next_)) return true;
  // Damage met on the way says more than what the map knew.
  if (reader_->Status() != TRecordingReader::TStatus::Ended) problem_ = reader_->Problem();
  return false;
}

std::string TPlayback::Problem() const {
  std::lock_guard lock(mutex_);
  return problem_;
}

uint64_t TPlayback::LostPlayed() const {
  std::lock_guard lock(mutex_);
  return lostPlayed_;
}

int64_t TPlayback::MediaNow(Clock::time_point now) const {
  return paused_ ? anchorMedia_ : anchorMedia_ + Micros(now - anchorWall_) * speed_;
}

uint32_t TPlayback::Copy(const TRecordedReport& r, uint8_t* out, uint32_t length) {
  if (length == 0) return 0;
  const uint32_t n = std::min<uint32_t>(length - 1, r.Size);
  out[0] = r.ReportID;
  std::memcpy(out + 1, r.Data.data(), n);
  position_ = r.TimeMicros;
  lostPlayed_ += r.LostBefore;
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
  TakeToPresent();
  if (!burst_.empty()) anchorMedia_ = burst_.back().TimeMicros;
  changed_.notify_all();
}

void TPlayback::TakeToPresent() {
  while (haveNext_ && burst_.size() < kMaxStep) {
    burst_.push_back(next_);
    haveNext_ = Decode();
    if (IsPresent(burst_.back())) break;
  }
}

size_t TPlayback::Lead(const TSeekPoint& from, int64_t micros) {
  reader_->Seek(from);
  haveNext_ = Decode();
  size_t n = 0;
  while (haveNext_ && next_.TimeMicros < micros) {
    lead_[n++ % kSeekLead] = next_;
    haveNext_ = Decode();
  }
  return n;
}

void TPlayback::Seek(int64_t micros) {
  std::lock_guard lock(mutex_);
  micros = std::clamp<int64_t>(micros, 0, duration_);
  // The last point before the moment; one more back when it leaves too few
  // reports before the moment to draw the whole screen.
  const auto& points = map_.Points;
  size_t at = size_t(std::upper_bound(points.begin() + 1, points.end(), micros,
                                      [](int64_t m, const TSeekPoint& p) {
                                        return m <= p.Unit * kRecordingTimeUnitMicros;
                                      }) -
                     points.begin()) -
              1;
  size_t n = Lead(points[at], micros);
  if (n < kSeekLead && at > 0) n = Lead(points[at - 1], micros);
  burst_.clear();
  burstAt_ = 0;
  for (size_t i = n > kSeekLead ? n - kSeekLead : 0; i < n; ++i) burst_.push_back(lead_[i % kSeekLead]);
  // Before the first picture (a seek to the start) nothing behind the moment
  // draws one: the first after it is shown, or the screen keeps the old one.
  if (std::none_of(burst_.begin(), burst_.end(), IsPresent)) TakeToPresent();
  anchorMedia_ = position_ = micros;
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
