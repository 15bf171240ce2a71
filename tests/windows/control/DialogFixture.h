#pragma once
// The three dialogs built as the program builds them, with their sends caught by a
// recording link, the beep counted and the spin clock in the test's hands.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control/ControlUnit.h"
#include "control/SoundUnit.h"
#include "control/USBMessageUnit.h"
#include "link/InstrumentLink.h"
#include "tests/windows/support/SpinHooks.h"
#include "ui/Application.h"
#include "ui/Exception.h"
#include "ui/Spin.h"

namespace ts::test {

struct SentCommand {
  uint16_t Code, Arg1, Arg2, Arg3;
  bool ButtonEnabled;  // the watched button, seen from inside the send
  bool operator==(const SentCommand&) const = default;
};

struct SentMessage {
  uint16_t X, Y;
  int Time;
  std::u16string Text;
  bool ButtonEnabled;
  bool operator==(const SentMessage&) const = default;
};

class RecordingLink : public TDialogLink {
 public:
  void SendCommand(uint16_t Code, uint16_t Arg1, uint16_t Arg2, uint16_t Arg3) override {
    commands.push_back({Code, Arg1, Arg2, Arg3, watched && IsWindowEnabled(watched) != 0});
    if (!failWith.empty()) throw Exception(failWith);
  }
  void SendScreenMessage(uint16_t X, uint16_t Y, int Time, const std::u16string& Text) override {
    messages.push_back({X, Y, Time, Text, watched && IsWindowEnabled(watched) != 0});
  }
  HWND watched = nullptr;
  std::string failWith;
  std::vector<SentCommand> commands;
  std::vector<SentMessage> messages;
};

// Stands for the main window, so closing a dialog hides it rather than ending the loop.
class StandInMainForm : public TForm {
 protected:
  void DefineWindow() override {
    Build(TFormDef{.Caption = L"Main", .ClientWidth = 120, .ClientHeight = 40}, {});
  }
};

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TApplication>();
    app->SetTitle(L"Virtual_TS4170");
    app->Initialize();
    // In the program's order of creation.
    app->CreateForm(mainForm);
    app->CreateForm(SoundForm);
    app->CreateForm(USBMessageForm);
    app->CreateForm(ControlForm);
    SoundForm->Link = USBMessageForm->Link = ControlForm->Link = &link;
  }
  void TearDown() override { app.reset(); }

  TSpinHooks hooks;
  RecordingLink link;
  std::unique_ptr<TApplication> app;
  StandInMainForm* mainForm = nullptr;
};

inline std::wstring TextOf(HWND h) {
  wchar_t text[256] = {};
  GetWindowTextW(h, text, 256);
  return text;
}

// A control's rectangle in the client coordinates of its top-level window.
inline RECT BoundsInForm(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetAncestor(control, GA_ROOT), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace ts::test
