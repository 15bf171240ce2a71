// The three dialogs against real windows: layouts, captions, fonts, initial values,
// tab orders, what their buttons send and how the buttons behave around a send.

#include <windows.h>

#include <map>

#include "tests/windows/control/DialogFixture.h"
#include "tests/windows/support/Pump.h"

namespace ts::test {
namespace {

struct Box {
  int Left, Top, Width, Height;
  bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << b.Left << "," << b.Top << " " << b.Width << "x" << b.Height;
}

Box BoxOf(const TWinControl& control) {
  RECT r = BoundsInForm(control.Handle());
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// Each control where its definition puts it, so a layout change is one edit, in
// the dialog. A label sizes itself to its text: only its corner is defined.
void ExpectAsDefined(std::initializer_list<const TWinControl*> controls) {
  for (const TWinControl* control : controls) {
    const TControlDef& d = control->Definition();
    const Box actual = BoxOf(*control);
    Box expected{d.Left, d.Top, d.Width, d.Height};
    if (d.Parent) {
      const Box parent = BoxOf(*d.Parent);
      expected.Left += parent.Left;
      expected.Top += parent.Top;
    }
    if (d.Width == 0 && d.Height == 0) {
      expected.Width = actual.Width;
      expected.Height = actual.Height;
    }
    EXPECT_EQ(actual, expected) << "control with caption \"" << Narrow(d.Caption) << "\"";
  }
}

SIZE ClientSize(const TForm& form) {
  RECT r;
  GetClientRect(form.Handle(), &r);
  return {r.right, r.bottom};
}

LOGFONTW FontOf(HWND h) {
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof lf, &lf);
  return lf;
}

// The order in which Tab visits a window's controls, from the first.
std::vector<HWND> TabOrder(const TForm& form) {
  std::vector<HWND> order;
  HWND first = GetNextDlgTabItem(form.Handle(), nullptr, FALSE);
  for (HWND h = first; h;) {
    order.push_back(h);
    h = GetNextDlgTabItem(form.Handle(), h, FALSE);
    if (h == first || order.size() > 20) break;
  }
  return order;
}

// Records the enabling and disabling of one window, as the messages reach it.
std::vector<bool>* enableLog = nullptr;
HWND enableWatched = nullptr;
LRESULT CALLBACK EnableHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* m = reinterpret_cast<CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && enableLog && m->hwnd == enableWatched && m->message == WM_ENABLE)
    enableLog->push_back(m->wParam != 0);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void Click(TButton& button) { SendMessageW(button.Handle(), BM_CLICK, 0, 0); }

TEST_F(Dialogs, ControlDialogLayout) {
  TControlForm& f = *ControlForm;
  EXPECT_EQ(TextOf(f.Handle()), L"Прямое управление прибором ТС4170");
  SIZE client = ClientSize(f);
  EXPECT_EQ(client.cx, 376);
  EXPECT_EQ(client.cy, 169);
  RECT w;
  GetWindowRect(f.Handle(), &w);
  EXPECT_EQ(w.left, 579);
  EXPECT_EQ(w.top, 307);
  ExpectAsDefined({&f.Panel1, &f.Label1, &f.GainSpinEdit, &f.SetGainBitBtn, &f.Label2, &f.DWidthSpinEdit,
                   &f.ScreenWidthBitBtn, &f.ScrRadioGroup, &f.SetScrBitBtn, &f.Label3, &f.DShiftSpinEdit,
                   &f.SetDShiftBitBtn});
  for (auto [label, text] :
       {std::tuple{&f.Label1, L"Усиление (дБ)"}, std::tuple{&f.Label2, L"Ширина экрана (мкс)"},
        std::tuple{&f.Label3, L"Сдвиг экрана (мкс)"}})
    EXPECT_EQ(label->Text(), text);
  for (TButton* b : {&f.SetGainBitBtn, &f.ScreenWidthBitBtn, &f.SetScrBitBtn, &f.SetDShiftBitBtn}) {
    EXPECT_EQ(b->Definition().Glyph, TGlyph::Parameters);
    EXPECT_EQ(std::wstring(b->Definition().Caption), L"");
  }
  // The markup button lies over the group's right half and is what a click there finds.
  RECT scr = BoundsInForm(f.SetScrBitBtn.Handle());
  for (int i = 0; i < f.ScrRadioGroup.Count(); ++i) {
    RECT item = BoundsInForm(f.ScrRadioGroup.Item(i)), overlap;
    EXPECT_FALSE(IntersectRect(&overlap, &item, &scr)) << "item " << i << " covers the button";
  }
  f.Show();
  POINT centre{(scr.left + scr.right) / 2, (scr.top + scr.bottom) / 2};
  ClientToScreen(f.Handle(), &centre);
  EXPECT_EQ(WindowFromPoint(centre), f.SetScrBitBtn.Handle());
  // The inside of the group is painted, though its parent leaves it out.
  UpdateWindow(f.Handle());
  HDC dc = GetDCEx(f.Panel1.Handle(), nullptr, DCX_CACHE);
  EXPECT_EQ(GetPixel(dc, 100, 140), GetSysColor(COLOR_BTNFACE));
  ReleaseDC(f.Panel1.Handle(), dc);
}

TEST_F(Dialogs, ControlDialogInitialValuesFontAndTabOrder) {
  TControlForm& f = *ControlForm;
  EXPECT_EQ(f.GainSpinEdit.Text(), L"44");
  EXPECT_EQ(f.DWidthSpinEdit.Text(), L"44");
  EXPECT_EQ(f.DShiftSpinEdit.Text(), L"44");
  EXPECT_EQ(f.GainSpinEdit.Range().Max(), 80);
  EXPECT_EQ(f.DWidthSpinEdit.Range().Max(), 1900);
  EXPECT_EQ(f.DShiftSpinEdit.Range().Min(), -2);
  EXPECT_EQ(SendMessageW(f.GainSpinEdit.Handle(), EM_GETLIMITTEXT, 0, 0), 2);
  EXPECT_EQ(SendMessageW(f.DWidthSpinEdit.Handle(), EM_GETLIMITTEXT, 0, 0), 4);
  EXPECT_EQ(TextOf(f.ScrRadioGroup.Handle()), L"Разметка экрана");
  ASSERT_EQ(f.ScrRadioGroup.Count(), 4);
  // Latin H, Latin X, Cyrillic Н: the strings as the instrument's units are written.
  const wchar_t* items[] = {L"\x043C\x043A\x0441", L"\x043C\x043C\x0048", L"\x043C\x043C\x0058",
                            L"\x043C\x043C\x041D"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(TextOf(f.ScrRadioGroup.Item(i)), items[i]);
  EXPECT_EQ(f.ScrRadioGroup.ItemIndex(), 0);

  LOGFONTW font = FontOf(f.GainSpinEdit.Handle());
  EXPECT_STREQ(font.lfFaceName, L"MS Sans Serif");
  EXPECT_EQ(font.lfHeight, -11);
  EXPECT_EQ(font.lfWeight, FW_NORMAL);
  EXPECT_EQ(FontOf(f.ScrRadioGroup.Item(2)).lfHeight, -11);

  std::vector<HWND> expected = {f.GainSpinEdit.Handle(),   f.SetGainBitBtn.Handle(),
                                f.DWidthSpinEdit.Handle(), f.ScreenWidthBitBtn.Handle(),
                                f.ScrRadioGroup.Item(0),   f.SetScrBitBtn.Handle(),
                                f.DShiftSpinEdit.Handle(), f.SetDShiftBitBtn.Handle()};
  EXPECT_EQ(TabOrder(f), expected);
  // Tab enters the group at the selected item.
  SendMessageW(f.ScrRadioGroup.Item(2), BM_CLICK, 0, 0);
  expected[4] = f.ScrRadioGroup.Item(2);
  EXPECT_EQ(TabOrder(f), expected);
  EXPECT_FALSE(GetWindowLongW(f.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
}

TEST_F(Dialogs, ControlDialogSendsTheParametersWithItsButtonDisabledDuringTheSend) {
  TControlForm& f = *ControlForm;
  f.Show();
  auto send = [&](TButton& button) {
    link.watched = button.Handle();
    Click(button);
    EXPECT_TRUE(button.Enabled()) << "enabled again after the send";
  };
  send(f.SetGainBitBtn);
  send(f.ScreenWidthBitBtn);
  send(f.SetScrBitBtn);
  f.GainSpinEdit.SetValue(80);
  send(f.SetGainBitBtn);
  f.GainSpinEdit.SetValue(0);
  send(f.SetGainBitBtn);
  f.DWidthSpinEdit.SetValue(1900);
  send(f.ScreenWidthBitBtn);
  SendMessageW(f.ScrRadioGroup.Item(3), BM_CLICK, 0, 0);
  EXPECT_EQ(f.ScrRadioGroup.ItemIndex(), 3);
  send(f.SetScrBitBtn);
  std::vector<SentCommand> expected = {
      {0xAA44, 0x2C0D, 4400, 0, false}, {0xAA44, 0x215D, 440, 0, false}, {0xAA44, 0x33E5, 0, 0, false},
      {0xAA44, 0x2C0D, 8000, 0, false}, {0xAA44, 0x2C0D, 0, 0, false},   {0xAA44, 0x215D, 19000, 0, false},
      {0xAA44, 0x33E5, 3, 0, false},
  };
  EXPECT_EQ(link.commands, expected);
  // The clicked button keeps the keyboard focus it took.
  EXPECT_EQ(GetFocus(), f.SetScrBitBtn.Handle());
}

TEST_F(Dialogs, ScreenShiftButtonOnlyDisablesAndEnablesItself) {
  TControlForm& f = *ControlForm;
  f.Show();
  std::vector<bool> log;
  enableLog = &log;
  enableWatched = f.SetDShiftBitBtn.Handle();
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, EnableHook, nullptr, GetCurrentThreadId());
  Click(f.SetDShiftBitBtn);
  UnhookWindowsHookEx(hook);
  enableLog = nullptr;
  EXPECT_EQ(log, (std::vector<bool>{false, true}));
  EXPECT_TRUE(link.commands.empty());
  EXPECT_TRUE(link.messages.empty());
  EXPECT_EQ(f.DShiftSpinEdit.Text(), L"44");
}

TEST_F(Dialogs, AFailedSendLeavesTheButtonEnabledAndIsReported) {
  test::MessageBoxWatcher watcher(L"Virtual_TS4170");
  ControlForm->Show();
  link.failWith = "Write failed";
  link.watched = ControlForm->SetGainBitBtn.Handle();
  Click(ControlForm->SetGainBitBtn);
  ASSERT_TRUE(PumpUntil([&] { return !watcher.Texts().empty(); }, 10000));
  EXPECT_EQ(watcher.Texts().front(), L"Write failed.");
  EXPECT_TRUE(ControlForm->SetGainBitBtn.Enabled());
  ASSERT_EQ(link.commands.size(), 1u);
  EXPECT_FALSE(link.commands[0].ButtonEnabled);
}

TEST_F(Dialogs, MessageDialogLayoutValuesAndTabOrder) {
  TUSBMessageForm& f = *USBMessageForm;
  EXPECT_EQ(TextOf(f.Handle()), L"Вывод окна сообщения на экран ТС4170");
  SIZE client = ClientSize(f);
  EXPECT_EQ(client.cx, 295);
  EXPECT_EQ(client.cy, 92);
  RECT w;
  GetWindowRect(f.Handle(), &w);
  EXPECT_EQ(w.left, 406);
  EXPECT_EQ(w.top, 602);
  ExpectAsDefined({&f.USBMessageMaskEdit, &f.Label1, &f.XSpinEdit, &f.Label2, &f.YSpinEdit, &f.Label3,
                   &f.TimeSpinEdit, &f.USBMessageSpeedButton});
  for (auto [label, text] : {std::tuple{&f.Label1, L"X = "}, std::tuple{&f.Label2, L"Y = "},
                             std::tuple{&f.Label3, L"Время (с) = "}}) {
    EXPECT_EQ(label->Text(), text);
    EXPECT_EQ(FontOf(label->Handle()).lfWeight, FW_BOLD);
  }
  EXPECT_EQ(FontOf(f.XSpinEdit.Handle()).lfWeight, FW_NORMAL);
  EXPECT_EQ(f.USBMessageSpeedButton.Text(), L"Послать");
  EXPECT_EQ(std::wstring(f.USBMessageSpeedButton.Definition().Hint), L"Послать сообщение");
  EXPECT_EQ(f.USBMessageSpeedButton.Definition().Glyph, TGlyph::Message);

  EXPECT_EQ(f.USBMessageMaskEdit.Text(), L"Сообщение на экране прибора");
  EXPECT_EQ(f.XSpinEdit.Text(), L"50");
  EXPECT_EQ(f.YSpinEdit.Text(), L"60");
  EXPECT_EQ(f.TimeSpinEdit.Text(), L"4");
  std::vector<HWND> expected = {f.USBMessageMaskEdit.Handle(), f.XSpinEdit.Handle(), f.YSpinEdit.Handle(),
                                f.TimeSpinEdit.Handle()};
  EXPECT_EQ(TabOrder(f), expected) << "the send button takes no focus";
  // The two-character limit is for typing only: the buttons still reach 190.
  f.YSpinEdit.SetValue(189);
  SendMessageW(f.YSpinEdit.Handle(), WM_KEYDOWN, VK_UP, 1);
  SendMessageW(f.YSpinEdit.Handle(), WM_KEYDOWN, VK_UP, 1);
  EXPECT_EQ(f.YSpinEdit.Text(), L"190");
}

TEST_F(Dialogs, MessageDialogSendsItsFourValuesWithItsButtonDisabledDuringTheSend) {
  TUSBMessageForm& f = *USBMessageForm;
  f.Show();
  HWND button = f.USBMessageSpeedButton.Handle();
  link.watched = button;
  SetFocus(f.XSpinEdit.Handle());
  MouseClick(button);
  EXPECT_EQ(GetFocus(), f.XSpinEdit.Handle()) << "the button takes no focus";
  f.USBMessageMaskEdit.SetText(L"");
  MouseClick(button);
  // A 30th character cannot be typed; 29 pass whole, spaces and all.
  std::wstring full = L" Дефект 12 мм, H=3, Y? конец ";
  ASSERT_EQ(full.size(), 29u);
  f.USBMessageMaskEdit.SetText(full.substr(0, 28));
  SendMessageW(f.USBMessageMaskEdit.Handle(), EM_SETSEL, 28, 28);
  SendMessageW(f.USBMessageMaskEdit.Handle(), WM_CHAR, full[28], 1);
  SendMessageW(f.USBMessageMaskEdit.Handle(), WM_CHAR, L'!', 1);
  EXPECT_EQ(f.USBMessageMaskEdit.Text(), full);
  f.XSpinEdit.SetValue(90);
  f.YSpinEdit.SetValue(0);
  f.TimeSpinEdit.SetValue(20);
  MouseClick(button);
  std::vector<SentMessage> expected = {
      {50, 60, 4, u"Сообщение на экране прибора", false},
      {50, 60, 4, u"", false},
      {90, 0, 20, std::u16string(full.begin(), full.end()), false},
  };
  EXPECT_EQ(link.messages, expected);
  EXPECT_TRUE(link.commands.empty());
  EXPECT_TRUE(f.USBMessageSpeedButton.Enabled()) << "enabled again after the send";
  EXPECT_EQ(f.XSpinEdit.Text(), L"90") << "sending changes no field";
  EXPECT_TRUE(IsWindowVisible(f.Handle())) << "sending does not close the dialog";
}

TEST_F(Dialogs, OutOfRangeFieldsAreNeverSentOutOfRange) {
  // The send buttons of these two dialogs take no focus, so a field can still hold
  // a text that focus loss would have put back into range.
  USBMessageForm->Show();
  TSpinEdit& time = USBMessageForm->TimeSpinEdit;
  time.SetValue(10);
  SetFocus(time.Handle());
  SendMessageW(time.Handle(), EM_SETSEL, 0, 0);
  SendMessageW(time.Handle(), WM_KEYDOWN, VK_DELETE, 1);
  ASSERT_EQ(time.Text(), L"0");
  MouseClick(USBMessageForm->USBMessageSpeedButton.Handle());
  SendMessageW(time.Handle(), EM_SETSEL, 0, -1);
  SendMessageW(time.Handle(), WM_KEYDOWN, VK_DELETE, 1);
  ASSERT_EQ(time.Text(), L"");
  MouseClick(USBMessageForm->USBMessageSpeedButton.Handle());
  ASSERT_EQ(link.messages.size(), 2u);
  EXPECT_EQ(link.messages[0].Time, 1);
  EXPECT_EQ(link.messages[1].Time, 1) << "an emptied time field reads as 1";

  SoundForm->Show();
  TSpinEdit& sound = SoundForm->SoundSpinEdit;
  sound.SetValue(10);
  SetFocus(sound.Handle());
  SendMessageW(sound.Handle(), EM_SETSEL, 0, 0);
  SendMessageW(sound.Handle(), WM_KEYDOWN, VK_DELETE, 1);
  ASSERT_EQ(sound.Text(), L"0");
  MouseClick(SoundForm->SetSoundSpeedButton.Handle());
  ASSERT_EQ(link.commands.size(), 1u);
  EXPECT_EQ(link.commands[0].Arg1, 1) << "track 0 does not exist";
  EXPECT_EQ(sound.Text(), L"0") << "the field itself is left to focus loss";
}

TEST_F(Dialogs, SoundDialogLayoutValuesAndSends) {
  TSoundForm& f = *SoundForm;
  EXPECT_EQ(TextOf(f.Handle()), L"Вывод звуковых дорожек ТС4170");
  SIZE client = ClientSize(f);
  EXPECT_EQ(client.cx, 242);
  EXPECT_EQ(client.cy, 42);
  RECT w;
  GetWindowRect(f.Handle(), &w);
  EXPECT_EQ(w.left, 703);
  EXPECT_EQ(w.top, 182);
  EXPECT_TRUE(GetWindowLongW(f.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  ExpectAsDefined({&f.SoundSpinEdit, &f.SetSoundSpeedButton});
  EXPECT_EQ(f.SetSoundSpeedButton.Text(), L"Играть");
  EXPECT_EQ(std::wstring(f.SetSoundSpeedButton.Definition().Hint), L"Проиграть");
  EXPECT_EQ(f.SetSoundSpeedButton.Definition().Glyph, TGlyph::Sound);
  EXPECT_EQ(f.SoundSpinEdit.Text(), L"3");
  EXPECT_EQ(TabOrder(f), std::vector<HWND>{f.SoundSpinEdit.Handle()});

  f.Show();
  link.watched = f.SetSoundSpeedButton.Handle();
  MouseClick(f.SetSoundSpeedButton.Handle());
  f.SoundSpinEdit.SetValue(25);
  MouseClick(f.SetSoundSpeedButton.Handle());
  std::vector<SentCommand> expected = {{0xAA33, 3, 0, 0, false}, {0xAA33, 25, 0, 0, false}};
  EXPECT_EQ(link.commands, expected);
  EXPECT_TRUE(f.SetSoundSpeedButton.Enabled());
}

TEST_F(Dialogs, HidingAndShowingKeepTheFields) {
  for (TForm* form : std::initializer_list<TForm*>{SoundForm, USBMessageForm, ControlForm}) form->Show();
  SoundForm->SoundSpinEdit.SetValue(17);
  USBMessageForm->USBMessageMaskEdit.SetText(L"Проверка");
  USBMessageForm->XSpinEdit.SetValue(7);
  USBMessageForm->YSpinEdit.SetValue(150);
  USBMessageForm->TimeSpinEdit.SetValue(12);
  ControlForm->GainSpinEdit.SetValue(61);
  ControlForm->DWidthSpinEdit.SetValue(1234);
  ControlForm->DShiftSpinEdit.SetValue(-1);
  SendMessageW(ControlForm->ScrRadioGroup.Item(1), BM_CLICK, 0, 0);
  for (TForm* form : std::initializer_list<TForm*>{SoundForm, USBMessageForm, ControlForm}) {
    SendMessageW(form->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(form->Handle()));
    form->Show();
    form->Show();
    EXPECT_TRUE(IsWindowVisible(form->Handle()));
  }
  EXPECT_EQ(SoundForm->SoundSpinEdit.Text(), L"17");
  EXPECT_EQ(USBMessageForm->USBMessageMaskEdit.Text(), L"Проверка");
  EXPECT_EQ(USBMessageForm->XSpinEdit.Text(), L"7");
  EXPECT_EQ(USBMessageForm->YSpinEdit.Text(), L"150");
  EXPECT_EQ(USBMessageForm->TimeSpinEdit.Text(), L"12");
  EXPECT_EQ(ControlForm->GainSpinEdit.Text(), L"61");
  EXPECT_EQ(ControlForm->DWidthSpinEdit.Text(), L"1234");
  EXPECT_EQ(ControlForm->DShiftSpinEdit.Text(), L"-1");
  EXPECT_EQ(ControlForm->ScrRadioGroup.ItemIndex(), 1);
  EXPECT_TRUE(link.commands.empty() && link.messages.empty()) << "showing sends nothing";
}

TEST_F(Dialogs, ActivatingADialogPutsTheFocusInItsFirstFieldAndBringsItBack) {
  USBMessageForm->Show();
  SetActiveWindow(USBMessageForm->Handle());
  EXPECT_TRUE(PumpUntil([] { return GetFocus() == USBMessageForm->USBMessageMaskEdit.Handle(); }, 5000));
  SetFocus(USBMessageForm->TimeSpinEdit.Handle());
  SoundForm->Show();
  SetActiveWindow(SoundForm->Handle());
  EXPECT_TRUE(PumpUntil([] { return GetFocus() == SoundForm->SoundSpinEdit.Handle(); }, 5000));
  SetActiveWindow(USBMessageForm->Handle());
  EXPECT_TRUE(PumpUntil([] { return GetFocus() == USBMessageForm->TimeSpinEdit.Handle(); }, 5000));
}

}  // namespace
}  // namespace ts::test
