// Windows BMP input: the forms paint programs write, checked against the
// pixels ImageMagick reads from the same files; row order, colour tables and
// refusal of damaged or hostile files.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

#include "bftest.h"
#include "testsupport.h"

using bftest::Bytes;

namespace {

// ---------------------------------------------------------------------------
// Building files
// ---------------------------------------------------------------------------

// A BMP laid out field by field. An InfoSize of 12 writes the old header;
// masks go inside headers of 52 bytes or more and after a 40-byte one when the
// compression is 3 (three masks) or 6 (four).
struct Layout {
  int32_t Width = 1, Height = 1;
  uint16_t Bits = 24;
  uint32_t Compression = 0;
  uint32_t InfoSize = 40;
  std::array<uint32_t, 4> Masks{};
  Bytes Table{};
  Bytes Pixels{};
  uint32_t ColorsUsed = 0;
  uint32_t Gap = 0;  // bytes between the colour table and the pixels
  Bytes Trailing{};  // bytes after the pixels that the reader must leave alone
};

Bytes Build(const Layout& S) {
  Bytes info;
  if (S.InfoSize == 12) {
    bftest::Put32(info, 12);
    bftest::Put16(info, (uint16_t)S.Width);
    bftest::Put16(info, (uint16_t)S.Height);
    bftest::Put16(info, 1);
    bftest::Put16(info, S.Bits);
  } else {
    for (uint32_t v : {S.InfoSize, (uint32_t)S.Width, (uint32_t)S.Height}) bftest::Put32(info, v);
    bftest::Put16(info, 1);
    bftest::Put16(info, S.Bits);
    for (uint32_t v : {S.Compression, (uint32_t)S.Pixels.size(), 2834u, 2834u, S.ColorsUsed, 0u})
      bftest::Put32(info, v);
    const bool masked = S.Compression == 3 || S.Compression == 6;
    if (S.InfoSize >= 52 || masked) {
      const int count = S.InfoSize >= 56 || S.Compression == 6 ? 4 : 3;
      for (int c = 0; c < count; ++c) bftest::Put32(info, S.Masks[c]);
    }
    if (S.InfoSize > 40) info.resize(std::max<size_t>(info.size(), S.InfoSize), 0);
  }
  Bytes b{'B', 'M'};
  const uint32_t offset = (uint32_t)(14 + info.size() + S.Table.size() + S.Gap);
  bftest::Put32(b, offset + (uint32_t)(S.Pixels.size() + S.Trailing.size()));
  bftest::Put32(b, 0);
  bftest::Put32(b, offset);
  b.insert(b.end(), info.begin(), info.end());
  b.insert(b.end(), S.Table.begin(), S.Table.end());
  b.resize(b.size() + S.Gap, 0xEE);
  b.insert(b.end(), S.Pixels.begin(), S.Pixels.end());
  b.insert(b.end(), S.Trailing.begin(), S.Trailing.end());
  return b;
}

// Count colour-table entries (blue, green, red, reserved; 3 bytes each for
// the old header), all distinct.
Bytes Table(int Count, int EntryBytes = 4) {
  Bytes t;
  for (int i = 0; i < Count; ++i) {
    t.insert(t.end(), {(uint8_t)(i * 16 + 3), (uint8_t)(255 - i * 13), (uint8_t)(i * 97)});
    if (EntryBytes == 4) t.push_back(0);
  }
  return t;
}

// Rows of Bytes-wide pixels whose values spread over all bits, each row padded.
Bytes MaskedRows(int32_t Width, int32_t Height, int Bytes_) {
  Bytes rows;
  for (int32_t y = 0; y < Height; ++y) {
    for (int32_t x = 0; x < Width; ++x) {
      const uint32_t v = (uint32_t)(x * 40503 + y * 9973 + 17) * 2654435761u;
      for (int k = 0; k < Bytes_; ++k) rows.push_back((uint8_t)(v >> (8 * k)));
    }
    while (rows.size() % 4) rows.push_back(0);
  }
  return rows;
}

// ---------------------------------------------------------------------------
// Comparing with ImageMagick
// ---------------------------------------------------------------------------

bool HaveConvert() { return std::system("convert -version > /dev/null 2>&1") == 0; }

// The RGBA bytes ImageMagick reads from Path.
Bytes MagickRgba(const cvtest::TempDir& Dir, const std::string& Path) {
  const std::string out = Dir.File("magick.rgba");
  const std::string command = "convert '" + Path + "' -depth 8 rgba:'" + out + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  return cvtest::ReadFileBytes(out);
}

// Level 0 of Bitmap as RGBA bytes, through a read lock in 32 bit ARGB.
Bytes EngineRgba(cvBitmap* Bitmap) {
  cvBitmap* lock = nullptr;
  if (!cvBitmap_LockForRead(Bitmap, &lock, 0, 0, CV_PIXELFORMAT_32BIT_ARGB, 0, 0)) return {};
  cvBitmap_Info info{};
  cvBitmap_GetInfo(lock, &info, nullptr);
  const uint8_t* bits = static_cast<const uint8_t*>(cvBitmap_GetBits(lock));
  Bytes rgba;
  for (int32_t y = 0; y < info.Height; ++y)
    for (int32_t x = 0; x < info.Width; ++x) {
      const uint32_t p = cvLE_Get32(bits + ((size_t)y * info.Stride + x) * 4);
      rgba.insert(rgba.end(), {(uint8_t)(p >> 16), (uint8_t)(p >> 8), (uint8_t)p, (uint8_t)(p >> 24)});
    }
  cvBitmap_UnLock(lock);
  return rgba;
}

// The file's channels are Bits wide (R, G, B, A; 0 = absent, read as 8).
// Both readers must agree on every channel's stored bits: the top Bits bits of
// the 8-bit values, or within one step for channels wider than 8 bits, which
// both scale down.
void ExpectSamePixels(const Bytes& Engine, const Bytes& Magick, std::array<int, 4> Bits, const std::string& Label) {
  ASSERT_EQ(Engine.size(), Magick.size()) << Label;
  int wrong = 0;
  for (size_t i = 0; i < Engine.size() && wrong < 5; ++i) {
    const int bits = Bits[i % 4] == 0 ? 8 : Bits[i % 4];
    const int e = Engine[i], m = Magick[i];
    const bool same = bits > 8 ? std::abs(e - m) <= 1 : (e >> (8 - bits)) == (m >> (8 - bits));
    if (!same) {
      ++wrong;
      ADD_FAILURE() << Label << ": pixel " << i / 4 << " channel " << i % 4 << " engine " << e << " ImageMagick " << m;
    }
  }
}

struct MagickCase {
  const char* Label;
  std::string Make;  // convert arguments; the output file follows
  cvPixelFormat Format;
  std::array<int, 4> Bits;
};

TEST(BmpRead, FilesImageMagickWrites) {
  if (!HaveConvert()) GTEST_SKIP() << "ImageMagick (convert) not installed";
  const std::string alpha = " -alpha set -channel A -fx '(i+j)/12' +channel ";
  const std::string plasma = "-seed 7 -size 23x9 plasma:fractal";
  const std::string mixed = "-seed 5 -size 40x5 plasma:fractal -size 40x5 gradient:red-blue -append";
  const std::array<int, 4> rgb8{8, 8, 8, 0};
  const MagickCase cases[] = {
      {"1-bit", "-size 37x5 pattern:checkerboard -type bilevel BMP3:", CV_PIXELFORMAT_8BIT_PAL, rgb8},
      {"4-bit", plasma + " -colors 16 BMP3:", CV_PIXELFORMAT_8BIT_PAL, rgb8},
      {"8-bit", plasma + " -colors 150 -compress None BMP3:", CV_PIXELFORMAT_8BIT_PAL, rgb8},
      {"RLE8", mixed + " -colors 60 -compress RLE BMP3:", CV_PIXELFORMAT_8BIT_PAL, rgb8},
      {"old header 4-bit", plasma + " -colors 16 BMP2:", CV_PIXELFORMAT_8BIT_PAL, rgb8},
      {"old header 8-bit", plasma + " -colors 150 BMP2:", CV_PIXELFORMAT_8BIT_PAL, rgb8},
      {"old header 24-bit", plasma + " BMP2:", CV_PIXELFORMAT_24BIT_BGR, rgb8},
      {"124-byte header 24-bit", plasma + " BMP:", CV_PIXELFORMAT_24BIT_BGR, rgb8},
      {"565", plasma + " -define bmp:subtype=RGB565 BMP:", CV_PIXELFORMAT_16BIT_565_RGB, {5, 6, 5, 0}},
      {"555", plasma + " -define bmp:subtype=RGB555 BMP:", CV_PIXELFORMAT_16BIT_555_RGB, {5, 5, 5, 0}},
      {"4444", plasma + alpha + "-define bmp:subtype=ARGB4444 BMP:", CV_PIXELFORMAT_16BIT_4444_ARGB, {4, 4, 4, 4}},
      {"1555", plasma + alpha + "-define bmp:subtype=ARGB1555 BMP:", CV_PIXELFORMAT_16BIT_1555_ARGB, {5, 5, 5, 1}},
      {"8888", plasma + alpha + "BMP:", CV_PIXELFORMAT_32BIT_ARGB, {8, 8, 8, 8}},
  };
  cvtest::TempDir dir;
  for (const MagickCase& c : cases) {
    const std::string path = dir.File("made.bmp");
    ASSERT_EQ(std::system(("convert " + c.Make + "'" + path + "'").c_str()), 0) << c.Label;
    cvBitmap* bitmap = cvBitmap_CreateFromFileName(nullptr, path.c_str());
    ASSERT_NE(bitmap, nullptr) << c.Label;
    EXPECT_EQ(bitmap->System.Format, c.Format) << c.Label;
    ExpectSamePixels(EngineRgba(bitmap), MagickRgba(dir, path), c.Bits, c.Label);
    cvBitmap_Destroy(&bitmap);
  }
}

struct BuiltCase {
  const char* Label;
  Layout File;
  cvPixelFormat Format;
  std::array<int, 4> Bits;
};

TEST(BmpRead, HandBuiltFilesReadAsImageMagickReadsThem) {
  if (!HaveConvert()) GTEST_SKIP() << "ImageMagick (convert) not installed";
  // 7 x 4: a run and a literal then an early end of line (pixel 6 keeps
  // index 0), a delta over the rest of row 1 and the start of row 2, an even
  // literal, and bytes after the end of the bitmap.
  const Bytes rle8{3, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 1, 5, 9, 0, 0, 0, 4, 10, 11, 12, 13, 3, 15, 0, 1};
  // 9 x 3: a run of alternating nibbles, an even and an odd (padded) literal,
  // a one-pixel run, a delta, and the end of the bitmap in mid row.
  const Bytes rle4{5, 0x3A, 0, 3, 0x45, 0x60, 1, 0x70, 0, 0, 0, 5, 0x12, 0x34, 0x50, 0, 0, 2, 3, 1, 1, 0xF0, 0, 1};
  const BuiltCase cases[] = {
      {"RLE8", {.Width = 7, .Height = 4, .Bits = 8, .Compression = 1, .Table = Table(16), .Pixels = rle8,
                .ColorsUsed = 16, .Trailing = {0xAA, 0xBB}}, CV_PIXELFORMAT_8BIT_PAL, {8, 8, 8, 0}},
      {"RLE4", {.Width = 9, .Height = 3, .Bits = 4, .Compression = 2, .Table = Table(16), .Pixels = rle4,
                .Trailing = {0, 0, 0}}, CV_PIXELFORMAT_8BIT_PAL, {8, 8, 8, 0}},
      {"short colour table, longer header, gap", {.Width = 5, .Height = 2, .Bits = 8, .InfoSize = 108,
                                                  .Table = Table(16), .Pixels = {15, 0, 7, 1, 9, 0, 0, 0, 3, 14, 2, 8, 15, 0, 0, 0},
                                                  .ColorsUsed = 16, .Gap = 6}, CV_PIXELFORMAT_8BIT_PAL, {8, 8, 8, 0}},
      {"old header 1-bit", {.Width = 13, .Height = 2, .Bits = 1, .InfoSize = 12, .Table = Table(2, 3),
                            .Pixels = {0xA5, 0x3C, 0, 0, 0x0F, 0xF8, 0, 0}}, CV_PIXELFORMAT_8BIT_PAL, {8, 8, 8, 0}},
      {"565 after a 40-byte header", {.Width = 5, .Height = 3, .Bits = 16, .Compression = 3,
                                      .Masks = {0xF800, 0x07E0, 0x001F, 0}, .Pixels = MaskedRows(5, 3, 2)},
       CV_PIXELFORMAT_16BIT_565_RGB, {5, 6, 5, 0}},
      {"4444 in a 108-byte header", {.Width = 6, .Height = -3, .Bits = 16, .Compression = 3, .InfoSize = 108,
                                     .Masks = {0x0F00, 0x00F0, 0x000F, 0xF000}, .Pixels = MaskedRows(6, 3, 2)},
       CV_PIXELFORMAT_16BIT_4444_ARGB, {4, 4, 4, 4}},
      {"X4R4G4B4 into 555", {.Width = 5, .Height = 4, .Bits = 16, .Compression = 3,
                             .Masks = {0x0F00, 0x00F0, 0x000F, 0}, .Pixels = MaskedRows(5, 4, 2)},
       CV_PIXELFORMAT_16BIT_555_RGB, {4, 4, 4, 0}},
      {"A4B4G4R4 into 4444", {.Width = 3, .Height = 2, .Bits = 16, .Compression = 3, .InfoSize = 124,
                              .Masks = {0x000F, 0x00F0, 0x0F00, 0xF000}, .Pixels = MaskedRows(3, 2, 2)},
       CV_PIXELFORMAT_16BIT_4444_ARGB, {4, 4, 4, 4}},
      {"RGBA in a 56-byte header", {.Width = 4, .Height = 3, .Bits = 32, .Compression = 3, .InfoSize = 56,
                                    .Masks = {0xFF000000, 0xFF0000, 0xFF00, 0xFF}, .Pixels = MaskedRows(4, 3, 4)},
       CV_PIXELFORMAT_32BIT_RGBA, {8, 8, 8, 8}},
      {"10-10-10-2 into ARGB", {.Width = 5, .Height = 3, .Bits = 32, .Compression = 3, .InfoSize = 124,
                                .Masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000},
                                .Pixels = MaskedRows(5, 3, 4)}, CV_PIXELFORMAT_32BIT_ARGB, {10, 10, 10, 2}},
      {"6-5-5 into XRGB", {.Width = 3, .Height = 3, .Bits = 16, .Compression = 3,
                           .Masks = {0xFC00, 0x03E0, 0x001F, 0}, .Pixels = MaskedRows(3, 3, 2)},
       CV_PIXELFORMAT_32BIT_XRGB, {6, 5, 5, 0}},
  };
  cvtest::TempDir dir;
  for (const BuiltCase& c : cases) {
    const Bytes file = Build(c.File);
    const std::string path = dir.File("built.bmp");
    cvtest::WriteFileBytes(path, file);
    uint32_t end = 0;
    cvBitmap* bitmap = bftest::ReadBitmap(file, &end);
    ASSERT_NE(bitmap, nullptr) << c.Label;
    EXPECT_EQ(end, file.size() - c.File.Trailing.size()) << c.Label;
    EXPECT_EQ(bitmap->System.Format, c.Format) << c.Label;
    if (!c.File.Table.empty()) {
      EXPECT_EQ((size_t)cvBitmap_GetPalette(bitmap)->Size, c.File.Table.size() / (c.File.InfoSize == 12 ? 3 : 4));
    }
    ExpectSamePixels(EngineRgba(bitmap), MagickRgba(dir, path), c.Bits, c.Label);
    cvBitmap_Destroy(&bitmap);
  }
}

