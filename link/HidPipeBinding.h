#pragma once
// The virtual instrument: a named pipe in message mode, served by the simulator
// (or a test), listed as one more HID interface after the real ones. Each open
// handle is its own pipe connection and so its own input queue, as with HID.

#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "link/HidBinding.h"
#include "protocol/Ts4170Protocol.h"
#include "ui/WinHandle.h"

namespace ts {

inline constexpr char kVirtualInstrumentPipe[] = TS4170_PIPE_NAME;
inline constexpr uint32_t kVirtualReportSize = TS4170_PIPE_MESSAGE_SIZE;
inline constexpr uint16_t kVirtualVendorID = TS4170_VENDOR_ID;
inline constexpr uint16_t kVirtualProductID = TS4170_PRODUCT_ID;

// Where the binding tells why it refused a server: one line of the program's
// log; without it the line goes to the debugger's output.
using TPipeNotice = std::function<void(const std::string&)>;

class THidPipeBinding : public THidBinding {
 public:
  explicit THidPipeBinding(std::string pipeName = kVirtualInstrumentPipe, TPipeNotice notice = {});
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

 private:
  struct TOpenHandle {
    uint32_t QueueLength;
    uint32_t Generation;  // of the server it was opened on
    TWinHandle Pipe;
  };
  enum class THold { Nothing, Connected, Broken };

  uint32_t DeviceID() const;
  // Whether a server serves the pipe, and whether it is the one listed before:
  // the same while one of our handles on it still holds, or while the pipe has
  // never been missing at a scan; a new device otherwise. The check connects,
  // then disconnects at once, as a connection that never reads would only
  // collect reports for nobody.
  bool ProbeServer();
  THold HoldsListedServer() const;
  // Why a server that is there was not connected to.
  struct TRefusal {
    std::string Owner;  // the pipe belongs to this other user
    bool Busy = false;  // every instance stayed taken (the server is at its cap)
  };
  // A connection to a server whose pipe belongs to our own user, tried for a
  // short while when the server is busy or between two instances.
  TWinHandle Connect(DWORD rights, TRefusal* refusal = nullptr) const;
  bool Known(THidHandle handle) const;

  std::string pipeName_;
  bool listed_ = false;
  void Notice(const std::string& line) const;
  const TPipeNotice notice_;
  std::string refusedOwner_;  // the last refusal noticed, so it is told once
  bool refusedBusy_ = false;
  uint32_t generation_ = 0;
  // An open of the listed server failed: it went away after the scan that listed
  // it, so the next scan must not take a server found then for the same device.
  bool openFailed_ = false;
  mutable std::mutex mutex_;                  // handles are opened by the read thread too
  std::map<THidHandle, TOpenHandle> queues_;  // open handle -> its queue length, server and owner
};

// Drops the messages waiting on a message-mode pipe handle when called; what
// arrives meanwhile stays.
bool DrainPipe(HANDLE pipe);

}  // namespace ts
