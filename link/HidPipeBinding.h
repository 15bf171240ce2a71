#pragma once
// The virtual instrument: a named pipe in message mode, served by the simulator
// (or a test), listed as one more HID interface after the real ones. Each open
// handle is its own pipe connection and so its own input queue, as with HID.

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

#include "link/HidBinding.h"

namespace ts {

inline constexpr char kVirtualInstrumentPipe[] = R"(\\.\pipe\TS4170)";
inline constexpr uint32_t kVirtualReportSize = 65;
inline constexpr uint16_t kVirtualVendorID = 0x5555;
inline constexpr uint16_t kVirtualProductID = 0x4170;

class THidPipeBinding : public THidBinding {
 public:
  explicit THidPipeBinding(std::string pipeName = kVirtualInstrumentPipe);
  ~THidPipeBinding() override;
  THidPipeBinding(const THidPipeBinding&) = delete;
  THidPipeBinding& operator=(const THidPipeBinding&) = delete;

  bool LoadLibraries() override { return true; }  // kernel32 only
  void UnloadLibraries() override;
  THidGuid HidGuid() override { return kFallbackHidInterfaceClass; }
  bool Enumerate(const THidGuid& interfaceClass, std::vector<std::unique_ptr<THidPnPInfo>>& found) override;

  THidHandle Open(const std::string& path, THidAccess access) override;
  void Close(THidHandle handle) override;
  bool GetAttributes(THidHandle handle, THidAttributes& attributes) override;
  THidPreparsedData GetPreparsedData(THidHandle handle) override;
  void FreePreparsedData(THidPreparsedData) override {}
  bool GetCaps(THidPreparsedData data, THidCaps& caps) override;
  bool SetNumInputBuffers(THidHandle handle, uint32_t count) override;
  bool GetNumInputBuffers(THidHandle handle, uint32_t& count) override;
  bool FlushQueue(THidHandle handle) override;
  bool GetIndexedString(THidHandle handle, uint32_t index, std::u16string& text) override;
  bool Write(THidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t& written) override;
  std::unique_ptr<THidReadRequest> NewReadRequest() override;
  void EnterReadThread() override;

  // The identity of the instance now listed; 0 when none is.
  uint32_t CurrentDeviceID() const { return probe_ != INVALID_HANDLE_VALUE ? DeviceID() : 0; }

 private:
  uint32_t DeviceID() const;
  // Keeps one connection of our own to the server: while it holds, the same
  // server is serving; once it breaks, whatever serves next is a new device.
  bool ProbeServer();
  HANDLE Connect(DWORD rights) const;
  bool Known(THidHandle handle) const;

  std::string pipeName_;
  HANDLE probe_ = INVALID_HANDLE_VALUE;
  uint32_t generation_ = 0;
  mutable std::mutex mutex_;               // handles are opened by the read thread too
  std::map<THidHandle, uint32_t> queues_;  // open handle -> input queue length
};

// Drops the messages waiting on a message-mode pipe handle when called; what
// arrives meanwhile stays.
bool DrainPipe(HANDLE pipe);

}  // namespace ts
