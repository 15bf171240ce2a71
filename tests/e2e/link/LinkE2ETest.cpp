// The link end to end: the real program against a scripted instrument on the
// virtual instrument's pipe or HID device (TS_E2E_TRANSPORT).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "sim/Screen.h"
#include "sim/Transport.h"
#include "tests/e2e/support/Driver.h"
#include "tests/e2e/support/Harness.h"
#include "tests/windows/link/TestPipeServer.h"

namespace ts::e2e {
namespace {

using namespace std::chrono_literals;
using sim::Report;
using sim::Transport;

// The memo's lines without their numbers ("001  "), in order.
std::vector<std::wstring> Texts(const Program& p) {
  std::vector<std::wstring> out;
  for (const auto& line : p.MemoLines())
    if (line.size() > 5 && line.compare(3, 2, L"  ") == 0) out.push_back(line.substr(5));
  return out;
}

// A picture with detail everywhere: diagonal stripes, a frame and a block, so a
// misplaced byte or half shows.
sim::Screen TestFrame(int seed) {
  sim::Screen s;
  for (int y = 0; y < sim::kScreenHeight; ++y)
    for (int x = 0; x < sim::kScreenWidth; ++x)
      if ((x + y + seed) % 7 == 0 || (x * 3 + y) % 23 == seed % 23) s.SetPixel(x, y);
  s.Frame(0, 0, 320, 240);
  s.Fill(150 + seed % 10, 100, 170 + seed % 10, 140, true);
  return s;
}

void SendFrame(Transport& server, const sim::Screen& frame) {
  for (int i = 0; i < sim::kReportsPerFrame; ++i) server.SendReport(sim::EncodeScreenReport(frame, i));
  // Group 0 once more presents the frame that is now complete.
  server.SendReport(sim::EncodeScreenReport(frame, 0));
}

// Screen pixel (sx, sy) sits at (sx + 3, sy + 3); the margins stay black.
int Mismatches(const Picture& picture, const sim::Screen& frame) {
  if (picture.Width != 326 || picture.Height != 246) return -1;
  int bad = 0;
  for (int y = 0; y < 246; ++y)
    for (int x = 0; x < 326; ++x) {
      bool inside = x >= 3 && x < 323 && y >= 3 && y < 243;
      uint32_t expected = inside && !frame.Pixel(x - 3, y - 3) ? 0xFFFFFF : 0x000000;
      bad += picture.At(x, y) != expected;
    }
  return bad;
}

TEST(Link, ConnectsMirrorsAndCountsTheStreamOfAPluggedInstrument) {
  sim::Transport::Options options = TransportUnderTest();
  options.pipe.clientQueueLimit = 100'000;  // the burst below is queued at once and must all arrive
  Transport server(options);
  server.Plug();
  Program program;
  EXPECT_EQ(program.StatusPanel(0), L"ТС4170 подключен !!!");
  // The first line is written while the event window is made; the next one would
  // be numbered 001 again.
  auto lines = program.MemoLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], L"");
  EXPECT_EQ(lines[1], L"001  DeviceChange ТС4170 подключен");

  sim::Screen frame = TestFrame(1);
  SendFrame(server, frame);
  EXPECT_TRUE(WaitFor([&] { return program.StatusPanel(2) == L" Пакет 64 байта"; }));
  int bad = -2;
  EXPECT_TRUE(WaitFor([&] { return (bad = Mismatches(program.CaptureDisplay(), frame)) == 0; }))
      << bad << " pixels differ";

  // The rate text holds the bytes of the last tick; a test polling from another
  // process may miss a tick, so the bytes the ticks showed are counted in the
  // program, and the text is read once the burst is over.
  Await([&] { return RateOf(program.StatusPanel(1)) == 0; }, "a tick without reports");
  constexpr long kBurst = 301;
  // The class driver's queue holds 256 reports; over HID the burst waits for the
  // program every 64 reports.
  const TPathCounts before = program.PathCounts();
  for (long k = 0; k < kBurst; ++k) {
    server.SendReport(sim::EncodeScreenReport(frame, k % sim::kReportsPerFrame));
    if (server.IsHid() && (k + 1) % 64 == 0)
      Await([&] { return program.PathCounts().HandOvers - before.HandOvers >= static_cast<uint64_t>(k + 1); },
            "the program to take the burst so far");
  }
  Await([&] { return program.PathCounts().RatedBytes - before.RatedBytes >= 64 * kBurst; },
        "the ticks that count the burst");
  Await([&] { return RateOf(program.StatusPanel(1)) == 0; }, "a tick after the burst");
  EXPECT_EQ(program.PathCounts().RatedBytes - before.RatedBytes, 64u * kBurst);
  EXPECT_TRUE(program.Close());
}

