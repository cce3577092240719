// The rasterizer: convex polygons as triangle fans, scan-converted with pixel
// (x, y) the unit square centred on (x, y), the engine's camera convention.
// A top-left fill rule (left and top edges inclusive) makes neighbouring
// triangles never draw a pixel twice (which matters for blending) nor leave
// one out. Attributes are planes over the triangle: 1/Z, U/Z and V/Z for
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

inline int32_t floorToInt(float f) {
  // Out-of-range and NaN coordinates sample texel 0 instead of overflowing.
  if (!(f > -1.0e9f && f < 1.0e9f)) return 0;
  // Truncation, one less below zero unless whole (which is a plain SSE2
  // conversion where std::floor is a library call). Floats of 2^23 or more
  // are whole, so converting the truncated value back is exact.
  const int32_t i = (int32_t)f;
  return f < (float)i ? i - 1 : i;
}

inline int32_t wrap(int32_t i, int32_t size, int32_t mask) {
  if (mask >= 0) return i & mask;
  i %= size;
  return i < 0 ? i + size : i;
}

// Blends src over dst by alpha (0..255); additive polygons add src × alpha.
inline uint32_t blendPixel(uint32_t dst, uint32_t src, uint32_t alpha, uint32_t flags) {
  const uint32_t a = alpha + (alpha >> 7);  // 0..256, so that 255 keeps src exactly
  if (flags & CV_DRIVER_POLY_ADDITIVE) {
    const uint32_t sr = (src >> 16) & 0xFF, sg = (src >> 8) & 0xFF, sb = src & 0xFF;
    uint32_t dr = (dst >> 16) & 0xFF, dg = (dst >> 8) & 0xFF, db = dst & 0xFF;
    dr = std::min(255u, dr + ((sr * a) >> 8));
    dg = std::min(255u, dg + ((sg * a) >> 8));
    db = std::min(255u, db + ((sb * a) >> 8));
    return (dr << 16) | (dg << 8) | db;
  }
  // Red and blue blend together in one word, green in another.
  const uint32_t ia = 256 - a;
  const uint32_t rb = (((src & 0xFF00FF) * a + (dst & 0xFF00FF) * ia) >> 8) & 0xFF00FF;
  const uint32_t g = (((src & 0x00FF00) * a + (dst & 0x00FF00) * ia) >> 8) & 0x00FF00;
  return rb | g;
}

// Colours step in 16.16 fixed point across a span. The span's first and
// last values are clamped to 0..255 (edges may extrapolate a little), so
// every value between them is in range too and the loop needs no clamping.
struct FixedColour {
  int32_t R, G, B, A, DR, DG, DB, DA;
  FixedColour() : R(0), G(0), B(0), A(0), DR(0), DG(0), DB(0), DA(0) {}
  FixedColour(const float at[A_COUNT], const float dx[A_COUNT], int32_t count) {
    // One divide for the four steps: (last - first) / (count - 1) is taken
    // as a product with the reciprocal, nudged by 2^-20 away from zero. The
    // difference is below 2^24 and count below 2^13, so the product is
    // within 2^-28 of the exact quotient, whose fraction is 0 or at least
    // 2^-13: truncating gives exactly what an integer divide gives.
    const double inverse = count > 1 ? 1.0 / (double)(count - 1) : 0.0;
    Setup(at[A_R], dx[A_R], count, inverse, R, DR);
    Setup(at[A_G], dx[A_G], count, inverse, G, DG);
    Setup(at[A_B], dx[A_B], count, inverse, B, DB);
    Setup(at[A_A], dx[A_A], count, inverse, A, DA);
  }
  static int32_t toFixed(float v) {
    // NaN and values outside 0..255 are clamped.
    return v > 0.0f ? (v < 255.0f ? (int32_t)(v * 65536.0f) : 255 << 16) : 0;
  }
  static void Setup(float first, float step, int32_t count, double inverse, int32_t& value,
                    int32_t& delta) {
    value = toFixed(first);
    const int32_t last = count > 1 ? toFixed(first + step * (float)(count - 1)) : value;
    const double q = (double)(last - value) * inverse;
    delta = (int32_t)(q + (q < 0.0 ? -0x1p-20 : 0x1p-20));
  }
  static uint32_t channel(int32_t v) { return (uint32_t)v >> 16; }
  void Step() {
    R += DR;
    G += DG;
    B += DB;
    A += DA;
  }
};

