// TS4170_Simulator.exe: the virtual instrument on the pipe, with its own screen
// at 1:1 beside a log of every command it receives. See sim/README.md.

#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/Commands.h"
#include "sim/Instrument.h"
#include "sim/PipeServer.h"
#include "sim/RecordingSource.h"
#include "sim/Transport.h"
#include "ui/Cp1251.h"

namespace ts::sim {
namespace {

constexpr wchar_t kClassName[] = L"TS4170_Simulator";
constexpr wchar_t kTitle[] = L"Виртуальный ТС4170";
// Scripts drive a running simulator with this message: wParam 0 unplugs, 1
// plugs back in. WM_CLOSE ends it.
constexpr UINT WM_APP_CONTROL = WM_APP + 1;
constexpr UINT WM_APP_FRAME = WM_APP + 2;
constexpr UINT WM_APP_LOG = WM_APP + 3;
enum : int { kIdPlug = 101, kIdFast, kIdLog, kIdStatus, kIdMenuUnplug, kIdMenuPlug, kIdMenuExit };
constexpr int kScreenLeft = 8, kScreenTop = 8, kMargin = 3;  // the mirror's 3-pixel border
constexpr int kMaxLogLines = 2000;
constexpr size_t kFastBacklog = 32;

struct Settings {
  bool fast = false;
  bool unplugged = false;
  bool hid = false;  // the HID stand-in driver instead of the pipe
  std::wstring pipe = kPipeName;
  std::wstring logFile;
  std::wstring play;  // a recording to serve instead of the model
  int control = -1;   // for a running simulator: 0 unplug, 1 replug, 2 quit
  bool help = false;
  bool helpAsked = false;
};

// The window's title names the pipe, so a script can address the simulator that
// serves a given pipe when several run.
std::wstring WindowTitle(const std::wstring& pipe) { return std::wstring(kTitle) + L" — " + pipe; }

// The program looks for the instrument on the one pipe name only; a change on
// any other pipe is news to no window, and tests that run beside others keep
// their plugging to themselves.
bool BroadcastsFor(const std::wstring& pipe) { return pipe == kPipeName; }

std::wstring Widen(const std::string& utf8) {
  const std::u16string s = Utf8ToUtf16(utf8);
  return std::wstring(s.begin(), s.end());
}

class Simulator {
 public:
  explicit Simulator(const Settings& settings)
      : settings_(settings),
        fast_(settings.fast),
        server_({settings.hid, PipeServer::Options{settings.pipe, 256, BroadcastsFor(settings.pipe)}}) {
    if (!settings.logFile.empty() && !(logFile_ = _wfopen(settings.logFile.c_str(), L"ab")))
      logError_ = L"Журнал " + settings.logFile + L" не открывается: " + _wcserror(errno);
    if (!settings.play.empty()) recording_ = std::make_unique<RecordingSource>(settings.play);
    server_.SetOutputHandler([this](const Report& r) { OnOutputReport(r); });
  }

  // However the message loop ended, the stream stops before the pipe goes.
  ~Simulator() {
    stop_ = true;
    if (pacer_.joinable()) pacer_.join();
    if (logFile_) fclose(logFile_);
  }

  // Why the log asked for cannot be written, or empty.
  const std::wstring& LogError() const { return logError_; }

  bool CreateMainWindow(HINSTANCE instance, int show);
  void Start();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void CreateControls();
  void Paint();
  void SetPlugged(bool plugged);
  void UpdateStatus();
  void Log(const std::wstring& line);
  void DrainLog();
  void OnOutputReport(const Report& r);
  void Pace();
  void Stream();
  SimTime Now() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - origin_);
  }

  Settings settings_;
  HWND hwnd_ = nullptr, plugButton_ = nullptr, fastBox_ = nullptr, logList_ = nullptr, status_ = nullptr;
  FILE* logFile_ = nullptr;
  std::wstring logError_;
  const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();

  std::mutex modelMutex_;
  Instrument model_;

  std::mutex frameMutex_;
  Screen frame_;
  std::atomic<bool> framePosted_{false};

  std::mutex logMutex_;
  std::deque<std::wstring> pendingLog_;

  std::unique_ptr<RecordingSource> recording_;
  std::thread pacer_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> fast_;
  std::atomic<uint64_t> sent_{0};
  uint64_t sentAtLastStatus_ = 0;
  std::chrono::steady_clock::time_point lastStatus_ = std::chrono::steady_clock::now();

