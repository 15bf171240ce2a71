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

TEST(Recording, SizeOfAnHourAndOfTheWorstCase) {
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
  TStalledSink(std::vector<uint8_t>& out, std::shared_ptr<TGate> gate) : out_(out), gate_(std::move(gate)) {}
  bool Write(const uint8_t* data, size_t size) override {
    std::unique_lock lock(gate_->mutex);
    // The header goes through: the recording has begun before the disk stalls.
    if (!out_.empty()) gate_->changed.wait(lock, [this] { return gate_->released; });
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
};

// A disk that stops answering cannot hold the window: stop gives up on the
// writer after its bound and says so; the file ends where the disk left it.
TEST(Recording, StopWaitsForAStalledDiskOnlySoLong) {
  const std::vector<TReport> reports = SimulatorStream(1);
  std::vector<uint8_t> file;
  const auto gate = std::make_shared<TGate>();
  {
    TRecorder recorder(1000, 200);
    ASSERT_TRUE(recorder.Start(std::make_unique<TStalledSink>(file, gate), kHeader, 0));
    for (const TReport& r : reports) recorder.Push(r.time, r.id, r.data.data(), uint16_t(r.data.size()));
    recorder.Stop(TRecordingEnd::Stopped);
    EXPECT_FALSE(recorder.Recording());
    EXPECT_NE(recorder.TakeFailure().find("Диск не ответил"), std::string::npos);
  }
  gate->Release();
  ASSERT_TRUE(gate->WaitClosed());
  // Whatever the disk took once it answered is a sound recording.
  TRecordingReader reader(file);
  TRecordedReport r;
  while (reader.Next(r)) {
  }
  EXPECT_TRUE(reader.Status() == TRecordingReader::TStatus::Ended ||
              reader.Status() == TRecordingReader::TStatus::Unended)
      << reader.Problem();
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

// Damaged and hostile files, made by mutating and cutting a small recording,
// through everything that reads one: each is read up to the damage, never
// beyond a record a byte, and the sanitizers see no undefined behaviour.
TEST(Recording, MutatedAndCutRecordingsAreReadUpToTheDamage) {
  std::vector<TReport> reports = SimulatorStream(1);
  reports.resize(260);
  reports[200].id = 0x01;  // a mark record too
  reports[210].data.resize(20);
  const std::vector<uint8_t> whole = Record(reports);
  std::mt19937 random(2026);
  constexpr int kFiles = 20'000;
  uint64_t framesSeen = 0;
  for (int i = 0; i < kFiles; ++i) {
    std::vector<uint8_t> file = whole;
    switch (i % 4) {
      case 0:  // a few bytes changed
        for (int k = 1 + int(random() % 4); k > 0; --k)
          file[random() % file.size()] ^= uint8_t(1 + random() % 255);
        break;
      case 1:  // cut anywhere
        file.resize(random() % file.size());
        break;
      case 2: {  // a field set to an extreme, where a length or a time is
        const size_t at = random() % (file.size() - 8);
        const uint64_t v = random() % 2 ? ~0ull : 1ull << (random() % 64);
        for (int k = 0; k < 8; ++k) file[at + size_t(k)] = uint8_t(v >> (8 * k));
        break;
      }
      default: {  // a run of bytes repeated over what follows it
        const size_t from = random() % file.size(), to = random() % file.size(), n = random() % 64;
        for (size_t k = 0; k < n && from + k < file.size() && to + k < file.size(); ++k)
          file[to + k] = file[from + k];
        break;
      }
    }
    auto bytes = std::make_shared<const std::vector<uint8_t>>(std::move(file));
    {
      TRecordingReader reader(std::make_shared<TMemorySource>(bytes));
      TRecordedReport r;
      uint64_t n = 0;
      while (reader.Next(r)) {
        ASSERT_LE(++n, bytes->size());
        ASSERT_GE(r.TimeMicros, 0);
        ASSERT_LE(r.Size, kMaxRecordedReportSize);
      }
      ASSERT_NE(reader.Status(), TRecordingReader::TStatus::Reading);
    }
    TPlayback playback(bytes);
    playback.Pause();
    playback.Seek(int64_t(random() % 2'000'000));
    uint8_t out[1 + kMaxRecordedReportSize];
    for (int k = 0; k < 600 && playback.Next(out, sizeof out, std::chrono::milliseconds(0)) > 0; ++k) {
    }
    TRecordingReader reader(std::make_shared<TMemorySource>(bytes));
    TRecordingMap map;
    if (reader.Status() == TRecordingReader::TStatus::Foreign || !MapRecording(reader, map)) continue;
    const int64_t from = int64_t(random() % 500'000);
    TFrameStream frames(std::make_shared<TMemorySource>(bytes), map, from,
                        from + int64_t(random() % 1'000'000));
    TFrameStream::TFrame frame;
    for (int k = 0; frames.Next(frame); ++k) {
      ASSERT_LE(k, 400);
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
