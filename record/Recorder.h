#pragma once
// Records the report stream to a file without ever holding up the thread that
// receives the reports: each report is copied into a preallocated ring and a
// writer thread encodes and writes it. A failed write ends the recording; what
// was written before it stays a readable recording.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/RecordFormat.h"

namespace ts {

// Where the recording goes. Called from the writer thread only.
class TRecordSink {
 public:
  virtual ~TRecordSink() = default;
  // Writes all of the bytes or fails; on failure Error() says why.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  virtual bool Close() = 0;
  virtual std::string Error() const = 0;
};

class TRecorder {
 public:
  explicit TRecorder(size_t ringCapacity = 4096);
  ~TRecorder();  // ends a running recording as closed by the program
  TRecorder(const TRecorder&) = delete;
  TRecorder& operator=(const TRecorder&) = delete;

  // Writes the header and starts the writer. `originMicros` is the reading of
  // the caller's monotonic clock that counts as time zero. False, with
  // Failure() set, when the header cannot be written.
  bool Start(std::unique_ptr<TRecordSink> sink, const TRecordingHeader& header, int64_t originMicros);
  // From the one thread that receives reports: copies the report and returns
  // at once. A report that finds the ring full is counted in Dropped().
  void Push(int64_t nowMicros, uint8_t reportID, const uint8_t* data, uint16_t size);
  // Writes what is queued, the end record and closes the file; returns when
  // done. Harmless when not recording.
  void Stop(TRecordingEnd reason);

  // True from Start until Stop, or until a write fails.
  bool Recording() const { return recording_; }
  // Set once by a failed write (then Recording() turns false); the caller
  // takes it to tell the user and must still call Stop.
  std::string TakeFailure();
  uint64_t Dropped() const { return dropped_; }
  uint64_t Written() const { return written_; }

 private:
  struct TSlot {
    int64_t time;
    uint8_t reportID;
    uint16_t size;
    uint8_t data[kMaxRecordedReportSize];
  };
  void Run();
  void Drain();
  bool FlushBlock();
  void Fail(const std::string& why);

  std::vector<TSlot> ring_;
  std::atomic<uint64_t> head_{0};  // next slot Push fills
  std::atomic<uint64_t> tail_{0};  // next slot the writer takes
  // The writer looks at the ring on a tick rather than being woken per report:
  // a wake-up per report cost the receiving thread more than the copy.
  std::mutex stopMutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::atomic<bool> recording_{false};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> written_{0};
  TRecordingEnd endReason_ = TRecordingEnd::Stopped;
  int64_t origin_ = 0;

  // Writer-thread state.
  std::unique_ptr<TRecordSink> sink_;
  TRecordEncoder encoder_;
  std::vector<uint8_t> block_;
  size_t blockSize_ = 0;
  uint32_t blockRecords_ = 0;
  int64_t blockOpenedAt_ = 0;
  int64_t lastTime_ = 0;
  bool failed_ = false;
  std::thread writer_;

  std::mutex failureMutex_;
  std::string failure_;
};

}  // namespace ts
