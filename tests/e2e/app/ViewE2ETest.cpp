// The large view and the PC keyboard against the virtual instrument: the enlarged
// picture is the instrument's screen with every pixel an exact square, full screen
// covers the monitor and Esc gives the window back, every mapped key sends what
// its on-screen key sends and nothing typed into a dialog reaches the instrument.
// At any dpi the main window's mirror is the picture at the whole enlargement
// that dpi allows (run the executable in a prefix with LogPixels set).

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "tests/e2e/support/Harness.h"
#include "tests/e2e/support/Steps.h"

namespace ts::e2e {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kLargeViewCaption[] = L"Экран ТС4170";

// Pixels of `picture` that are not `expected` enlarged `scale` times.
int ScaledDifferences(const Picture& picture, const Surface& expected, int scale) {
  if (picture.Width != kViewWidth * scale || picture.Height != kViewHeight * scale) return -1;
  int count = 0;
  for (int y = 0; y < picture.Height; ++y)
    for (int x = 0; x < picture.Width; ++x)
      count += picture.At(x, y) != (expected.Black(x / scale, y / scale) ? 0x000000u : 0xFFFFFFu);
  return count;
}

// The picture is centred in the large view's client area at a whole scale.
RECT CentredPicture(HWND window, int scale) {
  RECT client;
  GetClientRect(window, &client);
  const int w = kViewWidth * scale, h = kViewHeight * scale;
  const int left = (client.right - w) / 2, top = (client.bottom - h) / 2;
  return RECT{left, top, left + w, top + h};
}

void Key(HWND window, UINT key, bool repeat = false) {
  PostMessageW(window, WM_KEYDOWN, key, 1 | (repeat ? LPARAM{1} << 30 : 0));
  if (!repeat) PostMessageW(window, WM_KEYUP, key, LPARAM{1} | LPARAM{3} << 30);
}

class View : public ::testing::Test {
 protected:
  void SetUp() override {
    // Screen coordinates of another process's windows, unscaled at any dpi.
    SetProcessDPIAware();
    instrument.Server().Plug();
    program.emplace();
    ASSERT_TRUE(WaitFor([&] { return program->StatusPanel(0) == kConnected; })) << program->StatusPanel(0);
    UncoverDisplay(*program);
    expected.DrawScreen(instrument.CurrentScreen());
    instrument.SendFrame();
  }
  void TearDown() override {
    if (program) {
      EXPECT_TRUE(program->Alive());
      EXPECT_TRUE(program->Close());
    }
  }

  HWND OpenLargeView() {
    Key(program->Main(), VK_F9);
    HWND view = nullptr;
    EXPECT_TRUE(
        WaitFor([&] { return (view = OwnWindow(*program, kLargeViewCaption)) && IsWindowVisible(view); }));
    return view;
  }

  // The next command report, as the pipe carried it.
  std::optional<sim::Report> NextReport() {
    return instrument.Server().WaitForOutputReport(sim::Transport::Clock::now() + 10s);
  }

