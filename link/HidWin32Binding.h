#pragma once
// The Win32 binding: SetupApi.dll and HID.dll loaded by name at run time, device
// handles through kernel32. The function tables take their types from the
// platform's own prototypes, so a signature cannot drift.

#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <hidsdi.h>
#include <hidpi.h>
// clang-format on

#include <functional>
#include <map>
#include <string>

#include "link/HidBinding.h"

namespace ts {

struct TSetupApiFunctions {
  decltype(&SetupDiGetClassDevsA) GetClassDevsA = nullptr;
  decltype(&SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;
  decltype(&SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces = nullptr;
  decltype(&SetupDiGetDeviceInterfaceDetailA) GetDeviceInterfaceDetailA = nullptr;
  decltype(&SetupDiGetDeviceRegistryPropertyA) GetDeviceRegistryPropertyA = nullptr;
};

struct THidFunctions {
  decltype(&HidD_GetHidGuid) GetHidGuid = nullptr;
  decltype(&HidD_GetAttributes) GetAttributes = nullptr;
  decltype(&HidD_GetPreparsedData) GetPreparsedData = nullptr;
  decltype(&HidD_FreePreparsedData) FreePreparsedData = nullptr;
  decltype(&HidP_GetCaps) GetCaps = nullptr;
  decltype(&HidD_SetNumInputBuffers) SetNumInputBuffers = nullptr;
  decltype(&HidD_GetNumInputBuffers) GetNumInputBuffers = nullptr;
  decltype(&HidD_FlushQueue) FlushQueue = nullptr;
  decltype(&HidD_GetIndexedString) GetIndexedString = nullptr;
};

// How libraries are loaded and their functions found; tests put in their own.
struct TLibraryLoader {
  std::function<HMODULE(const char* name)> Load;
  std::function<FARPROC(HMODULE module, const char* name)> Find;
  std::function<void(HMODULE module)> Free;
};
TLibraryLoader SystemLibraryLoader();

class THidWin32Binding : public THidBinding {
 public:
  explicit THidWin32Binding(TLibraryLoader loader = SystemLibraryLoader());
  ~THidWin32Binding() override;
  THidWin32Binding(const THidWin32Binding&) = delete;
  THidWin32Binding& operator=(const THidWin32Binding&) = delete;

  bool SetupApiLoaded() const { return setupModule_ != nullptr; }
  bool HidLoaded() const { return hidModule_ != nullptr; }

  bool LoadLibraries() override;
  void UnloadLibraries() override;
  THidGuid HidGuid() override;
  bool Enumerate(const THidGuid& interfaceClass, std::vector<std::unique_ptr<THidPnPInfo>>& found) override;

  THidHandle Open(const std::string& path, THidAccess access) override;
  void Close(THidHandle handle) override;
  bool GetAttributes(THidHandle handle, THidAttributes& attributes) override;
  THidPreparsedData GetPreparsedData(THidHandle handle) override;
  void FreePreparsedData(THidPreparsedData data) override;
  bool GetCaps(THidPreparsedData data, THidCaps& caps) override;
  bool SetNumInputBuffers(THidHandle handle, uint32_t count) override;
  bool GetNumInputBuffers(THidHandle handle, uint32_t& count) override;
  bool FlushQueue(THidHandle handle) override;
  bool GetIndexedString(THidHandle handle, uint32_t index, std::u16string& text) override;
  bool Write(THidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t& written) override;
  std::unique_ptr<THidReadRequest> NewReadRequest() override;
  void EnterReadThread() override;

 private:
  std::unique_ptr<THidPnPInfo> ReadPnPInfo(HDEVINFO set, const char* path, SP_DEVINFO_DATA& device);

  TLibraryLoader loader_;
  HMODULE setupModule_ = nullptr;
  HMODULE hidModule_ = nullptr;
  TSetupApiFunctions setupApi_;
  THidFunctions hid_;
  // The DeviceID each path had at the last enumeration (see Enumerate).
  std::map<std::string, uint32_t> lastIds_;
};

// Helpers the virtual-instrument binding shares.
void EnterTimeCriticalPriority();
std::string GuidText(const GUID& guid);

}  // namespace ts
