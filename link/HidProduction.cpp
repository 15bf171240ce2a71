#include "link/HidProduction.h"

#include "link/HidBindingChain.h"
#include "link/HidPipeBinding.h"
#include "link/HidWin32Binding.h"
#include "link/HidWin32Dispatcher.h"
#include "ui/Application.h"
#include "ui/ErrorReport.h"

namespace ts {

namespace {

// Hooks the application's hidden top-level window, which gets the broadcasts.
class THidApplicationDeviceWatch : public TObject, public TDeviceChangeWatch {
 public:
  ~THidApplicationDeviceWatch() override { Stop(); }

  void Start(std::function<void()> onChange) override {
    onChange_ = std::move(onChange);
    if (!hooked_ && Application) {
      Application->HookMainWindow(Bind(this, &THidApplicationDeviceWatch::Hook));
      hooked_ = true;
    }
  }
  void Stop() override {
    onChange_ = nullptr;
    if (hooked_ && Application) Application->UnhookMainWindow(Bind(this, &THidApplicationDeviceWatch::Hook));
    hooked_ = false;
  }

 private:
  bool Hook(TMessage& Message) {
    if (IsDeviceNodesChange(Message.Msg, Message.WParam) && onChange_) {
      const std::function<void()> onChange = onChange_;
      Guarded(onChange);
    }
    return false;  // the message takes its ordinary course
  }

  std::function<void()> onChange_;
  bool hooked_ = false;
};

}  // namespace

std::unique_ptr<THidDeviceController> CreateHidDeviceController(TObject* Owner, TPipeNotice notice) {
  std::vector<std::unique_ptr<THidBinding>> bindings;
  bindings.push_back(std::make_unique<THidWin32Binding>());
  bindings.push_back(std::make_unique<THidPipeBinding>(kVirtualInstrumentPipe, std::move(notice)));
  return std::make_unique<THidDeviceController>(
      Owner, std::make_shared<THidBindingChain>(std::move(bindings)), std::make_shared<THidWin32Dispatcher>(),
      std::make_unique<THidApplicationDeviceWatch>());
}

}  // namespace ts
