#include "ui/Menus.h"

#include "ui/Forms.h"

namespace ts {
namespace {

UINT NextCommandId() {
  static UINT next = 100;
  return next++;
}

bool IsSeparator(const TMenuItemDef& d) { return d.Caption && d.Caption[0] == L'-' && d.Caption[1] == 0; }

}  // namespace

void TMenu::Fill(HMENU menu, const std::vector<TMenuItemDef>& items, bool ownerDraw, bool bar) {
  for (const TMenuItemDef& d : items) {
    auto item = std::make_unique<Item>();
    item->Def = d;
    item->Bar = bar;
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_FTYPE | MIIM_ID | MIIM_DATA | MIIM_STATE;
    mii.fType = IsSeparator(d) ? MFT_SEPARATOR : MFT_STRING;
    if (ownerDraw) mii.fType |= MFT_OWNERDRAW;
    if (!IsSeparator(d) && !ownerDraw) {
      mii.fMask |= MIIM_STRING;
      mii.dwTypeData = const_cast<wchar_t*>(d.Caption);
    }
    mii.fState = d.Default ? MFS_DEFAULT : 0;
    item->Id = NextCommandId();
    mii.wID = item->Id;
    mii.dwItemData = reinterpret_cast<ULONG_PTR>(item.get());
    if (!d.Items.empty()) {
      // The item takes the submenu: it goes with the menu that holds it.
      HMENU sub = CreatePopupMenu();
      Fill(sub, d.Items, ownerDraw, false);
      mii.fMask |= MIIM_SUBMENU;
      mii.hSubMenu = sub;
    }
    InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &mii);
    items_.push_back(std::move(item));
  }
}

bool TMenu::Command(WORD id) {
  for (auto& item : items_)
    if (item->Id == id) {
      if (item->Def.OnClick) item->Def.OnClick(this);
      return true;
    }
  return false;
}

UINT TMenu::IdOf(const std::wstring& name) const {
  for (auto& item : items_)
    if (name == item->Def.Name) return item->Id;
  return 0;
}

void TMenu::SetChecked(const std::wstring& name, bool checked) {
  if (UINT id = IdOf(name))
    CheckMenuItem(handle_.Get(), id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void TMenu::SetOnClick(const std::wstring& name, TNotifyEvent onClick) {
  for (auto& item : items_)
    if (name == item->Def.Name) item->Def.OnClick = onClick;
}

void TMainMenu::Create(TForm* form, std::vector<TMenuItemDef> items) {
  handle_.Reset(CreateMenu());
  Fill(handle_.Get(), items, true, true);
  form->AttachMenu(this);
  SetMenu(form->Handle(), handle_.Get());
}

HFONT TMainMenu::Font(bool bold) {
  TGdiObject& f = bold ? boldFont_ : font_;
  if (!f) {
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof ncm;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
    if (bold) ncm.lfMenuFont.lfWeight = FW_BOLD;
    f.Reset(CreateFontIndirectW(&ncm.lfMenuFont));
  }
  return static_cast<HFONT>(f.Get());
}

bool TMainMenu::Measure(MEASUREITEMSTRUCT* m) {
  auto* item = reinterpret_cast<Item*>(m->itemData);
  bool ours = false;
  for (auto& i : items_) ours |= i.get() == item;
  if (!ours) return false;
  if (IsSeparator(item->Def)) {
    m->itemWidth = 10;
    m->itemHeight = 8;
    return true;
  }
  const TWindowDC screen(nullptr);
  HDC dc = screen.Get();
  HGDIOBJ old = SelectObject(dc, Font(item->Def.Default));
  SIZE size{};
  GetTextExtentPoint32W(dc, item->Def.Caption, lstrlenW(item->Def.Caption), &size);
  SelectObject(dc, old);
  // A bar item is padded on both sides; a list item leaves room for a check mark.
  m->itemWidth = size.cx + (item->Bar ? 8 : 24);
  m->itemHeight = size.cy + (item->Bar ? 2 : 6);
  return true;
}

bool TMainMenu::Draw(DRAWITEMSTRUCT* d) {
  auto* item = reinterpret_cast<Item*>(d->itemData);
  bool ours = false;
  for (auto& i : items_) ours |= i.get() == item;
  if (!ours) return false;
  HDC dc = d->hDC;
  RECT r = d->rcItem;
  bool selected = d->itemState & (ODS_SELECTED | ODS_HOTLIGHT);
  int back = item->Bar ? COLOR_MENUBAR : COLOR_MENU;
  if (selected && !item->Bar) back = COLOR_HIGHLIGHT;
  FillRect(dc, &r, GetSysColorBrush(back));
  if (IsSeparator(item->Def)) {
    RECT line{r.left + 2, (r.top + r.bottom) / 2 - 1, r.right - 2, (r.top + r.bottom) / 2 + 1};
    DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
    return true;
  }
  if (selected && item->Bar)
    DrawEdge(dc, &r, d->itemState & ODS_SELECTED ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
  HGDIOBJ old = SelectObject(dc, Font(item->Def.Default));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected && !item->Bar ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
  RECT text = r;
  if (!item->Bar && d->itemState & ODS_CHECKED) {
    // A tick drawn with two strokes: no font is sure to hold the character.
    const TGdiObject pen(CreatePen(PS_SOLID, 2, GetTextColor(dc)));
    HGDIOBJ oldPen = SelectObject(dc, pen.Get());
    const int y = (r.top + r.bottom) / 2;
    MoveToEx(dc, r.left + 5, y, nullptr);
    LineTo(dc, r.left + 8, y + 3);
    LineTo(dc, r.left + 14, y - 4);
    SelectObject(dc, oldPen);
  }
  text.left += item->Bar ? 4 : 18;
  DrawTextW(dc, item->Def.Caption, -1, &text,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (item->Bar ? DT_CENTER : DT_LEFT));
  SelectObject(dc, old);
  return true;
}

void TPopupMenu::Create(TForm* form, std::vector<TMenuItemDef> items) {
  form_ = form;
  handle_.Reset(CreatePopupMenu());
  Fill(handle_.Get(), items, false, false);
}

void TPopupMenu::Popup(int x, int y) {
  UINT id = TrackPopupMenu(handle_.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0,
                           form_->Handle(), nullptr);
  if (id) Command(static_cast<WORD>(id));
}

}  // namespace ts
