// Pixels drawn by the real SoftRnd module through the engine, read back from
// the headless window's presented frame.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "Bitmap/cvbitmap.h"
#include "enginetest.h"

using enginetest::SoftEngine;

namespace {

constexpr int32_t kXRGB = 13;  // 32 bit XRGB

uint32_t R(uint32_t p) { return (p >> 16) & 0xFF; }
uint32_t G(uint32_t p) { return (p >> 8) & 0xFF; }
uint32_t B(uint32_t p) { return p & 0xFF; }

// A texture in 32 bit XRGB holding Texels row by row.
void* MakeTexture(cvDriver_Table* d, int32_t w, int32_t h, const std::vector<uint32_t>& texels) {
  cvDriver_PixelFormat f{kXRGB, CV_DRIVER_FORMAT_3D};
  void* t = d->CreateTexture(w, h, 1, &f);
  if (!t) return nullptr;
  int32_t pitch = 0;
  auto* p = static_cast<uint8_t*>(d->LockTexture(t, 0, &pitch));
  for (int32_t y = 0; y < h; ++y) std::memcpy(p + y * pitch, &texels[(size_t)y * w], (size_t)w * 4);
  d->UnlockTexture(t, 0);
  return t;
}

cvDriver_Vertex V(float x, float y, float z, float u = 0, float v = 0, float r = 255,
                  float g = 255, float b = 255, float a = 255) {
  return cvDriver_Vertex{x, y, z, u, v, r, g, b, a};
}

// A screen-aligned quad [x0,x1) x [y0,y1) at depth z in one colour.
void Quad(cvDriver_Table* d, float x0, float y0, float x1, float y1, float z, uint32_t rgb,
          float a = 255, uint32_t flags = 0) {
  float r = (float)R(rgb), g = (float)G(rgb), b = (float)B(rgb);
  cvDriver_Vertex v[4] = {V(x0, y0, z, 0, 0, r, g, b, a), V(x1, y0, z, 0, 0, r, g, b, a),
                          V(x1, y1, z, 0, 0, r, g, b, a), V(x0, y1, z, 0, 0, r, g, b, a)};
  ASSERT_TRUE(d->RenderGouraudPoly(v, 4, flags));
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(s.Engine, nullptr);
    cvEngine_EnableFrameRateCounter(s.Engine, 0);
    ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
    d = s.Driver();
  }
  void Finish() { ASSERT_TRUE(cvEngine_EndFrame(s.Engine)); }
  SoftEngine s{64, 64};
  cvDriver_Table* d = nullptr;
};

}  // namespace

TEST_F(Render, NearerPolygonsHideFartherOnesInAnyOrder) {
  Quad(d, 0, 0, 40, 40, 10.0f, 0xFF0000);  // far red
  Quad(d, 20, 20, 64, 64, 2.0f, 0x00FF00);  // near green
  Quad(d, 10, 10, 50, 50, 5.0f, 0x0000FF);  // blue between them
  Finish();
  EXPECT_EQ(s.Pixel(5, 5), 0xFF0000u);
  EXPECT_EQ(s.Pixel(15, 15), 0x0000FFu);  // blue over red
  EXPECT_EQ(s.Pixel(30, 30), 0x00FF00u);  // green over both
  EXPECT_EQ(s.Pixel(60, 60), 0x00FF00u);
}

TEST_F(Render, DepthInterpolatesAcrossIntersectingPolygons) {
  // A polygon sloping from depth 1 (left) to 9 (right) against a flat one at 5.
  cvDriver_Vertex slope[4] = {V(0, 0, 1, 0, 0, 255, 0, 0), V(64, 0, 9, 0, 0, 255, 0, 0),
                              V(64, 64, 9, 0, 0, 255, 0, 0), V(0, 64, 1, 0, 0, 255, 0, 0)};
  ASSERT_TRUE(d->RenderGouraudPoly(slope, 4, 0));
  Quad(d, 0, 0, 64, 64, 5.0f, 0x0000FF);
  Finish();
  EXPECT_EQ(s.Pixel(4, 32), 0xFF0000u);
  EXPECT_EQ(s.Pixel(60, 32), 0x0000FFu);
}

