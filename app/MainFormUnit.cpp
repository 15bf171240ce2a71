#include "app/MainFormUnit.h"

#include <algorithm>

#include "app/RateText.h"
#include "control/ControlUnit.h"
#include "control/SoundUnit.h"
#include "control/USBMessageUnit.h"
#include "link/LinkReports.h"
#include "link/LinkUnit.h"
#include "protocol/Ts4170Protocol.h"
#include "record/ProgressWindow.h"
#include "res/ProgramVersion.h"
#include "screen/DDrawBase.h"
#include "ui/Application.h"
#include "ui/DisabledWhileSending.h"
#include "ui/Dpi.h"

namespace ts {

TMainForm* MainForm = nullptr;

namespace {

// Command codes and key masks of the instrument.
constexpr uint16_t kKeyPress = TS4170_CMD_KEY, kRestart = TS4170_CMD_RESTART, kLock = TS4170_CMD_LOCK,
                   kUnlock = TS4170_CMD_UNLOCK;

constexpr UINT kLargeViewKey = VK_F9;
constexpr UINT kSnapshotKey = VK_F12;

// The PC keys that press the instrument's keys, through the on-screen key's own
// handler so that each sends exactly what a click sends.
struct TKeyBinding {
  UINT Key;
  const wchar_t* KeyName;
  const wchar_t* Target;
  void (TMainForm::*Click)(TObject*);
};
constexpr TKeyBinding kKeyMap[] = {
    {VK_UP, L"↑", L"стрелка вверх", &TMainForm::UpSpeedButtonClick},
    {VK_DOWN, L"↓", L"стрелка вниз", &TMainForm::DownSpeedButtonClick},
    {VK_LEFT, L"←", L"стрелка влево", &TMainForm::LeftSpeedButtonClick},
    {VK_RIGHT, L"→", L"стрелка вправо", &TMainForm::RightSpeedButtonClick},
    {VK_RETURN, L"Enter", L"Ввод", &TMainForm::EnterSpeedButtonClick},
    {VK_F1, L"F1", L"F1", &TMainForm::F1SpeedButtonClick},
    {VK_F2, L"F2", L"F2", &TMainForm::F2SpeedButtonClick},
    {VK_F3, L"F3", L"F3", &TMainForm::F3SpeedButtonClick},
    {VK_F4, L"F4", L"F4", &TMainForm::F4SpeedButtonClick},
    {VK_F5, L"F5", L"Настройка", &TMainForm::NastrSpeedButtonClick},
    {VK_F6, L"F6", L"УЗ контроль", &TMainForm::UZKSpeedButtonClick},
    {VK_F7, L"F7", L"Данные", &TMainForm::DataSpeedButtonClick},
    {VK_F8, L"F8", L"Помощь", &TMainForm::HelpSpeedButtonClick},
    {VK_PRIOR, L"Page Up", L"левая экранная клавиша ◄", &TMainForm::LeftSCRSpeedButtonClick},
    {VK_NEXT, L"Page Down", L"правая экранная клавиша ►", &TMainForm::RightSCRSpeedButtonClick},
};

constexpr LPARAM kRepeatBit = LPARAM{1} << 30;

// Repeats of `key` that queued up while its send was pending: they are dropped,
// so a held key never builds a backlog of reports.
void DropQueuedRepeats(WPARAM key) {
  MSG next;
  while (PeekMessageW(&next, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE) && next.wParam == key &&
         (next.lParam & kRepeatBit))
    PeekMessageW(&next, next.hwnd, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE);
}

}  // namespace

TMainForm::TMainForm(TDirectDrawHeadStart* headStart) {
  DisplayView.SetHeadStart(headStart);
  Screen.OutputOn = Bind(this, &TMainForm::DrawChecked);
  Screen.AddView(Bind(&ShareFeed, &TPictureFeed::Show));
}

TMainForm::~TMainForm() {
  // Its server posts viewers' presses to it and calls back here.
  shareForm_.reset();
  if (Application && Application->OnMessage == Bind(this, &TMainForm::KeyboardMessage))
    Application->OnMessage = nullptr;
  DestroyHandle();
}

void TMainForm::DefineWindow() {
  auto click = [this](void (TMainForm::*handler)(TObject*)) { return Bind(this, handler); };
  Build(TFormDef{.Caption = L"Виртуальный дефектоскоп ТС4170 V18.09",
                 .ClientWidth = 512,
                 .ClientHeight = 353,
                 .Border = TBorderStyle::Single,
                 .BorderIcons = biSystemMenu,
                 .Position = TPosition::ScreenCenter,
                 .Visible = true,
                 .OnCreate = click(&TMainForm::FormCreate),
                 .OnClose = Bind(this, &TMainForm::FormClose)},
        {
            // clang-format off
          {.Control = &NastrSpeedButton, .Left = 4, .Top = 16, .Width = 84, .Height = 33, .Caption = L"Настройка", .Flags = kBold, .OnClick = click(&TMainForm::NastrSpeedButtonClick)},
          {.Control = &UZKSpeedButton, .Left = 4, .Top = 64, .Width = 84, .Height = 33, .Caption = L"УЗ контроль", .Flags = kBold, .OnClick = click(&TMainForm::UZKSpeedButtonClick)},
          {.Control = &DataSpeedButton, .Left = 4, .Top = 112, .Width = 84, .Height = 33, .Caption = L"Данные", .Flags = kBold, .OnClick = click(&TMainForm::DataSpeedButtonClick)},
          {.Control = &HelpSpeedButton, .Left = 4, .Top = 160, .Width = 84, .Height = 33, .Caption = L"Помощь", .Flags = kBold, .OnClick = click(&TMainForm::HelpSpeedButtonClick)},
          {.Control = &LeftSCRSpeedButton, .Left = 73, .Top = 256, .Width = 38, .Height = 25, .Hint = L"", .Glyph = TGlyph::TriangleLeft, .OnClick = click(&TMainForm::LeftSCRSpeedButtonClick)},
          {.Control = &F1SpeedButton, .Left = 115, .Top = 256, .Width = 68, .Height = 25, .Caption = L"F1", .Flags = kBold, .OnClick = click(&TMainForm::F1SpeedButtonClick)},
          {.Control = &F2SpeedButton, .Left = 187, .Top = 256, .Width = 68, .Height = 25, .Caption = L"F2", .Flags = kBold, .OnClick = click(&TMainForm::F2SpeedButtonClick)},
          {.Control = &F3SpeedButton, .Left = 259, .Top = 256, .Width = 68, .Height = 25, .Caption = L"F3", .Flags = kBold, .OnClick = click(&TMainForm::F3SpeedButtonClick)},
          {.Control = &F4SpeedButton, .Left = 331, .Top = 256, .Width = 68, .Height = 25, .Caption = L"F4", .Flags = kBold, .OnClick = click(&TMainForm::F4SpeedButtonClick)},
          {.Control = &RightSCRSpeedButton, .Left = 403, .Top = 256, .Width = 38, .Height = 25, .Glyph = TGlyph::TriangleRight, .OnClick = click(&TMainForm::RightSCRSpeedButtonClick)},
          {.Control = &UpSpeedButton, .Left = 446, .Top = 0, .Width = 33, .Height = 25, .Glyph = TGlyph::ArrowUp, .OnClick = click(&TMainForm::UpSpeedButtonClick)},
          {.Control = &LeftSpeedButton, .Left = 428, .Top = 32, .Width = 33, .Height = 25, .Glyph = TGlyph::ArrowLeft, .OnClick = click(&TMainForm::LeftSpeedButtonClick)},
          {.Control = &RightSpeedButton, .Left = 468, .Top = 32, .Width = 33, .Height = 25, .Glyph = TGlyph::ArrowRight, .OnClick = click(&TMainForm::RightSpeedButtonClick)},
          {.Control = &DownSpeedButton, .Left = 446, .Top = 64, .Width = 33, .Height = 25, .Glyph = TGlyph::ArrowDown, .OnClick = click(&TMainForm::DownSpeedButtonClick)},
          {.Control = &EnterSpeedButton, .Left = 446, .Top = 96, .Width = 57, .Height = 25, .Caption = L"Ввод", .Glyph = TGlyph::Enter, .OnClick = click(&TMainForm::EnterSpeedButtonClick)},
          {.Control = &Panel1, .Left = 0, .Top = 301, .Width = 512, .Height = 30},
          {.Control = &BitBtn1, .Parent = &Panel1, .Left = 8, .Top = 4, .Width = 89, .Height = 22, .Caption = L"События USB", .OnClick = click(&TMainForm::BitBtn1Click)},
          {.Control = &DrawCheckBox, .Parent = &Panel1, .Left = 118, .Top = 4, .Width = 115, .Height = 22, .Caption = L"Вывод картинки", .Flags = kChecked},
          {.Control = &ReStartSpeedButton, .Parent = &Panel1, .Left = 242, .Top = 4, .Width = 23, .Height = 22, .Hint = L"Рестарт", .Glyph = TGlyph::Restart, .OnClick = click(&TMainForm::ReStartSpeedButtonClick)},
          {.Control = &SetParametersSpeedButton, .Parent = &Panel1, .Left = 267, .Top = 4, .Width = 33, .Height = 22, .Hint = L"Установить параметры прибора", .Glyph = TGlyph::Parameters, .Flags = kDisabled, .OnClick = click(&TMainForm::SetParametersSpeedButtonClick)},
          {.Control = &USBMessageSpeedButton, .Parent = &Panel1, .Left = 302, .Top = 4, .Width = 33, .Height = 22, .Hint = L"Послать сообщение", .Glyph = TGlyph::Message, .OnClick = click(&TMainForm::USBMessageSpeedButtonClick)},
          {.Control = &SetSoundSpeedButton, .Parent = &Panel1, .Left = 337, .Top = 4, .Width = 33, .Height = 22, .Hint = L"Проиграть звук", .Glyph = TGlyph::Sound, .OnClick = click(&TMainForm::SetSoundSpeedButtonClick)},
          {.Control = &UnLocButtomsSpeedButton, .Parent = &Panel1, .Left = 372, .Top = 4, .Width = 28, .Height = 22, .Hint = L"Блокировка клавиатуры прибора", .Glyph = TGlyph::Keypad, .Flags = kToggle, .OnClick = click(&TMainForm::UnLocButtomsSpeedButtonClick)},
          {.Control = &ScreenClearSpeedButton, .Parent = &Panel1, .Left = 447, .Top = 4, .Width = 23, .Height = 22, .Hint = L"Очистка экрана", .Glyph = TGlyph::BlankPage, .OnClick = click(&TMainForm::ScreenClearSpeedButtonClick)},
          {.Control = &InsertBorderSpeedButton, .Parent = &Panel1, .Left = 479, .Top = 4, .Width = 23, .Height = 22, .Hint = L"Вставить рамку", .Glyph = TGlyph::DottedFrame, .OnClick = click(&TMainForm::InsertBorderSpeedButtonClick)},
          {.Control = &FooterStatusBar, .Left = 0, .Top = 331, .Width = 512, .Height = 22},
            // clang-format on
        });
  // The display control, as the definition stores it: windowed, back surface in
  // system memory, centred, 326 x 246; it initialises when the window first shows.
  DisplayView.SetOptions(kMainWindowDisplayOptions);
  DisplayView.Display().SetBitCount(24);
  DisplayView.Display().FixedSize = true;
  DisplayView.Display().SetWidth(1024);
  DisplayView.Display().SetHeight(768);
  DisplayView.SetSurfaceWidth(326);
  DisplayView.SetSurfaceHeight(246);
  DisplayView.OnInitialize = click(&TMainForm::DisplayViewInitialize);
  DisplayView.OnFinalize = click(&TMainForm::DisplayViewFinalize);
  DisplayView.OnContextPopup = Bind(this, &TMainForm::DisplayViewContextPopup);
  DisplayView.SetPresentScale(Dpi() / kDesignDpi);
  const RECT bounds = DisplayViewBounds();
  DisplayView.CreateWnd(handle_, bounds.left, bounds.top, bounds.right - bounds.left,
                        bounds.bottom - bounds.top);
  FooterStatusBar.SetPanels({
      {150, TAlignment::Center, true, L"Нет связи с ТС4170???"},
      {240, TAlignment::Center, false, L"Скорость приема данных"},
      {50, TAlignment::Left, false, L"Размер пакета"},
  });
  MainMenu.Create(this, {
                            {.Name = L"N1",
                             .Caption = L"Файл",
                             .Default = true,
                             .Items = {{.Name = L"SaveToFile",
                                        .Caption = L"Сохранить",
                                        .OnClick = click(&TMainForm::SaveToFileClick)},
                                       {.Name = L"N3", .Caption = L"-"},
                                       {.Name = L"N4",
                                        .Caption = L"Выход",
                                        .Default = true,
                                        .OnClick = click(&TMainForm::N4Click)}}},
                            {.Name = L"ViewMenu",
                             .Caption = L"Вид",
                             .Items = {{.Name = L"LargeViewItem",
                                        .Caption = L"Крупный экран (F9)",
                                        .OnClick = click(&TMainForm::LargeViewClick)},
                                       {.Name = L"KeyMapItem",
                                        .Caption = L"Клавиши клавиатуры ПК",
                                        .OnClick = click(&TMainForm::KeyMapClick)}}},
                            {.Name = L"RecordMenu",
                             .Caption = L"Запись",
                             .Items = {{.Name = L"RecordItem",
                                        .Caption = L"Записывать отчёты прибора",
                                        .OnClick = click(&TMainForm::RecordItemClick)},
                                       {.Name = L"PlayItem",
                                        .Caption = L"Воспроизвести запись...",
                                        .OnClick = click(&TMainForm::PlayItemClick)},
                                       {.Name = L"N5", .Caption = L"-"},
                                       {.Name = L"PngItem", .Caption = L"Сохранить картинку в PNG..."},
                                       {.Name = L"SnapshotItem", .Caption = L"Снимок в папку (F12)"},
                                       {.Name = L"GifItem", .Caption = L"Экспорт записи в GIF..."},
                                       {.Name = L"FramesItem", .Caption = L"Экспорт записи в кадры PNG..."}}},
                            {.Name = L"ShareMenu",
                             .Caption = L"Показ",
                             .Items = {{.Name = L"ShareItem",
                                        .Caption = L"Показ экрана в браузере...",
                                        .OnClick = click(&TMainForm::ShareItemClick)}}},
                        });
  evidence_ = std::make_unique<TEvidence>(handle_, Bind(this, &TMainForm::EvidencePixels),
                                          Bind(this, &TMainForm::EvidenceTexts));
  MainMenu.SetOnClick(L"PngItem", Bind(evidence_.get(), &TEvidence::SavePngClick));
  MainMenu.SetOnClick(L"SnapshotItem", Bind(evidence_.get(), &TEvidence::SnapshotClick));
  MainMenu.SetOnClick(L"GifItem", Bind(evidence_.get(), &TEvidence::ExportGifClick));
  MainMenu.SetOnClick(L"FramesItem", Bind(evidence_.get(), &TEvidence::ExportPngFramesClick));
  Recording.OnChange = click(&TMainForm::RecordingChange);
  CopyPopupMenu.Create(this, {{.Name = L"CopyToClipBoard",
                               .Caption = L"Копировать",
                               .Default = true,
                               .OnClick = click(&TMainForm::CopyToClipBoardClick)}});
  SpeedTimer.Start(this, 1000, click(&TMainForm::SpeedTimerTimer));
  if (Application) Application->OnMessage = Bind(this, &TMainForm::KeyboardMessage);
  bigIcon_.Reset(LoadMainIcon(ScaleToDpi(32, Dpi())));
  smallIcon_.Reset(LoadMainIcon(ScaleToDpi(16, Dpi())));
  SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.Get()));
  SendMessageW(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));
}

