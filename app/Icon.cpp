// The main window's icon comes from the program's resources, where the build put
// it at every size from app/IconPicture.h.

#include <windows.h>

#include "app/MainFormUnit.h"
#include "res/Resources.h"

namespace ts {

HICON LoadMainIcon(int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(TS_PROGRAM_ICON),
                                       IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

}  // namespace ts