TEST_F(Render, ColourKeyedTexelsLetTheBackgroundThrough) {
  Quad(d, 0, 0, 64, 64, 10.0f, 0x204060);
  std::vector<uint32_t> texels = {0x00FF00FF, 0x00FFFFFF, 0x00FFFFFF, 0x00FF00FF};
  void* t = MakeTexture(d, 2, 2, texels);
  ASSERT_TRUE(d->SetColorKey(t, 1, 0x00FF00FF));
  cvDriver_Vertex q[4] = {V(0, 0, 1, 0, 0), V(64, 0, 1, 1, 0), V(64, 64, 1, 1, 1), V(0, 64, 1, 0, 1)};
  ASSERT_TRUE(d->RenderTexturedPoly(q, 4, t, CV_DRIVER_POLY_COLORKEY));
  // Without the key flag the same texels are drawn.
  cvDriver_Vertex q2[4] = {V(0, 48, 0.5f, 0, 0), V(16, 48, 0.5f, 1, 0), V(16, 64, 0.5f, 1, 1),
                           V(0, 64, 0.5f, 0, 1)};
  ASSERT_TRUE(d->RenderTexturedPoly(q2, 4, t, 0));
  Finish();
  EXPECT_EQ(s.Pixel(10, 10), 0x204060u);  // keyed: background
  EXPECT_EQ(s.Pixel(50, 10), 0xFFFFFFu);
  EXPECT_EQ(s.Pixel(10, 40), 0xFFFFFFu);
  EXPECT_EQ(s.Pixel(50, 40), 0x204060u);
  EXPECT_EQ(s.Pixel(3, 51), 0xFF00FFu);   // drawn when keying is off
}

TEST_F(Render, GouraudColoursInterpolate) {
  cvDriver_Vertex q[4] = {V(0, 0, 1, 0, 0, 255, 0, 0), V(64, 0, 1, 0, 0, 0, 0, 255),
                          V(64, 64, 1, 0, 0, 0, 0, 255), V(0, 64, 1, 0, 0, 255, 0, 0)};
  ASSERT_TRUE(d->RenderGouraudPoly(q, 4, 0));
  Finish();
  uint32_t mid = s.Pixel(32, 32);
  EXPECT_NEAR((int)R(mid), 127, 3);
  EXPECT_NEAR((int)B(mid), 127, 3);
  EXPECT_EQ(G(mid), 0u);
  EXPECT_GT(R(s.Pixel(0, 10)), 250u);
  EXPECT_GT(B(s.Pixel(63, 10)), 250u);
  for (int x = 1; x < 64; ++x) EXPECT_LE(R(s.Pixel(x, 20)), R(s.Pixel(x - 1, 20)));
}

TEST_F(Render, AlphaBlendingAndTextureModulation) {
  Quad(d, 0, 0, 64, 64, 10.0f, 0xFFFFFF);
  Quad(d, 0, 0, 32, 64, 1.0f, 0x000000, 128, CV_DRIVER_POLY_BLEND);
  void* t = MakeTexture(d, 1, 1, {0xFFFFFF});
  cvDriver_Vertex q[4] = {V(32, 0, 1, 0, 0, 255, 128, 0), V(64, 0, 1, 1, 0, 255, 128, 0),
                          V(64, 64, 1, 1, 1, 255, 128, 0), V(32, 64, 1, 0, 1, 255, 128, 0)};
  ASSERT_TRUE(d->RenderTexturedPoly(q, 4, t, 0));
  Finish();
  EXPECT_NEAR((int)R(s.Pixel(16, 16)), 127, 2);
  EXPECT_NEAR((int)G(s.Pixel(16, 16)), 127, 2);
  EXPECT_EQ(R(s.Pixel(48, 16)), 255u);
  EXPECT_NEAR((int)G(s.Pixel(48, 16)), 128, 1);
  EXPECT_EQ(B(s.Pixel(48, 16)), 0u);
}