RECT TMainForm::DisplayViewBounds() const {
  constexpr RECT kDesigned{96, 0, 96 + 326, 246};
  const int scale = std::max(Dpi() / kDesignDpi, 1);
  const int left = ScaleToDpi(kDesigned.left, Dpi()), top = ScaleToDpi(kDesigned.top, Dpi());
  const int areaWidth = ScaleToDpi(kDesigned.right, Dpi()) - left;
  const int areaHeight = ScaleToDpi(kDesigned.bottom, Dpi()) - top;
  const int width = (kDesigned.right - kDesigned.left) * scale,
            height = (kDesigned.bottom - kDesigned.top) * scale;
  const int x = left + (areaWidth - width) / 2, y = top + (areaHeight - height) / 2;
  return RECT{x, y, x + width, y + height};
}

void TMainForm::DpiChanged() { DisplayView.Place(DisplayViewBounds(), std::max(Dpi() / kDesignDpi, 1)); }

void TMainForm::FormCreate(TObject*) {}

void TMainForm::SetLink(TInstrumentLink& link) {
  link_ = &link;
  link.OnStatus = Bind(this, &TMainForm::SetStatusPanel);
  link.Subscribe(playbackFollower_);
  link.Subscribe(Screen);
  link.Subscribe(Recording);
  link.Subscribe(Rate);
}

