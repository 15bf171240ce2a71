#include "ui/ExtCtrls.h"

#include <commctrl.h>

#include "ui/Dpi.h"
#include "ui/Forms.h"
#include "ui/WinHandle.h"

namespace ts {

HWND TPanel::CreateWindowFor(const TControlDef& def, HWND parent) {
  return CreateOwn(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, def,
                   parent);
}

LRESULT TPanel::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    const TPaintDC paint(handle_);
    HDC dc = paint.Get();
    RECT r;
    GetClientRect(handle_, &r);
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &r, BDR_RAISEDOUTER, BF_RECT);
    InflateRect(&r, -1, -1);
    DrawEdge(dc, &r, BDR_SUNKENINNER, BF_RECT);
    return 0;
  }
  if (msg == WM_ERASEBKGND) return 1;
  return TWinControl::WndProc(msg, wParam, lParam);
}

HWND TStatusBar::CreateWindowFor(const TControlDef& def, HWND parent) {
  // Placed by its definition, not by the control's own docking, so the panel
  // edges and the bar's height are exactly as laid out.
  return CreateStandard(STATUSCLASSNAMEW,
                        WS_CHILD | WS_VISIBLE | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0, def,
                        parent);
}

void TStatusBar::SetPanels(std::vector<TStatusPanel> panels) {
  panels_ = std::move(panels);
  // Unlike any text, so that the first write of each panel reaches the control.
  texts_.assign(panels_.size(), std::wstring(1, L'\uFFFF'));
  SetParts();
  for (size_t i = 0; i < panels_.size(); ++i) SetPanelText(static_cast<int>(i), panels_[i].Text);
}

void TStatusBar::SetParts() {
  const int dpi = Form() ? Form()->Dpi() : kDesignDpi;
  std::vector<int> edges;
  int x = 0;
  for (size_t i = 0; i < panels_.size(); ++i) {
    x += ScaleToDpi(panels_[i].Width, dpi);
    // The last panel reaches to the right end of the bar.
    edges.push_back(i + 1 == panels_.size() ? -1 : x);
  }
  SendMessageW(handle_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void TStatusBar::LaidOut() { SetParts(); }

void TStatusBar::SetPanelText(int index, const std::wstring& text) {
  // The same text again changes nothing on screen; the link writes the report
  // size for every report, a thousand times a second.
  if (index < 0 || index >= static_cast<int>(panels_.size()) || texts_[index] == text) return;
  texts_[index] = text;
  const TStatusPanel& p = panels_[index];
  shown_.assign(p.Alignment == TAlignment::Center ? L"\t" : L"").append(text);
  WPARAM flags = static_cast<WPARAM>(index) | (p.RightToLeft ? SBT_RTLREADING : 0);
  SendMessageW(handle_, SB_SETTEXTW, flags, reinterpret_cast<LPARAM>(shown_.c_str()));
}

void TStatusBar::Repaint() {
  InvalidateRect(handle_, nullptr, TRUE);
  UpdateWindow(handle_);
}

TTimer::~TTimer() { Stop(); }

void TTimer::Start(TForm* owner, UINT interval, TNotifyEvent onTimer) {
  Stop();
  owner_ = owner;
  interval_ = interval;
  onTimer_ = onTimer;
  owner_->AttachTimer(this);
  SetTimer(owner_->Handle(), Id(), interval_, nullptr);
}

void TTimer::Stop() {
  if (!owner_) return;
  if (owner_->Handle()) KillTimer(owner_->Handle(), Id());
  owner_->DetachTimer(this);
  owner_ = nullptr;
}

void TTimer::Tick() {
  if (onTimer_) onTimer_(this);
}

}  // namespace ts