TEST_F(Render, FillRectCoversItsInclusiveRectangle) {
  cvRect r{10, 19, 5, 9};
  cvRGBA red{255, 0, 0, 255};
  ASSERT_TRUE(cvEngine_FillRect(s.Engine, &r, &red));
  Finish();
  EXPECT_EQ(s.Pixel(10, 5), 0xFF0000u);
  EXPECT_EQ(s.Pixel(19, 9), 0xFF0000u);
  EXPECT_EQ(s.Pixel(20, 9), 0u);
  EXPECT_EQ(s.Pixel(19, 10), 0u);
  EXPECT_EQ(s.Pixel(9, 5), 0u);
}

TEST_F(Render, TextAppearsWherePutStringPutsIt) {
  ASSERT_TRUE(cvEngine_PutString(s.Engine, 20, 30, "H#"));
  Finish();
  int inside = 0, outside = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool lit = s.Pixel(x, y) != 0;
      const bool inCells = x >= 20 && x < 36 && y >= 30 && y < 44;
      (inCells ? inside : outside) += lit;
    }
  EXPECT_GT(inside, 20);
  EXPECT_EQ(outside, 0);
  // "H": two vertical strokes with a gap between them in the middle row.
  int strokes = 0;
  for (int x = 20; x < 28; ++x) strokes += s.Pixel(x, 35) == 0xFFFFFFu;
  EXPECT_EQ(strokes, 2);
}

// A fixed mode keeps its size whatever the window's; a windowed mode follows
// the client size, also after it changes.
TEST(RenderModes, FramesHaveTheModeOrClientSize) {
  for (const char* mode : {"320x240", "Window"}) {
    SoftEngine s(100, 80, mode);
    ASSERT_NE(s.Engine, nullptr) << mode;
    cvEngine_EnableFrameRateCounter(s.Engine, 0);
    const bool fixed = mode[0] == '3';
    for (int frame = 0; frame < 2; ++frame) {
      if (frame == 1) {
        s.Window.SetClientSize(50, 40);
        EXPECT_TRUE(cvEngine_UpdateWindow(s.Engine));
      }
      ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
      ASSERT_TRUE(cvEngine_EndFrame(s.Engine));
      EXPECT_EQ(s.Window.FrameWidth(), fixed ? 320 : (frame ? 50 : 100)) << mode;
      EXPECT_EQ(s.Window.FrameHeight(), fixed ? 240 : (frame ? 40 : 80)) << mode;
      EXPECT_EQ(s.Window.PresentCount(), frame + 1) << mode;
    }
  }
}

TEST(RenderBitmaps, EngineBitmapsAreDrawnAndFollowTheGamma) {
  SoftEngine s(32, 32);
  ASSERT_NE(s.Engine, nullptr);
  cvEngine_EnableFrameRateCounter(s.Engine, 0);
  cvBitmap* b = cvBitmap_Create(4, 4, 1, CV_PIXELFORMAT_32BIT_XRGB);
  ASSERT_NE(b, nullptr);
  auto* p = reinterpret_cast<uint32_t*>(cvBitmap_AllocateMip(b, 0));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 16; ++i) p[i] = i < 8 ? 0x808080u : 0x00FF00u;  // top half grey
  cvBitmap_SetMipValid(b, 0, 1);
  ASSERT_TRUE(cvEngine_AddBitmap(s.Engine, b));

  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  ASSERT_TRUE(cvEngine_DrawBitmap(s.Engine, b, nullptr, 10, 10));
  cvRect bottomRow{0, 3, 3, 3};
  ASSERT_TRUE(cvEngine_DrawBitmap(s.Engine, b, &bottomRow, 20, 20));
  ASSERT_TRUE(cvEngine_EndFrame(s.Engine));
  EXPECT_EQ(s.Pixel(10, 10), 0x808080u);
  EXPECT_EQ(s.Pixel(13, 13), 0x00FF00u);
  EXPECT_EQ(s.Pixel(23, 20), 0x00FF00u);
  EXPECT_EQ(s.Pixel(20, 21), 0u);  // only one row was drawn

  // Gamma 2.0 is applied to the bitmaps' driver copies: 128 becomes 181.
  ASSERT_TRUE(cvEngine_SetGamma(s.Engine, 2.0f));
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  ASSERT_TRUE(cvEngine_DrawBitmap(s.Engine, b, nullptr, 10, 10));
  ASSERT_TRUE(cvEngine_EndFrame(s.Engine));
  EXPECT_EQ(s.Pixel(10, 10), 0xB5B5B5u);
  EXPECT_EQ(s.Pixel(13, 13), 0x00FF00u);

  EXPECT_TRUE(cvEngine_RemoveBitmap(s.Engine, b));
  EXPECT_FALSE(cvBitmap_IsAttached(b));
  EXPECT_FALSE(cvEngine_RemoveBitmap(s.Engine, b));
  EXPECT_LOGGED(-1);
  cvBitmap_Destroy(&b);
}

