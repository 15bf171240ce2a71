#include "record/PlaybackUnit.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

#include "ui/Application.h"
#include "ui/ErrorReport.h"
#include "ui/Exception.h"
#include "ui/WindowClass.h"
#include "ui/WindowObject.h"
#include "ui/WorkArea.h"

namespace ts {
namespace {

constexpr wchar_t kClass[] = L"TS4170_Playback";
enum : int { kIdPlay = 201, kIdStep, kIdSpeed1, kIdSpeed2, kIdSpeed4, kIdSlider, kIdTime, kIdIntegrity };
constexpr UINT_PTR kRefreshTimer = 1;
// Wine's trackbar draws its thumb in the wrong place past about 5 million steps
// (an hour and a half of milliseconds: a position times the channel's width
// overflows an int), and a pixel of the channel is many steps anyway.
constexpr int64_t kSliderSteps = 10'000;

std::wstring Clock(int64_t micros) {
  const int64_t ms = micros / 1000;
  wchar_t text[32];
  swprintf(text, 32, L"%lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
           static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
           static_cast<long long>(ms % 1000));
  return text;
}

std::wstring UtcText(int64_t micros) {
  const int64_t ticks = (micros + 11644473600LL * 1000000) * 10;
  FILETIME ft{DWORD(ticks), DWORD(uint64_t(ticks) >> 32)};
  SYSTEMTIME t;
  FileTimeToSystemTime(&ft, &t);
  wchar_t text[48];
  swprintf(text, 48, L"%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
           t.wSecond);
  return text;
}

}  // namespace

TPlaybackWindow::TPlaybackWindow(HWND owner, const std::wstring& fileName,
                                 std::shared_ptr<TPlayback> playback, TNotifyEvent onEnded)
    : fileName_(fileName), playback_(std::move(playback)), onEnded_(onEnded) {
  WNDCLASSEXW wc{};
  wc.lpfnWndProc = &ObjectWindowProc<TPlaybackWindow>;
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kClass;
  RegisterWindowClass(wc);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT r{0, 0, 420, 150};
  AdjustWindowRect(&r, style, FALSE);
  RECT ownerRect{};
  GetWindowRect(owner, &ownerRect);
  // Below the main window, where the screen has room for it.
  const int width = r.right - r.left, height = r.bottom - r.top;
  const POINT at = IntoWorkArea(
      {ownerRect.left, ownerRect.bottom + 4, ownerRect.left + width, ownerRect.bottom + 4 + height});
  CreateWindowExW(WS_EX_TOOLWINDOW, kClass, L"Воспроизведение записи", style, at.x, at.y, width, height,
                  owner, nullptr, GetModuleHandleW(nullptr), this);
  if (!window_) throw Exception("Cannot create the playback window");
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  SetTimer(window_, kRefreshTimer, 100, nullptr);
}

TPlaybackWindow::~TPlaybackWindow() {
  End();
  if (window_) DestroyWindow(window_);
}

void TPlaybackWindow::CreateControls() {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  auto make = [&](const wchar_t* cls, const std::wstring& text, DWORD style, int x, int y, int w, int h,
                  int id) {
    HWND c = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, window_,
                             reinterpret_cast<HMENU>(INT_PTR(id)), inst, nullptr);
    SendMessageW(c, WM_SETFONT, WPARAM(font), TRUE);
    return c;
  };
  const TRecordingHeader& h = playback_->Header();
  const size_t slash = fileName_.find_last_of(L"\\/");
  make(L"STATIC",
       L"Показана запись, а не прибор: " + fileName_.substr(slash == std::wstring::npos ? 0 : slash + 1),
       SS_LEFT | SS_ENDELLIPSIS, 8, 6, 404, 16, 0);
  wchar_t device[160];
  swprintf(device, 160, L"%04X/%04X %ls, начата %ls", h.VendorID, h.ProductID, Widen(h.Product).c_str(),
           UtcText(h.StartUtcMicros).c_str());
  make(L"STATIC", device, SS_LEFT | SS_ENDELLIPSIS, 8, 24, 404, 16, 0);
  problem_ = Widen(playback_->Problem());
  problemText_ = make(L"STATIC", problem_, SS_LEFT | SS_ENDELLIPSIS, 8, 42, 404, 16, 0);
  playButton_ = make(L"BUTTON", L"Пауза", BS_PUSHBUTTON, 8, 64, 70, 24, kIdPlay);
  make(L"BUTTON", L"Кадр", BS_PUSHBUTTON, 82, 64, 60, 24, kIdStep);
  HWND one = make(L"BUTTON", L"1x", BS_AUTORADIOBUTTON | WS_GROUP, 156, 68, 40, 18, kIdSpeed1);
  make(L"BUTTON", L"2x", BS_AUTORADIOBUTTON, 198, 68, 40, 18, kIdSpeed2);
  make(L"BUTTON", L"4x", BS_AUTORADIOBUTTON, 240, 68, 40, 18, kIdSpeed4);
  SendMessageW(one, BM_SETCHECK, BST_CHECKED, 0);
  integrityText_ = make(L"STATIC", L"", SS_LEFT, 290, 68, 122, 18, kIdIntegrity);
  slider_ = make(TRACKBAR_CLASSW, L"", TBS_HORZ | TBS_NOTICKS, 4, 96, 412, 26, kIdSlider);
  SendMessageW(slider_, TBM_SETRANGEMIN, FALSE, 0);
  sliderUnit_ = std::max<int64_t>(1000, (playback_->DurationMicros() + kSliderSteps - 1) / kSliderSteps);
  SendMessageW(slider_, TBM_SETRANGEMAX, TRUE, LPARAM(playback_->DurationMicros() / sliderUnit_));
  time_ = make(L"STATIC", L"", SS_CENTER, 8, 126, 404, 16, kIdTime);
}

