#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>

#include "sim/Font.h"
#include "sim/Instrument.h"
#include "sim/Screen.h"

namespace ts::sim {
namespace {

// The mirror's reading of a report, written out from the placement rule: byte k
// of half h of group g starts at run position p = 480h + 8k, which is screen
// pixel (p mod 320, 3g + p div 320); the most significant bit is leftmost.
void DecodeInto(const Report& r, Screen& out) {
  ASSERT_EQ(r[0], 0) << "input reports carry report ID 0";
  const int g = r[61];
  const int h = r[62] ? 1 : 0;
  for (int k = 0; k < 60; ++k) {
    const int p = 480 * h + 8 * k;
    for (int bit = 0; bit < 8; ++bit)
      out.SetPixel(p % 320 + bit, 3 * g + p / 320, (r[1 + k] >> (7 - bit)) & 1);
  }
}

Screen Decode(const Screen& source) {
  Screen decoded;
  std::set<std::pair<int, int>> seen;
  for (int i = 0; i < kReportsPerFrame; ++i) {
    const Report r = EncodeScreenReport(source, i);
    EXPECT_EQ(r[63], 0);
    EXPECT_EQ(r[64], 0);
    seen.insert({r[61], r[62]});
    DecodeInto(r, decoded);
  }
  EXPECT_EQ(seen.size(), size_t(kReportsPerFrame)) << "groups 0-79, both halves, each once";
  return decoded;
}

TEST(ScreenReports, RoundTripThroughThePlacementRule) {
  Screen noise;  // every pixel independent, so any misplaced byte or bit shows
  uint32_t state = 12345;
  for (int y = 0; y < kScreenHeight; ++y)
    for (int x = 0; x < kScreenWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      noise.SetPixel(x, y, state >> 31);
    }
  EXPECT_EQ(Decode(noise), noise);

  Instrument instrument;
  EXPECT_EQ(Decode(instrument.Render(SimTime(0))), instrument.LastScreen());
}

TEST(ScreenReports, GroupAndHalfSelectTheLinesOfTheReport) {
  Screen s;
  s.SetPixel(0, 15);    // group 5, line 3g: first half, byte 0
  s.SetPixel(160, 16);  // line 3g+1 at pixel 160: second half, byte 0
  s.SetPixel(319, 17);  // line 3g+2, last pixel: second half, byte 59
  const Report first = EncodeScreenReport(s, 10), second = EncodeScreenReport(s, 11);
  EXPECT_EQ(first[61], 5);
  EXPECT_EQ(first[62], 0);
  EXPECT_EQ(first[1], 0x80);
  EXPECT_EQ(second[61], 5);
  EXPECT_EQ(second[62], 1);
  EXPECT_EQ(second[1], 0x80);
  EXPECT_EQ(second[60], 0x01);
}

TEST(ScreenDrawing, ClipsAtTheEdgesInsteadOfWritingOutside) {
  Screen s;
  s.SetPixel(-1, 0);
  s.SetPixel(0, kScreenHeight);
  s.HLine(-50, -1, 10);
  s.VLine(5, 240, 1000);
  s.Fill(400, 400, 500, 500, true);
  s.Frame(-10, -10, -5, -5);
  EXPECT_EQ(s, Screen()) << "nothing on screen was touched";

  s.Fill(310, 230, 400, 400, true);
  EXPECT_TRUE(s.Pixel(319, 239));
  EXPECT_TRUE(s.Pixel(310, 230));
  EXPECT_FALSE(s.Pixel(309, 239));
  EXPECT_FALSE(s.Pixel(320, 239)) << "off-screen reads are white";
}

TEST(Font, CoversLatinAndCyrillicWithDistinctShapes) {
  std::u32string all;
  for (char32_t c = 0x20; c < 0x7F; ++c) all += c;
  for (char32_t c = U'А'; c <= U'я'; ++c) all += c;
  all += U"Ёё№µ°";
  for (char32_t c : all) EXPECT_TRUE(HasGlyph(c)) << "U+" << std::hex << uint32_t(c);
  EXPECT_FALSE(HasGlyph(U'日'));

  // Cyrillic letters drawn with a Latin letter's shape on purpose.
  const std::u32string cyr = U"АВЕКМНОРСТХаеорсух", lat = U"ABEKMHOPCTXaeopcyx";
  auto key = [](char32_t c) {
    const Glyph g = GlyphOf(c);
    return std::string(reinterpret_cast<const char*>(g.rows), kGlyphHeight);
  };
  std::map<std::string, char32_t> shapes;
  for (char32_t c : all) {
    if (cyr.find(c) != std::u32string::npos) {
      EXPECT_EQ(key(c), key(lat[cyr.find(c)]));
      continue;
    }
    const auto [it, fresh] = shapes.emplace(key(c), c);
    EXPECT_TRUE(fresh) << "U+" << std::hex << uint32_t(c) << " looks like U+" << uint32_t(it->second);
  }
}

TEST(Font, DrawsGlyphCellsAndAHollowBoxForUnknownCharacters) {
  Screen s;
  EXPECT_EQ(DrawText(s, 10, 20, "Ж?"), 2 * kCellWidth);
  const Glyph zh = GlyphOf(U'Ж');
  for (int r = 0; r < kGlyphHeight; ++r)
    for (int c = 0; c < kCellWidth; ++c)
      EXPECT_EQ(s.Pixel(10 + c, 20 + r), c < kGlyphWidth && (zh.rows[r] >> (4 - c)) & 1) << r << "," << c;

  Screen box;
  DrawText(box, 0, 0, U"日");
  EXPECT_TRUE(box.Pixel(0, 0) && box.Pixel(4, 6) && box.Pixel(4, 0) && box.Pixel(0, 6));
  EXPECT_FALSE(box.Pixel(2, 3));

  Screen white;
  white.Fill(0, 0, 20, 10, true);
  DrawText(white, 0, 0, "T", false);
  EXPECT_FALSE(white.Pixel(2, 3)) << "white ink on a black bar";
  EXPECT_TRUE(white.Pixel(0, 3));
}

}  // namespace
}  // namespace ts::sim
