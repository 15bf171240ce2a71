#pragma once
// Making the program's windows in their order, then running the message loop.

#include <exception>

#include "ui/Application.h"

namespace ts {

// Each step makes one window. The result is the program's exit code.
template <class... Step>
int StartProgram(TApplication& application, Step&&... makeWindow) {
  try {
    (makeWindow(), ...);
  } catch (const std::exception& e) {
    application.ShowException(e);
  }
  application.Run();
  return 0;
}

}  // namespace ts
