#pragma once
// A scripted HID platform and a user-interface-thread dispatcher that the test's
// own thread serves, so the controller, devices and read threads run for real
// without Windows.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/HidBinding.h"

namespace ts::test {

struct FakeInterface {
  uint32_t Id = 0;
  THidAttributes Attributes;
  bool ReadWrite = true;  // opens for reading and writing
  bool Query = true;      // opens with no access
  bool Identifiable = true;
  THidCaps Caps;
};

class FakeBinding : public THidBinding {
 public:
  // Script, set by the test thread.
  bool SetupLibrary = true;
  bool HidLibrary = true;
  bool EnumerationFails = false;
  bool ReadStartFails = false;
  uint32_t ReadStartError = 31;
  // Every read completes at once with this error (0: reads wait for reports).
  uint32_t CompletionError = 0;
  // What a read pending when its device goes completes with.
  uint32_t GoneError = 1167;  // ERROR_DEVICE_NOT_CONNECTED
  bool NewRequestFails = false;
  bool WriteAccepted = true;

  void Plug(FakeInterface i) {
    std::lock_guard lock(mutex_);
    present_.push_back(i);
  }
  void Unplug(uint32_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(present_, [id](const FakeInterface& i) { return i.Id == id; });
    cv_.notify_all();
  }
  // Reads start and readers are made again, as once a passing fault is over.
  void Heal() {
    std::lock_guard lock(mutex_);
    ReadStartFails = NewRequestFails = false;
  }
  // Reads cannot start from now on, failing with `error`.
  void FailReadStarts(uint32_t error) {
    std::lock_guard lock(mutex_);
    ReadStartFails = true;
    ReadStartError = error;
  }
  // Queues one input report for every open read handle of the interface.
  void Report(uint32_t id, std::vector<uint8_t> report) {
    std::lock_guard lock(mutex_);
    for (auto& [handle, open] : handles_) {
      // A full queue drops the report, as the platform's ring buffer would.
      if (open.Id == id && open.Access == THidAccess::OverlappedRead && open.Queue.size() < 8) {
        open.Queue.push_back(report);
      }
    }
    cv_.notify_all();
  }
  // Writes hang, as with a device that stops taking reports, until released
  // (or five seconds have passed, so that a test of a fault cannot hang).
  void HoldWrites(bool hold) {
    std::lock_guard lock(mutex_);
    holdWrites_ = hold;
    cv_.notify_all();
  }
  int WritesPending() const {
    std::lock_guard lock(mutex_);
    return writesPending_;
  }
  // Writes whose handle was closed while they were under way.
  int WritesOnClosedHandles() const {
    std::lock_guard lock(mutex_);
    return writesOnClosedHandles_;
  }
  // Makes every read on the interface complete with n bytes of nothing.
  void CompleteEmpty(uint32_t id) { Report(id, {}); }

