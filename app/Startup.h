#pragma once
// Making the program's windows in their order, then running the message loop.

#include "ui/Application.h"
#include "ui/ErrorReport.h"

namespace ts {

// Each step makes one window. The result is the program's exit code. A window that
// cannot be made ends the program after the box: running on with the others would
// crash at the first use of the missing one, or leave a process with no window.
template <class... Step>
int StartProgram(TApplication& application, Step&&... makeWindow) {
  const bool made = Guarded(
      [&] {
        (makeWindow(), ...);
        return true;
      },
      false);
  if (!made) return 1;
  application.Run();
  return 0;
}

}  // namespace ts
