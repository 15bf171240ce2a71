#include "tests/e2e/support/Driver.h"

#include "ui/StdCtrls.h"

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace ts::e2e {
namespace {

std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

// The program is asked, never waited on for ever: a hung program fails the test
// that asked instead of hanging the suite. The bound is for a hang, not for a
// program that a busy machine keeps waiting for seconds.
LRESULT Ask(HWND h, UINT message, WPARAM wParam, LPARAM lParam, const char* what) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(h, message, wParam, lParam, SMTO_NORMAL, 60000, &result))
    throw std::runtime_error(std::string("the program did not answer ") + what + " within 60 s");
  return static_cast<LRESULT>(result);
}

}  // namespace

std::wstring TextOf(HWND h) {
  int n = static_cast<int>(Ask(h, WM_GETTEXTLENGTH, 0, 0, "WM_GETTEXTLENGTH"));
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  n = static_cast<int>(Ask(h, WM_GETTEXT, n + 1, reinterpret_cast<LPARAM>(s.data()), "WM_GETTEXT"));
  s.resize(static_cast<size_t>(n > 0 ? n : 0));
  return s;
}

HWND FindChild(HWND top, const std::function<bool(const std::wstring&)>& match) {
  struct Search {
    const std::function<bool(const std::wstring&)>* match;
    HWND found = nullptr;
  } search{&match};
  EnumChildWindows(
      top,
      [](HWND h, LPARAM p) WINAPI -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if ((*s->match)(TextOf(h))) {
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindOwnWindow(DWORD pid, const wchar_t* caption) {
  HWND h = nullptr;
  while ((h = FindWindowExW(nullptr, h, nullptr, caption)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == pid) return h;
  }
  return nullptr;
}

bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void Await(const std::function<bool()>& cond, const char* what, std::chrono::milliseconds timeout) {
  if (!WaitFor(cond, timeout))
    throw std::runtime_error(std::string("waited ") + std::to_string(timeout.count()) + " ms in vain for " +
                             what);
}

Program::Program(const std::wstring& given, const std::wstring& arguments) {
  const std::wstring exe = given.empty() ? WindowsPath(TS_PROGRAM_PATH) : given;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  std::wstring command = L"\"" + exe + L"\"";
  if (!arguments.empty()) command += L" " + arguments;
  // The program lives in a job that ends it when this process ends, however it
  // ends: a program left behind would hold the test runner's output open.
  job_ = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job_ || !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits))
    throw std::runtime_error("cannot make the program's job");
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      nullptr, &si, &process_))
    throw std::runtime_error("cannot start the program: error " + std::to_string(GetLastError()));
  if (!AssignProcessToJobObject(job_, process_.hProcess)) {
    End();
    throw std::runtime_error("cannot put the program in its job");
  }
  ResumeThread(process_.hThread);
  DWORD pid = process_.dwProcessId;
  try {
    Await(
        [&] {
          main_ = FindOwnWindow(pid, kMainCaption);
          return main_ && IsWindowVisible(main_) && FindOwnWindow(pid, kLinkCaption) != nullptr;
        },
        "the main window and the event window", std::chrono::seconds(60));
    // The first device-change report is written while the event window is made.
    Await(
        [&] {
          const std::wstring state = StatusPanel(0);
          return !state.empty() && state != L"Нет связи с ТС4170???";
        },
        "the first connection state");
  } catch (...) {
    End();
    throw;
  }
}

// A test that failed or threw ends the program at once: a program left to close
// by itself may be the very thing that hangs.
Program::~Program() {
  if (std::uncaught_exceptions() == 0 && !::testing::Test::HasFailure() && Alive()) Close();
  End();
}

void Program::End() {
  if (job_) CloseHandle(job_);
  job_ = nullptr;
  if (!process_.hProcess) return;
  if (Alive()) TerminateProcess(process_.hProcess, 1);
  WaitForSingleObject(process_.hProcess, 10000);
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
  process_ = {};
}

