#pragma once
// The one way a sending button disables itself: for the lifetime of this guard,
// which a click handler makes exactly the length of its send; also when the send
// throws.

#include <functional>

#include "ui/Controls.h"

namespace ts {

class TDisabledWhileSending {
 public:
  // beforeEnable runs while the button still shows the send as pending, e.g. to
  // drop what the user queued meanwhile.
  explicit TDisabledWhileSending(TWinControl& button, std::function<void()> beforeEnable = {});
  ~TDisabledWhileSending();
  TDisabledWhileSending(const TDisabledWhileSending&) = delete;
  TDisabledWhileSending& operator=(const TDisabledWhileSending&) = delete;

 private:
  TWinControl& button_;
  std::function<void()> beforeEnable_;
  bool hadFocus_;
};

}  // namespace ts
