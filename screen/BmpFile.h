#pragma once
// Encoding of a Windows BMP file: file header, 40-byte information header, optional
// colour table, uncompressed rows bottom-up, each padded to a multiple of 4 bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ts {

struct TBmpImage {
  int width = 0;
  int height = 0;
  int bitCount = 0;
  std::vector<uint32_t> colors;  // colour table entries as 0x00RRGGBB
  std::vector<uint8_t> bits;     // bottom-up rows of BmpRowStride bytes each
};

inline constexpr size_t kBmpFileHeaderSize = 14;
inline constexpr size_t kBmpInfoHeaderSize = 40;

size_t BmpRowStride(int width, int bitCount);

// Throws ts::Exception when the image's fields do not agree with each other.
std::vector<uint8_t> EncodeBmpFile(const TBmpImage& image);

}  // namespace ts
