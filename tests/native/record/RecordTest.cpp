#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "link/HidControllerClass.h"
#include "record/FrameStream.h"
#include "record/Recorder.h"
#include "record/RecordingBinding.h"
#include "record/SnapshotName.h"
#include "screen/ScreenImage.h"
#include "sim/Instrument.h"
#include "tests/native/link/HidFakes.h"

namespace ts {
namespace {

struct TReport {
  int64_t time;
  uint8_t id;
  std::vector<uint8_t> data;
};

// Keeps what is written; from `failAt` bytes on it takes only the part that
// fits and fails, as a full disk does.
class TMemorySink : public TRecordSink {
 public:
  explicit TMemorySink(std::vector<uint8_t>& out, size_t failAt = SIZE_MAX) : out_(out), failAt_(failAt) {}
  bool Write(const uint8_t* data, size_t size) override {
    const size_t room = failAt_ > out_.size() ? failAt_ - out_.size() : 0;
    out_.insert(out_.end(), data, data + std::min(size, room));
    return size <= room;
  }
  bool Close() override { return true; }
  std::string Error() const override { return "Диск переполнен"; }

 private:
  std::vector<uint8_t>& out_;
  size_t failAt_;
};

const TRecordingHeader kHeader{.StartUtcMicros = 1796688000123456,
                               .VendorID = 0x5555,
                               .ProductID = 0x4170,
                               .VersionNumber = 0x0102,
                               .ProgramVersion = "V18.09",
                               .Manufacturer = "НПП",
                               .Product = "ТС4170",
                               .SerialNumber = "00017"};

// The simulator's stream: 160 reports a frame, one a millisecond with jitter,
// the instrument's own screen changing through key presses.
std::vector<TReport> SimulatorStream(int seconds) {
  sim::Instrument model;
  std::mt19937 random(7);
  std::vector<TReport> out;
  sim::Screen frame;
  int64_t t = 0;
  for (int i = 0; i < seconds * 1000; ++i) {
    const auto now = sim::SimTime(t / 1000);
    if (i % 20000 == 10000) model.Command(0xAAEE, 0x0010, 0, 0, now);  // a key now and then
    if (i % sim::kReportsPerFrame == 0) frame = model.Render(now);
    const sim::Report r = sim::EncodeScreenReport(frame, i % sim::kReportsPerFrame);
    out.push_back({t, r[0], std::vector<uint8_t>(r.begin() + 1, r.end())});
    t += 1000 + int64_t(random() % 400) - 200;
  }
  return out;
}

// The same with a third of the reports' pixels as noise: many blocks.
std::vector<TReport> NoisyStream(int seconds) {
  std::vector<TReport> out = SimulatorStream(seconds);
  std::mt19937 random(5);
  for (size_t i = 0; i < out.size(); i += 3)
    for (int k = 0; k < 60; ++k) out[i].data[size_t(k)] = uint8_t(random());
  return out;
}

std::vector<uint8_t> Record(const std::vector<TReport>& reports, TRecordingEnd end = TRecordingEnd::Stopped,
                            size_t failAt = SIZE_MAX, std::string* failure = nullptr) {
  std::vector<uint8_t> file;
  TRecorder recorder(8192);
  EXPECT_TRUE(recorder.Start(std::make_unique<TMemorySink>(file, failAt), kHeader, 5'000'000));
  for (const TReport& r : reports) {
    // The ring is small here; wait for room rather than lose a report.
    while (recorder.Recording() && recorder.Written() + 8000 < uint64_t(&r - reports.data()))
      std::this_thread::yield();
    recorder.Push(5'000'000 + r.time, r.id, r.data.data(), uint16_t(r.data.size()));
  }
  if (failure) {
    // A failure is seen by the writer; wait for it with a deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (recorder.Recording() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    *failure = recorder.TakeFailure();
  }
  recorder.Stop(end);
  EXPECT_EQ(recorder.Dropped(), 0u);
  return file;
}

// Reads back and checks every report against the recorded ones; returns how
// many came back.
size_t PlayAndCompare(const std::vector<uint8_t>& file, const std::vector<TReport>& reports,
                      TRecordingReader::TStatus expected) {
  TRecordingReader reader(file);
  TRecordedReport got;
  size_t n = 0;
  int64_t previous = -1;
  while (reader.Next(got)) {
    EXPECT_LT(n, reports.size());
    if (n >= reports.size()) break;
    const TReport& want = reports[n];
    EXPECT_EQ(got.ReportID, want.id) << n;
    EXPECT_TRUE(got.Size == want.data.size() &&
                std::equal(want.data.begin(), want.data.end(), got.Data.begin()))
        << "report " << n;
    EXPECT_LE(std::abs(got.TimeMicros - want.time), kRecordingTimeUnitMicros / 2) << n;
    EXPECT_GE(got.TimeMicros, previous);
    previous = got.TimeMicros;
    ++n;
  }
  EXPECT_EQ(reader.Status(), expected) << reader.Problem();
  if (n > 0 || expected == TRecordingReader::TStatus::Unended) {
    EXPECT_EQ(reader.Header(), kHeader);
  }
  return n;
}

TEST(Recording, PlaysBackEveryReportWithItsTime) {
  std::vector<TReport> reports = SimulatorStream(3);
  std::mt19937 random(3);
  // Reports no line group explains, noise, long gaps and reports at one time.
  for (int i = 0; i < 300; ++i) {
    TReport r = reports[size_t(i) * 7];
    if (i % 3 == 0) r.data.resize(size_t(random() % 80));
    if (i % 3 == 1) r.id = 2;
    if (i % 5 == 0) r.data[random() % r.data.size()] ^= 0xFF;
    r.time = 0;
    reports.insert(reports.begin() + i * 10, r);
  }
  reports.push_back({0, 0, std::vector<uint8_t>(64, 0xAB)});  // half flag 0xAB
  reports.push_back({0, 0, std::vector<uint8_t>(1500, 1)});   // cut at the largest size
  int64_t t = 0;
  for (TReport& r : reports) r.time = t += (r.time % 3 == 0 ? 1000 : 0) + int64_t(random() % 5000);
  reports[100].time = reports[101].time = reports[99].time;
  for (TReport& r : reports) r.time = std::max<int64_t>(r.time, 0);
  reports.back().time += 10'000'000'000;  // a pause of hours
  std::vector<uint8_t> file = Record(reports, TRecordingEnd::Unplugged);
  reports.back().data.resize(kMaxRecordedReportSize);
  EXPECT_EQ(PlayAndCompare(file, reports, TRecordingReader::TStatus::Ended), reports.size());
  TRecordingReader reader(file);
  TRecordedReport r;
  while (reader.Next(r)) {
  }
  EXPECT_EQ(reader.EndReason(), TRecordingEnd::Unplugged);
}

TEST(RecordingLong, SizeOfAnHourAndOfTheWorstCase) {
  // Ten minutes of the simulator, times six.
  const std::vector<TReport> sim = SimulatorStream(600);
  const size_t hour = Record(sim).size() * 6;
  RecordProperty("bytes_per_hour", std::to_string(hour));
  std::printf("simulator, one hour (10 min x 6): %zu bytes\n", hour);
  EXPECT_LE(hour, 20u * 1000 * 1000);

  // Noise at the instrument's pace: no record may cost more than the report
  // itself with an 8-byte time.
  std::mt19937 random(11);
  std::vector<TReport> noise;
  for (int i = 0; i < 20000; ++i) {
    TReport r{i * 1000LL, 0, std::vector<uint8_t>(64)};
    for (auto& b : r.data) b = uint8_t(random());
    r.data[60] = uint8_t(random() % 80);
    r.data[61] = uint8_t(random() % 2);
    noise.push_back(r);
  }
  const size_t raw = noise.size() * (65 + 8);
  EXPECT_LE(Record(noise).size(), raw);
}

// Where each block of a recording begins, and where the last one ends.
std::vector<size_t> Blocks(const std::vector<uint8_t>& file) {
  TRecordingReader reader(file);
  std::vector<size_t> at;
  reader.OnBlock = [&](const TSeekPoint& p, bool, const TCodingState&) { at.push_back(p.Offset); };
  TRecordedReport r;
  while (reader.Next(r)) {
  }
  if (at.empty()) return at;
  const size_t last = at.back();
  at.push_back(last + kBlockHeaderSize +
               (file[last] | file[last + 1] << 8 | file[last + 2] << 16 | size_t(file[last + 3]) << 24));
  return at;
}

TEST(Recording, DamagedFilesPlayUpToTheDamage) {
  const std::vector<TReport> reports = NoisyStream(2);
  const std::vector<uint8_t> whole = Record(reports);
  const std::vector<size_t> blocks = Blocks(whole);
  const size_t lastEnd = blocks.back();
  const size_t firstBlock = EncodeRecordingHeader(kHeader).size();
  using S = TRecordingReader::TStatus;
  struct TCase {
    const char* name;
    std::vector<uint8_t> file;
    S status;
    bool somePlayed;
  };
  auto cut = [&](size_t n) { return std::vector<uint8_t>(whole.begin(), whole.begin() + ptrdiff_t(n)); };
  auto flip = [&](size_t at) {
    std::vector<uint8_t> f = whole;
    f[at] ^= 0x40;
    return f;
  };
  std::vector<uint8_t> newer = whole;
  newer[8] = 2;
  const std::string bmp = "BM6\x0c\x03\x00\x00\x00\x00\x00\x36\x00\x00\x00(";
  const TCase cases[] = {
      {"empty", {}, S::Foreign, false},
      {"another kind of file", std::vector<uint8_t>(bmp.begin(), bmp.end()), S::Foreign, false},
      {"a later version", newer, S::Foreign, false},
      {"header cut", cut(firstBlock - 3), S::Truncated, false},
      {"header damaged", flip(20), S::Corrupt, false},
      {"header only", cut(firstBlock), S::Unended, false},
      {"cut inside the first block's framing", cut(firstBlock + 5), S::Truncated, false},
      {"cut inside a block", cut(whole.size() / 2), S::Truncated, true},
      {"cut before the last block's last byte", cut(lastEnd - 1), S::Truncated, true},
      {"a block damaged", flip(lastEnd - 40), S::Corrupt, true},
      {"the index cut", cut(whole.size() - 1), S::Ended, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t played = PlayAndCompare(c.file, reports, c.status);
    EXPECT_EQ(played > 0, c.somePlayed);
    TRecordingReader reader(c.file);
    TRecordedReport r;
    while (reader.Next(r)) {
    }
    EXPECT_EQ(reader.Problem().empty(), c.status == S::Ended);
    if (c.status != S::Foreign && c.status != S::Ended) {
      EXPECT_NE(reader.Problem().find("байт"), std::string::npos);
    }
  }
}

TEST(Recording, AFailedWriteStopsItAndKeepsWhatWasWritten) {
  const std::vector<TReport> reports = NoisyStream(4);
  std::string failure;
  const std::vector<uint8_t> file = Record(reports, TRecordingEnd::Stopped, 100000, &failure);
  EXPECT_EQ(failure, "Диск переполнен");
  EXPECT_EQ(file.size(), 100000u);
  const size_t played = PlayAndCompare(file, reports, TRecordingReader::TStatus::Truncated);
  EXPECT_GT(played, 0u);
  EXPECT_LT(played, reports.size());

  // The header itself failing: nothing starts.
  std::vector<uint8_t> none;
  TRecorder recorder;
  EXPECT_FALSE(recorder.Start(std::make_unique<TMemorySink>(none, 10), kHeader, 0));
  EXPECT_FALSE(recorder.Recording());
  EXPECT_EQ(recorder.TakeFailure(), "Диск переполнен");
}

// Whatever ID the transport gives input reports (the pipe 0, the HID device
// 0x01, the instrument its own), screen reports cost the same, come back with
// their ID, and a step stops at the frame they present.
TEST(Recording, ScreenReportsOfAnyReportIDAreCodedAlike) {
  std::vector<TReport> reports = SimulatorStream(10);
  const size_t pipeSize = Record(reports).size();
  for (uint8_t id : {uint8_t(0x01), uint8_t(0x5A)}) {
    SCOPED_TRACE(int(id));
    for (TReport& r : reports) r.id = id;
    const std::vector<uint8_t> file = Record(reports);
    EXPECT_LE(file.size(), pipeSize + pipeSize / 50);
    EXPECT_EQ(PlayAndCompare(file, reports, TRecordingReader::TStatus::Ended), reports.size());
    TPlayback playback(std::make_shared<const std::vector<uint8_t>>(file));
    playback.Pause();
    playback.Step();
    uint8_t out[65];
    size_t got = 0;
    while (playback.Next(out, 65, std::chrono::milliseconds(20)) == 65) ++got;
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(out[0], id);
  }
}

// Holds every write until released, as a disk that stops answering does. Its
// gate is shared: a writer that was given up on deletes the sink on its own.
struct TGate {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false, closed = false;
  void Release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  bool WaitClosed() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20), [this] { return closed; });
  }
};

