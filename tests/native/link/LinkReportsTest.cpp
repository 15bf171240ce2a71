#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/LinkReports.h"
#include "ui/Cp1251.h"
#include "ui/SystemError.h"

namespace ts {
namespace {

std::vector<uint8_t> Command(uint16_t code, uint16_t a1, uint16_t a2, uint16_t a3) {
  const TOutputReport out = BuildCommandReport(code, a1, a2, a3);
  return {out.begin(), out.end()};
}

std::vector<uint8_t> Message(uint16_t x, uint16_t y, int32_t seconds, const std::string& utf8) {
  const TOutputReport out = BuildMessageReport(x, y, seconds, Utf8ToCp1251(utf8));
  return {out.begin(), out.end()};
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> head) {
  std::vector<uint8_t> out(kOutputReportSize, 0);
  std::copy(head.begin(), head.end(), out.begin());
  return out;
}

}  // namespace

TEST(CommandReport, FieldsAreLittleEndianAndTheRestIsZero) {
  // ID, code, gain identifier, 1500 (0x05DC), 0.
  EXPECT_EQ(Command(0xAA44, 0x2C0D, 1500, 0), Bytes({0x0F, 0x44, 0xAA, 0x0D, 0x2C, 0xDC, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Command(0xAAEE, 0x0800, 0, 0), Bytes({0x0F, 0xEE, 0xAA, 0x00, 0x08}));
  EXPECT_EQ(Command(0xAA33, 3, 0xFFFF, 0x1234),
            Bytes({0x0F, 0x33, 0xAA, 0x03, 0x00, 0xFF, 0xFF, 0x34, 0x12}));
}

TEST(MessageReport, PlacesPositionTimeAndText) {
  // ID, marker, X 50, Y 60, 4 s = 200 fiftieths, "ABC".
  EXPECT_EQ(Message(50, 60, 4, "ABC"),
            Bytes({0x07, 0x55, 0xAA, 0x32, 0x00, 0x3C, 0x00, 0xC8, 0x00, 0x41, 0x42, 0x43}));
  auto twenty = Message(0, 0, 20, "");
  EXPECT_EQ(twenty[7], 0xE8);
  EXPECT_EQ(twenty[8], 0x03);
  // Only the low 16 bits of the time in fiftieths are sent.
  auto wrapped = Message(0, 0, 1311, "");  // 65550 -> 14
  EXPECT_EQ(wrapped[7], 14);
  EXPECT_EQ(wrapped[8], 0);
}

TEST(MessageReport, TextFieldHoldsAtMost56BytesWithoutTerminatorWhenFull) {
  EXPECT_EQ(Message(1, 2, 1, ""), Bytes({0x07, 0x55, 0xAA, 1, 0, 2, 0, 50, 0}));
  std::string full(56, 'x');
  auto r56 = Message(0, 0, 1, full);
  EXPECT_EQ(std::string(r56.begin() + 9, r56.end()), full);
  std::string sixty = full + "WXYZ";
  EXPECT_EQ(Message(0, 0, 1, sixty), r56);
  auto cyr = Message(0, 0, 1, "Сообщение на экране прибора");
  EXPECT_EQ(cyr[9], 0xD1);       // С
  EXPECT_EQ(cyr[10], 0xEE);      // о
  EXPECT_EQ(cyr[9 + 27], 0);     // 27 characters, then zeros
  EXPECT_EQ(cyr[9 + 26], 0xE0);  // а
}

TEST(LinkTexts, LogLinesPacketTextAndSystemMessages) {
  EXPECT_EQ(LogLine(1, "Arrival TS4170"), "001  Arrival TS4170");
  EXPECT_EQ(LogLine(42, "x"), "042  x");
  EXPECT_EQ(LogLine(1001, "x"), "1001  x");
  EXPECT_EQ(PacketText(64), " Пакет 64 байта");
  EXPECT_EQ(PacketText(0), " Пакет 0 байта");
  TPacketWideText packetText;
  for (uint16_t size : {64, 64, 0, 63, 64}) {
    const std::wstring& wide = packetText(size);
    EXPECT_EQ(std::u16string(wide.begin(), wide.end()), Utf8ToUtf16(PacketText(size))) << size;
  }
  EXPECT_EQ(TrimSystemMessage("The handle is invalid.\r\n"), "The handle is invalid");
  EXPECT_EQ(TrimSystemMessage("Ok... \t"), "Ok");
  EXPECT_EQ(TrimSystemMessage(" . "), "");
  EXPECT_EQ(TrimSystemMessage("Устройство не готово.\r\n"), "Устройство не готово");
}

// A read error that lasts must not flood the log (which clears itself after a
// thousand lines, taking the lines that explain what happened with it).
TEST(LinkTexts, AReadErrorRepeatedIsLoggedOnceAndSummedUpWhenSomethingElseComes) {
  using Lines = std::vector<std::string>;
  struct Event {
    uint32_t Code;  // 0: a read brought a report
    Lines Logged;
  };
  struct Case {
    const char* Name;
    std::vector<Event> Events;
  };
  const Lines none;
  const Case cases[] = {
      {"repeated, then a report",
       {{31, {"Ошибка: A"}}, {31, none}, {31, none}, {0, {"Ошибка: A (повторено 2 раз)"}}, {0, none}}},
      {"once, then a report", {{31, {"Ошибка: A"}}, {0, none}}},
      {"repeated, then another error",
       {{31, {"Ошибка: A"}}, {31, none}, {22, {"Ошибка: A (повторено 1 раз)", "Ошибка: B"}}, {22, none}}},
      {"the same error after a report is new again", {{31, {"Ошибка: A"}}, {0, none}, {31, {"Ошибка: A"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TReadErrorLog log;
    for (const Event& e : c.Events) {
      EXPECT_EQ(e.Code == 0 ? log.Success() : log.Error(e.Code == 31 ? "A" : "B"), e.Logged);
    }
  }
}

}  // namespace ts
