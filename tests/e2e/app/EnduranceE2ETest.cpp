// The program under load and under bad input: a long stream at the USB pace, a
// storm of unplugs and replugs, and reports that no instrument should send.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tests/e2e/support/Harness.h"
#include "tests/e2e/support/Steps.h"
#include "ui/Cp1251.h"

namespace ts::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Half a minute of reports at the USB pace in the test command, beside the other
// suites; TS_SOAK_SECONDS=3600 for the hour-long run by hand.
uint64_t SoakReports() {
  const char* text = std::getenv("TS_SOAK_SECONDS");
  const long seconds = text ? std::strtol(text, nullptr, 10) : 0;
  return 1000 * static_cast<uint64_t>(seconds >= 20 ? seconds : 30);
}

std::unique_ptr<VirtualInstrument> MakeInstrument(size_t queueLimit = 256) {
  sim::Transport::Options options = TransportUnderTest();
  options.pipe.clientQueueLimit = queueLimit;
  auto instrument = std::make_unique<VirtualInstrument>(options);
  instrument->Server().Plug();
  return instrument;
}

// The last lines of the log, for a failure's message.
std::string TailOf(const std::vector<std::wstring>& lines) {
  std::string text;
  for (size_t k = lines.size() > 6 ? lines.size() - 6 : 0; k < lines.size(); ++k)
    text += " | " + Narrow(lines[k]);
  return text;
}

void StartConnected(std::optional<Program>& program) {
  program.emplace();
  ASSERT_TRUE(WaitFor([&] { return program->StatusPanel(0) == kConnected; })) << program->StatusPanel(0);
  UncoverDisplay(*program);
}