class TStalledSink : public TRecordSink {
 public:
  // By default the header goes through: the recording has begun before the disk stalls.
  TStalledSink(std::vector<uint8_t>& out, std::shared_ptr<TGate> gate, bool headerStalls = false)
      : out_(out), gate_(std::move(gate)), headerStalls_(headerStalls) {}
  bool Write(const uint8_t* data, size_t size) override {
    std::unique_lock lock(gate_->mutex);
    if (headerStalls_ || !out_.empty()) gate_->changed.wait(lock, [this] { return gate_->released; });
    out_.insert(out_.end(), data, data + size);
    return true;
  }
  bool Close() override {
    std::lock_guard lock(gate_->mutex);
    gate_->closed = true;
    gate_->changed.notify_all();
    return true;
  }
  std::string Error() const override { return {}; }

 private:
  std::vector<uint8_t>& out_;
  std::shared_ptr<TGate> gate_;
  bool headerStalls_;
};

// A disk that stops answering cannot hold the window, whether it stalls on the
// header or later: start and stop give up on the writer after their bound and
// say so. The file ends where the disk was when they gave up: a writer given
// up on writes nothing more once the disk answers.
TEST(Recording, StartAndStopWaitForAStalledDiskOnlySoLong) {
  // Noise in every report: more than a block waits behind the one the disk holds.
  std::vector<TReport> reports = SimulatorStream(1);
  std::mt19937 random(9);
  for (TReport& r : reports)
    for (int k = 0; k < 60; ++k) r.data[size_t(k)] = uint8_t(random());
  for (const bool headerStalls : {true, false}) {
    SCOPED_TRACE(headerStalls ? "the header stalls" : "a block stalls");
    std::vector<uint8_t> file;
    const auto gate = std::make_shared<TGate>();
    // Only bounds a hang of a start that does not give up.
    std::thread release([gate] {
      std::unique_lock lock(gate->mutex);
      if (!gate->changed.wait_for(lock, std::chrono::seconds(20), [&] { return gate->released; })) {
        gate->released = true;
        gate->changed.notify_all();
      }
    });
    {
      TRecorder recorder(1000, 200);
      EXPECT_EQ(recorder.Start(std::make_unique<TStalledSink>(file, gate, headerStalls), kHeader, 0),
                !headerStalls);
      for (const TReport& r : reports) recorder.Push(r.time, r.id, r.data.data(), uint16_t(r.data.size()));
      recorder.Stop(TRecordingEnd::Stopped);
      EXPECT_FALSE(recorder.Recording());
      EXPECT_NE(recorder.TakeFailure().find("Диск не ответил"), std::string::npos);
    }
    gate->Release();
    release.join();
    ASSERT_TRUE(gate->WaitClosed());
    TRecordingReader reader(file);
    TRecordedReport r;
    while (reader.Next(r)) {
    }
    EXPECT_EQ(reader.Status(), TRecordingReader::TStatus::Unended) << reader.Problem();
    // The header, and at most the one block whose write the disk held.
    EXPECT_LE(Blocks(file).size(), 2u);
  }
}