// ---------------------------------------------------------------------------
// Row order and colour tables, without ImageMagick
// ---------------------------------------------------------------------------

TEST(BmpRead, PaddedRowsSurviveTheEngineFormat) {
  // A BMP keeps its rows padded to 4 pixels; the engine format stores them
  // unpadded, so the copy read back has another stride but the same rows.
  Bytes rows;
  for (int i = 0; i < 5 * 8; ++i) rows.push_back((uint8_t)(i * 7 + 1));
  const Bytes file = bftest::MakeBmp(2, 5, 24, {}, rows);
  cvBitmap* bitmap = bftest::ReadBitmap(file);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->System.Stride, 4);
  bool ok = false;
  const Bytes written = bftest::WriteBitmap(bitmap, &ok);
  ASSERT_TRUE(ok);
  cvBitmap* back = bftest::ReadBitmap(written);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->System.Stride, 2);
  const uint8_t* a = cvBitmap_GetMipData(bitmap, 0);
  const uint8_t* b = cvBitmap_GetMipData(back, 0);
  for (int y = 0; y < 5; ++y)
    EXPECT_EQ(Bytes(a + y * 12, a + y * 12 + 6), Bytes(b + y * 6, b + y * 6 + 6)) << "row " << y;
  cvBitmap_Destroy(&back);
  cvBitmap_Destroy(&bitmap);
}

