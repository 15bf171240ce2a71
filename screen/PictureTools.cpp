#include "screen/PictureTools.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "screen/BmpFile.h"
#include "screen/DDrawConsts.h"
#include "screen/SavePreview.h"
#include "ui/Cp1251.h"
#include "ui/File.h"
#include "ui/FileDialog.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000;
constexpr int kFrameWidth = 2;
constexpr wchar_t kSaveTitle[] = L"Сохранить в файл";
// The picture formats in the toolkit's order; pairs of shown text and pattern.
constexpr wchar_t kFilter[] =
    L"All (*.bmp;*.ico;*.emf;*.wmf)\0*.bmp;*.ico;*.emf;*.wmf\0"
    L"Bitmaps (*.bmp)\0*.bmp\0"
    L"Icons (*.ico)\0*.ico\0"
    L"Enhanced Metafiles (*.emf)\0*.emf\0"
    L"Metafiles (*.wmf)\0*.wmf\0";
}  // namespace

// ---------------------------------------------------------------- TPicture

TPicture::TPicture(int width, int height) : width_(width), height_(height) {
  const TWindowDC screen(nullptr);
  bitCount_ = GetDeviceCaps(screen.Get(), BITSPIXEL) * GetDeviceCaps(screen.Get(), PLANES);
  bitmap_.Reset(CreateCompatibleBitmap(screen.Get(), std::max(width, 1), std::max(height, 1)));
  if (!bitmap_) throw Exception(Format("Out of resources (bitmap %dx%d)", width, height));
}

namespace {

// The old file stays as it was until the new one is complete.
void WriteReplacing(const std::wstring& fileName, const std::vector<uint8_t>& bytes,
                    const TPictureToolCalls& calls) {
  TPartFile part(fileName, L".part", calls.writeFile);
  if (!part.File().Open(part.Name(), TFileMode::Create) || !part.File().Write(bytes) || !part.Publish())
    throw Exception(Format(kSCannotCreateFile, Narrow(fileName).c_str()));
}

}  // namespace

void SavePictureToFile(const TPicture& picture, const std::wstring& fileName,
                       const TPictureToolCalls& calls) {
  TBmpImage image;
  image.width = std::max(picture.Width(), 1);
  image.height = std::max(picture.Height(), 1);
  image.bitCount = picture.BitCount() <= 1    ? 1
                   : picture.BitCount() <= 4  ? 4
                   : picture.BitCount() <= 8  ? 8
                   : picture.BitCount() <= 16 ? 16
                   : picture.BitCount() <= 24 ? 24
                                              : 32;
  image.bits.resize(BmpRowStride(image.width, image.bitCount) * static_cast<size_t>(image.height));
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
  } info{};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = image.width;
  info.header.biHeight = image.height;  // bottom-up
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(image.bitCount);
  info.header.biCompression = BI_RGB;
  int lines = GetDIBits(TWindowDC(nullptr).Get(), picture.Handle(), 0, static_cast<UINT>(image.height),
                        image.bits.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  if (lines != image.height) throw Exception(Format(kSCannotCreateFile, Narrow(fileName).c_str()));
  if (image.bitCount <= 8) {
    for (int i = 0; i < (1 << image.bitCount); ++i) {
      const RGBQUAD& q = info.colors[i];
      image.colors.push_back(static_cast<uint32_t>(q.rgbRed) << 16 | static_cast<uint32_t>(q.rgbGreen) << 8 |
                             q.rgbBlue);
    }
  }
  WriteReplacing(fileName, EncodeBmpFile(image), calls);
}

// ---------------------------------------------------------------- TPictureTools

void DrawScreenModel(HDC target, const RECT& dest, const RECT& source, const TScreenModel& model) {
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[2];
  } info{};
  // The bitmap is the source's rows alone: a top-down bitmap's source rectangle
  // is not counted from the top everywhere, a whole one is the same everywhere.
  const int rows = source.bottom - source.top;
  info.header.biSize = sizeof info.header;
  info.header.biWidth = kModelRowBytes * 8;
  info.header.biHeight = -rows;  // top-down, as the model keeps its rows
  info.header.biPlanes = 1;
  info.header.biBitCount = 1;
  info.header.biCompression = BI_RGB;
  info.colours[0] = RGBQUAD{0xFF, 0xFF, 0xFF, 0};  // a clear bit is white
  const int oldMode = SetStretchBltMode(target, COLORONCOLOR);
  StretchDIBits(target, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top,
                source.left + kModelLead, 0, source.right - source.left, rows, model.Row(source.top),
                reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY);
  SetStretchBltMode(target, oldMode);
}

