#include "app/RateText.h"

#include <cstdio>
#include <string>

namespace ts {

int64_t DataRate(int32_t receivedBytes, uint32_t intervalMs) {
  if (intervalMs == 0) return 0;
  return static_cast<int64_t>(static_cast<double>(static_cast<int64_t>(receivedBytes) * 1000) / intervalMs);
}

namespace {

// The sign and the digits of the pattern, in ASCII.
void RateDigits(int64_t rate, char (&digits)[32]) {
  const char* sign = rate < 0 ? "-" : "";
  uint64_t value = rate < 0 ? static_cast<uint64_t>(-rate) : static_cast<uint64_t>(rate);
  if (value >= 1000)
    std::snprintf(digits, sizeof digits, "%s%llu %03llu", sign, static_cast<unsigned long long>(value / 1000),
                  static_cast<unsigned long long>(value % 1000));
  else
    std::snprintf(digits, sizeof digits, "%s %03llu", sign, static_cast<unsigned long long>(value));
}

}  // namespace

std::string SpeedText(int64_t rate) {
  char digits[32];
  RateDigits(rate, digits);
  return std::string("Скорость приема данных  ") + digits + " Байт/c";
}

const std::wstring& TSpeedWideText::operator()(int64_t rate) {
  char digits[32];
  RateDigits(rate, digits);
  text_.assign(L"Скорость приема данных  ");
  for (const char* p = digits; *p; ++p) text_.push_back(static_cast<wchar_t>(*p));
  text_.append(L" Байт/c");
  return text_;
}

}  // namespace ts
