#pragma once
// Working the recording menu of the real program from another process: the
// menu items and the file dialogs they open.

#include <windows.h>

#include <string>

#include "tests/e2e/support/Driver.h"

namespace ts::e2e {

// Another process's menu cannot be walked under Wine; the toolkit numbers the
// items from 100 in the order the main window defines them.
constexpr UINT kRecordItem = 108, kPlayItem = 109, kPngItem = 111, kSnapshotItem = 112, kGifItem = 113,
               kFramesItem = 114;

// Gives the file dialog with this title a file name and presses its OK.
inline bool FillDialog(const Program& program, const wchar_t* title, const std::wstring& file) {
  HWND dialog = nullptr;
  DWORD pid = GetProcessId(program.Process());
  if (!WaitFor([&] { return (dialog = FindOwnWindow(pid, title)) != nullptr; })) {
    return false;
  }
  // The name box: a combo box in the dialogs of today, an edit box in old ones.
  if (!SetDlgItemTextW(dialog, 0x47C, file.c_str()) && !SetDlgItemTextW(dialog, 0x480, file.c_str())) {
    return false;
  }
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  return WaitFor([&] { return !IsWindow(dialog); });
}

// Chooses a menu item and gives the file dialog it opens a file name.
inline bool ChooseFile(const Program& program, UINT item, const wchar_t* title, const std::wstring& file) {
  PostMessageW(program.Main(), WM_COMMAND, item, 0);
  return FillDialog(program, title, file);
}

// Chooses "Записывать отчёты прибора": starts recording into file, or stops.
inline bool ToggleRecording(const Program& program, const std::wstring& file) {
  if (!file.empty()) return ChooseFile(program, kRecordItem, L"Записать в файл", file);
  PostMessageW(program.Main(), WM_COMMAND, kRecordItem, 0);
  return true;
}

}  // namespace ts::e2e
