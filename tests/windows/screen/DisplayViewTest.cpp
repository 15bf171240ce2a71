// The display control on a real form window, against Wine's DirectDraw.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "screen/DDrawConsts.h"
#include "screen/DisplayView.h"
#include "tests/windows/screen/ScreenTestUtil.h"

namespace ts {
namespace {

// Records the control's events, and what CanDraw said inside each.
class TEventLog : public TObject {
 public:
  explicit TEventLog(TDisplayView& view) : view_(view) {
    view.OnInitializing = Bind(this, &TEventLog::Initializing);
    view.OnInitialize = Bind(this, &TEventLog::Initialize);
    view.OnInitializeSurface = Bind(this, &TEventLog::InitializeSurface);
    view.OnFinalizeSurface = Bind(this, &TEventLog::FinalizeSurface);
    view.OnFinalize = Bind(this, &TEventLog::Finalize);
    view.OnRestoreSurface = Bind(this, &TEventLog::RestoreSurface);
  }
  std::vector<std::string> events;
  std::vector<bool> canDraw;
  bool objectsDuringFinalize = false;
  bool throwOnInitialize = false;
  int failInitializing = 0;  // so many initialisations fail, as DirectDraw would

 private:
  void Note(const char* name) {
    events.push_back(name);
    canDraw.push_back(view_.CanDraw());
  }
  void Initializing(TObject*) {
    Note("Initializing");
    if (failInitializing > 0 && failInitializing--) throw Exception("DirectDraw cannot be initialized");
  }
  void Initialize(TObject* sender) {
    EXPECT_EQ(sender, &view_);
    Note("Initialize");
    if (throwOnInitialize) throw Exception("Tile cannot be made");
  }
  void InitializeSurface(TObject*) { Note("InitializeSurface"); }
  void FinalizeSurface(TObject*) { Note("FinalizeSurface"); }
  void Finalize(TObject*) {
    Note("Finalize");
    objectsDuringFinalize =
        view_.DirectDrawObject() && view_.BackSurface() && view_.BackSurface()->ISurface();
  }
  void RestoreSurface(TObject*) { Note("RestoreSurface"); }
  TDisplayView& view_;
};

using Events = std::vector<std::string>;

class DisplayViewTest : public ::testing::Test {
 protected:
  void Create(int width = 326, int height = 246) {
    view.SetOptions(kMainWindowDisplayOptions);
    view.CreateWnd(form.Handle(), 96, 0, width, height);
  }
  void Show() {
    ShowWindow(form.Handle(), SW_SHOWNORMAL);
    UpdateWindow(form.Handle());
  }
  // Finalise while the event log still exists.
  void TearDown() override { form.Destroy(); }

  test::TErrorRecorder errors;
  test::TTestWindow form{512, 330, false};
  TDisplayView view;
  TEventLog log{view};
};

TEST_F(DisplayViewTest, InitialisesOnTheFirstShowingOnlyAndFinalisesWithTheForm) {
  Create();
  EXPECT_EQ(view.SurfaceWidth(), 326);
  EXPECT_EQ(view.SurfaceHeight(), 246);
  EXPECT_EQ(view.EffectiveOptions(), doWaitVBlank | doSystemMemory | doCenter);
  EXPECT_FALSE(view.CanDraw());
  EXPECT_EQ(view.BackSurface(), nullptr);
  EXPECT_EQ(view.DirectDrawObject(), nullptr);
  view.Flip();  // nothing to present yet
  EXPECT_TRUE(log.events.empty());

  Show();
  // The closing restore clears the picture, with Updating set meanwhile.
  EXPECT_EQ(log.events, (Events{"Initializing", "Initialize", "InitializeSurface", "RestoreSurface"}));
  EXPECT_EQ(log.canDraw, (std::vector<bool>{false, true, true, false}));
  ASSERT_TRUE(view.CanDraw());
  EXPECT_TRUE(view.Initialized());
  EXPECT_EQ(view.EffectiveOptions(), doWaitVBlank | doSystemMemory | doCenter);
  TDirectDrawSurface* back = view.BackSurface();
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Width(), 326);
  EXPECT_EQ(back->Height(), 246);
  EXPECT_TRUE(back->SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
  EXPECT_TRUE(view.PrimarySurface()->HasClipper());
  EXPECT_NE(view.Clipper(), nullptr);
  EXPECT_NE(view.Palette(), nullptr);
  for (uint32_t v : test::ReadAll(*back)) ASSERT_EQ(v, 0u);  // the picture starts black

  ShowWindow(form.Handle(), SW_HIDE);
  Show();
  // Not initialised again. On a palette screen the activation realises the palette,
  // and that restores the surfaces once more.
  EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "Initializing"), 1);
  log.events.resize(4);

