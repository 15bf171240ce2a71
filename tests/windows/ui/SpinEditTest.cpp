// The spin edit as a window: refused keys, Delete, stepping by keys and buttons,
// the held-button repeat, focus loss and reading.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "tests/windows/support/Pump.h"
#include "tests/windows/support/SpinHooks.h"
#include "ui/Application.h"
#include "ui/Forms.h"
#include "ui/Spin.h"

namespace ts::test {
namespace {

// Fields with the ranges and lengths the program's dialogs give theirs.
class TSpinForm : public TForm {
 public:
  TSpinEdit Gain, DWidth, DShift, Sound, X, Y, Time;

 protected:
  void DefineWindow() override {
    Build(TFormDef{.Caption = L"Spin",
                   .Left = 40,
                   .Top = 40,
                   .ClientWidth = 400,
                   .ClientHeight = 100,
                   .Border = TBorderStyle::Dialog,
                   .FontName = L"MS Sans Serif",
                   .FontHeight = 11},
          {
              // clang-format off
              {.Control = &Gain, .Left = 8, .Top = 8, .Width = 49, .Height = 22, .Min = 0, .Max = 80, .Value = 44, .MaxLength = 2},
              {.Control = &DWidth, .Left = 64, .Top = 8, .Width = 65, .Height = 22, .Min = 0, .Max = 1900, .Value = 44, .MaxLength = 4},
              {.Control = &DShift, .Left = 136, .Top = 8, .Width = 65, .Height = 22, .Min = -2, .Max = 98, .Value = 44, .MaxLength = 2},
              {.Control = &Sound, .Left = 208, .Top = 8, .Width = 97, .Height = 22, .Min = 1, .Max = 25, .Value = 3},
              {.Control = &X, .Left = 8, .Top = 40, .Width = 49, .Height = 22, .Min = 0, .Max = 90, .Value = 50, .MaxLength = 2},
              {.Control = &Y, .Left = 64, .Top = 40, .Width = 49, .Height = 22, .Min = 0, .Max = 190, .Value = 60, .MaxLength = 2},
              {.Control = &Time, .Left = 136, .Top = 40, .Width = 49, .Height = 22, .Min = 1, .Max = 20, .Value = 4, .MaxLength = 2},
              // clang-format on
          });
  }
};

class SpinEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TApplication>();
    app->Initialize();
    app->CreateForm(form);
  }
  void TearDown() override { app.reset(); }

  TSpinHooks hooks;
  std::unique_ptr<TApplication> app;
  TSpinForm* form = nullptr;
};

void Char(const TSpinEdit& field, wchar_t ch) { SendMessageW(field.Handle(), WM_CHAR, ch, 1); }
void Key(const TSpinEdit& field, WPARAM vk) { SendMessageW(field.Handle(), WM_KEYDOWN, vk, 1); }

// Presses and releases one half of the field's buttons with the mouse.
void PressButton(const TSpinEdit& field, bool up) {
  RECT r;
  GetClientRect(field.Buttons(), &r);
  LPARAM at = MAKELPARAM(r.right / 2, up ? 1 : r.bottom - 2);
  SendMessageW(field.Buttons(), WM_LBUTTONDOWN, MK_LBUTTON, at);
}
void ReleaseButton(const TSpinEdit& field) { SendMessageW(field.Buttons(), WM_LBUTTONUP, 0, 0); }
void Tick(const TSpinEdit& field) { SendMessageW(field.Buttons(), WM_TIMER, 1, 0); }

