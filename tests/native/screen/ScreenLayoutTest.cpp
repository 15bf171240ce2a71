#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "screen/ScreenLayout.h"

namespace ts {
namespace {

TEST(ScreenLayoutTest, PlacementTableMatchesTheFourByteRanges) {
  for (int k = 0; k < 60; ++k) {
    auto first = kPlacement[0][k];
    auto second = kPlacement[1][k];
    if (k < 40) {
      EXPECT_EQ(first.x, 3 + 8 * k);
      EXPECT_EQ(first.row, 0);
    } else {
      EXPECT_EQ(first.x, 3 + 8 * (k - 40));
      EXPECT_EQ(first.row, 1);
    }
    if (k < 20) {
      EXPECT_EQ(second.x, 163 + 8 * k);
      EXPECT_EQ(second.row, 1);
    } else {
      EXPECT_EQ(second.x, 3 + 8 * (k - 20));
      EXPECT_EQ(second.row, 2);
    }
  }
}

TEST(ScreenLayoutTest, TwoHalvesCoverTheirThreeLinesExactlyOnce) {
  std::set<std::pair<int, int>> covered;
  for (int half = 0; half < 2; ++half)
    for (int k = 0; k < 60; ++k)
      for (int bit = 0; bit < 8; ++bit)
        EXPECT_TRUE(covered.insert({kPlacement[half][k].row, kPlacement[half][k].x + bit}).second);
  EXPECT_EQ(covered.size(), 960u);
  EXPECT_EQ(covered.begin()->second, 3);
  EXPECT_EQ(covered.rbegin()->second, 322);
}

TEST(ScreenLayoutTest, GroupRowsAndHalfFlags) {
  EXPECT_EQ(GroupTopRow(0), 3);
  EXPECT_EQ(GroupTopRow(79) + 2, 242);  // last screen line
  EXPECT_EQ(GroupTopRow(80) + 2, 245);  // still inside the bottom margin
  EXPECT_GE(GroupTopRow(81), kPictureHeight);
  EXPECT_EQ(GroupTopRow(255), 3 + 765);
  EXPECT_EQ(HalfIndex(0), 0);
  EXPECT_EQ(HalfIndex(1), 1);
  EXPECT_EQ(HalfIndex(2), 1);
  EXPECT_EQ(HalfIndex(0xFF), 1);
}

TEST(ScreenLayoutTest, CopyTakesAtMost64BytesAndLeavesTheRest) {
  uint8_t area[80];
  std::memset(area, 0xAA, sizeof area);
  std::vector<uint8_t> report(100);
  for (size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(CopyScreenReport(area, report.data(), 100), 64u);
  EXPECT_EQ(area[63], 63);
  EXPECT_EQ(area[64], 0xAA);
  std::memset(area, 0xAA, sizeof area);
  EXPECT_EQ(CopyScreenReport(area, report.data(), 61), 61u);
  EXPECT_EQ(area[60], 60);
  EXPECT_EQ(area[61], 0xAA);
  EXPECT_EQ(CopyScreenReport(area, report.data(), 0), 0u);
  EXPECT_EQ(area[0], 0);
}

}  // namespace
}  // namespace ts
