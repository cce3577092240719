// The rasterizer: convex polygons as triangle fans, scan-converted with pixel
// centres at +0.5 and a top-left fill rule (left and top edges inclusive), so
// that neighbouring triangles never draw a pixel twice (which matters for
// blending). Attributes are planes over the triangle: 1/Z, U/Z and V/Z for
// perspective-correct texturing and the z-buffer, colours linear on screen.
#include <algorithm>
#include <cmath>

#include "softrnd.h"

namespace softrnd {

void Frame::Resize(int32_t width, int32_t height) {
  if (width < 1) width = 1;
  if (height < 1) height = 1;
  if (width == Width && height == Height) return;
  Width = width;
  Height = height;
  Color.assign((size_t)width * height, 0);
  Depth.assign((size_t)width * height, 0.0f);
}

namespace {

enum { A_W, A_UW, A_VW, A_R, A_G, A_B, A_A, A_COUNT };

struct ScreenVertex {
  float X, Y;
  float At[A_COUNT];
};

struct Sampler {
  const uint32_t* Texels = nullptr;
  int32_t Width = 1, Height = 1, MaskU = 0, MaskV = 0;
};

inline int32_t floorToInt(float f) {
  // Out-of-range and NaN coordinates sample texel 0 instead of overflowing.
  return (f > -1.0e9f && f < 1.0e9f) ? (int32_t)std::floor(f) : 0;
}

inline int32_t wrap(int32_t i, int32_t size, int32_t mask) {
  if (mask >= 0) return i & mask;
  i %= size;
  return i < 0 ? i + size : i;
}

inline uint32_t clampByte(float v) {
  return v <= 0.0f ? 0u : v >= 255.0f ? 255u : (uint32_t)v;
}

inline uint32_t blendPixel(uint32_t dst, uint32_t src, uint32_t alpha, uint32_t flags) {
  uint32_t sr = (src >> 16) & 0xFF, sg = (src >> 8) & 0xFF, sb = src & 0xFF;
  uint32_t dr = (dst >> 16) & 0xFF, dg = (dst >> 8) & 0xFF, db = dst & 0xFF;
  if (flags & CV_DRIVER_POLY_ADDITIVE) {
    dr = std::min(255u, dr + sr * alpha / 255);
    dg = std::min(255u, dg + sg * alpha / 255);
    db = std::min(255u, db + sb * alpha / 255);
  } else {
    uint32_t ia = 255 - alpha;
    dr = (sr * alpha + dr * ia + 127) / 255;
    dg = (sg * alpha + dg * ia + 127) / 255;
    db = (sb * alpha + db * ia + 127) / 255;
  }
  return (dr << 16) | (dg << 8) | db;
}

// One span of a triangle: pixels [x0, x1) of row y, attributes at the
// first pixel's centre and their steps per pixel.
template <bool Textured>
void drawSpan(Frame& frame, int32_t y, int32_t x0, int32_t x1, float at[A_COUNT],
              const float dx[A_COUNT], const Sampler& tex, uint32_t flags, bool modulate) {
  uint32_t* color = frame.Color.data() + (size_t)y * frame.Width;
  float* depth = frame.Depth.data() + (size_t)y * frame.Width;
  const bool zTest = !(flags & CV_DRIVER_POLY_NOZTEST);
  const bool zWrite = !(flags & CV_DRIVER_POLY_NOZWRITE);
  const bool blend = (flags & (CV_DRIVER_POLY_BLEND | CV_DRIVER_POLY_ADDITIVE)) != 0;
  const bool keyed = (flags & CV_DRIVER_POLY_COLORKEY) != 0;
  float w = at[A_W], uw = at[A_UW], vw = at[A_VW];
  float r = at[A_R], g = at[A_G], b = at[A_B], a = at[A_A];
  for (int32_t x = x0; x < x1; ++x, w += dx[A_W], uw += dx[A_UW], vw += dx[A_VW],
               r += dx[A_R], g += dx[A_G], b += dx[A_B], a += dx[A_A]) {
    if (zTest && w <= depth[x]) continue;
    uint32_t src, alpha;
    if constexpr (Textured) {
      const float iz = 1.0f / w;
      int32_t u = wrap(floorToInt(uw * iz), tex.Width, tex.MaskU);
      int32_t v = wrap(floorToInt(vw * iz), tex.Height, tex.MaskV);
      uint32_t texel = tex.Texels[(size_t)v * tex.Width + u];
      alpha = texel >> 24;
      if (keyed && alpha == 0) continue;
      if (modulate) {
        uint32_t tr = ((texel >> 16) & 0xFF) * clampByte(r) / 255;
        uint32_t tg = ((texel >> 8) & 0xFF) * clampByte(g) / 255;
        uint32_t tb = (texel & 0xFF) * clampByte(b) / 255;
        alpha = alpha * clampByte(a) / 255;
        src = (tr << 16) | (tg << 8) | tb;
      } else {
        src = texel & 0xFFFFFF;
      }
    } else {
      src = (clampByte(r) << 16) | (clampByte(g) << 8) | clampByte(b);
      alpha = clampByte(a);
    }
    color[x] = blend ? blendPixel(color[x], src, alpha, flags) : src;
    if (zWrite) depth[x] = w;
  }
}

template <bool Textured>
void drawTriangle(Frame& frame, const ScreenVertex& p0, const ScreenVertex& p1,
                  const ScreenVertex& p2, const Sampler& tex, uint32_t flags, bool modulate) {
  const float area = (p1.X - p0.X) * (p2.Y - p0.Y) - (p2.X - p0.X) * (p1.Y - p0.Y);
  if (!(std::fabs(area) > 1e-6f)) return;
  float dx[A_COUNT], dy[A_COUNT];
  for (int i = 0; i < A_COUNT; ++i) {
    const float d1 = p1.At[i] - p0.At[i], d2 = p2.At[i] - p0.At[i];
    dx[i] = (d1 * (p2.Y - p0.Y) - d2 * (p1.Y - p0.Y)) / area;
    dy[i] = (d2 * (p1.X - p0.X) - d1 * (p2.X - p0.X)) / area;
  }
  const ScreenVertex* v[3] = {&p0, &p1, &p2};
  std::sort(v, v + 3, [](const ScreenVertex* a, const ScreenVertex* b) { return a->Y < b->Y; });
  const ScreenVertex &top = *v[0], &mid = *v[1], &bot = *v[2];
  if (!(bot.Y > top.Y)) return;

  const int32_t yStart = std::max<int32_t>(0, (int32_t)std::ceil(std::max(top.Y - 0.5f, -1.0f)));
  const int32_t yEnd = (int32_t)std::min<float>((float)frame.Height, std::ceil(bot.Y - 0.5f));
  const float longSlope = (bot.X - top.X) / (bot.Y - top.Y);
  for (int32_t y = yStart; y < yEnd; ++y) {
    const float yc = (float)y + 0.5f;
    float xa = top.X + (yc - top.Y) * longSlope;
    float xb;
    if (yc < mid.Y)
      xb = top.X + (yc - top.Y) * (mid.X - top.X) / (mid.Y - top.Y);
    else if (bot.Y > mid.Y)
      xb = mid.X + (yc - mid.Y) * (bot.X - mid.X) / (bot.Y - mid.Y);
    else
      xb = mid.X;
    if (xa > xb) std::swap(xa, xb);
    const float fx0 = std::ceil(xa - 0.5f), fx1 = std::ceil(xb - 0.5f);
    const int32_t x0 = fx0 < 0.0f ? 0 : (int32_t)std::min<float>(fx0, (float)frame.Width);
    const int32_t x1 = fx1 < 0.0f ? 0 : (int32_t)std::min<float>(fx1, (float)frame.Width);
    if (x0 >= x1) continue;
    const float ox = (float)x0 + 0.5f - p0.X, oy = yc - p0.Y;
    float at[A_COUNT];
    for (int i = 0; i < A_COUNT; ++i) at[i] = p0.At[i] + dx[i] * ox + dy[i] * oy;
    drawSpan<Textured>(frame, y, x0, x1, at, dx, tex, flags, modulate);
  }
}

bool validVertex(const cvDriver_Vertex& v) {
  // Screen coordinates far outside any frame (or NaN) would overflow the
  // scan conversion; such polygons are not drawn. Z must lie in front.
  const float limit = 1.0e7f;
  return v.X > -limit && v.X < limit && v.Y > -limit && v.Y < limit && v.Z > 0.0f &&
         v.Z < 1.0e30f && std::isfinite(v.U) && std::isfinite(v.V);
}

}  // namespace

void DrawPolygon(Frame& frame, const cvDriver_Vertex* vertices, int32_t count, Texture* texture,
                 uint32_t flags) {
  if (!vertices || count < 3 || frame.Color.empty()) return;
  Sampler sampler;
  if (texture) {
    sampler.Texels = TexturePixels(texture);
    sampler.Width = texture->LevelWidth[0];
    sampler.Height = texture->LevelHeight[0];
    sampler.MaskU = texture->MaskU;
    sampler.MaskV = texture->MaskV;
  }
  bool modulate = false;
  std::vector<ScreenVertex> sv((size_t)count);
  for (int32_t i = 0; i < count; ++i) {
    const cvDriver_Vertex& in = vertices[i];
    if (!validVertex(in)) return;
    ScreenVertex& out = sv[(size_t)i];
    const float w = 1.0f / in.Z;
    out.X = in.X;
    out.Y = in.Y;
    out.At[A_W] = w;
    out.At[A_UW] = in.U * (float)sampler.Width * w;
    out.At[A_VW] = in.V * (float)sampler.Height * w;
    out.At[A_R] = in.R;
    out.At[A_G] = in.G;
    out.At[A_B] = in.B;
    out.At[A_A] = in.A;
    if (in.R < 255.0f || in.G < 255.0f || in.B < 255.0f || in.A < 255.0f) modulate = true;
  }
  for (int32_t i = 1; i + 1 < count; ++i) {
    if (texture)
      drawTriangle<true>(frame, sv[0], sv[(size_t)i], sv[(size_t)i + 1], sampler, flags, modulate);
    else
      drawTriangle<false>(frame, sv[0], sv[(size_t)i], sv[(size_t)i + 1], sampler, flags, modulate);
  }
}

void DrawDecal(Frame& frame, Texture* texture, int32_t left, int32_t top, int32_t right,
               int32_t bottom, int32_t x, int32_t y) {
  const uint32_t* texels = TexturePixels(texture);
  const int32_t tw = texture->LevelWidth[0], th = texture->LevelHeight[0];
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, tw);
  bottom = std::min(bottom, th);
  for (int32_t ty = top; ty < bottom; ++ty) {
    const int64_t sy = (int64_t)y + (ty - top);
    if (sy < 0 || sy >= frame.Height) continue;
    uint32_t* row = frame.Color.data() + (size_t)sy * frame.Width;
    for (int32_t tx = left; tx < right; ++tx) {
      const int64_t sx = (int64_t)x + (tx - left);
      if (sx < 0 || sx >= frame.Width) continue;
      const uint32_t texel = texels[(size_t)ty * tw + tx];
      const uint32_t alpha = texel >> 24;
      if (alpha == 0) continue;
      row[sx] = alpha == 255 ? (texel & 0xFFFFFF) : blendPixel(row[sx], texel, alpha, 0);
    }
  }
}

}  // namespace softrnd
