#include "link/HidWin32Binding.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "link/HidWin32Io.h"
#include "ui/Cp1251.h"
#include "ui/WinHandle.h"

namespace ts {

namespace {

constexpr DWORD kTextPropertySize = 257;
constexpr DWORD kListPropertySize = 16384;
constexpr DWORD kIndexedStringBytes = 508;

template <class F>
bool Resolve(const TLibraryLoader& loader, HMODULE module, const char* name, F& function) {
  function = reinterpret_cast<F>(reinterpret_cast<void*>(loader.Find(module, name)));
  return function != nullptr;
}

bool ResolveSetupApi(const TLibraryLoader& l, HMODULE m, TSetupApiFunctions& f) {
  bool all = true;
  all &= Resolve(l, m, "SetupDiGetClassDevsA", f.GetClassDevsA);
  all &= Resolve(l, m, "SetupDiDestroyDeviceInfoList", f.DestroyDeviceInfoList);
  all &= Resolve(l, m, "SetupDiEnumDeviceInterfaces", f.EnumDeviceInterfaces);
  all &= Resolve(l, m, "SetupDiGetDeviceInterfaceDetailA", f.GetDeviceInterfaceDetailA);
  all &= Resolve(l, m, "SetupDiGetDeviceRegistryPropertyA", f.GetDeviceRegistryPropertyA);
  return all;
}

bool ResolveHid(const TLibraryLoader& l, HMODULE m, THidFunctions& f) {
  bool all = true;
  all &= Resolve(l, m, "HidD_GetHidGuid", f.GetHidGuid);
  all &= Resolve(l, m, "HidD_GetAttributes", f.GetAttributes);
  all &= Resolve(l, m, "HidD_GetPreparsedData", f.GetPreparsedData);
  all &= Resolve(l, m, "HidD_FreePreparsedData", f.FreePreparsedData);
  all &= Resolve(l, m, "HidP_GetCaps", f.GetCaps);
  all &= Resolve(l, m, "HidD_SetNumInputBuffers", f.SetNumInputBuffers);
  all &= Resolve(l, m, "HidD_GetNumInputBuffers", f.GetNumInputBuffers);
  all &= Resolve(l, m, "HidD_FlushQueue", f.FlushQueue);
  all &= Resolve(l, m, "HidD_GetIndexedString", f.GetIndexedString);
  return all;
}

GUID ToGuid(const THidGuid& g) {
  GUID guid;
  guid.Data1 = g.Data1;
  guid.Data2 = g.Data2;
  guid.Data3 = g.Data3;
  std::memcpy(guid.Data4, g.Data4, sizeof guid.Data4);
  return guid;
}

THidGuid FromGuid(const GUID& guid) {
  THidGuid g;
  g.Data1 = guid.Data1;
  g.Data2 = guid.Data2;
  g.Data3 = guid.Data3;
  std::memcpy(g.Data4, guid.Data4, sizeof g.Data4);
  return g;
}

// Reads the setup properties of one device.
class TPropertyReader {
 public:
  TPropertyReader(const TSetupApiFunctions& f, HDEVINFO set, SP_DEVINFO_DATA& device)
      : f_(f), set_(set), device_(device) {}

  bool Raw(DWORD property, void* buffer, DWORD size) {
    return f_.GetDeviceRegistryPropertyA(set_, &device_, property, nullptr, static_cast<PBYTE>(buffer), size,
                                         nullptr) != FALSE;
  }
  std::string Text(DWORD property) {
    char buffer[kTextPropertySize] = {};
    if (!Raw(property, buffer, kTextPropertySize - 1)) return {};
    return AnsiToUtf8(buffer, strnlen(buffer, kTextPropertySize - 1));
  }
  std::vector<std::string> List(DWORD property) {
    std::vector<char> buffer(kListPropertySize + 2, '\0');
    std::vector<std::string> items;
    if (!Raw(property, buffer.data(), kListPropertySize)) return items;
    for (const char* p = buffer.data(); *p; p += std::strlen(p) + 1)
      items.push_back(AnsiToUtf8(p, std::strlen(p)));
    return items;
  }
  uint32_t Number(DWORD property) {
    DWORD value = 0;
    return Raw(property, &value, sizeof value) ? value : 0;
  }

