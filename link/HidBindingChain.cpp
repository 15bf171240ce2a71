#include "link/HidBindingChain.h"

namespace ts {

THidBindingChain::THidBindingChain(std::vector<std::unique_ptr<THidBinding>> members)
    : members_(std::move(members)), loaded_(members_.size(), false) {}

bool THidBindingChain::LoadLibraries() {
  bool any = false;
  for (size_t i = 0; i < members_.size(); ++i) {
    loaded_[i] = members_[i]->LoadLibraries();
    any = any || loaded_[i];
  }
  return any;
}

void THidBindingChain::UnloadLibraries() {
  for (size_t i = 0; i < members_.size(); ++i) {
    if (loaded_[i]) members_[i]->UnloadLibraries();
    loaded_[i] = false;
  }
}

THidGuid THidBindingChain::HidGuid() {
  for (size_t i = 0; i < members_.size(); ++i) {
    if (loaded_[i]) return members_[i]->HidGuid();
  }
  return kFallbackHidInterfaceClass;
}

bool THidBindingChain::Enumerate(const THidGuid& interfaceClass,
                                 std::vector<std::unique_ptr<THidPnPInfo>>& found) {
  bool any = false;
  for (size_t i = 0; i < members_.size(); ++i) {
    if (loaded_[i] && members_[i]->Enumerate(interfaceClass, found)) any = true;
  }
  return any;
}

}  // namespace ts
