#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "sim/Commands.h"
#include "sim/Font.h"
#include "sim/Instrument.h"
#include "ui/Cp1251.h"

namespace ts::sim {
namespace {

using std::chrono::milliseconds;

Report CommandReport(uint16_t code, uint16_t a1 = 0, uint16_t a2 = 0, uint16_t a3 = 0) {
  Report r{};
  r[0] = 0x0F;
  const uint16_t words[] = {code, a1, a2, a3};
  for (int i = 0; i < 4; ++i) {
    r[1 + 2 * i] = uint8_t(words[i]);
    r[2 + 2 * i] = uint8_t(words[i] >> 8);
  }
  return r;
}

Report MessageReport(uint16_t x, uint16_t y, uint16_t duration, std::string_view cp1251) {
  Report r{};
  const uint8_t head[] = {0x07,
                          0x55,
                          0xAA,
                          uint8_t(x),
                          uint8_t(x >> 8),
                          uint8_t(y),
                          uint8_t(y >> 8),
                          uint8_t(duration),
                          uint8_t(duration >> 8)};
  std::memcpy(r.data(), head, sizeof head);
  std::memcpy(r.data() + 9, cp1251.data(), std::min<size_t>(cp1251.size(), 56));
  return r;
}

struct Fixture : ::testing::Test {
  Instrument instrument;
  SimTime now{1000};

  void Send(const Report& r) { instrument.HandleOutputReport(r.data(), r.size(), now); }
  void Key(uint16_t mask) { Send(CommandReport(kCodeKey, mask)); }
  const Screen& Render() { return instrument.Render(now); }

