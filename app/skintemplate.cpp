#include "skintemplate.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"

namespace {

// Edges whose coordinates span more texture repeats than this on one axis
// are left out: their copies would cover the template solid.
constexpr double kMaxRepeats = 64;

bool Fail(std::string* Reason, const char* Text) {
  if (Reason) *Reason = Text;
  return false;
}

cvBitmap* FailNull(std::string* Reason, const char* Text) {
  Fail(Reason, Text);
  return nullptr;
}

// One source texel a destination pixel takes, with its share.
struct Tap {
  int32_t Index;
  double Weight;
};

// For every destination index along one axis, the source texels it takes:
// the texel under its centre when enlarging, every texel its footprint
// covers, weighted by the part covered, when reducing.
std::vector<std::vector<Tap>> AxisTaps(int32_t Source, int32_t Destination) {
  std::vector<std::vector<Tap>> taps((size_t)Destination);
  const double scale = (double)Source / Destination;
  for (int32_t d = 0; d < Destination; ++d) {
    if (Destination >= Source) {
      const int32_t s = std::min((int32_t)((d + 0.5) * scale), Source - 1);
      taps[(size_t)d].push_back({s, 1.0});
      continue;
    }
    const double from = d * scale, to = (d + 1) * scale;
    const int32_t last = std::min((int32_t)std::ceil(to), Source) - 1;
    for (int32_t s = (int32_t)from; s <= last; ++s) {
      const double covered = std::min(to, s + 1.0) - std::max(from, (double)s);
      if (covered > 0) taps[(size_t)d].push_back({s, covered / (to - from)});
    }
  }
  return taps;
}

// The skin scaled to Width x Height, as 0x00RRGGBB pixels.
bool ScaleSkin(cvBitmap* Skin, int32_t Width, int32_t Height, std::vector<uint32_t>* Out,
               std::string* Reason) {
  cvBitmap* lock = nullptr;
  if (!cvBitmap_LockForRead(Skin, &lock, 0, 0, CV_PIXELFORMAT_32BIT_XRGB, 0, 0))
    return Fail(Reason, "the material's skin cannot be read");
  std::unique_ptr<cvBitmap, decltype(&cvBitmap_UnLock)> held(lock, &cvBitmap_UnLock);
  cvBitmap_Info info{};
  const auto* pixels = static_cast<const uint32_t*>(cvBitmap_GetBits(lock));
  if (!pixels || !cvBitmap_GetInfo(lock, &info, nullptr) || info.Width <= 0 || info.Height <= 0 ||
      info.Stride < info.Width)
    return Fail(Reason, "the material's skin cannot be read");

  const auto columns = AxisTaps(info.Width, Width);
  const auto rows = AxisTaps(info.Height, Height);
  Out->assign((size_t)Width * Height, 0);
  for (int32_t y = 0; y < Height; ++y)
    for (int32_t x = 0; x < Width; ++x) {
      double r = 0, g = 0, b = 0;
      for (const Tap& row : rows[(size_t)y])
        for (const Tap& column : columns[(size_t)x]) {
          const uint32_t p = pixels[(size_t)row.Index * info.Stride + column.Index];
          const double w = row.Weight * column.Weight;
          r += w * ((p >> 16) & 0xFF);
          g += w * ((p >> 8) & 0xFF);
          b += w * (p & 0xFF);
        }
      auto channel = [](double v) { return (uint32_t)std::clamp(std::lround(v), 0l, 255l); };
      (*Out)[(size_t)y * Width + x] = channel(r) << 16 | channel(g) << 8 | channel(b);
    }
  return true;
}

uint32_t ColourOf(float Red, float Green, float Blue) {
  // Material colours are 0..255 floats; anything else (NaN included) is cut.
  auto channel = [](float v) { return v >= 0 ? (uint32_t)std::min(v, 255.0f) : 0u; };
  return channel(Red) << 16 | channel(Green) << 8 | channel(Blue);
}

// Cuts the segment A-B to the rectangle [X0, X1] x [Y0, Y1]; false when
// nothing of it is inside.
bool ClipSegment(double& Ax, double& Ay, double& Bx, double& By, double X0, double Y0, double X1,
                 double Y1) {
  double t0 = 0, t1 = 1;
  const double dx = Bx - Ax, dy = By - Ay;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {Ax - X0, X1 - Ax, Ay - Y0, Y1 - Ay};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
    if (t0 > t1) return false;
  }
  const double ax = Ax, ay = Ay;
  Ax = ax + t0 * dx;
  Ay = ay + t0 * dy;
  Bx = ax + t1 * dx;
  By = ay + t1 * dy;
  return true;
}