 private:
  const TSetupApiFunctions& f_;
  HDEVINFO set_;
  SP_DEVINFO_DATA& device_;
};

}  // namespace

TLibraryLoader SystemLibraryLoader() {
  return {[](const char* name) { return LoadLibraryA(name); },
          [](HMODULE module, const char* name) { return GetProcAddress(module, name); },
          [](HMODULE module) { FreeLibrary(module); }};
}

void EnterTimeCriticalPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

THidWin32Binding::THidWin32Binding(TLibraryLoader loader) : loader_(std::move(loader)) {}

THidWin32Binding::~THidWin32Binding() { UnloadLibraries(); }

bool THidWin32Binding::LoadLibraries() {
  if (!setupModule_) {
    HMODULE module = loader_.Load("SetupApi.dll");
    if (!module) return false;
    if (!ResolveSetupApi(loader_, module, setupApi_)) {
      setupApi_ = {};
      loader_.Free(module);
      return false;
    }
    setupModule_ = module;
  }
  if (!hidModule_) {
    HMODULE module = loader_.Load("HID.dll");
    if (!module) return false;
    if (!ResolveHid(loader_, module, hid_)) {
      hid_ = {};
      loader_.Free(module);
      return false;
    }
    hidModule_ = module;
  }
  return true;
}

void THidWin32Binding::UnloadLibraries() {
  if (hidModule_) loader_.Free(hidModule_);
  if (setupModule_) loader_.Free(setupModule_);
  hidModule_ = setupModule_ = nullptr;
  hid_ = {};
  setupApi_ = {};
}

THidGuid THidWin32Binding::HidGuid() {
  if (!HidLoaded()) return kFallbackHidInterfaceClass;
  GUID guid = {};
  hid_.GetHidGuid(&guid);
  return FromGuid(guid);
}

bool THidWin32Binding::Enumerate(const THidGuid& interfaceClass,
                                 std::vector<std::unique_ptr<THidPnPInfo>>& found) {
  if (!SetupApiLoaded() || !HidLoaded()) return false;
  GUID guid = ToGuid(interfaceClass);
  const TDevInfoList devices(
      setupApi_.GetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
      setupApi_.DestroyDeviceInfoList);
  if (!devices) return false;
  HDEVINFO set = devices.Get();
  const size_t first = found.size();
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof interfaceData;
    if (!setupApi_.EnumDeviceInterfaces(set, nullptr, &guid, index, &interfaceData)) break;
    DWORD size = 0;
    if (setupApi_.GetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &size, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
      continue;
    }
    // DWORD-aligned, zero-padded so the path always ends.
    std::vector<DWORD> storage(size / sizeof(DWORD) + 2, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!setupApi_.GetDeviceInterfaceDetailA(set, &interfaceData, detail, size, nullptr, &device)) continue;
    found.push_back(ReadPnPInfo(set, detail->DevicePath, device));
  }
  // A device keeps the number it was first seen with while it stays present:
  // Wine numbers device nodes by position in each enumeration, so a device
  // plugged in ahead of others in the list would otherwise renumber them.
  std::map<std::string, uint32_t> ids;
  for (size_t i = first; i < found.size(); ++i) {
    THidPnPInfo& info = *found[i];
    if (const auto known = lastIds_.find(info.DevicePath); known != lastIds_.end())
      info.DeviceID = known->second;
    ids[info.DevicePath] = info.DeviceID;
  }
  lastIds_ = std::move(ids);
  return true;
}

std::unique_ptr<THidPnPInfo> THidWin32Binding::ReadPnPInfo(HDEVINFO set, const char* path,
                                                           SP_DEVINFO_DATA& device) {
  auto info = std::make_unique<THidPnPInfo>();
  TPropertyReader p(setupApi_, set, device);
  info->Binding = this;
  info->DeviceID = device.DevInst;
  info->DevicePath = AnsiToUtf8(path, std::strlen(path));
  info->Capabilities = p.Number(SPDRP_CAPABILITIES);
  info->ClassDescr = p.Text(SPDRP_CLASS);
  info->ClassGUID = p.Text(SPDRP_CLASSGUID);
  info->ConfigFlags = p.Number(SPDRP_CONFIGFLAGS);
  info->DeviceDescr = p.Text(SPDRP_DEVICEDESC);
  info->Driver = p.Text(SPDRP_DRIVER);
  info->FriendlyName = p.Text(SPDRP_FRIENDLYNAME);
  info->Mfg = p.Text(SPDRP_MFG);
  info->Service = p.Text(SPDRP_SERVICE);
  // Windows keeps these three as numbers; they are shown as text.
  DWORD address = 0;
  if (p.Raw(SPDRP_ADDRESS, &address, sizeof address)) info->Address = std::to_string(address);
  GUID busType = {};
  if (p.Raw(SPDRP_BUSTYPEGUID, &busType, sizeof busType)) info->BusType = GuidText(busType);
  DWORD characteristics = 0;
  if (p.Raw(SPDRP_CHARACTERISTICS, &characteristics, sizeof characteristics)) {
    char text[12];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(characteristics));
    info->Characteristics = text;
  }
  info->BusNumber = p.Number(SPDRP_BUSNUMBER);
  info->EnumeratorName = p.Text(SPDRP_ENUMERATOR_NAME);
  info->Exclusive = p.Number(SPDRP_EXCLUSIVE);
  info->LocationInfo = p.Text(SPDRP_LOCATION_INFORMATION);
  info->PhysDevObjName = p.Text(SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
  info->UINumber = p.Number(SPDRP_UI_NUMBER);
  info->UINumberFormat = p.Text(SPDRP_UI_NUMBER_DESC_FORMAT);
  info->CompatibleIDs = p.List(SPDRP_COMPATIBLEIDS);
  info->HardwareIDs = p.List(SPDRP_HARDWAREID);
  info->LowerFilters = p.List(SPDRP_LOWERFILTERS);
  info->UpperFilters = p.List(SPDRP_UPPERFILTERS);
  info->DeviceType = p.Number(SPDRP_DEVTYPE);
  info->LegacyBusType = p.Number(SPDRP_LEGACYBUSTYPE);
  info->Security = p.Text(SPDRP_SECURITY_SDS);
  return info;
}

