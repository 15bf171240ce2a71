// Screen reports drawn onto the display control's back surface, read back pixel by
// pixel and compared with the placement rules written out independently here.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "screen/ScreenMirror.h"
#include "tests/windows/screen/ScreenTestUtil.h"

namespace ts {
namespace {

constexpr uint32_t kSentinel = 0x00123456;

using TReport = std::array<uint8_t, 64>;

TReport MakeReport(uint8_t group, uint8_t half, uint8_t seed) {
  TReport r{};
  for (int k = 0; k < 60; ++k) r[k] = static_cast<uint8_t>(seed + 37 * k);
  r[60] = group;
  r[61] = half;
  r[62] = 0xEE;
  r[63] = 0xEE;
  return r;
}

// The expected picture: the placement table of the four byte ranges, written out.
void Expect(std::vector<uint32_t>& picture, const TReport& r, uint32_t white) {
  int g = r[60];
  auto put = [&](int k, int x, int y) {
    if (y >= 246) return;
    for (int bit = 0; bit < 8; ++bit)
      picture[static_cast<size_t>(y * 326 + x + bit)] = (r[k] >> (7 - bit)) & 1 ? 0u : white;
  };
  if (r[61] == 0) {
    for (int k = 0; k < 40; ++k) put(k, 3 + 8 * k, 3 * g + 3);
    for (int k = 40; k < 60; ++k) put(k, 3 + 8 * (k - 40), 3 * g + 4);
  } else {
    for (int k = 0; k < 20; ++k) put(k, 163 + 8 * k, 3 * g + 4);
    for (int k = 20; k < 60; ++k) put(k, 3 + 8 * (k - 20), 3 * g + 5);
  }
}

class ScreenMirrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.SetOptions(kMainWindowDisplayOptions);
    view.OnInitialize = Bind(&mirror, &TScreenMirror::DisplayViewInitialize);
    view.OnFinalize = Bind(&mirror, &TScreenMirror::DisplayViewFinalize);
    view.CreateWnd(form.Handle(), 96, 0, 326, 246);
    ShowWindow(form.Handle(), SW_SHOWNORMAL);
    ASSERT_TRUE(view.CanDraw());
    Reset();
  }
  void TearDown() override { form.Destroy(); }

  void Reset() {
    view.BackSurface()->Fill(kSentinel);
    expected.assign(326 * 246, test::Raw(*view.BackSurface(), kSentinel));
  }
  void Render(const TReport& r, uint16_t size = 64) { model.Take(r.data(), size); }
  std::vector<uint32_t> Picture() { return test::ReadAll(*view.BackSurface()); }

  test::TTestWindow form{512, 330, false};
  TDisplayView view;
  TScreenModel model;
  TScreenMirror mirror{view, model};
  std::vector<uint32_t> expected;
};

TEST_F(ScreenMirrorTest, TileTableHoldsEveryByteValueAsEightPixels) {
  for (int v : {0x00, 0x01, 0x80, 0xA5, 0xFF}) {
    TDirectDrawSurface* tile = mirror.Tile(v);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->Width(), 8);
    EXPECT_EQ(tile->Height(), 1);
    EXPECT_TRUE(tile->SystemMemory());
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(test::ReadPixel(*tile, x, 0), (v >> (7 - x)) & 1 ? 0u : test::White(*tile)) << v;
  }
  for (int v = 0; v < 256; ++v) ASSERT_NE(mirror.Tile(v)->ISurface(), nullptr) << v;
  form.Destroy();
  for (int v = 0; v < 256; ++v) ASSERT_EQ(mirror.Tile(v), nullptr) << v;
}

TEST_F(ScreenMirrorTest, BothHalvesLandAtTheirPlaceForFirstMiddleLastAndMarginGroups) {
  for (uint8_t group : {0, 5, 79, 80}) {
    for (uint8_t half : {0, 1}) {
      Reset();
      TReport r = MakeReport(group, half, static_cast<uint8_t>(group + 7 * half));
      Render(r);
      Expect(expected, r, test::White(*view.BackSurface()));
      ASSERT_EQ(Picture(), expected) << "group " << int(group) << " half " << int(half);
    }
  }
}

