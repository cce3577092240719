// The image-file module against ImageMagick: files ImageMagick writes in
// each kind and layout are read and compared pixel by pixel with what
// ImageMagick itself reads from them; files the module writes are read back
// by ImageMagick and compared with the bitmap they came from. Damaged and
// oversized files are refused with a message and an error-log entry.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cvengine.h"
#include "imagefile/imagefile.h"
#include "testsupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Owned {
  cvBitmap* B = nullptr;
  explicit Owned(cvBitmap* Bitmap) : B(Bitmap) {}
  Owned(const Owned&) = delete;
  ~Owned() {
    if (B) cvBitmap_Destroy(&B);
  }
};

// W x H pixels of R G B A with every channel value varying, some pixels
// fully transparent and some half; Opaque makes every alpha 255.
Bytes Pattern(int W, int H, bool Opaque) {
  Bytes P;
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      const int A = Opaque ? 255 : ((X + Y) % 5 == 0 ? 0 : (X % 3 == 0 ? 128 : 255));
      P.insert(P.end(), {(uint8_t)(X * 37 + Y * 11), (uint8_t)(X * 5 + Y * 53 + 255 * (Y == 0)),
                         (uint8_t)(X * X + Y * 7), (uint8_t)A});
    }
  return P;
}

int Shell(const std::string& Command) { return std::system((Command + " 2>/dev/null").c_str()); }

std::string Quote(const std::string& S) { return "'" + S + "'"; }

// What ImageMagick reads from Path, as 8-bit R G B A, top row first (it
// keeps a TGA's rows in file order unless asked to orient them).
Bytes MagickRgba(const cvtest::TempDir& Dir, const std::string& Path) {
  const std::string Raw = Dir.File("magick.rgba");
  EXPECT_EQ(Shell("convert " + Quote(Path) + " -auto-orient -depth 8 rgba:" + Quote(Raw)), 0) << Path;
  return cvtest::ReadFileBytes(Raw);
}

// Makes Name in Dir from the pattern with ImageMagick's Options; Prefix
// ("png8:") picks an output kind the name does not tell.
std::string Make(const cvtest::TempDir& Dir, const Bytes& Rgba, int W, int H, const std::string& Options,
                 const std::string& Name, const std::string& Prefix = "") {
  const std::string In = Dir.File("pattern.rgba"), Out = Dir.File(Name);
  cvtest::WriteFileBytes(In, Rgba);
  EXPECT_EQ(Shell("convert -size " + std::to_string(W) + "x" + std::to_string(H) + " -depth 8 rgba:" +
                Quote(In) + " " + Options + " " + Quote(Prefix + Out)),
            0)
      << Options << " " << Name;
  return Out;
}

// The bitmap's level 0 as R G B A bytes (colour-keyed pixels transparent black).
Bytes BitmapRgba(cvBitmap* B) {
  Bytes Out;
  cvBitmap* Lock = nullptr;
  if (!cvBitmap_LockForRead(B, &Lock, 0, 0, CV_PIXELFORMAT_32BIT_ABGR, 0, 0)) return Out;
  cvBitmap_Info I;
  cvBitmap_GetInfo(Lock, &I, nullptr);
  const auto* P = static_cast<const uint8_t*>(cvBitmap_GetBits(Lock));
  for (int32_t Y = 0; Y < I.Height; ++Y) Out.insert(Out.end(), P + (size_t)Y * I.Stride * 4, P + ((size_t)Y * I.Stride + I.Width) * 4);
  cvBitmap_UnLock_NoChange(Lock);
  return Out;
}

// Compares two R G B A images; colours of fully transparent pixels do not count.
void ExpectSamePixels(const Bytes& Got, const Bytes& Want, int Tolerance, const std::string& What) {
  ASSERT_EQ(Got.size(), Want.size()) << What;
  int Worst = 0;
  size_t WorstAt = 0;
  for (size_t I = 0; I < Got.size(); I += 4)
    for (size_t C = 0; C < 4; ++C) {
      if (C < 3 && Got[I + 3] == 0 && Want[I + 3] == 0) continue;
      const int D = std::abs((int)Got[I + C] - (int)Want[I + C]);
      if (D > Worst) Worst = D, WorstAt = I / 4;
    }
  EXPECT_LE(Worst, Tolerance) << What << ": worst channel difference at pixel " << WorstAt;
}

