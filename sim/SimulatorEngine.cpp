#include "sim/SimulatorEngine.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <mmsystem.h>

#include <cerrno>
#include <cwchar>

#include "sim/Commands.h"
#include "ui/Cp1251.h"
#include "ui/ErrorReport.h"

namespace ts::sim {
namespace {

constexpr size_t kFastBacklog = 32;

// The program looks for the instrument on the one pipe name only; a change on
// any other pipe is news to no window, and tests that run beside others keep
// their plugging to themselves.
bool BroadcastsFor(const std::wstring& pipe) { return pipe == kPipeName; }

}  // namespace

SimulatorEngine::SimulatorEngine(const Settings& settings)
    : settings_(settings),
      fast_(settings.fast),
      server_({settings.hid, PipeServer::Options{settings.pipe, 256, BroadcastsFor(settings.pipe)}}) {
  if (!settings.logFile.empty() && !(logFile_ = TStdioFile(_wfopen(settings.logFile.c_str(), L"ab"))))
    logError_ = L"Журнал " + settings.logFile + L" не открывается: " + _wcserror(errno);
  if (!settings.play.empty()) recording_ = std::make_unique<RecordingSource>(settings.play);
  server_.SetOutputHandler([this](const Report& r) { OnOutputReport(r); });
}

SimulatorEngine::~SimulatorEngine() { StopPacing(); }

void SimulatorEngine::SetNotices(std::function<void()> onFrame, std::function<void()> onLog) {
  onFrame_ = std::move(onFrame);
  onLog_ = std::move(onLog);
}

void SimulatorEngine::Start() {
  Log(L"Запуск" + std::wstring(fast_ ? L", как можно быстрее" : L", 1 отчёт в мс"));
  if (recording_) Log(Widen(recording_->Describe()));
  SetPlugged(!settings_.unplugged);
}

void SimulatorEngine::StartPacing() {
  pacer_ = std::thread([this] {
    GuardedTo([this](const std::exception& e) { Log(L"Ошибка потока отчётов: " + Widen(e.what())); },
              [this] { Stream(); });
  });
}

void SimulatorEngine::StopPacing() {
  stop_ = true;
  if (pacer_.joinable()) pacer_.join();
}

void SimulatorEngine::SetPlugged(bool plugged) {
  GuardedTo([this](const std::exception& e) { Log(L"Ошибка: " + Widen(e.what())); },
            [&] {
              if (plugged) {
                server_.Plug();
                Log(L"Подключен: " + (settings_.hid ? std::wstring(L"HID 5555/4170") : settings_.pipe));
              } else if (server_.IsPlugged()) {
                server_.Unplug();
                Log(L"Отключен");
              }
            });
}

void SimulatorEngine::SetFast(bool fast) {
  fast_ = fast;
  Log(fast ? L"Как можно быстрее" : L"1 отчёт в мс");
}

Screen SimulatorEngine::Frame() {
  std::lock_guard lock(frameMutex_);
  return frame_;
}

std::wstring SimulatorEngine::StatusText() {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - lastStatus_).count();
  const uint64_t sent = sent_;
  const double rate = seconds > 0 ? (sent - sentAtLastStatus_) / seconds : 0;
  sentAtLastStatus_ = sent;
  lastStatus_ = now;
  wchar_t text[512];
  swprintf(text, 512,
           L"%ls\nКлиентов: %zu\nОтчётов в секунду: %.0f\nВсего отчётов: %llu\n"
           L"Потеряно медленными клиентами: %llu\nПропущено сообщений неверной длины: %llu\n%ls",
           server_.IsPlugged() ? L"Подключен к каналу" : L"Отключен", server_.ClientCount(), rate,
           static_cast<unsigned long long>(sent), static_cast<unsigned long long>(server_.DroppedReports()),
           static_cast<unsigned long long>(server_.IgnoredMessages()), Widen(server_.LastError()).c_str());
  return text;
}

void SimulatorEngine::Log(const std::wstring& line) {
  {
    std::lock_guard lock(logMutex_);
    pendingLog_.push_back(line);
  }
  if (onLog_) onLog_();
}

std::vector<std::wstring> SimulatorEngine::TakeLog() {
  std::deque<std::wstring> lines;
  {
    std::lock_guard lock(logMutex_);
    lines.swap(pendingLog_);
  }
  std::vector<std::wstring> stamped;
  stamped.reserve(lines.size());
  for (const auto& line : lines) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t stamp[32];
    swprintf(stamp, 32, L"%02u:%02u:%02u.%03u  ", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    stamped.push_back(stamp + line);
    if (logFile_) {
      const std::string utf8 = Narrow(stamped.back()) + "\n";
      fwrite(utf8.data(), 1, utf8.size(), logFile_.Get());
      fflush(logFile_.Get());
    }
  }
  return stamped;
}

void SimulatorEngine::OnOutputReport(const Report& r) {
  {
    std::lock_guard lock(modelMutex_);
    model_.HandleOutputReport(r.data(), r.size(), Now());
  }
  Log(Widen(DescribeOutputReport(r.data(), r.size())));
}

void SimulatorEngine::Stream() {
  using namespace std::chrono;
  timeBeginPeriod(1);
  if (recording_) {
    recording_->Serve(server_, stop_, sent_, [this](const std::string& line) { Log(Widen(line)); });
    timeEndPeriod(1);
    return;
  }
  Screen frame;
  int index = 0;
  auto next = steady_clock::now();
  std::vector<Report> batch;
  while (!stop_) {
    if (index == 0) {
      {
        std::lock_guard lock(modelMutex_);
        frame = model_.Render(Now());
      }
      {
        std::lock_guard lock(frameMutex_);
        frame_ = frame;
      }
      if (!framePosted_.exchange(true) && onFrame_) onFrame_();
    }
    // Over HID each write costs a round trip through Wine's device service, which
    // also serves the program's reads: reports go 32 to a write, at the same pace.
    batch.push_back(EncodeScreenReport(frame, index));
    if (batch.size() >= (server_.IsHid() && !fast_ ? 32u : 1u)) {
      if (server_.IsPlugged()) server_.SendReports(batch.data(), batch.size());
      batch.clear();
    }
    ++sent_;
    index = (index + 1) % kReportsPerFrame;

    if (fast_ && server_.ClientCount() > 0) {
      // As fast as the fastest reader takes them; slower ones drop their oldest.
      while (!stop_ && !server_.WaitForBacklogBelow(kFastBacklog, steady_clock::now() + milliseconds(50))) {
      }
      next = steady_clock::now();
      continue;
    }
    next += milliseconds(1);
    const auto now = steady_clock::now();
    if (now > next + milliseconds(50)) next = now;  // after a stall, no burst to catch up
    if (next > now) Sleep(DWORD(duration_cast<milliseconds>(next - now).count()));
  }
  timeEndPeriod(1);
}

}  // namespace ts::sim
