#pragma once
// Whether the frame last presented was whole: every line group, both halves,
// arrived since the frame before it began. Both halves of group 0 present; a
// frame begins with the first of a run of them.

#include <bitset>
#include <cstdint>

namespace ts {

class TFrameIntegrity {
 public:
  // Takes one input report's data; answers true when it presents a frame.
  bool Add(const uint8_t* data, uint16_t size) {
    if (size < 62) return false;
    const uint8_t group = data[60];
    if (group < kGroups) seen_.set(size_t(group) * 2 + (data[61] != 0));
    if (group != 0) {
      inRun_ = false;
      return false;
    }
    if (!inRun_) {
      // Group 0 itself is drawn before the present, so it counts for this frame.
      complete_ = seen_.all();
      seen_.reset();
      seen_.set(size_t(data[61] != 0));
      inRun_ = true;
    }
    ++presents_;
    return true;
  }
  bool Complete() const { return complete_; }
  uint64_t Presents() const { return presents_; }

 private:
  static constexpr int kGroups = 80;
  std::bitset<kGroups * 2> seen_;
  bool complete_ = false;
  bool inRun_ = false;
  uint64_t presents_ = 0;
};

}  // namespace ts
