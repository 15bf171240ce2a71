#include <gtest/gtest.h>

#include "ui/Cp1251.h"
#include "ui/Exception.h"

namespace ts {

TEST(ErrorReportText, AppendsFullStopOnlyAfterCharactersAboveIt) {
  EXPECT_EQ(ErrorReportText(""), "");
  EXPECT_EQ(ErrorReportText("Surface cannot be made"), "Surface cannot be made.");
  EXPECT_EQ(ErrorReportText("Done."), "Done.");
  EXPECT_EQ(ErrorReportText("value -"), "value -");   // '-' (0x2D) lies below '.'
  EXPECT_EQ(ErrorReportText("Вопрос?"), "Вопрос?.");  // '?' (0x3F) lies above
  EXPECT_EQ(ErrorReportText("Ошибка"), "Ошибка.");
}

TEST(Format, FormatsLikePrintf) {
  EXPECT_EQ(Format("%s cannot be made", "Surface"), "Surface cannot be made");
  EXPECT_EQ(Format("Display mode cannot be changed (%dx%d %dbit)", 1024, 768, 24),
            "Display mode cannot be changed (1024x768 24bit)");
}

TEST(Cp1251, EncodesRussianAndReplacesWhatItCannotHold) {
  EXPECT_EQ(Utf8ToCp1251("ABC"), "ABC");
  EXPECT_EQ(Utf8ToCp1251("Сообщение"), "\xD1\xEE\xEE\xE1\xF9\xE5\xED\xE8\xE5");
  EXPECT_EQ(Utf8ToCp1251("Ёё№"), "\xA8\xB8\xB9");
  EXPECT_EQ(Utf8ToCp1251("€"), "\x88");
  EXPECT_EQ(Utf8ToCp1251("日本"), "??");
  EXPECT_EQ(Utf16ToCp1251(u"мкс"), "\xEC\xEA\xF1");
  EXPECT_EQ(Utf16ToCp1251(u"\U0001F600"), "?");  // one character, one byte
}

TEST(Cp1251, EveryByteRoundTripsExceptTheUnassignedOne) {
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    if (b == 0x98) {
      EXPECT_EQ(Cp1251ToUtf8(one), "\xEF\xBF\xBD");
      continue;
    }
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), one) << "byte " << b;
  }
}

TEST(Utf, MalformedUtf8BecomesReplacementCharacter) {
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xFF"), u"\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("Дефектоскоп ТС4170")), "Дефектоскоп ТС4170");
}

}  // namespace ts
