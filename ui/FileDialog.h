#pragma once
// The one way the program asks for a file name: the system's save or open dialog.
// Header only, for the libraries below the toolkit's windows.

#include <windows.h>

#include <commdlg.h>

#include <string>

#include "ui/Exception.h"

namespace ts {

struct TFileDialog {
  HWND Owner = nullptr;
  const wchar_t* Title = nullptr;
  const wchar_t* Filter = nullptr;  // pairs of shown text and pattern, ending in an empty one
  const wchar_t* DefaultExtension = nullptr;
  DWORD Flags = 0;        // OFN_ flags
  DWORD FilterIndex = 0;  // offered, and the one chosen on return
  // A dialog that shows more than the system's: its hook and template.
  LPOFNHOOKPROC Hook = nullptr;
  HINSTANCE Template = nullptr;
};

// Offers `name` in the save (or open) dialog. False when the operator cancels;
// otherwise `name` is the choice. A dialog that cannot do its work throws
// ts::Exception "Cannot show the save dialog (error 0x<code>)" (or "open").
inline bool AskFileName(TFileDialog& dialog, bool save, std::wstring& name) {
  wchar_t buffer[MAX_PATH] = {};
  name.copy(buffer, MAX_PATH - 1);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog.Owner;
  ofn.hInstance = dialog.Template;
  ofn.lpstrFilter = dialog.Filter;
  ofn.nFilterIndex = dialog.FilterIndex;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrTitle = dialog.Title;
  ofn.lpstrDefExt = dialog.DefaultExtension;
  ofn.Flags =
      dialog.Flags | (dialog.Hook ? OFN_ENABLEHOOK : 0) | (dialog.Template ? OFN_ENABLETEMPLATEHANDLE : 0);
  ofn.lpfnHook = dialog.Hook;
  if (!(save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn))) {
    // Cancelling gives no code; anything else is a dialog that could not do its work.
    if (DWORD code = CommDlgExtendedError())
      throw Exception(Format("Cannot show the %s dialog (error 0x%X)", save ? "save" : "open",
                             static_cast<unsigned>(code)));
    return false;
  }
  name = buffer;
  dialog.FilterIndex = ofn.nFilterIndex;
  return true;
}

}  // namespace ts