THidHandle THidWin32Binding::Open(const std::string& path, THidAccess access) {
  DWORD rights = 0;
  if (access == THidAccess::ReadWrite) rights = GENERIC_READ | GENERIC_WRITE;
  if (access == THidAccess::OverlappedRead) rights = GENERIC_READ;
  // Overlapped also for the control handle, so that a write can be bounded.
  return FromWinHandle(CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

void THidWin32Binding::Close(THidHandle handle) {
  // The portable device keeps its handles as numbers and gives each back here.
  if (handle != kNoHidHandle) TWinHandle(ToWinHandle(handle)).Reset();
}

bool THidWin32Binding::GetAttributes(THidHandle handle, THidAttributes& attributes) {
  if (!HidLoaded()) return false;
  HIDD_ATTRIBUTES record = {};
  record.Size = sizeof record;
  if (!hid_.GetAttributes(ToWinHandle(handle), &record)) return false;
  attributes = {record.VendorID, record.ProductID, record.VersionNumber};
  return true;
}

THidPreparsedData THidWin32Binding::GetPreparsedData(THidHandle handle) {
  PHIDP_PREPARSED_DATA data = nullptr;
  if (!HidLoaded() || !hid_.GetPreparsedData(ToWinHandle(handle), &data)) return nullptr;
  return data;
}

void THidWin32Binding::FreePreparsedData(THidPreparsedData data) {
  // With the library gone the block is left to the process's end.
  if (HidLoaded() && data) hid_.FreePreparsedData(static_cast<PHIDP_PREPARSED_DATA>(data));
}

bool THidWin32Binding::GetCaps(THidPreparsedData data, THidCaps& caps) {
  static_assert(sizeof(HIDP_CAPS) == sizeof(THidCaps));
  HIDP_CAPS record = {};
  if (!HidLoaded() || hid_.GetCaps(static_cast<PHIDP_PREPARSED_DATA>(data), &record) != HIDP_STATUS_SUCCESS) {
    return false;
  }
  std::memcpy(static_cast<void*>(&caps), &record, sizeof caps);
  return true;
}

bool THidWin32Binding::SetNumInputBuffers(THidHandle handle, uint32_t count) {
  return HidLoaded() && hid_.SetNumInputBuffers(ToWinHandle(handle), count);
}

bool THidWin32Binding::GetNumInputBuffers(THidHandle handle, uint32_t& count) {
  ULONG value = 0;
  if (!HidLoaded() || !hid_.GetNumInputBuffers(ToWinHandle(handle), &value)) return false;
  count = value;
  return true;
}

bool THidWin32Binding::FlushQueue(THidHandle handle) {
  return HidLoaded() && hid_.FlushQueue(ToWinHandle(handle));
}

bool THidWin32Binding::GetIndexedString(THidHandle handle, uint32_t index, std::u16string& text) {
  char16_t buffer[kIndexedStringBytes / 2 + 1] = {};
  if (!HidLoaded() || !hid_.GetIndexedString(ToWinHandle(handle), index, buffer, kIndexedStringBytes))
    return false;
  text = buffer;
  return true;
}

bool THidWin32Binding::Write(THidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t& written) {
  return BoundedWrite(ToWinHandle(handle), buffer, length, written);
}

std::unique_ptr<THidReadRequest> THidWin32Binding::NewReadRequest() {
  return std::make_unique<TOverlappedReadRequest>();
}

void THidWin32Binding::EnterReadThread() { EnterTimeCriticalPriority(); }

}  // namespace ts
