#pragma once
// Runs the real program under test as its own process and works it the way a
// user or an automation tool would: through its windows.

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/PathCounters.h"

namespace ts::e2e {

inline constexpr wchar_t kMainCaption[] = L"Виртуальный дефектоскоп ТС4170 V18.09";
inline constexpr wchar_t kLinkCaption[] = L"События USB ";
inline constexpr wchar_t kAppTitle[] = L"Virtual_TS4170";

// A top-level window of the process pid with this caption.
HWND FindOwnWindow(DWORD pid, const wchar_t* caption);

// A window's text (caption, or hint for glyph buttons), asked of its program.
std::wstring TextOf(HWND window);
// The first child window of top whose text matches.
HWND FindChild(HWND top, const std::function<bool(const std::wstring&)>& match);

// Polls cond every few milliseconds until it holds or the deadline passes. The
// deadlines bound a hang: a machine busy with the other suites may keep the
// program seconds behind, which is no fault.
bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout = std::chrono::seconds(60));
// The same, for a wait the test cannot go on without: past the deadline it throws,
// naming what it waited for.
void Await(const std::function<bool()>& cond, const char* what,
           std::chrono::milliseconds timeout = std::chrono::seconds(60));

// A picture read off the screen: 0x00RRGGBB per pixel, rows top to bottom.
struct Picture {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;
  uint32_t At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

// A rectangle of the screen as it is now, and one of a window's client area.
Picture CaptureScreen(const RECT& r);
Picture CaptureClientOf(HWND window, const RECT& area);

class Program {
 public:
  // Starts the program (the one built here, or exe) with the arguments given and
  // waits for its main window and its first device report.
  explicit Program(const std::wstring& exe = {}, const std::wstring& arguments = {});
  // Closes the main window as a user would and waits for the process to end; ends
  // it at once after a failure.
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  HWND Main() const { return main_; }
  HWND Link() const;
  bool Alive() const;
  // Ends the program with the close box; true when it exited by itself.
  bool Close(std::chrono::milliseconds timeout = std::chrono::seconds(20));

  std::wstring StatusPanel(int index) const;
  std::vector<std::wstring> MemoLines() const;
  // The child window of top whose text (caption, or hint for glyph buttons) is text.
  HWND Control(HWND top, const std::wstring& text) const;
  // Clicks a button without waiting for what the click does (it may show a box).
  void Click(HWND button) const;
  // The picture of the display control as it is on the screen.
  Picture CaptureDisplay() const;
  // Any rectangle of the main window's client area as it is on the screen.
  Picture CaptureClient(const RECT& area) const;
  HANDLE Process() const { return process_.hProcess; }
  // The number of handles the process holds and its private bytes. Wine answers
  // neither for another process, so there the handles come from the system's
  // handle list and the bytes from the Unix process's private pages.
  DWORD HandleCount() const;
  size_t PrivateBytes() const;
  // The Unix process that runs the program under Wine, or 0 elsewhere.
  int UnixPid() const;
  // The program's own counts of its work (ui/PathCounters.h), read from its memory.
  TPathCounts PathCounts() const;

 private:
  void End();

  HANDLE job_ = nullptr;
  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
  mutable int unixPid_ = -1;
};

// Under Wine: a file of /proc as text ("" when there is none), and the newest
// Unix process of this Wine prefix whose command line contains `name` (0 if none).
std::string ReadProc(int pid, const char* file);
int FindUnixProcess(const char* name);
// The user and system time a Unix process has used, in seconds (0 if unknown).
double UnixProcessSeconds(int pid);

// A message box of the program: its text, and a way to close it.
struct Box {
  HWND Window = nullptr;
  std::wstring Text;
  bool HasIcon = false;
};
// Waits for a message box with the program's title.
bool WaitForBox(Box& box, std::chrono::milliseconds timeout = std::chrono::seconds(60));
void CloseBox(const Box& box);

}  // namespace ts::e2e
