#include <gtest/gtest.h>

#include "record/PictureExport.h"

namespace ts {
namespace {

std::wstring TempFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

TEST(PictureExport, APngDecodesBackToTheFrameAndItsTextFields) {
  TPixels frame{326, 246, std::vector<uint32_t>(326 * 246)};
  for (int y = 0; y < 246; ++y)
    for (int x = 0; x < 326; ++x)
      frame.Data[size_t(y) * 326 + x] = (x * 7 + y * 3) % 11 < 4 ? 0x000000 : 0xFFFFFF;
  const std::vector<TPngText> texts = {{"Creation Time", "2026-12-08T02:40:00.123Z"},
                                       {"Device", "VendorID 5555h ProductID 4170h"},
                                       {"Software", "Virtual_TS4170 V18.09"},
                                       {"Frame", "complete"}};
  const std::wstring file = TempFile(L"ts_picture.png");
  bool byWic = true;
  SavePng(frame, file, texts, &byWic);
  std::vector<TPngText> read = texts;
  const TPixels back = LoadPng(file, &read);
  EXPECT_EQ(back.Width, 326);
  EXPECT_EQ(back.Height, 246);
  EXPECT_TRUE(back.Data == frame.Data);
  EXPECT_EQ(read, texts);
  RecordProperty("texts_written_by_wic", byWic ? "yes" : "no");
  std::printf("text fields written by WIC's own metadata writer: %s\n", byWic ? "yes" : "no");
}

}  // namespace
}  // namespace ts