  form.Destroy();
  EXPECT_EQ(log.events, (Events{"Initializing", "Initialize", "InitializeSurface", "RestoreSurface",
                                "FinalizeSurface", "Finalize"}));
  EXPECT_EQ(log.canDraw.back(), false);
  EXPECT_TRUE(log.objectsDuringFinalize);
  EXPECT_FALSE(view.CanDraw());
  EXPECT_EQ(view.BackSurface(), nullptr);
  EXPECT_EQ(view.DirectDrawObject(), nullptr);
  EXPECT_EQ(view.EffectiveOptions(), doWaitVBlank | doSystemMemory | doCenter);
  EXPECT_TRUE(errors.Messages().empty());
}

TEST_F(DisplayViewTest, InitializeWithoutAFormFailsAndLeavesNothing) {
  try {
    view.Initialize();
    FAIL();
  } catch (const EDisplayViewError& e) {
    EXPECT_STREQ(e.what(), "Form not found");
  }
  EXPECT_TRUE(view.InitializeCalled());
  EXPECT_FALSE(view.CanDraw());
  EXPECT_EQ(view.DirectDrawObject(), nullptr);
}

TEST_F(DisplayViewTest, AnErrorFromOnInitializeIsReportedAndLeavesTheControlInitialised) {
  log.throwOnInitialize = true;
  Create();
  Show();
  EXPECT_EQ(errors.Messages(), std::vector<std::string>{"Tile cannot be made"});
  EXPECT_TRUE(view.Initialized());
  EXPECT_TRUE(view.CanDraw());
  form.Destroy();  // the owed counterpart still comes
  EXPECT_EQ(log.events.back(), "Finalize");
}

TEST_F(DisplayViewTest, RestoreClearsBothSurfacesAndFiresItsEvent) {
  Create();
  Show();
  ASSERT_TRUE(view.CanDraw());
  view.BackSurface()->Fill(0xFFFFFF);
  log.events.clear();
  view.Restore();
  EXPECT_EQ(log.events, Events{"RestoreSurface"});
  for (uint32_t v : test::ReadAll(*view.BackSurface())) ASSERT_EQ(v, 0u);
  EXPECT_TRUE(view.CanDraw());
}

// A picture lost for good comes back by itself: the control initialises afresh, tiles
// and all, until it succeeds, and reports nothing beyond the first failure.
TEST(DisplayRecoveryTest, APictureLostForGoodComesBack) {
  struct {
    const char* fault;
    int failedInitialisations;
    bool wrongMode;
    std::vector<std::string> reported;
  } cases[] = {
      {"the first initialisations fail", 3, false, {"DirectDraw cannot be initialized"}},
      {"the colour depth changed under the surfaces", 0, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    test::TErrorRecorder errors;
    test::TTestWindow form{512, 330, false};
    TDisplayView view;
    TEventLog log{view};
    log.failInitializing = c.failedInitialisations;
    view.SetOptions(kMainWindowDisplayOptions);
    view.CreateWnd(form.Handle(), 96, 0, 326, 246);
    ShowWindow(form.Handle(), SW_SHOWNORMAL);
    if (c.wrongMode) {
      EXPECT_TRUE(view.CanDraw());
      view.PrimarySurface()->SimulateWrongMode();
      log.events.clear();
    }
    EXPECT_FALSE(view.CanDraw());
    EXPECT_TRUE(test::PumpUntil([&] { return view.CanDraw(); }, std::chrono::seconds(20)));
    EXPECT_EQ(errors.Messages(), c.reported);
    if (c.wrongMode) {
      // The owner frees its tiles and makes them anew.
      Events start(log.events.begin(), log.events.begin() + std::min<size_t>(log.events.size(), 4));
      EXPECT_EQ(start, (Events{"FinalizeSurface", "Finalize", "Initializing", "Initialize"}));
    } else {
      EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "Initializing"), 4);
    }
    form.Destroy();
  }
}

