// Cost of drawing screen reports onto the back surface under Wine's DirectDraw, and
// how it compares with the 60 bare BltFast calls that every report comes down to.

#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <memory>

#include "bench/MiniBench.h"
#include "screen/ScreenMirror.h"

namespace {

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// One initialised display control with its tile table, shared by all benchmarks.
struct TScreen {
  TScreen() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = FormProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RenderBenchForm";
    RegisterClassW(&wc);
    form = CreateWindowExW(0, L"RenderBenchForm", L"Render benchmark", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                           0, 0, 540, 380, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    view.SetOptions(ts::kMainWindowDisplayOptions);
    view.OnInitialize = ts::Bind(&mirror, &ts::TScreenMirror::DisplayViewInitialize);
    view.OnFinalize = ts::Bind(&mirror, &ts::TScreenMirror::DisplayViewFinalize);
    view.CreateWnd(form, 96, 0, 326, 246);
    ShowWindow(form, SW_SHOWNORMAL);
    if (!view.CanDraw()) {
      std::fprintf(stderr, "display control did not initialise\n");
      std::exit(1);
    }
    for (int g = 0; g < 80; ++g)
      for (int h = 0; h < 2; ++h) {
        auto& r = reports[static_cast<size_t>(2 * g + h)];
        for (int k = 0; k < 60; ++k)
          r[static_cast<size_t>(k)] = static_cast<uint8_t>(g * 31 + h * 7 + k * 13);
        r[60] = static_cast<uint8_t>(g);
        r[61] = static_cast<uint8_t>(h);
      }
  }
  ~TScreen() { DestroyWindow(form); }

  HWND form;
  ts::TDisplayView view;
  ts::TScreenModel model;
  ts::TScreenMirror mirror{view, model};
  std::array<std::array<uint8_t, 64>, 160> reports{};
};

TScreen& Screen() {
  static TScreen screen;
  return screen;
}

// Reports of groups 1-79 (index 2 onwards): drawing only, no present.
void RenderOne(TScreen& s, size_t i) { s.model.Take(s.reports[i].data(), 64); }

// The same 60 copies of a report, straight to DirectDraw: the floor.
void BareOne(TScreen& s, size_t i) {
  IDirectDrawSurface* back = s.view.BackSurface()->ISurface();
  RECT tile{0, 0, 8, 1};
  const auto& r = s.reports[i];
  const auto& placement = ts::kPlacement[ts::HalfIndex(r[61])];
  const int top = ts::GroupTopRow(r[60]);
  for (int k = 0; k < 60; ++k)
    back->BltFast(static_cast<DWORD>(placement[k].x), static_cast<DWORD>(top + placement[k].row),
                  s.mirror.Tile(r[static_cast<size_t>(k)])->ISurface(), &tile, 0);
}

template <void (*F)(TScreen&, size_t)>
void Loop(minibench::State& state) {
  TScreen& s = Screen();
  size_t i = 2;
  for (auto _ : state) {
    F(s, i);
    if (++i == s.reports.size()) i = 2;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_RenderScreenReport(minibench::State& state) { Loop<RenderOne>(state); }
MINIBENCH(BM_RenderScreenReport);
void BM_BareBltFast60(minibench::State& state) { Loop<BareOne>(state); }
MINIBENCH(BM_BareBltFast60);

// The machine is shared, so the ratio comes from short alternating rounds of both,
// each side taking its fastest round: interference only ever adds time.
double FastestRound(void (*f)(TScreen&, size_t), int reports) {
  TScreen& s = Screen();
  auto start = std::chrono::steady_clock::now();
  for (int n = 0; n < reports; ++n) f(s, 2 + static_cast<size_t>(n) % 158);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / reports;
}

// A whole frame as the instrument sends it: 160 reports, two of them presenting
// (with the vertical-blank wait).
void BM_RenderFullFrame(minibench::State& state) {
  TScreen& s = Screen();
  for (auto _ : state)
    for (const auto& r : s.reports) s.model.Take(r.data(), 64);
  state.SetItemsProcessed(state.iterations() * 160);
}
MINIBENCH(BM_RenderFullFrame);

}  // namespace

int main(int argc, char** argv) {
  int rc = minibench::RunAll(argc, argv);
  auto& results = minibench::Results();
  if (results.count("BM_RenderScreenReport") && results.count("BM_BareBltFast60")) {
    double render = 1e9, bare = 1e9;
    for (int round = 0; round < 40; ++round) {
      render = std::min(render, FastestRound(&RenderOne, 2000));
      bare = std::min(bare, FastestRound(&BareOne, 2000));
    }
    std::printf(
        "\nfastest of 40 alternating rounds of 2000 reports: RenderScreenReport %.2f us, 60 BltFast %.2f "
        "us\n",
        render * 1e6, bare * 1e6);
    std::printf("reports per second (drawing only): %.0f\n", 1.0 / render);
    std::printf("cost ratio RenderScreenReport / 60 bare BltFast: %.3f\n", render / bare);
  }
  if (results.count("BM_RenderFullFrame"))
    std::printf("reports per second (whole frames, presenting): %.0f\n",
                160.0 / results["BM_RenderFullFrame"].realPerIteration);
  return rc;
}
