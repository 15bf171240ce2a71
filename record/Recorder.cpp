#include "record/Recorder.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/Ts4170Protocol.h"
#include "screen/ScreenImage.h"

namespace ts {
namespace {

// A block is written at least this often, so a crash loses at most this much.
constexpr std::chrono::milliseconds kBlockMaxAge{1000};
constexpr std::chrono::milliseconds kWriterTick{50};
// A reader can start afresh this often, so a seek decodes at most this much.
constexpr int64_t kKeyIntervalUnits = 30 * 1'000'000 / kRecordingTimeUnitMicros;

// A report in the ring: this, then its data, padded to 8 bytes. An entry that
// would not fit before the ring's end starts at its beginning instead, after a
// wrap mark (or after nothing, where not even a mark fits).
struct TEntry {
  int64_t Time;
  int64_t LostFrom, LostTo;  // the reports lost just before this one
  uint64_t Lost;
  uint16_t Size;
  uint8_t ReportID;
  uint8_t Wrap;
  uint32_t Pad;
};
static_assert(sizeof(TEntry) % 8 == 0);

size_t EntryBytes(uint16_t size) { return sizeof(TEntry) + ((size + size_t(7)) & ~size_t(7)); }

int64_t SteadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

class TRecorder::TWriter {
 public:
  TWriter(size_t ringBytes, std::unique_ptr<TRecordSink> sink, int64_t origin)
      : ring_(ringBytes / 8),
        capacity_(ring_.size() * 8),
        origin_(origin),
        sink_(std::move(sink)),
        block_(kBlockHeaderSize + kBlockTargetSize + 3 * kMaxRecordSize) {}

  // Whether the header is written by the deadline; a writer still writing it
  // then is given up on, as by a stop that waited too long.
  bool WaitStarted(int millis) {
    std::unique_lock lock(mutex_);
    if (changed_.wait_for(lock, std::chrono::milliseconds(millis), [this] { return started_ || done_; }))
      return started_;
    abandoned_ = true;
    return false;
  }

  // From the receiving thread; false when the ring is full.
  bool Push(int64_t nowMicros, uint8_t reportID, const uint8_t* data, uint16_t size, uint64_t lost,
            int64_t lostFrom, int64_t lostTo) {
    uint8_t* ring = Bytes();
    const size_t need = EntryBytes(size);
    uint64_t h = head_.load(std::memory_order_relaxed);
    size_t pos = size_t(h % capacity_);
    const size_t skip = capacity_ - pos < need ? capacity_ - pos : 0;
    if (h + skip + need - tail_.load(std::memory_order_acquire) > capacity_) return false;
    if (skip) {
      if (skip >= sizeof(TEntry)) {
        const TEntry wrap{0, 0, 0, 0, 0, 0, 1, 0};
        std::memcpy(ring + pos, &wrap, sizeof wrap);
      }
      h += skip;
      pos = 0;
    }
    const TEntry entry{nowMicros - origin_, lostFrom - origin_, lostTo - origin_, lost, size, reportID, 0, 0};
    std::memcpy(ring + pos, &entry, sizeof entry);
    if (size) std::memcpy(ring + pos + sizeof entry, data, size);
    head_.store(h + need, std::memory_order_release);
    return true;
  }

  void RequestStop(TRecordingEnd reason, uint64_t lost, int64_t lostFrom, int64_t lostTo) {
    std::lock_guard lock(mutex_);
    endReason_ = reason;
    finalLost_ = lost;
    finalFrom_ = lostFrom - origin_;
    finalTo_ = lostTo - origin_;
    stop_ = true;
    changed_.notify_all();
  }

  bool Done() {
    std::lock_guard lock(mutex_);
    return done_;
  }

  bool WaitDone(int millis) {
    std::unique_lock lock(mutex_);
    if (changed_.wait_for(lock, std::chrono::milliseconds(millis), [this] { return done_; })) return true;
    // What the writer has not written by now it never writes: the file ends
    // at its last whole block, as after a crash.
    abandoned_ = true;
    return false;
  }

  void Run(const TRecordingHeader& header) {
    if (WriteHeader(header)) Record();
    std::lock_guard lock(mutex_);
    done_ = true;
    changed_.notify_all();
  }

  std::string TakeFailure() {
    std::lock_guard lock(mutex_);
    return std::exchange(failure_, std::string());
  }

  std::atomic<bool> Recording{false};
  std::atomic<uint64_t> Written{0};

 private:
  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(ring_.data()); }
  uint8_t* Payload() { return block_.data() + kBlockHeaderSize + blockSize_; }
  bool Abandoned() {
    std::lock_guard lock(mutex_);
    return abandoned_;
  }

