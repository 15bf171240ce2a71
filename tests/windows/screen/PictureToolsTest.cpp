// The picture tools on a real display control: clear, frame, the BMP file written
// byte by byte, the save dialog driven as an operator would, the clipboard.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "screen/PictureTools.h"
#include "screen/ScreenMirror.h"
#include "tests/windows/screen/ScreenTestUtil.h"
#include "ui/Cp1251.h"

namespace ts {
namespace {

BOOL WINAPI FailWrite(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}
HANDLE WINAPI FailCopy(HANDLE, UINT, int, int, UINT) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}
// The platform failing where it cannot be made to fail on demand.
constexpr TPictureToolCalls kFailing{&FailWrite, &FailCopy};

struct TCheckBox : TObject {
  bool checked = true;
  std::vector<bool> writes;
  bool Get() { return checked; }
  void Set(bool value) {
    checked = value;
    writes.push_back(value);
  }
};

// Answers the save dialog from a thread timer, as the dialog's modal loop
// dispatches it: types a name and confirms, or cancels; says yes to its prompts.
class TDialogDriver {
 public:
  TDialogDriver(std::wstring name, bool confirm) {
    self = this;
    name_ = std::move(name);
    confirm_ = confirm;
    timer_ = SetTimer(nullptr, 0, 50, &Tick);
  }
  ~TDialogDriver() {
    KillTimer(nullptr, timer_);
    self = nullptr;
  }
  std::wstring title;
  std::wstring offeredName;
  int prompts = 0;

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (self) EnumThreadWindows(GetCurrentThreadId(), &Visit, 0);
  }
  static BOOL CALLBACK Visit(HWND window, LPARAM) {
    wchar_t cls[64] = {}, text[256] = {};
    GetClassNameW(window, cls, 64);
    if (!IsWindowVisible(window) || std::wstring(cls) != L"#32770") return TRUE;
    if (std::find(self->handled_.begin(), self->handled_.end(), window) != self->handled_.end()) return TRUE;
    self->handled_.push_back(window);
    GetWindowTextW(window, text, 256);
    HWND edit = GetDlgItem(window, 0x480);        // edt1
    if (!edit) edit = GetDlgItem(window, 0x47C);  // cmb13
    if (edit) {
      self->title = text;
      wchar_t offered[MAX_PATH] = {};
      GetWindowTextW(edit, offered, MAX_PATH);
      self->offeredName = offered;
      if (self->confirm_) {
        SetWindowTextW(edit, self->name_.c_str());
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
      } else {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      }
    } else {
      ++self->prompts;  // "create?" or "overwrite?"
      PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(window, IDYES)));
    }
    return TRUE;
  }

  static inline TDialogDriver* self = nullptr;
  std::wstring name_;
  bool confirm_;
  UINT_PTR timer_;
  std::vector<HWND> handled_;
};

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + name;
  DeleteFileW(path.c_str());
  return path;
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::vector<uint8_t> bytes;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  return bytes;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}

class PictureToolsTest : public ::testing::Test {
 protected:
  void Initialise() {
    view.SetOptions(kMainWindowDisplayOptions);
    view.OnInitialize = Bind(&mirror, &TScreenMirror::DisplayViewInitialize);
    view.OnFinalize = Bind(&mirror, &TScreenMirror::DisplayViewFinalize);
    view.CreateWnd(form.Handle(), 96, 0, 326, 246);
    ShowWindow(form.Handle(), SW_SHOWNORMAL);
    ASSERT_TRUE(view.CanDraw());
  }
  void TearDown() override { form.Destroy(); }
  void Save() {
    tools.SaveToFileClick(form.Handle(), Bind(&check, &TCheckBox::Get), Bind(&check, &TCheckBox::Set));
  }

  test::TErrorRecorder errors;
  test::TTestWindow form{512, 330, false};
  TDisplayView view;
  TScreenModel model;
  TScreenMirror mirror{view, model};
  TPictureTools tools{view, model};
  TCheckBox check;
};

TEST_F(PictureToolsTest, FrameThenClearIsWhiteAndClearThenFrameLeavesAWhiteRing) {
  Initialise();
  tools.InsertBorderSpeedButtonClick();
  tools.ScreenClearSpeedButtonClick();
  for (uint32_t v : test::ReadAll(*view.BackSurface())) ASSERT_EQ(v, test::White(*view.BackSurface()));

  view.BackSurface()->Fill(0x00123456);  // stands for an old picture
  tools.ScreenClearSpeedButtonClick();
  tools.InsertBorderSpeedButtonClick();
  auto picture = test::ReadAll(*view.BackSurface());
  for (int y = 0; y < 246; ++y)
    for (int x = 0; x < 326; ++x) {
      bool edge = x < 2 || x > 323 || y < 2 || y > 243;
      ASSERT_EQ(picture[static_cast<size_t>(y * 326 + x)], edge ? 0u : test::White(*view.BackSurface()))
          << x << "," << y;
    }
}

