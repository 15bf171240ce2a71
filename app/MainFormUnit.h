#pragma once
// The main window: the mirrored screen, the instrument's keypad, the bottom
// toolbar, the status bar and the data-rate timer.

#include <cstdint>
#include <memory>

#include "app/LargeView.h"
#include "app/RateText.h"
#include "link/InstrumentLink.h"
#include "record/EvidenceUnit.h"
#include "record/PlaybackUnit.h"
#include "record/RecordUnit.h"
#include "screen/DisplayView.h"
#include "screen/PictureTools.h"
#include "screen/ScreenImage.h"
#include "screen/ScreenMirror.h"
#include "screen/ScreenModel.h"
#include "share/ShareForm.h"

#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/Menus.h"
#include "ui/StdCtrls.h"
#include "ui/WinHandle.h"

namespace ts {

class TMainForm : public TDisplayForm {
 public:
  // headStart, when given, is the DirectDraw object the picture starts with.
  explicit TMainForm(TDirectDrawHeadStart* headStart = nullptr);
  ~TMainForm() override;

  TSpeedButton NastrSpeedButton, UZKSpeedButton, DataSpeedButton, HelpSpeedButton;
  // The one picture the reports build; the mirror and the browsers' feed show it.
  TScreenModel Screen;
  // The mirror and the tools come before the control: the control's finalisation
  // must find them alive.
  TScreenMirror Mirror{DisplayView, Screen};
  TPictureTools PictureTools{DisplayView, Screen};
  TDisplayView DisplayView;
  TSpeedButton LeftSCRSpeedButton, F1SpeedButton, F2SpeedButton, F3SpeedButton, F4SpeedButton,
      RightSCRSpeedButton;
  TSpeedButton UpSpeedButton, LeftSpeedButton, RightSpeedButton, DownSpeedButton, EnterSpeedButton;
  TPanel Panel1;
  TButton BitBtn1;
  TCheckBox DrawCheckBox;
  TSpeedButton ReStartSpeedButton, SetParametersSpeedButton, USBMessageSpeedButton, SetSoundSpeedButton,
      UnLocButtomsSpeedButton, ScreenClearSpeedButton, InsertBorderSpeedButton;
  TStatusBar FooterStatusBar;
  TTimer SpeedTimer;
  TMainMenu MainMenu;
  TPopupMenu CopyPopupMenu;
  // Destroyed before the display control it follows.
  TLargeView LargeView{DisplayView, Screen};
  TRecordControl Recording{*this};
  // What browsers watching the screen are sent: a view of the screen model.
  TPictureFeed ShareFeed;
  TRateMeter Rate;

  // The link to the instrument: its reports, its status and the keys' road.
  void SetLink(TInstrumentLink& link);
  void FormCreate(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void SpeedTimerTimer(TObject* Sender);
  void BitBtn1Click(TObject* Sender);
  void N4Click(TObject* Sender);

  // Keypad and toolbar commands.
  void NastrSpeedButtonClick(TObject* Sender);
  void UZKSpeedButtonClick(TObject* Sender);
  void DataSpeedButtonClick(TObject* Sender);
  void HelpSpeedButtonClick(TObject* Sender);
  void LeftSCRSpeedButtonClick(TObject* Sender);
  void RightSCRSpeedButtonClick(TObject* Sender);
  void F1SpeedButtonClick(TObject* Sender);
  void F2SpeedButtonClick(TObject* Sender);
  void F3SpeedButtonClick(TObject* Sender);
  void F4SpeedButtonClick(TObject* Sender);
  void UpSpeedButtonClick(TObject* Sender);
  void LeftSpeedButtonClick(TObject* Sender);
  void RightSpeedButtonClick(TObject* Sender);
  void DownSpeedButtonClick(TObject* Sender);
  void EnterSpeedButtonClick(TObject* Sender);
  void ReStartSpeedButtonClick(TObject* Sender);
  void UnLocButtomsSpeedButtonClick(TObject* Sender);
  void SetParametersSpeedButtonClick(TObject* Sender);
  void USBMessageSpeedButtonClick(TObject* Sender);
  void SetSoundSpeedButtonClick(TObject* Sender);

  // The tile table, built and freed with the display control.
  void DisplayViewInitialize(TObject* Sender);
  void DisplayViewFinalize(TObject* Sender);
  bool DrawChecked() { return DrawCheckBox.Checked(); }
  // A report for the screen model, which the mirror and the browsers' feed show.
  void RenderScreenReport(const uint8_t* data, uint16_t size) { Screen.Take(data, size); }
  void SetStatusPanel(int index, const std::wstring& text) { FooterStatusBar.SetPanelText(index, text); }
  void RecordItemClick(TObject* Sender);
  void PlayItemClick(TObject* Sender);
  // Shows a recording in the playback window; refuses a file that is not one.
  void OpenPlayback(const std::wstring& fileName);
  // A recording is being shown in the instrument's place: the keypad sends nothing.
  bool Playing() const { return playback_ && playback_->Open(); }

  // Picture tools.
  void SaveToFileClick(TObject* Sender);
  void CopyToClipBoardClick(TObject* Sender);
  void ScreenClearSpeedButtonClick(TObject* Sender);
  void InsertBorderSpeedButtonClick(TObject* Sender);

  // The large view and the PC keyboard.
  void LargeViewClick(TObject* Sender);
  void KeyMapClick(TObject* Sender);
  // The program's one way with its own PC keys: the keypad, the large view and
  // the snapshot, ahead of dialog navigation and the focused control, while the
  // main window (or, for the keypad, the large view) has the key.
  bool KeyboardMessage(MSG& msg);

  // Showing the screen in browsers.
  void ShareItemClick(TObject* Sender);
  void SharingChange(TObject* Sender);
  // A viewer's press of key `key` of the keypad, sent as a click of it sends.
  void RemoteKey(int key, const std::wstring& viewer);
  void RemotePressesDropped(size_t count);

 protected:
  void DefineWindow() override;
  void DpiChanged() override;

 private:
  // Disables the button for the length of the send (and, for a PC key, the
  // dropping of its repeats queued meanwhile).
  void SendFrom(TSpeedButton& button, uint16_t code, uint16_t arg1);
  void SetDrawChecked(bool checked) { DrawCheckBox.SetChecked(checked); }
  void RecordingChange(TObject*) { MainMenu.SetChecked(L"RecordItem", Recording.Recording()); }
  THidDevice* LinkDevice();
  TInstrumentLink* link_ = nullptr;
  TSpeedWideText speedText_;
  void PlaybackEnded(TObject*);
  std::unique_ptr<TPlaybackWindow> playback_;
  TPlaybackFollower playbackFollower_;
  // Evidence pictures: the picture as shown and the fields that describe it.
  TPixels EvidencePixels();
  std::vector<TPngText> EvidenceTexts();
  std::unique_ptr<TEvidence> evidence_;
  void DisplayViewContextPopup(int screenX, int screenY) { CopyPopupMenu.Popup(screenX, screenY); }
  // The mirror's place at the window's dpi: the largest whole-pixel enlargement
  // that fits the scaled area, centred in it as the control centres its picture.
  RECT DisplayViewBounds() const;
  std::unique_ptr<TShareForm> shareForm_;
  TIconHandle bigIcon_, smallIcon_;  // freed after the window that shows them
  WPARAM sendingKey_ = 0;            // the PC key whose send is under way
};

extern TMainForm* MainForm;

// The program's icon at size x size pixels; null in a program built without it.
HICON LoadMainIcon(int size);

}  // namespace ts