  bool WriteHeader(const TRecordingHeader& header) {
    const std::vector<uint8_t> bytes = EncodeRecordingHeader(header);
    if (!Write(bytes.data(), bytes.size())) return false;
    offset_ = bytes.size();
    {
      std::lock_guard lock(mutex_);
      if (!abandoned_) {
        Recording = true;
        started_ = true;
        changed_.notify_all();
        return true;
      }
    }
    failed_ = true;
    sink_->Close();
    return false;
  }

  // Every write goes through here: once the recorder has given up on this
  // writer, nothing more reaches the file, however late the disk answers.
  bool Write(const uint8_t* data, size_t size) {
    if (!failed_ && Abandoned()) {
      failed_ = true;
      sink_->Close();
    }
    if (failed_) return false;
    if (!sink_->Write(data, size)) {
      Fail(sink_->Error());
      sink_->Close();
      return false;
    }
    return true;
  }

  void Record() {
    while (true) {
      bool stopping;
      {
        std::unique_lock lock(mutex_);
        stopping = changed_.wait_for(lock, kWriterTick, [this] { return stop_; });
      }
      Drain();
      if (!failed_ && blockRecords_ > 0 && SteadyMillis() - blockOpenedAt_ >= kBlockMaxAge.count())
        FlushBlock();
      if (stopping) break;
    }
    Drain();
    if (!failed_ && !Abandoned()) {
      if (finalLost_) {
        BeginRecord();
        AddGap(finalFrom_, finalTo_, finalLost_);
      }
      BeginRecord();
      Added(encoder_.EncodeEnd(lastTime_, endReason_, Payload()));
      if (FlushBlock()) Finish();
    } else if (!failed_) {
      sink_->Close();
    }
  }

  void Fail(const std::string& why) {
    failed_ = true;
    {
      std::lock_guard lock(mutex_);
      failure_ = why;
    }
    // Only now: whoever sees the recording over must find why.
    Recording = false;
  }

  void Drain() {
    const uint8_t* ring = Bytes();
    uint64_t t = tail_.load(std::memory_order_relaxed);
    const uint64_t h = head_.load(std::memory_order_acquire);
    while (t != h) {
      const size_t pos = size_t(t % capacity_);
      TEntry entry;
      if (capacity_ - pos >= sizeof entry) std::memcpy(&entry, ring + pos, sizeof entry);
      if (capacity_ - pos < sizeof entry || entry.Wrap) {
        t += capacity_ - pos;
        continue;
      }
      if (!failed_) {
        // A key block is due: the open block ends here, however small.
        if (blockRecords_ > 0 &&
            entry.Time / kRecordingTimeUnitMicros - index_.Points.back().Unit >= kKeyIntervalUnits)
          FlushBlock();
        BeginRecord();
        if (entry.Lost) AddGap(entry.LostFrom, entry.LostTo, entry.Lost);
        lastTime_ = entry.Time;
        Added(encoder_.Encode(entry.Time, entry.ReportID, ring + pos + sizeof entry, entry.Size, Payload()));
        Written.fetch_add(1, std::memory_order_relaxed);
      }
      t += EntryBytes(entry.Size);
      tail_.store(t, std::memory_order_release);
      if (!failed_ && blockSize_ >= kBlockTargetSize) FlushBlock();
    }
    tail_.store(t, std::memory_order_release);
  }

  // Opens a block when none is open; every half minute of recording a key
  // block, from which a reader can decode on its own.
  void BeginRecord() {
    if (blockRecords_ > 0) return;
    blockOpenedAt_ = SteadyMillis();
    const int64_t unit = encoder_.LastUnit();
    blockKey_ = index_.Points.empty() || unit - index_.Points.back().Unit >= kKeyIntervalUnits;
    if (!blockKey_) return;
    encoder_.Restart();
    index_.Points.push_back({offset_, unit, Written.load(std::memory_order_relaxed), nullptr});
  }

  void AddGap(int64_t from, int64_t to, uint64_t lost) {
    Added(encoder_.EncodeGap(from, to, lost, Payload()));
    index_.Lost += lost;
  }

  // The block counts every record the encoder wrote, marks included.
  void Added(size_t bytes) {
    blockSize_ += bytes;
    blockRecords_ += encoder_.TakeRecords();
  }

  bool FlushBlock() {
    if (blockRecords_ == 0) return true;
    uint8_t* payload = block_.data() + kBlockHeaderSize;
    EncodeBlockHeader(uint32_t(blockSize_), blockRecords_ | (blockKey_ ? kKeyBlockFlag : 0),
                      Crc32(payload, blockSize_), block_.data());
    const size_t total = kBlockHeaderSize + blockSize_;
    blockSize_ = 0;
    blockRecords_ = 0;
    if (!Write(block_.data(), total)) return false;
    offset_ += total;
    return true;
  }