TEST_F(Render, HostileVerticesAndRectanglesDrawNothingWrong) {
  void* t = MakeTexture(d, 3, 5, std::vector<uint32_t>(15, 0xFFFFFF));  // not a power of two
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  cvDriver_Vertex huge[3] = {V(-1e6f, -1e6f, 1, -1e30f, 1e30f), V(1e6f, -1e6f, 1, 1e30f, 0),
                             V(0, 1e6f, 1, 0, -1e30f)};
  EXPECT_TRUE(d->RenderTexturedPoly(huge, 3, t, 0));
  cvDriver_Vertex behind[3] = {V(0, 0, -1), V(64, 0, 0), V(0, 64, 1)};
  EXPECT_TRUE(d->RenderTexturedPoly(behind, 3, t, 0));
  cvDriver_Vertex bad[3] = {V(nan, 0, 1), V(64, inf, 1), V(0, 64, nan)};
  EXPECT_TRUE(d->RenderGouraudPoly(bad, 3, 0));
  cvDriver_Vertex wrapped[4] = {V(0, 0, 1, -7.3f, -2.1f), V(64, 0, 1, 9.7f, -2.1f),
                                V(64, 64, 1, 9.7f, 4.4f), V(0, 64, 1, -7.3f, 4.4f)};
  EXPECT_TRUE(d->RenderTexturedPoly(wrapped, 4, t, 0));
  EXPECT_FALSE(d->RenderGouraudPoly(bad, 2, 0));
  EXPECT_FALSE(d->RenderTexturedPoly(wrapped, 4, nullptr, 0));
  cvDriver_Rect outside{-5, -5, 100, 100};
  EXPECT_TRUE(d->DrawDecal(t, &outside, -2, 62));
  Finish();
  EXPECT_EQ(s.Pixel(32, 32), 0xFFFFFFu);  // the wrapped quad covers the frame
}

