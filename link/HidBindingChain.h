#pragma once

#include <memory>
#include <vector>

#include "link/HidBinding.h"

namespace ts {

// Several bindings listed one after the other (real HID first, then the
// virtual instrument). Each record keeps the binding that found it.
class THidBindingChain : public THidPlatform {
 public:
  explicit THidBindingChain(std::vector<std::unique_ptr<THidBinding>> members);
  bool LoadLibraries() override;
  void UnloadLibraries() override;
  THidGuid HidGuid() override;
  bool Enumerate(const THidGuid& interfaceClass, std::vector<std::unique_ptr<THidPnPInfo>>& found) override;

 private:
  std::vector<std::unique_ptr<THidBinding>> members_;
  std::vector<bool> loaded_;
};

}  // namespace ts
