// The program and the virtual instrument as the browser tests and the sharing
// benchmark work them from outside Wine: one command a line on standard input,
// one answer a line on standard output.
//
//   share PORT KEYS   opens the sharing dialog, starts sharing; "url ADDRESS"
//   stop              stops sharing from the dialog
//   frame SEED        sends a random frame; "frame MS BITS": the time the
//                     presenting report went (ms since 1970) and the 320 x 240
//                     picture it presents as hex, a set bit black
//   mirror            whether the program's display shows that frame: "ok"/"diff ..."
//   plug, unplug      the instrument comes and goes
//   linked            "yes" when the program shows the instrument connected
//   next              the next output report the program sends: "report HEX"/"none"
//   press F1          clicks the program's own F1 key
//   viewers           the number of viewers the dialog shows
//   stats             "stats HANDLES PRIVATE_BYTES PRESENTS CPU_SECONDS STREAMED"
//   stream on|off     the instrument's screen at the USB pace; "streamed N"
//   log               the last line of the USB event log
//   mirrorlat N       the mirror's own latency, report to present, N times: "ms A B ..."
//   clicklat KEY N    the program's own KEY clicked N times, each from the click to
//                     the instrument's taking its report: "ms A B ..."; the first
//                     click's report is the key's, so make it with no other
//                     presses on the way
//   quit

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "sim/Screen.h"
#include "tests/e2e/support/Harness.h"
#include "tests/e2e/support/Steps.h"
#include "ui/Cp1251.h"

namespace ts::e2e {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kDialogCaption[] = L"Показ экрана в браузере";

std::string Hex(const uint8_t* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 15];
  }
  return text;
}

// The first child whose text starts with `prefix`.
HWND ChildStarting(HWND top, const std::wstring& prefix) {
  return FindChild(top, [&](const std::wstring& text) { return text.rfind(prefix, 0) == 0; });
}

// Another process's menu cannot be walked under Wine; the toolkit numbers the
// items from 100 in the order the main window defines them.
constexpr UINT kShareItem = 116;

double UnixMs() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  const uint64_t ticks = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return double(ticks - 116444736000000000ull) / 10000.0;
}

