#include <gtest/gtest.h>

#include "app/RateText.h"
#include "ui/Cp1251.h"

namespace ts {

TEST(SpeedText, WritesHigherDigitsThenASpaceThenThreePaddedDigits) {
  const std::string prefix = "Скорость приема данных  ";
  EXPECT_EQ(SpeedText(0), prefix + " 000 Байт/c");
  EXPECT_EQ(SpeedText(64), prefix + " 064 Байт/c");
  EXPECT_EQ(SpeedText(999), prefix + " 999 Байт/c");
  EXPECT_EQ(SpeedText(1000), prefix + "1 000 Байт/c");
  EXPECT_EQ(SpeedText(3840), prefix + "3 840 Байт/c");
  EXPECT_EQ(SpeedText(64000), prefix + "64 000 Байт/c");
  EXPECT_EQ(SpeedText(12345678), prefix + "12345 678 Байт/c");
}

TEST(SpeedText, WideTextIsTheSameText) {
  TSpeedWideText speedText;
  for (int64_t rate : {0LL, 64LL, 999LL, 1000LL, 64000LL, -1500LL, 12345678LL}) {
    const std::wstring& wide = speedText(rate);
    const std::u16string expected = Utf8ToUtf16(SpeedText(rate));
    EXPECT_EQ(std::u16string(wide.begin(), wide.end()), expected) << rate;
  }
}

TEST(SpeedText, UnitEndsInLatinC) {
  std::string text = SpeedText(0);
  EXPECT_EQ(text.back(), 'c');
}

TEST(DataRate, IsTheBytesOfOneSecondWithoutOverflow) {
  EXPECT_EQ(DataRate(0, 1000), 0);
  EXPECT_EQ(DataRate(64000, 1000), 64000);
  // 32-bit arithmetic would wrap here.
  EXPECT_EQ(DataRate(12345678, 1000), 12345678);
  EXPECT_EQ(DataRate(2147483647, 1000), 2147483647);
  EXPECT_EQ(DataRate(500, 500), 1000);
}

}  // namespace ts
