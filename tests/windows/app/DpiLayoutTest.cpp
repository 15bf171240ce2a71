// The windows laid out at other dpis: every control inside its parent's client
// area, none overlapping a sibling, every text inside its control, measured and
// as the control draws it, enabled and disabled, the mirror at
// a whole enlargement with its surface unchanged. It checks the dpi of the
// prefix it runs in (LogPixels) and then the re-layout that WM_DPICHANGED asks
// for, which Wine itself never sends.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainFormUnit.h"
#include "control/ControlUnit.h"
#include "control/SoundUnit.h"
#include "control/USBMessageUnit.h"
#include "link/LinkUnit.h"
#include "share/ShareForm.h"
#include "ui/Application.h"
#include "ui/Dpi.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

std::wstring ClassOf(HWND h) {
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  return name;
}

std::wstring TextOf(HWND h) {
  wchar_t text[256] = {};
  GetWindowTextW(h, text, 256);
  return text;
}

RECT RectIn(HWND child, HWND parent) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool IsGroupBox(HWND h) {
  return ClassOf(h) == L"Button" && (GetWindowLongW(h, GWL_STYLE) & 0x0F) == BS_GROUPBOX;
}

// Room a control's caption has beside its own decoration (check mark, frame).
int TextRoom(HWND h, int dpi) {
  RECT client;
  GetClientRect(h, &client);
  const LONG kind = GetWindowLongW(h, GWL_STYLE) & 0x0F;
  int room = client.right;
  if (ClassOf(h) == L"Button") {
    if (kind == BS_AUTOCHECKBOX || kind == BS_CHECKBOX || kind == BS_AUTORADIOBUTTON ||
        kind == BS_RADIOBUTTON)
      room -= ScaleToDpi(18, dpi);
    else if (kind == BS_GROUPBOX)
      room -= ScaleToDpi(16, dpi);
    else
      room -= 4;
  }
  return room;
}

// The control's client area as it draws itself, 0x00RRGGBB a pixel.
std::vector<uint32_t> Drawn(HWND h, const RECT& client) {
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, client.right, -client.bottom, 1, 32, BI_RGB};
  void* bits = nullptr;
  const TMemoryDC dc(CreateCompatibleDC(nullptr));
  const TGdiObject bitmap(CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const HGDIOBJ old = SelectObject(dc.Get(), bitmap.Get());
  SendMessageW(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.Get()), PRF_CLIENT | PRF_ERASEBKGND);
  GdiFlush();
  const auto* first = static_cast<const uint32_t*>(bits);
  std::vector<uint32_t> pixels(first, first + size_t(client.right) * size_t(client.bottom));
  SelectObject(dc.Get(), old);
  return pixels;
}

// How wide the text's ink is as the control draws it: what its drawing with the
// text differs in from its drawing without, on the rows where no frame runs.
int DrawnTextWidth(HWND h, const std::wstring& text) {
  RECT client;
  GetClientRect(h, &client);
  if (client.right < 12 || client.bottom < 1) return 0;
  const std::vector<uint32_t> with = Drawn(h, client);
  SetWindowTextW(h, L"");
  const std::vector<uint32_t> without = Drawn(h, client);
  SetWindowTextW(h, text.c_str());
  // A group box's top line runs on to its right end, where no text reaches.
  const size_t w = size_t(client.right), frameX = w - 6;
  const uint32_t face = without[size_t(client.bottom / 2) * w + frameX];
  int left = INT_MAX, right = -1;
  for (size_t y = 0; y < size_t(client.bottom); ++y) {
    if (without[y * w + frameX] != face) continue;
    for (size_t x = 0; x < w; ++x)
      if (with[y * w + x] != without[y * w + x]) {
        left = std::min(left, int(x));
        right = std::max(right, int(x));
      }
  }
  return right < 0 ? 0 : right - left + 1;
}