// The colour of pixel (x, y), counted from the top, of a bottom-up BI_RGB file.
COLORREF FileColour(const std::vector<uint8_t>& file, int x, int y) {
  const int width = static_cast<int>(U32(file, 18)), height = static_cast<int>(U32(file, 22));
  const int bits = file[28] | file[29] << 8;
  const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
  const uint8_t* p = file.data() + U32(file, 10) + static_cast<size_t>(height - 1 - y) * stride;
  auto five = [](uint32_t v) { return static_cast<BYTE>(v << 3 | v >> 2); };
  switch (bits) {
    case 8: {
      const uint8_t* quad = file.data() + 54 + 4 * p[x];
      return RGB(quad[2], quad[1], quad[0]);
    }
    case 16: {  // 5-5-5
      uint32_t v = static_cast<uint32_t>(p[2 * x] | p[2 * x + 1] << 8);
      return RGB(five(v >> 10 & 31), five(v >> 5 & 31), five(v & 31));
    }
    default:
      p += static_cast<size_t>(x) * (bits / 8);
      return RGB(p[2], p[1], p[0]);
  }
}

TEST_F(PictureToolsTest, SavedFileIsABottomUpBmpOfTheWholeSurfaceEvenWhenNamedIco) {
  Initialise();
  tools.ScreenClearSpeedButtonClick();
  tools.InsertBorderSpeedButtonClick();
  uint8_t report[64] = {};
  report[0] = 0x81;  // screen pixels (0, 0) and (7, 0) black
  model.Take(report, 64);
  auto surface = test::ReadAll(*view.BackSurface());
  const uint32_t white = test::White(*view.BackSurface());
  HDC screen = GetDC(nullptr);
  const int depth = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);

  std::wstring path = TempPath(L"ts4170-picture.ico");
  SavePictureToFile(*tools.CapturePicture(), path);
  auto file = ReadFileBytes(path);
  DeleteFileW(path.c_str());
  ASSERT_GE(file.size(), 54u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(U32(file, 2), file.size());
  const uint32_t colours = depth <= 8 ? 1u << depth : 0u;  // a colour table only up to 8 bits
  EXPECT_EQ(U32(file, 10), 54u + 4 * colours);
  EXPECT_EQ(U32(file, 14), 40u);  // information header size
  EXPECT_EQ(U32(file, 18), 326u);
  EXPECT_EQ(U32(file, 22), 246u);  // positive: bottom-up
  EXPECT_EQ(file[26] | file[27] << 8, 1);
  EXPECT_EQ(file[28] | file[29] << 8, depth);  // the screen's depth at capture
  EXPECT_EQ(U32(file, 30), 0u);                // BI_RGB
  ASSERT_EQ(file.size(), U32(file, 10) + (326u * static_cast<uint32_t>(depth) + 31) / 32 * 4 * 246u);
  // The picture holds only black and white.
  for (int y = 0; y < 246; ++y)
    for (int x = 0; x < 326; ++x) {
      uint32_t v = surface[static_cast<size_t>(y * 326 + x)];
      ASSERT_TRUE(v == 0 || v == white) << v;
      ASSERT_EQ(FileColour(file, x, y), v ? RGB(255, 255, 255) : RGB(0, 0, 0)) << x << "," << y;
    }
  EXPECT_EQ(FileColour(file, 0, 245), RGB(0, 0, 0));      // frame, bottom-left
  EXPECT_EQ(FileColour(file, 3, 3), RGB(0, 0, 0));        // screen pixel (0, 0)
  EXPECT_EQ(FileColour(file, 4, 3), RGB(255, 255, 255));  // screen pixel (1, 0)
  EXPECT_EQ(FileColour(file, 2, 3), RGB(255, 255, 255));  // the white ring
}

TEST_F(PictureToolsTest, SaveDialogPathsAllPutTheCheckBoxBack) {
  Initialise();
  std::wstring path = TempPath(L"ts4170-save.bmp");
  {
    TDialogDriver driver(L"", false);  // cancel
    Save();
    EXPECT_EQ(driver.title, L"Сохранить в файл");
    EXPECT_EQ(driver.offeredName, L"NoName.bmp");
  }
  EXPECT_EQ(check.writes, (std::vector<bool>{false, true}));
  EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);

  check.checked = false;
  {
    TDialogDriver driver(path, true);  // a new file: a create prompt, where shown, is answered
    Save();
    EXPECT_LE(driver.prompts, 1);  // Wine's save dialog does not ask before creating
  }
  EXPECT_FALSE(check.checked);
  auto file = ReadFileBytes(path);
  ASSERT_GE(file.size(), 54u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(tools.FileName(), path);

  // The file is held open elsewhere: overwrite is confirmed, writing fails.
  check.checked = true;
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  {
    TDialogDriver driver(path, true);
    try {
      Save();
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file " + Narrow(path));
    }
    EXPECT_EQ(driver.prompts, 1);
  }
  CloseHandle(held);
  DeleteFileW(path.c_str());
  EXPECT_TRUE(check.checked);
}

// Names in `folder`, so a test can see that nothing was left behind.
std::vector<std::wstring> FilesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return names;
}

