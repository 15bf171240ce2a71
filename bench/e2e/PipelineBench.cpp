// Reports per second the real program takes, draws and presents with none lost,
// and what each report costs in CPU at the USB pace: the program's own time plus
// Wine's server, which every cross-thread wake-up passes through. The floor is
// measured in the same run: one overlapped pipe read, one SendMessage to a UI
// thread and 60 BltFast per report, nothing else.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/MiniBench.h"
#include "screen/ScreenLayout.h"
#include "screen/ScreenMirror.h"
#include "tests/e2e/support/Harness.h"
#include "tests/e2e/support/Steps.h"
#include "ui/WinHandle.h"
#include "ui/WindowObject.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ts::e2e::Program;
using ts::e2e::VirtualInstrument;

constexpr UINT kDrawReport = WM_APP + 1;
constexpr wchar_t kBarePipe[] = L"\\\\.\\pipe\\TS4170-bench-floor";
double FileTimeSeconds(FILETIME t) {
  return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
}

double ThreadSeconds(HANDLE thread) {
  FILETIME creation, exit, kernel, user;
  if (!GetThreadTimes(thread, &creation, &exit, &kernel, &user)) return 0;
  return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Under Wine the Unix process's own count is the one to trust; elsewhere there
// is none and the system's count is used.
double ProgramSeconds(const Program& program) {
  if (program.UnixPid()) return ts::e2e::UnixProcessSeconds(program.UnixPid());
  FILETIME creation, exit, kernel, user;
  if (!GetProcessTimes(program.Process(), &creation, &exit, &kernel, &user)) return 0;
  return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

void PrintLine(const char* name, double seconds, uint64_t reports, const std::string& counters) {
  const double per = seconds / double(reports);
  std::printf("%-40s %14s %14s %12llu %s\n", name, minibench::FormatTime(per).c_str(), "-",
              static_cast<unsigned long long>(reports), counters.c_str());
  std::fflush(stdout);
}

// The floor's UI thread: one window with a display control and its tiles.
struct TFloor {
  TFloor() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PipelineBenchFloor";
    RegisterClassW(&wc);
    // Far from the program's window, so its picture stays uncovered.
    form = CreateWindowExW(WS_EX_NOACTIVATE, wc.lpszClassName, L"Pipeline floor", WS_OVERLAPPEDWINDOW, 760,
                           560, 540, 380, nullptr, nullptr, wc.hInstance, this);
    view.SetOptions(ts::kMainWindowDisplayOptions);
    view.OnInitialize = ts::Bind(&mirror, &ts::TScreenMirror::DisplayViewInitialize);
    view.OnFinalize = ts::Bind(&mirror, &ts::TScreenMirror::DisplayViewFinalize);
    view.CreateWnd(form, 96, 0, 326, 246);
    ShowWindow(form, SW_SHOWNOACTIVATE);
  }
  ~TFloor() { DestroyWindow(form); }

  // The 60 copies of a report, straight to DirectDraw.
  void Draw(const uint8_t* data) {
    IDirectDrawSurface* back = view.BackSurface()->ISurface();
    RECT tile{0, 0, 8, 1};
    const auto& placement = ts::kPlacement[ts::HalfIndex(data[61])];
    const int top = ts::GroupTopRow(data[60]);
    for (int k = 0; k < 60; ++k)
      back->BltFast(static_cast<DWORD>(placement[k].x), static_cast<DWORD>(top + placement[k].row),
                    mirror.Tile(data[k])->ISurface(), &tile, 0);
  }

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = ts::WindowObject<TFloor>(window, message, lParam);
    if (message == kDrawReport) {
      if (self && self->view.CanDraw()) self->Draw(reinterpret_cast<const uint8_t*>(lParam) + 1);
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  HWND form;
  ts::TDisplayView view;
  ts::TScreenModel model;
  ts::TScreenMirror mirror{view, model};
};

struct TReader {
  HWND target;
  uint64_t reports;
  uint64_t taken = 0;
  double seconds = 0;  // the reader thread's CPU, taken by itself as it ends
};

// One overlapped read per report and one synchronous hand-over to the UI thread.
DWORD WINAPI ReadReports(void* parameter) {
  auto* reader = static_cast<TReader*>(parameter);
  ts::TWinHandle owned;
  for (int attempt = 0; attempt < 100 && !owned; ++attempt) {
    owned.Reset(CreateFileW(kBarePipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr));
    if (!owned) WaitNamedPipeW(kBarePipe, 100);
  }
  if (!owned) return 1;
  HANDLE pipe = owned.Get();
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  const ts::TWinHandle ownedEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE event = ownedEvent.Get();
  uint8_t buffer[ts::sim::kReportSize];
  while (reader->taken < reader->reports) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    DWORD read = 0;
    BOOL ok = ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped);
    if (!ok && GetLastError() != ERROR_IO_PENDING) break;
    if (!GetOverlappedResult(pipe, &overlapped, &read, TRUE)) break;
    if (read != sizeof buffer) continue;
    SendMessageW(reader->target, kDrawReport, 0, reinterpret_cast<LPARAM>(buffer));
    ++reader->taken;
  }
  return 0;
}

