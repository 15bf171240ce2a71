#include "record/EvidenceUnit.h"

#include <shlobj.h>

#include <cstdio>
#include <memory>

#include "record/ProgressWindow.h"
#include "record/RangeDialog.h"
#include "record/RecordUnit.h"
#include "record/SnapshotName.h"
#include "ui/Application.h"
#include "ui/Cp1251.h"
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
  return AskRecordingRange(owner_, map.DurationMicros, Widen(map.Problem), range);
}

bool TEvidence::EachFrame(const wchar_t* title, const std::shared_ptr<TByteSource>& source,
                          const TRecordingMap& map, const TTimeRange& range, int64_t shortestHundredths,
                          const std::function<void(const TFrameStream::TFrame&)>& take,
                          std::wstring& notice) {
  TProgressWindow progress(owner_, title);
  TFrameStream frames(source, map, range.FromMicros, range.ToMicros, shortestHundredths);
  TFrameStream::TFrame frame;
  size_t count = 0;
  uint64_t lost = 0;
  while (frames.Next(frame)) {
    take(frame);
    ++count;
    lost += frame.Lost;
    if (!progress.Step(frames.Progress())) return false;
  }
  const std::wstring damage = Widen(frames.Problem());
  if (count == 0) {
    const bool whole = range.FromMicros <= 0 && range.ToMicros >= map.DurationMicros;
    if (!damage.empty())
      Application->ShowMessage(damage);
    else
      Application->ShowMessage(whole ? L"В записи нет ни одного кадра."
                                     : L"В этой части записи нет ни одного кадра.");
    return false;
  }
  // Published, an export still says what it is not: cut short by damage, or
  // with frames drawn over a gap.
  notice = damage;
  if (lost)
    notice += std::wstring(notice.empty() ? L"" : L"\n") +
              L"В этой части записи пропуски: потеряно отчётов при записи: " + std::to_wstring(lost) +
              L". Кадры, в которые они пришлись, могут быть неполными.";
  return true;
}

void TEvidence::ExportGifClick(TObject*) {
  std::shared_ptr<TByteSource> source;
  TRecordingMap map;
  TTimeRange range;
  if (!AskExport(source, map, range)) return;
  std::wstring name = L"TS4170.gif";
  if (!AskOutput(L"Экспорт записи в GIF", L"GIF (*.gif)\0*.gif\0", L"gif", name)) return;
  try {
    TGifWriter gif(name);
    std::wstring notice;
    if (!EachFrame(
            L"Экспорт записи в GIF", source, map, range, kShortestGifHundredths,
            [&](const TFrameStream::TFrame& f) {
              gif.Add(*f.Pixels, kPictureWidth, kPictureHeight, f.Hundredths);
            },
            notice))
      return;
    gif.Finish();
    if (!notice.empty()) Application->ShowMessage(notice);
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
  std::wstring notice;
  try {
    // An export cancelled or failed leaves none of its frames behind.
    TNumberedPngs files(name);
    TPixels pixels{kPictureWidth, kPictureHeight, {}};
    if (!EachFrame(
            L"Экспорт записи в кадры PNG", source, map, range, 0,
            [&](const TFrameStream::TFrame& f) {
              pixels.Data = *f.Pixels;
              files.Add(pixels);
            },
            notice))
      return;
    files.Keep();
  } catch (const std::exception& e) {
    Application->ShowMessage(L"Кадры не сохранены: " + Widen(e.what()));
    return;
  }
  if (!notice.empty()) Application->ShowMessage(notice);
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
