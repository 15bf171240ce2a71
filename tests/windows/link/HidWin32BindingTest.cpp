// The Win32 binding's library loading and scan, driven by a function table of
// our own in place of SetupApi.dll and HID.dll.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "link/HidWin32Binding.h"

namespace ts::test {
namespace {

struct FakeInterface {
  std::string Path;
  DWORD DevInst;
  enum { Fine, SizeRefused, DetailRefused } Kind = Fine;
};

// The state the fake library functions see.
struct FakeSetup {
  std::vector<FakeInterface> Interfaces;
  bool ClassDevsFail = false;
  std::vector<DWORD> AskedIndexes;
  int Destroyed = 0;
  GUID AskedClass = {};
} setup;

HDEVINFO const kFakeSet = reinterpret_cast<HDEVINFO>(0x5E7);
const GUID kFakeHidGuid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

HDEVINFO WINAPI FakeGetClassDevsA(const GUID* guid, PCSTR, HWND, DWORD flags) {
  setup.AskedClass = *guid;
  if (setup.ClassDevsFail || flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) return INVALID_HANDLE_VALUE;
  return kFakeSet;
}
WINBOOL WINAPI FakeDestroyDeviceInfoList(HDEVINFO set) {
  setup.Destroyed += set == kFakeSet ? 1 : 100;
  return TRUE;
}
WINBOOL WINAPI FakeEnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA data) {
  setup.AskedIndexes.push_back(index);
  if (index >= setup.Interfaces.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  data->Reserved = index;
  return TRUE;
}
WINBOOL WINAPI FakeGetDeviceInterfaceDetailA(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                             PDWORD required, PSP_DEVINFO_DATA device) {
  const FakeInterface& i = setup.Interfaces.at(data->Reserved);
  const DWORD needed =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + i.Path.size() + 1);
  if (!detail) {
    if (i.Kind == FakeInterface::SizeRefused) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    *required = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (i.Kind == FakeInterface::DetailRefused || size < needed || detail->cbSize != sizeof *detail) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, i.Path.c_str(), i.Path.size() + 1);
  device->DevInst = i.DevInst;
  return TRUE;
}
WINBOOL WINAPI FakeGetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA device, DWORD property, PDWORD,
                                              PBYTE buffer, DWORD size, PDWORD) {
  std::string value;
  switch (property) {
    case SPDRP_FRIENDLYNAME:
      value = "Device " + std::to_string(device->DevInst);
      value.push_back('\0');
      break;
    case SPDRP_HARDWAREID: {
      static const char kIds[] = "HID\\VID_5555&PID_4170\0HID\\VID_5555\0";
      value.assign(kIds, sizeof kIds);  // with the closing empty text
    } break;
    case SPDRP_MFG:  // longer than the 257-byte text buffer holds
      value = std::string(400, 'M');
      break;
    case SPDRP_UI_NUMBER: {
      const DWORD number = 42;
      value.assign(reinterpret_cast<const char*>(&number), sizeof number);
      break;
    }
    default:
      SetLastError(ERROR_INVALID_DATA);
      return FALSE;
  }
  if (value.size() > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, value.data(), value.size());
  return TRUE;
}
void WINAPI FakeGetHidGuid(LPGUID guid) { *guid = kFakeHidGuid; }
BOOLEAN WINAPI FakeHidBool(HANDLE, PVOID) { return FALSE; }

HMODULE const kSetupModule = reinterpret_cast<HMODULE>(0x1000);
HMODULE const kHidModule = reinterpret_cast<HMODULE>(0x2000);

// A loader over the fakes; names in Missing are not found.
struct FakeLoader {
  std::set<std::string> Missing;
  std::vector<std::string> Loaded;
  std::vector<HMODULE> Freed;

  TLibraryLoader Make() {
    return {
        [this](const char* name) {
          Loaded.push_back(name);
          if (Missing.count(name)) return HMODULE{};
          return std::string(name) == "SetupApi.dll" ? kSetupModule : kHidModule;
        },
        [this](HMODULE module, const char* name) -> FARPROC {
          if (Missing.count(name)) return nullptr;
          static const std::map<std::string, void*> setupApi = {
              {"SetupDiGetClassDevsA", reinterpret_cast<void*>(&FakeGetClassDevsA)},
              {"SetupDiDestroyDeviceInfoList", reinterpret_cast<void*>(&FakeDestroyDeviceInfoList)},
              {"SetupDiEnumDeviceInterfaces", reinterpret_cast<void*>(&FakeEnumDeviceInterfaces)},
              {"SetupDiGetDeviceInterfaceDetailA", reinterpret_cast<void*>(&FakeGetDeviceInterfaceDetailA)},
              {"SetupDiGetDeviceRegistryPropertyA",
               reinterpret_cast<void*>(&FakeGetDeviceRegistryPropertyA)}};
          if (module == kSetupModule) {
            auto it = setupApi.find(name);
            return it == setupApi.end() ? nullptr : reinterpret_cast<FARPROC>(it->second);
          }
          if (std::string(name) == "HidD_GetHidGuid")
            return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeGetHidGuid));
          // The scan needs no other HID function; they only have to exist.
          return std::string(name).rfind("Hid", 0) == 0
                     ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeHidBool))
                     : nullptr;
        },
        [this](HMODULE module) { Freed.push_back(module); }};
  }
};

class HidWin32BindingTest : public ::testing::Test {
 protected:
  void SetUp() override { setup = FakeSetup{}; }
  FakeLoader loader;
};