TEST_F(Render, PalettisedTexturesWithPaletteAlphaMapAndKey) {
  Quad(d, 0, 0, 64, 64, 10.0f, 0x000000);
  cvDriver_PixelFormat pal8{1, CV_DRIVER_FORMAT_3D}, argb{17, CV_DRIVER_FORMAT_PALETTE},
      grey{2, CV_DRIVER_FORMAT_ALPHAMAP};
  void* t = d->CreateTexture(2, 2, 1, &pal8);
  void* palette = d->CreateTexture(256, 1, 1, &argb);
  void* alpha = d->CreateTexture(2, 2, 1, &grey);
  ASSERT_TRUE(t && palette && alpha);
  // The 2 x 2 byte textures' rows: indices 3 4 / 5 4 and alphas 255 255 / 128 255.
  auto put2x2 = [&](void* texture, uint8_t a, uint8_t b, uint8_t c, uint8_t e) {
    int32_t pitch;
    auto* p = static_cast<uint8_t*>(d->LockTexture(texture, 0, &pitch));
    p[0] = a, p[1] = b, p[pitch] = c, p[pitch + 1] = e;
    d->UnlockTexture(texture, 0);
  };
  put2x2(t, 3, 4, 5, 4);
  put2x2(alpha, 255, 255, 128, 255);
  int32_t pitch;
  auto* entries = static_cast<uint32_t*>(d->LockTexture(palette, 0, &pitch));
  entries[3] = 0xFFFF0000, entries[4] = 0xFF00FF00, entries[5] = 0xFF0000FF;
  d->UnlockTexture(palette, 0);
  ASSERT_TRUE(d->SetPalette(t, palette));
  ASSERT_TRUE(d->SetAlpha(t, alpha));
  ASSERT_TRUE(d->SetColorKey(t, 1, 4));  // index 4 is transparent
  cvDriver_TextureInfo info;
  ASSERT_TRUE(d->GetTextureInfo(t, &info));
  EXPECT_EQ(info.Palette, palette);
  EXPECT_EQ(info.Alpha, alpha);
  cvDriver_Vertex q[4] = {V(0, 0, 1, 0, 0), V(64, 0, 1, 1, 0), V(64, 64, 1, 1, 1), V(0, 64, 1, 0, 1)};
  ASSERT_TRUE(d->RenderTexturedPoly(q, 4, t, CV_DRIVER_POLY_BLEND | CV_DRIVER_POLY_COLORKEY));
  Finish();
  EXPECT_EQ(s.Pixel(10, 10), 0xFF0000u);
  EXPECT_EQ(s.Pixel(50, 10), 0x000000u);   // keyed
  EXPECT_NEAR((int)B(s.Pixel(10, 50)), 128, 1);  // half alpha over black
  EXPECT_EQ(s.Pixel(50, 50), 0x000000u);

  // A palette entry changed later shows in the next drawing.
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  // Nothing changed, so the new frame keeps the driver textures.
  entries = static_cast<uint32_t*>(d->LockTexture(palette, 0, &pitch));
  ASSERT_NE(entries, nullptr);
  entries[3] = 0xFFFFFF00;
  d->UnlockTexture(palette, 0);
  ASSERT_TRUE(d->RenderTexturedPoly(q, 4, t, CV_DRIVER_POLY_COLORKEY));
  // Destroying the palette leaves the texture drawable (grey indices).
  ASSERT_TRUE(d->DestroyTexture(palette));
  ASSERT_TRUE(d->GetTextureInfo(t, &info));
  EXPECT_EQ(info.Palette, nullptr);
  Finish();
  EXPECT_EQ(s.Pixel(10, 10), 0xFFFF00u);
}

// --- Accuracy against a slow exact reference ---------------------------------------

namespace {

// Texel (u, v) of the reference textures holds u in red, v in green and a
// marker in blue, so that every drawn pixel tells which texel it shows.
constexpr uint32_t kMarker = 0x5A;

void* MakeIndexTexture(cvDriver_Table* d, int32_t w, int32_t h) {
  std::vector<uint32_t> texels((size_t)w * h);
  for (int32_t v = 0; v < h; ++v)
    for (int32_t u = 0; u < w; ++u) texels[(size_t)v * w + u] = (uint32_t)u << 16 | (uint32_t)v << 8 | kMarker;
  return MakeTexture(d, w, h, texels);
}

// The exact perspective mapping of one triangle, in double precision:
// barycentric weights on the screen, U and V interpolated as U/Z and V/Z over 1/Z.
struct ExactTriangle {
  double X[3], Y[3], W[3], U[3], V[3];
  ExactTriangle(const cvDriver_Vertex& a, const cvDriver_Vertex& b, const cvDriver_Vertex& c,
                int32_t texW, int32_t texH) {
    const cvDriver_Vertex* p[3] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
      X[i] = p[i]->X, Y[i] = p[i]->Y, W[i] = 1.0 / p[i]->Z;
      U[i] = p[i]->U * texW, V[i] = p[i]->V * texH;
    }
  }
  double Area() const { return (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]); }
  void Weights(double x, double y, double l[3]) const {
    const double area = Area();
    l[0] = ((X[1] - x) * (Y[2] - y) - (X[2] - x) * (Y[1] - y)) / area;
    l[1] = ((X[2] - x) * (Y[0] - y) - (X[0] - x) * (Y[2] - y)) / area;
    l[2] = 1.0 - l[0] - l[1];
  }
  // False where (x, y) lies at or beyond the horizon of the triangle's plane.
  bool Map(double x, double y, double* u, double* v) const {
    double l[3];
    Weights(x, y, l);
    const double w = l[0] * W[0] + l[1] * W[1] + l[2] * W[2];
    *u = (l[0] * U[0] * W[0] + l[1] * U[1] * W[1] + l[2] * U[2] * W[2]) / w;
    *v = (l[0] * V[0] * W[0] + l[1] * V[1] * W[1] + l[2] * V[2] * W[2]) / w;
    return w > 0;
  }
  // Distance in pixels (negative outside) of (x, y) from the nearest edge.
  double Inside(double x, double y) const {
    double d = 1e30;
    const double sign = Area() > 0 ? 1.0 : -1.0;
    for (int i = 0; i < 3; ++i) {
      const int j = (i + 1) % 3;
      const double ex = X[j] - X[i], ey = Y[j] - Y[i];
      d = std::min(d, sign * (ex * (y - Y[i]) - ey * (x - X[i])) / std::hypot(ex, ey));
    }
    return d;
  }
};

