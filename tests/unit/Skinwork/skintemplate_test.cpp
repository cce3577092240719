// UV templates: every pixel against a slow reference that measures the
// distance to each projected edge (with the texture's repeats), the skin's
// scaling, the line colour choice and the refused requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "skintemplate.h"

namespace {

struct BodyFree {
  void operator()(cvBody* B) const { cvBody_Destroy(&B); }
};
struct BitmapFree {
  void operator()(cvBitmap* B) const { cvBitmap_Destroy(&B); }
};
using BodyPtr = std::unique_ptr<cvBody, BodyFree>;
using BitmapPtr = std::unique_ptr<cvBitmap, BitmapFree>;

// A W x H 32-bit skin; texel (x, y) is Colour(x, y) as 0xRRGGBB.
template <class F>
BitmapPtr MakeSkin(int32_t W, int32_t H, F Colour) {
  cvBitmap* b = cvBitmap_Create(W, H, 1, CV_PIXELFORMAT_32BIT_XRGB);
  uint8_t* p = cvBitmap_AllocateMip(b, 0);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) cvLE_Put32(p + 4 * (y * W + x), Colour(x, y));
  cvBitmap_SetMipValid(b, 0, 1);
  return BitmapPtr(b);
}

uint32_t Pixel(cvBitmap* B, int32_t X, int32_t Y) {
  cvBitmap_Info info{};
  cvBitmap_GetInfo(B, &info, nullptr);
  return cvLE_Get32(cvBitmap_GetMipData(B, 0) + 4 * ((size_t)Y * info.Stride + X)) & 0xFFFFFF;
}

struct UV {
  float U, V;
};

// A body whose material 0 ("painted", the given skin) and 1 ("plain", no
// skin) have the given triangles.
BodyPtr MakeBody(cvBitmap* Skin, const std::vector<std::array<UV, 3>>& Painted,
                 const std::vector<std::array<UV, 3>>& Plain) {
  BodyPtr body(cvBody_Create());
  cvXForm3d rest;
  cvXForm3d_SetTranslation(&rest, 0, 0, 0);
  EXPECT_TRUE(cvBody_AddBone(body.get(), -1, "root", &rest, nullptr));
  EXPECT_TRUE(cvBody_AddMaterial(body.get(), "painted", Skin, 1, 2, 3, nullptr));
  EXPECT_TRUE(cvBody_AddMaterial(body.get(), "plain", nullptr, 10, 200, 300, nullptr));
  float z = 0;  // distinct positions keep every corner its own vertex
  const cvVec3d n{0, 0, 1};
  for (int m = 0; m < 2; ++m)
    for (const auto& t : m == 0 ? Painted : Plain) {
      cvVec3d p[3];
      for (int c = 0; c < 3; ++c) p[c] = {(float)c, z, 0}, z += 1;
      EXPECT_TRUE(cvBody_AddFace(body.get(), &p[0], &n, t[0].U, t[0].V, 0, &p[1], &n, t[1].U,
                                 t[1].V, 0, &p[2], &n, t[2].U, t[2].V, 0, m));
    }
  return body;
}

double SegmentDistance(double Px, double Py, double Ax, double Ay, double Bx, double By) {
  const double dx = Bx - Ax, dy = By - Ay, l2 = dx * dx + dy * dy;
  const double t = l2 > 0 ? std::clamp(((Px - Ax) * dx + (Py - Ay) * dy) / l2, 0.0, 1.0) : 0.0;
  return std::hypot(Px - Ax - t * dx, Py - Ay - t * dy);
}

