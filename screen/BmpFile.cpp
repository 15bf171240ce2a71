#include "screen/BmpFile.h"

#include "ui/Exception.h"

namespace ts {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

size_t BmpRowStride(int width, int bitCount) {
  return (static_cast<size_t>(width) * static_cast<size_t>(bitCount) + 31) / 32 * 4;
}

std::vector<uint8_t> EncodeBmpFile(const TBmpImage& image) {
  bool validDepth = image.bitCount == 1 || image.bitCount == 4 || image.bitCount == 8 ||
                    image.bitCount == 16 || image.bitCount == 24 || image.bitCount == 32;
  if (!validDepth || image.width <= 0 || image.height <= 0)
    throw Exception(Format("Invalid picture %dx%d %dbit", image.width, image.height, image.bitCount));
  size_t imageSize = BmpRowStride(image.width, image.bitCount) * static_cast<size_t>(image.height);
  if (image.bits.size() != imageSize || image.colors.size() > 256)
    throw Exception("Picture data does not match its size");

  size_t offBits = kBmpFileHeaderSize + kBmpInfoHeaderSize + 4 * image.colors.size();
  std::vector<uint8_t> out;
  out.reserve(offBits + imageSize);
  // BITMAPFILEHEADER
  out.push_back('B');
  out.push_back('M');
  Put32(out, static_cast<uint32_t>(offBits + imageSize));
  Put32(out, 0);  // reserved
  Put32(out, static_cast<uint32_t>(offBits));
  // BITMAPINFOHEADER; a positive height means bottom-up rows.
  Put32(out, kBmpInfoHeaderSize);
  Put32(out, static_cast<uint32_t>(image.width));
  Put32(out, static_cast<uint32_t>(image.height));
  Put16(out, 1);  // planes
  Put16(out, static_cast<uint32_t>(image.bitCount));
  Put32(out, 0);  // BI_RGB
  Put32(out, static_cast<uint32_t>(imageSize));
  Put32(out, 3780);  // 96 dots per inch, in pixels per metre
  Put32(out, 3780);
  Put32(out, static_cast<uint32_t>(image.colors.size()));
  Put32(out, 0);
  for (uint32_t c : image.colors) Put32(out, c & 0xFFFFFF);  // RGBQUAD: B, G, R, 0
  out.insert(out.end(), image.bits.begin(), image.bits.end());
  return out;
}

}  // namespace ts