TEST(Endurance, ASoakAtTheUsbPaceLosesNothingAndLeaksNothing) {
  // Made before the instrument, so that the program outlives the stream, which
  // reads its counts over HID, whatever ends the test.
  std::optional<Program> program;
  // A backlog the program could never reach unless it stalled for minutes, so a
  // dropped report means the program fell behind for good.
  auto instrument = MakeInstrument(1'000'000);
  ASSERT_NO_FATAL_FAILURE(StartConnected(program));
  Program& p = *program;
  const uint64_t handOversBefore = p.PathCounts().HandOvers;
  const HWND keys[2] = {RightKey(p), LeftKey(p)};
  ASSERT_TRUE(keys[0] && keys[1]);

  // Over HID the stream goes at the program's pace, which a busy machine slows
  // down as much as it likes: only a stream that stops for 30 s has hung.
  const uint64_t soak = SoakReports();
  auto streamed = [&](uint64_t count, const char* what) {
    for (uint64_t now = instrument->Streamed(); now < count;) {
      const uint64_t from = now;
      Await([&] { return (now = instrument->Streamed()) >= count || now > from; }, what, 30s);
    }
  };
  // The pipe keeps any backlog; over HID the stream waits rather than outrun the
  // class driver's queue, so every report it sends is one the program can take.
  if (instrument->Server().IsHid())
    instrument->LimitBacklog(128,
                             [&p, handOversBefore] { return p.PathCounts().HandOvers - handOversBefore; });
  const auto start = Clock::now();
  instrument->StartStream();
  // The warm-up goes every way the soak goes, a key's report included, so what
  // the program and the system set up once is in place before the count.
  streamed(soak / 12, "the warm-up's first reports");
  p.Click(keys[1]);
  ASSERT_TRUE(instrument->TakeOutputReport());
  streamed(soak / 6, "the warm-up's reports");
  const DWORD handlesBefore = p.HandleCount();
  const size_t bytesBefore = p.PrivateBytes();
  const uint64_t allocationsBefore = p.PathCounts().Allocations;
  uint64_t clicks = 0;

  // The screen changes every 5,000 reports, so a report from an old frame or at
  // the wrong place would show at the end.
  for (uint64_t next = soak / 6 + 5000; next <= soak; next += 5000) {
    streamed(next, "the soak's reports");
    if (next == soak) break;
    ++clicks;
    p.Click(keys[next / 5000 % 2]);
    ASSERT_TRUE(instrument->TakeOutputReport());
  }
  streamed(soak, "the soak's last reports");
  const DWORD handlesAfter = p.HandleCount();
  const size_t bytesAfter = p.PrivateBytes();
  const uint64_t allocations = p.PathCounts().Allocations - allocationsBefore;
  instrument->StopStream();
  std::printf("soak: %llu reports in %.0f s, handles %lu -> %lu, private %zu -> %zu, %llu allocations\n",
              static_cast<unsigned long long>(instrument->Streamed()),
              std::chrono::duration<double>(Clock::now() - start).count(), handlesBefore, handlesAfter,
              bytesBefore, bytesAfter, static_cast<unsigned long long>(allocations));

  // A leak of the program's own grows with the reports and needs an allocation
  // each time: the program's count of its own new and malloc calls sees one per
  // report or per frame, where private bytes, which Wine commits and gives back
  // by the megabyte, cannot. Streaming allocates nothing; a key's send and its
  // log lines allocate a few times (63 times for the 9 keys of a 60 s soak).
  // A handle per report would far exceed the handles' margin, which covers a
  // handle or two the system opens lazily; the private bytes' bound catches a
  // gross leak below the program, in the system.
  EXPECT_LE(handlesAfter, handlesBefore + 4) << "handles before " << handlesBefore;
  EXPECT_LE(allocations, 20 * clicks + 50) << "the program allocated during the soak, " << clicks << " keys";
  EXPECT_LE(bytesAfter, bytesBefore + 16 * 1024 * 1024);

  // Every report streamed reaches the program's user interface, whatever lies
  // between: over HID the class driver's queue, which no server here can see.
  // On a busy machine the program may end the soak well behind and catch up
  // later; only a program that stops taking reports for 10 s has fallen behind.
  uint64_t taken = 0, before = 0;
  do {
    before = taken;
    WaitFor(
        [&] {
          taken = p.PathCounts().HandOvers - handOversBefore;
          return taken >= instrument->Streamed() || taken > before;
        },
        10s);
  } while (taken < instrument->Streamed() && taken > before);
  std::printf("soak: the program took %llu of %llu reports, the server dropped %llu\n",
              static_cast<unsigned long long>(taken), static_cast<unsigned long long>(instrument->Streamed()),
              static_cast<unsigned long long>(instrument->Server().DroppedReports()));
  EXPECT_EQ(taken, instrument->Streamed());
  EXPECT_EQ(instrument->Server().DroppedReports(), 0u);
  if (instrument->Server().IsHid()) {
    Surface expected;
    expected.DrawScreen(instrument->CurrentScreen());
    Difference d;
    EXPECT_TRUE(WaitForPicture(p, expected, d)) << d.Describe();
    EXPECT_TRUE(p.Close());
    return;
  }
  // The program's reader is the client that took the stream; a handle it only
  // writes through never reads, and what that one loses is no loss of the picture.
  const auto clients = instrument->Server().Pipe()->Clients();
  ASSERT_FALSE(clients.empty());
  const auto reader = std::max_element(
      clients.begin(), clients.end(), [](const auto& a, const auto& b) { return a.delivered < b.delivered; });
  for (const auto& c : clients)
    std::printf("soak client: %llu delivered, %llu dropped\n", static_cast<unsigned long long>(c.delivered),
                static_cast<unsigned long long>(c.dropped));
  EXPECT_EQ(reader->dropped, 0u) << "the program's reader fell behind";
  EXPECT_EQ(reader->delivered, instrument->Streamed());
  Surface expected;
  expected.DrawScreen(instrument->CurrentScreen());
  Difference d;
  EXPECT_TRUE(WaitForPicture(p, expected, d)) << d.Describe();
  EXPECT_TRUE(p.Close());
}

