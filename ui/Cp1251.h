#pragma once
// The program's one text-conversion module: UTF-16 <-> UTF-8 <-> Windows-1251.
// Windows-1251 is the code page of the instrument's screen messages, converted
// explicitly so the result does not depend on the PC's locale. A character that
// 1251 cannot hold becomes '?', as Windows' own conversion does.

#include <string>
#include <string_view>

namespace ts {

// The 1251 byte for a Unicode code point, or '?' when there is none.
unsigned char Cp1251FromCodePoint(char32_t c);
// The Unicode code point of a 1251 byte (0x98, which 1251 leaves free, gives U+FFFD).
char32_t Cp1251ToCodePoint(unsigned char b);

std::string Utf16ToCp1251(std::u16string_view text);
std::string Utf8ToCp1251(std::string_view text);
std::string Cp1251ToUtf8(std::string_view bytes);

// UTF-8 <-> UTF-16 without the platform; malformed input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

#ifdef _WIN32
// The same for the Win32 wide strings (wchar_t is UTF-16 there).
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
// Text in the PC's ANSI code page, as the system's narrow functions give it.
std::string AnsiToUtf8(const char* text, size_t length);
#endif

}  // namespace ts
