#include "screen/DDrawBase.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

#include "screen/DDrawConsts.h"
#include "ui/Cp1251.h"
#include "ui/ErrorReport.h"
#include "ui/Exception.h"

namespace ts {
namespace {

// Libraries stay loaded for the life of the process and go with it: wrappers may hold
// interfaces from them until the very end, and unloading DirectDraw from a static
// destructor, while its worker threads still run, brings the process down.
class TLibraryList {
 public:
  HMODULE Find(const std::string& key) const {
    auto it = libraries_.find(key);
    return it == libraries_.end() ? nullptr : it->second;
  }
  void Add(const std::string& key, HMODULE module) { libraries_[key] = module; }

 private:
  std::map<std::string, HMODULE> libraries_;
};

TLibraryList& Libraries() {
  static TLibraryList list;
  return list;
}

}  // namespace

FARPROC LoadPlatformFunction(const char* file, const char* function) {
  std::string key(file);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  HMODULE module = Libraries().Find(key);
  if (!module) {
    module = LoadLibraryA(file);
    if (!module) throw Exception(Format(kSNotLoaded, file));
    Libraries().Add(key, module);
  }
  FARPROC proc = GetProcAddress(module, function);
  if (!proc) throw Exception(Format(kSNotLoaded, file));
  return proc;
}

TControlSubClass::TControlSubClass(HWND window, THandler handler) : window_(window), handler_(handler) {
  hooked_ = window_ && SetWindowSubclass(window_, &Proc, reinterpret_cast<UINT_PTR>(this),
                                         reinterpret_cast<DWORD_PTR>(this));
}

TControlSubClass::~TControlSubClass() { Unhook(); }

void TControlSubClass::Unhook() {
  if (hooked_) RemoveWindowSubclass(window_, &Proc, reinterpret_cast<UINT_PTR>(this));
  hooked_ = false;
}

LRESULT TControlSubClass::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefSubclassProc(window_, message, wParam, lParam);
}

LRESULT CALLBACK TControlSubClass::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR data) {
  auto* self = reinterpret_cast<TControlSubClass*>(data);
  if (message == WM_NCDESTROY) {
    self->Unhook();
    return DefSubclassProc(window, message, wParam, lParam);
  }
  return Guarded(
      [&] {
        if (self->handler_) return self->handler_(*self, message, wParam, lParam);
        return self->CallPrevious(message, wParam, lParam);
      },
      LRESULT{0});
}

}  // namespace ts
