#pragma once
// The spin edits' beep counted and their clock in the test's hands while a
// fixture lives; the real ones come back after it.

#include <cstdint>

#include "ui/Spin.h"

namespace ts::test {

inline int beeps = 0;
inline uint64_t now = 0;

class TSpinHooks {
 public:
  TSpinHooks() {
    beeps = 0;
    now = 100000;
    TSpinEdit::Beep = [] { ++beeps; };
    TSpinEdit::Clock = [] { return now; };
  }
  ~TSpinHooks() {
    TSpinEdit::Beep = beep_;
    TSpinEdit::Clock = clock_;
  }
  TSpinHooks(const TSpinHooks&) = delete;
  TSpinHooks& operator=(const TSpinHooks&) = delete;

 private:
  void (*beep_)() = TSpinEdit::Beep;
  uint64_t (*clock_)() = TSpinEdit::Clock;
};

}  // namespace ts::test
