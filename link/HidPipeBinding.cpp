#include "link/HidPipeBinding.h"

#include <aclapi.h>
#include <sddl.h>

#include "link/HidWin32Binding.h"
#include "link/HidWin32Io.h"

namespace ts {

namespace {

constexpr uint32_t kDeviceIdBase = 0x41700000;
constexpr ULONGLONG kConnectWindowMs = 200;
constexpr DWORD kConnectRetryMs = 10;
constexpr uint32_t kDefaultQueueLength = 32;
const char kPreparsedTag = 0;
constexpr int kMaxDroppedAtStart = 64;

THidPreparsedData PreparsedTag() { return const_cast<char*>(&kPreparsedTag); }

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!sid || !ConvertSidToStringSidA(sid, &text)) return "?";
  const TLocalMemory owned(text);
  return text;
}

// Empty when the pipe belongs to the user this process runs as; else its owner.
// Anyone else serving the name could pose as the instrument: feed pictures that
// are saved as evidence and receive every key.
std::string ForeignOwner(HANDLE pipe) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &sd) != ERROR_SUCCESS)
    return "?";
  const TLocalMemory ownedSd(sd);  // owner points into it
  std::string result;
  HANDLE opened = nullptr;
  BYTE buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  DWORD size = 0;
  const bool haveToken = owner && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened);
  const TWinHandle token(opened);
  const bool mine = haveToken && GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size) &&
                    EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  if (!mine) result = owner ? SidText(owner) : "?";
  return result;
}

// Reads one message (or the rest of one) and drops it; `size` gets its length.
// The data is already in the pipe, so the read completes at once.
bool DropMessage(HANDLE pipe, DWORD* size = nullptr) {
  TWinHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DWORD total = 0;
  for (;;) {
    uint8_t scratch[512];
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    DWORD transferred = 0;
    BOOL ok = ReadFile(pipe, scratch, sizeof scratch, nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
      ok = GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    total += static_cast<DWORD>(overlapped.InternalHigh);
    if (ok) {
      if (size) *size = total;
      return true;
    }
    if (error != ERROR_MORE_DATA) {
      SetLastError(error);
      return false;
    }
  }
}

// A message that is not exactly one report is dropped whole, never fatal.
class TPipeReadRequest : public TOverlappedReadRequest {
 public:
  // A message longer than a report may already wait when the read starts; the
  // start then fails at once with ERROR_MORE_DATA. Drop it and read the next.
  bool Start(THidHandle handle, uint8_t* buffer, uint32_t length, uint32_t& error) override {
    for (int dropped = 0; dropped < kMaxDroppedAtStart; ++dropped) {
      if (TOverlappedReadRequest::Start(handle, buffer, length, error)) return true;
      if (error != ERROR_MORE_DATA) return false;
      if (!DropMessage(ToWinHandle(handle))) {
        error = GetLastError();
        return false;
      }
    }
    return false;
  }
  uint32_t Result() override {
    DWORD error = 0;
    const uint32_t transferred = Completion(error);
    if (error == ERROR_MORE_DATA) {
      DropMessage(Handle());
      return 0;
    }
    return error == 0 && transferred == kVirtualReportSize ? transferred : 0;
  }
};

}  // namespace

bool DrainPipe(HANDLE pipe) {
  // Only what waits now: a server that writes without pause would keep a drain
  // "until empty" going for ever, on the thread that runs the window.
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
  for (DWORD dropped = 0; dropped < available;) {
    DWORD size = 0;
    if (!DropMessage(pipe, &size)) return false;
    dropped += size;
  }
  return true;
}

THidPipeBinding::THidPipeBinding(std::string pipeName, TPipeNotice notice)
    : pipeName_(std::move(pipeName)), notice_(std::move(notice)) {}

void THidPipeBinding::Notice(const std::string& line) const {
  if (notice_)
    notice_(line);
  else
    OutputDebugStringA((line + "\n").c_str());
}

THidPipeBinding::~THidPipeBinding() { UnloadLibraries(); }

void THidPipeBinding::UnloadLibraries() { listed_ = false; }

