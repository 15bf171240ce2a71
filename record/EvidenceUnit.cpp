#include "record/EvidenceUnit.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>

#include "record/RangeDialog.h"
#include "record/RecordUnit.h"
#include "record/SnapshotName.h"
#include "ui/Application.h"
#include "ui/ErrorReport.h"

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
    Guarded([&] { hooked->SnapshotClick(nullptr); });
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

bool TEvidence::AskOutput(const wchar_t* title, const wchar_t* filter, const wchar_t* extension,
                          std::wstring& name) {
  wchar_t buffer[MAX_PATH];
  lstrcpynW(buffer, name.c_str(), MAX_PATH);
  OPENFILENAMEW ofn{sizeof ofn};
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = filter;
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrTitle = title;
  ofn.lpstrDefExt = extension;
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&ofn)) return false;
  name = buffer;
  return true;
}

void TEvidence::SavePngClick(TObject*) {
  std::wstring name = L"NoName.png";
  if (AskOutput(L"Сохранить картинку в PNG", L"PNG (*.png)\0*.png\0", L"png", name)) Save(name);
}

bool TEvidence::LoadFrames(std::vector<TPixels>& frames, std::vector<int>& delays) {
  std::wstring source;
  if (!AskRecordingFile(owner_, false, source)) return false;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadWholeFile(source, bytes, error)) {
    Application->ShowMessage(Widen(error));
    return false;
  }
  TRecordingReader reader(bytes);
  if (reader.Status() == TRecordingReader::TStatus::Foreign) {
    Application->ShowMessage(Widen(reader.Problem()));
    return false;
  }
  const int64_t duration = RecordingFrames(bytes, frames, delays);
  if (frames.empty()) {
    Application->ShowMessage(L"В записи нет ни одного кадра.");
    return false;
  }
  TTimeRange range;
  if (!AskRecordingRange(owner_, duration, range)) return false;
  if (range.FromMicros > 0 || range.ToMicros < duration) {
    RecordingFrames(bytes, frames, delays, range.FromMicros, range.ToMicros);
    if (frames.empty()) {
      Application->ShowMessage(L"В этой части записи нет ни одного кадра.");
      return false;
    }
  }
  return true;
}

void TEvidence::ExportGifClick(TObject*) {
  std::vector<TPixels> frames;
  std::vector<int> delays;
  if (!LoadFrames(frames, delays)) return;
  std::wstring name = L"TS4170.gif";
  if (!AskOutput(L"Экспорт записи в GIF", L"GIF (*.gif)\0*.gif\0", L"gif", name)) return;
  try {
    SaveGif(frames, delays, name);
  } catch (const std::exception& e) {
    Application->ShowMessage(L"GIF не сохранён: " + Widen(e.what()));
  }
}

void TEvidence::ExportPngFramesClick(TObject*) {
  std::vector<TPixels> frames;
  std::vector<int> delays;
  if (!LoadFrames(frames, delays)) return;
  std::wstring name = L"frame.png";
  if (!AskOutput(L"Экспорт записи в кадры PNG", L"PNG (*.png)\0*.png\0", L"png", name)) return;
  // "frame.png" becomes frame_00001.png, frame_00002.png, ...
  const size_t dot = name.find_last_of(L'.');
  const std::wstring stem = dot == std::wstring::npos ? name : name.substr(0, dot);
  try {
    for (size_t i = 0; i < frames.size(); ++i) {
      wchar_t number[16];
      swprintf(number, 16, L"_%05zu.png", i + 1);
      SavePng(frames[i], stem + number, {});
    }
  } catch (const std::exception& e) {
    Application->ShowMessage(L"Кадры не сохранены: " + Widen(e.what()));
  }
}

void TEvidence::SnapshotClick(TObject*) {
  if (folder_.empty()) {
    BROWSEINFOW bi{};
    bi.hwndOwner = owner_;
    bi.lpszTitle = L"Папка для снимков (F12) до конца работы программы";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    const std::unique_ptr<ITEMIDLIST_ABSOLUTE, decltype(&CoTaskMemFree)> list(SHBrowseForFolderW(&bi),
                                                                              &CoTaskMemFree);
    if (!list) return;
    wchar_t path[MAX_PATH];
    if (!SHGetPathFromIDListW(list.get(), path)) return;
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
