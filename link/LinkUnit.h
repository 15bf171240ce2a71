#pragma once
// The USB event window: a view of the instrument link's events, with the
// property listing of its device.

#include <cstdint>
#include <string>

#include "link/InstrumentLink.h"
#include "link/LinkReports.h"

#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/StdCtrls.h"

namespace ts {

class TLinkForm : public TForm {
 public:
  TPanel Panel1;
  TSpeedButton SpeedButton1;
  TButton ClearMemoBitBtn;
  TSpeedButton SpeedButton;
  TMemo Memo;

  ~TLinkForm() override;

  // Shows the link's events from now on; the link outlives nothing it lends.
  void SetLink(TInstrumentLink& link);

  void FormCreate(TObject* Sender);
  void FormActivate(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void SpeedButton1Click(TObject* Sender);
  void ClearMemoBitBtnClick(TObject* Sender);
  void SpeedButtonClick(TObject* Sender);

  // A line repeated at once is folded into one count of its repeats.
  void AddLogLine(const std::string& text);

 protected:
  void DefineWindow() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Arrange();
  void AddLine(const std::string& text);
  TInstrumentLink* link_ = nullptr;
  TLogFold fold_;
  int32_t logLineCount_ = 0;
  bool restartNumbering_ = false;
};

extern TLinkForm* LinkForm;

}  // namespace ts
