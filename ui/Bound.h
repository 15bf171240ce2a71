#pragma once
// Bound methods: an object together with one of its member functions. Handlers are
// attached as bound methods and compared (attaching the same handler twice must be
// recognised), which std::function cannot do.

#include <cstring>
#include <utility>

namespace ts {

class TObject {
 public:
  virtual ~TObject() = default;
};

template <class Sig>
class TMethod;

template <class R, class... A>
class TMethod<R(A...)> {
 public:
  TMethod() = default;
  TMethod(std::nullptr_t) {}

  template <class C>
  TMethod(C* object, R (C::*function)(A...)) : object_(object), call_(&Call<C>) {
    static_assert(sizeof(function) <= sizeof(function_));
    std::memcpy(function_, &function, sizeof function);
  }

  explicit operator bool() const { return call_ != nullptr; }

  R operator()(A... args) const { return call_(object_, function_, std::forward<A>(args)...); }

  friend bool operator==(const TMethod& x, const TMethod& y) {
    return x.object_ == y.object_ && x.call_ == y.call_ &&
           std::memcmp(x.function_, y.function_, sizeof x.function_) == 0;
  }

 private:
  using Thunk = R (*)(void*, const unsigned char*, A...);

  // GCC 12 cannot see through the memcpy below and warns about the object.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
  template <class C>
  static R Call(void* object, const unsigned char* stored, A... args) {
    R (C::*function)(A...) = nullptr;
    std::memcpy(&function, stored, sizeof function);
    return (static_cast<C*>(object)->*function)(std::forward<A>(args)...);
  }
#pragma GCC diagnostic pop

  void* object_ = nullptr;
  Thunk call_ = nullptr;
  alignas(void*) unsigned char function_[2 * sizeof(void*)] = {};
};

template <class C, class R, class... A>
TMethod<R(A...)> Bind(C* object, R (C::*function)(A...)) {
  return TMethod<R(A...)>(object, function);
}

using TNotifyEvent = TMethod<void(TObject* Sender)>;

}  // namespace ts
