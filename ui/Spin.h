#pragma once
// The numeric spin edit: an EDIT that takes no typing, with up and down buttons of
// its own at its right end. The rules live in SpinLogic; this is the window.

#include <windows.h>

#include <cstdint>
#include <string>

#include "ui/Controls.h"
#include "ui/SpinLogic.h"

namespace ts {

// The system's warning beep and millisecond clock, alone in their own object
// file so that a test program can link its own in their place.
void SpinBeep();
uint64_t SpinClock();

class TSpinEdit : public TWinControl {
 public:
  // The integer in the text, or the minimum; reading does not clamp.
  int Value() const;
  // The value as it would stand after the field lost the focus.
  int ValueInRange() const;
  void SetValue(int value);
  const TSpinRange& Range() const { return range_; }

  // One step from the current text, clamped to the range.
  void StepBy(int delta);

  // The up and down buttons, a child of the edit.
  HWND Buttons() const { return buttons_.Handle(); }
  // Held-button state, for the tests of the repeat schedule.
  bool ButtonHeld() const { return repeat_.Held(); }
  void LaidOut() override;

 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
  void Created() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  class TSpinButtons : public TWinControl {
   public:
    explicit TSpinButtons(TSpinEdit& owner) : owner_(owner) {}

   protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

   private:
    void Paint();
    void Release();
    TSpinEdit& owner_;
    int pressed_ = 0;  // +1 up, -1 down, 0 none
  };

  std::u16string Text16() const;
  void KeepButtonsClear();
  void BeginHold(int delta);
  void RepeatTick();
  void EndHold();
  void Schedule();

  TSpinRange range_{0, 0};
  TSpinRepeat repeat_;
  int heldDelta_ = 0;
  TSpinButtons buttons_{*this};
};

}  // namespace ts
