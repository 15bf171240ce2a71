#pragma once
// Synthetic recordings for the benchmarks, written by the recorder as the
// program writes them.

#include <random>
#include <string>
#include <thread>

#include "record/RecordUnit.h"
#include "record/Recorder.h"
#include "sim/Instrument.h"
#include "sim/Screen.h"

namespace ts::bench {

// Writes `hours` of reports through the recorder; `worst` changes every pixel
// byte of every report, so no frame is like another. Without a file the same
// reports are made and not recorded.
inline void Generate(const std::wstring& file, int hours, bool worst, int64_t reports = 0) {
  TRecorder recorder;
  if (!file.empty())
    recorder.Start(std::make_unique<TWin32FileSink>(file),
                   TRecordingHeader{.VendorID = 0x5555, .ProductID = 0x4170}, 0);
  sim::Instrument model;
  sim::Screen frame;
  std::mt19937 random(1);
  if (!reports) reports = int64_t(hours) * 3600 * 1000;
  for (int64_t i = 0; i < reports; ++i) {
    const auto now = sim::SimTime(i);
    if (i % 60000 == 30000) model.Command(0xAAEE, 0x0010, 0, 0, now);  // a key a minute
    if (i % sim::kReportsPerFrame == 0) frame = model.Render(now);
    sim::Report r = sim::EncodeScreenReport(frame, int(i % sim::kReportsPerFrame));
    if (worst)
      for (int k = 1; k <= sim::kPixelBytesPerReport; ++k) r[size_t(k)] = uint8_t(random());
    if (file.empty()) continue;
    // The writer keeps up here; waiting keeps the bench from measuring the ring.
    while (recorder.Written() + 20000 < uint64_t(i)) std::this_thread::yield();
    recorder.Push(i * 1000, r[0], r.data() + 1, 64);
  }
  recorder.Stop(TRecordingEnd::Stopped);
}

// Holds one write for a while, as a busy disk does.
class TStallingSink : public TWin32FileSink {
 public:
  TStallingSink(const std::wstring& fileName, int stallAt, DWORD millis)
      : TWin32FileSink(fileName), stallAt_(stallAt), millis_(millis) {}
  bool Write(const uint8_t* data, size_t size) override {
    if (++writes_ == stallAt_) Sleep(millis_);
    return TWin32FileSink::Write(data, size);
  }

 private:
  int writes_ = 0, stallAt_;
  DWORD millis_;
};

// `seconds` of the simulator's screen pushed as fast as the recorder takes
// them, while the disk stalls once for three seconds: the ring overflows and
// the file gets a gap. Answers the reports lost.
inline uint64_t GenerateWithGap(const std::wstring& file, int seconds) {
  TRecorder recorder;
  recorder.Start(std::make_unique<TStallingSink>(file, 2, 3000),
                 TRecordingHeader{.VendorID = 0x5555, .ProductID = 0x4170}, 0);
  sim::Instrument model;
  sim::Screen frame;
  for (int64_t i = 0; i < int64_t(seconds) * 1000; ++i) {
    if (i % sim::kReportsPerFrame == 0) frame = model.Render(sim::SimTime(i));
    const sim::Report r = sim::EncodeScreenReport(frame, int(i % sim::kReportsPerFrame));
    recorder.Push(i * 1000, r[0], r.data() + 1, 64);
  }
  recorder.Stop(TRecordingEnd::Stopped);
  return recorder.Dropped();
}

}  // namespace ts::bench
