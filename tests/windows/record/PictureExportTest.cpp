#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "record/PictureExport.h"
#include "record/RangeDialog.h"
#include "tests/windows/record/PictureDecode.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

std::wstring TempFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

// Each frame with its delay, through the program's writer.
void SaveGif(const std::vector<TPixels>& frames, const std::vector<int>& delays,
             const std::wstring& fileName) {
  TGifWriter gif(fileName);
  for (size_t i = 0; i < frames.size(); ++i)
    gif.Add(frames[i].Data, frames[i].Width, frames[i].Height, i < delays.size() ? delays[i] : 0);
  gif.Finish();
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
  // A pattern, its inverse, noise that fills the code table many times over,
  // one colour throughout, the pattern again.
  TPixels a{326, 246, std::vector<uint32_t>(326 * 246)}, b = a, noise = a, white = a;
  std::mt19937 random(7);
  for (size_t i = 0; i < a.Data.size(); ++i) {
    a.Data[i] = (i / 7 + i / 326) % 3 ? 0xFFFFFF : 0;
    b.Data[i] = a.Data[i] ^ 0xFFFFFF;
    noise.Data[i] = random() & 1 ? 0xFFFFFF : 0;
    white.Data[i] = 0xFFFFFF;
  }
  const std::wstring file = TempFile(L"ts_frames.gif");
  SaveGif({a, b, noise, white, a}, {5, 12, 30, 1, 2}, file);
  std::vector<int> delays;
  const std::vector<TPixels> back = LoadGif(file, &delays);
  ASSERT_EQ(back.size(), 5u);
  EXPECT_TRUE(back[0].Data == a.Data);
  EXPECT_TRUE(back[1].Data == b.Data);
  EXPECT_TRUE(back[2].Data == noise.Data);
  EXPECT_TRUE(back[3].Data == white.Data);
  EXPECT_TRUE(back[4].Data == a.Data);
  EXPECT_EQ(delays, (std::vector<int>{5, 12, 30, 1, 2}));
}

