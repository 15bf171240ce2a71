#include "tests/windows/support/HidStandIn.h"

namespace ts::test {

using namespace std::chrono;

namespace {
// A plug in a warm prefix takes well under a second, the first about three.
constexpr milliseconds kToolLimit = seconds(60);
}  // namespace

std::wstring BuildSimDir() {
  std::string dir = "Z:" TS_BUILD_SIM_DIR;
  for (char& c : dir)
    if (c == '/') c = '\\';
  return std::wstring(dir.begin(), dir.end());
}

HidStandIn::HidStandIn(std::wstring simDir) : tool_(simDir + L"\\TS4170_HidInstall.exe") {}

HidStandIn::~HidStandIn() {
  const std::set<uint16_t> plugged = plugged_;
  for (uint16_t pid : plugged) Unplug(pid);
}

bool HidStandIn::Run(const std::wstring& arguments) {
  const sim::ToolResult r = sim::RunHidInstallTool(arguments + L" --timeout 55", kToolLimit, tool_);
  if (r.exitCode == 0) return true;
  failure_ = "TS4170_HidInstall.exe exit " + std::to_string(r.exitCode) + ": " + r.output +
             "\ndriver log:\n" + DriverLog();
  return false;
}

bool HidStandIn::Plug(uint16_t productId) {
  wchar_t args[64];
  swprintf(args, 64, L"plug --pid %04x", productId);
  if (!Run(args)) return false;
  plugged_.insert(productId);
  if (!control_.IsOpen() && !control_.Open(Clock::now() + seconds(10))) {
    failure_ = "the control device did not open";
    return false;
  }
  return true;
}

bool HidStandIn::Unplug(uint16_t productId) {
  wchar_t args[64];
  swprintf(args, 64, L"unplug --pid %04x", productId);
  log_ += control_.TakeLog();
  const bool done = Run(args);
  if (done) plugged_.erase(productId);
  return done;
}

bool HidStandIn::Push(const uint8_t* data64) {
  uint8_t report[sim::kReportSize];
  report[0] = sim::kHidInputReportId;
  std::copy(data64, data64 + 64, report + 1);
  return control_.Push(report, sizeof report);
}

std::optional<sim::Report> HidStandIn::TakeOutput(Clock::time_point deadline) {
  return control_.TakeOutput(deadline);
}

std::string HidStandIn::DriverLog() {
  log_ += control_.TakeLog();
  return log_;
}

}  // namespace ts::test