// Whether the texel index I (wrapped into Size) is one the exact mapping reaches
// between Lo and Hi (texel units).
bool Reaches(double lo, double hi, int32_t i, int32_t size) {
  if (hi - lo >= size) return true;
  for (double k = std::floor(lo); k <= std::floor(hi); ++k) {
    const int64_t wrapped = (((int64_t)k % size) + size) % size;
    if (wrapped == i) return true;
  }
  return false;
}

struct Mismatch {
  int Coverage = 0, Texel = 0;
};

// Draws one textured triangle alone and checks every pixel of the frame:
// drawn exactly where its centre lies inside (pixels within 1/1000 of an
// edge may go either way), showing a texel that the exact mapping puts
// within half a pixel of the pixel's centre.
Mismatch CheckTriangle(SoftEngine& s, void* texture, int32_t texW, int32_t texH,
                       const cvDriver_Vertex (&tri)[3]) {
  Mismatch m;
  EXPECT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  EXPECT_TRUE(s.Driver()->RenderTexturedPoly(tri, 3, texture, 0));
  EXPECT_TRUE(cvEngine_EndFrame(s.Engine));
  const ExactTriangle exact(tri[0], tri[1], tri[2], texW, texH);
  if (std::fabs(exact.Area()) < 1.0) return m;
  // Outside the triangle's bounds only the coverage is checked.
  const double left = std::min({exact.X[0], exact.X[1], exact.X[2]}) - 1;
  const double right = std::max({exact.X[0], exact.X[1], exact.X[2]}) + 1;
  const double top = std::min({exact.Y[0], exact.Y[1], exact.Y[2]}) - 1;
  const double bottom = std::max({exact.Y[0], exact.Y[1], exact.Y[2]}) + 1;
  for (int32_t y = 0; y < s.Window.FrameHeight(); ++y)
    for (int32_t x = 0; x < s.Window.FrameWidth(); ++x) {
      const uint32_t p = s.Pixel(x, y);
      const bool drawn = B(p) == kMarker;
      if (x < left || x > right || y < top || y > bottom) {
        m.Coverage += drawn;
        continue;
      }
      const double inside = exact.Inside(x, y);
      if (std::fabs(inside) > 1e-3 && drawn != (inside > 0)) ++m.Coverage;
      if (!drawn) continue;
      // The mapping is a ratio of linear functions: over the pixel's square
      // it takes its extremes at the corners, unless the square reaches the
      // horizon, where every texel lies within it.
      double uMin = 1e30, uMax = -1e30, vMin = 1e30, vMax = -1e30;
      bool horizon = false;
      for (int corner = 0; corner < 4; ++corner) {
        double u, v;
        horizon |= !exact.Map(x + (corner & 1 ? 0.5 : -0.5), y + (corner & 2 ? 0.5 : -0.5), &u, &v);
        uMin = std::min(uMin, u), uMax = std::max(uMax, u);
        vMin = std::min(vMin, v), vMax = std::max(vMax, v);
      }
      if (!horizon && (!Reaches(uMin, uMax, (int32_t)R(p), texW) || !Reaches(vMin, vMax, (int32_t)G(p), texH)))
        ++m.Texel;
    }
  return m;
}

}  // namespace