  // After the end record: the index, then the file is put on the disk and closed.
  void Finish() {
    index_.DurationUnits = encoder_.LastUnit();
    index_.Reports = Written;
    const std::vector<uint8_t> bytes = EncodeRecordingIndex(index_, offset_);
    if (!Write(bytes.data(), bytes.size())) return;
    if (!sink_->Flush()) {
      Fail(sink_->Error());
      sink_->Close();
      return;
    }
    if (!sink_->Close()) Fail(sink_->Error());
  }

  std::vector<uint64_t> ring_;  // 8-byte words keep every entry aligned
  const size_t capacity_;
  const int64_t origin_;
  std::atomic<uint64_t> head_{0};  // bytes Push has filled
  std::atomic<uint64_t> tail_{0};  // bytes the writer has taken

  // The writer looks at the ring on a tick rather than being woken per report:
  // a wake-up per report cost the receiving thread more than the copy.
  std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false, stop_ = false, done_ = false, abandoned_ = false;
  TRecordingEnd endReason_ = TRecordingEnd::Stopped;
  uint64_t finalLost_ = 0;
  int64_t finalFrom_ = 0, finalTo_ = 0;
  std::string failure_;

  // Writer-thread state.
  std::unique_ptr<TRecordSink> sink_;
  TRecordEncoder encoder_;
  std::vector<uint8_t> block_;
  size_t blockSize_ = 0;
  uint32_t blockRecords_ = 0;
  bool blockKey_ = false;
  int64_t blockOpenedAt_ = 0;
  int64_t lastTime_ = 0;
  uint64_t offset_ = 0;
  TRecordingIndex index_;
  bool failed_ = false;
};

TRecorder::TRecorder(size_t ringReports, int stopWaitMillis)
    : ringBytes_(ringReports * EntryBytes(TS4170_REPORT_DATA_SIZE)), stopWaitMillis_(stopWaitMillis) {}

TRecorder::~TRecorder() { Stop(TRecordingEnd::ProgramClosed); }

bool TRecorder::Start(std::unique_ptr<TRecordSink> sink, const TRecordingHeader& header,
                      int64_t originMicros) {
  Stop(TRecordingEnd::Stopped);
  failure_.clear();
  dropped_ = missed_ = lostRun_ = 0;
  lastSlot_ = -1;
  writer_ = std::make_shared<TWriter>(ringBytes_, std::move(sink), originMicros);
  thread_ = std::thread([writer = writer_, header] { writer->Run(header); });
  // The header is written on the writer's thread: a folder that does not
  // answer holds the caller no longer than a stop would.
  if (writer_->WaitStarted(stopWaitMillis_)) return true;
  if (writer_->Done()) {
    thread_.join();
  } else {
    thread_.detach();
    failure_ = NoAnswer();
  }
  return false;
}

void TRecorder::Push(int64_t nowMicros, uint8_t reportID, const uint8_t* data, uint16_t size) {
  if (!writer_ || !writer_->Recording.load(std::memory_order_relaxed)) return;
  size = size < kMaxRecordedReportSize ? size : kMaxRecordedReportSize;
  // Screen reports come in the order of their slots: a slot passed over is a
  // report lost before it reached the program.
  const int slot = ScreenSlot(data, size);
  if (slot >= 0) {
    if (const int missed = ScreenReportsMissed(lastSlot_, slot)) {
      missed_ += uint64_t(missed);
      if (lostRun_ == 0) lostFrom_ = lastArrival_;
      lostRun_ += uint64_t(missed);
      lostTo_ = nowMicros;
    }
    lastSlot_ = slot;
    lastArrival_ = nowMicros;
  }
  if (writer_->Push(nowMicros, reportID, data, size, lostRun_, lostFrom_, lostTo_)) {
    lostRun_ = 0;
    return;
  }
  ++dropped_;
  if (lostRun_++ == 0) lostFrom_ = nowMicros;
  lostTo_ = nowMicros;
}

void TRecorder::Stop(TRecordingEnd reason) {
  if (!thread_.joinable()) return;
  writer_->RequestStop(reason, lostRun_, lostFrom_, lostTo_);
  lostRun_ = 0;
  if (writer_->WaitDone(stopWaitMillis_)) {
    thread_.join();
  } else {
    // The writer keeps its own share of everything it touches and ends once
    // the disk answers; the program goes on without it.
    thread_.detach();
    failure_ = NoAnswer() + "; файл кончается последним записанным блоком";
  }
  writer_->Recording = false;
}

std::string TRecorder::NoAnswer() const {
  return "Диск не ответил за " + std::to_string(stopWaitMillis_ / 1000) + " с";
}

bool TRecorder::Recording() const { return writer_ && writer_->Recording; }

uint64_t TRecorder::Written() const { return writer_ ? writer_->Written.load() : 0; }

std::string TRecorder::TakeFailure() {
  std::string failure = writer_ ? writer_->TakeFailure() : std::string();
  if (failure.empty()) failure = std::exchange(failure_, std::string());
  failure_.clear();
  return failure;
}

}  // namespace ts
