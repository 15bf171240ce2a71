#include "link/HidProduction.h"

#include "link/HidBindingChain.h"
#include "link/HidWin32Binding.h"
#include "link/HidWin32Dispatcher.h"

namespace ts {

std::unique_ptr<THidDeviceController> CreateHidDeviceController(TObject* Owner, TPipeNotice notice) {
  std::vector<std::unique_ptr<THidBinding>> bindings;
  bindings.push_back(std::make_unique<THidWin32Binding>());
  bindings.push_back(std::make_unique<THidPipeBinding>(kVirtualInstrumentPipe, std::move(notice)));
  return std::make_unique<THidDeviceController>(
      Owner, std::make_shared<THidBindingChain>(std::move(bindings)), std::make_shared<THidWin32Dispatcher>(),
      std::make_unique<THidWindowDeviceWatch>());
}

}  // namespace ts
