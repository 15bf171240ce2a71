#include "ui/SpinLogic.h"

#include <algorithm>
#include <climits>

namespace ts {

std::optional<int> ParseInteger(std::u16string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  if (i == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > int64_t{INT_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

std::u16string IntegerText(int value) {
  std::u16string text;
  int64_t v = value;
  bool negative = v < 0;
  if (negative) v = -v;
  do {
    text.insert(text.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v > 0);
  if (negative) text.insert(text.begin(), u'-');
  return text;
}

int TSpinRange::Read(std::u16string_view text) const { return ParseInteger(text).value_or(min_); }

int TSpinRange::Clamp(int value) const {
  if (!Bounded()) return value;
  // Written so that a range given the wrong way round still yields one of its ends.
  return std::max(min_, std::min(value, max_));
}

int TSpinRange::Step(std::u16string_view text, int delta) const {
  int64_t next = int64_t{Read(text)} + delta;
  next = std::clamp<int64_t>(next, INT_MIN, INT_MAX);
  return Clamp(static_cast<int>(next));
}

std::optional<int> TSpinRange::ValueOnExit(std::u16string_view text) const {
  int value = Read(text);
  int clamped = Clamp(value);
  if (clamped == value) return std::nullopt;
  return clamped;
}

TSpinCharAction TSpinRange::OnChar(char16_t ch) {
  switch (ch) {
    case 0x16:  // Ctrl+V
    case 0x18:  // Ctrl+X
      return TSpinCharAction::Ignore;
    case 0x08:  // Backspace
    case 0x0A:  // Ctrl+Enter
    case 0x0D:  // Enter
    case 0x7F:  // Ctrl+Backspace
      return TSpinCharAction::Refuse;
    default:
      return ch >= 0x20 ? TSpinCharAction::Refuse : TSpinCharAction::Pass;
  }
}

TSpinKeyAction TSpinRange::OnKeyDown(TSpinKey key, bool shift) {
  switch (key) {
    case TSpinKey::Up:
      return TSpinKeyAction::StepUp;
    case TSpinKey::Down:
      return TSpinKeyAction::StepDown;
    case TSpinKey::Insert:  // Shift+Insert pastes
    case TSpinKey::Delete:  // Shift+Delete cuts, or rubs out leftwards like Backspace
      return shift ? TSpinKeyAction::Ignore : TSpinKeyAction::Pass;
    case TSpinKey::Other:
      break;
  }
  return TSpinKeyAction::Pass;
}

void TSpinRepeat::Press(uint64_t nowMs) {
  held_ = true;
  pressedAt_ = nowMs;
  repeatsDone_ = 0;
}

void TSpinRepeat::Release() { held_ = false; }

uint64_t TSpinRepeat::DueAt(uint64_t index) const { return pressedAt_ + kFirstDelayMs + index * kIntervalMs; }

int TSpinRepeat::TakeDue(uint64_t nowMs) {
  if (!held_ || nowMs < DueAt(0)) return 0;
  uint64_t due = (nowMs - DueAt(0)) / kIntervalMs + 1;
  uint64_t fresh = due > repeatsDone_ ? due - repeatsDone_ : 0;
  repeatsDone_ = std::max(due, repeatsDone_);
  return static_cast<int>(std::min<uint64_t>(fresh, INT_MAX));
}

std::optional<uint64_t> TSpinRepeat::NextDelay(uint64_t nowMs) const {
  if (!held_) return std::nullopt;
  uint64_t next = DueAt(repeatsDone_);
  return next > nowMs ? next - nowMs : 1;
}

}  // namespace ts