  // Whether the screen shows `text` at (x, y) exactly as the font draws it.
  static bool Shows(const Screen& s, int x, int y, std::string_view text, bool black = true) {
    Screen expected = s;
    DrawText(expected, x, y, text, black);
    const int w = TextWidth(Utf8ToUtf32(text));
    Screen erased = s;  // the glyph cells must hold the text and nothing else
    erased.Fill(x, y, x + w - 1, y + kGlyphHeight, !black);
    DrawText(erased, x, y, text, black);
    return expected == s && erased == s;
  }
};

using InstrumentScreen = Fixture;

TEST_F(InstrumentScreen, HeaderShowsGainWidthAndUnitsAsSet) {
  EXPECT_TRUE(Shows(Render(), 2, 2, "Ку 44.0 дБ", false));
  EXPECT_TRUE(Shows(Render(), 92, 2, "Ш 44.0мкс", false));

  Send(CommandReport(kCodeParameter, kParamGain, 1500));
  Send(CommandReport(kCodeParameter, kParamScreenWidth, 1000));
  EXPECT_TRUE(Shows(Render(), 2, 2, "Ку 15.0 дБ", false));
  EXPECT_TRUE(Shows(Render(), 92, 2, "Ш 100.0мкс", false));

  Send(CommandReport(kCodeParameter, kParamUnits, 1));
  EXPECT_EQ(instrument.Units(), 1);
  EXPECT_TRUE(Shows(Render(), 92, 2, "Ш 296.0ммH", false));  // 100 µs of steel, there and back
  EXPECT_TRUE(Shows(Render(), kScreenWidth - 18, Instrument::kReadoutY, "ммH"));
  Send(CommandReport(kCodeParameter, kParamUnits, 3));
  EXPECT_TRUE(Shows(Render(), kScreenWidth - 18, Instrument::kReadoutY, "ммН"));
  Send(CommandReport(kCodeParameter, kParamUnits, 4));
  EXPECT_EQ(instrument.Units(), 3) << "no fifth unit";
}

TEST_F(InstrumentScreen, ParameterValuesOutsideTheRangeAreClamped) {
  Send(CommandReport(kCodeParameter, kParamGain, 9000));
  EXPECT_EQ(instrument.Gain(), 8000);
  Send(CommandReport(kCodeParameter, kParamScreenWidth, 0));
  EXPECT_EQ(instrument.Width(), 10) << "a zero time base would put every echo at infinity";
  EXPECT_TRUE(Shows(Render(), 92, 2, "Ш 1.0мкс", false));
  Send(CommandReport(kCodeParameter, kParamScreenWidth, 65535));
  EXPECT_EQ(instrument.Width(), 19000);
  Send(CommandReport(kCodeParameter, 0x1234, 7));  // unknown parameter
  EXPECT_EQ(instrument.Gain(), 8000);
  EXPECT_EQ(instrument.Width(), 19000);
}

// The tallest column after the initial pulse: where the back wall shows.
int BackWallColumn(const Instrument& instrument) {
  const auto h = instrument.TraceHeights();
  return int(std::max_element(h.begin() + 20, h.end()) - h.begin());
}

TEST_F(InstrumentScreen, GainScalesTheTraceAndWidthStretchesTheTimeBase) {
  const auto before = instrument.TraceHeights();
  const int wall = BackWallColumn(instrument);
  EXPECT_NEAR(wall, 33.8 / 44.0 * Instrument::kPlotWidth, 2);

  Send(CommandReport(kCodeParameter, kParamGain, 3800));  // -6 dB: half the amplitude
  EXPECT_NEAR(instrument.TraceHeights()[wall], before[wall] / 2, 2);
  Send(CommandReport(kCodeParameter, kParamGain, 8000));
  EXPECT_EQ(instrument.TraceHeights()[wall], Instrument::kPlotHeight - 2) << "saturates at the top";
  Send(CommandReport(kCodeParameter, kParamGain, 0));
  EXPECT_LT(instrument.TraceHeights()[wall], 5);

  Send(CommandReport(kCodeParameter, kParamGain, 4400));
  Send(CommandReport(kCodeParameter, kParamScreenWidth, 880));
  EXPECT_NEAR(BackWallColumn(instrument), wall / 2, 2);

  // The trace on screen is what the heights say (bar the measuring cursor's column).
  const Screen& s = Render();
  const auto h = instrument.TraceHeights();
  for (int c = 0; c < Instrument::kPlotWidth; ++c) {
    if (c == instrument.MeasureColumn()) continue;
    EXPECT_TRUE(s.Pixel(Instrument::kPlotLeft + c, Instrument::kPlotBottom - 1 - h[c])) << c;
  }
}

TEST_F(InstrumentScreen, KeysMoveThroughMenusAndTheLastKeyIsShown) {
  EXPECT_EQ(instrument.CurrentMode(), Mode::Testing);
  Key(kKeySettings);
  EXPECT_EQ(instrument.CurrentMode(), Mode::Settings);
  EXPECT_TRUE(Shows(Render(), 2, 13, "Клавиша: Настройка"));
  Key(kKeyDown);
  Key(kKeyRight);  // second item: screen width, one microsecond up
  EXPECT_EQ(instrument.SettingsCursor(), 1);
  EXPECT_EQ(instrument.Width(), 450);
  Key(kKeyUp);
  Key(kKeyUp);  // wraps to the last item
  EXPECT_EQ(instrument.SettingsCursor(), Instrument::kSettingsItems - 1);
  EXPECT_TRUE(Shows(Render(), 2, 13, "Клавиша: Вверх"));

  Key(kKeyData);
  Key(kKeyDown);
  Key(kKeyDown);
  Key(kKeyEnter);
  EXPECT_EQ(instrument.CurrentMode(), Mode::Data);
  EXPECT_EQ(instrument.DataCursor(), 2);
  EXPECT_TRUE(Shows(Render(), 120, 26 + 2 * 14 + 3, "загружена", false)) << "in the cursor's inverted bar";

  Key(kKeyRightScreen);
  EXPECT_EQ(instrument.CurrentMode(), Mode::Help);
  Key(kKeyRightScreen);
  EXPECT_EQ(instrument.CurrentMode(), Mode::Testing);
  Key(kKeyLeftScreen);
  EXPECT_EQ(instrument.CurrentMode(), Mode::Help);
  Key(kKeyTesting);
  const int column = instrument.MeasureColumn();
  Key(kKeyRight);
  EXPECT_EQ(instrument.MeasureColumn(), column + 5);
  Key(kKeyF1);
  EXPECT_EQ(instrument.Gain(), 4500);
  EXPECT_TRUE(Shows(Render(), 2, 13, "Клавиша: F1"));
  EXPECT_TRUE(Shows(Render(), 3, 226, "F1"));

  const Screen before = Render();
  Key(0x8000);  // belongs to no key
  Key(kKeyF1 | kKeyF2);
  EXPECT_EQ(instrument.LastKey(), kKeyF1);
  EXPECT_EQ(Render(), before);
}

TEST_F(InstrumentScreen, LockShowsASignAndIgnoresKeysUntilUnlocked) {
  const Screen unlocked = Render();
  Send(CommandReport(kCodeLock));
  EXPECT_TRUE(instrument.Locked());
  const Screen locked = Render();
  EXPECT_NE(locked, unlocked);
  Screen outsideSign = locked;
  outsideSign.Fill(300, 0, 320, 11, true);
  Screen unlockedOutside = unlocked;
  unlockedOutside.Fill(300, 0, 320, 11, true);
  EXPECT_EQ(outsideSign, unlockedOutside) << "only the corner of the header changes";

  Key(kKeySettings);
  Key(kKeyF1);
  EXPECT_EQ(instrument.CurrentMode(), Mode::Testing);
  EXPECT_EQ(instrument.Gain(), 4400);
  EXPECT_EQ(Render(), locked);

  Send(CommandReport(kCodeParameter, kParamGain, 2000));  // the PC's commands still work
  EXPECT_EQ(instrument.Gain(), 2000);

  Send(CommandReport(kCodeUnlock));
  Key(kKeySettings);
  EXPECT_EQ(instrument.CurrentMode(), Mode::Settings);
}

TEST_F(InstrumentScreen, RestartShowsABootScreenAndTakesNoKeysMeanwhile) {
  Key(kKeyData);
  Send(CommandReport(kCodeRestart));
  EXPECT_TRUE(instrument.Booting(now));
  EXPECT_FALSE(Render().Pixel(0, 0)) << "no header bar while booting";
  now += milliseconds(1000);
  Key(kKeySettings);
  EXPECT_EQ(instrument.CurrentMode(), Mode::Testing);
  now += milliseconds(999);
  EXPECT_TRUE(instrument.Booting(now));
  now += milliseconds(1);
  EXPECT_FALSE(instrument.Booting(now));
  EXPECT_TRUE(Render().Pixel(0, 0));
  EXPECT_EQ(instrument.LastKey(), 0);
}

TEST_F(InstrumentScreen, SoundShowsTheTrackWhileItPlays) {
  Send(CommandReport(kCodeSound, 3));
  EXPECT_TRUE(Shows(Render(), 272, 2, "♪3", false));
  now += Instrument::kTrackTime - milliseconds(1);
  EXPECT_EQ(instrument.PlayingTrack(now), 3);
  now += milliseconds(1);
  EXPECT_EQ(instrument.PlayingTrack(now), 0);
  Send(CommandReport(kCodeSound, 0));
  Send(CommandReport(kCodeSound, 26));
  EXPECT_EQ(instrument.PlayingTrack(now), 0) << "the instrument has tracks 1-25";
}

using InstrumentMessage = Fixture;

TEST_F(InstrumentMessage, ShowsAFramedBoxAtXYForDurationFiftiethsOfASecond) {
  const Screen plain = Render();
  Send(MessageReport(50, 60, 200, Utf8ToCp1251("Сообщение")));  // 4 s
  EXPECT_EQ(instrument.MessageText(now), "Сообщение");
  const Screen& s = Render();
  const auto box = Instrument::MessageBox(50, 60, 9);
  EXPECT_TRUE(s.Pixel(50, 60)) << "outer frame at X, Y";
  EXPECT_FALSE(s.Pixel(49, 59));
  EXPECT_FALSE(s.Pixel(51, 61)) << "white between the two frames";
  EXPECT_TRUE(s.Pixel(52, 62)) << "inner frame";
  EXPECT_TRUE(s.Pixel(box.right - 1, box.bottom - 1));
  EXPECT_TRUE(Shows(s, 55, 65, "Сообщение"));

  now += milliseconds(3999);
  EXPECT_TRUE(instrument.MessageText(now));
  now += milliseconds(1);
  EXPECT_FALSE(instrument.MessageText(now));
  EXPECT_EQ(Render(), plain);

  Send(MessageReport(0, 0, 0, "zero"));
  EXPECT_FALSE(instrument.MessageText(now)) << "a zero duration shows nothing";
}

TEST_F(InstrumentMessage, DecodesWindows1251AndNeverReadsPastTheTextField) {
  std::string all;
  for (int b = 0xC0; b <= 0xFF; ++b) all += char(b);
  Send(MessageReport(0, 0, 50, all.substr(0, 32)));
  EXPECT_EQ(instrument.MessageText(now), "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ");
  Send(MessageReport(0, 0, 50, all.substr(32) + "\xA8\xB8\xB9"));
  EXPECT_EQ(instrument.MessageText(now), "абвгдежзийклмнопрстуфхцчшщъыьэюяЁё№");

  // 56 characters fill the field without a terminator.
  const std::string full(56, 'W');
  Send(MessageReport(300, 230, 50, full));
  EXPECT_EQ(instrument.MessageText(now), full);
  Render();  // the box runs off the screen's edge and is clipped

  Report stray = MessageReport(10, 10, 50, "xy");
  stray[1] = 0x54;  // not the marker
  Send(stray);
  EXPECT_EQ(instrument.MessageText(now), full);
}

TEST_F(InstrumentMessage, ReportsOfOtherSizesOrKindsChangeNothing) {
  const Report gain = CommandReport(kCodeParameter, kParamGain, 100);
  instrument.HandleOutputReport(gain.data(), 64, now);
  instrument.HandleOutputReport(gain.data(), 0, now);
  Report other = gain;
  other[0] = 0x0E;
  Send(other);
  Send(CommandReport(0xAB00, 1, 2, 3));
  EXPECT_EQ(instrument.Gain(), 4400);
}

TEST(CommandLog, DescribesEachReportWithItsBytes) {
  const Report key = CommandReport(kCodeKey, kKeyF3);
  EXPECT_EQ(DescribeOutputReport(key.data(), 65), "0F EE AA 00 40 00 00 00 00  Клавиша F3");
  const Report gain = CommandReport(kCodeParameter, kParamGain, 1550);
  EXPECT_EQ(DescribeOutputReport(gain.data(), 65), "0F 44 AA 0D 2C 0E 06 00 00  Усиление 15.50 дБ");
  const Report units = CommandReport(kCodeParameter, kParamUnits, 2);
  EXPECT_NE(DescribeOutputReport(units.data(), 65).find("Разметка ммX"), std::string::npos);
  const Report msg = MessageReport(50, 60, 201, "ABC");
  EXPECT_EQ(DescribeOutputReport(msg.data(), 65),
            "07 55 AA 32 00 3C 00 C9 00  Сообщение X=50 Y=60 на 4.02 с: «ABC»");
  EXPECT_EQ(DescribeOutputReport(msg.data(), 3), "07 55 AA                    длина 3 байт, не 65: пропущен");
  EXPECT_EQ(KeyName(0x8000), "");
}

}  // namespace
}  // namespace ts::sim