  // Observation.
  int Opens(THidAccess access) const {
    std::lock_guard lock(mutex_);
    return opens_.count(access) ? opens_.at(access) : 0;
  }
  int OpenHandles() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(handles_.size());
  }
  int Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  int Waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
  }
  int Cancels() const {
    std::lock_guard lock(mutex_);
    return cancels_;
  }
  int Pauses() const {
    std::lock_guard lock(mutex_);
    return pauses_;
  }
  int ReadStarts() const {
    std::lock_guard lock(mutex_);
    return readStarts_;
  }
  // The starts that began a read.
  int ReadsBegun() const {
    std::lock_guard lock(mutex_);
    return readsBegun_;
  }
  // Read requests alive: a reader that still runs holds one.
  int LiveRequests() const {
    std::lock_guard lock(mutex_);
    return liveRequests_;
  }
  int LiveRequestsAtUnload() const { return liveRequestsAtUnload_; }
  int Unloads() const { return unloads_; }
  int Enumerations() const {
    std::lock_guard lock(mutex_);
    return enumerations_;
  }
  std::vector<std::vector<uint8_t>> Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }
  // The thread each write ran on, and how many writes that thread had made by
  // then, this one included: counted per thread, so a thread whose id a later
  // one reuses still shows as new.
  std::vector<std::pair<std::thread::id, int>> WriteThreads() const {
    std::lock_guard lock(mutex_);
    return writeThreads_;
  }
  bool ReadHandleOpen(uint32_t id) const {
    std::lock_guard lock(mutex_);
    for (auto& [handle, open] : handles_) {
      if (open.Id == id && open.Access == THidAccess::OverlappedRead) return true;
    }
    return false;
  }

  // THidPlatform
  bool LoadLibraries() override { return SetupLibrary && HidLibrary; }
  void UnloadLibraries() override {
    ++unloads_;
    liveRequestsAtUnload_ = LiveRequests();
  }
  THidGuid HidGuid() override { return kHidGuid; }
  bool Enumerate(const THidGuid& interfaceClass, std::vector<std::unique_ptr<THidPnPInfo>>& found) override {
    std::lock_guard lock(mutex_);
    ++enumerations_;
    if (EnumerationFails || !(interfaceClass == kHidGuid)) return false;
    for (const FakeInterface& i : present_) {
      auto info = std::make_unique<THidPnPInfo>();
      info->Binding = this;
      info->DeviceID = i.Id;
      info->DevicePath = Path(i.Id);
      found.push_back(std::move(info));
    }
    return true;
  }

  // THidBinding
  THidHandle Open(const std::string& path, THidAccess access) override {
    std::lock_guard lock(mutex_);
    ++calls_;
    const FakeInterface* i = Find(path);
    if (!i) return kNoHidHandle;
    if (access == THidAccess::QueryOnly ? !i->Query : !i->ReadWrite) return kNoHidHandle;
    ++opens_[access];
    const THidHandle handle = nextHandle_++;
    handles_[handle] = OpenHandle{i->Id, access, 32, {}};
    return handle;
  }
  void Close(THidHandle handle) override {
    std::lock_guard lock(mutex_);
    ++calls_;
    handles_.erase(handle);
    cv_.notify_all();
  }
  bool GetAttributes(THidHandle handle, THidAttributes& attributes) override {
    std::lock_guard lock(mutex_);
    ++calls_;
    const FakeInterface* i = FindByHandle(handle);
    if (!i || !i->Identifiable) return false;
    attributes = i->Attributes;
    return true;
  }
  THidPreparsedData GetPreparsedData(THidHandle handle) override {
    std::lock_guard lock(mutex_);
    ++calls_;
    const FakeInterface* i = FindByHandle(handle);
    return i ? new THidCaps(i->Caps) : nullptr;
  }
  void FreePreparsedData(THidPreparsedData data) override { delete static_cast<THidCaps*>(data); }
  bool GetCaps(THidPreparsedData data, THidCaps& caps) override {
    caps = *static_cast<THidCaps*>(data);
    return true;
  }
  bool SetNumInputBuffers(THidHandle handle, uint32_t count) override {
    std::lock_guard lock(mutex_);
    ++calls_;
    auto it = handles_.find(handle);
    if (it == handles_.end() || count < 2 || count > 512) return false;
    it->second.QueueLength = count;
    return true;
  }
  bool GetNumInputBuffers(THidHandle handle, uint32_t& count) override {
    std::lock_guard lock(mutex_);
    ++calls_;
    auto it = handles_.find(handle);
    if (it == handles_.end()) return false;
    count = it->second.QueueLength;
    return true;
  }
  bool FlushQueue(THidHandle handle) override {
    std::lock_guard lock(mutex_);
    ++calls_;
    return handles_.count(handle) != 0;
  }
  bool GetIndexedString(THidHandle handle, uint32_t index, std::u16string& text) override {
    std::lock_guard lock(mutex_);
    ++calls_;
    if (!handles_.count(handle)) return false;
    text = u"String " + std::u16string(1, static_cast<char16_t>(u'0' + index)) + u" \u0422\u0421";
    return true;
  }
  bool Write(THidHandle handle, const uint8_t* buffer, uint32_t length, uint32_t& written) override {
    std::unique_lock lock(mutex_);
    ++calls_;
    if (!handles_.count(handle) || !WriteAccepted) return false;
    ++writesPending_;
    cv_.wait_for(lock, std::chrono::seconds(5), [this] { return !holdWrites_; });
    --writesPending_;
    if (!handles_.count(handle)) ++writesOnClosedHandles_;
    writes_.emplace_back(buffer, buffer + length);
    thread_local int writesOnThisThread = 0;
    writeThreads_.emplace_back(std::this_thread::get_id(), ++writesOnThisThread);
    written = length;
    return true;
  }
  std::unique_ptr<THidReadRequest> NewReadRequest() override {
    {
      std::lock_guard lock(mutex_);
      if (NewRequestFails) throw std::bad_alloc();
    }
    return std::make_unique<Request>(*this);
  }

  static constexpr THidGuid kHidGuid = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x31}};

 private:
  struct OpenHandle {
    uint32_t Id;
    THidAccess Access;
    uint32_t QueueLength;
    std::deque<std::vector<uint8_t>> Queue;
  };

  class Request : public THidReadRequest {
   public:
    explicit Request(FakeBinding& b) : b_(b) {
      std::lock_guard lock(b_.mutex_);
      ++b_.liveRequests_;
    }
    ~Request() override {
      std::lock_guard lock(b_.mutex_);
      --b_.liveRequests_;
    }
    bool Start(THidHandle handle, uint8_t* buffer, uint32_t length, uint32_t& error) override {
      std::lock_guard lock(b_.mutex_);
      ++b_.readStarts_;
      if (b_.ReadStartFails || !b_.handles_.count(handle)) {
        error = b_.ReadStartFails ? b_.ReadStartError : kHidErrorInvalidHandle;
        return false;
      }
      handle_ = handle;
      buffer_ = buffer;
      length_ = length;
      completed_ = false;
      ++b_.readsBegun_;
      return true;
    }
    bool Wait(int32_t milliseconds) override {
      std::unique_lock lock(b_.mutex_);
      ++b_.waits_;
      b_.cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return Ready(); });
      if (!Ready()) return false;
      auto it = b_.handles_.find(handle_);
      error_ = 0;
      if (it == b_.handles_.end() || !b_.FindByHandle(handle_)) {
        result_ = 0;  // the handle or the device went: the read fails
        error_ = it == b_.handles_.end() ? kHidErrorInvalidHandle : b_.GoneError;
      } else if (b_.CompletionError != 0) {
        result_ = 0;
        error_ = b_.CompletionError;
      } else {
        std::vector<uint8_t> report = std::move(it->second.Queue.front());
        it->second.Queue.pop_front();
        result_ = std::min<uint32_t>(length_, static_cast<uint32_t>(report.size()));
        std::copy_n(report.begin(), result_, buffer_);
      }
      completed_ = true;
      return true;
    }
    uint32_t Result() override { return result_; }
    uint32_t Error() override { return error_; }
    bool Cancel() override {
      std::lock_guard lock(b_.mutex_);
      ++b_.cancels_;
      return true;
    }
    void Pause(int32_t milliseconds) override {
      {
        std::lock_guard lock(b_.mutex_);
        ++b_.pauses_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

   private:
    bool Ready() const {
      auto it = b_.handles_.find(handle_);
      return it == b_.handles_.end() || !b_.FindByHandle(handle_) || !it->second.Queue.empty() ||
             b_.CompletionError != 0;
    }
    FakeBinding& b_;
    THidHandle handle_ = kNoHidHandle;
    uint8_t* buffer_ = nullptr;
    uint32_t length_ = 0;
    uint32_t result_ = 0;
    uint32_t error_ = 0;
    bool completed_ = false;
  };

  static std::string Path(uint32_t id) { return "fake#" + std::to_string(id); }
  const FakeInterface* Find(const std::string& path) const {
    for (const FakeInterface& i : present_) {
      if (Path(i.Id) == path) return &i;
    }
    return nullptr;
  }
  const FakeInterface* FindByHandle(THidHandle handle) const {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return nullptr;
    for (const FakeInterface& i : present_) {
      if (i.Id == it->second.Id) return &i;
    }
    return nullptr;
  }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<FakeInterface> present_;
  std::map<THidHandle, OpenHandle> handles_;
  THidHandle nextHandle_ = 1;
  std::map<THidAccess, int> opens_;
  std::vector<std::vector<uint8_t>> writes_;
  int calls_ = 0;
  int waits_ = 0;
  int cancels_ = 0;
  int pauses_ = 0;
  int readStarts_ = 0;
  int readsBegun_ = 0;
  int liveRequests_ = 0;
  int enumerations_ = 0;
  bool holdWrites_ = false;
  std::vector<std::pair<std::thread::id, int>> writeThreads_;
  int writesPending_ = 0;
  int writesOnClosedHandles_ = 0;
  int liveRequestsAtUnload_ = -1;
  int unloads_ = 0;
};

