#include "sim/HidServer.h"

#include <cstring>
#include <vector>

#include "ui/Exception.h"

namespace ts::sim {

using namespace std::chrono;

namespace {
constexpr milliseconds kToolLimit = seconds(60);

std::wstring ToolArguments(const wchar_t* command, uint16_t productId) {
  wchar_t text[64];
  swprintf(text, 64, L"%ls --pid %04x --timeout 55", command, productId);
  return text;
}
}  // namespace

HidServer::HidServer(uint16_t productId, std::wstring tool) : productId_(productId), tool_(std::move(tool)) {}

HidServer::~HidServer() {
  if (plugged_) Unplug();
}

void HidServer::SetError(std::string text) {
  std::lock_guard lock(errorMutex_);
  lastError_ = std::move(text);
}

std::string HidServer::LastError() const {
  std::lock_guard lock(errorMutex_);
  return lastError_;
}

void HidServer::Plug() {
  if (plugged_) return;
  const ToolResult r = RunHidInstallTool(ToolArguments(L"plug", productId_), kToolLimit, tool_);
  if (r.exitCode != 0) {
    SetError("HID device not plugged: " + r.output);
    throw Exception(LastError());
  }
  {
    std::lock_guard lock(controlMutex_);
    if (!control_.Open(steady_clock::now() + seconds(10))) {
      SetError("HID control device not opened");
      throw Exception(LastError());
    }
    TS4170_STATE state{};
    passedAtPlug_ =
        control_.State(state) ? uint64_t{state.InputReportsDelivered} + state.InputReportsDropped : 0;
    sent_ = 0;
  }
  SetError({});
  stop_ = false;
  plugged_ = true;
  // The driver's control device holds one queue of output reports for all its
  // devices, and the program writes only to the instrument: a server of another
  // product taking from it would take the instrument's reports.
  if (productId_ == kHidProductId) collector_ = std::thread([this] { Collect(); });
}

void HidServer::Unplug() {
  if (!plugged_) return;
  plugged_ = false;
  stop_ = true;
  control_.Interrupt();
  if (collector_.joinable()) collector_.join();
  {
    std::lock_guard lock(controlMutex_);
    control_.Close();
  }
  const ToolResult r = RunHidInstallTool(ToolArguments(L"unplug", productId_), kToolLimit, tool_);
  if (r.exitCode != 0) SetError("HID device not unplugged: " + r.output);
}

void HidServer::Collect() {
  while (!stop_) {
    const auto report = control_.TakeOutput(steady_clock::now() + seconds(1));
    if (!report || stop_) continue;
    outputs_.Add(*report);
    if (handler_) handler_(*report);
  }
}

void HidServer::SendReport(const Report& report) { SendReports(&report, 1); }

void HidServer::SendReports(const Report* reports, size_t count) {
  std::vector<uint8_t> bytes(count * kReportSize);
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(&bytes[i * kReportSize], reports[i].data(), kReportSize);
    bytes[i * kReportSize] = kHidInputReportId;
  }
  // The driver refuses reports while its queue has no room; the class driver
  // takes them again within moments, or the device is gone and they are lost.
  const auto deadline = steady_clock::now() + seconds(5);
  std::unique_lock lock(controlMutex_);
  while (!control_.Push(bytes.data(), bytes.size())) {
    const bool busy = GetLastError() == ERROR_BUSY;
    if (!busy || !plugged_ || steady_clock::now() >= deadline) {
      if (busy) refused_ += count;
      return;
    }
    lock.unlock();
    Sleep(1);
    lock.lock();
  }
  sent_ += count;
}

size_t HidServer::Backlog() const {
  TS4170_STATE state{};
  std::lock_guard lock(controlMutex_);
  if (!control_.State(state)) return 0;
  const uint64_t passed = uint64_t{state.InputReportsDelivered} + state.InputReportsDropped - passedAtPlug_;
  return sent_ > passed ? static_cast<size_t>(sent_ - passed) : 0;
}

uint64_t HidServer::DroppedReports() const {
  TS4170_STATE state{};
  std::lock_guard lock(controlMutex_);
  return refused_ + (control_.State(state) ? state.InputReportsDropped : 0);
}

}  // namespace ts::sim