// Read from outside after the thread had ended, the reader's times came to
// almost nothing under Wine, and the floor showed its user-interface thread
// alone; so the reader takes its own, while it still runs.
DWORD WINAPI ReadAndTimeReports(void* parameter) {
  const DWORD result = ReadReports(parameter);
  static_cast<TReader*>(parameter)->seconds = ThreadSeconds(GetCurrentThread());
  return result;
}

struct TCost {
  double clientSeconds = 0, serverSeconds = 0, wallSeconds = 0;
  uint64_t reports = 0;
  double ClientPer1000() const { return clientSeconds * 1000 / double(reports); }
  double ServerPer1000() const { return serverSeconds * 1000 / double(reports); }
  double TotalPer1000() const { return ClientPer1000() + ServerPer1000(); }
};

struct TResults {
  double takenPerSecond = 0, shownRate = 0;
  bool fastPictureExact = false, pacedPictureExact = false;
  uint64_t dropped = 0;
  TCost pipeline, floor;
  std::vector<double> pipelineRounds, floorRounds;  // CPU per 1000 reports, one a paced round
  std::vector<double> latency, captureCost;         // seconds, one a frame or a capture
  std::vector<long long> privateGrowth;             // one a paced round
  ts::TPathCounts pathCounts;                       // the program's own, over all paced rounds
  uint64_t pathReports = 0;
  bool ok = false;
};