TEST(Recording, AStalledDiskLosesNothingFor30SecondsAndThenSaysWhatItLost) {
  // Noisy, so that the writer's first block, which it fills before the disk
  // holds it, takes only a few hundred reports off the ring.
  const std::vector<TReport> reports = NoisyStream(45);
  struct TCase {
    size_t pushed;  // reports at the USB pace while the disk stalls
    bool lost;
  };
  for (const TCase c : {TCase{30'000, false}, TCase{45'000, true}}) {
    SCOPED_TRACE(c.pushed);
    std::vector<uint8_t> file;
    const auto gate = std::make_shared<TGate>();
    TRecorder recorder;
    ASSERT_TRUE(recorder.Start(std::make_unique<TStalledSink>(file, gate), kHeader, 0));
    for (size_t i = 0; i < c.pushed; ++i) {
      const TReport& r = reports[i];
      recorder.Push(r.time, r.id, r.data.data(), uint16_t(r.data.size()));
    }
    gate->Release();
    recorder.Stop(TRecordingEnd::Stopped);
    EXPECT_EQ(recorder.Dropped() > 0, c.lost);
    TRecordingReader reader(file);
    TRecordedReport r;
    uint64_t played = 0;
    while (reader.Next(r)) ++played;
    EXPECT_EQ(played + recorder.Dropped(), c.pushed);
    EXPECT_EQ(reader.Problem().empty(), !c.lost) << reader.Problem();
    if (c.lost) {
      EXPECT_NE(reader.Problem().find(std::to_string(recorder.Dropped())), std::string::npos)
          << reader.Problem();
    }
  }
}

// A recording put together record by record, for files no recorder writes.
std::vector<uint8_t> Crafted(const std::vector<uint8_t>& records) {
  std::vector<uint8_t> file = EncodeRecordingHeader(kHeader);
  uint8_t framing[kBlockHeaderSize];
  EncodeBlockHeader(uint32_t(records.size()), 1, Crc32(records.data(), records.size()), framing);
  file.insert(file.end(), framing, framing + kBlockHeaderSize);
  file.insert(file.end(), records.begin(), records.end());
  return file;
}

TEST(Recording, HostileFilesAreReadUpToTheDamage) {
  const std::vector<TReport> reports = NoisyStream(2);
  const std::vector<uint8_t> whole = Record(reports);
  const std::vector<size_t> blocks = Blocks(whole);
  const size_t last = blocks[blocks.size() - 2];
  std::vector<uint8_t> overstated(whole.begin(), whole.begin() + ptrdiff_t(blocks.back()));
  overstated[last] += 1;
  overstated[last + kBlockHeaderSize + 3] ^= 0x10;
  // Time steps of 2^62 units, twice: more time than a clock can hold.
  const std::vector<uint8_t> full(64, 0);
  std::vector<uint8_t> endless{3 << 5};
  endless.insert(endless.end(), full.begin(), full.end());
  for (int i = 0; i < 2; ++i) {
    endless.push_back(1 << 5 | 31);
    for (int k = 0; k < 8; ++k) endless.push_back(0x80);
    endless.push_back(0x40);
    endless.push_back(0);
    endless.push_back(0);
  }
  using S = TRecordingReader::TStatus;
  struct TCase {
    const char* name;
    std::vector<uint8_t> file;
    S status;
  };
  for (const TCase& c :
       {TCase{"the last block's length overstated, a byte of it changed", overstated, S::Truncated},
        TCase{"time beyond any clock", Crafted(endless), S::Corrupt}}) {
    SCOPED_TRACE(c.name);
    TRecordingReader reader(c.file);
    TRecordedReport r;
    size_t n = 0;
    while (reader.Next(r)) {
      if (n < reports.size() && c.status == S::Truncated) {
        EXPECT_TRUE(std::equal(reports[n].data.begin(), reports[n].data.end(), r.Data.begin())) << n;
      }
      EXPECT_GE(r.TimeMicros, 0);
      ++n;
    }
    EXPECT_EQ(reader.Status(), c.status);
  }
}