// --- Reading what ImageMagick writes -----------------------------------------------

struct ReadCase {
  const char* Options;  // ImageMagick's output options
  const char* Prefix;   // and output kind
  const char* Name;
  bool Opaque;          // the pattern without transparency
  cvPixelFormat Format; // what the module should read it as
  int Tolerance;        // 0 for lossless files
};

TEST(ImageFileRead, FilesImageMagickWritesReadAsImageMagickReadsThem) {
  const ReadCase Cases[] = {
      {"-colorspace Gray -define png:color-type=0 -define png:bit-depth=8", "", "grey8.png", true, CV_PIXELFORMAT_8BIT_GRAY, 0},
      {"-colorspace Gray -define png:color-type=0 -define png:bit-depth=16", "", "grey16.png", true, CV_PIXELFORMAT_8BIT_GRAY, 0},
      {"-colorspace Gray -threshold 50% -define png:color-type=0 -define png:bit-depth=1", "", "grey1.png", true,
       CV_PIXELFORMAT_8BIT_GRAY, 0},
      {"-colorspace Gray -define png:color-type=4", "", "greyalpha.png", false, CV_PIXELFORMAT_32BIT_ARGB, 0},
      {"-define png:color-type=2", "", "rgb8.png", true, CV_PIXELFORMAT_24BIT_BGR, 0},
      {"-depth 16 -define png:color-type=2", "", "rgb16.png", true, CV_PIXELFORMAT_24BIT_BGR, 0},
      {"-define png:color-type=6", "", "rgba8.png", false, CV_PIXELFORMAT_32BIT_ARGB, 0},
      {"-depth 16 -define png:color-type=6 -interlace PNG", "", "rgba16_interlaced.png", false,
       CV_PIXELFORMAT_32BIT_ARGB, 0},
      {"-colors 12", "png8:", "palette4.png", true, CV_PIXELFORMAT_8BIT_PAL, 0},
      // One transparent entry: kept as the colour key, its pixels transparent.
      {"-channel A -threshold 50% +channel", "png8:", "palette_key.png", false, CV_PIXELFORMAT_8BIT_PAL, 0},
      {"-alpha off", "", "rgb.tga", true, CV_PIXELFORMAT_24BIT_BGR, 0},
      {"-compress RLE", "", "rgba_rle.tga", false, CV_PIXELFORMAT_32BIT_ARGB, 0},
      {"-alpha off -orient TopLeft -compress RLE", "", "topleft.tga", true, CV_PIXELFORMAT_24BIT_BGR, 0},
      {"-alpha off -type Grayscale", "", "grey.tga", true, CV_PIXELFORMAT_8BIT_GRAY, 0},
      {"-alpha off -type Palette", "", "palette.tga", true, CV_PIXELFORMAT_24BIT_BGR, 0},
      {"-alpha off -type Palette -compress RLE", "", "palette_rle.tga", true, CV_PIXELFORMAT_24BIT_BGR, 0},
      {"-quality 92", "", "colour.jpg", true, CV_PIXELFORMAT_24BIT_BGR, 2},
      {"-quality 80 -interlace JPEG", "", "progressive.jpg", true, CV_PIXELFORMAT_24BIT_BGR, 2},
      {"-colorspace Gray", "", "grey.jpg", true, CV_PIXELFORMAT_8BIT_GRAY, 2},
      {"-colorspace CMYK", "", "cmyk.jpg", true, CV_PIXELFORMAT_24BIT_BGR, 3},
  };
  cvtest::TempDir Dir;
  // Odd sizes (no row happens to be aligned), and few enough pixels for a
  // palette to hold every colour.
  const int W = 15, H = 11;
  for (const ReadCase& C : Cases) {
    const std::string File = Make(Dir, Pattern(W, H, C.Opaque), W, H, C.Options, C.Name, C.Prefix);
    SCOPED_TRACE(C.Name);
    std::string Message;
    cvBitmap* B = cvImageFile_Read(File.c_str(), &Message);
    ASSERT_NE(B, nullptr) << Message;
    Owned Own(B);
    cvBitmap_Info I;
    ASSERT_TRUE(cvBitmap_GetInfo(B, &I, nullptr));
    EXPECT_EQ(I.Width, W);
    EXPECT_EQ(I.Height, H);
    EXPECT_EQ(I.Format, C.Format);
    ExpectSamePixels(BitmapRgba(B), MagickRgba(Dir, File), C.Tolerance, C.Name);
  }
}

