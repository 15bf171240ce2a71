// The simulator program itself, started as a process and driven only from the
// outside: through its pipe, its window messages and its command log.

#include <gtest/gtest.h>
#include <windows.h>
#include <bitset>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "sim/Commands.h"
#include "sim/Instrument.h"
#include "tests/windows/sim/PipeClient.h"
#include "ui/WinHandle.h"

namespace ts::sim {
namespace {

constexpr UINT kControlMessage = WM_APP + 1;  // wParam 0 unplugs, 1 plugs back in

std::wstring Directory(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring SimulatorPath() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  // <build>/tests/windows/sim/sim_win_test.exe -> <build>/sim/TS4170_Simulator.exe
  return Directory(Directory(Directory(Directory(self)))) + L"\\sim\\TS4170_Simulator.exe";
}

class Simulator {
 public:
  explicit Simulator(const std::wstring& arguments, std::wstring log = {}) : log_(std::move(log)) {
    const std::wstring exe = SimulatorPath();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    if (log_.empty())
      log_ = std::wstring(temp) + L"ts4170-sim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(GetTickCount()) + L".log";
    std::wstring command = L"\"" + exe + L"\" " + arguments + L" --log \"" + log_ + L"\"";
    STARTUPINFOW si{sizeof si};
    started_ =
        CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~Simulator() {
    if (started_) {
      if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(pi_.hProcess, 3);
        WaitForSingleObject(pi_.hProcess, INFINITE);
      }
      CloseHandle(pi_.hThread);
      CloseHandle(pi_.hProcess);
    }
    DeleteFileW(log_.c_str());
  }
  bool Started() const { return started_; }
  DWORD ThreadId() const { return pi_.dwThreadId; }

  std::string Log() const {
    std::string text;
    if (const TStdioFile f(_wfopen(log_.c_str(), L"rb")); f) {
      char buffer[4096];
      for (size_t n; (n = fread(buffer, 1, sizeof buffer, f.Get())) > 0;) text.append(buffer, n);
    }
    return text;
  }
  bool WaitForLog(const std::string& utf8, Clock::time_point deadline) const {
    while (Log().find(utf8) == std::string::npos) {
      if (Clock::now() > deadline || WaitForSingleObject(pi_.hProcess, 20) == WAIT_OBJECT_0) return false;
    }
    return true;
  }

  HWND Window() const {
    Search search{pi_.dwProcessId, nullptr};
    EnumWindows(&VisitWindow, LPARAM(&search));
    return search.found;
  }

  // Waits for the process to end by itself; its exit code, or -1.
  int WaitForExit(Clock::time_point deadline) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (WaitForSingleObject(pi_.hProcess, DWORD(std::max<long long>(left, 0))) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return int(code);
  }

 private:
  struct Search {
    DWORD pid;
    HWND found;
  };
  static BOOL CALLBACK VisitWindow(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<Search*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    if (pid != s->pid || std::wstring(cls) != L"TS4170_Simulator") return TRUE;
    s->found = h;
    return FALSE;
  }