// Reports lost before they reached the program (the pipe and the HID class
// driver each keep 256) leave a gap in the order of the screen's slots: the
// recording marks it, however many reports of other kinds come between.
TEST(Recording, ReportsLostBeforeTheProgramAreMarked) {
  const std::vector<TReport> stream = SimulatorStream(1);
  struct TCase {
    const char* name;
    std::vector<size_t> lost;  // of the stream, before the recorder
    bool message;              // a report of another kind after report 300
    bool repeat;               // report 400 arrives twice
  };
  for (const TCase& c : {TCase{"nothing lost, a message and a repeat between", {}, true, true},
                         TCase{"one report", {500}, false, false},
                         TCase{"a run across the end of a frame", {157, 158, 159, 160, 161}, false, false},
                         TCase{"two runs, a message between", {299, 301, 302}, true, false}}) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file;
    TRecorder recorder;
    ASSERT_TRUE(recorder.Start(std::make_unique<TMemorySink>(file), kHeader, 0));
    uint64_t written = 0;
    for (size_t i = 0; i < stream.size(); ++i) {
      const TReport& r = stream[i];
      if (std::count(c.lost.begin(), c.lost.end(), i)) continue;
      for (int k = i == 400 && c.repeat ? 2 : 1; k > 0; --k, ++written)
        recorder.Push(r.time, r.id, r.data.data(), uint16_t(r.data.size()));
      if (i == 300 && c.message) {
        const uint8_t message[20] = {0x55, 0xAA};
        recorder.Push(r.time, 0x07, message, sizeof message);
        ++written;
      }
    }
    recorder.Stop(TRecordingEnd::Stopped);
    EXPECT_EQ(recorder.Dropped(), 0u);
    EXPECT_EQ(recorder.Missed(), c.lost.size());
    TRecordingReader reader(file);
    TRecordedReport r;
    uint64_t played = 0, marked = 0;
    while (reader.Next(r)) {
      ++played;
      marked += r.LostBefore;
      if (r.LostBefore) {
        EXPECT_GT(r.LostFromMicros, 0);
        EXPECT_LE(r.LostFromMicros, r.TimeMicros);
      }
    }
    EXPECT_EQ(played, written);
    EXPECT_EQ(marked, c.lost.size());
    EXPECT_EQ(reader.Lost(), c.lost.size());
    EXPECT_EQ(reader.Whole(), c.lost.empty()) << reader.Problem();
  }
}

// A block's framing counts every record it holds, the mark of a screen report
// ID with the rest, as the format says; files whose blocks left those marks
// out are still read, and a count that fits neither is damage.
TEST(Recording, BlocksCountEveryRecordTheyHold) {
  std::vector<TReport> reports = SimulatorStream(3);
  for (TReport& r : reports) r.id = 0x01;  // a mark before the first
  const std::vector<uint8_t> file = Record(reports);
  {
    TRecordingReader reader(file);
    std::vector<std::pair<size_t, uint64_t>> opened;  // where, and the records before it
    reader.OnBlock = [&](const TSeekPoint& p, bool, const TCodingState&) {
      opened.emplace_back(p.Offset, reader.RecordsRead());
    };
    TRecordedReport r;
    while (reader.Next(r)) {
    }
    ASSERT_EQ(reader.Status(), TRecordingReader::TStatus::Ended);
    opened.emplace_back(0, reader.RecordsRead());
    for (size_t b = 0; b + 1 < opened.size(); ++b) {
      const uint8_t* framing = file.data() + opened[b].first;
      const uint32_t count =
          (framing[4] | framing[5] << 8 | framing[6] << 16 | uint32_t(framing[7]) << 24) & ~kKeyBlockFlag;
      EXPECT_EQ(count, opened[b + 1].second - opened[b].second) << "block at " << opened[b].first;
    }
  }
  const size_t first = Blocks(file).front();
  using S = TRecordingReader::TStatus;
  for (const auto& [change, status] : {std::pair{-1, S::Ended}, std::pair{+1, S::Corrupt}}) {
    SCOPED_TRACE(change);
    std::vector<uint8_t> altered = file;
    altered[first + 4] = uint8_t(altered[first + 4] + change);  // the first block holds the first mark
    TRecordingReader reader(altered);
    TRecordedReport r;
    while (reader.Next(r)) {
    }
    EXPECT_EQ(reader.Status(), status) << reader.Problem();
  }
}

