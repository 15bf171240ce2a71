#pragma once
// The picture tools of the main window: save as BMP, copy to the clipboard, clear
// to white, black frame. Clear and frame draw on the screen model and the display
// control's back surface alike; save and copy take the model's picture. Nothing
// harmful happens while the control has no back surface.

#include <windows.h>

#include <string>

#include "screen/DisplayView.h"
#include "screen/ScreenModel.h"
#include "ui/Bound.h"
#include "ui/WinHandle.h"

namespace ts {

// An off-screen bitmap compatible with the screen, with the depth it was made at.
class TPicture {
 public:
  TPicture(int width, int height);
  HBITMAP Handle() const { return static_cast<HBITMAP>(bitmap_.Get()); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitCount() const { return bitCount_; }

 private:
  TGdiObject bitmap_;
  int width_;
  int height_;
  int bitCount_;
};

// The platform calls whose failure cannot be brought about on demand: the
// program takes the system's own, a test may hand in one that fails.
struct TPictureToolCalls {
  BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = &WriteFile;
  HANDLE(WINAPI* copyImage)(HANDLE, UINT, int, int, UINT) = &CopyImage;
};

// Writes the picture as a Windows BMP whatever the file's extension. Throws
// ts::Exception "Cannot create file <name>" when the file cannot be written, and
// then leaves a file already there as it was.
void SavePictureToFile(const TPicture& picture, const std::wstring& fileName,
                       const TPictureToolCalls& calls = {});

// Copies the source rectangle of the model's picture onto the target's dest
// rectangle, each pixel repeated exactly as often as the sizes ask.
void DrawScreenModel(HDC target, const RECT& dest, const RECT& source, const TScreenModel& model);

class TPictureTools {
 public:
  TPictureTools(TCustomDisplayView& view, TScreenModel& model, TPictureToolCalls calls = {})
      : view_(view), model_(model), calls_(calls) {}

  // The check box is unticked while the dialog is open and put back on every path.
  void SaveToFileClick(HWND owner, TMethod<bool()> getDrawChecked, TMethod<void(bool)> setDrawChecked);
  void CopyToClipBoardClick(HWND owner);
  void ScreenClearSpeedButtonClick();
  void InsertBorderSpeedButtonClick();

  // The whole picture, margins and frame included, at the instrument's pixels.
  std::unique_ptr<TPicture> CapturePicture();

  // The name the save dialog offers next time: the last one chosen.
  const std::wstring& FileName() const { return fileName_; }

 private:
  bool AskFileName(HWND owner);

  TCustomDisplayView& view_;
  TScreenModel& model_;
  TPictureToolCalls calls_;
  std::wstring fileName_ = L"NoName.bmp";
  DWORD filterIndex_ = 1;
};

}  // namespace ts