TEST(Link, UnplugAndReplugAreLoggedInOrderAndTheInstrumentIsSelectedAgain) {
  Transport server(TransportUnderTest());
  server.Plug();
  Program program;
  ASSERT_EQ(program.StatusPanel(0), L"ТС4170 подключен !!!");
  server.Unplug();
  // The panel may say so at the read error already; the log's state line ends it.
  ASSERT_TRUE(WaitFor([&] {
    const auto now = Texts(program);
    return program.StatusPanel(0) == L"Нет связи с прибором ???" && !now.empty() &&
           now.back() == L"DeviceChange Нет связи с прибором";
  }));
  auto texts = Texts(program);
  // After the start line: unplug, removal, then the state; the reader's one read
  // error may come anywhere before the last of the three.
  std::vector<std::wstring> events;
  int errors = 0;
  for (size_t k = 1; k < texts.size(); ++k) {
    if (texts[k].rfind(L"Ошибка: ", 0) == 0) {
      ++errors;
      EXPECT_NE(k, texts.size() - 1) << "a read error after the state line";
    } else {
      events.push_back(texts[k]);
    }
  }
  EXPECT_LE(errors, 1);
  std::vector<std::wstring> expected = {L"Unplug TS4170", L"Removal TS4170",
                                        L"DeviceChange Нет связи с прибором"};
  EXPECT_EQ(events, expected);

  server.Plug();
  ASSERT_TRUE(WaitFor([&] { return program.StatusPanel(0) == L"ТС4170 подключен !!!"; }));
  texts = Texts(program);
  EXPECT_EQ(texts[texts.size() - 2], L"Arrival TS4170");
  EXPECT_EQ(texts.back(), L"DeviceChange ТС4170 подключен");
  EXPECT_TRUE(program.Close());
}

// Closing the event window only hides it: the link goes on reading and sending,
// also across a replug, and the log is there when the window comes back.
TEST(Link, ClosingTheEventWindowKeepsTheLinkAndTheLog) {
  Transport server(TransportUnderTest());
  server.Plug();
  Program program;
  program.Click(program.Control(program.Main(), L"События USB"));
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(program.Link()) != 0; }));
  PostMessageW(program.Link(), WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(program.Link()) == 0; }));
  const auto log = program.MemoLines();
  HWND f1 = program.Control(program.Main(), L"F1");
  ASSERT_TRUE(f1);
  for (const bool replugged : {false, true}) {
    SCOPED_TRACE(replugged ? "after a replug" : "after the close");
    if (replugged) {
      server.Unplug();
      ASSERT_TRUE(WaitFor([&] { return program.StatusPanel(0) == L"Нет связи с прибором ???"; }));
      server.Plug();
    }
    ASSERT_TRUE(WaitFor([&] { return program.StatusPanel(0) == L"ТС4170 подключен !!!"; }));
    const uint64_t taken = program.PathCounts().HandOvers;
    EXPECT_TRUE(WaitFor([&] {
      server.SendReport(sim::EncodeScreenReport(TestFrame(2), 0));
      return program.PathCounts().HandOvers > taken;
    })) << "no report reached the mirror";
    program.Click(f1);
    EXPECT_TRUE(server.WaitForOutputReport(sim::Transport::Clock::now() + 10s)) << "the key reached nothing";
  }
  program.Click(program.Control(program.Main(), L"События USB"));
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(program.Link()) != 0; }));
  const auto reopened = program.MemoLines();
  ASSERT_GE(reopened.size(), log.size());
  EXPECT_TRUE(std::equal(log.begin(), log.end(), reopened.begin()));
  EXPECT_TRUE(program.Close());
}

