// Recording end to end: the real program records what a scripted instrument
// sends, and the simulator serves a recording back as the instrument. The
// helpers that work the menu and the file dialog live here.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "protocol/Ts4170Protocol.h"
#include "record/FrameStream.h"
#include "record/PictureExport.h"
#include "record/RangeDialog.h"
#include "record/RecordUnit.h"
#include "sim/Screen.h"
#include "sim/Transport.h"
#include "tests/e2e/record/RecordDriver.h"
#include "tests/e2e/support/Driver.h"
#include "tests/e2e/support/Harness.h"
#include "tests/e2e/support/Steps.h"
#include "tests/windows/record/PictureDecode.h"
#include "ui/Application.h"
#include "ui/File.h"

namespace ts::e2e {
namespace {

using namespace std::chrono_literals;
using sim::Transport;

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

// A Unix path as Wine's drive Z: sees it.
std::wstring FromUnix(const char* path) {
  std::wstring out = L"Z:";
  for (const char* p = path; *p; ++p) out += *p == '/' ? L'\\' : wchar_t(*p);
  return out;
}

sim::Screen TestFrame(int seed) {
  sim::Screen s;
  for (int y = 0; y < sim::kScreenHeight; ++y)
    for (int x = 0; x < sim::kScreenWidth; ++x)
      if ((x + 2 * y + seed) % 9 == 0) s.SetPixel(x, y);
  s.Frame(0, 0, 320, 240);
  s.Fill(40 + 20 * seed, 100, 80 + 20 * seed, 140, true);
  return s;
}

int Mismatches(const Picture& picture, const sim::Screen& frame) {
  if (picture.Width != 326 || picture.Height != 246) return -1;
  int bad = 0;
  for (int y = 3; y < 243; ++y)
    for (int x = 3; x < 323; ++x) bad += picture.At(x, y) != (frame.Pixel(x - 3, y - 3) ? 0u : 0xFFFFFFu);
  return bad;
}

// Writes a recording of the frames, each held for `hold` reports.
void WriteRecording(const std::wstring& file, std::initializer_list<int> frames, int hold) {
  TRecorder recorder;
  ASSERT_TRUE(recorder.Start(std::make_unique<TWin32FileSink>(file),
                             TRecordingHeader{.VendorID = 0x5555, .ProductID = 0x4170, .Product = "ТС4170"},
                             0));
  int64_t t = 0;
  for (int f : frames)
    for (int i = 0; i < hold; ++i, t += 1000) {
      const sim::Report r = sim::EncodeScreenReport(TestFrame(f), i % sim::kReportsPerFrame);
      while (recorder.Written() + 3000 < uint64_t(t / 1000)) std::this_thread::yield();
      recorder.Push(t, r[0], r.data() + 1, 64);
    }
  recorder.Stop(TRecordingEnd::Stopped);
}

// A frame as the export's picture of it.
std::vector<uint32_t> FramePicture(int seed) {
  TScreenImage image;
  for (int i = 0; i < sim::kReportsPerFrame; ++i)
    image.Apply(sim::EncodeScreenReport(TestFrame(seed), i).data() + 1, 64);
  return image.Pixels();
}

// The frames of a part of a recording, as its export takes them: a GIF merges
// frames too short to show, numbered frames (`shortest` 0) keep every one.
void ExportedFrames(const std::wstring& file, std::vector<TPixels>& frames, std::vector<int>& delays,
                    int64_t from = 0, int64_t to = INT64_MAX, int64_t shortest = kShortestGifHundredths) {
  frames.clear();
  delays.clear();
  std::string error;
  const auto source = OpenRecordingFile(file, error);
  ASSERT_TRUE(source) << error;
  TRecordingReader reader(source);
  TRecordingMap map;
  ASSERT_TRUE(MapRecording(reader, map));
  TFrameStream stream(source, map, from, to, shortest);
  TFrameStream::TFrame f;
  while (stream.Next(f)) {
    frames.push_back({kPictureWidth, kPictureHeight, *f.Pixels});
    delays.push_back(int(f.Hundredths));
  }
}

struct TPlayed {
  std::vector<std::vector<uint8_t>> reports;
  std::vector<uint8_t> ids;
  TRecordingReader::TStatus status;
  TRecordingEnd end;
  TRecordingHeader header;
};

// Waits until the file is whole (its end record written), then reads it.
TPlayed WaitForWholeRecording(const std::wstring& file) {
  TPlayed out{};
  WaitFor([&] {
    std::vector<uint8_t> bytes;
    TFile in;
    if (!in.Open(file, TFileMode::Read) || !in.ReadAll(bytes)) return false;
    TRecordingReader reader(std::move(bytes));
    TRecordedReport r;
    out.reports.clear();
    out.ids.clear();
    while (reader.Next(r)) {
      out.reports.emplace_back(r.Data.begin(), r.Data.begin() + r.Size);
      out.ids.push_back(r.ReportID);
    }
    out.status = reader.Status();
    out.end = reader.EndReason();
    out.header = reader.Header();
    return out.status == TRecordingReader::TStatus::Ended;
  });
  return out;
}

// Sends the frames, each until the display shows it, and returns what was sent.
std::vector<std::vector<uint8_t>> SendFrames(Transport& server, const Program& program, int first,
                                             int count) {
  std::vector<std::vector<uint8_t>> sent;
  for (int f = first; f < first + count; ++f) {
    const sim::Screen frame = TestFrame(f);
    for (int i = 0; i <= sim::kReportsPerFrame; ++i) {
      const sim::Report r = sim::EncodeScreenReport(frame, i % sim::kReportsPerFrame);
      server.SendReport(r);
      sent.emplace_back(r.begin() + 1, r.end());
    }
    EXPECT_TRUE(WaitFor([&] { return Mismatches(program.CaptureDisplay(), frame) == 0; })) << "frame " << f;
  }
  return sent;
}

TEST(Record, RecordsEveryReportAndEndsTheFileOnUnplugAndOnClose) {
  const std::wstring unplugged = TempPath(L"ts_record_unplug.tsrec"),
                     closed = TempPath(L"ts_record_close.tsrec");
  // No overwrite question from the dialog.
  DeleteFileW(unplugged.c_str());
  DeleteFileW(closed.c_str());
  Transport server(TransportUnderTest());
  server.Plug();
  {
    Program program;
    ASSERT_TRUE(WaitFor([&] { return program.StatusPanel(0) == kConnected; }));
    ASSERT_TRUE(ToggleRecording(program, unplugged));
    const auto sent = SendFrames(server, program, 0, 3);
    server.Unplug();
    const TPlayed played = WaitForWholeRecording(unplugged);
    // Whatever ID the transport gives the reports, they are kept as compactly
    // as the pipe's, with their ID, and every frame exports, however briefly
    // the instrument showed it.
    const uint8_t id = server.IsHid() ? 0x01 : 0x00;
    EXPECT_EQ(std::count(played.ids.begin(), played.ids.end(), id), ptrdiff_t(played.ids.size()));
    std::vector<TPixels> frames;
    std::vector<int> delays;
    ExportedFrames(unplugged, frames, delays, 0, INT64_MAX, 0);
    for (int f = 0; f < 3; ++f) {
      const std::vector<uint32_t> sentPicture = FramePicture(f);
      EXPECT_TRUE(
          std::any_of(frames.begin(), frames.end(), [&](const TPixels& p) { return p.Data == sentPicture; }))
          << "frame " << f;
    }
    std::printf("recording of 3 frames over the %s: %zu reports, %llu bytes, %zu frames exported\n",
                server.IsHid() ? "HID device" : "pipe", played.reports.size(),
                static_cast<unsigned long long>(std::filesystem::file_size(unplugged)), frames.size());
    EXPECT_EQ(played.end, TRecordingEnd::Unplugged);
    EXPECT_EQ(played.header.VendorID, 0x5555);
    EXPECT_EQ(played.header.ProductID, 0x4170);
    EXPECT_EQ(played.header.ProgramVersion, "Virtual_TS4170 V18.09");
    EXPECT_TRUE(played.reports == sent) << played.reports.size() << " of " << sent.size();

    server.Plug();
    ASSERT_TRUE(WaitFor([&] { return program.StatusPanel(0) == L"ТС4170 подключен !!!"; }));
    ASSERT_TRUE(ToggleRecording(program, closed));
    SendFrames(server, program, 3, 1);
    EXPECT_TRUE(program.Close());
  }
  const TPlayed played = WaitForWholeRecording(closed);
  EXPECT_EQ(played.end, TRecordingEnd::ProgramClosed);
  EXPECT_EQ(played.reports.size(), size_t(sim::kReportsPerFrame + 1));
  server.Unplug();
}

TEST(Record, TheSimulatorServesARecordingAsTheInstrument) {
  if (OverHid())
    GTEST_SKIP() << "the simulator serves its own pipe here; over HID it installs a driver of its own";
  // Frame 1 briefly, then frame 2 for long: whatever the round, frame 2 shows.
  // A report every 10 ms: a program that a busy machine slows below the USB pace
  // would lose reports to the pipe, and a slot of frame 1 could outlast a round.
  const std::wstring file = TempPath(L"ts_record_play.tsrec");
  {
    TRecorder recorder;
    ASSERT_TRUE(
        recorder.Start(std::make_unique<TWin32FileSink>(file), TRecordingHeader{.VendorID = 0x5555}, 0));
    uint64_t pushed = 0;
    for (int f : {1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2})
      for (int i = 0; i < sim::kReportsPerFrame; ++i, ++pushed) {
        const sim::Report r = sim::EncodeScreenReport(TestFrame(f), i);
        recorder.Push(int64_t(pushed) * 10'000, r[0], r.data() + 1, 64);
        while (recorder.Written() + 1000 < pushed) std::this_thread::yield();
      }
    recorder.Stop(TRecordingEnd::Stopped);
  }
  const std::wstring exe = FromUnix(TS_SIMULATOR_PATH);
  std::wstring command = L"\"" + exe + L"\" --play \"" + file + L"\"";
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(
      CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  // The instrument is plugged in before the program starts, as an operator has it;
  // the simulator's own window, which may show late, must not cover the picture.
  Await([] { return WaitNamedPipeA(TS4170_PIPE_NAME, 100) != FALSE; }, "the simulator's pipe", 30s);
  {
    Program program;
    EXPECT_TRUE(WaitFor([&] { return program.StatusPanel(0) == kConnected; }))
        << Narrow(program.StatusPanel(0));
    EXPECT_TRUE(WaitFor([&] {
      UncoverDisplay(program);
      return Mismatches(program.CaptureDisplay(), TestFrame(2)) == 0;
    })) << Mismatches(program.CaptureDisplay(), TestFrame(2))
        << " " << Mismatches(program.CaptureDisplay(), TestFrame(1)) << " " << Narrow(program.StatusPanel(1))
        << " " << Narrow(program.StatusPanel(2));
  }
  std::wstring quit = L"\"" + exe + L"\" --quit";
  PROCESS_INFORMATION q{};
  if (CreateProcessW(exe.c_str(), quit.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &q)) {
    WaitForSingleObject(q.hProcess, 10000);
    CloseHandle(q.hProcess);
    CloseHandle(q.hThread);
  }
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

// A part of a recording for export: the frames on screen in it, the one shown at
// its start first, each cut to it.
TEST(Record, ExportsThePartOfARecordingAskedFor) {
  const int hold = 3 * sim::kReportsPerFrame;  // reports, a millisecond apart
  const std::wstring file = TempPath(L"ts_record_range.tsrec");
  WriteRecording(file, {4, 5, 6}, hold);
  std::vector<TPixels> whole, frames;
  std::vector<int> wholeDelays, delays;
  ExportedFrames(file, whole, wholeDelays);
  const auto picture = FramePicture;
  auto indexOf = [&](const std::vector<uint32_t>& pixels) {
    return std::find_if(whole.begin(), whole.end(), [&](const TPixels& p) { return p.Data == pixels; }) -
           whole.begin();
  };
  // The middle of the time frame k is on screen alone, in microseconds.
  auto middle = [&](int k) { return int64_t(k * hold + hold / 2) * 1000; };
  const struct {
    int64_t from, to;
    ptrdiff_t first, last;  // indices into the whole recording's frames
  } cases[] = {
      {0, INT64_MAX, 0, ptrdiff_t(whole.size()) - 1},
      {middle(0), middle(0) + 100'000, indexOf(picture(4)), indexOf(picture(4))},
      {middle(0), middle(2), indexOf(picture(4)), indexOf(picture(6))},
      {middle(1), INT64_MAX, indexOf(picture(5)), ptrdiff_t(whole.size()) - 1},
  };
  for (const auto& c : cases) {
    ASSERT_LT(c.last, ptrdiff_t(whole.size()));
    ExportedFrames(file, frames, delays, c.from, c.to);
    ASSERT_EQ(ptrdiff_t(frames.size()), c.last - c.first + 1) << c.from << " to " << c.to;
    int total = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_TRUE(frames[i].Data == whole[size_t(c.first) + i].Data) << c.from << " to " << c.to << ", " << i;
      total += delays[i];
    }
    if (c.from == 0 && c.to == INT64_MAX) {
      EXPECT_EQ(delays, wholeDelays);
    }
    if (c.to != INT64_MAX) {
      EXPECT_NEAR(total, (c.to - c.from) / 10'000, frames.size()) << c.from << " to " << c.to;
    }
  }
  // The range as typed into the dialog.
  const struct {
    const wchar_t* text;
    std::optional<int64_t> micros;
  } typed[] = {{L"12.5", 12'500'000}, {L" 0,25 ", 250'000},  {L"3", 3'000'000},
               {L"-1", std::nullopt}, {L"1x", std::nullopt}, {L"", std::nullopt}};
  for (const auto& t : typed)
    EXPECT_EQ(ParseSeconds(t.text), t.micros) << std::string(t.text, t.text + wcslen(t.text));
}

TEST(Record, PlaysARecordingInItsOwnWindowAndGivesTheScreenBack) {
  const std::wstring file = TempPath(L"ts_record_window.tsrec"), foreign = TempPath(L"ts_record_foreign.bmp");
  WriteRecording(file, {4, 5, 6}, 3 * sim::kReportsPerFrame + 1);
  {
    HANDLE f = CreateFileW(foreign.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n;
    WriteFile(f, "BM6\x0c\x03\0\0\0\0\0\x36\0\0\0(", 16, &n, nullptr);
    CloseHandle(f);
  }
  Transport server(TransportUnderTest());
  server.Plug();
  Program program;
  const DWORD pid = GetProcessId(program.Process());
  ASSERT_TRUE(WaitFor([&] { return program.StatusPanel(0) == kConnected; }));

  // A file that is not a recording is refused.
  ASSERT_TRUE(ChooseFile(program, kPlayItem, L"Воспроизвести запись", foreign));
  Box box;
  ASSERT_TRUE(WaitForBox(box));
  EXPECT_EQ(box.Text, L"Файл не является записью ТС4170");
  CloseBox(box);

  ASSERT_TRUE(ChooseFile(program, kPlayItem, L"Воспроизвести запись", file));
  HWND window = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (window = FindOwnWindow(pid, L"Воспроизведение записи")) != nullptr; }));
  // The instrument is let go: nothing reads it while the recording is shown.
  if (!server.IsHid()) {
    EXPECT_TRUE(server.WaitForClientCount(0, Transport::Clock::now() + 15s)) << server.ClientCount();
  }
  // The recording plays to its last frame; the instrument's keypad is silent.
  EXPECT_TRUE(WaitFor([&] { return Mismatches(program.CaptureDisplay(), TestFrame(6)) == 0; }));
  program.Click(program.Control(program.Main(), L"F1"));
  // The picture as evidence: the PNG decodes back to the frame shown, and its
  // fields say what it shows.
  const std::wstring png = TempPath(L"ts_record_evidence.png");
  DeleteFileW(png.c_str());
  ASSERT_TRUE(ChooseFile(program, kPngItem, L"Сохранить картинку в PNG", png));
  ASSERT_TRUE(WaitFor([&] { return GetFileAttributesW(png.c_str()) != INVALID_FILE_ATTRIBUTES; }));
  std::vector<TPngText> texts = {{"Source", ""}, {"Frame", ""}, {"Device", ""}, {"Creation Time", ""}};
  TPixels picture;
  ASSERT_TRUE(WaitFor([&] {
    try {
      picture = LoadPng(png, &texts);
      return true;
    } catch (const std::exception&) {
      return false;  // still being written
    }
  }));
  EXPECT_EQ(Mismatches(Picture{picture.Width, picture.Height, picture.Data}, TestFrame(6)), 0);
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0].Value, "recording");
  EXPECT_EQ(texts[1].Value, "complete");
  EXPECT_EQ(texts[2].Value.rfind("VendorID 5555h ProductID 4170h", 0), 0u) << texts[2].Value;
  EXPECT_EQ(texts[3].Value.size(), 24u);
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(window); }));
  // The instrument has the screen and the keypad again.
  program.Click(program.Control(program.Main(), L"F1"));
  const auto command = server.WaitForOutputReport(Transport::Clock::now() + 15s);
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ((*command)[0], 0x0F);
  EXPECT_FALSE(server.WaitForOutputReport(Transport::Clock::now() + 1s).has_value());
  SendFrames(server, program, 7, 1);
}

// As Explorer opens a recording: its name is the program's one argument.
TEST(Record, PlaysARecordingGivenOnTheCommandLine) {
  const std::wstring file = TempPath(L"ts_record_argument.tsrec");
  WriteRecording(file, {4, 5, 6}, 3 * sim::kReportsPerFrame + 1);
  Transport server(TransportUnderTest());
  server.Plug();
  Program program({}, L"\"" + file + L"\"");
  const DWORD pid = GetProcessId(program.Process());
  EXPECT_TRUE(WaitFor([&] { return FindOwnWindow(pid, L"Воспроизведение записи") != nullptr; }));
  EXPECT_TRUE(WaitFor([&] { return Mismatches(program.CaptureDisplay(), TestFrame(6)) == 0; }));
}

}  // namespace
}  // namespace ts::e2e