void TPlaybackWindow::Refresh() {
  const int64_t position = playback_->PositionMicros();
  if (!dragging_) SendMessageW(slider_, TBM_SETPOS, TRUE, LPARAM(position / sliderUnit_));
  std::wstring text = Clock(position) + L" / " + Clock(playback_->DurationMicros());
  if (playback_->AtEnd()) text += L"  — конец записи";
  SetWindowTextW(time_, text.c_str());
  SetWindowTextW(playButton_, playback_->Paused() ? L"Пуск" : L"Пауза");
  SetWindowTextW(integrityText_, integrity_.Presents() == 0 ? L""
                                 : integrity_.Whole()       ? L"Кадр целый"
                                 : integrity_.GapInFrame()  ? L"Кадр неполный: пропуск"
                                                            : L"Кадр неполный");
  const std::wstring problem = Widen(playback_->Problem());
  if (problem != problem_) SetWindowTextW(problemText_, (problem_ = problem).c_str());
}

void TPlaybackWindow::Shown(const uint8_t* data, uint16_t size) {
  // The read thread waits while a report is shown, so what it has passed is
  // exactly what came before this report.
  const uint64_t lost = playback_->LostPlayed();
  if (lost != lostSeen_) integrity_.MarkGap();
  lostSeen_ = lost;
  integrity_.Apply(data, size);
}

std::unique_ptr<THidPnPInfo> TPlaybackWindow::Interface() {
  std::vector<std::unique_ptr<THidPnPInfo>> found;
  binding_.Enumerate(kFallbackHidInterfaceClass, found);
  return std::move(found.front());
}

void TPlaybackWindow::End() {
  if (!open_) return;
  KillTimer(window_, kRefreshTimer);
  open_ = false;
  if (onEnded_) onEnded_(this);
}

LRESULT TPlaybackWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case WM_TIMER:
      Refresh();
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case kIdPlay:
          if (playback_->Paused())
            playback_->Play();
          else
            playback_->Pause();
          Refresh();
          return 0;
        case kIdStep:
          playback_->Step();
          return 0;
        case kIdSpeed1:
          playback_->SetSpeed(1);
          return 0;
        case kIdSpeed2:
          playback_->SetSpeed(2);
          return 0;
        case kIdSpeed4:
          playback_->SetSpeed(4);
          return 0;
      }
      break;
    case WM_HSCROLL:
      if (HWND(lp) == slider_) {
        const int code = LOWORD(wp);
        // Every move of the thumb, by mouse or key, ends with TB_ENDTRACK: one seek.
        dragging_ = code != TB_ENDTRACK;
        if (code == TB_ENDTRACK) {
          playback_->Seek(int64_t(SendMessageW(slider_, TBM_GETPOS, 0, 0)) * sliderUnit_);
          Refresh();
        }
        return 0;
      }
      break;
    case WM_CLOSE:
      End();
      DestroyWindow(window_);
      return 0;
  }
  return DefWindowProcW(window_, msg, wp, lp);
}

}  // namespace ts