bool Program::Alive() const {
  return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

HWND Program::Link() const { return FindOwnWindow(process_.dwProcessId, kLinkCaption); }

bool Program::Close(std::chrono::milliseconds timeout) {
  PostMessageW(main_, WM_CLOSE, 0, 0);
  return WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

std::wstring Program::StatusPanel(int index) const {
  HWND bar = FindWindowExW(main_, nullptr, STATUSCLASSNAMEW, nullptr);
  if (!bar) return {};
  // Status bar texts are not carried across processes by the system, so the
  // buffer lives in the program.
  constexpr SIZE_T kChars = 512;
  void* remote =
      VirtualAllocEx(process_.hProcess, nullptr, kChars * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE);
  if (!remote) return {};
  std::wstring text;
  try {
    if (LOWORD(Ask(bar, SB_GETTEXTLENGTHW, index, 0, "SB_GETTEXTLENGTH")) < kChars) {
      Ask(bar, SB_GETTEXTW, index, reinterpret_cast<LPARAM>(remote), "SB_GETTEXT");
      std::vector<wchar_t> buffer(kChars, L'\0');
      SIZE_T read = 0;
      ReadProcessMemory(process_.hProcess, remote, buffer.data(), (kChars - 1) * sizeof(wchar_t), &read);
      text = buffer.data();
    }
  } catch (...) {
    VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
    throw;
  }
  VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
  if (!text.empty() && text[0] == L'\t') text.erase(0, 1);
  return text;
}

std::vector<std::wstring> Program::MemoLines() const {
  HWND link = Link();
  HWND memo = link ? FindWindowExW(link, nullptr, L"Edit", nullptr) : nullptr;
  return memo ? SplitLines(TextOf(memo)) : std::vector<std::wstring>{};
}

HWND Program::Control(HWND top, const std::wstring& text) const {
  return FindChild(top, [&](const std::wstring& t) { return t == text; });
}

void Program::Click(HWND button) const { PostMessageW(button, BM_CLICK, 0, 0); }

Picture CaptureScreen(const RECT& r) {
  Picture picture;
  picture.Width = r.right - r.left;
  picture.Height = r.bottom - r.top;
  if (picture.Width <= 0 || picture.Height <= 0) return {};
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = picture.Width;
  info.bmiHeader.biHeight = -picture.Height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, picture.Width, picture.Height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  auto* p = static_cast<const uint32_t*>(bits);
  picture.Pixels.assign(p, p + static_cast<size_t>(picture.Width) * picture.Height);
  for (uint32_t& px : picture.Pixels) px &= 0xFFFFFF;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return picture;
}

Picture Program::CaptureDisplay() const {
  HWND view = nullptr;
  // The display control is the main window's child at (96, 0) of 326 x 246.
  for (HWND h = GetWindow(main_, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
    RECT r;
    GetWindowRect(h, &r);
    POINT origin{r.left, r.top};
    ScreenToClient(main_, &origin);
    if (origin.x == 96 && origin.y == 0 && r.right - r.left == 326 && r.bottom - r.top == 246) view = h;
  }
  if (!view) return {};
  RECT r;
  GetWindowRect(view, &r);
  return CaptureScreen(r);
}

Picture Program::CaptureClient(const RECT& area) const { return CaptureClientOf(main_, area); }

Picture CaptureClientOf(HWND window, const RECT& area) {
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  RECT r = area;
  OffsetRect(&r, origin.x, origin.y);
  return CaptureScreen(r);
}

namespace {

// The system's handle list, as NtQuerySystemInformation gives it.
struct HandleEntry {
  ULONG OwnerPid;
  BYTE ObjectType;
  BYTE HandleFlags;
  USHORT HandleValue;
  PVOID ObjectPointer;
  ULONG AccessMask;
};
struct HandleList {
  ULONG Count;
  HandleEntry Handles[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

std::string ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);
  return text;
}

// Field n (1-based, as proc(5) counts) of /proc/<pid>/stat.
unsigned long long StatField(const std::string& stat, int n) {
  size_t at = stat.rfind(')');  // the command name may hold spaces
  if (at == std::string::npos) return 0;
  int field = 2;
  const char* p = stat.c_str() + at + 1;
  while (*p) {
    while (*p == ' ') ++p;
    if (++field == n) return std::strtoull(p, nullptr, 10);
    while (*p && *p != ' ') ++p;
  }
  return 0;
}

}  // namespace

std::string ReadProc(int pid, const char* file) {
  std::wstring path = L"Z:\\proc\\" + std::to_wstring(pid) + L"\\";
  for (const char* p = file; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return ReadWholeFile(path);
}

double UnixProcessSeconds(int pid) {
  constexpr double kUserHz = 100;  // clock ticks of /proc/<pid>/stat
  if (!pid) return 0;
  const std::string stat = ReadProc(pid, "stat");
  const size_t at = stat.rfind(')');
  if (at == std::string::npos) return 0;
  unsigned long long utime = 0, stime = 0;
  // Fields 14 and 15 (utime, stime); after ")" comes field 3.
  const char* p = stat.c_str() + at + 2;
  for (int field = 3; field < 14 && p; ++field) p = std::strchr(p, ' ') ? std::strchr(p, ' ') + 1 : nullptr;
  if (!p || std::sscanf(p, "%llu %llu", &utime, &stime) != 2) return 0;
  return double(utime + stime) / kUserHz;
}

int FindUnixProcess(const char* name) {
  wchar_t prefix[1024] = L"";
  GetEnvironmentVariableW(L"WINEPREFIX", prefix, 1024);
  std::string ownPrefix = "WINEPREFIX=";
  for (const wchar_t* p = prefix; *p; ++p) ownPrefix += static_cast<char>(*p);
  ownPrefix += '\0';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int best = 0;
  unsigned long long bestStart = 0;
  do {
    wchar_t* end = nullptr;
    const long pid = std::wcstol(found.cFileName, &end, 10);
    if (pid <= 0 || *end) continue;
    const std::string cmdline = ReadProc(static_cast<int>(pid), "cmdline");
    if (cmdline.find(name) == std::string::npos) continue;
    // Other prefixes on the same machine run their own copies.
    const std::string env = '\0' + ReadProc(static_cast<int>(pid), "environ");
    if (prefix[0] && env.find('\0' + ownPrefix) == std::string::npos) continue;
    const unsigned long long start = StatField(ReadProc(static_cast<int>(pid), "stat"), 22);
    if (!best || start > bestStart) {
      best = static_cast<int>(pid);
      bestStart = start;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return best;
}

int Program::UnixPid() const {
  if (unixPid_ < 0) unixPid_ = FindUnixProcess("Virtual_TS4170.exe");
  return unixPid_;
}

DWORD Program::HandleCount() const {
  DWORD count = 0;
  if (GetProcessHandleCount(process_.hProcess, &count) && count > 0) return count;
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::vector<uint8_t> buffer(1 << 20);
  LONG status;
  ULONG needed = 0;
  while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &needed)) == kInfoLengthMismatch)
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
  if (status < 0) return 0;
  const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
  for (ULONG i = 0; i < list->Count; ++i) count += list->Handles[i].OwnerPid == process_.dwProcessId;
  return count;
}

size_t Program::PrivateBytes() const {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(process_.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof counters) &&
      counters.PrivateUsage > 0)
    return counters.PrivateUsage;
  // Pages only this process has written or mapped privately, as the kernel counts them.
  const std::string rollup = UnixPid() ? ReadProc(UnixPid(), "smaps_rollup") : std::string();
  size_t kib = 0;
  for (const char* key : {"Private_Clean:", "Private_Dirty:", "Swap:"})
    if (size_t at = rollup.find(key); at != std::string::npos)
      kib += std::strtoull(rollup.c_str() + at + std::strlen(key), nullptr, 10);
  return kib * 1024;
}

bool WaitForBox(Box& box, std::chrono::milliseconds timeout) {
  return WaitFor(
      [&] {
        HWND h = FindWindowW(L"#32770", kAppTitle);
        if (!h || !IsWindowVisible(h)) return false;
        box.Window = h;
        box.Text = TextOf(GetDlgItem(h, 0xFFFF));
        box.HasIcon = false;
        for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
          if ((GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c) &&
              Ask(c, STM_GETICON, 0, 0, "STM_GETICON"))
            box.HasIcon = true;
        return true;
      },
      timeout);
}

void CloseBox(const Box& box) {
  PostMessageW(box.Window, WM_COMMAND, IDOK, 0);
  Await([&] { return !IsWindow(box.Window) || !IsWindowVisible(box.Window); }, "the message box to close");
}

TPathCounts Program::PathCounts() const {
  HANDLE mapping =
      OpenFileMappingW(FILE_MAP_READ, FALSE, PathCountersMappingName(process_.dwProcessId).c_str());
  if (!mapping) throw std::runtime_error("the program publishes no counters");
  TPathCountersPlace place{};
  if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof place)) {
    place = *static_cast<const TPathCountersPlace*>(view);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  TPathCounts counts;
  SIZE_T read = 0;
  if (place.Size != sizeof counts ||
      !ReadProcessMemory(process_.hProcess, reinterpret_cast<const void*>(place.Address), &counts,
                         sizeof counts, &read) ||
      read != sizeof counts)
    throw std::runtime_error("the program's counters cannot be read");
  return counts;
}

}  // namespace ts::e2e
