#include "screen/SavePreview.h"

#include <commdlg.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <stdexcept>
#include <string>

#include "screen/DDrawBase.h"
#include "ui/ErrorReport.h"
#include "ui/File.h"
#include "ui/WinHandle.h"
#include "ui/WindowObject.h"

namespace ts {
namespace {

constexpr int kPreviewId = 0x4170;

struct TPreview {
  TGdiObject bitmap;
  TIconHandle icon;
  TEnhMetafile metafile;
  SIZE size{};

  void Clear() {
    bitmap.Reset();
    icon.Reset();
    metafile.Reset();
    size = SIZE{};
  }
  void Load(const std::wstring& path);
  void Draw(HDC dc, RECT area) const;
};

bool EndsWith(const std::wstring& text, const wchar_t* tail) {
  size_t n = std::wcslen(tail);
  return text.size() >= n && _wcsicmp(text.c_str() + text.size() - n, tail) == 0;
}

void TPreview::Load(const std::wstring& path) {
  Clear();
  if (EndsWith(path, L".bmp")) {
    bitmap.Reset(LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    BITMAP info{};
    if (bitmap && GetObjectW(bitmap.Get(), sizeof info, &info)) size = SIZE{info.bmWidth, info.bmHeight};
  } else if (EndsWith(path, L".ico")) {
    icon.Reset(static_cast<HICON>(
        LoadImageW(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE)));
    if (icon) size = SIZE{GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
  } else if (EndsWith(path, L".emf")) {
    metafile.Reset(GetEnhMetaFileW(path.c_str()));
  } else if (EndsWith(path, L".wmf")) {
    // Placeable metafiles carry a 22-byte header before the Windows metafile.
    TFile file;
    if (!file.Open(path, TFileMode::Read) || file.Size() == 0 || file.Size() > (1u << 24)) return;
    std::vector<uint8_t> bytes;
    if (!file.ReadAll(bytes)) return;
    size_t skip =
        bytes.size() > 22 && bytes[0] == 0xD7 && bytes[1] == 0xCD && bytes[2] == 0xC6 && bytes[3] == 0x9A ? 22
                                                                                                          : 0;
    metafile.Reset(
        SetWinMetaFileBits(static_cast<UINT>(bytes.size() - skip), bytes.data() + skip, nullptr, nullptr));
  }
  if (metafile) {
    ENHMETAHEADER header{};
    GetEnhMetaFileHeader(metafile.Get(), sizeof header, &header);
    size = SIZE{header.rclBounds.right - header.rclBounds.left + 1,
                header.rclBounds.bottom - header.rclBounds.top + 1};
  }
}

void TPreview::Draw(HDC dc, RECT area) const {
  FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
  if (size.cx <= 0 || size.cy <= 0) return;
  // Fit inside the area, keeping the proportions; never enlarge.
  int w = area.right - area.left, h = area.bottom - area.top;
  double scale = std::min({1.0, double(w) / size.cx, double(h) / size.cy});
  int dw = std::max(1, int(size.cx * scale)), dh = std::max(1, int(size.cy * scale));
  RECT r{area.left + (w - dw) / 2, area.top + (h - dh) / 2, 0, 0};
  r.right = r.left + dw;
  r.bottom = r.top + dh;
  if (bitmap) {
    TMemoryDC memory(CreateCompatibleDC(dc));
    HGDIOBJ old = SelectObject(memory.Get(), bitmap.Get());
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, r.left, r.top, dw, dh, memory.Get(), 0, 0, size.cx, size.cy, SRCCOPY);
    SelectObject(memory.Get(), old);
  } else if (icon) {
    DrawIconEx(dc, r.left, r.top, icon.Get(), dw, dh, 0, nullptr, DI_NORMAL);
  } else if (metafile) {
    PlayEnhMetaFile(dc, metafile.Get(), &r);
  }
}

// The dialog's extension: a child template holding one owner-drawn preview area.
}  // namespace

std::vector<WORD> PreviewTemplate() {
  std::vector<WORD> t(64, 0);
  auto* dialog = reinterpret_cast<DLGTEMPLATE*>(t.data());
  dialog->style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK | DS_CONTROL;
  dialog->cdit = 1;
  dialog->cx = 120;
  dialog->cy = 100;
  size_t at = sizeof(DLGTEMPLATE) / sizeof(WORD);
  at += 3;                     // no menu, default class, empty title
  at = (at + 1) & ~size_t(1);  // DLGITEMTEMPLATE is DWORD aligned
  auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(t.data() + at);
  item->style = WS_CHILD | WS_VISIBLE | SS_OWNERDRAW;
  item->x = 4;
  item->y = 4;
  item->cx = 112;
  item->cy = 92;
  item->id = kPreviewId;
  at += sizeof(DLGITEMTEMPLATE) / sizeof(WORD);
  t[at++] = 0xFFFF;
  t[at++] = 0x0082;  // static
  t[at++] = 0;       // no text
  t[at++] = 0;       // no creation data
  t.resize(at);
  return t;
}

UINT_PTR CALLBACK SaveDialogHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
  return Guarded(
      [&]() -> UINT_PTR {
        switch (message) {
          case WM_INITDIALOG:
            // The dialog holds the preview from here to WM_DESTROY.
            BindObject(hook, std::make_unique<TPreview>().release());
            return TRUE;
          case WM_NOTIFY: {
            auto* notify = reinterpret_cast<OFNOTIFYW*>(lParam);
            auto* preview = BoundObject<TPreview>(hook);
            if (preview && notify->hdr.code == CDN_SELCHANGE) {
              wchar_t path[MAX_PATH] = {};
              if (SendMessageW(GetParent(hook), CDM_GETFILEPATH, MAX_PATH, reinterpret_cast<LPARAM>(path)) >
                  0)
                preview->Load(path);
              else
                preview->Clear();
              InvalidateRect(GetDlgItem(hook, kPreviewId), nullptr, FALSE);
            }
            return 0;
          }
          case WM_DRAWITEM: {
            auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
            auto* preview = BoundObject<TPreview>(hook);
            if (preview && draw->CtlID == kPreviewId) preview->Draw(draw->hDC, draw->rcItem);
            return TRUE;
          }
          case WM_DESTROY:
            std::unique_ptr<TPreview>(UnbindObject<TPreview>(hook));
            return 0;
        }
        return 0;
      },
      UINT_PTR{0});
}

}  // namespace ts
