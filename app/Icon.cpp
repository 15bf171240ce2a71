// The main window's icon: a flaw detector with an A-scan on its screen, 32 x 32 in
// the 16 standard colours, kept here with the window rather than in a resource.

#include <windows.h>

#include <cstring>

#include "app/MainFormUnit.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

// One character per pixel: '.' transparent, otherwise an index into kColours.
constexpr const char* kPicture[32] = {
    "................................",  "................................",
    "..8888888888888888888888888888..",  ".8777777777777777777777777777778.",
    ".8700000000000000000000000000778.", ".870000000000000000000000000078 .",
    ".870a0000000000000000000000078..",  ".870a00000000000000a00000000078.",
    ".870a0000000000000aa00000000078.",  ".870a000000a000000aa00000000078.",
    ".870a00000aa000000aa00000000078.",  ".870aa0000aa00000a0a00000000078.",
    ".870aaaaaa0aaaaaa000aaaaaaaa0078",  ".870000000000000000000000000078.",
    ".870000000000000000000000000078.",  ".8777777777777777777777777777778.",
    ".8777777777777777777777777777778.", ".87ff7ff7ff7ff777777777c7777778.",
    ".87887887887887777777777777777 8.", ".8777777777777777777777777777778.",
    ".87ff7ff7ff7ff77777777ccc777778..", ".8788788788788777777777c7777778..",
    ".8777777777777777777777777777778.", ".87ff7ff7ff7ff777777777777777778.",
    ".878878878878877777777777777778..", ".8777777777777777777777777777778.",
    ".8888888888888888888888888888888.", "..88888888888888888888888888888..",
    "................................",  "................................",
    "................................",  "................................",
};

constexpr RGBQUAD kColours[16] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},   {0, 128, 0, 0},   {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0}, {128, 128, 0, 0}, {192, 192, 192, 0},
    {128, 128, 128, 0}, {0, 0, 255, 0},   {0, 255, 0, 0},   {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0}, {255, 255, 0, 0}, {255, 255, 255, 0},
};

int IndexOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return 10 + c - 'a';
  return -1;
}

}  // namespace

HICON CreateMainIcon() {
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[16];
  } info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = 32;
  info.header.biHeight = 32;
  info.header.biPlanes = 1;
  info.header.biBitCount = 4;
  info.header.biCompression = BI_RGB;
  std::memcpy(info.colours, kColours, sizeof kColours);
  void* bits = nullptr;
  TGdiObject colour(
      CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!colour) return nullptr;
  // 4-bit rows of 32 pixels are 16 bytes; the mask's 1-bit rows are 4 bytes, both
  // stored bottom-up for the colour DIB and top-down for the mask bitmap.
  auto* pixels = static_cast<unsigned char*>(bits);
  unsigned char mask[32 * 4] = {};
  for (int y = 0; y < 32; ++y) {
    const char* row = kPicture[y];
    size_t length = std::strlen(row);
    for (int x = 0; x < 32; ++x) {
      int index = x < static_cast<int>(length) ? IndexOf(row[x]) : -1;
      unsigned char* byte = pixels + (31 - y) * 16 + x / 2;
      int value = index < 0 ? 0 : index;
      *byte = static_cast<unsigned char>(x % 2 ? (*byte & 0xF0) | value : (*byte & 0x0F) | (value << 4));
      if (index < 0) mask[y * 4 + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
  }
  const TGdiObject maskBitmap(CreateBitmap(32, 32, 1, 1, mask));
  ICONINFO ii{TRUE, 0, 0, static_cast<HBITMAP>(maskBitmap.Get()), static_cast<HBITMAP>(colour.Get())};
  return CreateIconIndirect(&ii);
}

}  // namespace ts
