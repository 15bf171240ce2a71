// The keypad, the toolbar commands and the message and sound dialogs end to end:
// the real program clicked through its windows, the reports read off the pipe or
// the HID device (TS_E2E_TRANSPORT).

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "sim/Transport.h"
#include "tests/e2e/support/Driver.h"
#include "tests/e2e/support/Harness.h"

namespace ts::e2e {
namespace {

using namespace std::chrono_literals;
using sim::Report;
using sim::Transport;

struct Command {
  uint16_t Code, Arg1, Arg2, Arg3;
  bool operator==(const Command&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Command& c) {
  return out << std::hex << c.Code << " " << c.Arg1 << " " << c.Arg2 << " " << c.Arg3;
}

uint16_t At16(const Report& r, size_t i) { return static_cast<uint16_t>(r[i] | r[i + 1] << 8); }

// The next output report, which must be a command report with zeros after its
// arguments.
std::optional<Command> NextCommand(Transport& server) {
  auto report = server.WaitForOutputReport(Transport::Clock::now() + 10s);
  if (!report || (*report)[0] != 0x0F) return std::nullopt;
  for (size_t i = 9; i < report->size(); ++i)
    if ((*report)[i] != 0) return std::nullopt;
  return Command{At16(*report, 1), At16(*report, 3), At16(*report, 5), At16(*report, 7)};
}

// A top-level window of the program's process with this caption.
HWND Window(const Program& program, const wchar_t* caption) {
  return FindOwnWindow(GetProcessId(program.Process()), caption);
}

// The main window's control at a point of its client area, for the keys that show
// only a picture.
HWND ControlAt(const Program& program, int x, int y) {
  return ChildWindowFromPointEx(program.Main(), POINT{x, y}, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
}

// Windows-1251 for the letters and signs the message test uses.
std::string Cp1251(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c >= 0x410 && c <= 0x44F ? c - 0x410 + 0xC0 : c);
  return out;
}

class Remote : public ::testing::Test {
 protected:
  void SetUp() override {
    server.Plug();
    program.emplace();
    ASSERT_TRUE(WaitFor([&] { return program->StatusPanel(0) == L"ТС4170 подключен !!!"; }));
  }
  void TearDown() override {
    if (program) {
      EXPECT_TRUE(program->Close());
    }
  }
  Transport server{TransportUnderTest()};
  std::optional<Program> program;
};

TEST_F(Remote, EveryKeySendsItsOwnMaskAndTheToolbarItsCommands) {
  struct Key {
    HWND button;
    uint16_t mask;
  };
  Program& p = *program;
  std::vector<Key> keys = {
      {p.Control(p.Main(), L"Настройка"), 0x0800},
      {p.Control(p.Main(), L"УЗ контроль"), 0x0400},
      {p.Control(p.Main(), L"Данные"), 0x2000},
      {p.Control(p.Main(), L"Помощь"), 0x1000},
      {ControlAt(p, 92, 268), 0x0200},
      {p.Control(p.Main(), L"F1"), 0x0100},
      {p.Control(p.Main(), L"F2"), 0x0080},
      {p.Control(p.Main(), L"F3"), 0x4000},
      {p.Control(p.Main(), L"F4"), 0x0002},
      {ControlAt(p, 422, 268), 0x0040},
      {ControlAt(p, 462, 12), 0x0010},
      {ControlAt(p, 444, 44), 0x0008},
      {ControlAt(p, 484, 44), 0x0020},
      {ControlAt(p, 462, 76), 0x0004},
      {p.Control(p.Main(), L"Ввод"), 0x0001},
  };
  for (const Key& key : keys) {
    ASSERT_TRUE(key.button) << std::hex << key.mask;
    ASSERT_NE(key.button, p.Main());
    p.Click(key.button);
    EXPECT_EQ(NextCommand(server), (Command{0xAAEE, key.mask, 0, 0})) << std::hex << key.mask;
  }
  p.Click(p.Control(p.Main(), L"Рестарт"));
  EXPECT_EQ(NextCommand(server), (Command{0xAAAA, 0, 0, 0}));
  HWND parameters = p.Control(p.Main(), L"Установить параметры прибора");
  ASSERT_TRUE(parameters);
  EXPECT_FALSE(IsWindowEnabled(parameters));
}

TEST_F(Remote, TheLockTogglesAndKeepsItsStateAcrossAReconnect) {
  Program& p = *program;
  HWND lock = p.Control(p.Main(), L"Блокировка клавиатуры прибора");
  ASSERT_TRUE(lock);
  p.Click(lock);
  EXPECT_EQ(NextCommand(server), (Command{0xAA11, 0, 0, 0}));
  p.Click(lock);
  EXPECT_EQ(NextCommand(server), (Command{0xAA22, 0, 0, 0}));
  p.Click(lock);
  EXPECT_EQ(NextCommand(server), (Command{0xAA11, 0, 0, 0}));
  server.Unplug();
  ASSERT_TRUE(WaitFor([&] { return p.StatusPanel(0) == L"Нет связи с прибором ???"; }));
  server.Plug();
  ASSERT_TRUE(WaitFor([&] { return p.StatusPanel(0) == L"ТС4170 подключен !!!"; }));
  p.Click(lock);
  EXPECT_EQ(NextCommand(server), (Command{0xAA22, 0, 0, 0})) << "the toggle was down before the reconnect";
}

TEST_F(Remote, TheSoundAndMessageDialogsSendWhatTheirFieldsHold) {
  Program& p = *program;
  p.Click(p.Control(p.Main(), L"Проиграть звук"));
  HWND sound = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (sound = Window(p, L"Вывод звуковых дорожек ТС4170")) && IsWindowVisible(sound); }));
  EXPECT_TRUE(GetWindowLongW(sound, GWL_EXSTYLE) & WS_EX_TOPMOST);
  HWND play = p.Control(sound, L"Играть");
  ASSERT_TRUE(play);
  p.Click(play);
  EXPECT_EQ(NextCommand(server), (Command{0xAA33, 3, 0, 0}));

  p.Click(p.Control(p.Main(), L"Послать сообщение"));
  HWND message = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    return (message = Window(p, L"Вывод окна сообщения на экран ТС4170")) && IsWindowVisible(message);
  }));
  HWND send = p.Control(message, L"Послать");
  ASSERT_TRUE(send);
  p.Click(send);
  auto report = server.WaitForOutputReport(Transport::Clock::now() + 10s);
  ASSERT_TRUE(report);
  const std::string text = Cp1251(L"Сообщение на экране прибора");
  EXPECT_EQ((*report)[0], 0x07);
  EXPECT_EQ(At16(*report, 3), 50);
  EXPECT_EQ(At16(*report, 5), 60);
  EXPECT_EQ(At16(*report, 7), 4 * 50) << "four seconds in fiftieths";
  EXPECT_EQ(std::string(report->begin() + 9, report->begin() + 9 + text.size()), text);
  EXPECT_EQ((*report)[9 + text.size()], 0);
  EXPECT_TRUE(IsWindowVisible(message)) << "sending does not close the dialog";
}

}  // namespace
}  // namespace ts::e2e
