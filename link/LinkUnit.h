#pragma once
// The USB event window: the link to the instrument, the event log and the
// property listing.

#include <cstdint>
#include <string>

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

  void FormCreate(TObject* Sender);
  void FormActivate(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void SpeedButton1Click(TObject* Sender);
  void ClearMemoBitBtnClick(TObject* Sender);
  void SpeedButtonClick(TObject* Sender);

  void AddLogLine(const std::string& text);
  void SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3);
  void SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text);

protected:
  void DefineWindow() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
  void Arrange();
};

extern TLinkForm* LinkForm;
extern int32_t LogLineCount;

}  // namespace ts
