#include "tests/windows/screen/ScreenTestUtil.h"

#include <gtest/gtest.h>

namespace ts::test {
namespace {

std::vector<std::string> recorded;

void Record(const std::exception& error) { recorded.push_back(error.what()); }

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t* TestWindowClass() {
  static const wchar_t* name = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = TestWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"ScreenTestWindow";
    RegisterClassW(&wc);
    return L"ScreenTestWindow";
  }();
  return name;
}

}  // namespace

TTestWindow::TTestWindow(int clientWidth, int clientHeight, bool visible) {
  RECT r{0, 0, clientWidth, clientHeight};
  DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  AdjustWindowRect(&r, style, FALSE);
  window_ = CreateWindowExW(WS_EX_TOPMOST, TestWindowClass(), L"Screen test", style, 40, 40, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (visible) {
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
  }
}

TTestWindow::~TTestWindow() { Destroy(); }

void TTestWindow::Destroy() {
  if (window_ && IsWindow(window_)) DestroyWindow(window_);
  window_ = nullptr;
  PumpPending();
}

void PumpPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

namespace {

uint32_t PixelAt(const DDSURFACEDESC& desc, int x, int y) {
  auto* row = static_cast<const uint8_t*>(desc.lpSurface) + static_cast<ptrdiff_t>(y) * desc.lPitch;
  uint32_t value = 0;
  switch (desc.ddpfPixelFormat.dwRGBBitCount) {
    case 8:
      value = row[x];
      break;
    case 16:
      value = static_cast<uint32_t>(row[2 * x] | (row[2 * x + 1] << 8));
      break;
    case 24:
      value = static_cast<uint32_t>(row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16));
      break;
    case 32:
      std::memcpy(&value, row + 4 * x, 4);
      break;
    default:
      ADD_FAILURE() << desc.ddpfPixelFormat.dwRGBBitCount << " bits per pixel";
  }
  return value;
}

}  // namespace

uint32_t ReadPixel(TDirectDrawSurface& surface, int x, int y) {
  DDSURFACEDESC desc{};
  if (!surface.Lock(nullptr, desc)) {
    ADD_FAILURE() << "surface cannot be locked";
    return 0xDEADBEEF;
  }
  uint32_t value = PixelAt(desc, x, y);
  surface.Unlock();
  return value;
}

std::vector<uint32_t> ReadRow(TDirectDrawSurface& surface, int y) {
  std::vector<uint32_t> row;
  for (int x = 0; x < surface.Width(); ++x) row.push_back(ReadPixel(surface, x, y));
  return row;
}

std::vector<uint32_t> ReadAll(TDirectDrawSurface& surface) {
  std::vector<uint32_t> all;
  DDSURFACEDESC desc{};
  if (!surface.Lock(nullptr, desc)) {
    ADD_FAILURE() << "surface cannot be locked";
    return all;
  }
  for (int y = 0; y < surface.Height(); ++y)
    for (int x = 0; x < surface.Width(); ++x) all.push_back(PixelAt(desc, x, y));
  surface.Unlock();
  return all;
}

uint32_t Raw(TDirectDrawSurface& surface, uint32_t value) {
  DWORD bits = surface.SurfaceDesc().ddpfPixelFormat.dwRGBBitCount;
  return bits >= 32 ? value : value & ((1u << bits) - 1);
}

uint32_t White(TDirectDrawSurface& surface) {
  switch (surface.SurfaceDesc().ddpfPixelFormat.dwRGBBitCount) {
    case 8:
      return 0xFF;
    case 16:
      return 0xFFFF;
    case 24:
      return 0xFFFFFF;
    default:
      return 0xFFFFFF;
  }
}

TErrorRecorder::TErrorRecorder() {
  recorded.clear();
  previous_ = SetErrorSink(&Record);
}

TErrorRecorder::~TErrorRecorder() { SetErrorSink(previous_); }

std::vector<std::string> TErrorRecorder::Messages() const { return recorded; }

}  // namespace ts::test
