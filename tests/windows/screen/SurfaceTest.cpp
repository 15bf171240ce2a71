// The DirectDraw wrappers against Wine's real DirectDraw.

#include <gtest/gtest.h>

#include <memory>

#include "screen/DDrawConsts.h"
#include "screen/DDrawUnit.h"
#include "tests/windows/screen/ScreenTestUtil.h"

namespace ts {
namespace {

using test::Raw;
using test::ReadPixel;
using test::ReadRow;
using test::White;

class SurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    draw = std::make_unique<TDirectDraw>(nullptr, true);
    ASSERT_EQ(draw->IDraw()->SetCooperativeLevel(window.Handle(), DDSCL_NORMAL), DD_OK);
  }

  std::unique_ptr<TDirectDrawSurface> MakeSurface(int w, int h) {
    auto s = std::make_unique<TDirectDrawSurface>(draw.get());
    s->SetSystemMemory(true);
    s->SetSize(w, h);
    return s;
  }

  test::TTestWindow window{200, 100, false};
  std::unique_ptr<TDirectDraw> draw;
};

TEST_F(SurfaceTest, DirectDrawObjectHasAllThreeInterfacesAndCaps) {
  EXPECT_NE(draw->IDraw(), nullptr);
  EXPECT_NE(draw->IDraw4(), nullptr);
  EXPECT_NE(draw->IDraw7(), nullptr);
  EXPECT_EQ(draw->DriverCaps().dwSize, sizeof(DDCAPS));
  EXPECT_EQ(draw->LastResult(), DD_OK);
}

TEST_F(SurfaceTest, TileIsEightByOneInSystemMemoryMadeInOneAttempt) {
  auto tile = MakeSurface(8, 1);
  EXPECT_EQ(tile->Width(), 8);
  EXPECT_EQ(tile->Height(), 1);
  RECT r = tile->ClientRect();
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 8);
  EXPECT_EQ(r.bottom, 1);
  EXPECT_TRUE(tile->SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
  EXPECT_TRUE(tile->SystemMemory());
  EXPECT_NE(tile->ISurface4(), nullptr);
  EXPECT_NE(tile->ISurface7(), nullptr);
  EXPECT_FALSE(tile->HasClipper());
}

TEST_F(SurfaceTest, NonPositiveSizeReleasesAndEveryOperationThenDoesNothing) {
  auto back = MakeSurface(326, 246);
  auto tile = MakeSurface(8, 1);
  back->SetSize(0, 1);
  EXPECT_EQ(back->ISurface(), nullptr);
  EXPECT_EQ(back->Width(), 0);
  EXPECT_EQ(back->Height(), 0);
  RECT r = back->ClientRect();
  EXPECT_EQ(r.right - r.left + r.bottom - r.top, 0);
  back->SetPixel(0, 0, 0);
  EXPECT_FALSE(back->Draw(0, 0, tile->ClientRect(), 0, tile.get()));
  EXPECT_FALSE(back->Fill(0));
  back->FillRect(RECT{0, 0, 10, 10}, 0);
  DDSURFACEDESC desc{};
  EXPECT_FALSE(back->Lock(nullptr, desc));
  EXPECT_FALSE(back->Restore());
  EXPECT_THROW(back->Canvas().Handle(), EDirectDrawSurfaceError);

  back->SetSize(326, 246);  // and it can be given a surface again
  EXPECT_EQ(back->Width(), 326);
  tile->SetSize(5, -1);
  EXPECT_EQ(tile->Width(), 0);
}

TEST_F(SurfaceTest, SetPixelWritesTheRawValueOnlyInsideTheSurface) {
  auto tile = MakeSurface(8, 1);
  for (int x = 0; x < 8; ++x) tile->SetPixel(x, 0, 0x00123456u + static_cast<uint32_t>(x));
  for (int x = 0; x < 8; ++x)
    EXPECT_EQ(ReadPixel(*tile, x, 0), Raw(*tile, 0x00123456u + static_cast<uint32_t>(x)));
  tile->SetPixel(3, 0, 0xFFFFFFFFu);  // no conversion, not even of the top byte
  EXPECT_EQ(ReadPixel(*tile, 3, 0), Raw(*tile, 0xFFFFFFFFu));

  auto before = ReadRow(*tile, 0);
  tile->SetPixel(8, 0, 0);
  tile->SetPixel(-1, 0, 0);
  tile->SetPixel(0, -1, 0);
  tile->SetPixel(0, 1, 0);
  EXPECT_EQ(ReadRow(*tile, 0), before);
  EXPECT_EQ(tile->LockCount(), 0);
}