uint32_t THidPipeBinding::DeviceID() const { return kDeviceIdBase + (generation_ & 0xFFFF); }

TWinHandle THidPipeBinding::Connect(DWORD rights, TRefusal* refusal) const {
  // Scans run on the user interface thread: a server that stays busy or absent
  // is given this long, never the seconds a wait for an instance could take.
  const ULONGLONG deadline = GetTickCount64() + kConnectWindowMs;
  for (;;) {
    // Identification only: the server must not act as us. READ_CONTROL to read
    // who owns the pipe.
    TWinHandle pipe(CreateFileA(pipeName_.c_str(), rights | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                nullptr));
    if (pipe) {
      if (std::string owner = ForeignOwner(pipe.Get()); !owner.empty()) {
        if (refusal) refusal->Owner = owner;
        return {};
      }
      DWORD mode = PIPE_READMODE_MESSAGE;
      if (SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr)) return pipe;
      return {};
    }
    // Busy: every instance taken, the server is making the next or is at its
    // cap. Not found: a server shows that for a moment between two instances.
    // WaitNamedPipe may answer at once and the instance be taken again, so the
    // retries sleep instead.
    const DWORD error = GetLastError();
    if (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND) break;
    if (GetTickCount64() >= deadline) {
      if (refusal) refusal->Busy = error == ERROR_PIPE_BUSY;
      break;
    }
    Sleep(kConnectRetryMs);
  }
  return {};
}

THidPipeBinding::THold THidPipeBinding::HoldsListedServer() const {
  std::lock_guard lock(mutex_);
  if (openFailed_) return THold::Broken;
  THold hold = THold::Nothing;
  for (const auto& [handle, open] : queues_) {
    if (open.Generation != generation_) continue;
    // Peeking takes nothing from the queue and fails once the server has gone.
    // One handle cut off is enough: a handle opened since may already be on a
    // server that came back, and the device's other handles are not.
    if (!PeekNamedPipe(ToWinHandle(handle), nullptr, 0, nullptr, nullptr, nullptr)) return THold::Broken;
    hold = THold::Connected;
  }
  return hold;
}

bool THidPipeBinding::ProbeServer() {
  const THold hold = listed_ ? HoldsListedServer() : THold::Nothing;
  if (hold == THold::Connected) return true;
  TRefusal refusal;
  TWinHandle pipe = Connect(GENERIC_READ | FILE_WRITE_ATTRIBUTES, &refusal);
  if (!refusal.Owner.empty() && refusal.Owner != refusedOwner_)
    Notice("Виртуальный прибор отклонён: канал " + pipeName_ + " принадлежит другому пользователю (" +
           refusal.Owner + ")");
  refusedOwner_ = refusal.Owner;
  if (refusal.Busy && !refusedBusy_)
    Notice("Виртуальный прибор занят: канал " + pipeName_ + " не принимает клиентов");
  refusedBusy_ = refusal.Busy;
  if (!pipe) {
    // A server at its cap is still there: what is listed stays, unless our own
    // handles on it broke; nothing new is listed.
    if (!refusal.Busy || hold == THold::Broken) listed_ = false;
    return listed_;
  }
  pipe.Reset();
  if (!listed_ || hold == THold::Broken) {
    std::lock_guard lock(mutex_);  // the read thread stamps the handles it opens with it
    ++generation_;
    openFailed_ = false;
  }
  listed_ = true;
  return true;
}

bool THidPipeBinding::Enumerate(const THidGuid&, std::vector<std::unique_ptr<THidPnPInfo>>& found) {
  if (!ProbeServer()) return true;
  auto info = std::make_unique<THidPnPInfo>();
  info->Binding = this;
  info->DeviceID = DeviceID();
  info->DevicePath = pipeName_;
  info->ClassDescr = "HIDClass";
  info->ClassGUID = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";
  info->DeviceDescr = "TS4170 virtual instrument";
  info->FriendlyName =
      "\xD0\xA2\xD0\xA1"
      "4170 (virtual instrument)";
  info->Mfg = "Virtual_TS4170";
  info->EnumeratorName = "VIRTUAL";
  info->LocationInfo = pipeName_;
  info->HardwareIDs = {"HID\\VID_5555&PID_4170"};
  found.push_back(std::move(info));
  return true;
}