void TMainForm::FormClose(TObject*, TCloseAction&) {
  if (shareForm_) shareForm_->Stop();
  Recording.Close();
  if (link_) link_->Close();
  LinkForm->Close();
  // After the link has returned the recording's device, before the link goes.
  playbackFollower_.Follow(nullptr);
  playback_.reset();
}

void TMainForm::SpeedTimerTimer(TObject*) {
  int64_t rate = DataRate(Rate.Take(), SpeedTimer.Interval());
  FooterStatusBar.SetPanelText(1, speedText_(rate));
  ShareFeed.SetLink(LinkDevice() != nullptr, rate);
  FooterStatusBar.Repaint();
  Application->ProcessMessages();
}

void TMainForm::BitBtn1Click(TObject*) { LinkForm->Show(); }

void TMainForm::N4Click(TObject*) { Close(); }

void TMainForm::SendFrom(TSpeedButton& button, uint16_t code, uint16_t arg1) {
  if (Playing()) return;
  // The key's repeats go while the button still shows the send as pending.
  TDisabledWhileSending busy(button, [this] {
    if (sendingKey_) DropQueuedRepeats(sendingKey_);
  });
  if (link_) link_->SendCommand(code, arg1, 0, 0);
}

void TMainForm::NastrSpeedButtonClick(TObject*) {
  SendFrom(NastrSpeedButton, kKeyPress, TS4170_KEY_SETTINGS);
}
void TMainForm::UZKSpeedButtonClick(TObject*) { SendFrom(UZKSpeedButton, kKeyPress, TS4170_KEY_TESTING); }
void TMainForm::DataSpeedButtonClick(TObject*) { SendFrom(DataSpeedButton, kKeyPress, TS4170_KEY_DATA); }
void TMainForm::HelpSpeedButtonClick(TObject*) { SendFrom(HelpSpeedButton, kKeyPress, TS4170_KEY_HELP); }
void TMainForm::LeftSCRSpeedButtonClick(TObject*) {
  SendFrom(LeftSCRSpeedButton, kKeyPress, TS4170_KEY_LEFT_SCREEN);
}
void TMainForm::RightSCRSpeedButtonClick(TObject*) {
  SendFrom(RightSCRSpeedButton, kKeyPress, TS4170_KEY_RIGHT_SCREEN);
}
void TMainForm::F1SpeedButtonClick(TObject*) { SendFrom(F1SpeedButton, kKeyPress, TS4170_KEY_F1); }
void TMainForm::F2SpeedButtonClick(TObject*) { SendFrom(F2SpeedButton, kKeyPress, TS4170_KEY_F2); }
void TMainForm::F3SpeedButtonClick(TObject*) { SendFrom(F3SpeedButton, kKeyPress, TS4170_KEY_F3); }
void TMainForm::F4SpeedButtonClick(TObject*) { SendFrom(F4SpeedButton, kKeyPress, TS4170_KEY_F4); }
void TMainForm::UpSpeedButtonClick(TObject*) { SendFrom(UpSpeedButton, kKeyPress, TS4170_KEY_UP); }
void TMainForm::LeftSpeedButtonClick(TObject*) { SendFrom(LeftSpeedButton, kKeyPress, TS4170_KEY_LEFT); }
void TMainForm::RightSpeedButtonClick(TObject*) { SendFrom(RightSpeedButton, kKeyPress, TS4170_KEY_RIGHT); }
void TMainForm::DownSpeedButtonClick(TObject*) { SendFrom(DownSpeedButton, kKeyPress, TS4170_KEY_DOWN); }
void TMainForm::EnterSpeedButtonClick(TObject*) { SendFrom(EnterSpeedButton, kKeyPress, TS4170_KEY_ENTER); }
void TMainForm::ReStartSpeedButtonClick(TObject*) { SendFrom(ReStartSpeedButton, kRestart, 0); }