// How wide the text's ink is when nothing confines it.
int FreeTextWidth(HWND h, const std::wstring& text) {
  const TMemoryDC dc(CreateCompatibleDC(nullptr));
  const HGDIOBJ oldFont = SelectObject(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
  const RECT area{0, 0, size.cx + 16, size.cy + 4};
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, area.right, -area.bottom, 1, 32, BI_RGB};
  void* bits = nullptr;
  const TGdiObject bitmap(CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const HGDIOBJ oldBitmap = SelectObject(dc.Get(), bitmap.Get());
  FillRect(dc.Get(), &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(dc.Get(), TRANSPARENT);
  ExtTextOutW(dc.Get(), 8, 2, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), nullptr);
  GdiFlush();
  const auto* pixels = static_cast<const uint32_t*>(bits);
  int left = INT_MAX, right = -1;
  for (int y = 0; y < area.bottom; ++y)
    for (int x = 0; x < area.right; ++x)
      if ((pixels[size_t(y) * size_t(area.right) + size_t(x)] & 0xFFFFFF) != 0xFFFFFF) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
  SelectObject(dc.Get(), oldBitmap);
  SelectObject(dc.Get(), oldFont);
  return right < 0 ? 0 : right - left + 1;
}

// Every problem of one window's layout, described.
void CollectProblems(HWND parent, int dpi, std::vector<std::string>& problems) {
  RECT area;
  GetClientRect(parent, &area);
  std::vector<HWND> children;
  for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
    if (IsWindowVisible(h)) children.push_back(h);
  auto name = [](HWND h) {
    std::ostringstream s;
    s << '"' << Narrow(TextOf(h)) << "\" (" << Narrow(ClassOf(h)) << ")";
    return s.str();
  };
  for (size_t i = 0; i < children.size(); ++i) {
    HWND h = children[i];
    RECT r = RectIn(h, parent);
    if (r.left < 0 || r.top < 0 || r.right > area.right || r.bottom > area.bottom) {
      std::ostringstream s;
      s << name(h) << " clipped: " << r.left << "," << r.top << "-" << r.right << "," << r.bottom << " in "
        << area.right << "x" << area.bottom;
      problems.push_back(s.str());
    }
    for (size_t j = i + 1; j < children.size(); ++j) {
      // A control laid inside a group box belongs there.
      if (IsGroupBox(h) || IsGroupBox(children[j])) continue;
      RECT other = RectIn(children[j], parent), both;
      if (IntersectRect(&both, &r, &other)) problems.push_back(name(h) + " overlaps " + name(children[j]));
    }
    // A glyph button's window text is its hint, which shows in a tooltip.
    const TWinControl* control = TWinControl::FromHandle(h);
    const std::wstring text = control ? control->Definition().Caption : TextOf(h);
    const std::wstring cls = ClassOf(h);
    if (!text.empty() && (cls == L"Button" || cls == L"Static")) {
      HDC dc = GetDC(h);
      HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
      SIZE size{};
      GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
      SelectObject(dc, old);
      ReleaseDC(h, dc);
      RECT client;
      GetClientRect(h, &client);
      if (size.cx > TextRoom(h, dpi) || size.cy > client.bottom) {
        std::ostringstream s;
        s << name(h) << " text " << size.cx << "x" << size.cy << " in " << client.right << "x"
          << client.bottom;
        problems.push_back(s.str());
      }
      // What fits when measured may still be cut where drawn: a control may
      // draw its text, and draw it disabled, another way. Push buttons centre
      // theirs in room.
      const LONG kind = GetWindowLongW(h, GWL_STYLE) & 0x0F;
      if (cls == L"Static" || (kind != BS_PUSHBUTTON && kind != BS_DEFPUSHBUTTON && kind != BS_OWNERDRAW)) {
        const bool enabled = IsWindowEnabled(h) != FALSE;
        const int free = FreeTextWidth(h, text);
        for (bool drawnEnabled : {true, false}) {
          EnableWindow(h, drawnEnabled);
          if (const int drawn = DrawnTextWidth(h, text); drawn < free) {
            std::ostringstream s;
            s << name(h) << (drawnEnabled ? " enabled" : " disabled") << " draws " << drawn
              << " pixels of its text's " << free << " in " << client.right << "x" << client.bottom;
            problems.push_back(s.str());
          }
        }
        EnableWindow(h, enabled);
      }
    }
    CollectProblems(h, dpi, problems);
  }
}

std::vector<RECT> ChildRects(HWND parent) {
  std::vector<RECT> rects;
  for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
    rects.push_back(RectIn(h, parent));
    for (const RECT& r : ChildRects(h)) rects.push_back(r);
  }
  return rects;
}