// " 12.345": the milliseconds since `start`, as a figure of a latency list.
std::string MillisSince(std::chrono::steady_clock::time_point start) {
  char ms[32];
  std::snprintf(ms, sizeof ms, " %.3f",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  return ms;
}

class Session {
 public:
  Session() {
    instrument_.Server().Plug();
    program_.emplace();
    Await([&] { return program_->StatusPanel(0) == kConnected; }, "the instrument's first report");
    UncoverDisplay(*program_);
  }
  ~Session() {
    if (streaming_) instrument_.StopStream();
    if (program_) program_->Close();
  }

  std::string Run(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "share") {
      int port = 0, keys = 0;
      in >> port >> keys;
      return Share(port, keys != 0);
    }
    if (command == "stop") {
      const HWND dialog = Dialog();
      const HWND button = dialog ? program_->Control(dialog, L"Остановить показ") : nullptr;
      if (!button) return "ok";
      program_->Click(button);
      return WaitFor([&] { return program_->Control(Dialog(), L"Начать показ") != nullptr; }) ? "ok"
                                                                                              : "error";
    }
    if (command == "frame") {
      unsigned seed = 0;
      in >> seed;
      return Frame(seed);
    }
    if (command == "mirror") {
      Difference d;
      return WaitForPicture(*program_, expected_, d) ? "ok" : "diff " + d.Describe();
    }
    if (command == "plug" || command == "unplug") {
      if (command == "plug") {
        instrument_.Server().Plug();
      } else {
        instrument_.Server().Unplug();
      }
      return "ok";
    }
    if (command == "next") {
      const auto report = instrument_.Server().WaitForOutputReport(sim::Transport::Clock::now() + 10s);
      return report ? "report " + Hex(report->data(), report->size()) : "none";
    }
    if (command == "press") {
      std::string key;
      in >> key;
      program_->Click(program_->Control(program_->Main(), Widen(key)));
      return "ok";
    }
    if (command == "viewers") {
      const HWND label = ChildStarting(Dialog(), L"Зрителей сейчас: ");
      return label ? Narrow(TextOf(label).substr(17)) : "error";
    }
    if (command == "stats") {
      char text[160];
      std::snprintf(
          text, sizeof text, "stats %lu %zu %llu %.3f %llu", program_->HandleCount(),
          program_->PrivateBytes(), static_cast<unsigned long long>(program_->PathCounts().Presents),
          UnixProcessSeconds(program_->UnixPid()), static_cast<unsigned long long>(instrument_.Streamed()));
      return text;
    }
    if (command == "stream") {
      std::string how;
      in >> how;
      if (how == "on" && !streaming_) instrument_.StartStream();
      if (how == "off" && streaming_) instrument_.StopStream();
      streaming_ = how == "on";
      return "streamed " + std::to_string(instrument_.Streamed());
    }
    if (command == "linked") return program_->StatusPanel(0) == kConnected ? "yes" : "no";
    if (command == "log") {
      const auto lines = program_->MemoLines();
      return lines.empty() ? "" : Narrow(lines.back());
    }
    if (command == "mirrorlat") {
      int count = 0;
      in >> count;
      std::string out = "ms";
      Frame(0);
      for (int i = 0; i < count; ++i) {
        // The presenting report alone, once the program has drawn what came before.
        std::this_thread::sleep_for(20ms);
        const uint64_t before = program_->PathCounts().Presents;
        const auto start = std::chrono::steady_clock::now();
        instrument_.Server().SendReport(last_);
        while (program_->PathCounts().Presents == before && std::chrono::steady_clock::now() - start < 5s) {
        }
        out += MillisSince(start);
      }
      return out;
    }
    if (command == "clicklat") {
      std::string key;
      int count = 0;
      in >> key >> count;
      return ClickLatency(key, count);
    }
    return "error unknown command";
  }

 private:
  HWND Dialog() const { return FindOwnWindow(GetProcessId(program_->Process()), kDialogCaption); }

  std::string Share(int port, bool keys) {
    if (!Dialog()) {
      PostMessageW(program_->Main(), WM_COMMAND, kShareItem, 0);
      if (!WaitFor([&] { return Dialog() != nullptr; })) return "error no dialog";
    }
    const HWND dialog = Dialog();
    // Off the main window: the mirror is read off the screen.
    SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const HWND portEdit = ChildStarting(dialog, L"4170");
    if (portEdit)
      SendMessageW(portEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(std::to_wstring(port).c_str()));
    SendMessageW(program_->Control(dialog, L"Зрители могут нажимать клавиши прибора"), BM_SETCHECK,
                 keys ? BST_CHECKED : BST_UNCHECKED, 0);
    program_->Click(program_->Control(dialog, L"Начать показ"));
    HWND address = nullptr;
    if (!WaitFor([&] { return (address = ChildStarting(dialog, L"http://")) != nullptr; }))
      return "error not started";
    return "url " + Narrow(TextOf(address));
  }

  // Other output reports (a viewer's presses) may come between; the click's is
  // known by its bytes.
  std::string ClickLatency(const std::string& key, int count) {
    const HWND button = program_->Control(program_->Main(), Widen(key));
    if (!button) return "error no key " + key;
    std::string out = "ms";
    for (int i = 0; i < count; ++i) {
      // Each click once the last one's send is over and its button enabled again.
      if (!WaitFor([&] { return IsWindowEnabled(button) != FALSE; }))
        return "error " + key + " stays disabled";
      std::this_thread::sleep_for(20ms);
      const auto start = std::chrono::steady_clock::now();
      program_->Click(button);
      for (;;) {
        const auto report = instrument_.Server().WaitForOutputReport(sim::Transport::Clock::now() + 120s);
        if (!report) return "error no report of " + key;
        auto& known = clickReports_[key];
        if (!known) known = *report;
        if (*report == *known) break;
      }
      out += MillisSince(start);
    }
    return out;
  }

  std::string Frame(unsigned seed) {
    std::mt19937 random(seed);
    const uint8_t id = sim::EncodeScreenReport(sim::Screen(), 0)[0];
    std::vector<sim::Report> frame;
    auto add = [&](int group, int half) {
      sim::Report r{};
      r[0] = id;
      for (int k = 1; k <= 60; ++k) r[size_t(k)] = static_cast<uint8_t>(random());
      r[61] = static_cast<uint8_t>(group);
      r[62] = static_cast<uint8_t>(half);
      frame.push_back(r);
    };
    add(0, 0);
    for (int group = 1; group < 80; ++group)
      for (int half = 0; half < 2; ++half) add(group, half);
    add(0, 1);  // presents the whole frame
    for (const sim::Report& r : frame) expected_.DrawReport(r.data() + 1);
    for (size_t at = 0; at + 1 < frame.size(); at += 32)
      instrument_.Server().SendReports(&frame[at], std::min<size_t>(32, frame.size() - 1 - at));
    instrument_.Server().WaitForBacklogBelow(1, sim::Transport::Clock::now() + 10s);
    const double sentAt = UnixMs();
    instrument_.Server().SendReport(frame.back());
    last_ = frame.back();
    std::string bits(320 * 240 / 8, '\0');
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x)
        if (expected_.Black(x + kMargin, y + kMargin)) bits[size_t(y * 40 + x / 8)] |= char(0x80 >> (x % 8));
    char head[64];
    std::snprintf(head, sizeof head, "frame %.3f ", sentAt);
    return head + Hex(reinterpret_cast<const uint8_t*>(bits.data()), bits.size());
  }

  VirtualInstrument instrument_;
  std::optional<Program> program_;
  Surface expected_;
  sim::Report last_{};
  bool streaming_ = false;
  std::map<std::string, std::optional<sim::Report>> clickReports_;
};

}  // namespace
}  // namespace ts::e2e

int main() {
  try {
    ts::e2e::Session session;
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line == "quit") break;
      std::cout << session.Run(line) << std::endl;
    }
    std::cout << "bye" << std::endl;
    return 0;
  } catch (const std::exception& e) {
    std::cout << "error " << e.what() << std::endl;
    return 1;
  }
}
