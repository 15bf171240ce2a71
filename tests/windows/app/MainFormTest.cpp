// The shell against real windows: creation and destruction order, the close paths,
// the status bar, the taskbar rule, the speed buttons and the error report.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include <commctrl.h>

#include "app/MainFormUnit.h"
#include "control/ControlUnit.h"
#include "control/SoundUnit.h"
#include "control/USBMessageUnit.h"
#include "link/LinkUnit.h"
#include "tests/windows/support/Pump.h"
#include "ui/Application.h"
#include "ui/Exception.h"

namespace ts {
namespace {

// Records the captions of top-level windows as they are created and destroyed.
std::vector<std::wstring>* createdLog = nullptr;
std::vector<std::wstring>* destroyedLog = nullptr;

std::wstring CaptionOf(HWND h) {
  wchar_t text[256] = {};
  GetWindowTextW(h, text, 256);
  return text;
}

LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    auto* cbt = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
    if (!(cbt->lpcs->style & WS_CHILD) && cbt->lpcs->lpszName && createdLog && Application &&
        Application->Handle() && cbt->lpcs->hwndParent == Application->Handle() &&
        !IS_INTRESOURCE(cbt->lpcs->lpszName))
      createdLog->push_back(cbt->lpcs->lpszName);
  } else if (code == HCBT_DESTROYWND) {
    HWND h = reinterpret_cast<HWND>(wParam);
    if (destroyedLog && Application && Application->Handle() &&
        GetWindow(h, GW_OWNER) == Application->Handle())
      destroyedLog->push_back(CaptionOf(h));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

const wchar_t kMainCaption[] = L"Виртуальный дефектоскоп ТС4170 V18.09";

class Shell : public ::testing::Test {
 protected:
  void SetUp() override {
    createdLog = &created;
    destroyedLog = &destroyed;
    hook = SetWindowsHookExW(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
    app = std::make_unique<TApplication>();
    app->SetTitle(L"Virtual_TS4170");
    app->Initialize();
    app->CreateForm(MainForm);
    app->CreateForm(LinkForm);
    app->CreateForm(SoundForm);
    app->CreateForm(USBMessageForm);
    app->CreateForm(ControlForm);
    MainForm->SetLink(link);
    LinkForm->SetLink(link);
    link.Start();
  }
  void TearDown() override {
    app.reset();
    UnhookWindowsHookEx(hook);
    createdLog = destroyedLog = nullptr;
  }
  // Runs the loop as the program does, after the close request has been posted.
  void RunToEnd() { app->Run(); }

  std::vector<std::wstring> created, destroyed;
  HHOOK hook = nullptr;
  std::unique_ptr<TApplication> app;
  TInstrumentLink link;
};

TEST_F(Shell, CreatesFiveWindowsInOrderAndOnlyTheMainOneIsShown) {
  std::vector<std::wstring> expected = {kMainCaption, L"События USB ", L"Вывод звуковых дорожек ТС4170",
                                        L"Вывод окна сообщения на экран ТС4170",
                                        L"Прямое управление прибором ТС4170"};
  EXPECT_EQ(created, expected);
  EXPECT_EQ(app->MainForm(), MainForm);
  EXPECT_TRUE(IsWindowVisible(MainForm->Handle()));
  for (TForm* f : std::initializer_list<TForm*>{LinkForm, SoundForm, USBMessageForm, ControlForm})
    EXPECT_FALSE(IsWindowVisible(f->Handle()));
  RECT client;
  GetClientRect(MainForm->Handle(), &client);
  EXPECT_EQ(client.right, 512);
  EXPECT_EQ(client.bottom, 353);
  LONG style = GetWindowLongW(MainForm->Handle(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  EXPECT_TRUE(GetWindowLongW(SoundForm->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  GetClientRect(SoundForm->Handle(), &client);
  EXPECT_EQ(client.right, 242);
  EXPECT_EQ(client.bottom, 42);
  PostMessageW(MainForm->Handle(), WM_CLOSE, 0, 0);
  RunToEnd();
}

// Every way of closing runs the event window's close handling first, ends the loop
// and destroys the windows in reverse order of creation.
void ExpectOrderlyShutdown(const std::vector<std::wstring>& destroyed, int linkCloses) {
  EXPECT_EQ(linkCloses, 1);
  std::vector<std::wstring> expected = {L"Прямое управление прибором ТС4170",
                                        L"Вывод окна сообщения на экран ТС4170",
                                        L"Вывод звуковых дорожек ТС4170", L"События USB ", kMainCaption};
  EXPECT_EQ(destroyed, expected);
}

TEST_F(Shell, CloseBoxShutsDownInOrder) {
  int linkCloses = -1;
  TLinkForm* link = LinkForm;
  PostMessageW(MainForm->Handle(), WM_CLOSE, 0, 0);
  // The close handling runs before the loop ends; read it from the last form alive.
  test::PumpUntil([&] { return link->CloseCount() > 0; }, 5000);
  linkCloses = link->CloseCount();
  RunToEnd();
  ExpectOrderlyShutdown(destroyed, linkCloses);
}

TEST_F(Shell, SystemMenuCloseShutsDownInOrder) {
  TLinkForm* link = LinkForm;
  PostMessageW(MainForm->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  test::PumpUntil([&] { return link->CloseCount() > 0; }, 5000);
  int linkCloses = link->CloseCount();
  RunToEnd();
  ExpectOrderlyShutdown(destroyed, linkCloses);
}

TEST_F(Shell, ExitMenuItemShutsDownInOrderAlsoAfterTheEventWindowWasShown) {
  TLinkForm* link = LinkForm;
  MainForm->BitBtn1Click(nullptr);
  EXPECT_TRUE(IsWindowVisible(link->Handle()));
  UINT exitId = MainForm->MainMenu.IdOf(L"N4");
  ASSERT_NE(exitId, 0u);
  PostMessageW(MainForm->Handle(), WM_COMMAND, MAKEWPARAM(exitId, 0), 0);
  test::PumpUntil([&] { return link->CloseCount() > 0; }, 5000);
  int linkCloses = link->CloseCount();
  EXPECT_FALSE(IsWindowVisible(link->Handle()));
  RunToEnd();
  ExpectOrderlyShutdown(destroyed, linkCloses);
}

TEST_F(Shell, SecondaryWindowsHideOnCloseAndShowingTwiceChangesNothing) {
  SoundForm->Show();
  EXPECT_TRUE(IsWindowVisible(SoundForm->Handle()));
  SetForegroundWindow(MainForm->Handle());
  HWND before = GetForegroundWindow();
  SoundForm->Show();
  EXPECT_EQ(GetForegroundWindow(), before);
  SendMessageW(SoundForm->Handle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindowVisible(SoundForm->Handle()));
  EXPECT_TRUE(IsWindow(SoundForm->Handle()));
  PostMessageW(MainForm->Handle(), WM_CLOSE, 0, 0);
  RunToEnd();
}

TEST_F(Shell, StatusBarShowsItsTextsAndTheRateAfterTheFirstTick) {
  HWND bar = MainForm->FooterStatusBar.Handle();
  // The event window writes the connection state while it is made.
  std::wstring state = test::StatusText(bar, 0);
  EXPECT_TRUE(state == L"Нет связи с прибором ???" || state == L"ТС4170 подключен !!!") << Narrow(state);
  EXPECT_EQ(test::StatusText(bar, 2), L"Размер пакета");
  int edges[3] = {};
  ASSERT_EQ(SendMessageW(bar, SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges)), 3);
  EXPECT_EQ(edges[0], 150);
  EXPECT_EQ(edges[1], 390);
  const std::wstring first = L"Скорость приема данных   000 Байт/c";
  EXPECT_TRUE(test::PumpUntil([&] { return test::StatusText(bar, 1) == first; }, 5000))
      << "panel 1: " << Narrow(test::StatusText(bar, 1));
  MainForm->Rate.Report(0, nullptr, 3840);
  EXPECT_TRUE(test::PumpUntil(
      [&] { return test::StatusText(bar, 1) == L"Скорость приема данных  3 840 Байт/c"; }, 5000));
  EXPECT_EQ(MainForm->Rate.Take(), 0);
  PostMessageW(MainForm->Handle(), WM_CLOSE, 0, 0);
  RunToEnd();
}

// A window shows on the taskbar when it is visible and either is an app window or
// has neither an owner nor the tool-window style.
BOOL CALLBACK CountTaskbarButton(HWND h, LPARAM count) {
  LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
  bool shown =
      IsWindowVisible(h) && ((ex & WS_EX_APPWINDOW) || (!GetWindow(h, GW_OWNER) && !(ex & WS_EX_TOOLWINDOW)));
  if (shown) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

int TaskbarButtons() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), &CountTaskbarButton, reinterpret_cast<LPARAM>(&count));
  return count;
}

TEST_F(Shell, HasOneTaskbarButtonAndMinimizesTheMainWindowItself) {
  EXPECT_EQ(TaskbarButtons(), 1);
  EXPECT_TRUE(GetWindowLongW(app->Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(GetWindowLongW(MainForm->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
  LinkForm->Show();
  SoundForm->Show();
  USBMessageForm->Show();
  EXPECT_EQ(TaskbarButtons(), 1);
  SendMessageW(MainForm->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(test::PumpUntil([] { return IsIconic(MainForm->Handle()) != 0; }, 5000));
  PostMessageW(MainForm->Handle(), WM_CLOSE, 0, 0);
  RunToEnd();
  // The style goes with the last display form.
  EXPECT_FALSE(GetWindowLongW(app->Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
}

TEST_F(Shell, SpeedButtonsTakeNoFocusAndTheLockToggles) {
  SetFocus(MainForm->DrawCheckBox.Handle());
  HWND focus = GetFocus();
  test::MouseClick(MainForm->NastrSpeedButton.Handle());
  EXPECT_EQ(GetFocus(), focus);
  EXPECT_TRUE(MainForm->NastrSpeedButton.Enabled());
  EXPECT_FALSE(GetWindowLongW(MainForm->F1SpeedButton.Handle(), GWL_STYLE) & WS_TABSTOP);
  EXPECT_FALSE(MainForm->UnLocButtomsSpeedButton.Down());
  test::MouseClick(MainForm->UnLocButtomsSpeedButton.Handle());
  EXPECT_TRUE(MainForm->UnLocButtomsSpeedButton.Down());
  test::MouseClick(MainForm->UnLocButtomsSpeedButton.Handle());
  EXPECT_FALSE(MainForm->UnLocButtomsSpeedButton.Down());
  // A press released outside the button is no click.
  HWND lock = MainForm->UnLocButtomsSpeedButton.Handle();
  SendMessageW(lock, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageW(lock, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 200));
  SendMessageW(lock, WM_LBUTTONUP, 0, MAKELPARAM(200, 200));
  EXPECT_FALSE(MainForm->UnLocButtomsSpeedButton.Down());
  EXPECT_FALSE(MainForm->SetParametersSpeedButton.Enabled());
  EXPECT_TRUE(ControlForm && !IsWindowVisible(ControlForm->Handle()));
  test::MouseClick(MainForm->SetParametersSpeedButton.Handle());
  EXPECT_FALSE(IsWindowVisible(ControlForm->Handle()));
  PostMessageW(MainForm->Handle(), WM_CLOSE, 0, 0);
  RunToEnd();
}

TEST(MainWindow, PanelsHoldTheirInitialTextsUntilTheirWritersReplaceThem) {
  TApplication app;
  app.Initialize();
  TMainForm* main = nullptr;
  app.CreateForm(main);
  HWND bar = main->FooterStatusBar.Handle();
  EXPECT_EQ(test::StatusText(bar, 0), L"Нет связи с ТС4170???");
  EXPECT_EQ(test::StatusText(bar, 1), L"Скорость приема данных");
  EXPECT_EQ(test::StatusText(bar, 2), L"Размер пакета");
  MainForm = nullptr;
}

TEST(MainWindow, WithThePictureOutputOffAReportLeavesThePictureAsItIs) {
  TApplication app;
  app.Initialize();
  TMainForm* main = nullptr;
  app.CreateForm(main);
  uint8_t report[64] = {0xAB};
  for (const bool ticked : {false, true}) {
    main->DrawCheckBox.SetChecked(ticked);
    main->RenderScreenReport(report, sizeof report);
    EXPECT_EQ(main->Screen.Received()[0], ticked ? 0xAB : 0) << ticked;
  }
  MainForm = nullptr;
}

// A form whose button handler throws, as any handler may.
class ThrowingForm : public TForm {
 public:
  TButton Button;
  void ButtonClick(TObject*) { throw Exception(message); }
  std::string message;

 protected:
  void DefineWindow() override {
    Build(TFormDef{.Caption = L"Throwing", .ClientWidth = 100, .ClientHeight = 40, .Visible = true},
          {{.Control = &Button,
            .Left = 4,
            .Top = 4,
            .Width = 80,
            .Height = 22,
            .Caption = L"Go",
            .OnClick = Bind(this, &ThrowingForm::ButtonClick)}});
  }
};

TEST(ErrorReport, AnErrorEscapingAHandlerShowsTheTextWithIconAndTheProgramGoesOn) {
  TApplication app;
  app.SetTitle(L"Virtual_TS4170");
  app.Initialize();
  ThrowingForm* form = nullptr;
  app.CreateForm(form);
  test::MessageBoxWatcher watcher(L"Virtual_TS4170");
  for (const char* message : {"Surface cannot be made", "", "Done."}) {
    form->message = message;
    size_t before = watcher.Texts().size();
    SendMessageW(form->Button.Handle(), BM_CLICK, 0, 0);
    ASSERT_TRUE(test::PumpUntil([&] { return watcher.Texts().size() > before; }, 10000));
    EXPECT_TRUE(watcher.LastHadIcon());
  }
  std::vector<std::wstring> expected = {L"Surface cannot be made.", L"", L"Done."};
  EXPECT_EQ(watcher.Texts(), expected);
  EXPECT_TRUE(IsWindow(form->Handle()));
  app.ShowMessage(L"Не прошла команда в прибор ТС4170.");
  EXPECT_EQ(watcher.Texts().back(), L"Не прошла команда в прибор ТС4170.");
  EXPECT_FALSE(watcher.LastHadIcon());
}

}  // namespace
}  // namespace ts