// The manifest, not a call at run time, makes the program per-monitor aware
// (this test carries the programs' manifest and makes no such call).
TEST(DpiAwareness, TheManifestMakesTheProcessPerMonitorAware) {
  using GetContext = HANDLE(WINAPI*)();
  using GetAwareness = int(WINAPI*)(HANDLE);
  HMODULE user = GetModuleHandleW(L"user32.dll");
  const auto context = reinterpret_cast<GetContext>(
      reinterpret_cast<void*>(GetProcAddress(user, "GetThreadDpiAwarenessContext")));
  const auto awareness = reinterpret_cast<GetAwareness>(
      reinterpret_cast<void*>(GetProcAddress(user, "GetAwarenessFromDpiAwarenessContext")));
  ASSERT_TRUE(context && awareness);
  EXPECT_EQ(awareness(context()), 2);  // DPI_AWARENESS_PER_MONITOR_AWARE
}

class DpiLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TApplication>();
    app->SetTitle(L"Virtual_TS4170");
    app->Initialize();
    app->CreateForm(MainForm);
    app->CreateForm(LinkForm);
    app->CreateForm(SoundForm);
    app->CreateForm(USBMessageForm);
    app->CreateForm(ControlForm);
    share = std::make_unique<TShareForm>(feed, std::vector<std::string>{"F1"});
    share->Load();
    forms = {MainForm, LinkForm, ControlForm, USBMessageForm, SoundForm, share.get()};
  }
  void TearDown() override {
    share.reset();
    app.reset();
  }

  std::unique_ptr<TApplication> app;
  TPictureFeed feed;
  std::unique_ptr<TShareForm> share;
  std::vector<TForm*> forms;
};

TEST_F(DpiLayout, WindowsLayOutCleanlyAtTheirDpiAndAfterADpiChange) {
  const int own = DpiOf(MainForm->Handle());
  for (int dpi : {own, 192, own}) {
    SCOPED_TRACE("at " + std::to_string(dpi) + " dpi");
    for (TForm* form : forms) {
      if (form->Dpi() != dpi) {
        RECT r;
        GetWindowRect(form->Handle(), &r);
        SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&r));
      }
      EXPECT_EQ(form->Dpi(), dpi);
      std::vector<std::string> problems;
      for (TForm* shown : forms) ShowWindow(shown->Handle(), shown == form ? SW_SHOWNA : SW_HIDE);
      CollectProblems(form->Handle(), dpi, problems);
      ShowWindow(form->Handle(), form == MainForm ? SW_SHOWNA : SW_HIDE);
      for (const std::string& p : problems) ADD_FAILURE() << Narrow(TextOf(form->Handle())) << ": " << p;
    }
    // The mirror: the largest whole enlargement, the surface still the instrument's.
    const int scale = std::max(dpi / kDesignDpi, 1);
    EXPECT_EQ(MainForm->DisplayView.PresentScale(), scale);
    EXPECT_EQ(MainForm->DisplayView.Width(), 326 * scale);
    EXPECT_EQ(MainForm->DisplayView.Height(), 246 * scale);
    EXPECT_EQ(MainForm->DisplayView.SurfaceWidth(), 326);
    EXPECT_EQ(MainForm->DisplayView.SurfaceHeight(), 246);
  }
}

TEST_F(DpiLayout, ADpiChangeAndBackGivesTheSameLayout) {
  for (TForm* form : forms) {
    const int own = form->Dpi();
    std::vector<RECT> before = ChildRects(form->Handle());
    RECT window;
    GetWindowRect(form->Handle(), &window);
    for (int dpi : {144, own}) {
      RECT r = window;
      SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&r));
    }
    std::vector<RECT> after = ChildRects(form->Handle());
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
      EXPECT_TRUE(EqualRect(&before[i], &after[i]))
          << Narrow(TextOf(form->Handle())) << " child " << i << ": " << after[i].left << "," << after[i].top
          << "-" << after[i].right << "," << after[i].bottom;
    RECT now;
    GetWindowRect(form->Handle(), &now);
    EXPECT_TRUE(EqualRect(&now, &window));
  }
}

}  // namespace
}  // namespace ts