TEST(BmpRead, TopDownRowsOfEveryKind) {
  // Top-down files keep their row order, whatever the pixels are.
  for (const uint16_t bits : {16, 32}) {
    const int bpp = bits / 8;
    const Layout s{.Width = 2, .Height = -3, .Bits = bits, .Pixels = MaskedRows(2, 3, bpp)};
    cvBitmap* bitmap = bftest::ReadBitmap(Build(s));
    ASSERT_NE(bitmap, nullptr) << bits;
    const uint8_t* second = cvBitmap_GetMipData(bitmap, 0) + (size_t)bitmap->System.Stride * bpp;
    const size_t fileRow = (size_t)(2 * bpp + 3) & ~3u;
    EXPECT_EQ(Bytes(second, second + 2 * bpp), Bytes(&s.Pixels[fileRow], &s.Pixels[fileRow] + 2 * bpp)) << bits;
    cvBitmap_Destroy(&bitmap);
  }
  // Indices of 3-pixel rows, plain and run-length coded; the runs reach into
  // the padding of the first row, where their pixels are dropped.
  const std::pair<Layout, Bytes> indexed[] = {
      {{.Width = 3, .Height = -2, .Bits = 4, .Table = Table(16), .Pixels = {0x12, 0x30, 0, 0, 0x45, 0x60, 0, 0}},
       {1, 2, 3, 4, 5, 6}},
      {{.Width = 3, .Height = -2, .Bits = 8, .Compression = 1, .Table = Table(16), .Pixels = {4, 7, 0, 0, 2, 9, 0, 1},
        .ColorsUsed = 16},
       {7, 7, 7, 9, 9, 0}},
      {{.Width = 3, .Height = -2, .Bits = 4, .Compression = 2, .Table = Table(16),
        .Pixels = {8, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 1}},
       {1, 2, 1, 4, 5, 6}},
  };
  for (const auto& [layout, rows] : indexed) {
    cvBitmap* bitmap = bftest::ReadBitmap(Build(layout));
    ASSERT_NE(bitmap, nullptr) << layout.Compression;
    const uint8_t* pixels = cvBitmap_GetMipData(bitmap, 0);
    EXPECT_EQ(Bytes(pixels, pixels + 3), Bytes(rows.begin(), rows.begin() + 3)) << layout.Compression;
    EXPECT_EQ(Bytes(pixels + 4, pixels + 7), Bytes(rows.begin() + 3, rows.end())) << layout.Compression;
    cvBitmap_Destroy(&bitmap);
  }
}