int wineServer = 0;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
double Least(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}
double Most(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// The floor at the same pace, with the same instrument sending.
void MeasureFloor(double seconds, HWND target, HANDLE uiThread, TResults& out) {
  VirtualInstrument instrument({false, {kBarePipe, 1'000'000, false}});
  instrument.Server().Plug();
  TReader reader{target, static_cast<uint64_t>(seconds * 1000)};
  instrument.StartStream(1ms);
  const double serverBefore = ts::e2e::UnixProcessSeconds(wineServer), uiBefore = ThreadSeconds(uiThread);
  const auto start = Clock::now();
  const ts::TWinHandle owned(CreateThread(nullptr, 0, ReadAndTimeReports, &reader, 0, nullptr));
  HANDLE thread = owned.Get();
  WaitForSingleObject(thread, INFINITE);
  TCost cost;
  cost.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  cost.clientSeconds = reader.seconds + ThreadSeconds(uiThread) - uiBefore;
  cost.serverSeconds = ts::e2e::UnixProcessSeconds(wineServer) - serverBefore;
  cost.reports = reader.taken;
  if (cost.reports > 0) out.floorRounds.push_back(cost.TotalPer1000());
  if (cost.reports > 0 && (out.floor.reports == 0 || cost.TotalPer1000() < out.floor.TotalPer1000()))
    out.floor = cost;
  instrument.StopStream();
}

// Report to pixels: a report of line group 0 turns the first 480 pixels of the
// picture black or white, and a capture of those two rows polls until it shows
// them; one report a millisecond between frames, so nothing queues. The
// figures include one capture; its own cost is measured apart.
void MeasureLatency(const Program& program, VirtualInstrument& instrument, int frames, TResults& out) {
  const RECT rows{96 + ts::e2e::kMargin, ts::e2e::kMargin, 96 + ts::e2e::kMargin + 320, ts::e2e::kMargin + 2};
  auto shows = [](const ts::e2e::Picture& picture, uint32_t color) {
    if (picture.Width != 320 || picture.Height != 2) return false;
    for (int x = 0; x < 320; ++x)
      if (picture.At(x, 0) != color || (x < 160 && picture.At(x, 1) != color)) return false;
    return true;
  };
  for (int i = 0; i < 20; ++i) {
    const auto start = Clock::now();
    program.CaptureClient(rows);
    out.captureCost.push_back(SecondsSince(start));
  }
  for (int frame = 0; frame < frames; ++frame) {
    const bool black = frame % 2 == 0;
    ts::sim::Report report{};
    std::fill(report.begin() + 1, report.begin() + 61, uint8_t(black ? 0xFF : 0x00));
    const auto start = Clock::now();
    instrument.Server().SendReport(report);
    const uint32_t color = black ? 0x000000 : 0xFFFFFF;
    while (!shows(program.CaptureClient(rows), color) && SecondsSince(start) < 1) {
    }
    out.latency.push_back(SecondsSince(start));
    std::this_thread::sleep_for(1ms);
  }
}

// The program against the in-process instrument: flat out, then at the USB pace.
void MeasurePipeline(double seconds, int rounds, HWND floorWindow, HANDLE uiThread, TResults& out) {
  VirtualInstrument instrument({false, {ts::sim::kPipeName, 1'000'000, true}});
  instrument.Server().Plug();
  Program program;
  if (!ts::e2e::WaitFor([&] { return program.StatusPanel(0) == ts::e2e::kConnected; })) return;
  ts::e2e::UncoverDisplay(program);
  std::string command = ts::e2e::ReadProc(program.UnixPid(), "cmdline");
  std::replace(command.begin(), command.end(), '\0', ' ');
  std::printf("program: Unix process %d (%s), Wine server %d\n", program.UnixPid(), command.c_str(),
              wineServer);
  ts::e2e::Surface expected;
  expected.DrawScreen(instrument.CurrentScreen());
  ts::e2e::Difference difference;

  // Flat out: the stream keeps the program's backlog under a few dozen reports,
  // so what is sent is what it takes. The rate text must agree.
  instrument.StartStream(0us);
  ts::e2e::WaitFor([&] { return instrument.Streamed() > 2000; }, 20s);
  uint64_t sent = instrument.Streamed();
  auto start = Clock::now();
  std::vector<long> rates;
  auto nextReading = start + 1s;
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    ts::e2e::WaitFor([&] { return Clock::now() >= nextReading; }, 2s);
    rates.push_back(ts::e2e::RateOf(program.StatusPanel(1)));
    nextReading += 1s;
  }
  out.takenPerSecond =
      double(instrument.Streamed() - sent) / std::chrono::duration<double>(Clock::now() - start).count();
  instrument.StopStream();
  instrument.Server().WaitForBacklogBelow(1, Clock::now() + 30s);
  out.fastPictureExact = ts::e2e::WaitForPicture(program, expected, difference);
  double sum = 0;
  for (long r : rates) sum += double(r);
  out.shownRate = rates.empty() ? 0 : sum / double(rates.size()) / 64.0;

  // The USB pace: CPU of the program and of Wine's server per report, in rounds
  // that alternate with the floor's. The machine is shared and interference only
  // ever adds time, so each side keeps its cheapest round.
  for (int round = 0; round < rounds; ++round) {
    instrument.StartStream(1ms);
    ts::e2e::WaitFor([&] { return instrument.Streamed() > 2000; }, 20s);
    if (!program.Alive()) {
      DWORD code = 0;
      GetExitCodeProcess(program.Process(), &code);
      std::printf("the program ended before paced round %d, exit code 0x%08lX\n", round + 1, code);
      return;
    }
    const size_t bytesBefore = program.PrivateBytes();
    const ts::TPathCounts countsBefore = program.PathCounts();
    const double clientBefore = ProgramSeconds(program),
                 serverBefore = ts::e2e::UnixProcessSeconds(wineServer);
    sent = instrument.Streamed();
    start = Clock::now();
    ts::e2e::WaitFor([&] { return Clock::now() - start >= std::chrono::duration<double>(seconds); },
                     std::chrono::seconds(static_cast<int>(seconds) + 5));
    TCost cost;
    cost.reports = instrument.Streamed() - sent;
    cost.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    cost.clientSeconds = ProgramSeconds(program) - clientBefore;
    cost.serverSeconds = ts::e2e::UnixProcessSeconds(wineServer) - serverBefore;
    const ts::TPathCounts countsAfter = program.PathCounts();
    out.pathCounts.Allocations += countsAfter.Allocations - countsBefore.Allocations;
    out.pathCounts.HandOvers += countsAfter.HandOvers - countsBefore.HandOvers;
    out.pathCounts.Blits += countsAfter.Blits - countsBefore.Blits;
    out.pathCounts.Presents += countsAfter.Presents - countsBefore.Presents;
    out.pathReports += countsAfter.HandOvers - countsBefore.HandOvers;
    out.privateGrowth.push_back(static_cast<long long>(program.PrivateBytes()) -
                                static_cast<long long>(bytesBefore));
    if (cost.reports > 0) out.pipelineRounds.push_back(cost.TotalPer1000());
    if (out.pipeline.reports == 0 || cost.TotalPer1000() < out.pipeline.TotalPer1000()) out.pipeline = cost;
    instrument.StopStream();
    instrument.Server().WaitForBacklogBelow(1, Clock::now() + 30s);
    expected.DrawScreen(instrument.CurrentScreen());
    out.pacedPictureExact = ts::e2e::WaitForPicture(program, expected, difference);
    if (!program.Alive()) {
      DWORD code = 0;
      GetExitCodeProcess(program.Process(), &code);
      std::printf("the program ended during paced round %d, exit code 0x%08lX\n", round + 1, code);
      return;
    }
    MeasureFloor(seconds, floorWindow, uiThread, out);
  }
  MeasureLatency(program, instrument, 200, out);
  out.dropped = instrument.Server().DroppedReports();
  program.Close();
}

