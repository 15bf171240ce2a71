#pragma once
// Records the report stream to a file without ever holding up the thread that
// receives the reports: each report is copied into a preallocated ring and a
// writer thread encodes and writes it. A failed write ends the recording; what
// was written before it stays a readable recording. Reports that find the ring
// full, and screen reports the order of slots shows were lost before they
// reached the program, are counted and leave a gap record, so no loss goes unsaid.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "record/RecordFormat.h"

namespace ts {

// Where the recording goes. Called from the writer thread only.
class TRecordSink {
 public:
  virtual ~TRecordSink() = default;
  // Writes all of the bytes or fails; on failure Error() says why.
  virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Puts what was written on the disk.
  virtual bool Flush() { return true; }
  virtual bool Close() = 0;
  virtual std::string Error() const = 0;
};

class TRecorder {
 public:
  // The ring holds this many screen reports: 40 s of the instrument's pace.
  static constexpr size_t kDefaultRingReports = 40'000;
  // How long Stop waits for the writer before it gives the file up.
  static constexpr int kStopWaitMillis = 10'000;

  explicit TRecorder(size_t ringReports = kDefaultRingReports, int stopWaitMillis = kStopWaitMillis);
  ~TRecorder();  // ends a running recording as closed by the program
  TRecorder(const TRecorder&) = delete;
  TRecorder& operator=(const TRecorder&) = delete;

  // Starts the writer and waits, as long as Stop would, for it to write the
  // header. `originMicros` is the reading of the caller's monotonic clock that
  // counts as time zero. False, with Failure() set, when the header cannot be
  // written in that time.
  bool Start(std::unique_ptr<TRecordSink> sink, const TRecordingHeader& header, int64_t originMicros);
  // From the one thread that receives reports: copies the report and returns
  // at once. A report that finds the ring full is counted in Dropped().
  void Push(int64_t nowMicros, uint8_t reportID, const uint8_t* data, uint16_t size);
  // From the same thread: writes what is queued, the end record and the index,
  // and closes the file. Waits for the writer a bounded time; a writer that
  // does not finish by then is left to end on its own and the recording is
  // reported failed. Harmless when not recording.
  void Stop(TRecordingEnd reason);

  // True from Start until Stop, or until a write fails.
  bool Recording() const;
  // Set once by a failed write (then Recording() turns false); the caller
  // takes it to tell the user and must still call Stop.
  std::string TakeFailure();
  uint64_t Dropped() const { return dropped_; }
  // Screen reports lost before they reached the program, by the order of slots.
  uint64_t Missed() const { return missed_; }
  uint64_t Written() const;

 private:
  class TWriter;
  size_t ringBytes_;
  int stopWaitMillis_;
  // Shared with the writer thread, which may outlive a Stop that gave up on it.
  std::shared_ptr<TWriter> writer_;
  std::thread thread_;
  std::string failure_;  // of a start or a stop, when the writer cannot say
  std::string NoAnswer() const;
  uint64_t dropped_ = 0;
  uint64_t missed_ = 0;
  // The slot of the last screen report received, and when it came.
  int lastSlot_ = -1;
  int64_t lastArrival_ = 0;
  // The run of reports lost since the last one queued.
  uint64_t lostRun_ = 0;
  int64_t lostFrom_ = 0, lostTo_ = 0;
};

}  // namespace ts