// A file crowded with key blocks, or an older one with a block a minute, costs
// a scan no more than a point a second and a bounded number of the decoder's
// states; an index that lists more key blocks than seconds is not believed.
TEST(Recording, HostileFilesCostBoundedSeekPoints) {
  struct TCase {
    const char* name;
    bool key;
    uint32_t step;  // units between blocks
    int blocks;
    size_t maxPoints;
  };
  for (const TCase& c : {TCase{"key blocks a millisecond apart", true, 10, 20'000, 21},
                         TCase{"older blocks a minute apart", false, 600'000, 1'100, 1024}}) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file = EncodeRecordingHeader(kHeader);
    TRecordingIndex index;
    for (int i = 0; i < c.blocks; ++i) {
      // One record: a report of no slot, one step after the one before.
      uint8_t record[8] = {uint8_t(4 << 5 | std::min(c.step, 31u))};
      size_t n = 1;
      for (uint32_t v = c.step - 31; c.step >= 31; v >>= 7) {
        record[n++] = uint8_t((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
        if (v <= 0x7F) break;
      }
      record[n++] = 0;  // no data
      record[n++] = 0x07;
      if (c.key) index.Points.push_back({file.size(), int64_t(i) * c.step, uint64_t(i), nullptr});
      uint8_t framing[kBlockHeaderSize];
      EncodeBlockHeader(uint32_t(n), 1 | (c.key ? kKeyBlockFlag : 0), Crc32(record, n), framing);
      file.insert(file.end(), framing, framing + kBlockHeaderSize);
      file.insert(file.end(), record, record + n);
    }
    index.DurationUnits = int64_t(c.blocks) * c.step;
    index.Reports = uint64_t(c.blocks);
    const std::vector<uint8_t> unindexed = file;
    const std::vector<uint8_t> tail = EncodeRecordingIndex(index, file.size());
    file.insert(file.end(), tail.begin(), tail.end());
    TRecordingReader reader(file);
    TRecordingIndex read;
    EXPECT_EQ(reader.ReadIndex(read), !c.key);  // one of 20,000 key blocks a millisecond apart: no
    TRecordingReader scanned(unindexed);
    TRecordingMap map;
    ASSERT_TRUE(MapRecording(scanned, map));
    EXPECT_EQ(scanned.ReportsRead(), uint64_t(c.blocks));
    EXPECT_LE(map.Points.size(), c.maxPoints);
  }
}

// The screen as the mirror would present it: every slot's last report, taken
// whenever line group 0 arrives.
using TFrames = std::vector<std::vector<uint8_t>>;
void Present(std::vector<uint8_t>& screen, TFrames& frames, uint8_t id, const uint8_t* data, size_t size) {
  if (id != 0 || size != 64) return;
  std::memcpy(screen.data() + (data[60] * 2 + (data[61] != 0)) * 64, data, 64);
  if (data[60] == 0) frames.push_back(screen);
}

struct TLinkEnd : TObject {
  THidDeviceController* controller = nullptr;
  THidDevice* device = nullptr;
  TPlayback* playback = nullptr;
  std::vector<uint8_t> screen = std::vector<uint8_t>(512 * 64);
  TFrames frames;
  std::vector<int64_t> times;
  bool Enumerate(THidDevice*, int32_t index) {
    controller->CheckOutAt(device, index);
    return device == nullptr;
  }
  void Change(TObject*) {
    if (!device) controller->OfferDevices();
  }
  void Data(THidDevice*, uint8_t id, const uint8_t* data, uint16_t size) {
    Present(screen, frames, id, data, size);
    times.push_back(playback->PositionMicros());
  }
};

TEST(Recording, PlaysBackThroughTheLinkFrameByFrame) {
  const std::vector<TReport> reports = SimulatorStream(3);
  auto file = std::make_shared<const std::vector<uint8_t>>(Record(reports));
  std::vector<uint8_t> screen(512 * 64);
  TFrames recorded;
  for (const TReport& r : reports) Present(screen, recorded, r.id, r.data.data(), r.data.size());

  auto playback = std::make_shared<TPlayback>(file);
  playback->SetSpeed(4);
  auto dispatcher = std::make_shared<test::FakeDispatcher>();
  TLinkEnd end;
  end.playback = playback.get();
  {
    THidDeviceController controller(nullptr, std::make_shared<TRecordingBinding>(playback), dispatcher,
                                    std::make_unique<test::FakeWatch>());
    end.controller = &controller;
    controller.SetOnEnumerate(Bind(&end, &TLinkEnd::Enumerate));
    controller.SetOnDeviceChange(Bind(&end, &TLinkEnd::Change));
    controller.SetOnDeviceData(Bind(&end, &TLinkEnd::Data));
    ASSERT_NE(end.device, nullptr);
    EXPECT_EQ(end.device->Attributes().VendorID, kHeader.VendorID);
    EXPECT_EQ(end.device->DeviceStrings(2), kHeader.Product);
    uint32_t written = 1;
    EXPECT_FALSE(end.device->WriteReport("\x0f", 1, written));  // nothing reaches an instrument
    EXPECT_TRUE(dispatcher->PumpUntil([&] { return end.times.size() >= reports.size(); }));
    controller.ReturnDevice(end.device);
  }
  EXPECT_TRUE(end.frames == recorded) << end.frames.size() << " frames of " << recorded.size();
  ASSERT_EQ(end.times.size(), reports.size());
  for (size_t i = 0; i < reports.size(); ++i)
    ASSERT_LE(std::abs(end.times[i] - reports[i].time), kRecordingTimeUnitMicros / 2) << i;
  uint64_t count;
  int64_t sum, most;
  playback->Lateness(count, sum, most);
  std::printf("playback at 4x: %llu reports, lateness mean %lld us, most %lld us\n",
              static_cast<unsigned long long>(count),
              static_cast<long long>(count ? sum / int64_t(count) : 0), static_cast<long long>(most));
}

TEST(Recording, StepsAFrameWhilePausedAndSeeksToAMoment) {
  const std::vector<TReport> reports = SimulatorStream(2);
  TPlayback playback(std::make_shared<const std::vector<uint8_t>>(Record(reports)));
  playback.Pause();
  uint8_t out[65];
  EXPECT_EQ(playback.Next(out, 65, std::chrono::milliseconds(20)), 0u);  // paused: nothing comes
  // A step: the reports up to and including the next present, which both
  // halves of line group 0 make.
  for (size_t expected : {size_t(1), size_t(1), size_t(sim::kReportsPerFrame - 2 + 1)}) {
    playback.Step();
    size_t got = 0;
    while (playback.Next(out, 65, std::chrono::milliseconds(20)) == 65) ++got;
    EXPECT_EQ(got, expected);
    EXPECT_EQ(out[1 + 60], 0);
  }

  // A seek: the reports just before the moment at once, the last one the
  // last report before it.
  const size_t target = 1000;
  playback.Seek(reports[target].time);
  std::vector<std::vector<uint8_t>> lead;
  while (playback.Next(out, 65, std::chrono::milliseconds(20)) == 65) lead.emplace_back(out + 1, out + 65);
  ASSERT_EQ(lead.size(), 512u);
  EXPECT_EQ(lead.back(), reports[target - 1].data);
  EXPECT_EQ(lead.front(), reports[target - 512].data);
  playback.Play();
  ASSERT_EQ(playback.Next(out, 65, std::chrono::milliseconds(2000)), 65u);
  EXPECT_EQ(std::vector<uint8_t>(out + 1, out + 65), reports[target].data);

  // Back to the start while paused: nothing comes before it, so the picture
  // shown is the first one after it.
  playback.Pause();
  playback.Seek(0);
  lead.clear();
  while (playback.Next(out, 65, std::chrono::milliseconds(20)) == 65) lead.emplace_back(out + 1, out + 65);
  ASSERT_EQ(lead.size(), 1u);
  EXPECT_EQ(lead.front(), reports[0].data);
  EXPECT_EQ(playback.PositionMicros(), reports[0].time);
}

// A seek lands on the same reports whether the file's index gives the key
// blocks, a scan finds them, or a scan of a file with none (as older programs
// wrote) keeps the decoder's state along the way.
TEST(Recording, SeeksAlikeThroughTheIndexAndThroughAScan) {
  const std::vector<TReport> reports = SimulatorStream(100);
  const std::vector<uint8_t> indexed = Record(reports);
  const std::vector<size_t> blocks = Blocks(indexed);
  const std::vector<uint8_t> unindexed(indexed.begin(), indexed.begin() + ptrdiff_t(blocks.back()));
  std::vector<uint8_t> keyless = unindexed;
  for (size_t i = 0; i + 1 < blocks.size(); ++i) keyless[blocks[i] + 7] &= 0x7F;
  struct TCase {
    const char* name;
    const std::vector<uint8_t>& file;
    bool indexed;
    size_t points;
  };
  for (const TCase& c :
       {TCase{"indexed", indexed, true, 4}, TCase{"key blocks, no index", unindexed, false, 4},
        TCase{"an older file", keyless, false, 2}}) {
    SCOPED_TRACE(c.name);
    auto bytes = std::make_shared<const std::vector<uint8_t>>(c.file);
    TRecordingReader reader(std::make_shared<TMemorySource>(bytes));
    TRecordingMap map;
    ASSERT_TRUE(MapRecording(reader, map));
    EXPECT_EQ(map.Indexed, c.indexed);
    EXPECT_EQ(map.Points.size(), c.points);
    for (const TSeekPoint& point : map.Points) {
      TRecordingReader at(std::make_shared<TMemorySource>(bytes));
      at.Seek(point);
      TRecordedReport r;
      ASSERT_TRUE(at.Next(r));
      EXPECT_EQ(std::vector<uint8_t>(r.Data.begin(), r.Data.begin() + r.Size), reports[point.Reports].data)
          << point.Reports << " " << point.Unit;
      EXPECT_NEAR(double(r.TimeMicros), double(reports[point.Reports].time), 100.0);
    }
    EXPECT_NEAR(double(map.DurationMicros), double(reports.back().time), 1000.0);
    TPlayback playback(bytes);
    playback.Pause();
    for (size_t target : {size_t(700), size_t(30'010), size_t(59'990), size_t(60'600), size_t(99'999)}) {
      // The target's time as the file keeps it.
      const int64_t unit = kRecordingTimeUnitMicros;
      playback.Seek((reports[target].time + unit / 2) / unit * unit);
      std::vector<std::vector<uint8_t>> lead;
      uint8_t out[65];
      while (playback.Next(out, 65, std::chrono::milliseconds(1)) == 65) lead.emplace_back(out + 1, out + 65);
      ASSERT_EQ(lead.size(), 512u) << target;
      EXPECT_EQ(lead.back(), reports[target - 1].data) << target;
      EXPECT_EQ(lead.front(), reports[target - 512].data) << target;
    }
  }
}

// Records put at the start of a block, with the block's framing made to fit:
// lengths and counts that only the reader's bounds stop.
void PutAtBlockStart(std::vector<uint8_t>& file, size_t block, const std::vector<uint8_t>& records,
                     uint32_t count) {
  uint8_t* framing = file.data() + block;
  const uint32_t size = framing[0] | framing[1] << 8 | framing[2] << 16 | uint32_t(framing[3]) << 24;
  const uint32_t had = framing[4] | framing[5] << 8 | framing[6] << 16 | uint32_t(framing[7]) << 24;
  file.insert(file.begin() + ptrdiff_t(block + kBlockHeaderSize), records.begin(), records.end());
  const uint8_t* payload = file.data() + block + kBlockHeaderSize;
  const uint32_t grown = size + uint32_t(records.size());
  EncodeBlockHeader(grown, had + count, Crc32(payload, grown), file.data() + block);
}

void PutVarint(std::vector<uint8_t>& out, uint64_t v, size_t minBytes = 1) {
  for (size_t i = 0; v > 0x7F || i + 1 < minBytes; ++i, v >>= 7) out.push_back(uint8_t(v | 0x80));
  out.push_back(uint8_t(v));
}

// Damaged and hostile files, made from a recording that holds every kind of
// record (several blocks, reports of other kinds, a report ID mark, gaps),
// through everything that reads one. Bytes changed or cut are never played:
// what is read is what was recorded, up to the damage. Records a hostile
// writer made, with their block's checksum fitting, are read within the
// bounds: no report beyond the largest, no time before the start, no gap
// before the start or after its report, no count of losses that wraps; and the
// sanitizers see no undefined behaviour.
TEST(RecordingLong, MutatedAndCutRecordingsAreReadUpToTheDamage) {
  std::vector<TReport> reports = SimulatorStream(1);
  reports.resize(700);
  std::mt19937 random(2026);
  for (size_t i = 0; i < reports.size(); ++i) {
    TReport& r = reports[i];
    r.time = int64_t(i) * 150'000;  // 105 s: a key block every 30 s
    if (i % 3 == 0)
      for (int k = 0; k < 60; ++k) r.data[size_t(k)] = uint8_t(random());
    if (i % 11 == 5) r.data.resize(1 + i % 30);
    if (i >= 200 && i < 206) r.id = 0x01;
  }
  for (size_t i = 7; i-- > 0;) reports.erase(reports.begin() + ptrdiff_t(18 + 97 * i));  // lost on the way
  const std::vector<uint8_t> whole = Record(reports);
  const std::vector<size_t> blocks = Blocks(whole);
  ASSERT_GE(blocks.size(), 5u);
  std::vector<TRecordedReport> recorded;
  std::vector<std::pair<uint64_t, uint64_t>> before;  // reports and losses before each block
  {
    TRecordingReader reader(whole);
    reader.OnBlock = [&](const TSeekPoint& p, bool, const TCodingState&) {
      before.emplace_back(p.Reports, reader.Lost());
    };
    for (TRecordedReport r; reader.Next(r);) recorded.push_back(r);
    ASSERT_EQ(reader.Status(), TRecordingReader::TStatus::Ended);
    ASSERT_GT(reader.Lost(), 0u);
  }
  constexpr int kFiles = 1'200;
  uint64_t framesSeen = 0;
  for (int i = 0; i < kFiles; ++i) {
    std::vector<uint8_t> file = whole;
    const int kind = i % 6;
    size_t block = 0;
    uint64_t gapsLost = 0;  // lost in the gaps put in, at most all a count holds
    uint32_t count = 0;     // records put in
    auto gap = [&](uint64_t lost) { gapsLost = gapsLost + lost < gapsLost ? ~0ull : gapsLost + lost; };
    switch (kind) {
      case 0:  // a few bytes changed
        for (int k = 1 + int(random() % 4); k > 0; --k)
          file[random() % file.size()] ^= uint8_t(1 + random() % 255);
        break;
      case 1: {  // cut anywhere or after a block, and perhaps a byte before the cut changed
        file.resize(random() % 2 ? random() % file.size() : blocks[1 + random() % (blocks.size() - 1)]);
        if (random() % 2 && file.size() > 300) file[file.size() - 1 - random() % 300] ^= 0x20;
        break;
      }
      case 2: {  // a field set to an extreme, where a length or a time is
        const size_t at = random() % (file.size() - 8);
        const uint64_t v = random() % 2 ? ~0ull : 1ull << (random() % 64);
        for (int k = 0; k < 8; ++k) file[at + size_t(k)] = uint8_t(v >> (8 * k));
        break;
      }
      case 3: {  // a run of bytes repeated over what follows it
        const size_t from = random() % file.size(), to = random() % file.size(), n = random() % 64;
        for (size_t k = 0; k < n && from + k < file.size() && to + k < file.size(); ++k)
          file[to + k] = file[from + k];
        break;
      }
      default: {  // records of a hostile writer at a block's start
        std::vector<uint8_t> records;
        auto huge = [&] { return (1ull << (36 + random() % 28)) + random(); };
        for (int k = 1 + int(random() % 3); k > 0; --k, ++count) {
          switch (random() % 4) {
            case 0: {  // a report of no slot, longer than any
              const size_t length = 1025 + random() % 400;
              records.push_back(4 << 5);
              PutVarint(records, length);
              records.insert(records.end(), length + 1, uint8_t(random()));
              break;
            }
            case 1: {  // its length written long, or longer than a varint may be
              const size_t length = random() % 40, bytes = 1 + random() % 11;
              records.push_back(4 << 5);
              PutVarint(records, length, bytes);
              records.insert(records.end(), length + 1, 0x5A);
              break;
            }
            case 2:  // a gap that began before the recording did
              records.insert(records.end(), {6 << 5, 1, 1});
              gap(1);
              PutVarint(records, random() % 2 ? huge() : 1'100'000 + random() % 100);
              break;
            default:  // two gaps that lose more than a count can hold
              for (int twice = 0; twice < 2; ++twice, ++count) {
                records.insert(records.end(), {6 << 5, 1});
                const uint64_t lost = (1ull << 63) + random() % 1000;
                PutVarint(records, lost);
                records.push_back(0);
                gap(lost);
              }
              --count;
              break;
          }
        }
        block = random() % (blocks.size() - 1);
        PutAtBlockStart(file, blocks[block], records, count);
        break;
      }
    }
    const bool hostile = kind >= 4;
    auto bytes = std::make_shared<const std::vector<uint8_t>>(std::move(file));
    {
      TRecordingReader reader(std::make_shared<TMemorySource>(bytes));
      TRecordedReport r;
      uint64_t n = 0, lost = 0;
      int64_t previous = 0;
      while (reader.Next(r)) {
        ASSERT_LE(n + 1, bytes->size());
        ASSERT_LE(r.Size, kMaxRecordedReportSize);
        ASSERT_GE(r.TimeMicros, previous);
        previous = r.TimeMicros;
        if (r.LostBefore) {
          ASSERT_GE(r.LostFromMicros, 0);
          ASSERT_LE(r.LostFromMicros, r.TimeMicros);
        }
        ASSERT_FALSE(__builtin_add_overflow(lost, r.LostBefore, &lost));
        if (!hostile) {
          ASSERT_LT(n, recorded.size());
          const TRecordedReport& want = recorded[n];
          ASSERT_TRUE(r.Size == want.Size &&
                      std::equal(want.Data.begin(), want.Data.begin() + want.Size, r.Data.begin()) &&
                      r.TimeMicros == want.TimeMicros && r.LostBefore == want.LostBefore)
              << "case " << i << ", report " << n << " is not what was recorded";
        }
        ++n;
      }
      ASSERT_NE(reader.Status(), TRecordingReader::TStatus::Reading);
      // Read past the gaps put in: they are counted, whatever they claim.
      if (hostile && reader.ReportsRead() > before[block].first + count) {
        const uint64_t least =
            before[block].second + gapsLost < gapsLost ? ~0ull : before[block].second + gapsLost;
        ASSERT_GE(reader.Lost(), least) << "case " << i;
      }
    }
    TPlayback playback(bytes);
    playback.Pause();
    playback.Seek(int64_t(random() % 110'000'000));
    uint8_t out[1 + kMaxRecordedReportSize];
    for (int k = 0; k < 600 && playback.Next(out, sizeof out, std::chrono::milliseconds(0)) > 0; ++k) {
    }
    TRecordingReader reader(std::make_shared<TMemorySource>(bytes));
    TRecordingMap map;
    if (reader.Status() == TRecordingReader::TStatus::Foreign || !MapRecording(reader, map)) continue;
    const int64_t from = int64_t(random() % 100'000'000);
    TFrameStream frames(std::make_shared<TMemorySource>(bytes), map, from,
                        from + int64_t(random() % 5'000'000));
    TFrameStream::TFrame frame;
    for (int k = 0; frames.Next(frame); ++k) {
      ASSERT_LE(k, 600);
      ASSERT_GE(frame.Hundredths, 1);
      ++framesSeen;
    }
  }
  std::printf("%d damaged recordings read, %llu frames built from them\n", kFiles,
              static_cast<unsigned long long>(framesSeen));
}

// An export of a still screen stops reading where its range ends, not where
// the screen next changes; its frames fill the range exactly.
TEST(Recording, AnExportReadsNoFurtherThanItsRange) {
  const std::vector<TReport> reports = SimulatorStream(40);  // keys at 10 s and 30 s
  auto bytes = std::make_shared<const std::vector<uint8_t>>(Record(reports));
  TRecordingReader reader(std::make_shared<TMemorySource>(bytes));
  TRecordingMap map;
  ASSERT_TRUE(MapRecording(reader, map));
  const int64_t from = 12'000'000, to = 14'000'000;
  TFrameStream frames(std::make_shared<TMemorySource>(bytes), map, from, to);
  TFrameStream::TFrame frame;
  int64_t hundredths = 0;
  while (frames.Next(frame)) hundredths += frame.Hundredths;
  EXPECT_EQ(hundredths, (to - from) / 10'000);
  const auto before = std::count_if(reports.begin(), reports.end(), [&](const TReport& r) {
    return (r.time + kRecordingTimeUnitMicros / 2) / kRecordingTimeUnitMicros * kRecordingTimeUnitMicros < to;
  });
  EXPECT_LE(frames.Reader().ReportsRead(), uint64_t(before) + 1);
}

// A GIF's frames last what the recording's frames lasted: their hundredths add
// up to the range's time, and none is shorter than browsers honour, even when
// every report draws a new picture (a frame of 1 ms, then one of 159 ms).
TEST(Recording, AnExportsFramesAddUpToItsTimeAndNoneIsTooShort) {
  std::vector<TReport> worst = SimulatorStream(20);
  std::mt19937 random(9);
  for (TReport& r : worst)
    for (int k = 0; k < 60; ++k) r.data[size_t(k)] = uint8_t(random());
  const struct {
    const char* name;
    std::vector<TReport> reports;
    int64_t cycleMicros;  // at least one frame survives each
  } streams[] = {{"the simulator", SimulatorStream(20), 20'000'000},
                 {"every frame different", worst, 170'000}};
  for (const auto& stream : streams) {
    auto bytes = std::make_shared<const std::vector<uint8_t>>(Record(stream.reports));
    TRecordingReader reader(std::make_shared<TMemorySource>(bytes));
    TRecordingMap map;
    ASSERT_TRUE(MapRecording(reader, map));
    for (const auto& [from, to] :
         {std::pair<int64_t, int64_t>{0, map.DurationMicros}, {3'333'300, 17'000'700}}) {
      SCOPED_TRACE(std::string(stream.name) + ", from " + std::to_string(from));
      TFrameStream frames(std::make_shared<TMemorySource>(bytes), map, from, to);
      TFrameStream::TFrame frame;
      int64_t hundredths = 0, shortest = INT64_MAX;
      size_t count = 0;
      while (frames.Next(frame)) {
        hundredths += frame.Hundredths;
        shortest = std::min(shortest, frame.Hundredths);
        ++count;
      }
      EXPECT_EQ(hundredths, (to - from + 5000) / 10'000);
      EXPECT_GE(shortest, 2);
      EXPECT_GE(count, size_t((to - from) / stream.cycleMicros));
    }
  }
}

// Damage that the index cannot know of is told when the file is opened, and an
// export it cuts short says where.
TEST(Recording, DamageBehindAnIndexIsToldOnOpenAndWhereItCutsAnExportShort) {
  const std::vector<TReport> reports = SimulatorStream(100);
  const std::vector<uint8_t> whole = Record(reports);
  std::vector<uint8_t> damaged = whole;
  {
    TRecordingReader reader(whole);
    size_t at = 0;
    reader.OnBlock = [&](const TSeekPoint& p, bool, const TCodingState&) {
      if (!at && p.Unit * kRecordingTimeUnitMicros >= 30'000'000) at = p.Offset;
    };
    TRecordedReport r;
    while (reader.Next(r)) {
    }
    ASSERT_NE(at, 0u);
    damaged[at + kBlockHeaderSize + 20] ^= 0x08;
  }
  const struct {
    const char* name;
    const std::vector<uint8_t>& file;
    bool damaged;
  } cases[] = {{"whole", whole, false}, {"a bit flipped at 30 s", damaged, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = std::make_shared<const std::vector<uint8_t>>(c.file);
    TRecordingReader reader(std::make_shared<TMemorySource>(bytes));
    TRecordingMap map;
    ASSERT_TRUE(MapRecording(reader, map));
    EXPECT_TRUE(map.Indexed);
    EXPECT_NEAR(double(map.DurationMicros), 100e6, 1e6);
    EXPECT_EQ(map.Problem.find("Запись повреждена") != std::string::npos, c.damaged) << map.Problem;
    EXPECT_EQ(TPlayback(bytes).Problem().empty(), !c.damaged);

    TFrameStream frames(std::make_shared<TMemorySource>(bytes), map, 10'000'000, 90'000'000);
    TFrameStream::TFrame frame;
    int64_t hundredths = 0;
    while (frames.Next(frame)) hundredths += frame.Hundredths;
    EXPECT_EQ(hundredths < 8000, c.damaged) << hundredths;
    EXPECT_EQ(frames.Problem().rfind("Экспортирована только часть до 3", 0) == 0, c.damaged)
        << frames.Problem();
    EXPECT_EQ(frames.Problem().find("из 10.0–90.0 с. Запись повреждена") != std::string::npos, c.damaged)
        << frames.Problem();
  }
}

TEST(Evidence, SnapshotNamesNeverCollide) {
  std::set<std::wstring> taken;
  const TStamp t{2026, 12, 8, 4, 5, 6, 7};
  for (int i = 0; i < 5; ++i)
    taken.insert(SnapshotName(t, [&](const std::wstring& name) { return taken.count(name) > 0; }));
  EXPECT_EQ(taken.size(), 5u);
  EXPECT_EQ(*taken.begin(), L"TS4170 2026-12-08 04-05-06.007 (2).png");
  EXPECT_TRUE(taken.count(L"TS4170 2026-12-08 04-05-06.007.png"));
  EXPECT_TRUE(taken.count(L"TS4170 2026-12-08 04-05-06.007 (5).png"));
}

TEST(Evidence, AFrameIsWholeWhenEveryLineGroupArrivedSinceTheLastOneBegan) {
  struct TCase {
    const char* name;
    int skipIndex;  // a report of the second frame that goes missing, or -1
    bool complete;
  };
  for (const TCase& c : {TCase{"every report", -1, true}, TCase{"a group lost", 77, false},
                         TCase{"the second half of group 0 lost", 1, false}}) {
    SCOPED_TRACE(c.name);
    TScreenImage integrity(false);
    const sim::Screen screen;
    auto add = [&](int i) {
      const sim::Report r = sim::EncodeScreenReport(screen, i);
      integrity.Apply(r.data() + 1, 64);
    };
    for (int i = 0; i < sim::kReportsPerFrame; ++i) add(i);
    for (int i = 0; i < sim::kReportsPerFrame; ++i)
      if (i != c.skipIndex) add(i);
    add(0);  // the next frame begins: the one before it is judged
    EXPECT_EQ(integrity.Whole(), c.complete);
  }
}

}  // namespace
}  // namespace ts