TEST_F(SurfaceTest, LocksDoNotNestAndSetPixelWhileLockedDoesNothing) {
  auto tile = MakeSurface(8, 1);
  tile->SetPixel(0, 0, 0x111111);
  DDSURFACEDESC first{}, second{};
  ASSERT_TRUE(tile->Lock(nullptr, first));
  EXPECT_EQ(tile->LockCount(), 1);
  EXPECT_NE(first.lpSurface, nullptr);
  EXPECT_FALSE(tile->Lock(nullptr, second));
  tile->SetPixel(0, 0, 0x222222);
  EXPECT_EQ(tile->LockCount(), 1);
  tile->Unlock();
  EXPECT_EQ(tile->LockCount(), 0);
  tile->Unlock();  // an extra unlock is harmless
  EXPECT_EQ(ReadPixel(*tile, 0, 0), Raw(*tile, 0x111111u));
  RECT part{2, 0, 4, 1};
  ASSERT_TRUE(tile->Lock(&part, second));
  tile->Unlock();
}

TEST_F(SurfaceTest, DrawIsAnUnclippedCopyThatRefusesRectanglesOutside) {
  auto back = MakeSurface(326, 246);
  auto tile = MakeSurface(8, 1);
  ASSERT_TRUE(back->Fill(0x00AA00));
  for (int x = 0; x < 8; ++x) tile->SetPixel(x, 0, x % 2 ? 0xFFFFFF : 0);

  EXPECT_FALSE(back->Draw(319, 10, tile->ClientRect(), 0, tile.get()));
  EXPECT_NE(back->LastResult(), DD_OK);
  const uint32_t green = Raw(*back, 0x00AA00u);
  for (uint32_t v : ReadRow(*back, 10)) ASSERT_EQ(v, green);

  ASSERT_TRUE(back->Draw(318, 10, tile->ClientRect(), 0, tile.get()));
  auto row = ReadRow(*back, 10);
  EXPECT_EQ(row[317], green);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(row[318 + x], x % 2 ? White(*back) : 0u) << x;

  // Also refused: below the last row, negative positions, a source rectangle
  // outside the source, a source that holds no surface.
  EXPECT_FALSE(back->Draw(0, 246, tile->ClientRect(), 0, tile.get()));
  EXPECT_FALSE(back->Draw(-1, 0, tile->ClientRect(), 0, tile.get()));
  EXPECT_FALSE(back->Draw(0, 0, RECT{0, 0, 9, 1}, 0, tile.get()));
  TDirectDrawSurface empty(draw.get());
  EXPECT_FALSE(back->Draw(0, 0, RECT{0, 0, 8, 1}, 0, &empty));
  EXPECT_EQ(ReadRow(*back, 0), std::vector<uint32_t>(326, green));
  EXPECT_EQ(ReadRow(*back, 245), std::vector<uint32_t>(326, green));
}

TEST_F(SurfaceTest, DrawIsOpaqueDespiteTheBlackSourceColourKey) {
  auto back = MakeSurface(16, 1);
  auto tile = MakeSurface(8, 1);
  back->Fill(0xFFFFFF);
  tile->Fill(0);  // black is the colour key; without the key flag it is still copied
  ASSERT_TRUE(back->Draw(4, 0, tile->ClientRect(), 0, tile.get()));
  auto row = ReadRow(*back, 0);
  for (int x = 0; x < 16; ++x) EXPECT_EQ(row[x], (x >= 4 && x < 12) ? 0u : White(*back)) << x;
}

