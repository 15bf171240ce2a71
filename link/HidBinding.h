#pragma once
// What the HID controller and its devices need of the platform, kept narrow so
// that the device-list logic runs unchanged on Win32, on the virtual instrument
// and on the fakes of the tests. No platform header here.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ts {

struct THidGuid {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};
  friend bool operator==(const THidGuid&, const THidGuid&) = default;
};

// The interface class used when the HID library is not there.
inline constexpr THidGuid kFallbackHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// A platform handle as a 64-bit value; an unopened one is all ones, as
// INVALID_HANDLE_VALUE is on Win64.
using THidHandle = uint64_t;
inline constexpr THidHandle kNoHidHandle = ~THidHandle{0};

// The platform's parsed report descriptor, opaque to the core.
using THidPreparsedData = void*;

// ERROR_INVALID_HANDLE: what a read on a closed or unopened handle fails with.
inline constexpr uint32_t kHidErrorInvalidHandle = 6;
// What a reader that dies reports: ERROR_NOT_ENOUGH_MEMORY when memory ran out,
// else ERROR_OPERATION_ABORTED ("... because of either a thread exit ...").
inline constexpr uint32_t kHidErrorNotEnoughMemory = 8;
inline constexpr uint32_t kHidErrorReaderDied = 995;
// ERROR_TIMEOUT: a read given up because its cancel did not take.
inline constexpr uint32_t kHidErrorTimeout = 1460;

// Read errors after which the handle never reads again: the device is gone.
// ERROR_ACCESS_DENIED is Wine's answer on a removed HID device.
inline bool IsDeviceGoneError(uint32_t error) {
  return error == 5 /* ERROR_ACCESS_DENIED */ || error == kHidErrorInvalidHandle ||
         error == 109 /* ERROR_BROKEN_PIPE */ || error == 233 /* ERROR_PIPE_NOT_CONNECTED */ ||
         error == 1167 /* ERROR_DEVICE_NOT_CONNECTED */;
}

struct THidAttributes {
  uint16_t VendorID = 0;
  uint16_t ProductID = 0;
  uint16_t VersionNumber = 0;
};

// The platform's capability record, field for field (64 bytes).
struct THidCaps {
  uint16_t Usage = 0;
  uint16_t UsagePage = 0;
  uint16_t InputReportByteLength = 0;
  uint16_t OutputReportByteLength = 0;
  uint16_t FeatureReportByteLength = 0;
  uint16_t Reserved[17] = {};
  uint16_t NumberLinkCollectionNodes = 0;
  uint16_t NumberInputButtonCaps = 0;
  uint16_t NumberInputValueCaps = 0;
  uint16_t NumberInputDataIndices = 0;
  uint16_t NumberOutputButtonCaps = 0;
  uint16_t NumberOutputValueCaps = 0;
  uint16_t NumberOutputDataIndices = 0;
  uint16_t NumberFeatureButtonCaps = 0;
  uint16_t NumberFeatureValueCaps = 0;
  uint16_t NumberFeatureDataIndices = 0;
};
static_assert(sizeof(THidCaps) == 64);

enum class THidAccess {
  ReadWrite,       // the control handle, first choice
  QueryOnly,       // the control handle when read/write is refused
  OverlappedRead,  // the read handle of the read thread
};

class THidBinding;

// The plug-and-play record of one interface, filled once by the binding that
// found it. Texts are UTF-8.
class THidPnPInfo {
 public:
  virtual ~THidPnPInfo() = default;

  // The binding that found the interface and opens it.
  THidBinding* Binding = nullptr;

  uint32_t DeviceID = 0;
  std::string DevicePath;
  uint32_t Capabilities = 0;
  std::string ClassDescr;
  std::string ClassGUID;
  uint32_t ConfigFlags = 0;
  std::string DeviceDescr;
  std::string Driver;
  std::string FriendlyName;
  std::string Mfg;
  std::string Service;
  std::string Address;
  uint32_t BusNumber = 0;
  std::string BusType;
  std::string Characteristics;
  std::string EnumeratorName;
  uint32_t Exclusive = 0;
  std::string LocationInfo;
  std::string PhysDevObjName;
  uint32_t UINumber = 0;
  std::string UINumberFormat;

  // Read as well, used by nothing.
  std::vector<std::string> CompatibleIDs;
  std::vector<std::string> HardwareIDs;
  std::vector<std::string> LowerFilters;
  std::vector<std::string> UpperFilters;
  uint32_t DeviceType = 0;
  uint32_t LegacyBusType = 0;
  std::string Security;
};

