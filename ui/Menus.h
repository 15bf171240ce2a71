#pragma once
// Main menu (owner-drawn) and context menu.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/Bound.h"
#include "ui/WinHandle.h"

namespace ts {

class TForm;

struct TMenuItemDef {
  const wchar_t* Name = L"";
  const wchar_t* Caption = L"";  // "-" makes a separator
  bool Default = false;          // shown in bold
  TNotifyEvent OnClick;
  std::vector<TMenuItemDef> Items;
};

class TMenu : public TObject {
 public:
  HMENU Handle() const { return handle_.Get(); }
  // Runs the handler of the item with this command id; false when it is not ours.
  bool Command(WORD id);
  virtual bool Measure(MEASUREITEMSTRUCT*) { return false; }
  virtual bool Draw(DRAWITEMSTRUCT*) { return false; }
  // The command id of the item with this name, or 0.
  UINT IdOf(const std::wstring& name) const;
  // Shows or hides the check mark of the named list item.
  void SetChecked(const std::wstring& name, bool checked);
  // Sets the handler of the named item after the menu is made.
  void SetOnClick(const std::wstring& name, TNotifyEvent onClick);

 protected:
  struct Item {
    TMenuItemDef Def;
    UINT Id = 0;
    bool Bar = false;
  };
  void Fill(HMENU menu, const std::vector<TMenuItemDef>& items, bool ownerDraw, bool bar);
  std::vector<std::unique_ptr<Item>> items_;
  TMenuHandle handle_;
};

// A menu bar whose items the toolkit draws itself, without access keys.
class TMainMenu : public TMenu {
 public:
  void Create(TForm* form, std::vector<TMenuItemDef> items);
  bool Measure(MEASUREITEMSTRUCT* item) override;
  bool Draw(DRAWITEMSTRUCT* item) override;

 private:
  HFONT Font(bool bold);
  TGdiObject font_, boldFont_;
};

class TPopupMenu : public TMenu {
 public:
  void Create(TForm* form, std::vector<TMenuItemDef> items);
  // Shows the menu at a screen position and runs the chosen item's handler.
  void Popup(int x, int y);

 private:
  TForm* form_ = nullptr;
};

}  // namespace ts