// ---------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------

TEST(BmpRead, DamagedAndHostileFilesAreRefused) {
  const Bytes table16(64, 0);
  const Bytes rows8{1, 2, 0, 0};
  const Bytes rows24(8, 0);
  Bytes overlap = bftest::MakeBmp(2, 1, 8, table16, rows8, 16);
  overlap[10] = 54 + 60;  // pixel data offset inside the colour table
  Bytes hugeTable = bftest::MakeBmp(2, 1, 8, table16, rows8, 16);
  hugeTable[14 + 32] = 0x01, hugeTable[14 + 33] = 0x01;  // 257 colours
  Bytes absurd = bftest::MakeBmp(2, 1, 24, {}, rows24);
  absurd[14 + 4] = 0xFF, absurd[14 + 5] = 0xFF, absurd[14 + 6] = 0x00;  // 65535 wide
  Bytes farGap = bftest::MakeBmp(2, 1, 24, {}, rows24);
  farGap[13] = 0x7F;  // pixels "start" 2 GiB in

  // Run-length streams for a 4 x 2 image with 16 colours.
  auto rle8 = [](Bytes Stream, int32_t W = 4, int32_t H = 2) {
    return Build({.Width = W, .Height = H, .Bits = 8, .Compression = 1, .Table = Table(16),
                  .Pixels = std::move(Stream), .ColorsUsed = 16});
  };
  auto masked = [](std::array<uint32_t, 4> Masks, uint16_t Bits = 16) {
    return Build({.Width = 2, .Height = 1, .Bits = Bits, .Compression = 3, .InfoSize = 56, .Masks = Masks,
                  .Pixels = MaskedRows(2, 1, Bits / 8)});
  };
  Bytes hugeHeader = bftest::MakeBmp(2, 1, 24, {}, rows24);
  hugeHeader[14 + 3] = 0x40;  // a 1 GiB information header

  const std::pair<const char*, Bytes> cases[] = {
      {"pixel data inside the colour table", overlap},
      {"257 colours", hugeTable},
      {"65535 wide", absurd},
      {"pixel data past the end", farGap},
      {"information header past the end", hugeHeader},
      {"truncated rows", bftest::MakeBmp(2, 1, 24, {}, Bytes(4, 0))},
      {"no width", bftest::MakeBmp(0, 1, 24, {}, rows24)},
      {"negative width", bftest::MakeBmp(-2, 1, 24, {}, rows24)},
      {"cut in the file header", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54}},
      {"cut in the information header", Bytes(absurd.begin(), absurd.begin() + 40)},
      {"16-byte header", bftest::MakeBmp(2, 1, 24, {}, rows24, 0, 0, 0, 16)},
      {"colour table past the end", Build({.Width = 2, .Bits = 8, .Table = Table(4), .Pixels = rows8, .ColorsUsed = 200})},
      {"old header with no room for colours", Build({.Width = 8, .Bits = 1, .InfoSize = 12, .Pixels = {0, 0, 0, 0}})},
      {"3 bits per pixel", Build({.Width = 2, .Bits = 3, .Table = Table(8), .Pixels = rows8})},
      {"run-length coding of 24-bit pixels", bftest::MakeBmp(2, 1, 24, {}, rows24, 0, 1)},
      {"4-bit run-length coding of 8-bit pixels", Build({.Width = 2, .Bits = 8, .Compression = 2, .Table = Table(2),
                                                        .Pixels = {2, 0x11, 0, 1}, .ColorsUsed = 2})},
      {"unknown compression", bftest::MakeBmp(2, 1, 24, {}, rows24, 0, 4)},
      {"run past the row", rle8({5, 1, 0, 1})},
      {"run past the last row", rle8({4, 1, 0, 0, 4, 1, 0, 0, 1, 1, 0, 1})},
      {"literal past the row", rle8({0, 5, 1, 2, 3, 4, 5, 0, 0, 1})},
      {"delta past the right edge", rle8({2, 1, 0, 2, 3, 0, 0, 1})},
      {"delta below the image", rle8({0, 2, 0, 2, 0, 1})},
      {"stream cut short", rle8({4, 1, 0, 0, 2, 1})},
      {"stream cut in a literal", rle8({0, 4, 1, 2})},
      {"run-length image far larger than its data", rle8({0, 1}, 8192, 4096)},
      {"colour mask of zero width", masked({0, 0x03E0, 0x001F, 0})},
      {"overlapping colour masks", masked({0xFC00, 0x07E0, 0x001F, 0})},
      {"alpha mask overlapping a colour", masked({0x7C00, 0x03E0, 0x001F, 0x0001})},
      {"mask with a hole", masked({0xF000 | 0x0400, 0x03E0, 0x001F, 0})},
      {"mask outside a 16-bit pixel", masked({0x7C000, 0x03E0, 0x001F, 0})},
      {"colour masks on 24-bit pixels", masked({0xFF0000, 0xFF00, 0xFF, 0}, 24)},
      {"colour masks in a 64-byte header", Build({.Width = 2, .Bits = 16, .Compression = 3, .InfoSize = 64,
                                                 .Masks = {0x7C00, 0x03E0, 0x001F, 0}, .Pixels = MaskedRows(2, 1, 2)})},
  };
  for (const auto& [label, file] : cases) {
    cvErrorLog_Clear();
    cvBitmap* bitmap = bftest::ReadBitmap(file);
    EXPECT_EQ(bitmap, nullptr) << label;
    EXPECT_LOGGED(-1) << label;
    if (bitmap) cvBitmap_Destroy(&bitmap);
  }
  // The offset at exactly 54 + 64 is fine.
  cvBitmap* bitmap = bftest::ReadBitmap(bftest::MakeBmp(2, 1, 8, table16, rows8, 16));
  EXPECT_NE(bitmap, nullptr);
  cvBitmap_Destroy(&bitmap);
}