// The test's thread is the user interface thread: it runs sent calls while it
// pumps or waits.
class FakeDispatcher : public TUiDispatcher {
 public:
  void Send(const std::function<void()>& call) override {
    std::unique_lock lock(mutex_);
    Task task{&call};
    queue_.push_back(&task);
    cv_.notify_all();
    cv_.wait(lock, [&task] { return task.Done; });
  }
  void Post(std::function<void()> call) override {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(call));
    cv_.notify_all();
  }
  std::unique_ptr<TUiSignal> NewSignal() override { return std::make_unique<Signal>(*this); }
  void WaitServing(TUiSignal& signal) override {
    auto& s = static_cast<Signal&>(signal);
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [&] { return s.IsSet || !queue_.empty(); });
      if (!queue_.empty()) {
        RunOne(lock);
      } else {
        return;
      }
    }
  }
  // Serves sent calls until done() holds or a generous deadline passes.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(mutex_);
    for (;;) {
      while (!queue_.empty() || !posted_.empty()) {
        if (!queue_.empty()) {
          RunOne(lock);
        } else {
          RunPosted(lock);
        }
      }
      lock.unlock();
      const bool finished = done();
      lock.lock();
      if (finished) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      cv_.wait_for(lock, std::chrono::milliseconds(2),
                   [this] { return !queue_.empty() || !posted_.empty(); });
    }
  }
  int Errors() const { return errors_; }
  // Calls sent and not yet served.
  size_t Pending() {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }

 private:
  struct Task {
    const std::function<void()>* Call;
    bool Done = false;
  };
  struct Signal : TUiSignal {
    explicit Signal(FakeDispatcher& d) : D(d) {}
    void Set() override {
      std::lock_guard lock(D.mutex_);
      IsSet = true;
      D.cv_.notify_all();
    }
    FakeDispatcher& D;
    bool IsSet = false;
  };
  void RunOne(std::unique_lock<std::mutex>& lock) {
    Task* task = queue_.front();
    queue_.pop_front();
    lock.unlock();
    try {
      (*task->Call)();
    } catch (...) {
      ++errors_;
    }
    lock.lock();
    task->Done = true;
    cv_.notify_all();
  }

  // The message loop's part: posted calls run from PumpUntil only.
  void RunPosted(std::unique_lock<std::mutex>& lock) {
    std::function<void()> call = std::move(posted_.front());
    posted_.pop_front();
    lock.unlock();
    try {
      call();
    } catch (...) {
      ++errors_;
    }
    lock.lock();
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Task*> queue_;
  std::deque<std::function<void()>> posted_;
  int errors_ = 0;
};

class FakeWatch : public TDeviceChangeWatch {
 public:
  explicit FakeWatch(int* starts = nullptr, int* stops = nullptr) : starts_(starts), stops_(stops) {}
  void Start(std::function<void()> onChange) override {
    if (starts_) ++*starts_;
    onChange_ = std::move(onChange);
  }
  void Stop() override {
    if (stops_) ++*stops_;
    onChange_ = nullptr;
  }
  // What a WM_DEVICECHANGE would do.
  void Fire() {
    if (onChange_) onChange_();
  }

 private:
  int* starts_;
  int* stops_;
  std::function<void()> onChange_;
};

}  // namespace ts::test