TEST_F(ScreenMirrorTest, AFullFrameFillsTheScreenAreaAndNeverTheMargins) {
  for (int g = 0; g < 80; ++g)
    for (uint8_t half : {0, 1}) {
      TReport r = MakeReport(static_cast<uint8_t>(g), half, static_cast<uint8_t>(g * 3 + half));
      Render(r);
      Expect(expected, r, test::White(*view.BackSurface()));
    }
  auto picture = Picture();
  ASSERT_EQ(picture, expected);
  for (int y = 0; y < 246; ++y)
    for (int x = 0; x < 326; ++x)
      if (x < 3 || x > 322 || y < 3 || y > 242) {
        ASSERT_EQ(picture[static_cast<size_t>(y * 326 + x)], test::Raw(*view.BackSurface(), kSentinel));
      }
}

TEST_F(ScreenMirrorTest, GroupsPastTheMarginDrawNothing) {
  for (uint8_t group : {81, 82, 200, 255})
    for (uint8_t half : {0, 1, 0xFF}) Render(MakeReport(group, half, 1));
  EXPECT_EQ(Picture(), expected);
}

TEST_F(ScreenMirrorTest, AnyNonZeroHalfFlagIsTheSecondHalf) {
  Render(MakeReport(7, 1, 9));
  auto withOne = Picture();
  for (uint8_t flag : {2, 0xFF}) {
    Reset();
    Render(MakeReport(7, flag, 9));
    EXPECT_EQ(Picture(), withOne) << int(flag);
  }
}

TEST_F(ScreenMirrorTest, ShortAndEmptyReportsReuseTheBufferAndLongOnesStopAt64Bytes) {
  TReport first = MakeReport(4, 1, 3);
  Render(first);
  // 61 bytes: the half flag is still the previous report's.
  TReport second = MakeReport(6, 0, 11);
  Render(second, 61);
  TReport merged = second;
  merged[61] = first[61];
  merged[62] = first[62];
  merged[63] = first[63];
  Expect(expected, first, test::White(*view.BackSurface()));
  Expect(expected, merged, test::White(*view.BackSurface()));
  EXPECT_EQ(Picture(), expected);
  EXPECT_EQ(std::memcmp(model.Received().data(), merged.data(), 64), 0);

  // Size 0 draws the unchanged buffer once more.
  Reset();
  Render(MakeReport(9, 0, 0), 0);
  Expect(expected, merged, test::White(*view.BackSurface()));
  EXPECT_EQ(Picture(), expected);

  // Past 64 bytes nothing is taken.
  std::vector<uint8_t> longReport(200, 0x55);
  longReport[60] = 10;
  longReport[61] = 0;
  model.Take(longReport.data(), longReport.size());
  EXPECT_EQ(std::memcmp(model.Received().data(), longReport.data(), 64), 0);
  EXPECT_EQ(test::ReadPixel(*view.BackSurface(), 3, 33),
            test::White(*view.BackSurface()));  // 0x55: white, black, ...
  EXPECT_EQ(test::ReadPixel(*view.BackSurface(), 4, 33), 0u);
}

TEST_F(ScreenMirrorTest, NoSurfaceMeansCopyOnly) {
  form.Destroy();
  ASSERT_FALSE(view.CanDraw());
  TReport next = MakeReport(0, 0, 5);
  Render(next);  // no surface to draw on: copied all the same
  EXPECT_EQ(std::memcmp(model.Received().data(), next.data(), 64), 0);
}

TEST_F(ScreenMirrorTest, GroupZeroPresentsThePicture) {
  POINT origin{0, 0};
  ClientToScreen(view.Handle(), &origin);
  TReport r{};
  r[0] = 0xFF;  // the first eight pixels of line 0 black, the rest of the group white
  Render(r);
  HDC screen = GetDC(nullptr);
  bool shown = test::PumpUntil([&] {
    return GetPixel(screen, origin.x + 3, origin.y + 3) == RGB(0, 0, 0) &&
           GetPixel(screen, origin.x + 11, origin.y + 3) == RGB(255, 255, 255);
  });
  // Another group changes only the back surface.
  TReport other{};
  other[60] = 1;
  Render(other);
  EXPECT_NE(GetPixel(screen, origin.x + 3, origin.y + 6), RGB(255, 255, 255));
  ReleaseDC(nullptr, screen);
  EXPECT_TRUE(shown);
}

}  // namespace
}  // namespace ts