// Line coverage of the pixels: 0 (none) to 255 (on the line). A pixel takes
// the coverage of the nearest line, so crossing and repeated edges never
// darken each other.
class Coverage {
 public:
  Coverage(int32_t Width, int32_t Height)
      : width_(Width), height_(Height), values_((size_t)Width * Height, 0) {}

  // A one-pixel line from A to B in pixel coordinates (pixel (i, j) spans
  // [i, i + 1) x [j, j + 1)): a pixel whose centre lies d from the segment
  // is covered 1 - d.
  void Line(double Ax, double Ay, double Bx, double By) {
    if (!ClipSegment(Ax, Ay, Bx, By, -2, -2, width_ + 2.0, height_ + 2.0)) return;
    // Walk the longer axis; across it every pixel within reach of the line
    // lies less than 1.5 pixels from the line's point at the walked centre.
    const bool steep = std::fabs(By - Ay) > std::fabs(Bx - Ax);
    const double a0 = steep ? Ay : Ax, a1 = steep ? By : Bx;
    const double b0 = steep ? Ax : Ay, b1 = steep ? Bx : By;
    const int32_t limitA = steep ? height_ : width_, limitB = steep ? width_ : height_;
    const int32_t first = std::max((int32_t)std::floor(std::min(a0, a1) - 1), 0);
    const int32_t last = std::min((int32_t)std::floor(std::max(a0, a1) + 1), limitA - 1);
    for (int32_t i = first; i <= last; ++i) {
      const double centre = i + 0.5;
      double t = a1 != a0 ? (centre - a0) / (a1 - a0) : 0.0;
      t = std::clamp(t, 0.0, 1.0);
      const double across = b0 + t * (b1 - b0);
      const int32_t from = std::max((int32_t)std::floor(across - 2), 0);
      const int32_t to = std::min((int32_t)std::floor(across + 1.5), limitB - 1);
      for (int32_t j = from; j <= to; ++j) {
        const double px = steep ? j + 0.5 : centre, py = steep ? centre : j + 0.5;
        const double d = Distance(px, py, Ax, Ay, Bx, By);
        if (d >= 1) continue;
        const auto value = (uint8_t)std::lround((1 - d) * 255);
        uint8_t& slot = values_[(size_t)(steep ? i : j) * width_ + (steep ? j : i)];
        slot = std::max(slot, value);
      }
    }
  }

  uint8_t At(size_t Index) const { return values_[Index]; }

 private:
  static double Distance(double Px, double Py, double Ax, double Ay, double Bx, double By) {
    const double dx = Bx - Ax, dy = By - Ay;
    const double length2 = dx * dx + dy * dy;
    double t = length2 > 0 ? ((Px - Ax) * dx + (Py - Ay) * dy) / length2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(Px - (Ax + t * dx), Py - (Ay + t * dy));
  }

  int32_t width_, height_;
  std::vector<uint8_t> values_;
};

// Draws the edge between texture points (U0, V0) and (U1, V1) and every
// repeat of it that reaches into the template.
void DrawEdge(Coverage& Cover, int32_t Width, int32_t Height, double U0, double V0, double U1,
              double V1) {
  if (!std::isfinite(U0) || !std::isfinite(V0) || !std::isfinite(U1) || !std::isfinite(V1)) return;
  const double uMin = std::min(U0, U1), uMax = std::max(U0, U1);
  const double vMin = std::min(V0, V1), vMax = std::max(V0, V1);
  if (uMax - uMin > kMaxRepeats || vMax - vMin > kMaxRepeats) return;
  if (std::fabs(uMin) > 1e6 || std::fabs(vMin) > 1e6) return;
  // Repeat k moves the edge by -k; it touches the template (with the line's
  // one-pixel reach) for k from ceil(min - 1 - reach) to floor(max + reach).
  const double reachU = 1.0 / Width, reachV = 1.0 / Height;
  const auto kFirst = (int64_t)std::ceil(uMin - 1 - reachU), kLast = (int64_t)std::floor(uMax + reachU);
  const auto lFirst = (int64_t)std::ceil(vMin - 1 - reachV), lLast = (int64_t)std::floor(vMax + reachV);
  for (int64_t k = kFirst; k <= kLast; ++k)
    for (int64_t l = lFirst; l <= lLast; ++l)
      Cover.Line((U0 - k) * Width, (V0 - l) * Height, (U1 - k) * Width, (V1 - l) * Height);
}

}  // namespace

