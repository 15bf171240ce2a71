#pragma once
// The program's icon as drawn: a flaw detector with an A-scan on its screen, 32 x
// 32 in the 16 standard colours. The build makes the icon resource of every size
// from it, so the picture has one source.

#include <cstdint>

namespace ts::icon {

inline constexpr int kSize = 32;

// One character per pixel: a hex digit indexes kColours; anything else, and a
// short row's missing end, is transparent.
inline constexpr const char* kPicture[kSize] = {
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

struct TColour {
  uint8_t Blue, Green, Red;
};
inline constexpr TColour kColours[16] = {
    {0, 0, 0},     {0, 0, 128},     {0, 128, 0},     {0, 128, 128},   {128, 0, 0}, {128, 0, 128},
    {128, 128, 0}, {192, 192, 192}, {128, 128, 128}, {0, 0, 255},     {0, 255, 0}, {0, 255, 255},
    {255, 0, 0},   {255, 0, 255},   {255, 255, 0},   {255, 255, 255},
};

// The colour index of a pixel, or -1 where the picture is transparent.
inline int IndexAt(int x, int y) {
  const char* row = kPicture[y];
  for (int i = 0; i < x; ++i)
    if (!row[i]) return -1;
  const char c = row[x];
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return 10 + c - 'a';
  return -1;
}

}  // namespace ts::icon
