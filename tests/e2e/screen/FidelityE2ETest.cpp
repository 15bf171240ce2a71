// The mirror against the virtual instrument: whatever the instrument's screen
// shows, after whatever the program made it do, the program shows too, pixel for
// pixel and with its margins, through its own clear and frame tools and through
// a lost and regained connection.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "tests/e2e/support/Harness.h"
#include "tests/e2e/support/Steps.h"

namespace ts::e2e {
namespace {

using namespace std::chrono_literals;

class Fidelity : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument.Server().Plug();
    program.emplace();
    ASSERT_TRUE(WaitFor([&] { return program->StatusPanel(0) == kConnected; })) << program->StatusPanel(0);
    UncoverDisplay(*program);
  }
  void TearDown() override {
    if (program) {
      EXPECT_TRUE(program->Alive());
      EXPECT_TRUE(program->Close());
    }
  }

  // Sends the instrument's screen once and expects exactly it in the screen area.
  // A picture that matches before the frame has arrived (a step that left the
  // screen as it was) proves nothing, and the frame's reports would still be on
  // their way into the next step: so first every report is taken (one hand-over
  // each).
  void ExpectMirrored(const char* step) {
    SCOPED_TRACE(step);
    expected.DrawScreen(instrument.CurrentScreen());
    const uint64_t before = program->PathCounts().HandOvers;
    const size_t sent = instrument.SendFrame();
    EXPECT_TRUE(WaitFor([&] { return program->PathCounts().HandOvers - before >= sent; }))
        << "the program took " << program->PathCounts().HandOvers - before << " of the frame's " << sent
        << " reports";
    Difference d;
    EXPECT_TRUE(WaitForPicture(*program, expected, d)) << d.Describe();
  }

  // A click that must reach the instrument as one output report and change its screen.
  void Press(HWND button, const char* step) {
    SCOPED_TRACE(step);
    ASSERT_TRUE(button);
    const sim::Screen before = instrument.CurrentScreen();
    program->Click(button);
    ASSERT_TRUE(instrument.TakeOutputReport());
    EXPECT_FALSE(instrument.CurrentScreen() == before) << "the instrument's screen did not change";
    ExpectMirrored(step);
  }

  VirtualInstrument instrument;
  std::optional<Program> program;
  Surface expected;
};

TEST_F(Fidelity, KeysGainAndMessageAreMirroredAndTheToolsRepaintTheMargins) {
  Program& p = *program;
  ExpectMirrored("start");

  Press(p.Control(p.Main(), L"Настройка"), "settings");
  Press(DownKey(p), "next setting");
  Press(RightKey(p), "setting changed");
  Press(p.Control(p.Main(), L"Данные"), "data");
  Press(DownKey(p), "next record");
  Press(p.Control(p.Main(), L"Ввод"), "record loaded");
  Press(p.Control(p.Main(), L"УЗ контроль"), "A-scan");
  Press(RightKey(p), "measuring cursor");

  const int gain = instrument.Gain();
  Press(p.Control(p.Main(), L"F2"), "gain by key");
  Press(p.Control(p.Main(), L"F2"), "gain by key again");
  ASSERT_EQ(std::abs(instrument.Gain() - gain), 200);
  // The direct control dialog is never shown, yet its gain button sends the
  // field's 44 dB.
  HWND control = OwnWindow(p, L"Прямое управление прибором ТС4170");
  ASSERT_TRUE(control);
  HWND panel = GetWindow(control, GW_CHILD);
  ASSERT_TRUE(panel);
  Press(ChildWindowFromPointEx(panel, POINT{170, 30}, CWP_SKIPTRANSPARENT), "gain set by the dialog");
  EXPECT_EQ(instrument.Gain(), 4400);

  p.Click(p.Control(p.Main(), L"Послать сообщение"));
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    return (dialog = OwnWindow(p, L"Вывод окна сообщения на экран ТС4170")) && IsWindowVisible(dialog);
  }));
  Press(p.Control(dialog, L"Послать"), "message");
  EXPECT_TRUE(instrument.Message());
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(dialog); }));
  UncoverDisplay(p);
  ExpectMirrored("message, dialog closed");

  // Clear turns everything white, margins too; reports bring back only the screen.
  p.Click(p.Control(p.Main(), L"Очистка экрана"));
  expected.Clear();
  Difference d;
  EXPECT_TRUE(WaitForPicture(p, expected, d)) << "clear: " << d.Describe();
  ExpectMirrored("redrawn after the clear");

  // The frame covers the outer two pixels and stays under new reports, with the
  // cleared ring inside it.
  p.Click(p.Control(p.Main(), L"Вставить рамку"));
  expected.Border();
  EXPECT_TRUE(WaitForPicture(p, expected, d)) << "frame: " << d.Describe();
  EXPECT_FALSE(expected.Black(2, 100));
  Press(LeftKey(p), "a key after the frame");
}

