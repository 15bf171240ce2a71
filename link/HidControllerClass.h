#pragma once
// The HID device controller and its devices. Everything here runs on the user
// interface thread; each device's reads run on its THidDeviceReadThread
// (link/HidReadThread.h).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/HidBinding.h"
#include "link/HidWriter.h"
#include "ui/Bound.h"
#include "ui/Exception.h"

namespace ts {

class THidDevice;
class THidDeviceController;
class THidDeviceReadThread;

using THidPlugEvent = TMethod<void(THidDevice* HidDev)>;
using THidEnumerateEvent = TMethod<bool(THidDevice* HidDev, int32_t Idx)>;
using THidDataEvent = TMethod<void(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size)>;
using THidDataErrorEvent = TMethod<void(THidDevice* HidDev, uint32_t Error)>;

class EControllerError : public Exception {
 public:
  using Exception::Exception;
};

struct THidEnvironment;
// Runs a device change from the user interface thread's message loop, unless
// the controller is gone by then. Callable from any thread.
void PostDeviceChange(const std::shared_ptr<THidEnvironment>& environment);

// What the controller and its devices share with the platform. Held by the
// devices too, since a lent device may outlive its controller.
struct THidEnvironment {
  std::shared_ptr<THidPlatform> Platform;
  std::shared_ptr<TUiDispatcher> Dispatcher;
  // The live controller, none once it is gone; read on the user interface
  // thread only, by calls posted there.
  THidDeviceController* Controller = nullptr;
  // Devices made so far, on the user interface thread: each takes the next
  // number as its serial, so a device is known by more than an address that a
  // later one may reuse.
  uint64_t DevicesMade = 0;
};

class THidDevice : public TObject {
 public:
  // Opens the interface to identify it; throws EControllerError when it cannot.
  THidDevice(std::unique_ptr<THidPnPInfo> pnpInfo, THidDeviceController* controller,
             std::shared_ptr<THidEnvironment> environment);
  ~THidDevice() override;
  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  const THidAttributes& Attributes() const { return attributes_; }
  const THidPnPInfo& PnPInfo() const { return *pnpInfo_; }
  THidCaps HIDCaps();
  // UTF-8; index 0 is always empty.
  std::string DeviceStrings(uint8_t Index);
  THidHandle HidFileHandle() const { return hidFileHandle_; }
  bool HasReadWriteAccess() const { return hasReadWriteAccess_; }
  bool IsCheckedOut() const { return isCheckedOut_; }
  bool IsPluggedIn() const { return isPluggedIn_; }
  uint64_t Serial() const { return serial_; }
  bool IsOffered() const { return isOffered_; }
  uint32_t MaxButtonListLength() const { return maxButtonListLength_; }
  uint32_t MaxDataListLength() const { return maxDataListLength_; }
  uint32_t MaxUsageListLength() const { return maxUsageListLength_; }

  int32_t NumInputBuffers() const { return numInputBuffers_; }
  void SetNumInputBuffers(int32_t value);
  int32_t NumOverlappedBuffers() const;
  void SetNumOverlappedBuffers(int32_t value);
  int32_t ThreadSleepTime() const { return threadSleepTime_; }
  void SetThreadSleepTime(int32_t value);
  // Readers replaced since the last steady reading: how long the next one waits.
  int ReaderRestarts() const { return readerRestarts_; }
  int32_t Tag() const { return tag_; }

  bool DiscardInput();
  // Writes on the device's writer thread while the user interface thread waits
  // serving sent messages and painting, so a device that stops taking reports
  // freezes nothing; a second write waits for the first to end.
  bool WriteReport(const void* Buffer, uint32_t Length, uint32_t& Written);

  const THidDataEvent& DeviceDataHandler() const { return deviceDataHandler_; }
  const THidDataErrorEvent& DeviceErrorHandler() const { return deviceErrorHandler_; }
  const THidPlugEvent& DeviceUnplugHandler() const { return deviceUnplugHandler_; }
  bool HasReaderThread() const { return readerThread_ != nullptr; }

 private:
  friend class THidDeviceController;
  friend class THidDeviceReadThread;