TEST_F(PictureToolsTest, AFailedSaveKeepsTheOldFileAndLeavesNothingBehind) {
  Initialise();
  std::wstring folder = TempPath(L"ts4170-keep\\");
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring path = folder + L"old.bmp";
  const std::string old = "the picture saved last week";
  struct {
    const char* fault;
    bool injectWrite;
    bool holdOpen;
  } cases[] = {{"writing fails", true, false}, {"the file is held open elsewhere", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    std::ofstream(path.c_str(), std::ios::binary) << old;
    HANDLE held = c.holdOpen ? CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
    try {
      SavePictureToFile(*tools.CapturePicture(), path, c.injectWrite ? kFailing : TPictureToolCalls{});
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file " + Narrow(path));
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    auto kept = ReadFileBytes(path);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), old);
    EXPECT_EQ(FilesIn(folder), std::vector<std::wstring>{L"old.bmp"});
  }
  // And a save that works still replaces it.
  SavePictureToFile(*tools.CapturePicture(), path);
  auto file = ReadFileBytes(path);
  ASSERT_GE(file.size(), 54u);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(FilesIn(folder), std::vector<std::wstring>{L"old.bmp"});
  DeleteFileW(path.c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST_F(PictureToolsTest, CopyPutsThePictureOnTheClipboard) {
  Initialise();
  tools.ScreenClearSpeedButtonClick();
  tools.InsertBorderSpeedButtonClick();
  tools.CopyToClipBoardClick(form.Handle());
  ASSERT_TRUE(OpenClipboard(form.Handle()));
  auto bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
  ASSERT_NE(bitmap, nullptr);
  BITMAP info{};
  GetObjectW(bitmap, sizeof info, &info);
  EXPECT_EQ(info.bmWidth, 326);
  EXPECT_EQ(info.bmHeight, 246);
  HDC memory = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(memory, bitmap);
  EXPECT_EQ(GetPixel(memory, 0, 0), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(memory, 2, 2), RGB(255, 255, 255));
  SelectObject(memory, old);
  DeleteDC(memory);
  CloseClipboard();
}

TEST_F(PictureToolsTest, ACopyThatCannotBeMadeLeavesTheClipboardAsItWasAndSaysSo) {
  Initialise();
  const wchar_t before[] = L"what the operator copied before";
  ASSERT_TRUE(OpenClipboard(form.Handle()));
  EmptyClipboard();
  HGLOBAL text = GlobalAlloc(GMEM_MOVEABLE, sizeof before);
  std::memcpy(GlobalLock(text), before, sizeof before);
  GlobalUnlock(text);
  SetClipboardData(CF_UNICODETEXT, text);
  CloseClipboard();

  TPictureTools failing{view, model, kFailing};
  try {
    failing.CopyToClipBoardClick(form.Handle());
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Cannot copy the picture to the clipboard");
  }
  ASSERT_TRUE(OpenClipboard(form.Handle()));
  auto* kept = static_cast<const wchar_t*>(GlobalLock(GetClipboardData(CF_UNICODETEXT)));
  EXPECT_EQ(std::wstring(kept ? kept : L""), before);
  if (kept) GlobalUnlock(GetClipboardData(CF_UNICODETEXT));
  CloseClipboard();
}

struct TClipboardHolder {
  HANDLE opened, release;
};
// Another thread's window holds the clipboard open until it is released.
DWORD WINAPI HoldClipboard(void* p) {
  auto* a = static_cast<TClipboardHolder*>(p);
  HWND owner = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  BOOL ok = OpenClipboard(owner);
  SetEvent(a->opened);
  WaitForSingleObject(a->release, INFINITE);
  if (ok) CloseClipboard();
  DestroyWindow(owner);
  return 0;
}

TEST_F(PictureToolsTest, ABusyClipboardIsAnError) {
  Initialise();
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  TClipboardHolder args{opened, release};
  HANDLE thread = CreateThread(nullptr, 0, &HoldClipboard, &args, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(opened, 10000), WAIT_OBJECT_0);
  try {
    tools.CopyToClipBoardClick(form.Handle());
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Cannot open clipboard");
  }
  SetEvent(release);
  WaitForSingleObject(thread, 10000);
  CloseHandle(thread);
  CloseHandle(opened);
  CloseHandle(release);
}

TEST_F(PictureToolsTest, NothingFailsWithoutABackSurface) {
  view.CreateWnd(form.Handle(), 96, 0, 326, 246);  // never shown: not initialised
  ASSERT_EQ(view.BackSurface(), nullptr);
  tools.ScreenClearSpeedButtonClick();
  tools.InsertBorderSpeedButtonClick();
  tools.CopyToClipBoardClick(form.Handle());
  auto picture = tools.CapturePicture();
  EXPECT_EQ(picture->Width(), 326);
  {
    TDialogDriver driver(L"", false);
    Save();
  }
  EXPECT_TRUE(check.checked);
  EXPECT_TRUE(errors.Messages().empty());
}

}  // namespace
}  // namespace ts
