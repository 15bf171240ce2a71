#pragma once
// Panel, status bar and timer.

#include <windows.h>

#include <string>
#include <vector>

#include "ui/Controls.h"

namespace ts {

class TForm;

// A panel with a raised outer and a lowered inner bevel; children sit on it.
class TPanel : public TWinControl {
 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

enum class TAlignment { Left, Center };

struct TStatusPanel {
  int Width;
  TAlignment Alignment;
  bool RightToLeft;
  const wchar_t* Text;
};

// The standard status bar with fixed panels. Centring uses the control's tab
// convention; panel text is kept so it can be read back.
class TStatusBar : public TWinControl {
 public:
  void SetPanels(std::vector<TStatusPanel> panels);
  void SetPanelText(int index, const std::wstring& text);
  void Repaint();
  void LaidOut() override;

 protected:
  HWND CreateWindowFor(const TControlDef& def, HWND parent) override;

 private:
  void SetParts();
  std::vector<TStatusPanel> panels_;
  std::vector<std::wstring> texts_;
  std::wstring shown_;  // kept, so a changed text needs no new storage
};

class TTimer : public TObject {
 public:
  ~TTimer() override;
  // Starts ticking on the form's window every interval milliseconds.
  void Start(TForm* owner, UINT interval, TNotifyEvent onTimer);
  void Stop();
  UINT Interval() const { return interval_; }
  UINT_PTR Id() const { return reinterpret_cast<UINT_PTR>(this); }
  void Tick();

 private:
  TForm* owner_ = nullptr;
  UINT interval_ = 1000;
  TNotifyEvent onTimer_;
};

}  // namespace ts
