#include "control/DialogForm.h"

namespace ts {

LRESULT TDialogForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(handle_, focus)) lastFocus_ = focus;
      }
      break;
    case WM_SETFOCUS: {
      HWND target = lastFocus_ && IsChild(handle_, lastFocus_) && IsWindowEnabled(lastFocus_) &&
                            IsWindowVisible(lastFocus_)
                        ? lastFocus_
                        : GetNextDlgTabItem(handle_, nullptr, FALSE);
      if (target) {
        SetFocus(target);
        return 0;
      }
      break;
    }
    default:
      break;
  }
  return TForm::WndProc(msg, wParam, lParam);
}

}  // namespace ts
