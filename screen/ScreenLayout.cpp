#include "screen/ScreenLayout.h"

#include <algorithm>
#include <cstring>

namespace ts {

size_t CopyScreenReport(uint8_t* buffer, const uint8_t* data, size_t size) {
  size_t n = std::min<size_t>(size, kScreenReportSize);
  if (n > 0) std::memmove(buffer, data, n);
  return n;
}

}  // namespace ts