  PROCESS_INFORMATION pi_{};
  bool started_ = false;
  std::wstring log_;
};

// Runs the simulator as a script would to steer the running one; its exit code.
int Steer(const std::wstring& pipe, const wchar_t* action) {
  const std::wstring exe = SimulatorPath();
  std::wstring command = L"\"" + exe + L"\" --pipe " + pipe + L" " + action;
  STARTUPINFOW si{sizeof si};
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -1;
  DWORD code = DWORD(-1);
  if (WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return int(code);
}

// A client once the simulator serves `name`.
std::unique_ptr<Client> Connect(const std::wstring& name, const Simulator& sim) {
  const auto deadline = Deadline();
  for (;;) {
    auto c = std::make_unique<Client>(name);
    if (c->Open() || Clock::now() > deadline) return c;
    if (!sim.WaitForLog("Запуск", deadline)) return c;  // the process ended or never logged
    if (c->OpenError() != ERROR_FILE_NOT_FOUND) return c;
    Sleep(20);  // polled against the deadline above
  }
}

// Reads until every slot of a frame (a line group's half) has come; the screen
// of the latest report in each. A client that falls behind on a busy machine
// loses reports (the pipe drops a slow client's oldest past 256), so the slots
// may come from several frames: the screens here change only on a command.
std::optional<Screen> ReadFrame(Client& c) {
  Screen::Bits bits{};
  std::bitset<kReportsPerFrame> seen;
  const auto deadline = Deadline();
  while (!seen.all()) {
    const auto m = c.ReadMessage(deadline);
    if (!m || !m->ok || m->bytes.size() != kReportSize) return std::nullopt;
    const int index = m->bytes[61] * 2 + (m->bytes[62] ? 1 : 0);
    if (index >= kReportsPerFrame) return std::nullopt;
    std::memcpy(bits.data() + index * kPixelBytesPerReport, m->bytes.data() + 1, kPixelBytesPerReport);
    seen.set(index);
  }
  Screen s;
  for (int y = 0; y < kScreenHeight; ++y)
    for (int x = 0; x < kScreenWidth; ++x)
      s.SetPixel(x, y, (bits[y * kScreenStride + x / 8] >> (7 - x % 8)) & 1);
  return s;
}

Report Command(uint16_t code, uint16_t a1, uint16_t a2 = 0) {
  Report r{};
  r[0] = kCommandReportId;
  r[1] = uint8_t(code), r[2] = uint8_t(code >> 8);
  r[3] = uint8_t(a1), r[4] = uint8_t(a1 >> 8);
  r[5] = uint8_t(a2), r[6] = uint8_t(a2 >> 8);
  return r;
}

TEST(Simulator, StreamsTheModelsScreenAndActsOnCommands) {
  const std::wstring name = UniqueName();
  Simulator sim(L"--pipe " + name);
  ASSERT_TRUE(sim.Started());
  auto client = Connect(name, sim);
  ASSERT_TRUE(client->Open()) << client->OpenError();

  Instrument model;  // nothing on its screen depends on time until a timed command comes
  const auto first = ReadFrame(*client);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, model.Render(SimTime(0)));

  const Report commands[] = {Command(kCodeKey, kKeyF1), Command(kCodeParameter, kParamUnits, 2),
                             Command(kCodeLock, 0)};
  for (const Report& r : commands) {
    ASSERT_TRUE(client->Write(r.data(), r.size()));
    model.HandleOutputReport(r.data(), r.size(), SimTime(0));
  }
  const Screen expected = model.Render(SimTime(0));
  std::optional<Screen> frame;
  const auto deadline = Deadline();
  do {
    frame = ReadFrame(*client);
    ASSERT_TRUE(frame);
  } while (*frame != expected && Clock::now() < deadline);
  EXPECT_EQ(*frame, expected);

  EXPECT_TRUE(sim.WaitForLog("Клавиша F1", Deadline()));
  EXPECT_TRUE(sim.WaitForLog("Разметка ммX", Deadline()));
  EXPECT_TRUE(sim.WaitForLog("Блокировка клавиатуры", Deadline()));

  // Closing the window unplugs: the client's reads fail, and the process ends.
  HWND window = sim.Window();
  ASSERT_TRUE(window);
  PostMessageW(window, WM_CLOSE, 0, 0);
  std::optional<Client::Read> r;
  while ((r = client->ReadMessage(Deadline())) && r->ok) {
  }
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->ok);
  EXPECT_EQ(sim.WaitForExit(Deadline()), 0);
  EXPECT_NE(sim.Log().find("Отключен"), std::string::npos);
}

TEST(Simulator, StartsUnpluggedAndIsSteeredByMessagesAndScripts) {
  const std::wstring name = UniqueName();
  Simulator sim(L"--unplugged --fast --pipe " + name);
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(sim.WaitForLog("Запуск", Deadline()));  // logged after start-up chose its state
  Client early(name, false);
  EXPECT_FALSE(early.Open());
  EXPECT_EQ(early.OpenError(), DWORD(ERROR_FILE_NOT_FOUND));

  ASSERT_EQ(Steer(name, L"--replug"), 0);
  auto client = Connect(name, sim);
  ASSERT_TRUE(client->Open()) << client->OpenError();
  EXPECT_TRUE(ReadFrame(*client));

  HWND window = sim.Window();
  ASSERT_TRUE(window);
  PostMessageW(window, kControlMessage, 0, 0);
  std::optional<Client::Read> r;
  while ((r = client->ReadMessage(Deadline())) && r->ok) {
  }
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->ok);
  EXPECT_TRUE(sim.WaitForLog("Отключен", Deadline()));

  EXPECT_EQ(Steer(UniqueName(), L"--quit"), 1) << "no simulator serves that pipe";
  ASSERT_EQ(Steer(name, L"--quit"), 0);
  EXPECT_EQ(sim.WaitForExit(Deadline()), 0);
}

TEST(Simulator, EndsCleanlyWhenItsLoopEndsAnyWayAndRefusesALogItCannotKeep) {
  const std::wstring name = UniqueName();
  Simulator sim(L"--pipe " + name);
  ASSERT_TRUE(sim.Started());
  auto client = Connect(name, sim);
  ASSERT_TRUE(client->Open()) << client->OpenError();
  ASSERT_TRUE(ReadFrame(*client)) << "the stream runs";
  // A quit that does not come through the window: the stream must still stop.
  ASSERT_TRUE(PostThreadMessageW(sim.ThreadId(), WM_QUIT, 0, 0));
  EXPECT_EQ(sim.WaitForExit(Deadline()), 0);

  Simulator unlogged(L"--pipe " + UniqueName(), L"C:\\no-such-folder-4170\\sim.log");
  ASSERT_TRUE(unlogged.Started());
  EXPECT_EQ(unlogged.WaitForExit(Deadline()), 2) << "a log that cannot be written is not reported";
}

}  // namespace
}  // namespace ts::sim