// Gouraud span: pixels [x0, x1) of row y.
void drawGouraudSpan(Frame& frame, int32_t y, int32_t x0, int32_t x1, const float at[A_COUNT],
                     const float dx[A_COUNT], uint32_t flags) {
  uint32_t* color = frame.Color.data() + (size_t)y * frame.Width;
  float* depth = frame.Depth.data() + (size_t)y * frame.Width;
  const bool zTest = !(flags & CV_DRIVER_POLY_NOZTEST);
  const bool zWrite = !(flags & CV_DRIVER_POLY_NOZWRITE);
  const bool blend = (flags & (CV_DRIVER_POLY_BLEND | CV_DRIVER_POLY_ADDITIVE)) != 0;
  FixedColour c(at, dx, x1 - x0);
  float w = at[A_W];
  const float dw = dx[A_W];
  for (int32_t x = x0; x < x1; ++x, w += dw, c.Step()) {
    if (zTest && w <= depth[x]) continue;
    const uint32_t src = (FixedColour::channel(c.R) << 16) | (FixedColour::channel(c.G) << 8) |
                         FixedColour::channel(c.B);
    color[x] = blend ? blendPixel(color[x], src, FixedColour::channel(c.A), flags) : src;
    if (zWrite) depth[x] = w;
  }
}

// Texture coordinates are exact (U/Z and V/Z divided by 1/Z) at the ends of
// runs of pixels and stepped linearly in 16.16 fixed point between, which
// keeps the divide out of the inner loop. With 1/Z equal to w at a run's
// start and changing by dw per pixel, linear steps between the exact ends
// show at pixel t of a run of n the texel that the exact mapping puts at
// t·w / (w + (n − t)·dw): t(n − t)·|dw| / w(n − t) pixels away, at most
// n²·|dw| / (4·wmin) with wmin the smaller 1/Z of the run's two ends. Runs
// are as long as keeps that within kMaxShift of a pixel: kMaxRun pixels on
// polygons that face the camera, down to one pixel (an exact divide each)
// where a steep polygon recedes fast.
constexpr int32_t kMaxRun = 32;
constexpr float kMaxShift = 0.25f;

// The length of the run that starts where 1/Z is W: the longest power of
// two up to kMaxRun whose shift stays within the bound (wmin is W itself
// when 1/Z grows along the span, else its value at the run's far end), cut
// to the Left pixels of the span. Halving needs no divide or square root.
inline int32_t runLength(float w, float dw, int32_t left) {
  const float slope = std::fabs(dw), bound = 4.0f * kMaxShift;
  int32_t n = kMaxRun;
  while (n > 1 && !((float)(n * n) * slope <= bound * (dw < 0.0f ? w + dw * (float)n : w))) n >>= 1;
  return std::min(n, left);
}

// 65536 / n for the run lengths 1 .. kMaxRun: the fixed-point scale of a
// run's step without a divide.
struct StepScales {
  float Of[kMaxRun + 1];
  constexpr StepScales() : Of{} {
    for (int32_t n = 1; n <= kMaxRun; ++n) Of[n] = 65536.0f / (float)n;
  }
};
constexpr StepScales kStepScale;

// The part of T above Base in 16.16 fixed point (0 for coordinates too
// large or not finite, which floorToInt also sent to texel 0).
inline int64_t fraction(float t, int32_t base) {
  const float f = (t - (float)base) * 65536.0f;
  return f >= 0.0f && f < 131072.0f ? (int64_t)f : 0;
}

// A step in 16.16 fixed point, rounded so that a run's steps add up to its
// end within half a unit per pixel (0 for steps too large or not finite).
inline int64_t fixedStep(float s) {
  return s > -1.0e12f && s < 1.0e12f ? (int64_t)(s + (s < 0.0f ? -0.5f : 0.5f)) : 0;
}