  VirtualInstrument instrument;
  std::optional<Program> program;
  Surface expected;
};

TEST_F(View, LargeViewShowsTheScreenEnlargedPixelForPixelAtFixedScalesAndFit) {
  HWND view = OpenLargeView();
  ASSERT_TRUE(view);
  struct Case {
    const char* name;
    UINT key;     // '1'..'8' or '0' for fit
    SIZE client;  // set before the key; {0, 0} keeps what the scale sized
    int scale;
  };
  const Case cases[] = {
      {"1x", '1', {0, 0}, 1},
      {"3x", '3', {0, 0}, 3},
      // 1000 / 326 = 3 across but 700 / 246 = 2 down: the smaller wins.
      {"fit", '0', {1000, 700}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.client.cx) {
      RECT frame{0, 0, c.client.cx, c.client.cy};
      AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(view, GWL_STYLE)), FALSE, 0);
      SetWindowPos(view, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER);
    }
    Key(view, c.key);
    SetForegroundWindow(view);
    int differences = -1;
    EXPECT_TRUE(WaitFor([&] {
      differences =
          ScaledDifferences(CaptureClientOf(view, CentredPicture(view, c.scale)), expected, c.scale);
      return differences == 0;
    })) << differences
        << " pixels differ";
  }
  // The local tools reach the large view through the same present, and so does a
  // frame that changes only some rows: the gain in the header and the trace.
  program->Click(program->Control(program->Main(), L"Очистка экрана"));
  expected.Clear();
  const char* steps[] = {"clear", "frame", "gain"};
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    if (step != steps[0]) {
      if (step == steps[2]) {
        program->Click(program->Control(program->Main(), L"F1"));
        ASSERT_TRUE(instrument.TakeOutputReport());
      }
      expected.DrawScreen(instrument.CurrentScreen());
      instrument.SendFrame();
    }
    int differences = -1;
    EXPECT_TRUE(WaitFor([&] {
      return (differences = ScaledDifferences(CaptureClientOf(view, CentredPicture(view, 2)), expected, 2)) ==
             0;
    })) << differences
        << " pixels differ";
  }
}

TEST_F(View, FullScreenCoversTheMonitorAndEscRestoresTheWindow) {
  HWND view = OpenLargeView();
  ASSERT_TRUE(view);
  RECT before;
  GetWindowRect(view, &before);
  MONITORINFO monitor{sizeof monitor};
  GetMonitorInfoW(MonitorFromWindow(view, MONITOR_DEFAULTTONEAREST), &monitor);

  Key(view, VK_F11);
  RECT now{};
  EXPECT_TRUE(WaitFor([&] {
    GetWindowRect(view, &now);
    return EqualRect(&now, &monitor.rcMonitor) && !(GetWindowLongPtrW(view, GWL_STYLE) & WS_CAPTION);
  })) << now.left
      << "," << now.top << " " << now.right << "x" << now.bottom;

  Key(view, VK_ESCAPE);
  EXPECT_TRUE(WaitFor([&] {
    GetWindowRect(view, &now);
    return EqualRect(&now, &before) && (GetWindowLongPtrW(view, GWL_STYLE) & WS_CAPTION);
  })) << now.left
      << "," << now.top << " " << now.right << "x" << now.bottom;
}

TEST_F(View, EveryMappedKeySendsWhatItsOnScreenKeySends) {
  Program& p = *program;
  struct Mapping {
    UINT key;
    HWND button;
    uint16_t mask;
  };
  // Glyph keys are found where they sit, at any dpi.
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  auto at = [&](int x, int y) { return ControlAt(p, MulDiv(x, dpi, 96), MulDiv(y, dpi, 96)); };
  const Mapping map[] = {
      {VK_UP, at(462, 12), 0x0010},
      {VK_DOWN, at(462, 76), 0x0004},
      {VK_LEFT, at(444, 44), 0x0008},
      {VK_RIGHT, at(484, 44), 0x0020},
      {VK_RETURN, p.Control(p.Main(), L"Ввод"), 0x0001},
      {VK_F1, p.Control(p.Main(), L"F1"), 0x0100},
      {VK_F2, p.Control(p.Main(), L"F2"), 0x0080},
      {VK_F3, p.Control(p.Main(), L"F3"), 0x4000},
      {VK_F4, p.Control(p.Main(), L"F4"), 0x0002},
      {VK_F5, p.Control(p.Main(), L"Настройка"), 0x0800},
      {VK_F6, p.Control(p.Main(), L"УЗ контроль"), 0x0400},
      {VK_F7, p.Control(p.Main(), L"Данные"), 0x2000},
      {VK_F8, p.Control(p.Main(), L"Помощь"), 0x1000},
      {VK_PRIOR, at(90, 268), 0x0200},
      {VK_NEXT, at(420, 268), 0x0040},
  };
  // Focus on the check box, whose own use of the arrows and Enter the map overrides.
  HWND focused = p.Control(p.Main(), L"Вывод картинки");
  for (const Mapping& m : map) {
    SCOPED_TRACE(m.key);
    ASSERT_TRUE(m.button);
    p.Click(m.button);
    auto clicked = NextReport();
    ASSERT_TRUE(clicked);
    Key(focused, m.key);
    auto typed = NextReport();
    ASSERT_TRUE(typed);
    EXPECT_EQ(*typed, *clicked);
    EXPECT_EQ((*typed)[0], 0x0F);
    EXPECT_EQ((*typed)[3] | (*typed)[4] << 8, m.mask);
  }
  // A repeat that finds no send pending is one report. The key's button is
  // disabled until its send, and the dropping of its queued repeats, is over.
  HWND f1 = p.Control(p.Main(), L"F1");
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(f1) != FALSE; }));
    Key(focused, VK_F1, true);
    auto repeat = NextReport();
    ASSERT_TRUE(repeat);
    EXPECT_EQ((*repeat)[3] | (*repeat)[4] << 8, 0x0100);
  }
  EXPECT_EQ(SendMessageW(focused, BM_GETCHECK, 0, 0), BST_CHECKED) << "the check box took a key";
}