TEST(Endurance, AStormOfUnplugsWhileStreamingLeavesTheProgramConnectedAndMirroring) {
  auto instrument = MakeInstrument();
  std::optional<Program> program;
  ASSERT_NO_FATAL_FAILURE(StartConnected(program));
  Program& p = *program;
  instrument->StartStream();
  // The steady state after one replug is what every later one must come back to:
  // the device's handles, as many as the program keeps open.
  instrument->Server().Unplug();
  instrument->Server().Plug();
  ASSERT_TRUE(WaitFor([&] { return p.StatusPanel(0) == kConnected; }));
  // Settled once the count has held for half a second: the device's handles are
  // opened one after the other, so two equal readings in a row can still be mid-way.
  size_t clients = 0;
  int steadyPolls = 0;
  ASSERT_TRUE(WaitFor([&] {
    const size_t now = instrument->Server().ClientCount();
    steadyPolls = now == clients && now > 0 ? steadyPolls + 1 : 0;
    clients = now;
    return steadyPolls >= 50;
  }));
  const DWORD handlesBefore = p.HandleCount();

  // Every other cycle waits for the program to come back, so it is caught both in
  // the middle of reconnecting and while reading.
  // A HID device is installed and removed each time, some ten times slower.
  const bool hid = instrument->Server().IsHid();
  const char* cyclesText = std::getenv("TS_STORM_CYCLES");
  const int kCycles = cyclesText ? std::atoi(cyclesText) : hid ? 15 : 50;
  // Back means reading the new device: the pipe counts its clients; over HID the
  // program's own count of reports taken goes on.
  auto back = [&] {
    if (!hid) return instrument->Server().WaitForClientCount(clients, Clock::now() + 30s);
    const uint64_t from = p.PathCounts().HandOvers;
    return WaitFor([&] { return p.PathCounts().HandOvers >= from + 100; }, 30s);
  };
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    instrument->Server().Unplug();
    instrument->Server().Plug();
    if (cycle % 2 == 1) {
      ASSERT_TRUE(back()) << "the program did not come back after cycle " << cycle << ": " << p.StatusPanel(0)
                          << ", " << instrument->Server().ClientCount() << " clients, log ends "
                          << TailOf(LogTexts(p));
    }
    ASSERT_TRUE(p.Alive()) << "after " << cycle << " cycles";
  }

  ASSERT_TRUE(WaitFor(
      [&] { return p.StatusPanel(0) == kConnected && instrument->Server().ClientCount() == clients; }, 60s))
      << p.StatusPanel(0) << ", clients " << instrument->Server().ClientCount() << " (" << clients
      << " before)";
  // The last state logged is the connection; a summary of read errors repeated
  // before it may follow once the reader reads again.
  auto texts = LogTexts(p);
  const auto state = std::find_if(texts.rbegin(), texts.rend(),
                                  [](const std::wstring& t) { return t.rfind(L"DeviceChange ", 0) == 0; });
  ASSERT_NE(state, texts.rend());
  EXPECT_EQ(*state, L"DeviceChange ТС4170 подключен");
  for (auto later = texts.rbegin(); later != state; ++later)
    EXPECT_EQ(later->rfind(L"Ошибка: ", 0), 0u) << "after the state line";

  p.Click(p.Control(p.Main(), L"Данные"));
  ASSERT_TRUE(instrument->TakeOutputReport());
  Surface expected;
  expected.DrawScreen(instrument->CurrentScreen());
  Difference d;
  EXPECT_TRUE(WaitForPicture(p, expected, d)) << d.Describe();
  instrument->StopStream();
  // Each cycle opens and closes the device; none of it may stay behind. Over
  // HID the count moves by a few handles from one moment to the next, so the
  // bound holds for what it settles to; a leak would keep it above.
  DWORD handles = 0;
  EXPECT_TRUE(WaitFor([&] { return (handles = p.HandleCount()) <= handlesBefore + 4; }, 10s))
      << handles << " handles, " << handlesBefore << " before the storm";
  std::printf("storm: %d cycles, handles %lu -> %lu\n", kCycles, handlesBefore, handles);
  EXPECT_TRUE(p.Close());
}

