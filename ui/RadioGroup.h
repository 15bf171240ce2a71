#pragma once
// A captioned group of radio items, one of which is selected: a standard group box
// holding standard auto radio buttons. The definition row's Value is the item
// selected at start.

#include <windows.h>

#include <string>
#include <vector>

#include "ui/Controls.h"

namespace ts {

class TRadioGroup : public TWinControl {
 public:
  // Call before the window is built; items are laid out top to bottom.
  void SetItems(std::vector<std::wstring> items) { items_ = std::move(items); }
  int Count() const { return static_cast<int>(items_.size()); }
  // The selected item, or -1.
  int ItemIndex() const;
  void SetItemIndex(int index);
  HWND Item(int index) const;

 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
  void Created() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Arrange();
  void PaintFrame(HDC dc);
  void EraseAround(HDC dc);
  std::vector<std::wstring> items_;
  std::vector<HWND> itemWindows_;
};

}  // namespace ts
