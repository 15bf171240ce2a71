#include "tests/windows/support/SpinHooks.h"

#include "ui/Spin.h"

namespace ts {

void SpinBeep() {
  if (test::hooked)
    ++test::beeps;
  else
    MessageBeep(MB_OK);
}

uint64_t SpinClock() { return test::hooked && !test::realClock ? test::now : GetTickCount64(); }

}  // namespace ts
