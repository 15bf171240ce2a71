#pragma once
// The preview beside the save dialog: whatever picture file is selected in it.

#include <windows.h>

#include <vector>

namespace ts {

// The dialog's extension: a child template holding one owner-drawn preview area.
std::vector<WORD> PreviewTemplate();
// The save dialog's hook, which keeps the preview of the selected file.
UINT_PTR CALLBACK SaveDialogHook(HWND hook, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ts