TEST_F(View, RepeatsQueuedBehindASendAreDroppedAndDialogKeysNeverReachTheInstrument) {
  Program& p = *program;
  // With the program's thread held, a press and three repeats queue up behind it,
  // as repeats do behind a send that takes long; the one send drops them.
  DWORD thread = GetWindowThreadProcessId(p.Main(), nullptr);
  HANDLE handle = OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread);
  ASSERT_TRUE(handle);
  ASSERT_NE(SuspendThread(handle), static_cast<DWORD>(-1));
  PostMessageW(p.Main(), WM_KEYDOWN, VK_UP, 1);
  for (int i = 0; i < 3; ++i) Key(p.Main(), VK_UP, true);
  PostMessageW(p.Main(), WM_KEYUP, VK_UP, LPARAM{1} | LPARAM{3} << 30);
  // Keys typed into a dialog's field stay there.
  HWND dialog = OwnWindow(p, L"Вывод окна сообщения на экран ТС4170");
  HWND field = dialog ? FindWindowExW(dialog, nullptr, L"Edit", nullptr) : nullptr;
  if (field) {
    Key(field, VK_RETURN);
    Key(field, VK_F2);
    Key(field, VK_DOWN);
  }
  Key(p.Main(), VK_F1);
  ResumeThread(handle);
  CloseHandle(handle);

  auto first = NextReport();
  auto second = NextReport();
  ASSERT_TRUE(first && second);
  EXPECT_EQ((*first)[3] | (*first)[4] << 8, 0x0010);
  EXPECT_EQ((*second)[3] | (*second)[4] << 8, 0x0100) << "a queued repeat or a dialog key was sent";
  EXPECT_TRUE(field) << "no dialog field to type into";
}

TEST_F(View, MirrorIsTheScreenAtTheWholeScaleTheDpiAllows) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const int scale = std::max(dpi / 96, 1);
  HWND display = nullptr;
  for (HWND h = GetWindow(program->Main(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
    wchar_t name[64] = {};
    GetClassNameW(h, name, 64);
    if (std::wstring(name) == L"TDisplayView") display = h;
  }
  ASSERT_TRUE(display);
  RECT client;
  GetClientRect(display, &client);
  int differences = -1;
  EXPECT_TRUE(WaitFor([&] {
    return (differences = ScaledDifferences(CaptureClientOf(display, client), expected, scale)) == 0;
  })) << "at "
      << dpi << " dpi, " << differences << " pixels differ from " << scale << "x";
}

}  // namespace
}  // namespace ts::e2e
