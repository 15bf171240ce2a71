// Where forms land: a designed place that would leave the monitor's work area is
// moved inside it; one that fits is kept.

#include <gtest/gtest.h>
#include <windows.h>

#include "ui/Application.h"
#include "ui/Forms.h"

namespace ts {
namespace {

class TPlacedForm : public TForm {
 public:
  explicit TPlacedForm(POINT at) : at_(at) {}

 protected:
  void DefineWindow() override {
    Build(TFormDef{.Caption = L"Placed",
                   .Left = at_.x,
                   .Top = at_.y,
                   .ClientWidth = 295,
                   .ClientHeight = 92,
                   .Border = TBorderStyle::Dialog},
          {});
  }

 private:
  POINT at_;
};

TEST(FormPlacementTest, AFormThatWouldLeaveTheWorkAreaIsMovedInside) {
  TApplication application;
  application.Initialize();
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  struct {
    const char* where;
    POINT at;
    bool fits;
  } cases[] = {
      {"fits as designed", {40, 30}, true},
      {"under the bottom edge, as a fixed top of 602 on a 768-pixel screen", {406, work.bottom - 40}, false},
      {"past the right edge", {work.right - 100, 50}, false},
      {"above and left of the screen", {work.left - 300, work.top - 200}, false},
      {"far off every monitor", {5000, 5000}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    TPlacedForm form(c.at);
    form.Load();
    RECT r{};
    GetWindowRect(form.Handle(), &r);
    EXPECT_GE(r.left, work.left);
    EXPECT_GE(r.top, work.top);
    EXPECT_LE(r.right, work.right);
    EXPECT_LE(r.bottom, work.bottom);
    if (c.fits) {
      EXPECT_EQ(r.left, c.at.x);
      EXPECT_EQ(r.top, c.at.y);
    }
    form.DestroyHandle();
  }
}

}  // namespace
}  // namespace ts