TEST_F(DisplayViewTest, ResizeRecreatesTheBackSurfaceWithoutInitializeOrFinalize) {
  Create();
  Show();
  view.BackSurface()->Fill(0xFFFFFF);
  log.events.clear();
  SetWindowPos(view.Handle(), nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(log.events, (Events{"FinalizeSurface", "InitializeSurface"}));
  EXPECT_EQ(view.SurfaceWidth(), 300);
  EXPECT_EQ(view.BackSurface()->Height(), 200);
  for (uint32_t v : test::ReadAll(*view.BackSurface())) ASSERT_EQ(v, 0u);
  EXPECT_TRUE(view.CanDraw());
}

TEST_F(DisplayViewTest, FlipCentresTheSurfaceTruncatingTowardZero) {
  view.SetAutoSize(false);
  view.SetSurfaceWidth(326);
  view.SetSurfaceHeight(246);
  Create(336, 246);  // 10 wider than the surface
  Show();
  ASSERT_TRUE(view.CanDraw());
  auto* driver = dynamic_cast<TDisplayViewDriverBlt*>(view.Driver());
  ASSERT_NE(driver, nullptr);
  POINT origin{0, 0};
  ClientToScreen(view.Handle(), &origin);
  RECT r = driver->Destination();
  EXPECT_EQ(r.left, origin.x + 5);
  EXPECT_EQ(r.top, origin.y);
  EXPECT_EQ(r.right - r.left, 326);

  view.SetSurfaceWidth(339);  // 3 wider than the control: -1.5 becomes -1
  view.SetSurfaceHeight(249);
  EXPECT_EQ(view.BackSurface()->Width(), 339);
  r = driver->Destination();
  EXPECT_EQ(r.left, origin.x + (336 - 339) / 2);
  EXPECT_EQ(r.left, origin.x - 1);
  EXPECT_EQ(r.top, origin.y - 1);
  EXPECT_EQ(r.bottom - r.top, 249);

  view.SetOptions(kMainWindowDisplayOptions & ~doCenter);  // taken over while initialised
  EXPECT_FALSE(view.EffectiveOptions() & doCenter);
  EXPECT_TRUE(view.EffectiveOptions() & doSystemMemory);
  r = driver->Destination();
  EXPECT_EQ(r.left, origin.x);
  view.SetOptions(kMainWindowDisplayOptions | doStretch);
  r = driver->Destination();
  EXPECT_EQ(r.right - r.left, 336);
  EXPECT_EQ(r.bottom - r.top, 246);
}

TEST_F(DisplayViewTest, FlipPresentsTheBackSurfaceInTheControl) {
  Create();
  Show();
  ASSERT_TRUE(view.CanDraw());
  TDirectDrawSurface& back = *view.BackSurface();
  back.Fill(0xFFFFFF);
  back.FillRect(RECT{0, 0, 2, 246}, 0);
  view.Flip();
  POINT origin{0, 0};
  ClientToScreen(view.Handle(), &origin);
  HDC screen = GetDC(nullptr);
  bool shown = test::PumpUntil([&] {
    return GetPixel(screen, origin.x + 100, origin.y + 100) == RGB(255, 255, 255) &&
           GetPixel(screen, origin.x + 1, origin.y + 100) == RGB(0, 0, 0);
  });
  ReleaseDC(nullptr, screen);
  EXPECT_TRUE(shown);
}

TEST_F(DisplayViewTest, RightClickAsksTheFormForItsMenu) {
  struct TReceiver : TObject {
    void Popup(int x, int y) { at.push_back(POINT{x, y}); }
    std::vector<POINT> at;
  } receiver;
  view.OnContextPopup = Bind(&receiver, &TReceiver::Popup);
  Create();
  SendMessageW(view.Handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(view.Handle()), MAKELPARAM(150, 120));
  ASSERT_EQ(receiver.at.size(), 1u);
  EXPECT_EQ(receiver.at[0].x, 150);
  EXPECT_EQ(receiver.at[0].y, 120);
}

TEST_F(DisplayViewTest, TheFormGetsItsWindowProcedureBackWhenTheControlGoes) {
  {
    TDisplayView temporary;
    temporary.CreateWnd(form.Handle(), 0, 0, 50, 50);
    Show();
    EXPECT_TRUE(temporary.Initialized());
  }
  // The form lives on without the control's hook: messages no longer reach it.
  ShowWindow(form.Handle(), SW_HIDE);
  Show();
  form.Destroy();
  EXPECT_TRUE(errors.Messages().empty());
}

TEST(DisplayOptionsTest, EffectiveSetStripsWhatWindowedUseCannotHave) {
  EXPECT_EQ(EffectiveOptionsOf(kMainWindowDisplayOptions), doWaitVBlank | doSystemMemory | doCenter);
  EXPECT_EQ(EffectiveOptionsOf(doAllowReboot | doWaitVBlank | doCenter | doDirectX7Mode | doHardware |
                               doSelectDriver),
            doWaitVBlank | doCenter);
  // Full screen keeps its own bits; system memory still rules out page flipping.
  EXPECT_EQ(EffectiveOptionsOf(doFullScreen | doFlip | doAllowReboot), doFullScreen | doFlip | doAllowReboot);
  EXPECT_EQ(EffectiveOptionsOf(doFullScreen | doFlip | doSystemMemory), doFullScreen | doSystemMemory);
  EXPECT_EQ(EffectiveOptionsOf(do3D | doDirectX7Mode | doRetainedMode | doHardware), do3D | doDirectX7Mode);
}

TEST(DisplayOptionsTest, DisplayModeSettingsCheckTheirValues) {
  TDisplayModeSettings display;
  display.SetBitCount(24);
  EXPECT_EQ(display.BitCount(), 24);
  try {
    display.SetBitCount(15);
    FAIL();
  } catch (const EDirectDrawError& e) {
    EXPECT_STREQ(e.what(), "It should be either of 8 or 16 or 24 or 32");
  }
  EXPECT_EQ(display.BitCount(), 24);
  display.SetWidth(-5);
  EXPECT_EQ(display.Width(), 0);
}

}  // namespace
}  // namespace ts