TEST(RenderAccuracy, TexelsStayWithinHalfAPixelOfTheExactMapping) {
  SoftEngine s(320, 240);
  ASSERT_NE(s.Engine, nullptr);
  cvEngine_EnableFrameRateCounter(s.Engine, 0);
  ASSERT_TRUE(cvEngine_BeginFrame(s.Engine, nullptr, 1));
  void* pow2 = MakeIndexTexture(s.Driver(), 256, 256);
  void* odd = MakeIndexTexture(s.Driver(), 200, 120);
  ASSERT_TRUE(pow2 && odd);
  ASSERT_TRUE(cvEngine_EndFrame(s.Engine));

  // A wall filling the frame from depth 1 at one side to 60 at the other,
  // receding to the right, to the left, downwards and upwards, drawn as the
  // two triangles a quad is made of.
  const float x0 = -0.5f, x1 = 319.5f, y0 = -0.5f, y1 = 239.5f;
  const float depths[4][4] = {{1, 60, 60, 1}, {60, 1, 1, 60}, {1, 1, 60, 60}, {60, 60, 1, 1}};
  for (const auto& z : depths) {
    const cvDriver_Vertex q[4] = {V(x0, y0, z[0], 0, 0), V(x1, y0, z[1], 1, 0),
                                  V(x1, y1, z[2], 1, 1), V(x0, y1, z[3], 0, 1)};
    const cvDriver_Vertex halves[2][3] = {{q[0], q[1], q[2]}, {q[0], q[2], q[3]}};
    for (const auto& tri : halves) {
      const Mismatch m = CheckTriangle(s, pow2, 256, 256, tri);
      EXPECT_EQ(m.Coverage, 0) << "depths " << z[0] << " " << z[1] << " " << z[2] << " " << z[3];
      EXPECT_EQ(m.Texel, 0) << "depths " << z[0] << " " << z[1] << " " << z[2] << " " << z[3];
    }
  }

  // Random triangles, partly off the frame, at depths 0.5 to 200, with
  // repeating texture coordinates in any orientation, on both texture kinds.
  uint32_t seed = 12345;
  auto rnd = [&seed](float lo, float hi) {
    seed = seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * (float)(seed >> 8) / 16777216.0f;
  };
  for (int i = 0; i < 120; ++i) {
    cvDriver_Vertex tri[3];
    for (auto& v : tri)
      v = V(rnd(-60, 380), rnd(-60, 300), std::exp(rnd(std::log(0.5f), std::log(200.0f))), rnd(-2, 3),
            rnd(-2, 3));
    const bool usePow2 = i % 2 == 0;
    const Mismatch m = usePow2 ? CheckTriangle(s, pow2, 256, 256, tri) : CheckTriangle(s, odd, 200, 120, tri);
    EXPECT_EQ(m.Coverage, 0) << "triangle " << i;
    EXPECT_EQ(m.Texel, 0) << "triangle " << i;
  }
}

// --- Drawing threads -----------------------------------------------------------------