// Start-up with the instrument plugged in and streaming at the USB pace: from
// starting the program to its first present and to the first exact frame on
// screen, beside the floor, an empty program's start to its window showing.
// Polled every 10 ms, which bounds each figure's resolution.
struct TStartUp {
  std::vector<double> windowsShown, firstPresent, exactFrame, emptyWindow;
};

double StartEmptyWindow() {
  std::wstring path = L"Z:";
  for (const char* p = TS_EMPTY_WINDOW_PATH; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const auto start = Clock::now();
  if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 0;
  const ts::TWinHandle thread(pi.hThread), process(pi.hProcess);
  HWND window = nullptr;
  ts::e2e::WaitFor([&] {
    window = ts::e2e::FindOwnWindow(pi.dwProcessId, L"Start-up floor");
    return window && IsWindowVisible(window);
  });
  const double seconds = window ? SecondsSince(start) : 0;
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  return seconds;
}

void MeasureStartUp(int rounds, TStartUp& out) {
  VirtualInstrument instrument({false, {ts::sim::kPipeName, 1'000'000, true}});
  instrument.Server().Plug();
  instrument.StartStream(1ms);
  for (int round = 0; round < rounds; ++round) {
    out.emptyWindow.push_back(StartEmptyWindow());
    const auto start = Clock::now();
    Program program;  // returns once the main and the event window show
    out.windowsShown.push_back(SecondsSince(start));
    if (ts::e2e::WaitFor([&] { return program.PathCounts().Presents > 0; }, 30s))
      out.firstPresent.push_back(SecondsSince(start));
    ts::e2e::UncoverDisplay(program);
    ts::e2e::Surface expected;
    expected.DrawScreen(instrument.CurrentScreen());
    ts::e2e::Difference difference;
    if (ts::e2e::WaitForPicture(program, expected, difference, 30s))
      out.exactFrame.push_back(SecondsSince(start));
    program.Close();
  }
  instrument.StopStream();
}

struct TConductor {
  double seconds;
  int rounds;
  int startUpRounds;
  HWND floorWindow;
  HANDLE uiThread;
  DWORD uiThreadId;
  TResults results;
  TStartUp startUp;
};

DWORD WINAPI Conduct(void* parameter) {
  auto* c = static_cast<TConductor*>(parameter);
  wineServer = ts::e2e::FindUnixProcess("wineserver");
  MeasureStartUp(c->startUpRounds, c->startUp);
  MeasurePipeline(c->seconds, c->rounds, c->floorWindow, c->uiThread, c->results);
  c->results.ok = true;
  PostThreadMessageW(c->uiThreadId, WM_QUIT, 0, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  int rounds = 5;
  int startUpRounds = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--startup-rounds=", 17) == 0)
      startUpRounds = std::max(1, std::atoi(argv[i] + 17));
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::max(3.0, std::atof(argv[i] + 10));
    if (std::strncmp(argv[i], "--rounds=", 9) == 0) rounds = std::max(1, std::atoi(argv[i] + 9));
  }

  TFloor floor;
  if (!floor.view.CanDraw()) {
    std::fprintf(stderr, "the display control did not initialise\n");
    return 1;
  }
  TConductor conductor{seconds, rounds, startUpRounds, floor.form, nullptr, GetCurrentThreadId(), {}};
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &conductor.uiThread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  const ts::TWinHandle uiThread(conductor.uiThread);
  const ts::TWinHandle thread(CreateThread(nullptr, 0, Conduct, &conductor, 0, nullptr));
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  WaitForSingleObject(thread.Get(), INFINITE);

  const TResults& r = conductor.results;
  if (!r.ok || r.pipeline.reports == 0 || r.floor.reports == 0) {
    std::fprintf(stderr, "the measurement did not complete\n");
    return 1;
  }
  std::printf("%-40s %14s %14s %12s %s\n", "Benchmark", "Time", "CPU", "Iterations", "UserCounters...");
  std::printf("%s\n", std::string(100, '-').c_str());
  char counters[256];
  std::snprintf(counters, sizeof counters, "items_per_second=%s shown_per_second=%.0f picture_exact=%d",
                minibench::FormatRate(r.takenPerSecond).c_str(), r.shownRate, r.fastPictureExact);
  PrintLine("BM_PipelineFlatOut", seconds, static_cast<uint64_t>(r.takenPerSecond * seconds), counters);
  auto cost = [&](const char* name, const TCost& c) {
    std::snprintf(counters, sizeof counters,
                  "cpu_ms_per_1000=%.1f program_or_floor_ms=%.1f wineserver_ms=%.1f", c.TotalPer1000() * 1e3,
                  c.ClientPer1000() * 1e3, c.ServerPer1000() * 1e3);
    PrintLine(name, c.wallSeconds, c.reports, counters);
  };
  cost("BM_PipelineUsbPace", r.pipeline);
  cost("BM_FloorUsbPace", r.floor);

  const double ratio = r.pipeline.TotalPer1000() / r.floor.TotalPer1000();
  const double serverRatio = r.pipeline.ServerPer1000() / r.floor.ServerPer1000();
  std::printf(
      "\nreports per second taken, drawn and presented: %.0f (target > 1000), dropped %llu, "
      "picture exact after flat out %s, after the USB pace %s\n",
      r.takenPerSecond, static_cast<unsigned long long>(r.dropped), r.fastPictureExact ? "yes" : "NO",
      r.pacedPictureExact ? "yes" : "NO");
  std::printf(
      "CPU per 1000 reports at the USB pace, cheapest rounds: pipeline %.1f ms, floor %.1f ms, ratio %.3f\n",
      r.pipeline.TotalPer1000() * 1e3, r.floor.TotalPer1000() * 1e3, ratio);
  // The target is held by the median, which one disturbed round moves least;
  // the spread shows how disturbed the run was.
  const double pipelineMedian = Median(r.pipelineRounds), floorMedian = Median(r.floorRounds);
  const double medianRatio = pipelineMedian / floorMedian;
  std::printf(
      "CPU per 1000 reports at the USB pace, median of %zu rounds: pipeline %.1f ms (%.1f to %.1f), floor "
      "%.1f ms "
      "(%.1f to %.1f), ratio %.3f (target <= 1.15: %s)\n",
      r.pipelineRounds.size(), pipelineMedian * 1e3, Least(r.pipelineRounds) * 1e3,
      Most(r.pipelineRounds) * 1e3, floorMedian * 1e3, Least(r.floorRounds) * 1e3, Most(r.floorRounds) * 1e3,
      medianRatio, medianRatio <= 1.15 ? "met" : "NOT met");
  // Counted by the program itself over the paced rounds; the edges of a round
  // may cut a report or a frame in two, so these are rates, not exact counts.
  const double taken = double(std::max<uint64_t>(r.pathReports, 1));
  const auto& c = r.pathCounts;
  std::printf("program allocations per report: %.4f (target 0: %s)\n", double(c.Allocations) / taken,
              c.Allocations == 0 ? "met" : "NOT met");
  std::printf("program hand-overs per report: %.4f (target 1)\n", double(c.HandOvers) / taken);
  std::printf("program blits per report: %.3f (target 60)\n", double(c.Blits) / taken);
  std::printf("program presents per frame of %d reports: %.3f (target 2)\n", ts::sim::kReportsPerFrame,
              double(c.Presents) * ts::sim::kReportsPerFrame / taken);
  // The floor makes exactly one cross-thread SendMessage a report; Wine's server
  // time is where any further wake-up would show.
  std::printf("Wine server time, pipeline / floor: %.3f (one hand-over a report gives about 1)\n",
              serverRatio);
  auto percentile = [](std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * double(values.size())))];
  };
  const double p99 = percentile(r.latency, 0.99);
  std::printf(
      "report to pixels at the USB pace over %zu frames: p50 %.2f ms, p99 %.2f ms (target <= 5: %s), max "
      "%.2f ms, one capture included\n",
      r.latency.size(), percentile(r.latency, 0.5) * 1e3, p99 * 1e3, p99 <= 0.005 ? "met" : "NOT met",
      Most(r.latency) * 1e3);
  std::printf("one capture of the two rows alone: median %.2f ms\n", Median(r.captureCost) * 1e3);
  const TStartUp& s = conductor.startUp;
  const double floorStart = Median(s.emptyWindow), firstPresent = Median(s.firstPresent);
  std::printf(
      "start-up, median of %zu: empty window shown %.3f s (the floor), first present %.3f s, ratio %.2f "
      "(target <= 1.5: %s)\n",
      s.firstPresent.size(), floorStart, firstPresent, firstPresent / floorStart,
      firstPresent <= 1.5 * floorStart ? "met" : "NOT met");
  std::printf("start-up to the main and the event window shown, median of %zu: %.3f s\n",
              s.windowsShown.size(), Median(s.windowsShown));
  std::printf("start-up to the first exact frame on screen, median of %zu: %.3f s (%.3f to %.3f)\n",
              s.exactFrame.size(), Median(s.exactFrame), Least(s.exactFrame), Most(s.exactFrame));
  std::printf("program private bytes grown in each paced round of about %llu reports:",
              static_cast<unsigned long long>(r.pipeline.reports));
  for (long long growth : r.privateGrowth) std::printf(" %+lld", growth);
  std::printf("\n");
  return 0;
}
