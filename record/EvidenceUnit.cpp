#include "record/EvidenceUnit.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstdio>

#include "record/SnapshotName.h"
#include "ui/Application.h"

namespace ts {
namespace {

TEvidence* hooked = nullptr;  // the thread's one keyboard hook serves this

}  // namespace

std::string UtcTimeText() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

TEvidence::TEvidence(HWND owner, TMethod<TPixels()> capture, TMethod<std::vector<TPngText>()> texts)
    : owner_(owner), capture_(capture), texts_(texts) {
  // Keys go to whichever child has the focus; a thread hook sees them all.
  if (!hooked) {
    hook_ = SetWindowsHookExW(WH_KEYBOARD, KeyHook, nullptr, GetCurrentThreadId());
    hooked = this;
  }
}

TEvidence::~TEvidence() {
  if (hook_) UnhookWindowsHookEx(hook_);
  if (hooked == this) hooked = nullptr;
}

LRESULT CALLBACK TEvidence::KeyHook(int code, WPARAM wp, LPARAM lp) {
  const bool pressed = !(lp & (1u << 31)) && !(lp & (1 << 30));
  if (code == HC_ACTION && wp == VK_F12 && pressed && hooked && GetActiveWindow() == hooked->owner_) {
    try {
      hooked->SnapshotClick(nullptr);
    } catch (const std::exception& e) {
      Application->ShowException(e);
    }
    return 1;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

bool TEvidence::Save(const std::wstring& fileName) {
  try {
    SavePng(capture_(), fileName, texts_());
    return true;
  } catch (const std::exception& e) {
    Application->ShowMessage(L"Картинка не сохранена: " + Widen(e.what()));
    return false;
  }
}

void TEvidence::SavePngClick(TObject*) {
  wchar_t name[MAX_PATH] = L"NoName.png";
  OPENFILENAMEW ofn{sizeof ofn};
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = L"PNG (*.png)\0*.png\0";
  ofn.lpstrFile = name;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrTitle = L"Сохранить картинку в PNG";
  ofn.lpstrDefExt = L"png";
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (GetSaveFileNameW(&ofn)) Save(name);
}

void TEvidence::SnapshotClick(TObject*) {
  if (folder_.empty()) {
    BROWSEINFOW bi{};
    bi.hwndOwner = owner_;
    bi.lpszTitle = L"Папка для снимков (F12) до конца работы программы";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&bi);
    if (!list) return;
    wchar_t path[MAX_PATH];
    const bool ok = SHGetPathFromIDListW(list, path);
    CoTaskMemFree(list);
    if (!ok) return;
    folder_ = path;
    if (!folder_.empty() && folder_.back() != L'\\') folder_ += L'\\';
  }
  SYSTEMTIME t;
  GetLocalTime(&t);
  const TStamp stamp{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
  const std::wstring name = SnapshotName(stamp, [this](const std::wstring& candidate) {
    return GetFileAttributesW((folder_ + candidate).c_str()) != INVALID_FILE_ATTRIBUTES;
  });
  Save(folder_ + name);
}

}  // namespace ts