  // Last, so it goes first: its thread calls back into the members above.
  Transport server_;
};

bool Simulator::CreateMainWindow(HINSTANCE instance, int show) {
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc)) return false;

  HMENU bar = CreateMenu(), device = CreatePopupMenu();
  AppendMenuW(device, MF_STRING, kIdMenuUnplug, L"Отключить");
  AppendMenuW(device, MF_STRING, kIdMenuPlug, L"Подключить");
  AppendMenuW(device, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(device, MF_STRING, kIdMenuExit, L"Выход");
  AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(device), L"Прибор");

  RECT r{0, 0, 600, 480};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  AdjustWindowRect(&r, style, TRUE);
  hwnd_ = CreateWindowExW(0, kClassName, WindowTitle(settings_.pipe).c_str(), style, CW_USEDEFAULT,
                          CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, bar, instance, this);
  if (!hwnd_) return false;
  ShowWindow(hwnd_, show);
  UpdateWindow(hwnd_);
  return true;
}

void Simulator::CreateControls() {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  auto make = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
    HWND c = CreateWindowExW(cls == std::wstring(L"LISTBOX") ? WS_EX_CLIENTEDGE : 0, cls, text,
                             WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd_,
                             reinterpret_cast<HMENU>(INT_PTR(id)), inst, nullptr);
    SendMessageW(c, WM_SETFONT, WPARAM(font), TRUE);
    return c;
  };
  const int x = kScreenLeft + 326 + 12;
  plugButton_ = make(L"BUTTON", L"Отключить", BS_PUSHBUTTON | WS_TABSTOP, x, 8, 240, 28, kIdPlug);
  fastBox_ = make(L"BUTTON", L"Как можно быстрее (не 1 отчёт в мс)", BS_AUTOCHECKBOX | WS_TABSTOP, x, 44, 240,
                  22, kIdFast);
  SendMessageW(fastBox_, BM_SETCHECK, fast_ ? BST_CHECKED : BST_UNCHECKED, 0);
  status_ = make(L"STATIC", L"", SS_LEFT, x, 76, 240, 170, kIdStatus);
  make(L"STATIC", L"Принятые команды:", SS_LEFT, 8, 262, 300, 16, 0);
  logList_ = make(L"LISTBOX", L"", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, 8, 280, 584, 192, kIdLog);
}

void Simulator::Start() {
  Log(L"Запуск" + std::wstring(fast_ ? L", как можно быстрее" : L", 1 отчёт в мс"));
  if (recording_) Log(Widen(recording_->Describe()));
  SetPlugged(!settings_.unplugged);
  pacer_ = std::thread([this] { Pace(); });
  SetTimer(hwnd_, 1, 500, nullptr);
}

void Simulator::SetPlugged(bool plugged) {
  try {
    if (plugged) {
      server_.Plug();
      Log(L"Подключен: " + (settings_.hid ? std::wstring(L"HID 5555/4170") : settings_.pipe));
    } else if (server_.IsPlugged()) {
      server_.Unplug();
      Log(L"Отключен");
    }
  } catch (const std::exception& e) {
    Log(L"Ошибка: " + Widen(e.what()));
  }
  SetWindowTextW(plugButton_, server_.IsPlugged() ? L"Отключить" : L"Подключить");
  UpdateStatus();
}

void Simulator::UpdateStatus() {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - lastStatus_).count();
  const uint64_t sent = sent_;
  const double rate = seconds > 0 ? (sent - sentAtLastStatus_) / seconds : 0;
  sentAtLastStatus_ = sent;
  lastStatus_ = now;
  wchar_t text[512];
  swprintf(text, 512,
           L"%ls\nКлиентов: %zu\nОтчётов в секунду: %.0f\nВсего отчётов: %llu\n"
           L"Потеряно медленными клиентами: %llu\nПропущено сообщений неверной длины: %llu\n%ls",
           server_.IsPlugged() ? L"Подключен к каналу" : L"Отключен", server_.ClientCount(), rate,
           static_cast<unsigned long long>(sent), static_cast<unsigned long long>(server_.DroppedReports()),
           static_cast<unsigned long long>(server_.IgnoredMessages()), Widen(server_.LastError()).c_str());
  SetWindowTextW(status_, text);
}