TEST(ImageFileRead, EngineBitmapsAndBmpFilesGoThroughTheEngineReader) {
  cvtest::TempDir Dir;
  const std::string Bmp = Make(Dir, Pattern(5, 3, true), 5, 3, "-type TrueColor", "x.bmp");
  Owned B(cvImageFile_Read(Bmp.c_str(), nullptr));
  ASSERT_NE(B.B, nullptr);
  ExpectSamePixels(BitmapRgba(B.B), MagickRgba(Dir, Bmp), 0, "bmp");
  const std::string Engine = Dir.File("renamed.png");  // the content decides, not the name
  ASSERT_TRUE(cvBitmap_WriteToFileName(B.B, nullptr, Engine.c_str()));
  Owned C(cvImageFile_Read(Engine.c_str(), nullptr));
  ASSERT_NE(C.B, nullptr);
  EXPECT_EQ(BitmapRgba(C.B), BitmapRgba(B.B));
}

// --- Refusals -------------------------------------------------------------------

void ExpectRefused(const Bytes& File, const std::string& Expected, const std::string& What) {
  cvErrorLog_Clear();
  std::string Message;
  cvBitmap* B = cvImageFile_ReadData(File.data(), File.size(), &Message);
  EXPECT_EQ(B, nullptr) << What;
  if (B) cvBitmap_Destroy(&B);
  EXPECT_NE(Message.find(Expected), std::string::npos) << What << ": " << Message;
  EXPECT_LOGGED(-1);
}

Bytes TgaHeader(int Type, int Width, int Height, int Bits) {
  Bytes H(18, 0);
  H[2] = (uint8_t)Type;
  H[12] = (uint8_t)Width, H[13] = (uint8_t)(Width >> 8);
  H[14] = (uint8_t)Height, H[15] = (uint8_t)(Height >> 8);
  H[16] = (uint8_t)Bits;
  return H;
}

