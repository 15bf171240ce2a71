#pragma once
// The rules of a numeric spin field, free of any window: which keys it refuses,
// how its text reads, steps and is put back into range, and when a held button
// repeats its step.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ts {

// What the field does with one character the user types.
enum class TSpinCharAction {
  Pass,    // left to the edit (copy, select all, undo)
  Refuse,  // refused with the warning beep
  Ignore,  // refused quietly: the paste and cut shortcuts
};

// Keys the field treats specially when they go down.
enum class TSpinKey { Up, Down, Insert, Delete, Other };

enum class TSpinKeyAction { Pass, StepUp, StepDown, Ignore };

class TSpinRange {
 public:
  TSpinRange(int min, int max) : min_(min), max_(max) {}

  int Min() const { return min_; }
  int Max() const { return max_; }
  // A range whose ends are equal does not limit the value.
  bool Bounded() const { return min_ != max_; }

  // The integer in the text, or the minimum when the text holds none. Does not clamp.
  int Read(std::u16string_view text) const;
  int Clamp(int value) const;
  // The value after one step from what the text reads.
  int Step(std::u16string_view text, int delta) const;
  // The value to put into the field when it loses the focus, if its text is out of
  // range; nothing when the text may stay.
  std::optional<int> ValueOnExit(std::u16string_view text) const;

  static TSpinCharAction OnChar(char16_t ch);
  static TSpinKeyAction OnKeyDown(TSpinKey key, bool shift);

 private:
  int min_, max_;
};

// The integer in text: an optional sign and decimal digits that fit in an int.
std::optional<int> ParseInteger(std::u16string_view text);
std::u16string IntegerText(int value);

// Auto-repeat of a held spin button. The press itself steps at once; the next step
// is due 400 ms later and then one every 100 ms, counted from the press, so a late
// timer catches up rather than stretching the schedule.
class TSpinRepeat {
 public:
  static constexpr uint64_t kFirstDelayMs = 400;
  static constexpr uint64_t kIntervalMs = 100;

  void Press(uint64_t nowMs);
  void Release();
  bool Held() const { return held_; }
  // Steps that have fallen due since the last call, up to now.
  int TakeDue(uint64_t nowMs);
  // Milliseconds from now to the next due step (at least 1), while held.
  std::optional<uint64_t> NextDelay(uint64_t nowMs) const;

 private:
  uint64_t DueAt(uint64_t index) const;
  bool held_ = false;
  uint64_t pressedAt_ = 0;
  uint64_t repeatsDone_ = 0;  // repeats after the press that have been stepped
};

}  // namespace ts
