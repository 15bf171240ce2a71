#include "record/EvidenceUnit.h"

#include <shlobj.h>

#include <cstdio>
#include <memory>

#include "record/ProgressWindow.h"
#include "record/RangeDialog.h"
#include "record/RecordUnit.h"
#include "record/SnapshotName.h"
#include "ui/Application.h"
#include "ui/ErrorReport.h"
#include "ui/FileDialog.h"

namespace ts {

std::string UtcTimeText() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

TEvidence::TEvidence(HWND owner, TMethod<TPixels()> capture, TMethod<std::vector<TPngText>()> texts)
    : owner_(owner), capture_(capture), texts_(texts) {}

TEvidence::~TEvidence() = default;

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
  TFileDialog dialog{.Owner = owner_,
                     .Title = title,
                     .Filter = filter,
                     .DefaultExtension = extension,
                     .Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR};
  return AskFileName(dialog, true, name);
}

void TEvidence::SavePngClick(TObject*) {
  std::wstring name = L"NoName.png";
  if (AskOutput(L"Сохранить картинку в PNG", L"PNG (*.png)\0*.png\0", L"png", name)) Save(name);
}

bool TEvidence::AskExport(std::shared_ptr<TByteSource>& source, TRecordingMap& map, TTimeRange& range) {
  std::wstring name;
  if (!AskRecordingFile(owner_, false, name)) return false;
  std::string error;
  source = OpenRecordingFile(name, error);
  if (!source) {
    Application->ShowMessage(Widen(error));
    return false;
  }
  TRecordingReader reader(source);
  if (reader.Status() == TRecordingReader::TStatus::Foreign) {
    Application->ShowMessage(Widen(reader.Problem()));
    return false;
  }
  {
    TProgressWindow progress(owner_, L"Чтение записи");
    if (!MapRecording(reader, map, [&](double done) { return progress.Step(done); })) return false;
  }
  if (map.DurationMicros <= 0) {
    Application->ShowMessage(L"В записи нет ни одного кадра.");
    return false;
  }
  return AskRecordingRange(owner_, map.DurationMicros, range);
}

bool TEvidence::EachFrame(const wchar_t* title, const std::shared_ptr<TByteSource>& source,
                          const TRecordingMap& map, const TTimeRange& range,
                          const std::function<void(const TFrameStream::TFrame&)>& take, uint64_t& lost) {
  TProgressWindow progress(owner_, title);
  TFrameStream frames(source, map, range.FromMicros, range.ToMicros);
  TFrameStream::TFrame frame;
  size_t count = 0;
  lost = 0;
  while (frames.Next(frame)) {
    take(frame);
    ++count;
    lost += frame.Lost;
    if (!progress.Step(frames.Progress())) return false;
  }
  if (count == 0) {
    const bool whole = range.FromMicros <= 0 && range.ToMicros >= map.DurationMicros;
    Application->ShowMessage(whole ? L"В записи нет ни одного кадра."
                                   : L"В этой части записи нет ни одного кадра.");
    return false;
  }
  return true;
}

namespace {

// An export is whole, but not what the screen showed at a gap: say so.
void TellLost(uint64_t lost) {
  if (lost)
    Application->ShowMessage(L"В этой части записи пропуски: потеряно отчётов при записи: " +
                             std::to_wstring(lost) +
                             L". Кадры, в которые они пришлись, могут быть неполными.");
}

}  // namespace

void TEvidence::ExportGifClick(TObject*) {
  std::shared_ptr<TByteSource> source;
  TRecordingMap map;
  TTimeRange range;
  if (!AskExport(source, map, range)) return;
  std::wstring name = L"TS4170.gif";
  if (!AskOutput(L"Экспорт записи в GIF", L"GIF (*.gif)\0*.gif\0", L"gif", name)) return;
  try {
    TGifWriter gif(name);
    uint64_t lost = 0;
    if (!EachFrame(
            L"Экспорт записи в GIF", source, map, range,
            [&](const TFrameStream::TFrame& f) {
              gif.Add(*f.Pixels, kPictureWidth, kPictureHeight, f.Hundredths);
            },
            lost))
      return;
    gif.Finish();
    TellLost(lost);
  } catch (const std::exception& e) {
    Application->ShowMessage(L"GIF не сохранён: " + Widen(e.what()));
  }
}

void TEvidence::ExportPngFramesClick(TObject*) {
  std::shared_ptr<TByteSource> source;
  TRecordingMap map;
  TTimeRange range;
  if (!AskExport(source, map, range)) return;
  std::wstring name = L"frame.png";
  if (!AskOutput(L"Экспорт записи в кадры PNG", L"PNG (*.png)\0*.png\0", L"png", name)) return;
  // "frame.png" becomes frame_00001.png, frame_00002.png, ...
  const size_t dot = name.find_last_of(L'.');
  const std::wstring stem = dot == std::wstring::npos ? name : name.substr(0, dot);
  std::vector<std::wstring> written;
  bool done = false;
  uint64_t lost = 0;
  try {
    TPixels pixels{kPictureWidth, kPictureHeight, {}};
    done = EachFrame(
        L"Экспорт записи в кадры PNG", source, map, range,
        [&](const TFrameStream::TFrame& f) {
          wchar_t number[24];
          swprintf(number, 24, L"_%05zu.png", written.size() + 1);
          pixels.Data = *f.Pixels;
          SavePng(pixels, stem + number, {});
          written.push_back(stem + number);
        },
        lost);
    if (done) TellLost(lost);
  } catch (const std::exception& e) {
    Application->ShowMessage(L"Кадры не сохранены: " + Widen(e.what()));
  }
  // An export cancelled or failed leaves none of its frames behind.
  if (!done)
    for (const std::wstring& file : written) DeleteFileW(file.c_str());
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