TEST(ImageFileRead, DamagedShortAndOversizedFilesAreRefusedWithAReason) {
  cvtest::TempDir Dir;
  const Bytes Rgba = Pattern(40, 30, true);
  const Bytes Png = cvtest::ReadFileBytes(Make(Dir, Rgba, 40, 30, "", "a.png"));
  const Bytes Jpg = cvtest::ReadFileBytes(Make(Dir, Rgba, 40, 30, "", "a.jpg"));
  const Bytes Tga = cvtest::ReadFileBytes(Make(Dir, Rgba, 40, 30, "", "a.tga"));
  const Bytes Rle = cvtest::ReadFileBytes(Make(Dir, Rgba, 40, 30, "-compress RLE", "b.tga"));

  ExpectRefused({}, "not an image file", "empty");
  ExpectRefused({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', 0, 0, 0, 0, 0, 0}, "not an image file", "text");
  ExpectRefused(Bytes(Png.begin(), Png.begin() + (long)Png.size() / 2), "ends before", "half a PNG");
  ExpectRefused(Bytes(Jpg.begin(), Jpg.begin() + (long)Jpg.size() / 2), "ends before", "half a JPEG");
  ExpectRefused(Bytes(Tga.begin(), Tga.end() - 1), "ends before", "TGA one byte short");
  ExpectRefused(Bytes(Rle.begin(), Rle.begin() + (long)Rle.size() - 30), "ends before", "RLE TGA cut short");
  Bytes BadCrc = Png;
  const std::string Text(Png.begin(), Png.end());
  BadCrc[Text.find("IDAT") + 8] ^= 0x55;
  ExpectRefused(BadCrc, "PNG: ", "PNG with a damaged image chunk");
  ExpectRefused({'B', 'M', 1, 2, 3}, "engine bitmap or BMP", "junk after BM");

  // Sizes above the engine's limits, refused before any pixel memory.
  ExpectRefused(TgaHeader(2, 65535, 65535, 32), "MiB", "huge TGA");
  Bytes Wide = Png;
  Wide[16] = 0, Wide[17] = 1, Wide[18] = 0x11, Wide[19] = 0x70;  // width 70,000
  const uint32_t Crc = (uint32_t)crc32(0, &Wide[12], 17);
  Wide[29] = (uint8_t)(Crc >> 24), Wide[30] = (uint8_t)(Crc >> 16), Wide[31] = (uint8_t)(Crc >> 8), Wide[32] = (uint8_t)Crc;
  ExpectRefused(Wide, "at most 65535 a side", "PNG too wide");
  Bytes Tall = Jpg;
  for (size_t I = 2; I + 8 < Tall.size(); ++I)
    if (Tall[I] == 0xFF && Tall[I + 1] == 0xC0) {  // frame header: height, then width
      Tall[I + 5] = 0xFD, Tall[I + 6] = 0xE8, Tall[I + 7] = 0xFD, Tall[I + 8] = 0xE8;
      break;
    }
  ExpectRefused(Tall, "MiB", "JPEG of 65,000 x 65,000");

  std::string Message;
  EXPECT_EQ(cvImageFile_Read(Dir.File("missing.png").c_str(), &Message), nullptr);
  EXPECT_NE(Message.find("missing.png"), std::string::npos) << Message;
}

TEST(ImageFileRead, EveryFailedAllocationFailsCleanly) {
  cvtest::TempDir Dir;
  Bytes P = Pattern(6, 6, true);
  P[3] = 0;
  const Bytes Png = cvtest::ReadFileBytes(Make(Dir, P, 6, 6, "", "k.png", "png8:"));
  cvtest::WalkAllocationFailures(
      40, [&] { return cvImageFile_ReadData(Png.data(), Png.size(), nullptr); },
      [](int N, cvBitmap* B) {
        // Some engine allocations are optional (record pools); otherwise
        // the read fails with its log entry.
        if (B) {
          EXPECT_TRUE(B->System.HasColorKey) << "allocation " << N;
          cvBitmap_Destroy(&B);
        } else {
          EXPECT_LOGGED(-1);
        }
      },
      [](cvBitmap* B) {
        ASSERT_NE(B, nullptr);
        EXPECT_TRUE(B->System.HasColorKey);
        cvBitmap_Destroy(&B);
      });
}

// --- Writing what ImageMagick reads ---------------------------------------------------

// A W x H bitmap in Format filled from the pattern (through a write lock in
// 32 bit ABGR, whose bytes are R G B A).
cvBitmap* FromPattern(const Bytes& Rgba, int W, int H, cvPixelFormat Format) {
  cvBitmap* Source = cvBitmap_Create(W, H, 1, CV_PIXELFORMAT_32BIT_ABGR);
  std::copy(Rgba.begin(), Rgba.end(), cvBitmap_AllocateMip(Source, 0));
  cvBitmap_SetMipValid(Source, 0, 1);
  if (Format != CV_PIXELFORMAT_32BIT_ABGR) cvBitmap_SetFormat(Source, Format);
  return Source;
}

// A palettised bitmap with a palette of four 32 bit ARGB entries of alpha 0, 64, 192, 255.
cvBitmap* TranslucentPalette() {
  cvBitmap* B = cvBitmap_Create(8, 8, 1, CV_PIXELFORMAT_8BIT_PAL);
  uint8_t* Index = cvBitmap_AllocateMip(B, 0);
  for (int I = 0; I < 64; ++I) Index[I] = (uint8_t)(I % 4);
  cvBitmap_SetMipValid(B, 0, 1);
  cvBitmap_Palette* P = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_ARGB, 4);
  const uint32_t Entries[4] = {0x00000000u, 0x40FF0000u, 0xC000FF00u, 0xFF0000FFu};
  cvBitmap_Palette_SetData(P, Entries, CV_PIXELFORMAT_32BIT_ARGB, 4);
  cvBitmap_SetPalette(B, P);
  cvBitmap_Palette_Destroy(&P);
  return B;
}

TEST(ImageFileWrite, ImageMagickReadsBackWhatWasWrittenAndSoDoesTheReader) {
  cvtest::TempDir Dir;
  const int W = 33, H = 17;
  Owned Keyed(FromPattern(Pattern(W, H, true), W, H, CV_PIXELFORMAT_8BIT_PAL));
  ASSERT_TRUE(cvBitmap_SetColorKey(Keyed.B, 1, cvBitmap_GetMipData(Keyed.B, 0)[0], 0));
  Owned WithAlpha(FromPattern(Pattern(W, H, true), W, H, CV_PIXELFORMAT_24BIT_BGR));
  Owned Alpha(cvBitmap_Create(W, H, 1, CV_PIXELFORMAT_8BIT_GRAY));
  uint8_t* A = cvBitmap_AllocateMip(Alpha.B, 0);
  for (int I = 0; I < W * H; ++I) A[I] = (uint8_t)(I * 4);
  cvBitmap_SetMipValid(Alpha.B, 0, 1);
  ASSERT_TRUE(cvBitmap_SetAlpha(WithAlpha.B, Alpha.B));
  struct Case {
    const char* Name;
    cvBitmap* Bitmap;
    const char* PngKind;                 // the PNG colour type ImageMagick should see
    cvPixelFormat FromPng, FromTga;      // what the reader makes of the files
  };
  Owned Made[] = {Owned(FromPattern(Pattern(W, H, true), W, H, CV_PIXELFORMAT_16BIT_565_RGB)),
                  Owned(FromPattern(Pattern(W, H, false), W, H, CV_PIXELFORMAT_32BIT_ARGB)),
                  Owned(FromPattern(Pattern(W, H, false), W, H, CV_PIXELFORMAT_16BIT_4444_ARGB)),
                  Owned(FromPattern(Pattern(W, H, true), W, H, CV_PIXELFORMAT_8BIT_GRAY)),
                  Owned(FromPattern(Pattern(W, H, true), W, H, CV_PIXELFORMAT_8BIT_PAL)),
                  Owned(TranslucentPalette())};
  const Case Cases[] = {
      {"rgb565", Made[0].B, "2", CV_PIXELFORMAT_24BIT_BGR, CV_PIXELFORMAT_24BIT_BGR},
      {"argb32", Made[1].B, "6", CV_PIXELFORMAT_32BIT_ARGB, CV_PIXELFORMAT_32BIT_ARGB},
      {"argb4444", Made[2].B, "6", CV_PIXELFORMAT_32BIT_ARGB, CV_PIXELFORMAT_32BIT_ARGB},
      {"grey", Made[3].B, "0", CV_PIXELFORMAT_8BIT_GRAY, CV_PIXELFORMAT_8BIT_GRAY},
      {"palette", Made[4].B, "3", CV_PIXELFORMAT_8BIT_PAL, CV_PIXELFORMAT_24BIT_BGR},
      // The key stays a key; partial palette alpha and alpha bitmaps become alpha.
      {"palette_key", Keyed.B, "3", CV_PIXELFORMAT_8BIT_PAL, CV_PIXELFORMAT_32BIT_ARGB},
      {"palette_alpha", Made[5].B, "3", CV_PIXELFORMAT_32BIT_ARGB, CV_PIXELFORMAT_32BIT_ARGB},
      {"alpha_bitmap", WithAlpha.B, "6", CV_PIXELFORMAT_32BIT_ARGB, CV_PIXELFORMAT_32BIT_ARGB},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    const Bytes Want = BitmapRgba(C.Bitmap);
    for (const char* Ext : {".png", ".tga"}) {
      const std::string Path = Dir.File(std::string(C.Name) + Ext);
      std::string Message;
      ASSERT_TRUE(cvImageFile_Write(C.Bitmap, Path.c_str(), &Message)) << Message;
      ExpectSamePixels(MagickRgba(Dir, Path), Want, 0, Path);
      Owned Back(cvImageFile_Read(Path.c_str(), &Message));
      ASSERT_NE(Back.B, nullptr) << Message;
      ExpectSamePixels(BitmapRgba(Back.B), Want, 0, Path);
      EXPECT_EQ(Back.B->System.Format, Ext[1] == 'p' ? C.FromPng : C.FromTga) << Ext;
    }
    const std::string Type = Dir.File("type.txt");
    Shell("identify -format '%[png:IHDR.color-type-orig]' " + Quote(Dir.File(std::string(C.Name) + ".png")) + " > " + Quote(Type));
    EXPECT_EQ(cvtest::ReadFileText(Type), C.PngKind);
  }
}

TEST(ImageFileWrite, FramesAreWrittenCompressedAndUnknownNamesRefused) {
  cvtest::TempDir Dir;
  const int W = 480, H = 360;
  // A rendered-looking frame: flat background with a shaded disc.
  std::vector<uint32_t> Frame((size_t)W * H);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      const int D = (X - 240) * (X - 240) + (Y - 180) * (Y - 180);
      Frame[(size_t)Y * W + X] = D < 120 * 120 ? 0x00C08040u + (uint32_t)(D >> 8) : 0x002E323Au;
    }
  std::string Message;
  const std::string Png = Dir.File("frame.png");
  ASSERT_TRUE(cvImageFile_WriteFrame(Frame.data(), W, H, W * 4, CV_PIXELFORMAT_32BIT_XRGB, Png.c_str(), &Message)) << Message;
  EXPECT_LT(cvtest::ReadFileBytes(Png).size(), (size_t)W * H * 3 / 10) << "the PNG is not compressed";
  const Bytes Got = MagickRgba(Dir, Png);
  ASSERT_EQ(Got.size(), (size_t)W * H * 4);
  for (size_t I : {(size_t)0, (size_t)180 * W + 240, (size_t)W * H - 1}) {
    const uint32_t P = Frame[I];
    EXPECT_EQ(Got[I * 4], (uint8_t)(P >> 16));
    EXPECT_EQ(Got[I * 4 + 1], (uint8_t)(P >> 8));
    EXPECT_EQ(Got[I * 4 + 2], (uint8_t)P);
    EXPECT_EQ(Got[I * 4 + 3], 255);
  }
  // The same frame as TGA holds the same pixels.
  const std::string Tga = Dir.File("frame.TGA");
  ASSERT_TRUE(cvImageFile_WriteFrame(Frame.data(), W, H, W * 4, CV_PIXELFORMAT_32BIT_XRGB, Tga.c_str(), &Message));
  EXPECT_EQ(MagickRgba(Dir, Tga), Got);

  cvErrorLog_Clear();
  EXPECT_FALSE(cvImageFile_WriteFrame(Frame.data(), W, H, W * 4, CV_PIXELFORMAT_32BIT_XRGB,
                                      Dir.File("frame.gif").c_str(), &Message));
  EXPECT_NE(Message.find(".png or .tga"), std::string::npos) << Message;
  EXPECT_LOGGED(-1);
  EXPECT_FALSE(cvImageFile_WriteFrame(Frame.data(), W, H, W * 2, CV_PIXELFORMAT_32BIT_XRGB, Png.c_str(), &Message));
  EXPECT_FALSE(cvImageFile_WriteFrame(Frame.data(), W, H, W * 4, CV_PIXELFORMAT_32BIT_XRGB,
                                      Dir.File("no/such/folder/x.png").c_str(), &Message));
  EXPECT_NE(Message.find("cannot create"), std::string::npos) << Message;
  // The refused writes left the earlier file whole.
  EXPECT_EQ(MagickRgba(Dir, Png), Got);
}

}  // namespace
