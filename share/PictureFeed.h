#pragma once
// What a viewer of the shared screen sees: the screen model's picture as last
// presented, one bit a pixel, with a count of presents, and the link's state and
// data rate. A view of the model on the user interface thread; read from any
// thread. Knows nothing of the server, so it moves with the link.

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>

#include "screen/ScreenModel.h"

namespace ts {

inline constexpr int kFeedRowBytes = kScreenWidth / 8;
inline constexpr int kFeedBytes = kFeedRowBytes * kScreenHeight;  // 9600

struct TFeedState {
  uint64_t Presents = 0;  // 0: nothing presented yet
  uint64_t LinkChanges = 0;
  bool Linked = false;
  int64_t Rate = 0;  // bytes a second
  // Rows top to bottom, most significant bit leftmost, a set bit black.
  std::array<uint8_t, kFeedBytes> Bits{};
};

class TPictureFeed {
 public:
  // The model's view: a present copies its picture.
  void Show(const TScreenModel& model, bool presents);
  void SetLink(bool linked, int64_t rate);

  // Copies what has changed since `state` was last filled; answers whether
  // anything had.
  bool Update(TFeedState& state) const;
  uint64_t Presents() const;

  // Called after each present or link change, on the feeding thread; it must not
  // block. Once SetListener has returned, the old listener is not called again.
  void SetListener(std::function<void()> listener);

 private:
  void Notify();

  mutable std::mutex mutex_;
  TFeedState shown_;
  std::mutex listenerMutex_;
  std::function<void()> listener_;
};

}  // namespace ts