template <bool Pow2>
void drawTexturedSpan(Frame& frame, int32_t y, int32_t x0, int32_t x1, const float at[A_COUNT],
                      const float dx[A_COUNT], const Sampler& tex, uint32_t flags,
                      uint32_t modulate) {
  uint32_t* color = frame.Color.data() + (size_t)y * frame.Width;
  float* depth = frame.Depth.data() + (size_t)y * frame.Width;
  const bool zTest = !(flags & CV_DRIVER_POLY_NOZTEST);
  const bool zWrite = !(flags & CV_DRIVER_POLY_NOZWRITE);
  const bool blend = (flags & (CV_DRIVER_POLY_BLEND | CV_DRIVER_POLY_ADDITIVE)) != 0;
  const bool keyed = (flags & CV_DRIVER_POLY_COLORKEY) != 0;
  const bool modulateColour = (modulate & 1) != 0, modulateAlpha = (modulate & 2) != 0;
  // Texels at full colour and alpha leave the colours unused.
  FixedColour c = modulate ? FixedColour(at, dx, x1 - x0) : FixedColour();
  const float dw = dx[A_W];
  float w = at[A_W];
  float u0 = at[A_UW] / w, v0 = at[A_VW] / w;
  for (int32_t x = x0; x < x1;) {
    const int32_t n = runLength(w, dw, x1 - x);
    const int32_t end = x + n;
    // The run's far end, taken from the span's start so that nothing drifts.
    const float k = (float)(end - x0);
    const float wn = at[A_W] + dw * k, zn = 1.0f / wn;
    const float u1 = (at[A_UW] + dx[A_UW] * k) * zn, v1 = (at[A_VW] + dx[A_VW] * k) * zn;
    // Whole texels go into the base (wrapped once); the fraction and the
    // steps stay small in 64-bit fixed point.
    const int32_t bu = floorToInt(u0), bv = floorToInt(v0);
    const int32_t baseU = wrap(bu, tex.Width, tex.MaskU), baseV = wrap(bv, tex.Height, tex.MaskV);
    int64_t fu = fraction(u0, bu), fv = fraction(v0, bv);
    const float span = kStepScale.Of[n];
    const float su = (u1 - u0) * span, sv = (v1 - v0) * span;
    const int64_t du = fixedStep(su), dv = fixedStep(sv);
    for (; x < end; ++x, w += dw, fu += du, fv += dv, c.Step()) {
      if (zTest && w <= depth[x]) continue;
      int32_t iu = baseU + (int32_t)(fu >> 16), iv = baseV + (int32_t)(fv >> 16);
      if constexpr (Pow2) {
        iu &= tex.MaskU;
        iv &= tex.MaskV;
      } else {
        iu = wrap(iu, tex.Width, -1);
        iv = wrap(iv, tex.Height, -1);
      }
      const uint32_t texel = tex.Texels[(size_t)iv * tex.Width + iu];
      uint32_t alpha = texel >> 24;
      if (keyed && alpha == 0) continue;
      uint32_t src = texel & 0xFFFFFF;
      if (modulateColour) {
        const uint32_t mr = FixedColour::channel(c.R) + 1, mg = FixedColour::channel(c.G) + 1,
                       mb = FixedColour::channel(c.B) + 1;
        src = ((((texel >> 16) & 0xFF) * mr >> 8) << 16) | ((((texel >> 8) & 0xFF) * mg >> 8) << 8) |
              ((texel & 0xFF) * mb >> 8);
      }
      if (modulateAlpha) alpha = alpha * (FixedColour::channel(c.A) + 1) >> 8;
      color[x] = blend ? blendPixel(color[x], src, alpha, flags) : src;
      if (zWrite) depth[x] = w;
    }
    w = wn;
    u0 = u1;
    v0 = v1;
  }
}

template <bool Textured>
void drawSpan(Frame& frame, int32_t y, int32_t x0, int32_t x1, const float at[A_COUNT],
              const float dx[A_COUNT], const Sampler& tex, uint32_t flags, uint32_t modulate) {
  if constexpr (!Textured)
    drawGouraudSpan(frame, y, x0, x1, at, dx, flags);
  else if (tex.MaskU >= 0 && tex.MaskV >= 0)
    drawTexturedSpan<true>(frame, y, x0, x1, at, dx, tex, flags, modulate);
  else
    drawTexturedSpan<false>(frame, y, x0, x1, at, dx, tex, flags, modulate);
}