  bool IsAccessible() const { return isPluggedIn_ && (isCheckedOut_ || isOffered_); }
  THidBinding& Binding() const { return *pnpInfo_->Binding; }
  THidHandle OpenControlHandle(bool recordAccess);
  bool EnsureControlHandle();
  // The read handle, opened if need be; kNoHidHandle when the device is not
  // accessible or the handle cannot be opened. Called by both threads.
  THidHandle EnsureReadHandle();
  THidHandle EnsureReadHandleLocked();
  void CloseControlHandle();
  void CloseReadHandle();
  void CloseHandles();

  void SetDeviceDataHandler(THidDataEvent handler);
  void SetDeviceErrorHandler(THidDataErrorEvent handler) { deviceErrorHandler_ = handler; }
  void SetDeviceUnplugHandler(THidPlugEvent handler) { deviceUnplugHandler_ = handler; }
  void StartThread(int32_t delayMs = 0);
  void StopThread();
  // A reader that ended on an error while its device stays listed and lent is
  // replaced, after a pause that doubles with each replacement that does not
  // go on reading for a few seconds, up to a bound.
  void RestartEndedReader();
  void HandleUnplug();
  // Returns once no write is under way; device changes wait meanwhile.
  void WaitForWrite();

  THidDeviceController* controller_;
  std::shared_ptr<THidEnvironment> environment_;
  uint64_t serial_ = 0;
  std::unique_ptr<THidPnPInfo> pnpInfo_;
  std::atomic<bool> isPluggedIn_{true};
  std::atomic<bool> isCheckedOut_{false};
  std::atomic<bool> isOffered_{false};
  THidHandle hidFileHandle_ = kNoHidHandle;
  THidHandle writeHandle_ = kNoHidHandle;
  THidAttributes attributes_;
  THidPreparsedData preparsedData_ = nullptr;
  int32_t numInputBuffers_ = 0;
  std::atomic<int32_t> threadSleepTime_{100};
  uint32_t maxDataListLength_ = 0;
  uint32_t maxUsageListLength_ = 0;
  uint32_t maxButtonListLength_ = 0;
  bool hasReadWriteAccess_ = false;
  THidDataEvent deviceDataHandler_;
  THidDataErrorEvent deviceErrorHandler_;
  THidPlugEvent deviceUnplugHandler_;
  struct TPendingWrite {
    std::vector<uint8_t> Report;
    uint32_t Written = 0;
    bool Accepted = false;
    std::unique_ptr<TUiSignal> Ended;
  };
  std::shared_ptr<TPendingWrite> pendingWrite_;
  // Shared so that a stop nested in a hand-over served during another stop
  // cannot free the thread under the outer one.
  std::shared_ptr<THidDeviceReadThread> readerThread_;
  // Readers replaced since reading last went on for a while; the reader clears it.
  std::atomic<int> readerRestarts_{0};
  int32_t tag_ = 0;

  // The read handle is the one thing both threads open.
  mutable std::mutex readHandleMutex_;
  THidHandle readHandle_ = kNoHidHandle;
  int32_t numOverlappedBuffers_ = 0;
  // Last, so its thread ends before anything a write uses goes. Runs while the
  // device is lent: a device kept listed costs no thread.
  THidWriter writer_;
};

class THidDeviceController : public TObject {
 public:
  // Loads the libraries, scans, and starts the watch when HID services are
  // there. Throws EControllerError when another controller is alive.
  THidDeviceController(TObject* Owner, std::shared_ptr<THidPlatform> platform,
                       std::shared_ptr<TUiDispatcher> dispatcher, std::unique_ptr<TDeviceChangeWatch> watch);
  ~THidDeviceController() override;
  THidDeviceController(const THidDeviceController&) = delete;
  THidDeviceController& operator=(const THidDeviceController&) = delete;

  void DeviceChange();
  int32_t OfferDevices();
  bool CheckOutAt(THidDevice*& Device, int32_t Index);
  // Lends a device made over an interface no scan finds (a recording): it is
  // never listed, counted, offered or reported as arriving or going, and
  // ReturnDevice frees it. False when it cannot be opened or identified.
  bool CheckOutUnlisted(THidDevice*& Device, std::unique_ptr<THidPnPInfo> PnPInfo);
  void ReturnDevice(THidDevice*& Device);
  int32_t CountMatching(int32_t VendorID, int32_t ProductID) const;

