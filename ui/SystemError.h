#pragma once
// The system's text for an error number, the one way the program gets it.

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "ui/Cp1251.h"
#endif

namespace ts {

// A system message as one line: without its trailing spaces, control
// characters and full stops.
inline std::string TrimSystemMessage(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

#ifdef _WIN32
// UTF-8, trimmed; empty when the system has no text for the number or the text
// does not fit 256 characters, the event log's rule.
inline std::string SystemErrorText(uint32_t error) {
  wchar_t text[256];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                 0, text, 256, nullptr);
  return n ? TrimSystemMessage(Narrow(std::wstring_view(text, n))) : std::string();
}
#endif

}  // namespace ts
