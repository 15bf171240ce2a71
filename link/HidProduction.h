#pragma once
// The controller as the program runs it. Windows only.

#include <memory>

#include "link/HidControllerClass.h"
#include "link/HidPipeBinding.h"

namespace ts {

// Real HID devices first, then the virtual instrument; read-thread hand-overs
// and device changes through windows of the calling thread, which must be the
// user interface thread.
// The virtual instrument's refusals go to `notice`.
std::unique_ptr<THidDeviceController> CreateHidDeviceController(TObject* Owner, TPipeNotice notice = {});

}  // namespace ts
