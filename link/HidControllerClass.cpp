#include "link/HidControllerClass.h"

#include <algorithm>

#include "link/HidReadThread.h"
#include "ui/Cp1251.h"

namespace ts {

namespace {

std::atomic<int> liveControllers{0};

constexpr int32_t kMinThreadSleepTime = 10;
constexpr int32_t kMaxThreadSleepTime = 10000;
constexpr int32_t kFirstRestartDelayMs = 20;
constexpr int32_t kMaxRestartDelayMs = 2000;

// Keeps IsOffered true for the duration of one handler call, also when it throws.
class TOfferedScope {
 public:
  explicit TOfferedScope(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
  ~TOfferedScope() { flag_ = false; }
  TOfferedScope(const TOfferedScope&) = delete;
  TOfferedScope& operator=(const TOfferedScope&) = delete;

 private:
  std::atomic<bool>& flag_;
};

}  // namespace

// ---------------------------------------------------------------------------
// THidDevice

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> pnpInfo, THidDeviceController* controller,
                       std::shared_ptr<THidEnvironment> environment)
    : controller_(controller),
      environment_(std::move(environment)),
      serial_(environment_ ? ++environment_->DevicesMade : 0),
      pnpInfo_(std::move(pnpInfo)) {
  if (!pnpInfo_ || !pnpInfo_->Binding) throw EControllerError("device cannot be opened");
  if (controller_) {
    SetDeviceDataHandler(controller_->onDeviceData_);
    deviceErrorHandler_ = controller_->onDeviceDataError_;
    deviceUnplugHandler_ = controller_->onDeviceUnplug_;
  }
  hidFileHandle_ = OpenControlHandle(true);
  if (hidFileHandle_ == kNoHidHandle) throw EControllerError("device cannot be opened");
  // The attribute record's size field is the platform binding's business.
  const bool identified = Binding().GetAttributes(hidFileHandle_, attributes_);
  CloseControlHandle();
  if (!identified) throw EControllerError("device cannot be identified");
}

THidDevice::~THidDevice() {
  const THidDataEvent dataHandler = deviceDataHandler_;
  const THidPlugEvent unplugHandler = deviceUnplugHandler_;
  try {
    SetDeviceDataHandler(nullptr);
  } catch (...) {
  }
  deviceUnplugHandler_ = nullptr;
  CloseHandles();
  if (preparsedData_) {
    Binding().FreePreparsedData(preparsedData_);
    preparsedData_ = nullptr;
  }
  if (!controller_) return;
  auto& list = controller_->deviceList_;
  const int index = controller_->IndexOf(this);
  if (index < 0) return;
  // Whoever deletes a listed device takes it from the list: the list lets go of
  // it without freeing it a second time.
  static_cast<void>(list[index].release());
  if (!isPluggedIn_) {
    list.erase(list.begin() + index);
    return;
  }
  // A listed device that is still plugged in gives its place to a fresh one
  // for the same interface. The controller itself never gets here.
  try {
    auto fresh = std::make_unique<THidDevice>(std::move(pnpInfo_), controller_, environment_);
    fresh->SetDeviceDataHandler(dataHandler);
    fresh->deviceUnplugHandler_ = unplugHandler;
    fresh->SetThreadSleepTime(ThreadSleepTime());
    list[index] = std::move(fresh);
  } catch (...) {
    list.erase(list.begin() + index);
  }
}

THidHandle THidDevice::OpenControlHandle(bool recordAccess) {
  const std::string& path = pnpInfo_->DevicePath;
  THidHandle handle = Binding().Open(path, THidAccess::ReadWrite);
  if (recordAccess) hasReadWriteAccess_ = handle != kNoHidHandle;
  if (handle == kNoHidHandle) handle = Binding().Open(path, THidAccess::QueryOnly);
  return handle;
}

bool THidDevice::EnsureControlHandle() {
  if (IsAccessible() && hidFileHandle_ == kNoHidHandle) {
    hidFileHandle_ = OpenControlHandle(true);
    if (hidFileHandle_ != kNoHidHandle) {
      if (numInputBuffers_ != 0)
        Binding().SetNumInputBuffers(hidFileHandle_, static_cast<uint32_t>(numInputBuffers_));
      uint32_t count = 0;
      if (Binding().GetNumInputBuffers(hidFileHandle_, count)) numInputBuffers_ = static_cast<int32_t>(count);
    }
  }
  return hidFileHandle_ != kNoHidHandle;
}

THidHandle THidDevice::EnsureReadHandle() {
  std::lock_guard lock(readHandleMutex_);
  return EnsureReadHandleLocked();
}

THidHandle THidDevice::EnsureReadHandleLocked() {
  if (!IsAccessible()) return kNoHidHandle;
  if (readHandle_ == kNoHidHandle) {
    readHandle_ = Binding().Open(pnpInfo_->DevicePath, THidAccess::OverlappedRead);
    if (readHandle_ != kNoHidHandle) {
      if (numOverlappedBuffers_ != 0) {
        Binding().SetNumInputBuffers(readHandle_, static_cast<uint32_t>(numOverlappedBuffers_));
      }
      uint32_t count = 0;
      if (Binding().GetNumInputBuffers(readHandle_, count))
        numOverlappedBuffers_ = static_cast<int32_t>(count);
    }
  }
  return readHandle_;
}

void THidDevice::CloseControlHandle() {
  // Never under a write: the write uses this handle.
  WaitForWrite();
  if (hidFileHandle_ != kNoHidHandle) {
    Binding().Close(hidFileHandle_);
    hidFileHandle_ = kNoHidHandle;
  }
  numInputBuffers_ = 0;
}

void THidDevice::CloseReadHandle() {
  std::lock_guard lock(readHandleMutex_);
  if (readHandle_ != kNoHidHandle) {
    Binding().Close(readHandle_);
    readHandle_ = kNoHidHandle;
  }
  numOverlappedBuffers_ = 0;
}

void THidDevice::CloseHandles() {
  CloseControlHandle();
  CloseReadHandle();
  if (writeHandle_ != kNoHidHandle) {
    Binding().Close(writeHandle_);
    writeHandle_ = kNoHidHandle;
  }
}

THidCaps THidDevice::HIDCaps() {
  THidCaps caps{};
  if (!preparsedData_ && EnsureControlHandle()) {
    preparsedData_ = Binding().GetPreparsedData(hidFileHandle_);
    CloseControlHandle();
  }
  if (preparsedData_ && !Binding().GetCaps(preparsedData_, caps)) caps = THidCaps{};
  return caps;
}

std::string THidDevice::DeviceStrings(uint8_t Index) {
  if (Index == 0 || !EnsureControlHandle()) return {};
  std::u16string text;
  if (!Binding().GetIndexedString(hidFileHandle_, Index, text)) return {};
  if (const auto end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
  return Utf16ToUtf8(text);
}

void THidDevice::SetNumInputBuffers(int32_t value) {
  if (value == numInputBuffers_ || !EnsureControlHandle()) return;
  Binding().SetNumInputBuffers(hidFileHandle_, static_cast<uint32_t>(value));
  uint32_t count = 0;
  if (Binding().GetNumInputBuffers(hidFileHandle_, count)) numInputBuffers_ = static_cast<int32_t>(count);
}

int32_t THidDevice::NumOverlappedBuffers() const {
  std::lock_guard lock(readHandleMutex_);
  return numOverlappedBuffers_;
}

void THidDevice::SetNumOverlappedBuffers(int32_t value) {
  std::lock_guard lock(readHandleMutex_);
  if (value == numOverlappedBuffers_) return;
  const THidHandle handle = EnsureReadHandleLocked();
  if (handle == kNoHidHandle) return;
  Binding().SetNumInputBuffers(handle, static_cast<uint32_t>(value));
  uint32_t count = 0;
  if (Binding().GetNumInputBuffers(handle, count)) numOverlappedBuffers_ = static_cast<int32_t>(count);
}

void THidDevice::SetThreadSleepTime(int32_t value) {
  if (value >= kMinThreadSleepTime && value <= kMaxThreadSleepTime) threadSleepTime_ = value;
}

bool THidDevice::DiscardInput() { return EnsureControlHandle() && Binding().FlushQueue(hidFileHandle_); }

bool THidDevice::WriteReport(const void* Buffer, uint32_t Length, uint32_t& Written) {
  Written = 0;
  WaitForWrite();
  if (!EnsureControlHandle()) return false;
  auto write = std::make_shared<TPendingWrite>();
  // A copy: the caller may build its next report while this one is written.
  const auto* bytes = static_cast<const uint8_t*>(Buffer);
  write->Report.assign(bytes, bytes + Length);
  write->Ended = environment_->Dispatcher->NewSignal();
  writer_.Post([write, &binding = Binding(), handle = hidFileHandle_]() noexcept {
    try {
      write->Accepted = binding.Write(handle, write->Report.data(),
                                      static_cast<uint32_t>(write->Report.size()), write->Written);
    } catch (...) {
      write->Accepted = false;
    }
    write->Ended->Set();
  });
  pendingWrite_ = write;
  WaitForWrite();
  Written = write->Written;
  return write->Accepted;
}

void THidDevice::WaitForWrite() {
  while (const std::shared_ptr<TPendingWrite> write = pendingWrite_) {
    {
      THidDeviceController::TChangeHold hold(controller_);
      environment_->Dispatcher->WaitServing(*write->Ended);
    }
    // A wait nested in this one may have ended it already.
    if (pendingWrite_ == write) pendingWrite_.reset();
  }
}

void THidDevice::SetDeviceDataHandler(THidDataEvent handler) {
  if (!handler) StopThread();
  deviceDataHandler_ = handler;
  StartThread();
}

void THidDevice::StartThread(int32_t delayMs) {
  if (!deviceDataHandler_ || !isPluggedIn_ || !isCheckedOut_ || !hasReadWriteAccess_ || readerThread_) return;
  const uint16_t length = HIDCaps().InputReportByteLength;
  // A report ID and at least one byte, or there is nothing to read.
  if (length < 2) return;
  readerThread_ = std::make_shared<THidDeviceReadThread>(*this, length);
  readerThread_->Start(delayMs);
}

void THidDevice::RestartEndedReader() {
  if (!readerThread_ || !readerThread_->Ended() || !isPluggedIn_ || !isCheckedOut_) return;
  StopThread();
  // The handle the last reader failed on may be dead for good.
  CloseReadHandle();
  const int restarts = readerRestarts_++;
  StartThread(std::min(kFirstRestartDelayMs << std::min(restarts, 8), kMaxRestartDelayMs));
}

void THidDevice::StopThread() {
  const std::shared_ptr<THidDeviceReadThread> thread = readerThread_;
  if (!thread) return;
  THidDeviceController::TChangeHold hold(controller_);
  thread->StopAndWait();
  if (readerThread_ == thread) readerThread_.reset();
}

void THidDevice::HandleUnplug() {
  CloseControlHandle();
  // A running reader may have a read outstanding on its handle; that handle is
  // closed once the reader has stopped (return or destruction), never under it.
  if (!readerThread_) CloseReadHandle();
  if (writeHandle_ != kNoHidHandle) {
    Binding().Close(writeHandle_);
    writeHandle_ = kNoHidHandle;
  }
  isPluggedIn_ = false;
  const THidPlugEvent handler = deviceUnplugHandler_;
  deviceUnplugHandler_ = nullptr;
  if (handler) handler(this);
}

// ---------------------------------------------------------------------------
// THidDeviceController

THidDeviceController::THidDeviceController(TObject* Owner, std::shared_ptr<THidPlatform> platform,
                                           std::shared_ptr<TUiDispatcher> dispatcher,
                                           std::unique_ptr<TDeviceChangeWatch> watch)
    : owner_(Owner),
      environment_(std::make_shared<THidEnvironment>(
          THidEnvironment{std::move(platform), std::move(dispatcher), this})),
      watch_(std::move(watch)) {
  librariesLoaded_ = environment_->Platform->LoadLibraries();
  interfaceClass_ = librariesLoaded_ ? environment_->Platform->HidGuid() : kFallbackHidInterfaceClass;
  if (++liveControllers > 1) {
    --liveControllers;
    if (librariesLoaded_) environment_->Platform->UnloadLibraries();
    throw EControllerError("Only one THidDeviceController allowed per program");
  }
  try {
    for (auto& info : Scan())
      if (auto device = Identify(std::move(info))) deviceList_.push_back(std::move(device));
    Recount();
    if (librariesLoaded_ && watch_) {
      watch_->Start([this] { WatchedDeviceChange(); });
      watching_ = true;
    }
  } catch (...) {
    // No destructor runs for a constructor that throws: undo by hand.
    for (auto& device : deviceList_) device->controller_ = nullptr;
    deviceList_.clear();
    --liveControllers;
    environment_->Controller = nullptr;
    if (librariesLoaded_) environment_->Platform->UnloadLibraries();
    throw;
  }
}

THidDeviceController::~THidDeviceController() {
  --liveControllers;
  environment_->Controller = nullptr;
  onDeviceChange_ = nullptr;
  onDeviceUnplug_ = nullptr;
  onEnumerate_ = nullptr;
  if (watching_) watch_->Stop();
  watching_ = false;
  std::vector<std::unique_ptr<THidDevice>> devices = std::move(deviceList_);
  deviceList_.clear();
  for (auto& device : unlisted_) devices.push_back(std::move(device));
  unlisted_.clear();
  for (auto& device : devices) {
    device->controller_ = nullptr;
    if (device->IsCheckedOut()) {
      // Whoever holds it keeps it, now unplugged, and deletes it; its reader
      // stops here, as it reads through the libraries unloaded below and hands
      // its reports to handlers that may be going too.
      try {
        device->StopThread();
        device->HandleUnplug();
      } catch (...) {
      }
      static_cast<void>(device.release());
    }
    device.reset();
  }
  if (librariesLoaded_) environment_->Platform->UnloadLibraries();
}

std::vector<std::unique_ptr<THidPnPInfo>> THidDeviceController::Scan() {
  std::vector<std::unique_ptr<THidPnPInfo>> found;
  if (librariesLoaded_ && !environment_->Platform->Enumerate(interfaceClass_, found)) found.clear();
  return found;
}

std::unique_ptr<THidDevice> THidDeviceController::Identify(std::unique_ptr<THidPnPInfo> info) {
  try {
    return std::make_unique<THidDevice>(std::move(info), this, environment_);
  } catch (const EControllerError&) {
    return nullptr;  // cannot be opened or identified: left out without a word
  }
}

int THidDeviceController::IndexOf(const THidDevice* device) const {
  const auto it =
      std::find_if(deviceList_.begin(), deviceList_.end(),
                   [device](const std::unique_ptr<THidDevice>& listed) { return listed.get() == device; });
  return it == deviceList_.end() ? -1 : static_cast<int>(it - deviceList_.begin());
}

std::vector<THidDevice*> THidDeviceController::DeviceList() const {
  std::vector<THidDevice*> devices;
  devices.reserve(deviceList_.size());
  for (const auto& device : deviceList_) devices.push_back(device.get());
  return devices;
}

void THidDeviceController::Recount() {
  numCheckedIn_ = numCheckedOut_ = numUnplugged_ = 0;
  for (const auto& device : deviceList_) {
    if (device->IsCheckedOut()) {
      ++numCheckedOut_;
    } else {
      ++numCheckedIn_;
    }
    if (!device->IsPluggedIn()) ++numUnplugged_;
  }
  numCheckedOut_ -= numUnplugged_;
}

void THidDeviceController::FireOffered(const THidPlugEvent& event, THidDevice* device) {
  TOfferedScope offered(device->isOffered_);
  if (event) event(device);
}

THidDeviceController::TChangeHold::TChangeHold(THidDeviceController* controller) : controller_(controller) {
  if (controller_) ++controller_->holds_;
}

THidDeviceController::TChangeHold::~TChangeHold() {
  if (!controller_ || --controller_->holds_ > 0 || !controller_->changePending_) return;
  // A device change that is being reported picks the pending one up itself.
  if (controller_->inDeviceChange_) return;
  controller_->changePending_ = false;
  try {
    PostDeviceChange(controller_->environment_);
  } catch (...) {
    controller_->changePending_ = true;  // the next device change brings it
  }
}

void PostDeviceChange(const std::shared_ptr<THidEnvironment>& environment) {
  // Weak: a call still queued must not keep the dispatcher that queues it alive.
  environment->Dispatcher->Post([weak = std::weak_ptr<THidEnvironment>(environment)] {
    const std::shared_ptr<THidEnvironment> environment = weak.lock();
    if (environment && environment->Controller) environment->Controller->WatchedDeviceChange();
  });
}

void THidDeviceController::WatchedDeviceChange() {
  if (inDeviceChange_ || holds_ > 0) {
    changePending_ = true;
    return;
  }
  inDeviceChange_ = true;
  try {
    do {
      changePending_ = false;
      DeviceChange();
    } while (changePending_);
  } catch (...) {
    inDeviceChange_ = false;
    throw;
  }
  inDeviceChange_ = false;
}

void THidDeviceController::DeviceChange() {
  // Only interfaces not listed yet are opened: a listed one that cannot be
  // opened for a moment (a server at its cap) is still there.
  std::vector<std::unique_ptr<THidPnPInfo>> fresh = Scan();
  // The device node and the path together: Wine hands out device nodes by
  // position in each enumeration, so a device plugged in before others in the
  // list takes over another's number.
  const auto same = [](const THidPnPInfo& a, const THidPnPInfo& b) {
    return a.DeviceID == b.DeviceID && a.DevicePath == b.DevicePath;
  };
  const auto inFresh = [&fresh, &same](const THidPnPInfo& listed) {
    return std::any_of(fresh.begin(), fresh.end(), [&](const auto& f) { return same(*f, listed); });
  };
  bool changed = false;

  for (int i = static_cast<int>(deviceList_.size()) - 1; i >= 0; --i) {
    if (i >= static_cast<int>(deviceList_.size())) continue;  // a handler shortened the list
    THidDevice* device = deviceList_[i].get();
    if (device->IsPluggedIn() && inFresh(device->PnPInfo())) continue;
    device->HandleUnplug();
    FireOffered(onRemoval_, device);
    if (const int index = IndexOf(device); !device->IsCheckedOut() && index >= 0) {
      // Out of the list before it goes, so its destructor finds no place to fill.
      const std::unique_ptr<THidDevice> gone = std::move(deviceList_[index]);
      deviceList_.erase(deviceList_.begin() + index);
    }
    changed = true;
  }

  std::erase_if(fresh, [this, &same](const std::unique_ptr<THidPnPInfo>& f) {
    return std::any_of(deviceList_.begin(), deviceList_.end(),
                       [&](const std::unique_ptr<THidDevice>& listed) {
                         return listed->IsPluggedIn() && same(listed->PnPInfo(), *f);
                       });
  });

  for (auto& f : fresh) {
    std::unique_ptr<THidDevice> identified = Identify(std::move(f));
    if (!identified) continue;
    THidDevice* device = identified.get();
    deviceList_.push_back(std::move(identified));
    changed = true;
    FireOffered(onArrival_, device);
  }

  // A lent device the scan keeps whose reader failed: it is read again.
  for (size_t i = 0; i < deviceList_.size(); ++i) deviceList_[i]->RestartEndedReader();

  Recount();
  if ((changed || !deviceChangeReported_) && onDeviceChange_) onDeviceChange_(this);
}

int32_t THidDeviceController::OfferDevices() {
  int32_t count = 0;
  for (size_t i = 0; i < deviceList_.size(); ++i) {
    THidDevice* device = deviceList_[i].get();
    if (!device->IsPluggedIn()) continue;
    ++count;
    bool goOn = false;
    {
      TOfferedScope offered(device->isOffered_);
      try {
        goOn = onEnumerate_ && onEnumerate_(device, static_cast<int32_t>(i));
      } catch (...) {
        device->isOffered_ = false;
        if (!device->IsCheckedOut()) device->CloseHandles();
        throw;
      }
    }
    // The handler may have opened handles on a device it did not keep.
    if (!device->IsCheckedOut()) device->CloseHandles();
    if (!goOn) break;
  }
  return count;
}

bool THidDeviceController::CheckOutAt(THidDevice*& Device, int32_t Index) {
  Device = nullptr;
  if (Index < 0 || Index >= static_cast<int32_t>(deviceList_.size())) return false;
  THidDevice* device = deviceList_[static_cast<size_t>(Index)].get();
  if (device->IsCheckedOut()) return false;
  Device = device;
  device->isCheckedOut_ = true;
  --numCheckedIn_;
  ++numCheckedOut_;
  device->StartThread();
  device->writer_.Start();
  return true;
}

bool THidDeviceController::CheckOutUnlisted(THidDevice*& Device, std::unique_ptr<THidPnPInfo> PnPInfo) {
  Device = nullptr;
  std::unique_ptr<THidDevice> device;
  try {
    device = std::make_unique<THidDevice>(std::move(PnPInfo), this, environment_);
  } catch (const EControllerError&) {
    return false;
  }
  device->isCheckedOut_ = true;
  Device = device.get();
  unlisted_.push_back(std::move(device));
  Device->StartThread();
  Device->writer_.Start();
  return true;
}

void THidDeviceController::ReturnDevice(THidDevice*& Device) {
  THidDevice* device = Device;
  if (!device) return;
  // Out of every list before anything waits: whatever runs while the reader
  // stops no longer finds the device, so cannot return or delete it again.
  Device = nullptr;
  const bool gone = !device->IsPluggedIn();
  // A gone or unlisted device, freed once its reader has stopped.
  std::unique_ptr<THidDevice> owned;
  const auto unlisted =
      std::find_if(unlisted_.begin(), unlisted_.end(),
                   [device](const std::unique_ptr<THidDevice>& d) { return d.get() == device; });
  if (unlisted != unlisted_.end()) {
    owned = std::move(*unlisted);
    unlisted_.erase(unlisted);
  } else if (gone) {
    if (const int index = IndexOf(device); index >= 0) {
      owned = std::move(deviceList_[index]);
      deviceList_.erase(deviceList_.begin() + index);
    } else {
      owned.reset(device);  // lent by a controller that has gone since
    }
  }
  device->StopThread();
  device->CloseHandles();
  device->writer_.Stop();
  if (owned) return;
  if (device->IsCheckedOut()) {
    ++numCheckedIn_;
    --numCheckedOut_;
  }
  device->isCheckedOut_ = false;
}

int32_t THidDeviceController::CountMatching(int32_t VendorID, int32_t ProductID) const {
  return static_cast<int32_t>(std::count_if(deviceList_.begin(), deviceList_.end(), [&](const auto& d) {
    return d->IsPluggedIn() && d->Attributes().VendorID == VendorID &&
           (ProductID == -1 || d->Attributes().ProductID == ProductID);
  }));
}

void THidDeviceController::SetDevThreadSleepTime(int32_t value) {
  if (value == devThreadSleepTime_) return;
  for (const auto& device : deviceList_) {
    if (device->ThreadSleepTime() == devThreadSleepTime_) device->SetThreadSleepTime(value);
  }
  devThreadSleepTime_ = value;
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent handler) {
  if (handler == onDeviceChange_) return;
  onDeviceChange_ = handler;
  DeviceChange();
  deviceChangeReported_ = true;
}

void THidDeviceController::SetOnDeviceData(THidDataEvent handler) {
  if (handler == onDeviceData_) return;
  const std::vector<THidDevice*> devices = DeviceList();
  for (THidDevice* device : devices) {
    if (device->DeviceDataHandler() == onDeviceData_) device->SetDeviceDataHandler(handler);
  }
  onDeviceData_ = handler;
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent handler) {
  if (handler == onDeviceDataError_) return;
  for (const auto& device : deviceList_) {
    if (device->DeviceErrorHandler() == onDeviceDataError_) device->SetDeviceErrorHandler(handler);
  }
  onDeviceDataError_ = handler;
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent handler) {
  if (handler == onDeviceUnplug_) return;
  for (const auto& device : deviceList_) {
    if (device->DeviceUnplugHandler() == onDeviceUnplug_) device->SetDeviceUnplugHandler(handler);
  }
  onDeviceUnplug_ = handler;
}

}  // namespace ts