// An edge from A down to B, and the X where it crosses row Y. Triangles that share an
// edge compute it from the same two vertices in the same order, so they
// agree on it to the bit and every pixel along it is drawn by exactly one.
// The slope is taken once per edge.
struct Edge {
  float X, Y, Slope;
  Edge(const ScreenVertex& a, const ScreenVertex& b) : X(a.X), Y(a.Y), Slope((b.X - a.X) / (b.Y - a.Y)) {}
  float At(float y) const { return X + (y - Y) * Slope; }
};

// The first whole number at or above F, kept within 0 .. Limit (0 for NaN).
inline int32_t ceilWithin(float f, int32_t limit) {
  if (!(f > 0.0f)) return 0;
  if (f >= (float)limit) return limit;
  const int32_t i = (int32_t)f;
  return f > (float)i ? i + 1 : i;
}

template <bool Textured>
void drawTriangle(Frame& frame, Band band, const ScreenVertex& p0, const ScreenVertex& p1,
                  const ScreenVertex& p2, const Sampler& tex, uint32_t flags, uint32_t modulate) {
  const ScreenVertex* v[3] = {&p0, &p1, &p2};
  std::sort(v, v + 3, [](const ScreenVertex* a, const ScreenVertex* b) { return a->Y < b->Y; });
  const ScreenVertex &top = *v[0], &mid = *v[1], &bot = *v[2];
  if (!(bot.Y > top.Y)) return;
  // Rows whose centres lie in top.Y <= y < bot.Y; in each, the pixels whose
  // centres lie in left <= x < right.
  // Only the band's rows: a row's pixels depend on nothing drawn in other
  // rows, so bands drawn apart give the same picture as one pass.
  const int32_t yStart = std::max(ceilWithin(top.Y, frame.Height), band.Top);
  const int32_t yEnd = std::min(ceilWithin(bot.Y, frame.Height), band.Bottom);
  if (yStart >= yEnd) return;

  // The attribute planes in double precision: steep, large triangles lose
  // too much of U/Z and V/Z to cancellation in float.
  const double e1x = (double)p1.X - p0.X, e1y = (double)p1.Y - p0.Y;
  const double e2x = (double)p2.X - p0.X, e2y = (double)p2.Y - p0.Y;
  const double area = e1x * e2y - e2x * e1y;
  if (!(std::fabs(area) > 1e-6)) return;
  double dx[A_COUNT], dy[A_COUNT];
  float fdx[A_COUNT];
  for (int i = 0; i < A_COUNT; ++i) {
    const double d1 = (double)p1.At[i] - p0.At[i], d2 = (double)p2.At[i] - p0.At[i];
    dx[i] = (d1 * e2y - d2 * e1y) / area;
    dy[i] = (d2 * e1x - d1 * e2x) / area;
    fdx[i] = (float)dx[i];
  }
  const Edge major(top, bot), upper(top, mid), lower(mid, bot);
  for (int32_t y = yStart; y < yEnd; ++y) {
    const float yc = (float)y;
    float xa = major.At(yc);
    float xb = yc < mid.Y ? upper.At(yc) : lower.At(yc);
    if (xa > xb) std::swap(xa, xb);
    const int32_t x0 = ceilWithin(xa, frame.Width), x1 = ceilWithin(xb, frame.Width);
    if (x0 >= x1) continue;
    const double ox = (double)x0 - p0.X, oy = (double)y - p0.Y;
    float at[A_COUNT];
    for (int i = 0; i < A_COUNT; ++i) at[i] = (float)(p0.At[i] + dx[i] * ox + dy[i] * oy);
    drawSpan<Textured>(frame, y, x0, x1, at, fdx, tex, flags, modulate);
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

bool PreparePolygon(const cvDriver_Vertex* vertices, int32_t count, Texture* texture,
                    uint32_t flags, std::vector<ScreenVertex>& store, PolygonCommand& out) {
  if (!vertices || count < 3) return false;
  if (!std::all_of(vertices, vertices + count, validVertex)) return false;
  Sampler sampler;
  if (texture) {
    sampler.Texels = TexturePixels(texture);
    sampler.Width = texture->LevelWidth[0];
    sampler.Height = texture->LevelHeight[0];
    sampler.MaskU = texture->MaskU;
    sampler.MaskV = texture->MaskV;
  }
  uint32_t modulate = 0;  // 1: colours below 255, 2: alpha below 255
  out.First = store.size();
  out.Count = count;
  out.MinY = vertices[0].Y;
  out.MaxY = vertices[0].Y;
  for (int32_t i = 0; i < count; ++i) {
    const cvDriver_Vertex& in = vertices[i];
    ScreenVertex sv;
    const float w = 1.0f / in.Z;
    sv.X = in.X;
    sv.Y = in.Y;
    sv.At[A_W] = w;
    sv.At[A_UW] = in.U * (float)sampler.Width * w;
    sv.At[A_VW] = in.V * (float)sampler.Height * w;
    sv.At[A_R] = in.R;
    sv.At[A_G] = in.G;
    sv.At[A_B] = in.B;
    sv.At[A_A] = in.A;
    if (!(in.R >= 255.0f && in.G >= 255.0f && in.B >= 255.0f)) modulate |= 1;
    if (!(in.A >= 255.0f)) modulate |= 2;
    out.MinY = std::min(out.MinY, in.Y);
    out.MaxY = std::max(out.MaxY, in.Y);
    store.push_back(sv);
  }
  out.Tex = sampler;
  out.Flags = flags;
  out.Modulate = modulate;
  out.Textured = texture != nullptr;
  return true;
}

void DrawPolygon(Frame& frame, Band band, const PolygonCommand& polygon,
                 const ScreenVertex* store) {
  // Rows drawn lie in MinY <= y < MaxY; a band wholly outside has nothing to do.
  if (polygon.MaxY <= (float)band.Top || polygon.MinY >= (float)band.Bottom) return;
  const ScreenVertex* sv = store + polygon.First;
  for (int32_t i = 1; i + 1 < polygon.Count; ++i) {
    if (polygon.Textured)
      drawTriangle<true>(frame, band, sv[0], sv[i], sv[i + 1], polygon.Tex, polygon.Flags,
                         polygon.Modulate);
    else
      drawTriangle<false>(frame, band, sv[0], sv[i], sv[i + 1], polygon.Tex, polygon.Flags,
                          polygon.Modulate);
  }
}

void DrawDecal(Frame& frame, Band band, const DecalCommand& decal) {
  const uint32_t* texels = decal.Texels;
  const int32_t tw = decal.TexWidth, th = decal.TexHeight;
  const int32_t left = std::max(decal.Left, 0), top = std::max(decal.Top, 0);
  const int32_t right = std::min(decal.Right, tw), bottom = std::min(decal.Bottom, th);
  for (int32_t ty = top; ty < bottom; ++ty) {
    const int64_t sy = (int64_t)decal.Y + (ty - top);
    if (sy < band.Top || sy >= band.Bottom || sy >= frame.Height) continue;
    uint32_t* row = frame.Color.data() + (size_t)sy * frame.Width;
    for (int32_t tx = left; tx < right; ++tx) {
      const int64_t sx = (int64_t)decal.X + (tx - left);
      if (sx < 0 || sx >= frame.Width) continue;
      const uint32_t texel = texels[(size_t)ty * tw + tx];
      const uint32_t alpha = texel >> 24;
      if (alpha == 0) continue;
      row[sx] = alpha == 255 ? (texel & 0xFFFFFF) : blendPixel(row[sx], texel, alpha, 0);
    }
  }
}

DecalCommand PrepareDecal(Texture* texture, int32_t left, int32_t top, int32_t right,
                          int32_t bottom, int32_t x, int32_t y) {
  DecalCommand d;
  d.Texels = TexturePixels(texture);
  d.TexWidth = texture->LevelWidth[0];
  d.TexHeight = texture->LevelHeight[0];
  d.Left = left;
  d.Top = top;
  d.Right = right;
  d.Bottom = bottom;
  d.X = x;
  d.Y = y;
  return d;
}

}  // namespace softrnd
