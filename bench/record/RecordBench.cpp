// Records the simulator through the real program and reads the file back.
// Phases of equal length, in one run: recording off, recording on; the
// program's CPU (user + system of its Wine process) per 1,000 reports in each,
// the file's bytes scaled to an hour, and the playback of that file in the
// playback window, left open for --hold seconds for a screenshot.
// With --shots it shows instead what is there to look at: playback of a
// recording with a gap, then the progress of an hour's export to GIF.
// With --seeks=N it measures instead N seeks on screen in a paused playback of
// recordings of 1, 2, 4 and 8 hours (or of --hours=H alone): from the end of a
// drag of the slider to the display showing the picture of that moment.

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "bench/record/Synthetic.h"
#include "record/RecordFormat.h"
#include "record/RecordUnit.h"
#include "record/RecordingBinding.h"
#include "screen/ScreenImage.h"
#include "tests/e2e/record/RecordDriver.h"
#include "tests/e2e/support/Driver.h"
#include "tests/e2e/support/Steps.h"
#include "ui/File.h"
#include "ui/WinHandle.h"

namespace {

using namespace std::chrono_literals;
using namespace ts;
using namespace ts::e2e;

// User plus system seconds of a Unix process, from /proc/<pid>/stat.
double CpuSeconds(int pid) {
  const std::string stat = ReadProc(pid, "stat");
  const size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return 0;
  std::istringstream in(stat.substr(paren + 2));
  std::string field;
  double utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stod(field);
    if (i == 15) stime = std::stod(field);
  }
  return (utime + stime) / 100.0;
}

std::wstring FromUnix(const char* path) {
  std::wstring out = L"Z:";
  for (const char* p = path; *p; ++p) out += *p == '/' ? L'\\' : wchar_t(*p);
  return out;
}

int Arg(int argc, char** argv, const char* name, int fallback) {
  const std::string prefix = std::string("--") + name + "=";
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).rfind(prefix, 0) == 0) return std::atoi(argv[i] + prefix.size());
  return fallback;
}

}  // namespace

// Prints a line a screenshot waits for, then holds the screen still.
void Shot(const char* what, int seconds) {
  std::printf("SHOT %s\n", what);
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

int Shots(const std::wstring& gapped, const std::wstring& hour, const std::wstring& gif) {
  DeleteFileW(gif.c_str());
  std::printf("reports lost in the gapped recording: %llu\n",
              static_cast<unsigned long long>(bench::GenerateWithGap(gapped, 120)));
  bench::Generate(hour, 1, true);  // every frame new: the export lasts long enough to see
  Program program;
  if (!ChooseFile(program, kPlayItem, L"Воспроизвести запись", gapped)) return 1;
  HWND window = nullptr;
  if (!WaitFor([&] { return (window = OwnWindow(program, L"Воспроизведение записи")) != nullptr; })) return 1;
  Shot("playback", 15);
  PostMessageW(window, WM_CLOSE, 0, 0);
  HWND range = nullptr;
  if (!ChooseFile(program, kGifItem, L"Воспроизвести запись", hour) ||
      !WaitFor([&] { return (range = OwnWindow(program, L"Часть записи")) != nullptr; }) ||
      !PostMessageW(range, WM_COMMAND, IDOK, 0) || !FillDialog(program, L"Экспорт записи в GIF", gif))
    return 1;
  Shot("export", 20);
  const bool written = WaitFor([&] { return GetFileAttributesW(gif.c_str()) != INVALID_FILE_ATTRIBUTES; },
                               std::chrono::minutes(10));
  std::printf("GIF of an hour written: %s\n", written ? "yes" : "no");
  return written ? 0 : 1;
}

// The picture a paused playback shows after a seek: the last one the seek's
// reports present. Empty when they present none.
std::vector<uint32_t> PictureAfterSeek(TPlayback& playback, int64_t micros) {
  playback.Seek(micros);
  TScreenImage image;
  std::vector<uint32_t> shown;
  uint8_t report[65];
  while (const uint32_t n = playback.Next(report, sizeof report, std::chrono::milliseconds(0)))
    if (image.Apply(report + 1, n - 1).Presented) shown = image.Pixels();
  return shown;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, size_t(p / 100 * double(values.size())))];
}