  // The listed devices, in order; the list keeps them.
  std::vector<THidDevice*> DeviceList() const;
  const THidGuid& InterfaceClass() const { return interfaceClass_; }
  const std::string& Version() const { return version_; }
  TObject* Owner() const { return owner_; }
  bool DeviceChangeReported() const { return deviceChangeReported_; }
  int32_t NumCheckedInDevices() const { return numCheckedIn_; }
  int32_t NumCheckedOutDevices() const { return numCheckedOut_; }
  int32_t NumUnpluggedDevices() const { return numUnplugged_; }

  int32_t DevThreadSleepTime() const { return devThreadSleepTime_; }
  void SetDevThreadSleepTime(int32_t value);
  const THidPlugEvent& OnArrival() const { return onArrival_; }
  void SetOnArrival(THidPlugEvent handler) { onArrival_ = handler; }
  const THidPlugEvent& OnRemoval() const { return onRemoval_; }
  void SetOnRemoval(THidPlugEvent handler) { onRemoval_ = handler; }
  const THidEnumerateEvent& OnEnumerate() const { return onEnumerate_; }
  void SetOnEnumerate(THidEnumerateEvent handler) { onEnumerate_ = handler; }
  const TNotifyEvent& OnDeviceChange() const { return onDeviceChange_; }
  void SetOnDeviceChange(TNotifyEvent handler);
  const THidDataEvent& OnDeviceData() const { return onDeviceData_; }
  void SetOnDeviceData(THidDataEvent handler);
  const THidDataErrorEvent& OnDeviceDataError() const { return onDeviceDataError_; }
  void SetOnDeviceDataError(THidDataErrorEvent handler);
  const THidPlugEvent& OnDeviceUnplug() const { return onDeviceUnplug_; }
  void SetOnDeviceUnplug(THidPlugEvent handler);

 private:
  friend class THidDevice;
  friend void PostDeviceChange(const std::shared_ptr<THidEnvironment>& environment);

  // A device change that arrives while a handler of the last one pumps
  // messages runs after it, not inside it; one that arrives while the user
  // interface thread waits for a reader or a write (TChangeHold) runs from the
  // message loop once the last wait has ended.
  void WatchedDeviceChange();
  class TChangeHold {
   public:
    explicit TChangeHold(THidDeviceController* controller);
    ~TChangeHold();
    TChangeHold(const TChangeHold&) = delete;
    TChangeHold& operator=(const TChangeHold&) = delete;

   private:
    THidDeviceController* controller_;
  };

  std::vector<std::unique_ptr<THidPnPInfo>> Scan();
  // A device for the interface; none when it cannot be opened or identified.
  std::unique_ptr<THidDevice> Identify(std::unique_ptr<THidPnPInfo> info);
  int IndexOf(const THidDevice* device) const;
  void Recount();
  void FireOffered(const THidPlugEvent& event, THidDevice* device);

  TObject* owner_;
  std::shared_ptr<THidEnvironment> environment_;
  std::unique_ptr<TDeviceChangeWatch> watch_;
  bool librariesLoaded_ = false;
  bool watching_ = false;
  THidGuid interfaceClass_ = kFallbackHidInterfaceClass;
  std::vector<std::unique_ptr<THidDevice>> deviceList_;
  std::vector<std::unique_ptr<THidDevice>> unlisted_;  // lent out, owned here until returned
  int32_t devThreadSleepTime_ = 100;
  std::string version_ = "1.0.22";
  THidPlugEvent onArrival_;
  THidPlugEvent onRemoval_;
  TNotifyEvent onDeviceChange_;
  THidEnumerateEvent onEnumerate_;
  THidDataEvent onDeviceData_;
  THidDataErrorEvent onDeviceDataError_;
  THidPlugEvent onDeviceUnplug_;
  bool deviceChangeReported_ = false;
  bool inDeviceChange_ = false;
  bool changePending_ = false;
  int holds_ = 0;
  int32_t numCheckedIn_ = 0;
  int32_t numCheckedOut_ = 0;
  int32_t numUnplugged_ = 0;
};

}  // namespace ts
