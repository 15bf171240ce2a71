#include "sim/SimulatorWindow.h"

#include "res/Resources.h"
#include "ui/Cp1251.h"
#include "ui/ErrorReport.h"
#include "ui/WinHandle.h"
#include "ui/WindowClass.h"
#include "ui/WindowObject.h"

namespace ts::sim {
namespace {

constexpr UINT WM_APP_FRAME = WM_APP + 2;
constexpr UINT WM_APP_LOG = WM_APP + 3;
enum : int { kIdPlug = 101, kIdFast, kIdLog, kIdStatus, kIdMenuUnplug, kIdMenuPlug, kIdMenuExit };
constexpr int kScreenLeft = 8, kScreenTop = 8, kMargin = 3;  // the mirror's 3-pixel border
constexpr int kMaxLogLines = 2000;

// The owner of error boxes while the window lives.
HWND errorOwner = nullptr;

}  // namespace

void ShowSimulatorError(const std::exception& error) {
  MessageBoxW(errorOwner, Widen(error.what()).c_str(), kTitle, MB_OK | MB_ICONERROR);
}

bool SimulatorWindow::Create(HINSTANCE instance, int show, const std::wstring& pipe) {
  WNDCLASSEXW wc{};
  wc.lpfnWndProc = &ObjectWindowProc<SimulatorWindow>;
  wc.hInstance = instance;
  // The program's icon, shared (the class keeps it for the process's life).
  wc.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(TS_PROGRAM_ICON), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  wc.hIconSm =
      static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(TS_PROGRAM_ICON), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kClassName;
  if (!RegisterWindowClass(wc)) return false;

  HMENU bar = CreateMenu(), device = CreatePopupMenu();
  AppendMenuW(device, MF_STRING, kIdMenuUnplug, L"Отключить");
  AppendMenuW(device, MF_STRING, kIdMenuPlug, L"Подключить");
  AppendMenuW(device, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(device, MF_STRING, kIdMenuExit, L"Выход");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(device), L"Прибор");

  RECT r{0, 0, 600, 480};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRect(&r, style, TRUE);
  window_ = CreateWindowExW(0, kClassName, WindowTitle(pipe).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                            r.right - r.left, r.bottom - r.top, nullptr, bar, instance, this);
  if (!window_) return false;
  // The engine's threads tell the window by message only, so a late notice
  // after the window is gone is lost harmlessly.
  const HWND window = window_;
  engine_.SetNotices([window] { PostMessageW(window, WM_APP_FRAME, 0, 0); },
                     [window] { PostMessageW(window, WM_APP_LOG, 0, 0); });
  ShowWindow(window_, show);
  UpdateWindow(window_);
  return true;
}

void SimulatorWindow::CreateControls() {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  auto make = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExW(cls == std::wstring(L"LISTBOX") ? WS_EX_CLIENTEDGE : 0, cls, text,
                             WS_CHILD | WS_VISIBLE | style, x, y, w, h, window_,
                             reinterpret_cast<HMENU>(INT_PTR(id)), inst, nullptr);
    SendMessageW(c, WM_SETFONT, WPARAM(font), TRUE);
    return c;
  };
  const int x = kScreenLeft + 326 + 12;
  plugButton_ = make(L"BUTTON", L"Отключить", BS_PUSHBUTTON | WS_TABSTOP, x, 8, 240, 28, kIdPlug);
  fastBox_ = make(L"BUTTON", L"Как можно быстрее (не 1 отчёт в мс)", BS_AUTOCHECKBOX | WS_TABSTOP, x, 44, 240,
                  22, kIdFast);
  SendMessageW(fastBox_, BM_SETCHECK, engine_.Fast() ? BST_CHECKED : BST_UNCHECKED, 0);
  status_ = make(L"STATIC", L"", SS_LEFT, x, 76, 240, 170, kIdStatus);
  make(L"STATIC", L"Принятые команды:", SS_LEFT, 8, 262, 300, 16, 0);
  logList_ = make(L"LISTBOX", L"", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 8, 280, 584, 192, kIdLog);
}

