#include "tests/e2e/support/Harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace ts::e2e {

using namespace std::chrono_literals;

void Surface::Fill(int left, int top, int right, int bottom, bool black) {
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) Set(x, y, black);
}

void Surface::DrawScreen(const sim::Screen& screen) {
  for (int y = 0; y < sim::kScreenHeight; ++y)
    for (int x = 0; x < sim::kScreenWidth; ++x) Set(x + kMargin, y + kMargin, screen.Pixel(x, y));
}

void Surface::DrawReport(const uint8_t* data) {
  const int group = data[60];
  const int half = data[61] != 0 ? 1 : 0;
  for (int k = 0; k < 60; ++k) {
    const int place = 480 * half + 8 * k;
    const int y = kMargin + 3 * group + place / 320;
    const int x = kMargin + place % 320;
    // Rows past the surface are never drawn; the mirror must not wrap them.
    if (y >= kViewHeight) continue;
    for (int bit = 0; bit < 8; ++bit) Set(x + bit, y, (data[k] >> (7 - bit)) & 1);
  }
}

void Surface::Border() {
  Fill(0, 0, 2, kViewHeight, true);
  Fill(0, 0, kViewWidth, 2, true);
  Fill(kViewWidth - 2, 0, kViewWidth, kViewHeight, true);
  Fill(0, kViewHeight - 2, kViewWidth, kViewHeight, true);
}

std::string Difference::Describe() const {
  char text[96];
  if (Count < 0) return "the display was not found or has another size";
  std::snprintf(text, sizeof text, "%d pixels differ, the first at (%d, %d)", Count, FirstX, FirstY);
  return text;
}

Difference Compare(const Picture& picture, const Surface& expected) {
  Difference d;
  if (picture.Width != kViewWidth || picture.Height != kViewHeight) return d;
  d.Count = 0;
  for (int y = 0; y < kViewHeight; ++y)
    for (int x = 0; x < kViewWidth; ++x)
      if (picture.At(x, y) != (expected.Black(x, y) ? 0x000000u : 0xFFFFFFu) && d.Count++ == 0) {
        d.FirstX = x;
        d.FirstY = y;
      }
  return d;
}

bool WaitForPicture(const Program& program, const Surface& expected, Difference& last,
                    std::chrono::milliseconds timeout) {
  return WaitFor([&] { return (last = Compare(program.CaptureDisplay(), expected)).Count == 0; }, timeout);
}

sim::Transport::Options TransportUnderTest() {
  sim::Transport::Options options;
  options.hid = OverHid();
  options.hidTool = TS_HID_TOOL_PATH;
  return options;
}

bool OverHid() {
  const char* name = std::getenv("TS_E2E_TRANSPORT");
  return name && std::string(name) == "hid";
}

VirtualInstrument::VirtualInstrument(sim::Transport::Options options) : server_(options) {}

VirtualInstrument::~VirtualInstrument() {
  if (streamer_.joinable()) StopStream();
}

bool VirtualInstrument::TakeOutputReport(std::chrono::milliseconds timeout) {
  auto report = server_.WaitForOutputReport(sim::Transport::Clock::now() + timeout);
  if (!report) return false;
  std::lock_guard lock(modelMutex_);
  model_.HandleOutputReport(report->data(), report->size(), now_);
  return true;
}

void VirtualInstrument::Advance(std::chrono::milliseconds time) {
  std::lock_guard lock(modelMutex_);
  now_ += time;
}

sim::Screen VirtualInstrument::CurrentScreen() {
  std::lock_guard lock(modelMutex_);
  return model_.Render(now_);
}

int VirtualInstrument::Gain() {
  std::lock_guard lock(modelMutex_);
  return model_.Gain();
}

std::optional<std::string> VirtualInstrument::Message() {
  std::lock_guard lock(modelMutex_);
  return model_.MessageText(now_);
}

size_t VirtualInstrument::SendFrame() {
  const sim::Screen screen = CurrentScreen();
  std::vector<sim::Report> frame;
  for (int i = 0; i < sim::kReportsPerFrame; ++i) frame.push_back(sim::EncodeScreenReport(screen, i));
  frame.push_back(sim::EncodeScreenReport(screen, 0));
  for (size_t at = 0; at < frame.size(); at += 64)
    server_.SendReports(&frame[at], std::min<size_t>(64, frame.size() - at));
  return frame.size();
}

void VirtualInstrument::StartStream(std::chrono::microseconds pace) {
  stopStream_ = false;
  streamer_ = std::thread([this, pace] { Stream(pace); });
}

void VirtualInstrument::LimitBacklog(uint64_t limit, std::function<uint64_t()> taken) {
  backlogLimit_ = limit;
  taken_ = std::move(taken);
}

bool VirtualInstrument::BacklogFull() const {
  if (!taken_) return false;
  try {
    return streamed_ >= taken_() + backlogLimit_;
  } catch (const std::exception&) {
    return false;  // a program that is gone takes nothing; the test sees to that
  }
}

uint64_t VirtualInstrument::StopStream() {
  stopStream_ = true;
  streamer_.join();
  return streamed_;
}

void VirtualInstrument::Stream(std::chrono::microseconds pace) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  // Over HID each write to the driver costs a round trip through Wine's device
  // service, as much as the program's read of a report; at the USB pace the
  // stream goes in bursts of 32, the same reports at the same average pace.
  const size_t burst = server_.IsHid() && pace.count() > 0 ? 32 : 1;
  std::vector<sim::Report> batch;
  auto flush = [&] {
    server_.SendReports(batch.data(), batch.size());
    streamed_ += batch.size();
    batch.clear();
  };
  uint64_t index = 0;
  sim::Screen screen;
  auto send = [&](int i) {
    batch.push_back(sim::EncodeScreenReport(screen, i));
    if (batch.size() >= burst) flush();
  };
  for (;;) {
    const int i = static_cast<int>(index % sim::kReportsPerFrame);
    if (i == 0) {
      if (stopStream_) {
        send(0);  // presents the last complete frame
        flush();
        return;
      }
      screen = CurrentScreen();
    }
    if (batch.empty() && BacklogFull()) {
      std::this_thread::sleep_for(1ms);
      continue;
    }
    if (pace.count() > 0 && batch.empty()) {
      // Catch up in bursts after a late wake-up, so the average stays at the pace.
      const auto due = start + pace * static_cast<int64_t>(index + burst - 1);
      if (Clock::now() < due) {
        std::this_thread::sleep_until(due);
        continue;
      }
    } else if (pace.count() == 0 && server_.SmallestBacklog() >= 32) {
      server_.WaitForBacklogBelow(16, Clock::now() + 50ms);
      continue;
    }
    send(i);
    ++index;
  }
}

long RateOf(const std::wstring& text) {
  const std::wstring prefix = L"Скорость приема данных  ", unit = L" Байт/c";
  if (text.rfind(prefix, 0) != 0 || text.size() < prefix.size() + unit.size() + 1 ||
      text.compare(text.size() - unit.size(), unit.size(), unit) != 0)
    return -1;
  long value = 0;
  for (size_t i = prefix.size(); i < text.size() - unit.size(); ++i) {
    if (text[i] == L' ') continue;
    if (text[i] < L'0' || text[i] > L'9') return -1;
    value = value * 10 + (text[i] - L'0');
  }
  return value;
}

}  // namespace ts::e2e
