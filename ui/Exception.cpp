#include "ui/Exception.h"

#include <cstdio>
#include <vector>

namespace ts {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    out.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

std::string ErrorReportText(const std::string& message) {
  // Bytes of a multi-byte UTF-8 character are all above '.', as the character is.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace ts
