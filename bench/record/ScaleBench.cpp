// A working day of recording: two synthetic 8-hour recordings, the simulator's
// A-scan and the worst case (every frame different), written by the recorder
// at the USB pace of one report a millisecond, then opened, sought and
// exported as the program does. Prints one table; all figures come from this
// run, on this machine.
//   scripts/wine-run build/<tree>/bench/record/record_scale_bench.exe [--hours=8]

#include <psapi.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/record/Synthetic.h"
#include "record/FrameStream.h"
#include "record/PictureExport.h"
#include "record/RecordUnit.h"
#include "record/Recorder.h"

namespace {

using namespace ts;
using Clock = std::chrono::steady_clock;
using bench::Generate;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double PrivateMB(bool peak) {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof counters);
  return double(peak ? counters.PeakPagefileUsage : counters.PrivateUsage) / (1 << 20);
}

// User and kernel time of every thread of this process: the recorder's writer too.
double CpuMillis() {
  FILETIME created, ended, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  auto ms = [](FILETIME t) { return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4; };
  return ms(kernel) + ms(user);
}

struct TRow {
  const char* kind;
  double cpuOff = 0, cpuOn = 0, bytesPerHour = 0, openMs = 0, seekP50 = 0, seekP99 = 0, gif10s = 0,
         gif10sPeak = 0, gif1h = 0, gif1hPeak = 0;
  size_t frames10s = 0, frames1h = 0;
};

// Exports a range as the program's export does; answers the frames written.
size_t ExportGif(const std::shared_ptr<TByteSource>& source, const TRecordingMap& map, int64_t from,
                 int64_t to, const std::wstring& name) {
  TGifWriter gif(name);
  TFrameStream frames(source, map, from, to);
  TFrameStream::TFrame f;
  size_t n = 0;
  Clock::duration decode{}, encode{};
  for (auto t = Clock::now();; ++n) {
    if (!frames.Next(f)) break;
    const auto decoded = Clock::now();
    gif.Add(*f.Pixels, kPictureWidth, kPictureHeight, f.Hundredths);
    decode += decoded - t;
    encode += (t = Clock::now()) - decoded;
  }
  const auto f0 = Clock::now();
  gif.Finish();
  std::fprintf(stderr, "  %zu frames: decoding %.0f ms, encoding %.0f ms, finishing %.0f ms\n", n,
               Millis(decode), Millis(encode), Millis(Clock::now() - f0));
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  // --long=0 leaves out the hour's export; --only=worst or --only=ascan one kind.
  int hours = 8;
  bool hourExport = true;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--hours=", 0) == 0) hours = std::max(1, std::atoi(a.c_str() + 8));
    if (a == "--long=0") hourExport = false;
    if (a.rfind("--only=", 0) == 0) only = a.substr(7);
  }
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const double idle = PrivateMB(false);
  std::vector<TRow> rows;
  std::vector<std::wstring> files;
  for (bool worst : {false, true}) {
    if (!only.empty() && only != (worst ? "worst" : "ascan")) continue;
    TRow row{worst ? "worst case" : "A-scan"};
    // Named for this run, so that runs side by side do not meet.
    const std::wstring run = std::to_wstring(GetCurrentProcessId());
    const std::wstring file =
        std::wstring(dir) + L"ts_scale_" + run + (worst ? L"_worst.tsrec" : L"_ascan.tsrec");
    // The same ten minutes of reports made alone and made and recorded, twice
    // over, interleaved.
    constexpr int64_t kCpuReports = 600'000;
    for (int round = 0; round < 2; ++round)
      for (bool on : {false, true}) {
        const std::wstring probe = on ? file : std::wstring();
        const double c0 = CpuMillis();
        Generate(probe, 0, worst, kCpuReports);
        (on ? row.cpuOn : row.cpuOff) += (CpuMillis() - c0) / (2 * kCpuReports / 1000);
      }
    const auto g0 = Clock::now();
    Generate(file, hours, worst);
    std::fprintf(stderr, "%s: %d h generated in %.0f s\n", row.kind, hours, Millis(Clock::now() - g0) / 1000);

    std::string error;
    const auto t0 = Clock::now();
    const auto source = OpenRecordingFile(file, error);
    if (!source) {
      std::fprintf(stderr, "cannot open: %s\n", error.c_str());
      return 1;
    }
    TPlayback playback(source);
    row.openMs = Millis(Clock::now() - t0);
    row.bytesPerHour = double(source->Size()) / hours;

    std::mt19937_64 random(3);
    std::vector<double> seeks;
    for (int i = 0; i < 200; ++i) {
      const int64_t at = int64_t(random() % uint64_t(playback.DurationMicros()));
      const auto s0 = Clock::now();
      playback.Seek(at);
      seeks.push_back(Millis(Clock::now() - s0));
    }
    std::sort(seeks.begin(), seeks.end());
    row.seekP50 = seeks[99];
    row.seekP99 = seeks[197];

    TRecordingReader reader(source);
    TRecordingMap map;
    MapRecording(reader, map);
    const std::wstring gif = std::wstring(dir) + L"ts_scale_" + run + L".gif";
    const int64_t middle = playback.DurationMicros() / 2;
    const auto e0 = Clock::now();
    row.frames10s = ExportGif(source, map, middle, middle + 10'000'000, gif);
    row.gif10s = Millis(Clock::now() - e0);
    row.gif10sPeak = PrivateMB(true) - idle;
    if (hourExport) {
      const auto e1 = Clock::now();
      row.frames1h = ExportGif(source, map, middle - 1'800'000'000, middle + 1'800'000'000, gif);
      row.gif1h = Millis(Clock::now() - e1);
      row.gif1hPeak = PrivateMB(true) - idle;
    }
    DeleteFileW(gif.c_str());
    files.push_back(file);  // removed once nothing reads it
    // Each row as it is measured: the worst case's hour of GIF takes long.
    std::fprintf(stderr, "%s: CPU per 1,000 reports: made %.2f ms, made and recorded %.2f ms\n", row.kind,
                 row.cpuOff, row.cpuOn);
    std::fprintf(stderr,
                 "%s: %.1f MB/h, open %.1f ms, seek p50 %.2f ms p99 %.2f ms, GIF 10 s %zu frames %.0f ms, 1 "
                 "h %zu frames %.1f s\n",
                 row.kind, row.bytesPerHour / 1e6, row.openMs, row.seekP50, row.seekP99, row.frames10s,
                 row.gif10s, row.frames1h, row.gif1h / 1000);
    rows.push_back(row);
  }
  for (const std::wstring& f : files) DeleteFileW(f.c_str());
  std::printf("%d-hour recordings, 1 report/ms; memory: peak private bytes of this process above its start\n",
              hours);
  std::printf(
      "| kind | MB per hour | open ms | seek p50 ms | seek p99 ms | GIF 10 s: frames, ms, peak MB | "
      "GIF 1 h: frames, s, peak MB | CPU per 1,000 reports: off, on ms (on / off) |\n"
      "|---|---|---|---|---|---|---|---|\n");
  for (const TRow& r : rows)
    std::printf(
        "| %s | %.1f | %.1f | %.2f | %.2f | %zu, %.0f, %.0f | %zu, %.1f, %.0f | %.2f, %.2f (%.2f) |\n",
        r.kind, r.bytesPerHour / 1e6, r.openMs, r.seekP50, r.seekP99, r.frames10s, r.gif10s, r.gif10sPeak,
        r.frames1h, r.gif1h / 1000, r.gif1hPeak, r.cpuOff, r.cpuOn, r.cpuOn / r.cpuOff);
  return 0;
}
