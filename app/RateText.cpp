#include "app/RateText.h"

#include <cstdio>

namespace ts {

int64_t DataRate(int32_t receivedBytes, uint32_t intervalMs) {
  if (intervalMs == 0) return 0;
  return static_cast<int64_t>(static_cast<double>(static_cast<int64_t>(receivedBytes) * 1000) / intervalMs);
}

std::string SpeedText(int64_t rate) {
  std::string sign = rate < 0 ? "-" : "";
  uint64_t value = rate < 0 ? static_cast<uint64_t>(-rate) : static_cast<uint64_t>(rate);
  char digits[32];
  if (value >= 1000)
    std::snprintf(digits, sizeof digits, "%llu %03llu", static_cast<unsigned long long>(value / 1000),
                  static_cast<unsigned long long>(value % 1000));
  else
    std::snprintf(digits, sizeof digits, " %03llu", static_cast<unsigned long long>(value));
  return "Скорость приема данных  " + sign + digits + " Байт/c";
}

}  // namespace ts