// One overlapped read, owned by the read thread that issues it. Every call comes
// from that thread.
class THidReadRequest {
 public:
  virtual ~THidReadRequest() = default;
  // Starts reading length bytes into buffer; on failure error receives the
  // platform's error number.
  virtual bool Start(THidHandle handle, uint8_t* buffer, uint32_t length, uint32_t& error) = 0;
  // Waits at most milliseconds in an alertable state; true once the read has
  // completed.
  virtual bool Wait(int32_t milliseconds) = 0;
  // Bytes the completed read transferred, without waiting; 0 when it failed.
  virtual uint32_t Result() = 0;
  // The platform's error number of the completed read; 0 when it succeeded or
  // its data was only dropped.
  virtual uint32_t Error() { return 0; }
  // Cancels the outstanding read and waits, within a bound, until it has
  // completed, so the buffer and the handle may go. False when it has not:
  // it may still complete into the buffer and this request, so neither may
  // ever be freed.
  virtual bool Cancel() = 0;
  // Waits milliseconds in an alertable state with no read outstanding.
  virtual void Pause(int32_t milliseconds) = 0;
};

// The controller's side: libraries and enumeration.
class THidPlatform {
 public:
  virtual ~THidPlatform() = default;
  // Loads the device-setup and HID libraries; answers whether HID services are
  // there.
  virtual bool LoadLibraries() = 0;
  virtual void UnloadLibraries() = 0;
  virtual THidGuid HidGuid() = 0;
  // Appends one record per interface of the class present now; false when the
  // set of present devices cannot be had.
  virtual bool Enumerate(const THidGuid& interfaceClass,
                         std::vector<std::unique_ptr<THidPnPInfo>>& found) = 0;
};

// The device's side, reached through THidPnPInfo::Binding.
class THidBinding : public THidPlatform {
 public:
  virtual THidHandle Open(const std::string& path, THidAccess access) = 0;
  virtual void Close(THidHandle handle) = 0;
  virtual bool GetAttributes(THidHandle handle, THidAttributes& attributes) = 0;
  virtual THidPreparsedData GetPreparsedData(THidHandle handle) = 0;  // nullptr on failure
  virtual void FreePreparsedData(THidPreparsedData data) = 0;
  virtual bool GetCaps(THidPreparsedData data, THidCaps& caps) = 0;
  virtual bool SetNumInputBuffers(THidHandle handle, uint32_t count) = 0;
  virtual bool GetNumInputBuffers(THidHandle handle, uint32_t& count) = 0;
  virtual bool FlushQueue(THidHandle handle) = 0;
  // At most 254 UTF-16 characters, as a 508-byte buffer holds.
  virtual bool GetIndexedString(THidHandle handle, uint32_t index, std::u16string& text) = 0;
  // Writes one whole output report. Bounded in time: a device that stops taking
  // reports makes it answer false rather than hang the caller.
  virtual bool Write(THidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t& written) = 0;
  virtual std::unique_ptr<THidReadRequest> NewReadRequest() = 0;
  // Called first thing on a read thread: gives it the time-critical priority.
  virtual void EnterReadThread() {}
};

// A flag the UI thread can wait on (below).
class TUiSignal {
 public:
  virtual ~TUiSignal() = default;
  virtual void Set() = 0;
};

// Hands calls from worker threads to the user interface thread.
class TUiDispatcher {
 public:
  virtual ~TUiDispatcher() = default;
  // From a worker: runs call on the user interface thread and returns when it
  // has run there.
  virtual void Send(const std::function<void()>& call) = 0;
  // From any thread: runs call later on the user interface thread, from its
  // message loop, never inside whatever that thread is doing now.
  virtual void Post(std::function<void()> call) = 0;
  virtual std::unique_ptr<TUiSignal> NewSignal() = 0;
  // On the user interface thread: returns when signal is set, running the calls
  // that workers send meanwhile, so a worker blocked in Send can still finish.
  virtual void WaitServing(TUiSignal& signal) = 0;
};

// Tells the user interface thread that the set of devices may have changed.
class TDeviceChangeWatch {
 public:
  virtual ~TDeviceChangeWatch() = default;
  virtual void Start(std::function<void()> onChange) = 0;
  virtual void Stop() = 0;
};

}  // namespace ts
