#include "sim/hid/HidDevice.h"

// clang-format off
#include <setupapi.h>
#include <newdev.h>
#include <devguid.h>
// clang-format on

#include <cstdio>
#include <cwchar>
#include <vector>

#include "ui/WinHandle.h"

namespace ts::sim {
namespace {

using namespace std::chrono;

// The HID interface class.
constexpr GUID kHidInterface = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

std::string SystemError(const char* what, DWORD code) {
  char text[160];
  snprintf(text, sizeof text, "%s failed (error %lu)", what, static_cast<unsigned long>(code));
  return text;
}

TDevInfoList DevInfoSet(HDEVINFO set) { return TDevInfoList(set, &SetupDiDestroyDeviceInfoList); }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// Waits for a condition the platform offers no notification for here; the
// 20 ms steps only decide how soon a met condition is seen.
template <typename Condition>
bool WaitFor(Condition condition, steady_clock::time_point deadline) {
  while (!condition()) {
    if (steady_clock::now() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

}  // namespace

std::wstring HidInstanceId(uint16_t productId) {
  wchar_t id[64];
  swprintf(id, 64, L"root\\vid_%04x&pid_%04x\\0", kHidVendorId, productId);
  return id;
}

std::optional<std::string> FindHidInterface(uint16_t productId) {
  GUID hid = kHidInterface;
  const TDevInfoList devices =
      DevInfoSet(SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!devices) return std::nullopt;
  char key[32];
  snprintf(key, sizeof key, "vid_%04x&pid_%04x", kHidVendorId, productId);
  SP_DEVICE_INTERFACE_DATA data{sizeof data};
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(devices.Get(), nullptr, &hid, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(devices.Get(), &data, nullptr, 0, &size, nullptr);
    std::vector<char> buffer(size + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof *detail;
    if (!SetupDiGetDeviceInterfaceDetailA(devices.Get(), &data, detail, size, nullptr, nullptr)) continue;
    const std::string path = detail->DevicePath;
    if (Lower(path).find(key) != std::string::npos) return path;
  }
  return std::nullopt;
}

bool PlugHidDevice(const std::wstring& infPath, uint16_t productId, milliseconds timeout,
                   std::string& error) {
  const auto deadline = steady_clock::now() + timeout;
  if (FindHidInterface(productId)) return true;
  GUID hidClass = GUID_DEVCLASS_HIDCLASS;
  const TDevInfoList devices = DevInfoSet(SetupDiCreateDeviceInfoList(&hidClass, nullptr));
  if (!devices) return error = SystemError("SetupDiCreateDeviceInfoList", GetLastError()), false;
  SP_DEVINFO_DATA device{sizeof device};
  const std::wstring instance = HidInstanceId(productId);
  if (!SetupDiCreateDeviceInfoW(devices.Get(), instance.c_str(), &hidClass, nullptr, nullptr, 0, &device)) {
    const DWORD code = GetLastError();
    // Left behind by an earlier run that did not unplug: take it over.
    if (code != ERROR_DEVINST_ALREADY_EXISTS ||
        !SetupDiOpenDeviceInfoW(devices.Get(), instance.c_str(), nullptr, 0, &device))
      return error = SystemError("SetupDiCreateDeviceInfo", code), false;
  }
  // Its own ID first (the driver takes the ProductID from it), then the one the
  // INF names.
  wchar_t ids[96];
  const int n = swprintf(ids, 80, L"root\\vid_%04x&pid_%04x", kHidVendorId, productId);
  wcscpy(ids + n + 1, TS4170_HARDWARE_ID);
  const size_t total = n + 1 + wcslen(TS4170_HARDWARE_ID) + 2;
  ids[total - 1] = 0;
  if (!SetupDiSetDeviceRegistryPropertyW(devices.Get(), &device, SPDRP_HARDWAREID,
                                         reinterpret_cast<const BYTE*>(ids),
                                         static_cast<DWORD>(total * sizeof(wchar_t))))
    return error = SystemError("SetupDiSetDeviceRegistryProperty", GetLastError()), false;
  if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, devices.Get(), &device) &&
      GetLastError() != ERROR_DEVINST_ALREADY_EXISTS)
    return error = SystemError("DIF_REGISTERDEVICE", GetLastError()), false;
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, ids, infPath.c_str(), INSTALLFLAG_FORCE, &reboot))
    return error = SystemError("UpdateDriverForPlugAndPlayDevices", GetLastError()), false;
  if (!WaitFor([&] { return FindHidInterface(productId).has_value(); }, deadline))
    return error = "the HID interface did not appear in time", false;
  return true;
}

bool UnplugHidDevice(uint16_t productId, milliseconds timeout, std::string& error) {
  const auto deadline = steady_clock::now() + timeout;
  const TDevInfoList devices = DevInfoSet(SetupDiCreateDeviceInfoList(nullptr, nullptr));
  if (!devices) return error = SystemError("SetupDiCreateDeviceInfoList", GetLastError()), false;
  SP_DEVINFO_DATA device{sizeof device};
  if (SetupDiOpenDeviceInfoW(devices.Get(), HidInstanceId(productId).c_str(), nullptr, 0, &device)) {
    if (!SetupDiCallClassInstaller(DIF_REMOVE, devices.Get(), &device))
      return error = SystemError("DIF_REMOVE", GetLastError()), false;
  }
  if (!WaitFor([&] { return !FindHidInterface(productId).has_value(); }, deadline))
    return error = "the HID interface did not go in time", false;
  return true;
}

std::wstring HidInstallToolPath() {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self, n);
  dir.resize(dir.find_last_of(L"\\/") + 1);
  return dir + L"TS4170_HidInstall.exe";
}

