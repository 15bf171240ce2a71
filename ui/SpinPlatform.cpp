#include "ui/Spin.h"

namespace ts {

void SpinBeep() { MessageBeep(MB_OK); }
uint64_t SpinClock() { return GetTickCount64(); }

}  // namespace ts
