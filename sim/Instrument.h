#pragma once
// The virtual instrument: the state a flaw detector keeps, what each command does
// to it, and how it draws its screen. Time is always passed in, so the same
// inputs give the same screen on every run.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/Screen.h"

namespace ts::sim {

// Milliseconds since an origin the caller chooses; only differences matter.
using SimTime = std::chrono::milliseconds;

enum class Mode { Testing, Settings, Data, Help };

class Instrument {
 public:
  static constexpr SimTime kBootTime{2000};
  static constexpr SimTime kTrackTime{3000};
  static constexpr int kDefaultGain = 4400;  // 0.01 dB
  static constexpr int kMaxGain = 8000;
  static constexpr int kDefaultWidth = 440;  // 0.1 µs
  static constexpr int kMinWidth = 10;
  static constexpr int kMaxWidth = 19000;
  static constexpr int kSettingsItems = 4;
  static constexpr int kDataRecords = 8;

  // Plot area of the A-scan, (left, top, right, bottom) exclusive.
  static constexpr int kPlotLeft = 18, kPlotTop = 22, kPlotRight = 318, kPlotBottom = 198;
  static constexpr int kPlotWidth = kPlotRight - kPlotLeft;
  static constexpr int kReadoutY = 211;  // gate readout and the markup's unit
  static constexpr int kPlotHeight = kPlotBottom - kPlotTop;

  Instrument() = default;

  // One output report as the program writes it (report ID first). Anything that
  // is not a 65-byte command or message report is ignored.
  void HandleOutputReport(const uint8_t* report, size_t size, SimTime now);
  void Command(uint16_t code, uint16_t arg1, uint16_t arg2, uint16_t arg3, SimTime now);
  // `text` is Windows-1251, at most 56 bytes used, ending at the first zero byte.
  void ShowMessage(int x, int y, uint16_t duration, std::string_view text, SimTime now);

  const Screen& Render(SimTime now);
  const Screen& LastScreen() const { return screen_; }

  int Gain() const { return gain_; }
  int Width() const { return width_; }
  int Units() const { return units_; }
  bool Locked() const { return locked_; }
  Mode CurrentMode() const { return mode_; }
  int SettingsCursor() const { return settingsCursor_; }
  int DataCursor() const { return dataCursor_; }
  int MeasureColumn() const { return measureColumn_; }
  uint16_t LastKey() const { return lastKey_; }
  bool Booting(SimTime now) const { return now < bootEnd_; }
  int PlayingTrack(SimTime now) const { return now < trackEnd_ ? track_ : 0; }
  // The message shown at `now`, UTF-8, or nothing.
  std::optional<std::string> MessageText(SimTime now) const;

  // The message box's rectangle: (left, top, right, bottom), exclusive.
  struct Box {
    int left, top, right, bottom;
  };
  static Box MessageBox(int x, int y, size_t characters);

  // Height in pixels of the A-scan trace in each plot column, from the bottom.
  std::array<int, kPlotWidth> TraceHeights() const;

 private:
  struct Message {
    int x = 0, y = 0;
    std::u32string text;
    SimTime end{};
  };

  void Key(uint16_t mask);
  void KeyTesting(uint16_t mask);
  void KeySettings(uint16_t mask);
  void KeyData(uint16_t mask);
  void ChangeSetting(int direction);
  void SetGain(int value);
  void SetWidth(int value);

  void DrawBoot(SimTime now);
  void DrawHeader(SimTime now);
  void DrawTesting();
  void DrawTrace();
  void DrawSettings();
  void DrawData();
  void DrawHelp();
  void DrawSoftKeys();
  void DrawMessage();
  std::string FormatUs(double us, bool withUnits) const;

  Screen screen_;
  int gain_ = kDefaultGain;
  int width_ = kDefaultWidth;
  int units_ = 0;
  int gateStart_ = 140;  // 0.1 µs
  bool gateOn_ = true;
  bool locked_ = false;
  Mode mode_ = Mode::Testing;
  int settingsCursor_ = 0;
  int dataCursor_ = 0;
  int loadedRecord_ = -1;
  int measureColumn_ = kPlotWidth / 3;
  uint16_t lastKey_ = 0;
  SimTime bootEnd_{SimTime::min()};
  SimTime bootStart_{SimTime::min()};
  int track_ = 0;
  SimTime trackEnd_{SimTime::min()};
  std::optional<Message> message_;
};

}  // namespace ts::sim