THidHandle THidPipeBinding::Open(const std::string& path, THidAccess access) {
  if (path != pipeName_) return kNoHidHandle;
  DWORD rights = GENERIC_READ | FILE_WRITE_ATTRIBUTES;
  if (access == THidAccess::ReadWrite) rights = GENERIC_READ | GENERIC_WRITE;
  TWinHandle pipe = Connect(rights);
  const THidHandle handle = FromWinHandle(pipe ? pipe.Get() : INVALID_HANDLE_VALUE);
  std::lock_guard lock(mutex_);
  if (handle != kNoHidHandle)
    queues_[handle] = {kDefaultQueueLength, generation_, std::move(pipe)};
  else
    openFailed_ = true;
  return handle;
}

void THidPipeBinding::Close(THidHandle handle) {
  TWinHandle pipe;  // closed outside the lock
  std::lock_guard lock(mutex_);
  auto it = queues_.find(handle);
  if (it == queues_.end()) return;
  pipe = std::move(it->second.Pipe);
  queues_.erase(it);
}

bool THidPipeBinding::Known(THidHandle handle) const {
  std::lock_guard lock(mutex_);
  return queues_.count(handle) != 0;
}

bool THidPipeBinding::GetAttributes(THidHandle handle, THidAttributes& attributes) {
  if (!Known(handle)) return false;
  attributes = {kVirtualVendorID, kVirtualProductID, 0x0100};
  return true;
}

THidPreparsedData THidPipeBinding::GetPreparsedData(THidHandle handle) {
  return Known(handle) ? PreparsedTag() : nullptr;
}

bool THidPipeBinding::GetCaps(THidPreparsedData data, THidCaps& caps) {
  if (data != PreparsedTag()) return false;
  caps = THidCaps{};
  caps.Usage = 0x0001;
  caps.UsagePage = 0xFF00;
  caps.InputReportByteLength = kVirtualReportSize;
  caps.OutputReportByteLength = kVirtualReportSize;
  caps.NumberLinkCollectionNodes = 1;
  caps.NumberInputValueCaps = 1;
  caps.NumberInputDataIndices = 1;
  caps.NumberOutputValueCaps = 1;
  caps.NumberOutputDataIndices = 1;
  return true;
}

bool THidPipeBinding::SetNumInputBuffers(THidHandle handle, uint32_t count) {
  std::lock_guard lock(mutex_);
  auto it = queues_.find(handle);
  // The range HID itself takes.
  if (it == queues_.end() || count < 2 || count > 512) return false;
  it->second.QueueLength = count;
  return true;
}

bool THidPipeBinding::GetNumInputBuffers(THidHandle handle, uint32_t& count) {
  std::lock_guard lock(mutex_);
  auto it = queues_.find(handle);
  if (it == queues_.end()) return false;
  count = it->second.QueueLength;
  return true;
}

bool THidPipeBinding::FlushQueue(THidHandle handle) {
  return Known(handle) && DrainPipe(ToWinHandle(handle));
}

bool THidPipeBinding::GetIndexedString(THidHandle handle, uint32_t index, std::u16string& text) {
  if (!Known(handle)) return false;
  switch (index) {
    case 1:
      text = u"Virtual_TS4170";
      return true;
    case 2:
      text = u"\u0422\u04214170 virtual instrument";
      return true;
    default:
      return false;
  }
}

bool THidPipeBinding::Write(THidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t& written) {
  written = 0;
  if (!Known(handle)) return false;
  if (length != kVirtualReportSize) {
    SetLastError(ERROR_INVALID_USER_BUFFER);
    return false;
  }
  return BoundedWrite(ToWinHandle(handle), buffer, length, written);
}

std::unique_ptr<THidReadRequest> THidPipeBinding::NewReadRequest() {
  return std::make_unique<TPipeReadRequest>();
}

void THidPipeBinding::EnterReadThread() { EnterTimeCriticalPriority(); }

}  // namespace ts