// Seeks in the program's playback window as a user's drags end, each to a
// moment whose picture differs from the one shown; answers the milliseconds
// from each to the display's showing that moment's picture, read off the screen.
std::vector<double> SeeksOnScreen(const std::wstring& file, int seeks, int& lost) {
  std::string error;
  const auto source = OpenRecordingFile(file, error);
  if (!source) {
    std::fprintf(stderr, "cannot open: %s\n", error.c_str());
    return {};
  }
  TPlayback own(source);
  own.Pause();
  Program program({}, L"\"" + file + L"\"");
  HWND window = nullptr;
  if (!WaitFor([&] { return (window = OwnWindow(program, L"Воспроизведение записи")) != nullptr; }))
    return {};
  UncoverDisplay(program);
  program.Click(program.Control(window, L"Пауза"));
  if (!WaitFor([&] { return program.Control(window, L"Пуск") != nullptr; })) return {};
  const HWND slider = FindWindowExW(window, nullptr, TRACKBAR_CLASSW, nullptr);
  const int64_t steps = SendMessageW(slider, TBM_GETRANGEMAX, 0, 0);
  // The slider's unit as the playback window takes it, for about 10,000 steps.
  const int64_t unit = std::max<int64_t>(1000, (own.DurationMicros() + 9999) / 10000);
  std::mt19937_64 random(7);
  std::vector<double> ms;
  lost = 0;
  // A recording whose pictures hardly change gives up rather than look for ever.
  for (int tries = 0; int(ms.size()) + lost < seeks && tries < 20 * seeks; ++tries) {
    const int64_t step = int64_t(random() % uint64_t(steps + 1));
    const std::vector<uint32_t> expected = PictureAfterSeek(own, step * unit);
    if (expected.empty() || expected == program.CaptureDisplay().Pixels) continue;
    SendMessageW(slider, TBM_SETPOS, TRUE, LPARAM(step));
    const auto start = std::chrono::steady_clock::now();
    PostMessageW(window, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), LPARAM(slider));
    if (WaitFor([&] { return program.CaptureDisplay().Pixels == expected; }, std::chrono::seconds(30)))
      ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    else
      ++lost;
  }
  return ms;
}

int Seeks(const std::wstring& dir, int seeks, int onlyHours) {
  std::printf(
      "| recording | seeks | to the picture on screen: p50 ms | p99 ms | max ms | never shown |\n"
      "|---|---|---|---|---|---|\n");
  for (int hours : {1, 2, 4, 8}) {
    if (onlyHours && hours != onlyHours) continue;
    const std::wstring file = dir + L"ts_seek_bench_" + std::to_wstring(hours) + L"h.tsrec";
    bench::Generate(file, hours, false);
    int lost = 0;
    const std::vector<double> ms = SeeksOnScreen(file, seeks, lost);
    DeleteFileW(file.c_str());
    if (ms.empty()) return 1;
    std::printf("| %d h A-scan | %zu | %.1f | %.1f | %.1f | %d |\n", hours, ms.size(), Percentile(ms, 50),
                Percentile(ms, 99), *std::max_element(ms.begin(), ms.end()), lost);
    std::fflush(stdout);
  }
  return 0;
}