void TMainForm::UnLocButtomsSpeedButtonClick(TObject*) {
  SendFrom(UnLocButtomsSpeedButton, UnLocButtomsSpeedButton.Down() ? kLock : kUnlock, 0);
}

void TMainForm::SetParametersSpeedButtonClick(TObject*) { ControlForm->Show(); }
void TMainForm::USBMessageSpeedButtonClick(TObject*) { USBMessageForm->Show(); }
void TMainForm::SetSoundSpeedButtonClick(TObject*) { SoundForm->Show(); }

void TMainForm::DisplayViewInitialize(TObject* Sender) { Mirror.DisplayViewInitialize(Sender); }
void TMainForm::DisplayViewFinalize(TObject* Sender) { Mirror.DisplayViewFinalize(Sender); }

TPixels TMainForm::EvidencePixels() { return TPixels{kPictureWidth, kPictureHeight, Screen.Colours()}; }

std::vector<TPngText> TMainForm::EvidenceTexts() {
  // PNG text is Latin-1: the device's strings go in when they are plain ASCII.
  auto ascii = [](const std::string& s) {
    for (unsigned char c : s)
      if (c < 0x20 || c > 0x7E) return std::string();
    return s;
  };
  char ids[160];
  auto device = [&](uint16_t vid, uint16_t pid, uint16_t version, const std::string& product,
                    const std::string& serial) {
    std::snprintf(ids, sizeof ids, "VendorID %04Xh ProductID %04Xh VersionNumber %04Xh %s %s", vid, pid,
                  version, ascii(product).c_str(), ascii(serial).c_str());
    return std::string(ids);
  };
  std::vector<TPngText> texts{{"Creation Time", UtcTimeText()}, {"Software", TS_PROGRAM_VERSION}};
  if (Playing()) {
    const TRecordingHeader& h = playback_->Playback().Header();
    texts.push_back({"Source", "recording"});
    texts.push_back({"Device", device(h.VendorID, h.ProductID, h.VersionNumber, h.Product, h.SerialNumber)});
    const TScreenImage& shown = playback_->Integrity();
    texts.push_back({"Frame", shown.Whole()        ? "complete"
                              : shown.GapInFrame() ? "incomplete: reports lost while recording"
                                                   : "incomplete"});
  } else {
    texts.push_back({"Source", "instrument"});
    if (THidDevice* d = LinkDevice())
      texts.push_back(
          {"Device", device(d->Attributes().VendorID, d->Attributes().ProductID,
                            d->Attributes().VersionNumber, d->DeviceStrings(2), d->DeviceStrings(3))});
    texts.push_back({"Frame", Screen.Integrity().Whole() ? "complete" : "incomplete"});
  }
  return texts;
}

