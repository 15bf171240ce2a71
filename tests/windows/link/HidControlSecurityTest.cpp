// The HID stand-in's control device: whoever opens it plays the instrument,
// feeding the pictures and reading the keys. Runs in a prefix of its own
// (hid-prefix.sh), as it installs the driver.

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they build on.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "sim/hid/HidControl.h"
#include "tests/windows/support/HidStandIn.h"
#include "ui/WinHandle.h"

namespace ts::test {
namespace {

// The trustees the control device's DACL allows, in order; "no DACL" when it
// has none, which opens it to everyone.
std::vector<std::string> AllowedTrustees(HANDLE device) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(device, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                      &sd) != ERROR_SUCCESS)
    return {"unreadable"};
  const TLocalMemory owned(sd);
  if (!dacl) return {"no DACL"};
  std::vector<std::string> trustees;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    char* text = nullptr;
    if (!ConvertSidToStringSidA(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &text)) continue;
    trustees.push_back(text);
    LocalFree(text);
  }
  return trustees;
}

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

TEST(HidControlSecurity, TheControlDeviceIsOpenToSystemAndAdministratorsOnly) {
  HidStandIn standIn(BuildSimDir());
  ASSERT_TRUE(standIn.Plug()) << standIn.Failure();
  // The driver made it (with its descriptor set) and it carries reports.
  const uint8_t data[64] = {};
  EXPECT_TRUE(standIn.Push(data)) << standIn.DriverLog();
  const TWinHandle control(CreateFileW(TS4170_CONTROL_DOS_NAME, READ_CONTROL,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
  ASSERT_TRUE(control) << GetLastError();
  const std::vector<std::string> trustees = AllowedTrustees(control.Get());
  if (UnderWine() && trustees == std::vector<std::string>{"no DACL"})
    GTEST_SKIP() << "Wine keeps no security on a driver's device object: the descriptor the driver asks for "
                    "cannot be read back";
  EXPECT_EQ(trustees, std::vector<std::string>({"S-1-5-18", "S-1-5-32-544"}));
}

}  // namespace
}  // namespace ts::test