TEST_F(SpinEdit, RefusesTypingBackspaceAndEnterWithABeepAndChangesNothing) {
  TSpinEdit& gain = form->Gain;
  form->Show();
  SetFocus(gain.Handle());
  SendMessageW(gain.Handle(), EM_SETSEL, 2, 2);
  for (wchar_t ch : {L'5', L'a', L' ', L'-', L'\b', L'\r'}) Char(gain, ch);
  EXPECT_EQ(gain.Text(), L"44");
  EXPECT_EQ(beeps, 6);

  // Enter as the keyboard delivers it, through the program's own dialog handling.
  PostMessageW(gain.Handle(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
  app->ProcessMessages();
  EXPECT_EQ(beeps, 7);
  EXPECT_EQ(gain.Text(), L"44");
  EXPECT_TRUE(IsWindowVisible(form->Handle()));
}

TEST_F(SpinEdit, TakesNoPasteOrCutButDeleteStillWorks) {
  TSpinEdit& sound = form->Sound;
  form->Show();
  sound.SetValue(10);
  SetFocus(sound.Handle());
  if (OpenClipboard(nullptr)) {
    EmptyClipboard();
    HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, 3 * sizeof(wchar_t));
    memcpy(GlobalLock(text), L"77", 3 * sizeof(wchar_t));
    GlobalUnlock(text);
    SetClipboardData(CF_UNICODETEXT, text);
    CloseClipboard();
  }
  SendMessageW(sound.Handle(), EM_SETSEL, 0, -1);
  SendMessageW(sound.Handle(), WM_PASTE, 0, 0);
  SendMessageW(sound.Handle(), WM_CUT, 0, 0);
  Char(sound, 0x16);  // Ctrl+V
  Char(sound, 0x18);  // Ctrl+X
  BYTE keys[256];
  GetKeyboardState(keys);
  BYTE shift = keys[VK_SHIFT];
  keys[VK_SHIFT] = 0x80;
  SetKeyboardState(keys);
  Key(sound, VK_INSERT);
  Key(sound, VK_DELETE);
  keys[VK_SHIFT] = shift;
  SetKeyboardState(keys);
  EXPECT_EQ(sound.Text(), L"10");
  EXPECT_EQ(beeps, 0);

  // Deleting the "1" of "10" leaves "0", out of range; reading does not clamp it.
  SendMessageW(sound.Handle(), EM_SETSEL, 0, 0);
  Key(sound, VK_DELETE);
  EXPECT_EQ(sound.Text(), L"0");
  EXPECT_EQ(sound.Value(), 0);
  EXPECT_EQ(sound.ValueInRange(), 1);
  SendMessageW(sound.Handle(), EM_SETSEL, 1, 1);
  Key(sound, VK_DELETE);
  EXPECT_EQ(sound.Text(), L"0") << "nothing right of the caret";
  SendMessageW(sound.Handle(), EM_SETSEL, 0, -1);
  Key(sound, VK_DELETE);
  EXPECT_EQ(sound.Text(), L"");
  EXPECT_EQ(sound.Value(), 1) << "an empty field reads as its minimum";
}

TEST_F(SpinEdit, KeysAndButtonsStepByOneAndStopAtTheEnds) {
  TSpinEdit& gain = form->Gain;
  gain.SetValue(78);
  for (int i = 0; i < 4; ++i) Key(gain, VK_UP);
  EXPECT_EQ(gain.Text(), L"80") << "a field never passes its maximum";
  Key(gain, VK_DOWN);
  EXPECT_EQ(gain.Value(), 79);
  for (int i = 0; i < 3; ++i) {
    PressButton(gain, true);
    ReleaseButton(gain);
  }
  EXPECT_EQ(gain.Text(), L"80");

  TSpinEdit& sound = form->Sound;
  for (int i = 0; i < 30; ++i) {
    PressButton(sound, true);
    ReleaseButton(sound);
  }
  EXPECT_EQ(sound.Text(), L"25");
  for (int i = 0; i < 30; ++i) {
    PressButton(sound, false);
    ReleaseButton(sound);
  }
  EXPECT_EQ(sound.Text(), L"1");
  Key(sound, VK_DOWN);
  EXPECT_EQ(sound.Text(), L"1");

  // A text out of range steps back into it.
  sound.SetText(L"0");
  Key(sound, VK_DOWN);
  EXPECT_EQ(sound.Text(), L"1");
  TSpinEdit& shift = form->DShift;
  shift.SetValue(-1);
  Key(shift, VK_DOWN);
  Key(shift, VK_DOWN);
  EXPECT_EQ(shift.Text(), L"-2");
  EXPECT_EQ(beeps, 0);
}

TEST_F(SpinEdit, AHeldButtonRepeatsAfter400MsThenEvery100Ms) {
  TSpinEdit& sound = form->Sound;
  form->Show();
  const uint64_t t0 = now;
  PressButton(sound, true);
  EXPECT_TRUE(sound.ButtonHeld());
  EXPECT_EQ(sound.Value(), 4) << "the press itself steps";
  std::vector<std::pair<uint64_t, int>> schedule = {{399, 4}, {400, 5}, {450, 5},  {499, 5},
                                                    {500, 6}, {600, 7}, {950, 10}, {1000, 11}};
  for (auto [at, value] : schedule) {
    now = t0 + at;
    Tick(sound);
    EXPECT_EQ(sound.Value(), value) << at << " ms after the press";
  }
  ReleaseButton(sound);
  EXPECT_FALSE(sound.ButtonHeld());
  now = t0 + 5000;
  Tick(sound);
  EXPECT_EQ(sound.Value(), 11) << "no step after the release";

  // Held long enough the field stops at its maximum.
  PressButton(sound, true);
  now += 10000;
  Tick(sound);
  EXPECT_EQ(sound.Value(), 25);
  // Losing the mouse capture ends the hold as a release does.
  ReleaseCapture();
  EXPECT_FALSE(sound.ButtonHeld());
}

TEST_F(SpinEdit, TheRealTimerDrivesTheRepeatWhileHeld) {
  realClock = true;
  TSpinEdit& y = form->Y;
  form->Show();
  PressButton(y, false);
  EXPECT_EQ(y.Value(), 59);
  EXPECT_TRUE(PumpUntil([&] { return y.Value() <= 56; }, 10000));
  ReleaseButton(y);
  int released = y.Value();
  // Whatever timer message is still queued finds the hold over.
  app->ProcessMessages();
  EXPECT_EQ(y.Value(), released);
}

TEST_F(SpinEdit, LosingTheFocusPutsAnOutOfRangeTextBackIntoRange) {
  form->Show();
  TSpinEdit& sound = form->Sound;
  sound.SetText(L"0");
  SetFocus(sound.Handle());
  EXPECT_EQ(sound.Text(), L"0");
  SetFocus(nullptr);
  EXPECT_EQ(sound.Text(), L"1");

  TSpinEdit& time = form->Time;
  time.SetText(L"35");
  SetFocus(time.Handle());
  SetFocus(form->X.Handle());
  EXPECT_EQ(time.Text(), L"20");
  // A text that is no integer reads as the minimum, which is in range: it stays.
  TSpinEdit& x = form->X;
  x.SetText(L"");
  SetFocus(time.Handle());
  EXPECT_EQ(x.Text(), L"");
  EXPECT_EQ(x.Value(), 0);
}

TEST_F(SpinEdit, ReadingANonIntegerGivesTheMinimum) {
  TSpinEdit& shift = form->DShift;
  shift.SetText(L"-");
  EXPECT_EQ(shift.Value(), -2);
  shift.SetText(L"1x");
  EXPECT_EQ(shift.Value(), -2);
  TSpinEdit& width = form->DWidth;
  width.SetText(L"");
  EXPECT_EQ(width.Value(), 0);
  width.SetText(L"2500");
  EXPECT_EQ(width.Value(), 2500) << "reading does not clamp";
  EXPECT_EQ(width.ValueInRange(), 1900);
}

TEST_F(SpinEdit, ButtonsSitInsideTheFieldAndTheTextStaysClearOfThem) {
  TSpinEdit& gain = form->Gain;
  EXPECT_EQ(GetParent(gain.Buttons()), gain.Handle());
  RECT field, buttons;
  GetClientRect(gain.Handle(), &field);
  GetWindowRect(gain.Buttons(), &buttons);
  MapWindowPoints(nullptr, gain.Handle(), reinterpret_cast<POINT*>(&buttons), 2);
  EXPECT_EQ(buttons.right, field.right);
  EXPECT_EQ(buttons.top, 0);
  EXPECT_EQ(buttons.bottom, field.bottom);
  DWORD margins = static_cast<DWORD>(SendMessageW(gain.Handle(), EM_GETMARGINS, 0, 0));
  EXPECT_GE(HIWORD(margins), buttons.right - buttons.left) << "margin survives the form's font";
}

}  // namespace
}  // namespace ts::test