void TMainForm::PlaybackEnded(TObject*) {
  // The instrument's next frame redraws the screen; until then it keeps the
  // recording's last one.
  if (link_) link_->ShowInstrument();
}

void TMainForm::PlayItemClick(TObject*) {
  if (Playing()) {
    SetForegroundWindow(playback_->Handle());
    return;
  }
  std::wstring name;
  if (!AskRecordingFile(handle_, false, name)) return;
  OpenPlayback(name);
}

void TMainForm::OpenPlayback(const std::wstring& fileName) {
  std::string error;
  const std::shared_ptr<TByteSource> source = OpenRecordingFile(fileName, error);
  if (!source) {
    Application->ShowMessage(Widen(error));
    return;
  }
  {
    TRecordingReader reader(source);
    TRecordedReport first;
    if (!reader.Next(first)) {
      // Not a recording, or one with nothing in it: refuse rather than show a blank.
      Application->ShowMessage(reader.Status() == TRecordingReader::TStatus::Foreign
                                   ? Widen(reader.Problem())
                                   : L"В записи нет ни одного отчёта. " + Widen(reader.Problem()));
      return;
    }
  }
  std::shared_ptr<TPlayback> playback;
  {
    // An older file is read through once to map it.
    TProgressWindow progress(handle_, L"Чтение записи");
    playback = std::make_shared<TPlayback>(source, [&](double done) { return progress.Step(done); });
  }
  if (!playback->Mapped()) return;
  // The instrument is read no more, so a recording of it ends here, whole.
  Recording.Finish();
  playbackFollower_.Follow(nullptr);
  playback_.reset();
  playback_ = std::make_unique<TPlaybackWindow>(handle_, fileName, std::move(playback),
                                                Bind(this, &TMainForm::PlaybackEnded));
  playbackFollower_.Follow(playback_.get());
  if (link_) link_->ShowOther(playback_->Interface());
}