void SimulatorWindow::Start() {
  engine_.Start();
  SetWindowTextW(plugButton_, engine_.IsPlugged() ? L"Отключить" : L"Подключить");
  UpdateStatus();
  engine_.StartPacing();
  SetTimer(window_, 1, 500, nullptr);
}

void SimulatorWindow::SetPlugged(bool plugged) {
  engine_.SetPlugged(plugged);
  SetWindowTextW(plugButton_, engine_.IsPlugged() ? L"Отключить" : L"Подключить");
  UpdateStatus();
}

void SimulatorWindow::UpdateStatus() { SetWindowTextW(status_, engine_.StatusText().c_str()); }

void SimulatorWindow::DrainLog() {
  for (const std::wstring& text : engine_.TakeLog()) {
    if (SendMessageW(logList_, LB_GETCOUNT, 0, 0) >= kMaxLogLines)
      SendMessageW(logList_, LB_DELETESTRING, 0, 0);
    const LRESULT index = SendMessageW(logList_, LB_ADDSTRING, 0, LPARAM(text.c_str()));
    SendMessageW(logList_, LB_SETTOPINDEX, WPARAM(index), 0);
  }
}

void SimulatorWindow::Paint() {
  const TPaintDC paint(window_);
  const HDC dc = paint.Get();
  const Screen frame = engine_.Frame();
  RECT border{kScreenLeft, kScreenTop, kScreenLeft + kScreenWidth + 2 * kMargin,
              kScreenTop + kScreenHeight + 2 * kMargin};
  FillRect(dc, &border, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[2];
  } bmi{};
  bmi.header.biSize = sizeof bmi.header;
  bmi.header.biWidth = kScreenWidth;
  bmi.header.biHeight = -kScreenHeight;  // top-down, as the screen's rows are stored
  bmi.header.biPlanes = 1;
  bmi.header.biBitCount = 1;
  bmi.header.biCompression = BI_RGB;
  bmi.colours[0] = {255, 255, 255, 0};  // a clear bit is white
  bmi.colours[1] = {0, 0, 0, 0};
  SetDIBitsToDevice(dc, kScreenLeft + kMargin, kScreenTop + kMargin, kScreenWidth, kScreenHeight, 0, 0, 0,
                    kScreenHeight, frame.Data().data(), reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS);
}

LRESULT SimulatorWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NCCREATE:
      errorOwner = window_;
      break;
    case WM_CREATE:
      CreateControls();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_APP_FRAME: {
      engine_.FrameSeen();
      RECT r{kScreenLeft, kScreenTop, kScreenLeft + kScreenWidth + 2 * kMargin,
             kScreenTop + kScreenHeight + 2 * kMargin};
      InvalidateRect(window_, &r, FALSE);
      return 0;
    }
    case WM_APP_LOG:
      DrainLog();
      return 0;
    case WM_APP_CONTROL:
      SetPlugged(wp != 0);
      return 0;
    case WM_TIMER:
      UpdateStatus();
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case kIdPlug:
          SetPlugged(!engine_.IsPlugged());
          return 0;
        case kIdMenuUnplug:
          SetPlugged(false);
          return 0;
        case kIdMenuPlug:
          SetPlugged(true);
          return 0;
        case kIdMenuExit:
          DestroyWindow(window_);
          return 0;
        case kIdFast:
          engine_.SetFast(SendMessageW(fastBox_, BM_GETCHECK, 0, 0) == BST_CHECKED);
          return 0;
      }
      break;
    case WM_DESTROY:
      errorOwner = nullptr;
      // Stop the stream first, then leave the pipe (which broadcasts the change).
      KillTimer(window_, 1);
      engine_.StopPacing();
      SetPlugged(false);
      DrainLog();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window_, msg, wp, lp);
}

}  // namespace ts::sim