TEST_F(Fidelity, UnplugAndReplugWhileStreamingAreLoggedInOrderAndMirroringResumes) {
  Program& p = *program;
  instrument.StartStream();
  expected.DrawScreen(instrument.CurrentScreen());
  Difference d;
  ASSERT_TRUE(WaitForPicture(p, expected, d)) << d.Describe();

  const size_t before = LogTexts(p).size();
  instrument.Server().Unplug();
  // The panel may say so at the read error already; the log's state line ends it.
  ASSERT_TRUE(WaitFor([&] {
    const auto now = LogTexts(p);
    return p.StatusPanel(0) == kDisconnected && now.size() > before &&
           now.back() == L"DeviceChange Нет связи с прибором";
  }));
  // Unplug, removal and the new state, in this order. The read thread may log one
  // error anywhere before the new state: the pipe fails its read at once, before
  // the program hears of the device change.
  auto texts = LogTexts(p);
  ASSERT_GE(texts.size(), before + 3);
  std::vector<std::wstring> events;
  int errors = 0;
  for (size_t i = before; i < texts.size(); ++i)
    if (texts[i].rfind(L"Ошибка: ", 0) == 0)
      ++errors;
    else
      events.push_back(texts[i]);
  EXPECT_EQ(events, (std::vector<std::wstring>{L"Unplug TS4170", L"Removal TS4170",
                                               L"DeviceChange Нет связи с прибором"}));
  EXPECT_LE(errors, 1);
  EXPECT_EQ(texts.back(), L"DeviceChange Нет связи с прибором");
  EXPECT_TRUE(p.Alive());

  const size_t unplugged = texts.size();
  instrument.Server().Plug();
  ASSERT_TRUE(WaitFor([&] { return p.StatusPanel(0) == kConnected; }));
  texts = LogTexts(p);
  ASSERT_GE(texts.size(), unplugged + 2);
  EXPECT_EQ(texts[texts.size() - 2], L"Arrival TS4170");
  EXPECT_EQ(texts.back(), L"DeviceChange ТС4170 подключен");

  // The stream never stopped; the new connection mirrors it and carries keys.
  const sim::Screen old = instrument.CurrentScreen();
  p.Click(p.Control(p.Main(), L"Помощь"));
  ASSERT_TRUE(instrument.TakeOutputReport());
  ASSERT_FALSE(instrument.CurrentScreen() == old);
  expected.DrawScreen(instrument.CurrentScreen());
  EXPECT_TRUE(WaitForPicture(p, expected, d)) << d.Describe();
  instrument.StopStream();
}

// Any HID device's coming and going is logged, but only the instrument is taken:
// another product of the same vendor leaves the connection and the mirror alone.
// Over HID the property listing is the real device's, caps and strings.
TEST_F(Fidelity, AnotherHidDeviceIsLoggedAndIgnoredAndTheListingShowsTheRealDevice) {
  if (!OverHid()) GTEST_SKIP() << "a second device needs the HID transport";
  Program& p = *program;
  instrument.StartStream();
  sim::HidServer other(0x4171, TransportUnderTest().hidTool);
  for (const bool plug : {true, false}) {
    SCOPED_TRACE(plug ? "arrival" : "removal");
    const size_t before = LogTexts(p).size();
    plug ? other.Plug() : other.Unplug();
    ASSERT_TRUE(WaitFor([&] { return LogTexts(p).size() >= before + 2; }));
    const auto texts = LogTexts(p);
    EXPECT_EQ(std::vector<std::wstring>(texts.begin() + before, texts.end()),
              (std::vector<std::wstring>{plug ? L"Arrival TS4170" : L"Removal TS4170",
                                         L"DeviceChange ТС4170 подключен"}));
    EXPECT_EQ(p.StatusPanel(0), kConnected);
    // A key still reaches the instrument, and its answer the mirror.
    p.Click(p.Control(p.Main(), L"Помощь"));
    ASSERT_TRUE(instrument.TakeOutputReport());
    expected.DrawScreen(instrument.CurrentScreen());
    Difference d;
    EXPECT_TRUE(WaitForPicture(p, expected, d)) << d.Describe();
  }
  instrument.StopStream();

  HWND properties = p.Control(p.Link(), L"Свойства");
  ASSERT_TRUE(properties);
  const size_t before = p.MemoLines().size();
  p.Click(properties);
  ASSERT_TRUE(WaitFor([&] { return p.MemoLines().size() >= before + 57; }));
  const auto lines = p.MemoLines();
  std::vector<std::wstring> listed;
  for (size_t k = before; k < lines.size(); ++k) {
    listed.push_back(lines[k].size() > 5 ? lines[k].substr(5) : L"");
    if (listed.back().rfind(L"DeviceStrings", 0) == 0) std::wprintf(L"listing: %ls\n", listed.back().c_str());
  }
  for (const wchar_t* text : {L"Attributes.VendorID     = 05555h", L"Attributes.ProductID    = 04170h",
                              L"HIDCaps.InputReportByteLength  = 65", L"HIDCaps.OutputReportByteLength = 65"})
    EXPECT_NE(std::find(listed.begin(), listed.end(), text), listed.end()) << "not listed";
}

}  // namespace
}  // namespace ts::e2e