void Simulator::Log(const std::wstring& line) {
  {
    std::lock_guard lock(logMutex_);
    pendingLog_.push_back(line);
  }
  if (hwnd_) PostMessageW(hwnd_, WM_APP_LOG, 0, 0);
}

void Simulator::DrainLog() {
  std::deque<std::wstring> lines;
  {
    std::lock_guard lock(logMutex_);
    lines.swap(pendingLog_);
  }
  for (const auto& line : lines) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t stamp[32];
    swprintf(stamp, 32, L"%02u:%02u:%02u.%03u  ", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    const std::wstring text = stamp + line;
    if (SendMessageW(logList_, LB_GETCOUNT, 0, 0) >= kMaxLogLines)
      SendMessageW(logList_, LB_DELETESTRING, 0, 0);
    const LRESULT index = SendMessageW(logList_, LB_ADDSTRING, 0, LPARAM(text.c_str()));
    SendMessageW(logList_, LB_SETTOPINDEX, WPARAM(index), 0);
    if (logFile_) {
      const std::string utf8 = Utf16ToUtf8(std::u16string(text.begin(), text.end())) + "\n";
      fwrite(utf8.data(), 1, utf8.size(), logFile_);
      fflush(logFile_);
    }
  }
}

void Simulator::OnOutputReport(const Report& r) {
  {
    std::lock_guard lock(modelMutex_);
    model_.HandleOutputReport(r.data(), r.size(), Now());
  }
  Log(Widen(DescribeOutputReport(r.data(), r.size())));
}

void Simulator::Pace() {
  try {
    Stream();
  } catch (const std::exception& e) {
    Log(L"Ошибка потока отчётов: " + Widen(e.what()));
  }
}

void Simulator::Stream() {
  using namespace std::chrono;
  timeBeginPeriod(1);
  if (recording_) {
    recording_->Serve(server_, stop_, sent_, [this](const std::string& line) { Log(Widen(line)); });
    timeEndPeriod(1);
    return;
  }
  Screen frame;
  int index = 0;
  auto next = steady_clock::now();
  std::vector<Report> batch;
  while (!stop_) {
    if (index == 0) {
      {
        std::lock_guard lock(modelMutex_);
        frame = model_.Render(Now());
      }
      {
        std::lock_guard lock(frameMutex_);
        frame_ = frame;
      }
      if (!framePosted_.exchange(true)) PostMessageW(hwnd_, WM_APP_FRAME, 0, 0);
    }
    // Over HID each write costs a round trip through Wine's device service, which
    // also serves the program's reads: reports go 32 to a write, at the same pace.
    batch.push_back(EncodeScreenReport(frame, index));
    if (batch.size() >= (server_.IsHid() && !fast_ ? 32u : 1u)) {
      if (server_.IsPlugged()) server_.SendReports(batch.data(), batch.size());
      batch.clear();
    }
    ++sent_;
    index = (index + 1) % kReportsPerFrame;

    if (fast_ && server_.ClientCount() > 0) {
      // As fast as the fastest reader takes them; slower ones drop their oldest.
      while (!stop_ && !server_.WaitForBacklogBelow(kFastBacklog, steady_clock::now() + milliseconds(50))) {
      }
      next = steady_clock::now();
      continue;
    }
    next += milliseconds(1);
    const auto now = steady_clock::now();
    if (now > next + milliseconds(50)) next = now;  // after a stall, no burst to catch up
    if (next > now) Sleep(DWORD(duration_cast<milliseconds>(next - now).count()));
  }
  timeEndPeriod(1);
}

void Simulator::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  Screen frame;
  {
    std::lock_guard lock(frameMutex_);
    frame = frame_;
  }
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
  EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK Simulator::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Simulator*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, LONG_PTR(self));
  }
  auto* self = reinterpret_cast<Simulator*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  try {
    return self->Handle(msg, wp, lp);
  } catch (const std::exception& e) {
    MessageBoxW(hwnd, Widen(e.what()).c_str(), kTitle, MB_OK | MB_ICONERROR);
    return 0;
  } catch (...) {
    // Nothing may leave a window procedure.
    MessageBoxW(hwnd, L"unknown error", kTitle, MB_OK | MB_ICONERROR);
    return 0;
  }
}