int main(int argc, char** argv) {
  const int seconds = Arg(argc, argv, "seconds", 20);
  const int hold = Arg(argc, argv, "hold", 0);
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  if (const int seeks = Arg(argc, argv, "seeks", 0)) return Seeks(dir, seeks, Arg(argc, argv, "hours", 0));
  if (Arg(argc, argv, "shots", 0)) {
    const std::wstring files[] = {std::wstring(dir) + L"ts_shot_gap.tsrec",
                                  std::wstring(dir) + L"ts_shot_hour.tsrec",
                                  std::wstring(dir) + L"ts_shot_hour.gif"};
    const int status = Shots(files[0], files[1], files[2]);
    for (const std::wstring& f : files) DeleteFileW(f.c_str());
    return status;
  }
  const std::wstring file = std::wstring(dir) + L"ts_record_bench.tsrec";
  DeleteFileW(file.c_str());

  const std::wstring exe = FromUnix(TS_SIMULATOR_PATH);
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION sim{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &sim)) {
    std::fprintf(stderr, "cannot start the simulator\n");
    return 1;
  }
  const ts::TWinHandle simProcess(sim.hProcess), simThread(sim.hThread);
  int status = 0;
  {
    Program program;
    std::this_thread::sleep_for(3s);  // past the instrument's boot screen
    const int pid = program.UnixPid();

    const double off0 = CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double off = CpuSeconds(pid) - off0;

    if (!ToggleRecording(program, file)) {
      std::fprintf(stderr, "recording did not start\n");
      return 1;
    }
    const double on0 = CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double on = CpuSeconds(pid) - on0;
    ToggleRecording(program, L"");

    std::vector<uint8_t> bytes;
    WaitFor([&] {
      TFile in;
      if (!in.Open(file, TFileMode::Read) || !in.ReadAll(bytes)) return false;
      TRecordingReader probe(bytes);
      TRecordedReport r;
      while (probe.Next(r)) {
      }
      return probe.Status() == TRecordingReader::TStatus::Ended;
    });
    TRecordingReader reader(bytes);
    TRecordedReport r;
    while (reader.Next(r)) {
    }
    const double duration = reader.LastTimeMicros() / 1e6;
    const double reports = double(reader.ReportsRead());
    const double rate = duration > 0 ? reports / duration : 0;
    std::printf("recorded %.0f reports in %.2f s (%.0f a second), %zu bytes, ended whole: %s\n", reports,
                duration, rate, bytes.size(),
                reader.Status() == TRecordingReader::TStatus::Ended ? "yes" : "no");
    std::printf("bytes per hour (file size / recorded time x 3600): %.0f\n",
                duration > 0 ? double(bytes.size()) / duration * 3600 : 0);
    // Both phases last the same time at the same pace; the off phase's report
    // count is taken from the on phase's rate.
    const double per1000 = rate * seconds / 1000;
    std::printf("program CPU per 1,000 reports: recording off %.1f ms, on %.1f ms; on / off %.2f\n",
                off / per1000 * 1000, on / per1000 * 1000, off > 0 ? on / off : 0.0);

    // The recording as an animated GIF, through the program's export.
    const std::wstring gif = std::wstring(dir) + L"ts_record_bench.gif";
    DeleteFileW(gif.c_str());
    // The part to export: the whole recording, as the range dialog offers it.
    HWND range = nullptr;
    if (ChooseFile(program, kGifItem, L"Воспроизвести запись", file) &&
        WaitFor([&] { return (range = OwnWindow(program, L"Часть записи")) != nullptr; }) &&
        PostMessageW(range, WM_COMMAND, IDOK, 0) && FillDialog(program, L"Экспорт записи в GIF", gif) &&
        WaitFor([&] { return GetFileAttributesW(gif.c_str()) != INVALID_FILE_ATTRIBUTES; }))
      std::printf("GIF written: %ls\n", gif.c_str());

    if (hold > 0) {
      if (!ChooseFile(program, kPlayItem, L"Воспроизвести запись", file)) {
        std::fprintf(stderr, "playback did not open\n");
        status = 1;
      }
      std::printf("playback open for %d s\n", hold);
      std::fflush(stdout);
      std::this_thread::sleep_for(std::chrono::seconds(hold));
    }
  }
  std::wstring quit = L"\"" + exe + L"\" --quit";
  PROCESS_INFORMATION q{};
  if (CreateProcessW(exe.c_str(), quit.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &q)) {
    const ts::TWinHandle process(q.hProcess), thread(q.hThread);
    WaitForSingleObject(q.hProcess, 10000);
  }
  WaitForSingleObject(sim.hProcess, 20000);
  return status;
}