TEST(SkinTemplate, LinesLieOnTheProjectedEdgesOfTheMaterialsTriangles) {
  const uint32_t background = 0x282828;
  BitmapPtr skin = MakeSkin(16, 8, [&](int32_t, int32_t) { return background; });
  // Inside the texture, reaching past its right and top edges (drawn on
  // both sides of the seams), whole repeats away, and degenerate.
  const std::vector<std::array<UV, 3>> painted = {
      {{{0.1f, 0.1f}, {0.45f, 0.2f}, {0.2f, 0.8f}}},
      {{{0.8f, 0.5f}, {1.2f, 0.6f}, {0.9f, -0.15f}}},
      {{{2.55f, -1.7f}, {2.7f, -1.4f}, {2.6f, -1.1f}}},
      {{{0.5f, 0.95f}, {0.5f, 0.95f}, {0.5f, 0.95f}}},
  };
  const std::vector<std::array<UV, 3>> plain = {{{{0.3f, 0.4f}, {0.7f, 0.4f}, {0.5f, 0.6f}}}};
  BodyPtr body = MakeBody(skin.get(), painted, plain);

  for (const auto& size : {std::pair{0, 0}, std::pair{100, 64}}) {
    SkinTemplateOptions options;
    options.Width = size.first;
    options.Height = size.second;
    std::string why;
    BitmapPtr out(MakeSkinTemplate(body.get(), 0, options, &why));
    ASSERT_TRUE(out) << why;
    cvBitmap_Info info{};
    cvBitmap_GetInfo(out.get(), &info, nullptr);
    const int32_t W = size.first ? size.first : 16, H = size.second ? size.second : 8;
    ASSERT_EQ(info.Width, W);
    ASSERT_EQ(info.Height, H);

    const uint32_t line = 0xFFFFFF;  // the dark skin gets white
    int onLine = 0;
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        double d = 1e9;
        for (const auto& t : painted)
          for (int c = 0; c < 3; ++c)
            for (int k = -3; k <= 3; ++k)
              for (int l = -3; l <= 3; ++l)
                d = std::min(d, SegmentDistance(x + 0.5, y + 0.5, (t[c].U - k) * W,
                                                (t[c].V - l) * H, (t[(c + 1) % 3].U - k) * W,
                                                (t[(c + 1) % 3].V - l) * H));
        const double a = std::max(0.0, 1 - d);
        onLine += a > 0.5;
        const uint32_t got = Pixel(out.get(), x, y);
        for (int shift : {0, 8, 16}) {
          const double want =
              ((background >> shift) & 0xFF) * (1 - a) + ((line >> shift) & 0xFF) * a;
          ASSERT_NEAR((double)((got >> shift) & 0xFF), want, 1.5)
              << "pixel " << x << "," << y << " at distance " << d << " size " << W;
        }
      }
    EXPECT_GT(onLine, W + H) << "the outlines were drawn";
  }
}

TEST(SkinTemplate, ScalesTheSkinAndPicksAContrastingLineColour) {
  // 4 x 2 texels, mostly magenta: lines must then be another colour.
  const uint32_t texels[2][4] = {{0xFF00FF, 0xFE00FE, 0xFF10F0, 0x000000},
                                 {0xFF00FF, 0xF000FF, 0x402000, 0xFFFFFF}};
  BitmapPtr skin = MakeSkin(4, 2, [&](int32_t x, int32_t y) { return texels[y][x]; });
  BodyPtr body = MakeBody(skin.get(), {{{{0.0f, 0.5f}, {1.0f, 0.5f}, {0.5f, 0.5f}}}}, {});
  EXPECT_EQ(SkinTemplateLineColor(&texels[0][0], 8), 0x00FFFFu);

  SkinTemplateOptions big;
  big.Width = 8;
  big.Height = 6;
  BitmapPtr enlarged(MakeSkinTemplate(body.get(), 1, big, nullptr));  // no faces: skin only
  ASSERT_TRUE(enlarged);
  // Material 1 has no skin: its colour (clamped to 0..255) fills it.
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 8; ++x) ASSERT_EQ(Pixel(enlarged.get(), x, y), 0x0AC8FFu);

  // The painted material, enlarged 2 x 3 texel by texel; its one
  // horizontal line runs between rows 2 and 3 and covers each half.
  BitmapPtr painted(MakeSkinTemplate(body.get(), 0, big, nullptr));
  ASSERT_TRUE(painted);
  for (int32_t y : {0, 1, 4, 5})
    for (int32_t x = 0; x < 8; ++x) ASSERT_EQ(Pixel(painted.get(), x, y), texels[y / 3][x / 2]);
  EXPECT_EQ(Pixel(painted.get(), 0, 2), 0x7F80FFu);  // half magenta, half cyan

  // Reduced to 2 x 1: each pixel averages its 2 x 2 block.
  SkinTemplateOptions small;
  small.Width = 2;
  small.Height = 1;
  small.LineColorGiven = true;
  BitmapPtr reduced(MakeSkinTemplate(body.get(), 1, small, nullptr));
  ASSERT_TRUE(reduced);
  EXPECT_EQ(Pixel(reduced.get(), 0, 0), 0x0AC8FFu);
  body = MakeBody(skin.get(), {}, {});
  reduced.reset(MakeSkinTemplate(body.get(), 0, small, nullptr));
  ASSERT_TRUE(reduced);
  EXPECT_EQ(Pixel(reduced.get(), 0, 0), 0xFB00FFu);
  EXPECT_EQ(Pixel(reduced.get(), 1, 0), 0x904C7Cu);
}

TEST(SkinTemplate, RefusesWhatItCannotDraw) {
  BitmapPtr skin = MakeSkin(2, 2, [](int32_t, int32_t) { return 0u; });
  BodyPtr body = MakeBody(skin.get(), {}, {});
  std::string why;
  SkinTemplateOptions wide;
  wide.Width = SKIN_TEMPLATE_MAX_SIDE + 1;
  EXPECT_FALSE(MakeSkinTemplate(nullptr, 0, {}, &why));
  EXPECT_FALSE(MakeSkinTemplate(body.get(), 2, {}, &why));
  EXPECT_EQ(why, "the body has no such material");
  EXPECT_FALSE(MakeSkinTemplate(body.get(), 0, wide, &why));
  EXPECT_EQ(why, "the template size must be 1 to 8192 pixels a side");
}

}  // namespace