TEST(Link, PropertiesAreListedWithAndWithoutAnInstrumentAndTheLogClearsPast1000) {
  {
    Program program;
    EXPECT_EQ(program.StatusPanel(0), L"Нет связи с прибором ???");
    HWND properties = program.Control(program.Link(), L"Свойства");
    ASSERT_TRUE(properties);
    program.Click(properties);
    ASSERT_TRUE(WaitFor([&] { return program.MemoLines().size() >= 5; }));
    auto lines = program.MemoLines();
    std::vector<std::wstring> expected = {L"", L"001  DeviceChange Нет связи с прибором", L"001   ",
                                          L"002  Прибор ТС4170 не подключен", L"003   "};
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(program.Close());
  }
  Transport server(TransportUnderTest());
  server.Plug();
  Program program;
  HWND properties = program.Control(program.Link(), L"Свойства");
  ASSERT_TRUE(properties);
  program.Click(properties);
  ASSERT_TRUE(WaitFor([&] { return program.MemoLines().size() >= 2 + 57; }));
  auto lines = program.MemoLines();
  EXPECT_EQ(lines[2], L"001   ");
  EXPECT_EQ(lines[3], L"002  ******** СВОЙСТВА USB УСТРОЙСТВА TS4170 *********** ");
  EXPECT_EQ(lines[5], L"004  Attributes.VendorID     = 05555h");
  EXPECT_EQ(lines[6], L"005  Attributes.ProductID    = 04170h");
  EXPECT_EQ(lines[9], L"008  DeviceStrings[0] = ");
  EXPECT_EQ(lines[11], L"010  HidFileHandle= 00000000FFFFFFFFh");
  EXPECT_EQ(lines[14], L"013  IsCheckedOut = Yes");
  EXPECT_EQ(lines[22], L"021  ThreadSleepTime = 10");
  EXPECT_EQ(lines[24], L"023  HIDCaps.InputReportByteLength  = 65");
  EXPECT_EQ(lines[25], L"024  HIDCaps.OutputReportByteLength = 65");
  EXPECT_EQ(lines[58], L"057   ");
  // 57 lines a listing: 17 listings hold 969 numbered lines (more text than an
  // edit takes by default), the 18th passes line 1001 and clears the log.
  for (int k = 1; k < 17; ++k) program.Click(properties);
  ASSERT_TRUE(WaitFor([&] { return program.MemoLines().size() == 2 + 969; }, 60s))
      << program.MemoLines().size();
  EXPECT_EQ(program.MemoLines().back(), L"969   ");
  program.Click(properties);
  ASSERT_TRUE(WaitFor(
      [&] {
        auto now = program.MemoLines();
        return !now.empty() && now[0] == L" Очистка сообщений" && now.size() == 26;
      },
      60s))
      << program.MemoLines().size();
  lines = program.MemoLines();
  EXPECT_EQ(lines[1].substr(0, 5), L"001  ");
  EXPECT_EQ(lines[25], L"025   ");
  // "Очистить" keeps the numbering.
  program.Click(program.Control(program.Link(), L"Очистить"));
  ASSERT_TRUE(WaitFor([&] { return program.MemoLines().empty(); }));
  program.Click(properties);
  ASSERT_TRUE(WaitFor([&] { return program.MemoLines().size() == 57; }));
  EXPECT_EQ(program.MemoLines()[0], L"026   ");
  EXPECT_TRUE(program.Close());
}

}  // namespace
}  // namespace ts::e2e

namespace ts::e2e {
namespace {

// An instrument that takes no more reports: the write gives up, the operator is
// told, the button comes back, and the program keeps answering.
TEST(Link, AFailedWriteShowsThePlainBoxWhileTheButtonIsDisabled) {
  if (OverHid()) GTEST_SKIP() << "an instrument that stops taking reports is a pipe of the test's own";
  test::TestPipeServer jammed("\\\\.\\pipe\\TS4170", /*reads=*/false, /*inBufferSize=*/65);
  jammed.Plug();
  Program program;
  ASSERT_EQ(program.StatusPanel(0), L"ТС4170 подключен !!!");
  HWND f1 = program.Control(program.Main(), L"F1");
  ASSERT_TRUE(f1);
  Box box;
  // The pipe's buffer takes a report or two before writes stop going through.
  for (int click = 0; click < 8 && !box.Window; ++click) {
    program.Click(f1);
    if (WaitForBox(box, 6s)) break;
    box = {};
  }
  ASSERT_TRUE(box.Window) << "no message box after the instrument stopped taking reports";
  EXPECT_EQ(box.Text, L"Не прошла команда в прибор ТС4170.");
  EXPECT_FALSE(box.HasIcon);
  EXPECT_FALSE(IsWindowEnabled(f1));
  CloseBox(box);
  EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(f1) != 0; }));
  DWORD_PTR answer = 0;
  EXPECT_TRUE(SendMessageTimeoutW(program.Main(), WM_NULL, 0, 0, SMTO_NORMAL, 60000, &answer));
  EXPECT_EQ(program.StatusPanel(0), L"ТС4170 подключен !!!");
  jammed.Unplug();
  EXPECT_TRUE(program.Close());
}

}  // namespace
}  // namespace ts::e2e