// The display's surroundings in the main window: a band around the control.
constexpr RECT kAround{86, 0, 432, 256};

bool InsideDisplay(int x, int y) { return x >= 96 && x < 96 + kViewWidth && y < kViewHeight; }

TEST(Endurance, MalformedReportsNeverDrawOutsideThePictureNorStopTheProgram) {
  auto instrument = MakeInstrument(100'000);
  std::optional<Program> program;
  ASSERT_NO_FATAL_FAILURE(StartConnected(program));
  Program& p = *program;
  Surface expected;
  expected.DrawScreen(instrument->CurrentScreen());
  instrument->SendFrame();
  Difference d;
  ASSERT_TRUE(WaitForPicture(p, expected, d)) << d.Describe();
  const Picture around = p.CaptureClient(kAround);
  ASSERT_EQ(around.Width, kAround.right - kAround.left);

  sim::Transport& server = instrument->Server();
  // The HID stand-in drops its oldest reports when the program falls behind, so
  // there every batch waits for the program to take it.
  const uint64_t handOversBefore = p.PathCounts().HandOvers;
  uint64_t sent = 0;
  auto send = [&](const sim::Report& r) {
    server.SendReport(r);
    if (server.IsHid() && ++sent % 64 == 0)
      Await([&] { return p.PathCounts().HandOvers - handOversBefore >= sent; },
            "the program to take a batch");
  };
  std::mt19937 random(4170);
  auto randomByte = [&] { return static_cast<uint8_t>(random() & 0xFF); };
  std::vector<uint8_t> bytes(200);
  for (auto& b : bytes) b = randomByte();
  // Every short size, and a few long ones.
  for (size_t size = 0; size < sim::kReportSize; ++size) server.SendRaw(bytes.data(), size);
  for (size_t size : {66, 100, 129, 200}) server.SendRaw(bytes.data(), size);
  // Line groups past the screen, both halves, with pixels.
  for (int group = 80; group < 256; ++group)
    for (uint8_t half : {0, 1, 0x80}) {
      sim::Report r{};
      for (size_t k = 1; k <= 60; ++k) r[k] = randomByte();
      r[61] = static_cast<uint8_t>(group);
      r[62] = half;
      send(r);
    }
  // Noise of the right size.
  for (int n = 0; n < 2000; ++n) {
    sim::Report r;
    for (auto& b : r) b = randomByte();
    send(r);
  }
  // Then a clean bottom margin and a clean frame: the only picture that may be left.
  for (uint8_t half : {0, 1}) {
    sim::Report r{};
    r[61] = 80;
    r[62] = half;
    send(r);
    expected.DrawReport(r.data() + 1);
  }
  instrument->SendFrame();
  EXPECT_TRUE(WaitForPicture(p, expected, d, 60s)) << d.Describe();
  EXPECT_TRUE(server.WaitForBacklogBelow(1, Clock::now() + 30s));
  EXPECT_TRUE(p.Alive());
  EXPECT_EQ(p.StatusPanel(0), kConnected);

  // The side margins and the top one were never drawn; rows 243-245 only by group 80.
  for (int y = 0; y < kViewHeight; ++y) {
    ASSERT_TRUE(expected.Black(0, y) && expected.Black(kViewWidth - 1, y));
  }
  const Picture after = p.CaptureClient(kAround);
  ASSERT_EQ(after.Width, around.Width);
  int changed = 0;
  for (int y = 0; y < around.Height; ++y)
    for (int x = 0; x < around.Width; ++x)
      if (!InsideDisplay(x + kAround.left, y + kAround.top)) changed += around.At(x, y) != after.At(x, y);
  EXPECT_EQ(changed, 0) << "pixels around the display changed";
  EXPECT_TRUE(p.Close());
}

}  // namespace
}  // namespace ts::e2e