TEST(BmpRead, FailedAllocationsLeaveNothingBehind) {
  const Bytes files[] = {
      Build({.Width = 9, .Height = 2, .Bits = 4, .Table = Table(16), .Pixels = Bytes(16, 0x5A)}),
      Build({.Width = 3, .Height = 3, .Bits = 16, .Compression = 3, .Masks = {0xFC00, 0x03E0, 0x001F, 0},
             .Pixels = MaskedRows(3, 3, 2)}),
  };
  for (const Bytes& file : files) {
    cvtest::MemoryReader reader(file);
    int failures = 0;
    cvtest::WalkAllocationFailures(
        40,
        [&] {
          cvVFile_Seek(reader.File(), 0, CV_VFILE_SEEKSET);
          return cvBitmap_CreateFromFile(reader.File());
        },
        [&](int n, cvBitmap* b) {
          // The palette pools made with the first bitmap grow on demand, so
          // failing to make them is harmless; any other failure fails the read.
          if (b) return cvBitmap_Destroy(&b), void();
          EXPECT_LOGGED(-1) << n;
          ++failures;
        },
        [&](cvBitmap* b) {
          EXPECT_NE(b, nullptr);
          cvBitmap_Destroy(&b);
          EXPECT_GE(failures, 3);  // record, palette or row buffer, level
        });
  }
}

}  // namespace
