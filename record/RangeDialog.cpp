#include "record/RangeDialog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "ui/ErrorReport.h"
#include "ui/WindowObject.h"

namespace ts {
namespace {

constexpr WORD kFromEdit = 101, kToEdit = 102, kProblemText = 103;
constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;

// A dialog template in memory, in dialog units: the header, then each item
// aligned to a DWORD.
class TDialogTemplate {
 public:
  TDialogTemplate(const wchar_t* title, short cx, short cy, WORD items) {
    Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    Dword(0);
    words_.push_back(items);
    Coordinates(0, 0, cx, cy);
    words_.push_back(0);  // no menu
    words_.push_back(0);  // the dialog class
    Text(title);
    words_.push_back(8);
    Text(L"MS Shell Dlg");
  }
  void Item(WORD cls, DWORD style, short x, short y, short cx, short cy, WORD id, const wchar_t* text) {
    if (words_.size() % 2) words_.push_back(0);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Coordinates(x, y, cx, cy);
    words_.push_back(id);
    words_.push_back(0xFFFF);
    words_.push_back(cls);
    Text(text);
    words_.push_back(0);  // no creation data
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Dword(DWORD value) {
    words_.push_back(LOWORD(value));
    words_.push_back(HIWORD(value));
  }
  void Coordinates(short x, short y, short cx, short cy) {
    for (short v : {x, y, cx, cy}) words_.push_back(static_cast<WORD>(v));
  }
  void Text(const wchar_t* text) {
    while (*text) words_.push_back(static_cast<WORD>(*text++));
    words_.push_back(0);
  }
  std::vector<WORD> words_;
};

std::wstring SecondsText(int64_t micros, bool roundUp) {
  const double tenths = roundUp ? std::ceil(double(micros) / 1e5) : std::floor(double(micros) / 1e5);
  wchar_t text[32];
  std::swprintf(text, 32, L"%.1f", tenths / 10);
  return text;
}

struct TRangeAsk {
  int64_t durationMicros;
  TTimeRange& range;
};

std::wstring TextOf(HWND dialog, int id) {
  wchar_t text[64];
  GetDlgItemTextW(dialog, id, text, 64);
  return text;
}

INT_PTR CALLBACK RangeProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
  return Guarded(
      [&]() -> INT_PTR {
        if (message == WM_INITDIALOG) {
          BindObject(dialog, reinterpret_cast<void*>(lp));
          const auto* ask = reinterpret_cast<const TRangeAsk*>(lp);
          SetDlgItemTextW(dialog, kFromEdit, SecondsText(0, false).c_str());
          SetDlgItemTextW(dialog, kToEdit, SecondsText(ask->durationMicros, true).c_str());
          return TRUE;
        }
        if (message != WM_COMMAND) return FALSE;
        if (LOWORD(wp) == IDCANCEL) {
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        }
        if (LOWORD(wp) != IDOK) return FALSE;
        auto* ask = BoundObject<TRangeAsk>(dialog);
        const std::optional<int64_t> from = ParseSeconds(TextOf(dialog, kFromEdit));
        std::optional<int64_t> to = ParseSeconds(TextOf(dialog, kToEdit));
        if (to) to = std::min(*to, ask->durationMicros);
        if (!from || !to || *from >= *to) {
          const std::wstring text = L"Укажите начало и конец в секундах от 0 до " +
                                    SecondsText(ask->durationMicros, true) + L", начало раньше конца.";
          MessageBoxW(dialog, text.c_str(), L"Часть записи", MB_OK | MB_ICONWARNING);
          return TRUE;
        }
        ask->range = {*from, *to};
        EndDialog(dialog, IDOK);
        return TRUE;
      },
      INT_PTR(FALSE));
}

}  // namespace

std::optional<int64_t> ParseSeconds(const std::wstring& text) {
  std::wstring number = text;
  std::replace(number.begin(), number.end(), L',', L'.');
  const wchar_t* start = number.c_str();
  while (*start == L' ') ++start;
  if (*start < L'0' || *start > L'9') return std::nullopt;  // no sign, no "inf"
  wchar_t* end = nullptr;
  const double seconds = std::wcstod(start, &end);
  while (*end == L' ') ++end;
  if (*end || !(seconds < 1e9)) return std::nullopt;
  return static_cast<int64_t>(std::llround(seconds * 1e6));
}

bool AskRecordingRange(HWND owner, int64_t durationMicros, const std::wstring& problem, TTimeRange& range) {
  // The recording's problem, when it has one, in three lines above the buttons.
  const short problemHeight = problem.empty() ? 0 : 28;
  TDialogTemplate dialog(L"Часть записи", 160, short(72 + problemHeight), problem.empty() ? 7 : 8);
  dialog.Item(kStatic, SS_LEFT, 7, 9, 50, 8, 0xFFFF, L"Начало, с:");
  dialog.Item(kEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 60, 7, 50, 12, kFromEdit, L"");
  dialog.Item(kStatic, SS_LEFT, 7, 25, 50, 8, 0xFFFF, L"Конец, с:");
  dialog.Item(kEdit, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 60, 23, 50, 12, kToEdit, L"");
  const std::wstring length = L"Запись длится " + SecondsText(durationMicros, true) + L" с.";
  dialog.Item(kStatic, SS_LEFT, 7, 40, 146, 8, 0xFFFF, length.c_str());
  if (!problem.empty()) dialog.Item(kStatic, SS_LEFT, 7, 50, 146, 26, kProblemText, problem.c_str());
  const short buttons = short(52 + problemHeight);
  dialog.Item(kButton, BS_DEFPUSHBUTTON | WS_TABSTOP, 49, buttons, 50, 14, IDOK, L"OK");
  dialog.Item(kButton, BS_PUSHBUTTON | WS_TABSTOP, 103, buttons, 50, 14, IDCANCEL, L"Отмена");
  TRangeAsk ask{durationMicros, range};
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, RangeProc,
                                 reinterpret_cast<LPARAM>(&ask)) == IDOK;
}

}  // namespace ts