THidDevice* TMainForm::LinkDevice() { return link_ ? link_->Current() : nullptr; }
void TMainForm::RecordItemClick(TObject*) { Recording.Toggle(LinkDevice()); }

void TMainForm::SaveToFileClick(TObject*) {
  PictureTools.SaveToFileClick(handle_, Bind(this, &TMainForm::DrawChecked),
                               Bind(this, &TMainForm::SetDrawChecked));
}
void TMainForm::CopyToClipBoardClick(TObject*) { PictureTools.CopyToClipBoardClick(handle_); }
void TMainForm::ScreenClearSpeedButtonClick(TObject*) { PictureTools.ScreenClearSpeedButtonClick(); }
void TMainForm::InsertBorderSpeedButtonClick(TObject*) { PictureTools.InsertBorderSpeedButtonClick(); }

void TMainForm::LargeViewClick(TObject*) { LargeView.Show(handle_); }

void TMainForm::KeyMapClick(TObject*) {
  std::wstring text = L"Клавиши прибора на клавиатуре ПК:\n\n";
  for (const TKeyBinding& b : kKeyMap) text += std::wstring(b.KeyName) + L"\t— " + b.Target + L"\n";
  text +=
      L"\nF9\t— крупный экран\n"
      L"В крупном экране: F11 — во весь экран, Esc — обратно в окно, 1–8 — масштаб, 0 — по размеру окна.";
  MessageBoxW(handle_, text.c_str(), Application->Title().c_str(), MB_OK | MB_ICONINFORMATION);
}