TEST_F(SurfaceTest, FillRectClipsToTheSurface) {
  auto back = MakeSurface(326, 246);
  auto filled = [&](uint32_t c) {
    int n = 0;
    for (uint32_t v : test::ReadAll(*back)) n += v == c;
    return n;
  };
  back->Fill(0);
  back->FillRect(RECT{-5, -5, 10, 10}, 0x123456);
  const uint32_t colour = Raw(*back, 0x123456);
  EXPECT_EQ(filled(colour), 100);
  EXPECT_EQ(ReadPixel(*back, 9, 9), colour);
  EXPECT_EQ(ReadPixel(*back, 10, 0), 0u);
  EXPECT_EQ(ReadPixel(*back, 0, 10), 0u);

  back->Fill(0);
  back->FillRect(RECT{400, 0, 500, 10}, 0x123456);
  back->FillRect(RECT{5, 5, 5, 10}, 0x123456);     // Right = Left
  back->FillRect(RECT{5, 5, 10, 5}, 0x123456);     // Bottom = Top
  back->FillRect(RECT{10, 5, 5, 10}, 0x123456);    // inverted
  back->FillRect(RECT{0, -10, 10, -1}, 0x123456);  // above
  EXPECT_EQ(filled(0), 326 * 246);

  back->FillRect(RECT{320, 240, 1000, 1000}, 0x123456);
  EXPECT_EQ(filled(colour), 6 * 6);
}

TEST_F(SurfaceTest, CanvasGivesADeviceContextAndGivesItBack) {
  auto back = MakeSurface(16, 4);
  back->Fill(0);
  back->FillRect(RECT{2, 1, 3, 2}, 0xFFFFFF);
  auto& canvas = back->Canvas();
  EXPECT_EQ(&canvas, &back->Canvas());
  HDC dc = canvas.Handle();
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(canvas.Handle(), dc);

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 4);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(memory, bitmap);
  canvas.CopyRect(memory, RECT{0, 0, 16, 4}, back->ClientRect());
  canvas.ReleaseCanvas();
  EXPECT_EQ(GetPixel(memory, 2, 1), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(memory, 3, 1), RGB(0, 0, 0));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);

  // The surface is free for DirectDraw again.
  DDSURFACEDESC desc{};
  EXPECT_TRUE(back->Lock(nullptr, desc));
  back->Unlock();
}

TEST_F(SurfaceTest, RestoreAndIsLostOnAnIntactSurface) {
  auto back = MakeSurface(16, 4);
  EXPECT_EQ(back->IsLost(), DD_OK);
  EXPECT_TRUE(back->Restore());
}

TEST_F(SurfaceTest, OwnerListsFollowMakersAndTeardownReleasesLeftovers) {
  auto surface = MakeSurface(8, 1);
  auto clipper = std::make_unique<TDirectDrawClipper>(draw.get());
  PALETTEENTRY entries[256] = {};
  auto palette = std::make_unique<TDirectDrawPalette>(draw.get(), DDPCAPS_8BIT | DDPCAPS_INITIALIZE, entries);
  EXPECT_NE(palette->IPalette(), nullptr);
  {
    TDirectDrawSurface second(draw.get());
    EXPECT_EQ(draw->SurfaceCount(), 2u);
  }
  EXPECT_EQ(draw->SurfaceCount(), 1u);
  EXPECT_EQ(draw->ClipperCount(), 1u);
  EXPECT_EQ(draw->PaletteCount(), 1u);

  // The makers still hold their wrappers: they become empty, and freeing them later
  // is safe.
  draw.reset();
  EXPECT_EQ(surface->ISurface(), nullptr);
  EXPECT_EQ(surface->Width(), 0);
  EXPECT_EQ(surface->Owner(), nullptr);
  EXPECT_EQ(clipper->IClipper(), nullptr);
  EXPECT_EQ(palette->IPalette(), nullptr);
  EXPECT_THROW(surface->SetSize(8, 1), EDirectDrawSurfaceError);  // nothing to make it on
  EXPECT_EQ(surface->Width(), 0);
  surface.reset();
  clipper.reset();
  palette.reset();
}

TEST(PlatformLoaderTest, MissingLibraryOrEntryNamesTheFile) {
  try {
    LoadPlatformFunction("NoSuchLibrary4170.dll", "DirectDrawCreateEx");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "NoSuchLibrary4170.dll not loaded");
  }
  try {
    LoadPlatformFunction("DDraw.dll", "NoSuchEntry");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "DDraw.dll not loaded");
  }
  // One library per file name, whatever its case.
  EXPECT_EQ(LoadPlatformFunction("ddraw.DLL", "DirectDrawCreateEx"),
            LoadPlatformFunction("DDraw.dll", "DirectDrawCreateEx"));
}

}  // namespace
}  // namespace ts
