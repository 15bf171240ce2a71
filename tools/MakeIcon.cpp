// Writes the program's icon file (16, 24, 32, 48 and 256 pixels) from the drawing
// the main window has always shown, or the simulator's: the same instrument with
// a teal body, a virtual one. Runs on the build machine:
// make_icon OUT.ico program|simulator
//
// Each size is the drawing resampled by area, so 32 and 256 are exact and the
// others keep its thin lines as blends rather than dropping them. The small
// sizes are 32-bit bitmaps with their mask; 256 is a PNG, as Windows stores it.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/IconPicture.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TPixel {
  uint8_t Blue, Green, Red, Alpha;
};

// The colour index each of the drawing's indices is drawn in.
using TPalette = std::array<int, 16>;
constexpr TPalette kProgramColours = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
// The body's silver (7) teal (6).
constexpr TPalette kSimulatorColours = {0, 1, 2, 3, 4, 5, 6, 6, 8, 9, 10, 11, 12, 13, 14, 15};

// The drawing at size x size, top row first.
std::vector<TPixel> Render(int size, const TPalette& palette) {
  std::vector<TPixel> out(static_cast<size_t>(size) * size);
  const int n = ts::icon::kSize;
  for (int ty = 0; ty < size; ++ty)
    for (int tx = 0; tx < size; ++tx) {
      // The target pixel covers [tx*n, (tx+1)*n) / size of the source, in units of
      // 1/size source pixels.
      double b = 0, g = 0, r = 0, cover = 0;
      for (int sy = ty * n / size; sy < n && sy * size < (ty + 1) * n; ++sy)
        for (int sx = tx * n / size; sx < n && sx * size < (tx + 1) * n; ++sx) {
          const int overlapX = std::min((sx + 1) * size, (tx + 1) * n) - std::max(sx * size, tx * n);
          const int overlapY = std::min((sy + 1) * size, (ty + 1) * n) - std::max(sy * size, ty * n);
          const int index = ts::icon::IndexAt(sx, sy);
          if (overlapX <= 0 || overlapY <= 0 || index < 0) continue;
          const double w = static_cast<double>(overlapX) * overlapY;
          const ts::icon::TColour& c = ts::icon::kColours[palette[index]];
          b += w * c.Blue, g += w * c.Green, r += w * c.Red, cover += w;
        }
      TPixel& p = out[static_cast<size_t>(ty) * size + tx];
      if (cover > 0)
        p = {static_cast<uint8_t>(b / cover + 0.5), static_cast<uint8_t>(g / cover + 0.5),
             static_cast<uint8_t>(r / cover + 0.5), static_cast<uint8_t>(255.0 * cover / (n * n) + 0.5)};
    }
  return out;
}

void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put32BigEndian(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// An icon bitmap: header (height doubled for the mask), colour rows bottom-up,
// then the 1-bit mask, opaque where alpha is not zero.
Bytes Bitmap(int size, const TPalette& palette) {
  const std::vector<TPixel> pixels = Render(size, palette);
  const int maskStride = (size + 31) / 32 * 4;
  Bytes out;
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(size));
  Put32(out, static_cast<uint32_t>(size * 2));
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 0);  // BI_RGB
  Put32(out, static_cast<uint32_t>(size * size * 4 + maskStride * size));
  for (int i = 0; i < 4; ++i) Put32(out, 0);
  for (int y = size - 1; y >= 0; --y)
    for (int x = 0; x < size; ++x) {
      const TPixel& p = pixels[static_cast<size_t>(y) * size + x];
      out.insert(out.end(), {p.Blue, p.Green, p.Red, p.Alpha});
    }
  for (int y = size - 1; y >= 0; --y) {
    Bytes row(static_cast<size_t>(maskStride), 0);
    for (int x = 0; x < size; ++x)
      if (pixels[static_cast<size_t>(y) * size + x].Alpha == 0)
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

void Chunk(Bytes& png, const char* type, const Bytes& data) {
  Put32BigEndian(png, static_cast<uint32_t>(data.size()));
  const size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  Put32BigEndian(png,
                 static_cast<uint32_t>(crc32(0, png.data() + start, static_cast<uInt>(png.size() - start))));
}

Bytes Png(int size, const TPalette& palette) {
  const std::vector<TPixel> pixels = Render(size, palette);
  Bytes raw;
  for (int y = 0; y < size; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < size; ++x) {
      const TPixel& p = pixels[static_cast<size_t>(y) * size + x];
      raw.insert(raw.end(), {p.Red, p.Green, p.Blue, p.Alpha});
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK) return {};
  packed.resize(packedSize);
  Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  Put32BigEndian(header, static_cast<uint32_t>(size));
  Put32BigEndian(header, static_cast<uint32_t>(size));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string picture = argc == 3 ? argv[2] : "";
  if (picture != "program" && picture != "simulator") {
    std::fprintf(stderr, "usage: make_icon OUT.ico program|simulator\n");
    return 2;
  }
  const TPalette& palette = picture == "program" ? kProgramColours : kSimulatorColours;
  const int sizes[] = {16, 24, 32, 48, 256};
  std::vector<Bytes> images;
  for (int size : sizes) images.push_back(size == 256 ? Png(size, palette) : Bitmap(size, palette));
  Bytes file;
  Put16(file, 0);
  Put16(file, 1);  // an icon, not a cursor
  Put16(file, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    if (images[i].empty()) return 1;
    file.push_back(static_cast<uint8_t>(sizes[i] == 256 ? 0 : sizes[i]));  // 0 means 256
    file.push_back(static_cast<uint8_t>(sizes[i] == 256 ? 0 : sizes[i]));
    file.push_back(0);  // no palette
    file.push_back(0);
    Put16(file, 1);   // planes
    Put16(file, 32);  // bits per pixel
    Put32(file, static_cast<uint32_t>(images[i].size()));
    Put32(file, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const Bytes& image : images) file.insert(file.end(), image.begin(), image.end());
  const std::string path = argv[1];
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return 1;
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written ? 0 : 1;
}