ToolResult RunHidInstallTool(const std::wstring& arguments, milliseconds timeout, std::wstring tool) {
  ToolResult result;
  if (tool.empty()) tool = HidInstallToolPath();
  // Output goes to a file, not a pipe: Wine's device services, started lazily by
  // the tool, inherit its streams and would keep a pipe open for ever.
  wchar_t dir[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"hid", 0, file);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  TWinHandle out(CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
  STARTUPINFOW si{sizeof si};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = out ? out.Get() : INVALID_HANDLE_VALUE;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring command = L"\"" + tool + L"\" " + arguments;
  const BOOL started = CreateProcessW(tool.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &si, &pi);
  const DWORD startError = GetLastError();
  out.Reset();
  const TWinHandle thread(pi.hThread), process(pi.hProcess);
  if (!started) {
    DeleteFileW(file);
    result.output = SystemError("CreateProcess", startError);
    return result;
  }
  if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 3);
    WaitForSingleObject(pi.hProcess, 5000);
    result.output = "(ended after " + std::to_string(timeout.count()) + " ms)\n";
  } else {
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result.exitCode = static_cast<int>(code);
  }
  if (const TStdioFile f(_wfopen(file, L"rb")); f) {
    char buffer[512];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f.Get())) > 0) result.output.append(buffer, got);
  }
  DeleteFileW(file);
  return result;
}

bool HidControlChannel::Open(Clock::time_point deadline) {
  Close();
  auto open = [](DWORD flags) {
    return CreateFileW(TS4170_CONTROL_DOS_NAME, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
  };
  WaitFor(
      [&] {
        write_.Reset(open(0));
        return static_cast<bool>(write_);
      },
      deadline);
  if (!write_) return false;
  read_.Reset(open(FILE_FLAG_OVERLAPPED));
  readDone_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  interrupt_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!read_ || !readDone_ || !interrupt_) {
    Close();
    return false;
  }
  return true;
}

void HidControlChannel::Close() {
  write_.Reset();
  read_.Reset();
  readDone_.Reset();
  interrupt_.Reset();
}

bool HidControlChannel::Push(const void* report, size_t size) {
  DWORD written = 0;
  return IsOpen() && WriteFile(write_.Get(), report, static_cast<DWORD>(size), &written, nullptr);
}

void HidControlChannel::Interrupt() {
  if (interrupt_) SetEvent(interrupt_.Get());
}

std::optional<Report> HidControlChannel::TakeOutput(Clock::time_point deadline) {
  if (!IsOpen()) return std::nullopt;
  Report report{};
  OVERLAPPED ov{};
  ov.hEvent = readDone_.Get();
  ResetEvent(readDone_.Get());
  DWORD got = 0;
  if (!ReadFile(read_.Get(), report.data(), static_cast<DWORD>(report.size()), nullptr, &ov)) {
    if (GetLastError() != ERROR_IO_PENDING) return std::nullopt;
    const auto left = duration_cast<milliseconds>(deadline - Clock::now()).count();
    HANDLE waits[] = {readDone_.Get(), interrupt_.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, left > 0 ? static_cast<DWORD>(left) : 0) != WAIT_OBJECT_0) {
      // Cancel, then wait for the cancelled read before the buffer goes.
      CancelIoEx(read_.Get(), &ov);
      if (!GetOverlappedResult(read_.Get(), &ov, &got, TRUE) || got != report.size()) return std::nullopt;
      return report;
    }
  }
  if (!GetOverlappedResult(read_.Get(), &ov, &got, TRUE) || got != report.size()) return std::nullopt;
  return report;
}

bool HidControlChannel::State(TS4170_STATE& state) {
  DWORD got = 0;
  return IsOpen() &&
         DeviceIoControl(write_.Get(), IOCTL_TS4170_GET_STATE, nullptr, 0, &state, sizeof state, &got,
                         nullptr) &&
         got == sizeof state;
}

std::string HidControlChannel::TakeLog() {
  std::string log;
  std::vector<char> buffer(65536);
  DWORD got = 0;
  if (IsOpen() && DeviceIoControl(write_.Get(), IOCTL_TS4170_GET_LOG, nullptr, 0, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &got, nullptr))
    log.assign(buffer.data(), got);
  return log;
}

}  // namespace ts::sim