// An export that fails at any step leaves neither its file nor a temporary
// one, and says so.
TEST(PictureExport, AFailedExportLeavesNothingBehind) {
  const std::wstring folder = TempFile(L"ts_export_folder.gif");
  CreateDirectoryW(folder.c_str(), nullptr);
  const TPixels empty{0, 0, {}};
  const TPixels frame{326, 246, std::vector<uint32_t>(326 * 246, 0xFFFFFF)};
  struct TCase {
    const char* name;
    std::wstring file;
    void (*save)(const std::wstring&, const TPixels&);
    const TPixels& pixels;
  };
  auto gif = [](const std::wstring& file, const TPixels& p) { SaveGif({p}, {10}, file); };
  auto png = [](const std::wstring& file, const TPixels& p) { SavePng(p, file, {{"Frame", "complete"}}); };
  const TCase cases[] = {
      {"a GIF frame the encoder refuses", TempFile(L"ts_export_refused.gif"), gif, empty},
      {"a PNG the encoder refuses", TempFile(L"ts_export_refused.png"), png, empty},
      {"a GIF whose name is taken by a folder", folder, gif, frame},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(c.save(c.file, c.pixels), std::exception);
    const bool isFolder = c.file == folder;
    EXPECT_EQ(GetFileAttributesW(c.file.c_str()) != INVALID_FILE_ATTRIBUTES, isFolder);
    EXPECT_EQ(GetFileAttributesW((c.file + L".part").c_str()), INVALID_FILE_ATTRIBUTES);
  }
  RemoveDirectoryW(folder.c_str());

  // Abandoned half way, as a cancelled export is.
  const std::wstring file = TempFile(L"ts_export_cancelled.gif");
  {
    TGifWriter writer(file);
    writer.Add(frame.Data, frame.Width, frame.Height, 10);
  }
  EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW((file + L".part").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A frame that stays longer than a GIF delay can say (655.35 s) is repeated.
TEST(PictureExport, ALongFrameIsRepeatedRatherThanCutShort) {
  TPixels a{326, 246, std::vector<uint32_t>(326 * 246, 0xFFFFFF)};
  const std::wstring file = TempFile(L"ts_frames_long.gif");
  SaveGif({a, a}, {70'000, 5}, file);
  std::vector<int> delays;
  EXPECT_EQ(LoadGif(file, &delays).size(), 3u);
  EXPECT_EQ(delays, (std::vector<int>{65'535, 70'000 - 65'535, 5}));
}

// Frames written as numbered files next to the name the user gave replace no
// file of that name, and a failed or abandoned export removes its own files only.
TEST(PictureExport, NumberedFramesReplaceNoFileAndRemoveOnlyTheirOwn) {
  const std::wstring folder = TempFile(L"ts_numbered_frames");
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring name = folder + L"\\frame.png", first = folder + L"\\frame_00001.png",
                     second = folder + L"\\frame_00002.png";
  auto contents = [](const std::wstring& file) {
    std::string bytes(64, '\0');
    DWORD n = 0;
    TWinHandle f(
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f || !ReadFile(f.Get(), bytes.data(), DWORD(bytes.size()), &n, nullptr)) return std::string("none");
    return bytes.substr(0, n);
  };
  {
    TWinHandle f(CreateFileW(second.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(f.Get(), "the user's", 10, &n, nullptr));
  }
  const TPixels frame{326, 246, std::vector<uint32_t>(326 * 246, 0xFFFFFF)};
  {
    TNumberedPngs files(name);
    files.Add(frame);
    EXPECT_THROW(files.Add(frame), std::exception);
    EXPECT_NE(contents(first), "none");
  }
  EXPECT_EQ(contents(first), "none");
  EXPECT_EQ(contents(second), "the user's");
  DeleteFileW(second.c_str());
  {
    TNumberedPngs files(name);
    files.Add(frame);
    files.Add(frame);
    files.Keep();
  }
  for (const std::wstring& file : {first, second}) {
    EXPECT_EQ(LoadPng(file, nullptr).Data, frame.Data);
    DeleteFileW(file.c_str());
  }
  RemoveDirectoryW(folder.c_str());
}

// The part of a recording to export is chosen knowing what is wrong with it.
TEST(RangeDialog, ShowsTheRecordingsProblemBeforeTheUserChooses) {
  for (const std::wstring& problem :
       {std::wstring(), std::wstring(L"Запись повреждена (байт 1234, 0:00:30.000)")}) {
    SCOPED_TRACE(problem.empty() ? "none" : "damaged");
    // Reads every text of the dialog once it shows, then presses its OK.
    std::wstring texts;
    std::thread user([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      HWND dialog = nullptr;
      // A dialog shows once its controls are made and filled.
      while (!((dialog = FindWindowW(L"#32770", L"Часть записи")) && IsWindowVisible(dialog)) &&
             std::chrono::steady_clock::now() < deadline)
        Sleep(20);
      for (HWND c = dialog ? GetWindow(dialog, GW_CHILD) : nullptr; c; c = GetWindow(c, GW_HWNDNEXT)) {
        wchar_t text[256] = {};
        GetWindowTextW(c, text, 256);
        texts += text + std::wstring(L"|");
      }
      if (dialog) PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    TTimeRange range;
    const bool chosen = AskRecordingRange(nullptr, 100'000'000, problem, range);
    user.join();
    EXPECT_TRUE(chosen);
    EXPECT_EQ(range.ToMicros, 100'000'000);
    EXPECT_NE(texts.find(L"Запись длится 100.0 с."), std::wstring::npos);
    EXPECT_EQ(texts.find(L"Запись повреждена (байт 1234, 0:00:30.000)") != std::wstring::npos,
              !problem.empty());
  }
}

}  // namespace
}  // namespace ts
