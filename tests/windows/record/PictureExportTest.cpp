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

TEST(PictureExport, AGifDecodesBackToTheFramesOfARecording) {
  // Three frames: a pattern, its inverse, the pattern again.
  TPixels a{326, 246, std::vector<uint32_t>(326 * 246)}, b = a;
  for (size_t i = 0; i < a.Data.size(); ++i) {
    a.Data[i] = (i / 7 + i / 326) % 3 ? 0xFFFFFF : 0;
    b.Data[i] = a.Data[i] ^ 0xFFFFFF;
  }
  const std::wstring file = TempFile(L"ts_frames.gif");
  bool byWic = false;
  SaveGif({a, b, a}, {5, 12, 30}, file, &byWic);
  std::vector<int> delays;
  const std::vector<TPixels> back = LoadGif(file, &delays);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_TRUE(back[0].Data == a.Data);
  EXPECT_TRUE(back[1].Data == b.Data);
  EXPECT_TRUE(back[2].Data == a.Data);
  std::printf("frame delays written by WIC: %s; read back: %d %d %d\n", byWic ? "yes" : "no", delays[0],
              delays[1], delays[2]);
  EXPECT_EQ(delays, (std::vector<int>{5, 12, 30}));
}

}  // namespace
}  // namespace ts
