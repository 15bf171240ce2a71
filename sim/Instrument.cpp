#include "sim/Instrument.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

#include "sim/Commands.h"
#include "sim/Font.h"
#include "ui/Cp1251.h"
#include "ui/Exception.h"

namespace ts::sim {

namespace {

constexpr double kPi = 3.14159265358979;

// Millimetres per microsecond of echo time for the millimetre scales: half the
// sound path in steel, straight along the beam for "ммH" (longitudinal wave,
// 5.92 mm/µs), and for a 50° shear-wave probe (3.23 mm/µs) its horizontal and
// vertical components for "ммX" and "ммН".
constexpr double kMmPerUs[4] = {1.0, 5.92 / 2, 3.23 / 2 * 0.766, 3.23 / 2 * 0.643};

// The test piece: echo time (µs), amplitude at the default gain (1 = full
// screen), and how wide the echo's envelope is.
struct Echo {
  double time, amplitude, spread;
};
constexpr Echo kEchoes[] = {
    {0.3, 1.6, 0.5},     // probe's initial pulse
    {17.0, 0.50, 0.4},   // flaw
    {33.8, 0.72, 0.45},  // back wall of a 100 mm plate
    {67.6, 0.30, 0.5},   // second back-wall echo
};
constexpr double kFrequencyMhz = 2.5;
constexpr int kGateLength = 70;      // 0.1 µs
constexpr double kGateLevel = 0.30;  // of the plot height

// Fixed "grass": the same for the same time, so screens repeat exactly.
double Noise(double us) {
  uint32_t h = uint32_t(int64_t(us * 40)) * 2654435761u;
  h ^= h >> 15;
  return (h % 1000) / 1000.0 * 0.025;
}

double EchoAt(const Echo& e, double t) {
  const double d = (t - e.time) / e.spread;
  return e.amplitude * std::exp(-d * d);
}

// Peak signal over [t0, t1): a peak detector for columns wider than a carrier
// period, the rectified carrier itself for narrower ones.
double SignalPeak(double t0, double t1) {
  double peak = Noise(t0);
  for (const Echo& e : kEchoes) {
    double a;
    if (t1 - t0 >= 0.5 / kFrequencyMhz) {
      a = EchoAt(e, std::clamp(e.time, t0, t1));
    } else {
      const double t = (t0 + t1) / 2;
      a = EchoAt(e, t) * std::fabs(std::cos(2 * kPi * kFrequencyMhz * (t - e.time)));
    }
    peak = std::max(peak, a);
  }
  return peak;
}

const char* ModeTitle(Mode m) {
  switch (m) {
    case Mode::Testing:
      return "УЗ контроль";
    case Mode::Settings:
      return "Настройка";
    case Mode::Data:
      return "Данные";
    case Mode::Help:
      return "Помощь";
  }
  return "";
}

void DrawTextScaled(Screen& s, int x, int y, std::u32string_view text, int scale) {
  int cx = x;
  for (char32_t c : text) {
    const Glyph g = GlyphOf(c);
    for (int r = 0; r < kGlyphHeight; ++r)
      for (int col = 0; col < kGlyphWidth; ++col)
        if (g.rows[r] & (1u << (kGlyphWidth - 1 - col)))
          s.Fill(cx + col * scale, y + r * scale, cx + (col + 1) * scale, y + (r + 1) * scale, true);
    cx += kCellWidth * scale;
  }
}

void DrawCentered(Screen& s, int left, int right, int y, std::string_view utf8, bool black = true) {
  const std::u32string t = Utf8ToUtf32(utf8);
  DrawText(s, left + (right - left - TextWidth(t) + 1) / 2, y, t, black);
}

void DrawPadlock(Screen& s, int x, int y, bool black) {
  // Shackle over a body with a keyhole; 9 x 10 pixels.
  s.HLine(x + 2, x + 6, y, black);
  s.VLine(x + 1, y + 1, y + 3, black);
  s.VLine(x + 7, y + 1, y + 3, black);
  s.Fill(x, y + 4, x + 9, y + 10, black);
  s.VLine(x + 4, y + 6, y + 7, !black);
}

}  // namespace

void Instrument::HandleOutputReport(const uint8_t* r, size_t size, SimTime now) {
  if (size != kReportSize) return;
  auto word = [r](int i) { return uint16_t(r[i] | (r[i + 1] << 8)); };
  if (r[0] == kCommandReportId) {
    Command(word(1), word(3), word(5), word(7), now);
  } else if (r[0] == kMessageReportId && r[1] == kMessageMarker1 && r[2] == kMessageMarker2) {
    const char* text = reinterpret_cast<const char*>(r + kMessageTextOffset);
    ShowMessage(word(3), word(5), word(7), std::string_view(text, kMessageTextSize), now);
  }
}

void Instrument::Command(uint16_t code, uint16_t arg1, uint16_t arg2, uint16_t, SimTime now) {
  switch (code) {
    case kCodeKey:
      // A locked keypad and one that is still starting take no keys.
      if (!locked_ && !Booting(now)) Key(arg1);
      break;
    case kCodeRestart:
      // Settings live in non-volatile memory and survive; the keyboard lock
      // stays too, as the program's lock toggle keeps its state over restarts.
      mode_ = Mode::Testing;
      settingsCursor_ = dataCursor_ = 0;
      measureColumn_ = kPlotWidth / 3;
      lastKey_ = 0;
      message_.reset();
      trackEnd_ = SimTime::min();
      bootStart_ = now;
      bootEnd_ = now + kBootTime;
      break;
    case kCodeLock:
      locked_ = true;
      break;
    case kCodeUnlock:
      locked_ = false;
      break;
    case kCodeSound:
      if (arg1 >= 1 && arg1 <= 25) {
        track_ = arg1;
        trackEnd_ = now + kTrackTime;
      }
      break;
    case kCodeParameter:
      if (arg1 == kParamGain)
        SetGain(arg2);
      else if (arg1 == kParamScreenWidth)
        SetWidth(arg2);
      else if (arg1 == kParamUnits && arg2 < 4)
        units_ = arg2;
      break;
    default:
      break;
  }
}

void Instrument::SetGain(int value) { gain_ = std::clamp(value, 0, kMaxGain); }

void Instrument::SetWidth(int value) {
  // A zero width would put every echo at infinity; the narrowest time base
  // the instrument offers is 1 µs.
  width_ = std::clamp(value, kMinWidth, kMaxWidth);
  gateStart_ = std::min(gateStart_, width_);
}

void Instrument::ShowMessage(int x, int y, uint16_t duration, std::string_view text, SimTime now) {
  text = text.substr(0, std::min(text.size(), kMessageTextSize));
  text = text.substr(0, std::min(text.size(), text.find('\0')));
  Message m;
  m.x = x;
  m.y = y;
  for (char c : text) m.text.push_back(Cp1251ToCodePoint(uint8_t(c)));
  m.end = now + SimTime(int64_t(duration) * 20);  // fiftieths of a second
  message_ = std::move(m);
}

std::optional<std::string> Instrument::MessageText(SimTime now) const {
  if (!message_ || now >= message_->end) return std::nullopt;
  std::string out;
  for (char32_t c : message_->text) out += Utf16ToUtf8(std::u16string(1, char16_t(c)));
  return out;
}

Instrument::Box Instrument::MessageBox(int x, int y, size_t characters) {
  return {x, y, x + int(characters) * kCellWidth + 9, y + kCellHeight + 9};
}

void Instrument::Key(uint16_t mask) {
  if (KeyName(mask).empty()) return;  // no key, or several at once
  lastKey_ = mask;
  switch (mask) {
    case kKeyTesting:
      mode_ = Mode::Testing;
      return;
    case kKeySettings:
      mode_ = Mode::Settings;
      return;
    case kKeyData:
      mode_ = Mode::Data;
      return;
    case kKeyHelp:
      mode_ = Mode::Help;
      return;
    case kKeyLeftScreen:
      mode_ = Mode((int(mode_) + 3) % 4);
      return;
    case kKeyRightScreen:
      mode_ = Mode((int(mode_) + 1) % 4);
      return;
    default:
      break;
  }
  switch (mode_) {
    case Mode::Testing:
      KeyTesting(mask);
      break;
    case Mode::Settings:
      KeySettings(mask);
      break;
    case Mode::Data:
      KeyData(mask);
      break;
    case Mode::Help:
      if (mask == kKeyF1 || mask == kKeyEnter) mode_ = Mode::Testing;
      break;
  }
}

void Instrument::KeyTesting(uint16_t mask) {
  switch (mask) {
    case kKeyF1:
    case kKeyUp:
      SetGain(gain_ + 100);
      break;
    case kKeyF2:
    case kKeyDown:
      SetGain(gain_ - 100);
      break;
    case kKeyF3:
      gateOn_ = !gateOn_;
      break;
    case kKeyF4:
      mode_ = Mode::Settings;
      break;
    case kKeyLeft:
      measureColumn_ = std::max(0, measureColumn_ - 5);
      break;
    case kKeyRight:
      measureColumn_ = std::min(kPlotWidth - 1, measureColumn_ + 5);
      break;
    default:
      break;
  }
}

void Instrument::KeySettings(uint16_t mask) {
  switch (mask) {
    case kKeyUp:
      settingsCursor_ = (settingsCursor_ + kSettingsItems - 1) % kSettingsItems;
      break;
    case kKeyDown:
      settingsCursor_ = (settingsCursor_ + 1) % kSettingsItems;
      break;
    case kKeyLeft:
    case kKeyF2:
      ChangeSetting(-1);
      break;
    case kKeyRight:
    case kKeyF3:
      ChangeSetting(+1);
      break;
    case kKeyF1:
    case kKeyEnter:
      mode_ = Mode::Testing;
      break;
    case kKeyF4:
      gain_ = kDefaultGain;
      width_ = kDefaultWidth;
      units_ = 0;
      gateStart_ = 140;
      break;
    default:
      break;
  }
}

void Instrument::ChangeSetting(int direction) {
  switch (settingsCursor_) {
    case 0:
      SetGain(gain_ + 100 * direction);
      break;
    case 1:
      SetWidth(width_ + 10 * direction);
      break;
    case 2:
      units_ = (units_ + 4 + direction) % 4;
      break;
    case 3:
      gateStart_ = std::clamp(gateStart_ + 5 * direction, 0, width_);
      break;
  }
}

void Instrument::KeyData(uint16_t mask) {
  switch (mask) {
    case kKeyUp:
      dataCursor_ = (dataCursor_ + kDataRecords - 1) % kDataRecords;
      break;
    case kKeyDown:
      dataCursor_ = (dataCursor_ + 1) % kDataRecords;
      break;
    case kKeyEnter:
    case kKeyF2:
      loadedRecord_ = dataCursor_;
      break;
    case kKeyF3:
      loadedRecord_ = -1;
      break;
    case kKeyF1:
      mode_ = Mode::Testing;
      break;
    default:
      break;
  }
}

std::string Instrument::FormatUs(double us, bool withUnits) const {
  std::string s = Format("%.1f", us * kMmPerUs[units_]);
  return withUnits ? s + kUnitNames[units_] : s;
}

const Screen& Instrument::Render(SimTime now) {
  screen_.Clear();
  if (Booting(now)) {
    DrawBoot(now);
    return screen_;
  }
  DrawHeader(now);
  switch (mode_) {
    case Mode::Testing:
      DrawTesting();
      break;
    case Mode::Settings:
      DrawSettings();
      break;
    case Mode::Data:
      DrawData();
      break;
    case Mode::Help:
      DrawHelp();
      break;
  }
  DrawSoftKeys();
  if (message_ && now < message_->end) DrawMessage();
  return screen_;
}

void Instrument::DrawBoot(SimTime now) {
  Screen& s = screen_;
  s.Frame(10, 10, 310, 230);
  DrawTextScaled(s, 160 - 3 * kCellWidth * 3, 60, U"ТС4170", 3);
  DrawCentered(s, 0, kScreenWidth, 110, "Дефектоскоп ультразвуковой");
  DrawCentered(s, 0, kScreenWidth, 150, "Загрузка...");
  s.Frame(60, 165, 260, 177);
  const auto elapsed = std::clamp<int64_t>((now - bootStart_).count(), 0, kBootTime.count());
  s.Fill(62, 167, 62 + int(196 * elapsed / kBootTime.count()), 175, true);
}

void Instrument::DrawHeader(SimTime now) {
  Screen& s = screen_;
  s.Fill(0, 0, kScreenWidth, 11, true);
  DrawText(s, 2, 2, Format("Ку %d.%d дБ", gain_ / 100, gain_ % 100 / 10), false);
  DrawText(s, 92, 2, "Ш " + FormatUs(width_ / 10.0, true), false);
  DrawText(s, 194, 2, ModeTitle(mode_), false);
  if (const int track = PlayingTrack(now)) DrawText(s, 272, 2, Format("♪%d", track), false);
  if (locked_) DrawPadlock(s, 308, 1, false);
  if (lastKey_) DrawText(s, 2, 13, "Клавиша: " + KeyName(lastKey_));
}

void Instrument::DrawTesting() {
  Screen& s = screen_;
  s.Frame(kPlotLeft - 1, kPlotTop - 1, kPlotRight + 1, kPlotBottom + 1);
  for (int i = 1; i < 10; ++i)
    s.DottedVLine(kPlotLeft + kPlotWidth * i / 10, kPlotTop + 1, kPlotBottom - 1, 4);
  for (int i = 1; i < 4; ++i) s.DottedHLine(kPlotLeft + 1, kPlotRight - 1, kPlotTop + kPlotHeight * i / 4, 4);
  // Markup: a tick per division, a value every other one.
  for (int i = 0; i <= 10; ++i) {
    const int x = kPlotLeft + kPlotWidth * i / 10 - (i == 10);
    s.VLine(x, kPlotBottom + 1, kPlotBottom + 3);
    if (i % 2) continue;
    const std::u32string label = Utf8ToUtf32(FormatUs(width_ / 10.0 * i / 10, false));
    const int w = TextWidth(label);
    DrawText(s, std::clamp(x - w / 2, 0, kScreenWidth - w), kPlotBottom + 5, label);
  }
  DrawText(s, kScreenWidth - 3 * kCellWidth, kReadoutY, kUnitNames[units_]);
  DrawTrace();
}

std::array<int, Instrument::kPlotWidth> Instrument::TraceHeights() const {
  const double usPerColumn = width_ / 10.0 / kPlotWidth;
  const double gain = std::pow(10.0, (gain_ - kDefaultGain) / 2000.0);
  const int maxHeight = kPlotHeight - 2;
  std::array<int, kPlotWidth> heights;
  for (int c = 0; c < kPlotWidth; ++c) {
    const double a = SignalPeak(c * usPerColumn, (c + 1) * usPerColumn) * gain;
    heights[c] = std::min(maxHeight, int(a * maxHeight + 0.5));
  }
  return heights;
}

void Instrument::DrawTrace() {
  Screen& s = screen_;
  const double usPerColumn = width_ / 10.0 / kPlotWidth;
  const int maxHeight = kPlotHeight - 2;
  const auto heights = TraceHeights();
  int previous = -1;
  int gatePeak = 0, gatePeakColumn = -1;
  const int gateFirst = int(gateStart_ / 10.0 / usPerColumn);
  const int gateLast = int((gateStart_ + kGateLength) / 10.0 / usPerColumn);
  for (int c = 0; c < kPlotWidth; ++c) {
    const int h = heights[c];
    const int y = kPlotBottom - 1 - h;
    s.VLine(kPlotLeft + c, previous < 0 ? y : previous, y);
    previous = y;
    if (gateOn_ && c >= gateFirst && c <= gateLast && h > gatePeak) {
      gatePeak = h;
      gatePeakColumn = c;
    }
  }
  const int mx = kPlotLeft + measureColumn_;
  for (int y = kPlotTop; y < kPlotBottom; y += 2) s.SetPixel(mx, y, !s.Pixel(mx, y));
  DrawText(s, 176, 13, "Курсор " + FormatUs(measureColumn_ * usPerColumn, true));
  if (!gateOn_) return;
  const int gy = kPlotBottom - 1 - int(kGateLevel * maxHeight);
  const int gx0 = kPlotLeft + std::min(gateFirst, kPlotWidth - 1);
  const int gx1 = kPlotLeft + std::min(gateLast, kPlotWidth - 1);
  s.HLine(gx0, gx1, gy);
  s.HLine(gx0, gx1, gy + 1);
  s.VLine(gx0, gy - 3, gy + 4);
  s.VLine(gx1, gy - 3, gy + 4);
  std::string readout = "Строб: нет сигнала";
  if (gatePeakColumn >= 0 && gatePeak >= int(kGateLevel * maxHeight))
    readout =
        Format("Строб: A=%d%% ", gatePeak * 100 / maxHeight) + FormatUs(gatePeakColumn * usPerColumn, true);
  DrawText(s, 2, kReadoutY, readout);
}

void Instrument::DrawSettings() {
  Screen& s = screen_;
  const std::string values[kSettingsItems] = {
      Format("%d.%d дБ", gain_ / 100, gain_ % 100 / 10),
      FormatUs(width_ / 10.0, true),
      kUnitNames[units_],
      FormatUs(gateStart_ / 10.0, true),
  };
  const char* names[kSettingsItems] = {"Усиление", "Ширина экрана", "Разметка", "Строб, начало"};
  for (int i = 0; i < kSettingsItems; ++i) {
    const int y = 30 + i * 16;
    DrawText(s, 20, y + 4, names[i]);
    DrawText(s, 200, y + 4, values[i]);
    if (i == settingsCursor_) {
      DrawText(s, 8, y + 4, "►");
      s.Invert(18, y + 1, 310, y + 14);
    }
  }
  DrawText(s, 20, 110, "Вверх/Вниз: выбор, Влево/Вправо: значение");
}

void Instrument::DrawData() {
  Screen& s = screen_;
  for (int i = 0; i < kDataRecords; ++i) {
    const int y = 26 + i * 14;
    DrawText(s, 20, y + 3, Format("Запись %d", i + 1));
    DrawText(s, 120, y + 3, i == loadedRecord_ ? "загружена" : "пусто");
    if (i == dataCursor_) {
      DrawText(s, 8, y + 3, "►");
      s.Invert(18, y, 240, y + 13);
    }
  }
}

void Instrument::DrawHelp() {
  const char* lines[] = {
      "УЗ контроль: А-скан, F1/F2 усиление,", "  F3 строб, Влево/Вправо курсор",
      "Настройка: параметры прибора",         "Данные: сохранённые записи",
      "◄Экран / Экран►: листать экраны",      "Ввод: вернуться к А-скану",
  };
  int y = 30;
  for (const char* line : lines) {
    DrawText(screen_, 8, y, line);
    y += 12;
  }
}

void Instrument::DrawSoftKeys() {
  static constexpr const char* kLabels[4][4] = {
      {"Усил+", "Усил-", "Строб", "Меню"},
      {"Назад", "-", "+", "Сброс"},
      {"Назад", "Выбор", "Снять", ""},
      {"Назад", "", "", ""},
  };
  for (int i = 0; i < 4; ++i) {
    const int left = i * 80;
    screen_.Frame(left, 219, left + 79, 240);
    const char* label = kLabels[int(mode_)][i];
    DrawText(screen_, left + 3, 226, Format("F%d", i + 1));
    DrawCentered(screen_, left + 16, left + 79, 226, label);
  }
}

void Instrument::DrawMessage() {
  const Message& m = *message_;
  const Box b = MessageBox(m.x, m.y, m.text.size());
  screen_.Fill(b.left, b.top, b.right, b.bottom, false);
  screen_.Frame(b.left, b.top, b.right, b.bottom);
  screen_.Frame(b.left + 2, b.top + 2, b.right - 2, b.bottom - 2);
  DrawText(screen_, b.left + 5, b.top + 5, m.text);
}

}  // namespace ts::sim
