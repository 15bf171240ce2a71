// What a report costs the program, as the program itself counts it: in steady
// streaming each report is one hand-over to the user interface thread, 60 tile
// blits and no heap allocation, and each report of line group 0 one present.

#include <gtest/gtest.h>

#include <chrono>

#include "tests/e2e/support/Harness.h"
#include "tests/e2e/support/Steps.h"

namespace ts::e2e {
namespace {

using namespace std::chrono_literals;

TEST(Path, SteadyStreamingCostsOneHandOverSixtyBlitsAndNoAllocationPerReport) {
  sim::Transport::Options options = TransportUnderTest();
  options.pipe.clientQueueLimit = 1'000'000;  // none dropped: every report sent is one the program takes
  VirtualInstrument instrument(options);
  instrument.Server().Plug();
  Program program;
  ASSERT_TRUE(WaitFor([&] { return program.StatusPanel(0) == kConnected; })) << program.StatusPanel(0);
  UncoverDisplay(program);
  const TPathCounts connected = program.PathCounts();

  // Streams at the USB pace for at least `count` reports, stops after a whole
  // frame and its presenting report, and waits until the program has taken them.
  auto stream = [&](uint64_t count) {
    const uint64_t before = instrument.Streamed();
    instrument.StartStream();
    Await([&] { return instrument.Streamed() >= before + count; }, "the stream",
          std::chrono::milliseconds(3 * count) + 30s);
    const uint64_t sent = instrument.StopStream();
    Await([&] { return program.PathCounts().HandOvers - connected.HandOvers >= sent; },
          "the program to take every report");
    return sent - before;
  };

  stream(2000);  // first-time work (tiles, texts at their longest) is done with
  const TPathCounts before = program.PathCounts();
  const uint64_t reports = stream(3000);
  const TPathCounts after = program.PathCounts();

  // Whole frames of two group-0 reports each, then group 0 once more.
  ASSERT_EQ((reports - 1) % sim::kReportsPerFrame, 0u) << reports;
  const uint64_t groupZero = 2 * (reports - 1) / sim::kReportsPerFrame + 1;
  EXPECT_EQ(instrument.Server().DroppedReports(), 0u);
  EXPECT_EQ(after.Allocations - before.Allocations, 0u) << "over " << reports << " reports";
  EXPECT_EQ(after.HandOvers - before.HandOvers, reports);
  EXPECT_EQ(after.Blits - before.Blits, 60 * reports);
  EXPECT_EQ(after.Presents - before.Presents, groupZero);
  std::printf("path: %llu reports: %llu allocations, %llu hand-overs, %llu blits, %llu presents\n",
              static_cast<unsigned long long>(reports),
              static_cast<unsigned long long>(after.Allocations - before.Allocations),
              static_cast<unsigned long long>(after.HandOvers - before.HandOvers),
              static_cast<unsigned long long>(after.Blits - before.Blits),
              static_cast<unsigned long long>(after.Presents - before.Presents));
}

}  // namespace
}  // namespace ts::e2e