namespace {

// Draws two frames of a scene in which the order of drawing shows (blended
// and additive polygons, depth without writes, texture and palette changes
// in mid-scene, decals over polygons) with SOFTRND_THREADS=THREADS, and
// returns both frames. POLYGONS small polygons follow the scripted ones.
std::vector<uint32_t> DrawScene(const char* threads, int32_t polygons) {
  setenv("SOFTRND_THREADS", threads, 1);
  SoftEngine s{203, 151};
  unsetenv("SOFTRND_THREADS");
  std::vector<uint32_t> frames;
  if (!s.Engine) return frames;
  cvEngine_EnableFrameRateCounter(s.Engine, 0);
  cvDriver_Table* d = s.Driver();
  void *rgb = nullptr, *indexed = nullptr, *palette = nullptr;
  std::vector<uint32_t> texels(16 * 16);
  int32_t pitch;
  // While the palette is locked, WHILELOCKED may draw with the texture.
  auto setPalette = [&](uint32_t seed, const std::function<void()>& whileLocked = {}) {
    auto* e = static_cast<uint32_t*>(d->LockTexture(palette, 0, &pitch));
    if (!e) return;
    if (whileLocked) whileLocked();
    for (uint32_t i = 0; i < 256; ++i) e[i] = 0xFF000000u | ((i * 0x2F1B3u + seed) & 0xFFFFFF);
    d->UnlockTexture(palette, 0);
  };
  uint32_t state = 12345;
  auto next = [&](float lo, float hi) {
    state = state * 1664525u + 1013904223u;
    return lo + (hi - lo) * (float)(state >> 8) / 16777216.0f;
  };
  const uint32_t kinds[] = {0, CV_DRIVER_POLY_BLEND, CV_DRIVER_POLY_ADDITIVE, CV_DRIVER_POLY_NOZWRITE,
                            CV_DRIVER_POLY_BLEND | CV_DRIVER_POLY_NOZTEST};
  for (int frame = 0; frame < 2; ++frame) {
    if (!cvEngine_BeginFrame(s.Engine, nullptr, 1)) return {};
    // Made once the first frame has begun (which resets the driver's textures).
    if (frame == 0) {
      for (size_t i = 0; i < texels.size(); ++i) texels[i] = 0xFF000000u | (uint32_t)(i * 0x10305u);
      rgb = MakeTexture(d, 16, 16, texels);
      cvDriver_PixelFormat pal8{1, CV_DRIVER_FORMAT_3D}, argb{17, CV_DRIVER_FORMAT_PALETTE};
      indexed = d->CreateTexture(4, 4, 1, &pal8);
      palette = d->CreateTexture(256, 1, 1, &argb);
      auto* p = indexed ? static_cast<uint8_t*>(d->LockTexture(indexed, 0, &pitch)) : nullptr;
      if (!rgb || !p || !palette) return {};
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) p[y * pitch + x] = (uint8_t)(y * 4 + x);
      d->UnlockTexture(indexed, 0);
      setPalette(1);
      d->SetPalette(indexed, palette);
    }
    for (int32_t i = 0; i < 600 + polygons; ++i) {
      const float size = i < 600 ? next(5, 120) : next(0.5f, 4);
      const float x = next(-20, 215), y = next(-20, 165);
      cvDriver_Vertex v[4];
      for (int k = 0; k < 4; ++k) {
        const float a = (float)k * 1.5707963f + next(-0.3f, 0.3f);
        v[k] = V(x + size * std::cos(a), y + size * std::sin(a), next(1, 20), next(-1, 2), next(-1, 2),
                 next(0, 255), next(0, 255), next(0, 255), next(0, 255));
      }
      const uint32_t flags = kinds[i % 5];
      if (i % 3 == 0)
        d->RenderGouraudPoly(v, 3 + i % 2, flags);
      else
        d->RenderTexturedPoly(v, 3 + i % 2, i % 3 == 1 ? rgb : indexed, flags);
      // Texels and palette entries change while polygons drawn with the old
      // ones may still wait to be drawn.
      if (i == 200) {
        auto* t = static_cast<uint32_t*>(d->LockTexture(rgb, 0, &pitch));
        if (!t) return {};
        std::fill(t, t + 16 * 4, 0xFF20E040u + (uint32_t)frame);
        d->UnlockTexture(rgb, 0);
      }
      if (i == 590 + frame)
        setPalette(0x804020u + (uint32_t)frame, [&] {
          for (cvDriver_Vertex& corner : v) corner.Z = 0.5f;  // in front of everything
          d->RenderTexturedPoly(v, 4, indexed, 0);
        });
      if (i % 250 == 0) d->DrawDecal(rgb, nullptr, (int32_t)x, (int32_t)y);
    }
    if (!cvEngine_EndFrame(s.Engine)) return {};
    frames.insert(frames.end(), s.Window.Frame().begin(), s.Window.Frame().end());
  }
  return frames;
}

}  // namespace

TEST(RenderThreads, FramesAreTheSameWhateverTheNumberOfDrawingThreads) {
  const std::vector<uint32_t> one = DrawScene("1", 2000);
  ASSERT_EQ(one.size(), 2u * 203 * 151);
  for (const char* threads : {"2", "3", "5"}) EXPECT_EQ(DrawScene(threads, 2000), one) << threads << " threads";
  // A scene of more polygons than the queue hands over before it draws
  // everything and begins again.
  EXPECT_EQ(DrawScene("2", 140000), DrawScene("1", 140000));
}
