// The program on a system without DirectDraw: run with DDraw.dll disabled.

#include <gtest/gtest.h>

#include "screen/DisplayView.h"
#include "screen/PictureTools.h"
#include "screen/ScreenMirror.h"
#include "tests/windows/screen/ScreenTestUtil.h"

namespace ts {
namespace {

TEST(NoDirectDrawTest, TheWindowOpensAndTheMissingLibraryIsReportedOnce) {
  // Run with DDraw.dll disabled; with it loaded the test would prove nothing.
  if (HMODULE ddraw = LoadLibraryA("DDraw.dll")) {
    FreeLibrary(ddraw);
    FAIL() << "DDraw.dll loaded: this test must run with it disabled";
  }
  test::TErrorRecorder errors;
  test::TTestWindow form{512, 330, false};
  TDisplayView view;
  TScreenModel model;
  TScreenMirror mirror{view, model};
  TPictureTools tools{view, model};
  view.SetOptions(kMainWindowDisplayOptions);
  view.OnInitialize = Bind(&mirror, &TScreenMirror::DisplayViewInitialize);
  view.OnFinalize = Bind(&mirror, &TScreenMirror::DisplayViewFinalize);
  view.CreateWnd(form.Handle(), 96, 0, 326, 246);

  ShowWindow(form.Handle(), SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(form.Handle()));
  EXPECT_EQ(errors.Messages(), std::vector<std::string>{"DDraw.dll not loaded"});
  EXPECT_FALSE(view.CanDraw());
  EXPECT_FALSE(view.Initialized());
  EXPECT_EQ(view.BackSurface(), nullptr);
  EXPECT_EQ(view.DirectDrawObject(), nullptr);

  ShowWindow(form.Handle(), SW_HIDE);
  ShowWindow(form.Handle(), SW_SHOWNORMAL);
  RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  uint8_t report[64] = {};
  model.Take(report, 64);
  tools.ScreenClearSpeedButtonClick();
  tools.InsertBorderSpeedButtonClick();
  EXPECT_EQ(errors.Messages().size(), 1u);
  form.Destroy();
}

}  // namespace
}  // namespace ts