LRESULT Simulator::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_APP_FRAME: {
      framePosted_ = false;
      RECT r{kScreenLeft, kScreenTop, kScreenLeft + kScreenWidth + 2 * kMargin,
             kScreenTop + kScreenHeight + 2 * kMargin};
      InvalidateRect(hwnd_, &r, FALSE);
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
          SetPlugged(!server_.IsPlugged());
          return 0;
        case kIdMenuUnplug:
          SetPlugged(false);
          return 0;
        case kIdMenuPlug:
          SetPlugged(true);
          return 0;
        case kIdMenuExit:
          DestroyWindow(hwnd_);
          return 0;
        case kIdFast:
          fast_ = SendMessageW(fastBox_, BM_GETCHECK, 0, 0) == BST_CHECKED;
          Log(fast_ ? L"Как можно быстрее" : L"1 отчёт в мс");
          return 0;
      }
      break;
    case WM_DESTROY:
      // Stop the stream first, then leave the pipe (which broadcasts the change).
      KillTimer(hwnd_, 1);
      stop_ = true;
      if (pacer_.joinable()) pacer_.join();
      SetPlugged(false);
      DrainLog();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

Settings ParseCommandLine() {
  Settings s;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--fast")
      s.fast = true;
    else if (a == L"--unplugged")
      s.unplugged = true;
    else if (a == L"--hid")
      s.hid = true;
    else if (a == L"--pipe" && i + 1 < argc)
      s.pipe = argv[++i];
    else if (a == L"--log" && i + 1 < argc)
      s.logFile = argv[++i];
    else if (a == L"--play" && i + 1 < argc)
      s.play = argv[++i];
    else if (a == L"--unplug")
      s.control = 0;
    else if (a == L"--replug")
      s.control = 1;
    else if (a == L"--quit")
      s.control = 2;
    else if (a == L"--help" || a == L"/?")
      s.help = s.helpAsked = true;
    else
      s.help = true;
  }
  LocalFree(argv);
  return s;
}

constexpr wchar_t kUsage[] =
    L"TS4170_Simulator.exe [--fast] [--unplugged] [--log FILE] [--pipe NAME | --hid] [--play FILE]\n"
    L"TS4170_Simulator.exe [--pipe NAME] --unplug | --replug | --quit\n\n"
    L"--fast\tслать отчёты как можно быстрее, а не 1 в мс\n"
    L"--unplugged\tзапуститься отключённым\n"
    L"--log FILE\tдописывать принятые команды в файл (UTF-8)\n"
    L"--play FILE\tслать отчёты записи с их временами, а не свой экран\n"
    L"--pipe NAME\tдругое имя канала (по умолчанию \\\\.\\pipe\\TS4170)\n"
    L"--hid\tбыть устройством HID через драйвер-заменитель ts4170hid.sys (Wine; в Windows не загрузится без "
    L"подписи)\n"
    L"--unplug, --replug, --quit\tуправлять уже запущенным симулятором (того же канала)";

}  // namespace
}  // namespace ts::sim

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  using namespace ts::sim;
  const Settings settings = ParseCommandLine();
  if (settings.help) {
    // On the console for scripts (an unknown switch must not wait for a click);
    // in a box only when asked for.
    const std::string usage = ts::Utf16ToUtf8(std::u16string(kUsage, kUsage + wcslen(kUsage)));
    fprintf(stderr, "%s\n", usage.c_str());
    if (settings.helpAsked) MessageBoxW(nullptr, kUsage, kTitle, MB_OK | MB_ICONINFORMATION);
    return 2;
  }
  if (settings.control >= 0) {
    HWND running = FindWindowW(kClassName, WindowTitle(settings.pipe).c_str());
    if (!running) return 1;
    if (settings.control == 2)
      PostMessageW(running, WM_CLOSE, 0, 0);
    else
      PostMessageW(running, WM_APP_CONTROL, WPARAM(settings.control), 0);
    return 0;
  }
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  try {
    Simulator simulator(settings);
    if (!simulator.LogError().empty()) {
      // A script that asked for the log must not run on without it.
      const std::wstring& error = simulator.LogError();
      fprintf(stderr, "%s\n", ts::Utf16ToUtf8(std::u16string(error.begin(), error.end())).c_str());
      return 2;
    }
    if (!simulator.CreateMainWindow(instance, show)) return 1;
    simulator.Start();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    return 0;
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, Widen(e.what()).c_str(), kTitle, MB_OK | MB_ICONERROR);
    return 1;
  }
}