std::unique_ptr<TPicture> TPictureTools::CapturePicture() {
  auto picture = std::make_unique<TPicture>(kPictureWidth, kPictureHeight);
  const TMemoryDC memoryDc(CreateCompatibleDC(TWindowDC(nullptr).Get()));
  const HDC memory = memoryDc.Get();
  HGDIOBJ old = SelectObject(memory, picture->Handle());
  TDeferred unselect([&] { SelectObject(memory, old); });
  RECT whole{0, 0, picture->Width(), picture->Height()};
  if (view_.BackSurface()) {
    DrawScreenModel(memory, whole, whole, model_);
  } else {
    // Without a back surface the control shows only its background.
    const TGdiObject brush(CreateSolidBrush(view_.Color));
    ::FillRect(memory, &whole, static_cast<HBRUSH>(brush.Get()));
  }
  return picture;
}

bool TPictureTools::AskFileName(HWND owner) {
  std::vector<WORD> extension = PreviewTemplate();
  TFileDialog dialog{.Owner = owner,
                     .Title = kSaveTitle,
                     .Filter = kFilter,
                     .DefaultExtension = L"bmp",
                     .Flags = OFN_OVERWRITEPROMPT | OFN_CREATEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                              OFN_EXPLORER | OFN_ENABLESIZING,
                     .FilterIndex = filterIndex_,
                     .Hook = &SaveDialogHook,
                     .Template = reinterpret_cast<HINSTANCE>(extension.data())};
  if (!ts::AskFileName(dialog, true, fileName_)) return false;
  filterIndex_ = dialog.FilterIndex;
  return true;
}

void TPictureTools::SaveToFileClick(HWND owner, TMethod<bool()> getDrawChecked,
                                    TMethod<void(bool)> setDrawChecked) {
  bool wasChecked = getDrawChecked ? getDrawChecked() : true;
  if (setDrawChecked) setDrawChecked(false);
  TDeferred restore([&] {
    if (setDrawChecked) setDrawChecked(wasChecked);
  });
  std::unique_ptr<TPicture> picture = CapturePicture();
  if (AskFileName(owner)) SavePictureToFile(*picture, fileName_, calls_);
}

void TPictureTools::CopyToClipBoardClick(HWND owner) {
  std::unique_ptr<TPicture> picture = CapturePicture();
  // Everything for the clipboard is made before it is emptied, so a failure leaves
  // what the operator had there.
  TGdiObject bitmap(calls_.copyImage(picture->Handle(), IMAGE_BITMAP, 0, 0, 0));
  TGdiObject palette;
  if (!bitmap) throw Exception(kSCannotCopyPicture);
  if (picture->BitCount() <= 8) {
    // A palette picture needs its colours beside it.
    struct {
      LOGPALETTE header;
      PALETTEENTRY more[255];
    } entries{};
    entries.header.palVersion = 0x300;
    entries.header.palNumEntries = 256;
    GetSystemPaletteEntries(TWindowDC(nullptr).Get(), 0, 256, entries.header.palPalEntry);
    palette.Reset(CreatePalette(&entries.header));
    if (!palette) throw Exception(kSCannotCopyPicture);
  }
  if (!OpenClipboard(owner)) throw Exception(kSCannotOpenClipboard);
  TDeferred close([] { CloseClipboard(); });
  EmptyClipboard();
  // The clipboard owns what it accepted: the owners let go of it there.
  if (!SetClipboardData(CF_BITMAP, bitmap.Get())) throw Exception(kSCannotCopyPicture);
  bitmap.Detach();
  if (palette) {
    if (!SetClipboardData(CF_PALETTE, palette.Get())) throw Exception(kSCannotCopyPicture);
    palette.Detach();
  }
}

void TPictureTools::ScreenClearSpeedButtonClick() {
  model_.Fill(0, 0, kPictureWidth, kPictureHeight, false);
  if (TDirectDrawSurface* back = view_.BackSurface()) back->FillRect(back->ClientRect(), kWhite);
  view_.Flip();
}

void TPictureTools::InsertBorderSpeedButtonClick() {
  auto band = [this, back = view_.BackSurface()](const RECT& r) {
    model_.Fill(r.left, r.top, r.right, r.bottom, true);
    if (back) back->FillRect(r, kBlack);
  };
  const LONG w = kPictureWidth, h = kPictureHeight;
  band(RECT{0, 0, kFrameWidth, h});
  band(RECT{0, 0, w, kFrameWidth});
  band(RECT{w - kFrameWidth, 0, w, h});
  band(RECT{0, h - kFrameWidth, w, h});
  view_.Flip();
}

}  // namespace ts
