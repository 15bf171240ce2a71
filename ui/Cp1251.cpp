#include "ui/Cp1251.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace ts {
namespace {

// 0x80-0xBF; 0xC0-0xFF are U+0410-U+044F in order.
constexpr char16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one code point at text[i], advancing i; malformed input gives U+FFFD.
char32_t NextUtf8(std::string_view text, size_t& i) {
  auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (extra < 0 || lead > 0xF4) return 0xFFFD;
  char32_t c = lead & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  }
  return c;
}

// Decodes one code point of UTF-16 at text[i], advancing i.
char32_t NextUtf16(std::u16string_view text, size_t& i) {
  char32_t c = text[i++];
  if (c >= 0xD800 && c < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000)
    return 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
  if (c >= 0xD800 && c < 0xE000) return 0xFFFD;
  return c;
}

}  // namespace

unsigned char Cp1251FromCodePoint(char32_t c) {
  if (c < 0x80) return static_cast<unsigned char>(c);
  if (c >= 0x0410 && c <= 0x044F) return static_cast<unsigned char>(0xC0 + (c - 0x0410));
  for (int k = 0; k < 64; ++k)
    if (kHigh[k] == c && c != 0xFFFD) return static_cast<unsigned char>(0x80 + k);
  return '?';
}

char32_t Cp1251ToCodePoint(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return 0x0410 + (b - 0xC0);
  return kHigh[b - 0x80];
}

std::string Utf16ToCp1251(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) out += static_cast<char>(Cp1251FromCodePoint(NextUtf16(text, i)));
  return out;
}

std::string Utf8ToCp1251(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) out += static_cast<char>(Cp1251FromCodePoint(NextUtf8(text, i)));
  return out;
}

std::string Cp1251ToUtf8(std::string_view bytes) {
  std::string out;
  for (char b : bytes) AppendUtf8(out, Cp1251ToCodePoint(static_cast<unsigned char>(b)));
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    char32_t c = NextUtf8(text, i);
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) AppendUtf8(out, NextUtf16(text, i));
  return out;
}

#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring Widen(std::string_view utf8) {
  const std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Narrow(std::wstring_view utf16) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(utf16.data()), utf16.size()));
}

std::string AnsiToUtf8(const char* text, size_t length) {
  if (length == 0) return {};
  // The ANSI code page is the PC's, so only the system can decode it.
  const int wide = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), w.data(), wide);
  return Narrow(w);
}
#endif

}  // namespace ts
