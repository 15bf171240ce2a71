#include <gtest/gtest.h>

#include "screen/BmpFile.h"
#include "ui/Exception.h"

namespace ts {
namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}

TEST(BmpFileTest, RowStrideIsPaddedToFourBytes) {
  EXPECT_EQ(BmpRowStride(326, 32), 1304u);
  EXPECT_EQ(BmpRowStride(326, 24), 980u);  // 978 padded
  EXPECT_EQ(BmpRowStride(326, 16), 652u);
  EXPECT_EQ(BmpRowStride(326, 8), 328u);
  EXPECT_EQ(BmpRowStride(326, 4), 164u);
  EXPECT_EQ(BmpRowStride(326, 1), 44u);
}

TEST(BmpFileTest, HeadersOfATrueColourPicture) {
  TBmpImage image{2, 2, 24, {}, std::vector<uint8_t>(16, 0x11)};
  auto file = EncodeBmpFile(image);
  ASSERT_EQ(file.size(), 14u + 40u + 16u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(U32(file, 2), 70u);   // file size
  EXPECT_EQ(U32(file, 6), 0u);    // reserved
  EXPECT_EQ(U32(file, 10), 54u);  // pixel data offset
  EXPECT_EQ(U32(file, 14), 40u);  // information header size
  EXPECT_EQ(U32(file, 18), 2u);
  EXPECT_EQ(U32(file, 22), 2u);   // positive height: bottom-up
  EXPECT_EQ(file[26], 1);         // planes
  EXPECT_EQ(file[28], 24);        // bits per pixel
  EXPECT_EQ(U32(file, 30), 0u);   // no compression
  EXPECT_EQ(U32(file, 34), 16u);  // image size
  EXPECT_EQ(U32(file, 46), 0u);   // no colour table
  EXPECT_EQ(file[54], 0x11);
}

TEST(BmpFileTest, PaletteFollowsTheInformationHeader) {
  TBmpImage image{8, 1, 1, {0x000000, 0xFFFFFF}, std::vector<uint8_t>{0x80, 0, 0, 0}};
  auto file = EncodeBmpFile(image);
  EXPECT_EQ(U32(file, 10), 62u);
  EXPECT_EQ(U32(file, 46), 2u);
  EXPECT_EQ(U32(file, 54), 0u);
  EXPECT_EQ(U32(file, 58), 0x00FFFFFFu);  // blue, green, red, reserved 0
  EXPECT_EQ(file[62], 0x80);
}

TEST(BmpFileTest, InconsistentImagesAreRefused) {
  EXPECT_THROW(EncodeBmpFile(TBmpImage{2, 2, 24, {}, std::vector<uint8_t>(15)}), Exception);
  EXPECT_THROW(EncodeBmpFile(TBmpImage{2, 2, 12, {}, std::vector<uint8_t>(16)}), Exception);
  EXPECT_THROW(EncodeBmpFile(TBmpImage{0, 2, 24, {}, {}}), Exception);
}

}  // namespace
}  // namespace ts