TEST_F(HidWin32BindingTest, LoadsSetupApiThenHidAndFreesBoth) {
  THidWin32Binding binding(loader.Make());
  ASSERT_TRUE(binding.LoadLibraries());
  EXPECT_EQ(loader.Loaded, std::vector<std::string>({"SetupApi.dll", "HID.dll"}));
  const THidGuid guid = binding.HidGuid();
  EXPECT_EQ(guid.Data1, kFakeHidGuid.Data1);
  EXPECT_EQ(guid.Data4[7], 0x30);
  binding.UnloadLibraries();
  EXPECT_EQ(loader.Freed, std::vector<HMODULE>({kHidModule, kSetupModule}));
}

TEST_F(HidWin32BindingTest, ALibraryCountsOnlyWithAllItsFunctions) {
  {
    SCOPED_TRACE("HID.dll without one function");
    loader.Missing = {"HidD_FlushQueue"};
    THidWin32Binding binding(loader.Make());
    EXPECT_FALSE(binding.LoadLibraries());
    EXPECT_TRUE(binding.SetupApiLoaded());
    EXPECT_FALSE(binding.HidLoaded());
    EXPECT_EQ(loader.Freed, std::vector<HMODULE>({kHidModule})) << "unloaded again at once";
    std::vector<std::unique_ptr<THidPnPInfo>> found;
    EXPECT_FALSE(binding.Enumerate(binding.HidGuid(), found));
    EXPECT_TRUE(found.empty());
    EXPECT_TRUE(binding.HidGuid() == kFallbackHidInterfaceClass);
    THidAttributes attributes;
    EXPECT_FALSE(binding.GetAttributes(1, attributes)) << "no call through a missing table";
  }
  {
    SCOPED_TRACE("SetupApi.dll without one function: HID.dll is never loaded");
    loader = FakeLoader{};
    loader.Missing = {"SetupDiGetDeviceRegistryPropertyA"};
    THidWin32Binding binding(loader.Make());
    EXPECT_FALSE(binding.LoadLibraries());
    EXPECT_FALSE(binding.SetupApiLoaded());
    EXPECT_EQ(loader.Loaded, std::vector<std::string>({"SetupApi.dll"}));
    EXPECT_EQ(loader.Freed, std::vector<HMODULE>({kSetupModule}));
  }
  {
    SCOPED_TRACE("no HID.dll at all");
    loader = FakeLoader{};
    loader.Missing = {"HID.dll"};
    THidWin32Binding binding(loader.Make());
    EXPECT_FALSE(binding.LoadLibraries());
    EXPECT_TRUE(binding.SetupApiLoaded());
  }
}

TEST_F(HidWin32BindingTest, ScanSkipsInterfacesWithoutDetailAndAdvancesPastThem) {
  setup.Interfaces = {{R"(\\?\hid#vid_5555&pid_4170#1)", 11},
                      {R"(\\?\hid#refused-size)", 12, FakeInterface::SizeRefused},
                      {R"(\\?\hid#refused-detail)", 13, FakeInterface::DetailRefused},
                      {R"(\\?\hid#vid_1234&pid_0001#2)", 14}};
  THidWin32Binding binding(loader.Make());
  ASSERT_TRUE(binding.LoadLibraries());
  std::vector<std::unique_ptr<THidPnPInfo>> found;
  ASSERT_TRUE(binding.Enumerate(binding.HidGuid(), found));
  EXPECT_EQ(setup.AskedIndexes, std::vector<DWORD>({0, 1, 2, 3, 4}));
  EXPECT_EQ(setup.AskedClass.Data1, kFakeHidGuid.Data1);
  EXPECT_EQ(setup.Destroyed, 1);
  ASSERT_EQ(found.size(), 2u);
  const THidPnPInfo& first = *found[0];
  EXPECT_EQ(first.Binding, &binding);
  EXPECT_EQ(first.DeviceID, 11u);
  EXPECT_EQ(first.DevicePath, R"(\\?\hid#vid_5555&pid_4170#1)");
  EXPECT_EQ(first.FriendlyName, "Device 11");
  EXPECT_EQ(first.HardwareIDs, std::vector<std::string>({"HID\\VID_5555&PID_4170", "HID\\VID_5555"}));
  EXPECT_EQ(first.UINumber, 42u);
  EXPECT_EQ(first.Mfg, "") << "a property that does not fit reads as empty";
  EXPECT_EQ(first.Driver, "");
  EXPECT_EQ(first.Capabilities, 0u);
  EXPECT_EQ(found[1]->DeviceID, 14u);
}

TEST_F(HidWin32BindingTest, AFailedDeviceSetIsAFailedScan) {
  setup.ClassDevsFail = true;
  THidWin32Binding binding(loader.Make());
  ASSERT_TRUE(binding.LoadLibraries());
  std::vector<std::unique_ptr<THidPnPInfo>> found;
  EXPECT_FALSE(binding.Enumerate(binding.HidGuid(), found));
  EXPECT_EQ(setup.Destroyed, 0);
}

TEST_F(HidWin32BindingTest, TheRealLibrariesLoadUnderThisSystem) {
  // Wine and Windows both ship them; a missing function would show here.
  THidWin32Binding binding;
  ASSERT_TRUE(binding.LoadLibraries());
  std::vector<std::unique_ptr<THidPnPInfo>> found;
  EXPECT_TRUE(binding.Enumerate(binding.HidGuid(), found));
  for (const auto& info : found) EXPECT_FALSE(info->DevicePath.empty());
}

}  // namespace
}  // namespace ts::test
