#pragma once
// The spin edits' beep counted and their clock in the test's hands while a
// fixture lives; the system's ones otherwise. A test program that includes this
// links `test_spin_hooks`, whose beep and clock take the toolkit's place.

#include <cstdint>

namespace ts::test {

inline int beeps = 0;
inline uint64_t now = 0;
inline bool hooked = false;
// While hooked, the system's clock after all: for the test of the real timer.
inline bool realClock = false;

class TSpinHooks {
 public:
  TSpinHooks() {
    beeps = 0;
    now = 100000;
    realClock = false;
    hooked = true;
  }
  ~TSpinHooks() { hooked = false; }
  TSpinHooks(const TSpinHooks&) = delete;
  TSpinHooks& operator=(const TSpinHooks&) = delete;
};

}  // namespace ts::test