bool TMainForm::KeyboardMessage(MSG& msg) {
  // The snapshot, whichever control of the main window has the focus and
  // whatever else is held.
  if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && msg.wParam == kSnapshotKey &&
      !(msg.lParam & kRepeatBit) && GetActiveWindow() == handle_) {
    evidence_->SnapshotClick(this);
    return true;
  }
  if (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP) return false;
  const HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (!root || (root != handle_ && root != LargeView.Handle())) return false;
  if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
  const bool down = msg.message == WM_KEYDOWN;
  if (msg.wParam == kLargeViewKey) {
    if (down && !(msg.lParam & kRepeatBit)) LargeViewClick(this);
    return true;
  }
  for (const TKeyBinding& b : kKeyMap) {
    if (b.Key != msg.wParam) continue;
    // The key-up is swallowed too, so a focused button never completes a click.
    if (!down) return true;
    sendingKey_ = msg.wParam;
    TDeferred done([&] { sendingKey_ = 0; });
    (this->*b.Click)(this);
    return true;
  }
  return false;
}

void TMainForm::ShareItemClick(TObject*) {
  if (!shareForm_) {
    std::vector<std::string> labels;
    for (const TKeyBinding& b : kKeyMap) labels.push_back(Narrow(b.Target));
    shareForm_ = std::make_unique<TShareForm>(ShareFeed, std::move(labels));
    shareForm_->OnChange = Bind(this, &TMainForm::SharingChange);
    shareForm_->OnRemoteKey = Bind(this, &TMainForm::RemoteKey);
    shareForm_->OnPressesDropped = Bind(this, &TMainForm::RemotePressesDropped);
    shareForm_->Load();
  }
  shareForm_->Show();
  SetForegroundWindow(shareForm_->Handle());
}

void TMainForm::SharingChange(TObject*) {
  std::wstring caption = form_.Caption;
  if (shareForm_ && shareForm_->Sharing())
    caption += L" — показ в браузере, зрителей: " + std::to_wstring(shareForm_->Viewers());
  SetText(caption);
}

void TMainForm::RemoteKey(int key, const std::wstring& viewer) {
  // A recording in the instrument's place takes no keys, from here or from afar.
  if (key < 0 || key >= static_cast<int>(std::size(kKeyMap)) || Playing()) return;
  const TKeyBinding& b = kKeyMap[size_t(key)];
  if (link_) link_->Log("Клавиша «" + Narrow(b.Target) + "» нажата из браузера " + Narrow(viewer));
  (this->*b.Click)(this);
}

void TMainForm::RemotePressesDropped(size_t count) {
  if (link_)
    link_->Log("Пропущено нажатий из браузера, чаще " + std::to_string(TShareOptions{}.PressesPerSecond) +
               " в секунду: " + std::to_string(count));
}

}  // namespace ts