uint32_t SkinTemplateLineColor(const uint32_t* Pixels, size_t Count) {
  static const uint32_t candidates[] = {0xFF00FF, 0x00FF00, 0x00FFFF, 0xFFFF00,
                                        0xFF0000, 0x0000FF, 0x000000, 0xFFFFFF};
  if (Count == 0) return candidates[0];
  // A large skin is judged on about 65,536 evenly spread pixels. A colour's
  // contrast is the distance that 95 % of them keep from it, so that a few
  // stray pixels of its own colour do not rule it out.
  const size_t step = std::max<size_t>(1, Count / 65536);
  std::vector<int32_t> distances;
  uint32_t best = candidates[0];
  int32_t bestContrast = -1;
  for (uint32_t c : candidates) {
    distances.clear();
    for (size_t i = 0; i < Count; i += step) {
      const int32_t dr = (int32_t)((Pixels[i] >> 16) & 0xFF) - (int32_t)(c >> 16);
      const int32_t dg = (int32_t)((Pixels[i] >> 8) & 0xFF) - (int32_t)((c >> 8) & 0xFF);
      const int32_t db = (int32_t)(Pixels[i] & 0xFF) - (int32_t)(c & 0xFF);
      distances.push_back(dr * dr + dg * dg + db * db);
    }
    auto at = distances.begin() + (std::ptrdiff_t)(distances.size() / 20);
    std::nth_element(distances.begin(), at, distances.end());
    if (*at > bestContrast) {
      best = c;
      bestContrast = *at;
    }
  }
  return best;
}

cvBitmap* MakeSkinTemplate(const cvBody* Body, int32_t Material, const SkinTemplateOptions& Options,
                           std::string* Reason) {
  if (!cvBody_IsValid(Body)) return FailNull(Reason, "no valid body");
  if (Material < 0 || Material >= cvBody_GetMaterialCount(Body))
    return FailNull(Reason, "the body has no such material");
  cvBitmap* skin = nullptr;
  float red = 0, green = 0, blue = 0;
  cvBody_GetMaterial(Body, Material, nullptr, &skin, &red, &green, &blue);

  int32_t width = Options.Width, height = Options.Height;
  if (width == 0 || height == 0) {
    cvBitmap_Info info{};
    const bool sized = skin && cvBitmap_GetInfo(skin, &info, nullptr);
    if (width == 0) width = sized ? info.Width : 256;
    if (height == 0) height = sized ? info.Height : 256;
  }
  if (width <= 0 || height <= 0 || width > SKIN_TEMPLATE_MAX_SIDE || height > SKIN_TEMPLATE_MAX_SIDE)
    return FailNull(Reason, "the template size must be 1 to 8192 pixels a side");

  std::vector<uint32_t> pixels;
  if (skin) {
    if (!ScaleSkin(skin, width, height, &pixels, Reason)) return nullptr;
  } else {
    pixels.assign((size_t)width * height, ColourOf(red, green, blue));
  }

  // The outlines: every edge of the material's faces once.
  std::vector<std::pair<uint16_t, uint16_t>> edges;
  const cvBodyLevel& level = Body->Levels[0];
  for (int32_t f = 0; f < level.FaceCount; ++f) {
    const cvBodyFace& face = level.Faces[f];
    if (face.MaterialIndex != Material) continue;
    for (int c = 0; c < 3; ++c) {
      uint16_t a = face.VertexIndex[c], b = face.VertexIndex[(c + 1) % 3];
      if (a >= Body->VertexCount || b >= Body->VertexCount) continue;
      edges.emplace_back(std::min(a, b), std::max(a, b));
    }
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  Coverage cover(width, height);
  for (const auto& [a, b] : edges) {
    const cvBodyVertex& p = Body->Vertices[a];
    const cvBodyVertex& q = Body->Vertices[b];
    DrawEdge(cover, width, height, p.U, p.V, q.U, q.V);
  }

  const uint32_t line =
      Options.LineColorGiven
          ? (uint32_t)Options.LineRed << 16 | (uint32_t)Options.LineGreen << 8 | Options.LineBlue
          : SkinTemplateLineColor(pixels.data(), pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i) {
    const uint32_t a = cover.At(i);
    if (a == 0) continue;
    auto mix = [a](uint32_t Under, uint32_t Over) { return (Under * (255 - a) + Over * a + 127) / 255; };
    const uint32_t p = pixels[i];
    pixels[i] = mix((p >> 16) & 0xFF, (line >> 16) & 0xFF) << 16 |
                mix((p >> 8) & 0xFF, (line >> 8) & 0xFF) << 8 | mix(p & 0xFF, line & 0xFF);
  }

  cvBitmap* result = cvBitmap_Create(width, height, 1, CV_PIXELFORMAT_32BIT_XRGB);
  uint8_t* bits = result ? cvBitmap_AllocateMip(result, 0) : nullptr;
  if (!bits) {
    if (result) cvBitmap_Destroy(&result);
    return FailNull(Reason, "out of memory");
  }
  for (size_t i = 0; i < pixels.size(); ++i) cvLE_Put32(bits + 4 * i, pixels[i]);
  cvBitmap_SetMipValid(result, 0, 1);
  return result;
}
