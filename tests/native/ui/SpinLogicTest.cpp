// The numeric field's rules: reading, stepping, putting back into range, the keys
// it refuses and the auto-repeat schedule of a held button.

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "ui/SpinLogic.h"

namespace ts {
namespace {

TEST(SpinRead, GivesTheIntegerOrTheMinimumWithoutClamping) {
  TSpinRange sound(1, 25);
  EXPECT_EQ(sound.Read(u"3"), 3);
  EXPECT_EQ(sound.Read(u"0"), 0) << "reading does not clamp";
  EXPECT_EQ(sound.Read(u"99"), 99);
  EXPECT_EQ(sound.Read(u"007"), 7);
  EXPECT_EQ(sound.Read(u"+5"), 5);
  for (const char16_t* text : {u"", u"-", u"+", u" 3", u"3 ", u"1a", u"x", u"--1", u"4.0", u"\x0663"})
    EXPECT_EQ(sound.Read(text), 1) << "not an integer reads as the minimum";
  TSpinRange shift(-2, 98);
  EXPECT_EQ(shift.Read(u"-2"), -2);
  EXPECT_EQ(shift.Read(u"-"), -2);
}

TEST(SpinRead, IntegersBeyondIntReadAsTheMinimum) {
  TSpinRange r(0, 10);
  EXPECT_EQ(ParseInteger(u"2147483647"), INT_MAX);
  EXPECT_EQ(ParseInteger(u"-2147483648"), INT_MIN);
  EXPECT_EQ(ParseInteger(u"2147483648"), std::nullopt);
  EXPECT_EQ(ParseInteger(u"-2147483649"), std::nullopt);
  EXPECT_EQ(r.Read(u"99999999999999999999999"), 0);
  EXPECT_EQ(IntegerText(INT_MIN), u"-2147483648");
  EXPECT_EQ(IntegerText(0), u"0");
  EXPECT_EQ(IntegerText(-2), u"-2");
}

TEST(SpinStep, StopsAtTheEndsOfTheRange) {
  TSpinRange gain(0, 80);
  EXPECT_EQ(gain.Step(u"79", 1), 80);
  EXPECT_EQ(gain.Step(u"80", 1), 80) << "the field never shows 81";
  EXPECT_EQ(gain.Step(u"0", -1), 0);
  TSpinRange sound(1, 25);
  EXPECT_EQ(sound.Step(u"25", 1), 25);
  EXPECT_EQ(sound.Step(u"1", -1), 1);
  // A text left out of range by deleting digits steps back into it.
  EXPECT_EQ(sound.Step(u"0", -1), 1);
  EXPECT_EQ(sound.Step(u"0", 1), 1);
  EXPECT_EQ(sound.Step(u"", 1), 2) << "steps from the minimum a non-integer reads as";
  EXPECT_EQ(TSpinRange(-2, 98).Step(u"-1", -1), -2);
}

TEST(SpinStep, EqualEndsDoNotLimitAndTheIntEndsDoNotOverflow) {
  TSpinRange open(0, 0);
  EXPECT_FALSE(open.Bounded());
  EXPECT_EQ(open.Step(u"0", 1), 1);
  EXPECT_EQ(open.Step(u"0", -1), -1);
  EXPECT_EQ(open.Step(u"2147483647", 1), INT_MAX);
  EXPECT_EQ(open.Step(u"-2147483648", -1), INT_MIN);
  EXPECT_EQ(open.ValueOnExit(u"12345"), std::nullopt);
}

TEST(SpinExit, PutsOnlyOutOfRangeIntegersBackIntoRange) {
  TSpinRange time(1, 20);
  EXPECT_EQ(time.ValueOnExit(u"0"), 1);
  EXPECT_EQ(time.ValueOnExit(u"25"), 20);
  EXPECT_EQ(time.ValueOnExit(u"20"), std::nullopt);
  EXPECT_EQ(time.ValueOnExit(u""), std::nullopt) << "an empty field reads as its minimum, which is in range";
  EXPECT_EQ(time.Clamp(-7), 1);
  // A range given the wrong way round still yields one of its ends.
  TSpinRange backwards(10, 5);
  int v = backwards.Clamp(7);
  EXPECT_TRUE(v == 10 || v == 5);
}

TEST(SpinKeys, RefusesTypingBackspaceAndEnterButLeavesDeleteAndShortcuts) {
  for (char16_t ch : {u'0', u'9', u'a', u' ', u'-', u'Я', u'\x08', u'\r', u'\n', u'\x7f'})
    EXPECT_EQ(TSpinRange::OnChar(ch), TSpinCharAction::Refuse) << int(ch);
  EXPECT_EQ(TSpinRange::OnChar(0x16), TSpinCharAction::Ignore) << "Ctrl+V";
  EXPECT_EQ(TSpinRange::OnChar(0x18), TSpinCharAction::Ignore) << "Ctrl+X";
  EXPECT_EQ(TSpinRange::OnChar(0x03), TSpinCharAction::Pass) << "Ctrl+C copies";
  EXPECT_EQ(TSpinRange::OnChar(0x01), TSpinCharAction::Pass) << "Ctrl+A selects";

  EXPECT_EQ(TSpinRange::OnKeyDown(TSpinKey::Up, false), TSpinKeyAction::StepUp);
  EXPECT_EQ(TSpinRange::OnKeyDown(TSpinKey::Down, true), TSpinKeyAction::StepDown);
  EXPECT_EQ(TSpinRange::OnKeyDown(TSpinKey::Delete, false), TSpinKeyAction::Pass);
  EXPECT_EQ(TSpinRange::OnKeyDown(TSpinKey::Delete, true), TSpinKeyAction::Ignore) << "Shift+Delete cuts";
  EXPECT_EQ(TSpinRange::OnKeyDown(TSpinKey::Insert, true), TSpinKeyAction::Ignore) << "Shift+Insert pastes";
  EXPECT_EQ(TSpinRange::OnKeyDown(TSpinKey::Insert, false), TSpinKeyAction::Pass);
}

// Steps taken when the repeat is polled at the given times after a press at 1000.
std::vector<int> StepsAt(std::initializer_list<uint64_t> times) {
  TSpinRepeat repeat;
  repeat.Press(1000);
  std::vector<int> steps;
  for (uint64_t t : times) steps.push_back(repeat.TakeDue(1000 + t));
  return steps;
}

TEST(SpinRepeat, FirstRepeatAfter400ThenEvery100) {
  EXPECT_EQ(StepsAt({0, 399, 400, 401, 499, 500, 599, 600, 700}),
            (std::vector<int>{0, 0, 1, 0, 0, 1, 0, 1, 1}));
  TSpinRepeat repeat;
  repeat.Press(5000);
  EXPECT_EQ(repeat.NextDelay(5000), 400u);
  EXPECT_EQ(repeat.NextDelay(5150), 250u);
  repeat.TakeDue(5400);
  EXPECT_EQ(repeat.NextDelay(5400), 100u);
  EXPECT_EQ(repeat.NextDelay(5470), 30u);
  EXPECT_EQ(repeat.NextDelay(5600), 1u) << "an overdue step is asked for at once";
}

TEST(SpinRepeat, ALateTimerCatchesUpWithoutStretchingTheSchedule) {
  EXPECT_EQ(StepsAt({950, 950, 1000}), (std::vector<int>{6, 0, 1}));
  TSpinRepeat repeat;
  repeat.Press(0);
  EXPECT_EQ(repeat.TakeDue(430), 1);
  EXPECT_EQ(repeat.NextDelay(430), 70u) << "counted from the press, not from the late tick";
}

TEST(SpinRepeat, ReleaseStopsAndAPressStartsAfresh) {
  TSpinRepeat repeat;
  repeat.Press(0);
  EXPECT_EQ(repeat.TakeDue(600), 3);
  repeat.Release();
  EXPECT_FALSE(repeat.Held());
  EXPECT_EQ(repeat.TakeDue(5000), 0);
  EXPECT_EQ(repeat.NextDelay(5000), std::nullopt);
  repeat.Press(10000);
  EXPECT_EQ(repeat.TakeDue(10399), 0);
  EXPECT_EQ(repeat.TakeDue(10400), 1);
}

}  // namespace
}  // namespace ts
