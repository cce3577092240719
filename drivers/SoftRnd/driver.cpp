// SoftRnd: the software render driver module. One device ("Software
// rasterizer") with a windowed mode and fixed modes; draws into a frame in
// memory and presents each finished frame through the window record.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <unordered_set>

#include "softrnd.h"

namespace softrnd {
namespace {

constexpr uint32_t TEXTURE_MAGIC = 0x54585253;  // "SRXT"

struct ModeDesc {
  int32_t Id;
  const char* Name;
  int32_t Width, Height;
};

constexpr ModeDesc kModes[] = {
    {0, "Window", -1, -1},  {1, "320x240", 320, 240},   {2, "640x480", 640, 480},
    {3, "800x600", 800, 600}, {4, "1024x768", 1024, 768},
};

constexpr int32_t kDeviceId = 1;
constexpr const char* kDeviceName = "Software rasterizer";

// Formats in the order the engine sees them. Every 3D format carries 0x40000
// so that textures the worlds register find a format.
constexpr uint32_t F3D = CV_DRIVER_FORMAT_2D | CV_DRIVER_FORMAT_3D | CV_DRIVER_FORMAT_WORLD3D;
constexpr cvDriver_PixelFormat kFormats[] = {
    {FMT_XRGB8888, F3D | CV_DRIVER_FORMAT_LIGHTMAP | CV_DRIVER_FORMAT_COLORKEY},
    {FMT_ARGB8888, F3D | CV_DRIVER_FORMAT_COLORKEY},
    {FMT_PAL8, F3D | CV_DRIVER_FORMAT_SEPARATEALPHA | CV_DRIVER_FORMAT_COLORKEY},
    {FMT_ARGB8888, CV_DRIVER_FORMAT_PALETTE},
    {FMT_GRAY8, CV_DRIVER_FORMAT_ALPHAMAP},
};

struct Device {
  bool Open = false;
  bool InScene = false;
  cvWindow* Window = nullptr;
  int32_t FixedWidth = -1, FixedHeight = -1;
  Frame FrameBuffer;
  std::unordered_set<Texture*> Textures;
  int32_t Parameters[6]{};
};

Device g_device;
// Kept apart from the device record, which is reset by assignment: the
// queue owns the worker threads.
SceneQueue g_queue;
const uint32_t g_caps = 0;

Texture* lookup(void* handle) {
  auto* t = static_cast<Texture*>(handle);
  if (!t || !g_device.Textures.count(t) || t->Magic != TEXTURE_MAGIC) return nullptr;
  return t;
}

void destroyAll() {
  for (Texture* t : g_device.Textures) {
    t->Magic = 0;
    delete t;
  }
  g_device.Textures.clear();
}

// Draws what the scene has queued so far: before the frame is shown or
// resized, and before a texture that queued polygons sample changes.
void flushQueue() { g_queue.Flush(g_device.FrameBuffer); }

// The drawing threads: SOFTRND_THREADS when it names 1 .. 16, else one per
// processor.
int threadCount() {
  if (const char* env = std::getenv("SOFTRND_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && n >= 1 && n <= SceneQueue::kMaxThreads) return (int)n;
  }
  return std::clamp((int)std::thread::hardware_concurrency(), 1, SceneQueue::kMaxThreads);
}

void fitFrameToWindow() {
  int32_t w = g_device.FixedWidth, h = g_device.FixedHeight;
  if (w < 0 || h < 0) {
    w = h = 1;
    if (g_device.Window && g_device.Window->GetClientSize)
      g_device.Window->GetClientSize(g_device.Window, &w, &h);
    w = std::clamp(w, 1, MAX_TEXTURE_SIZE);
    h = std::clamp(h, 1, MAX_TEXTURE_SIZE);
  }
  g_device.FrameBuffer.Resize(w, h);
}

// --- Enumeration -------------------------------------------------------------

int enumSubDrivers(cvDriver_EnumDeviceCB callback, void* context) {
  if (!callback) return 0;
  callback(kDeviceId, kDeviceName, context);
  return 1;
}

int enumModes(int32_t deviceId, const char*, cvDriver_EnumModeCB callback, void* context) {
  if (!callback || deviceId != kDeviceId) return 0;
  for (const ModeDesc& m : kModes)
    if (!callback(m.Id, m.Name, m.Width, m.Height, context)) break;
  return 1;
}

int enumPixelFormats(cvDriver_EnumFormatCB callback, void* context) {
  if (!callback) return 0;
  for (const cvDriver_PixelFormat& f : kFormats)
    if (!callback(&f, context)) break;
  return 1;
}

// --- Device ------------------------------------------------------------------

int init(const cvDriver_Info* info) {
  if (!info || !info->Window || g_device.Open) return 0;
  const ModeDesc* mode = nullptr;
  for (const ModeDesc& m : kModes)
    if (m.Id == info->ModeId) mode = &m;
  if (info->DriverId != kDeviceId || !mode) return 0;
  g_device.Window = static_cast<cvWindow*>(info->Window);
  g_device.FixedWidth = mode->Width;
  g_device.FixedHeight = mode->Height;
  g_queue.Discard();
  g_device.FrameBuffer = Frame{};
  g_queue.SetThreads(threadCount());
  fitFrameToWindow();
  g_device.Open = true;
  g_device.InScene = false;
  return 1;
}

int shutdown() {
  g_queue.Discard();
  g_queue.SetThreads(1);
  destroyAll();
  g_device = Device{};
  return 1;
}

int reset() {
  flushQueue();
  destroyAll();
  return 1;
}

int updateWindow() {
  if (g_device.Open) {
    flushQueue();
    fitFrameToWindow();
  }
  return 1;
}

int setActive(int32_t) { return 1; }

// --- Textures ----------------------------------------------------------------

void* createTexture(int32_t width, int32_t height, int32_t mipCount,
                    const cvDriver_PixelFormat* format) {
  if (!format || width < 1 || height < 1 || width > MAX_TEXTURE_SIZE || height > MAX_TEXTURE_SIZE)
    return nullptr;
  const bool offered = std::any_of(std::begin(kFormats), std::end(kFormats),
                                   [&](const cvDriver_PixelFormat& f) {
                                     return f.PixelFormat == format->PixelFormat;
                                   });
  const int bpp = BytesPerPixel(format->PixelFormat);
  if (!offered || bpp == 0) return nullptr;
  auto t = std::make_unique<Texture>();
  t->Magic = TEXTURE_MAGIC;
  t->Width = width;
  t->Height = height;
  t->MipCount = std::clamp(mipCount, 1, MAX_MIPS);
  t->Format = *format;
  t->Bpp = bpp;
  for (int32_t m = 0; m < t->MipCount; ++m) {
    t->LevelWidth[m] = std::max(1, width >> m);
    t->LevelHeight[m] = std::max(1, height >> m);
    t->Pitch[m] = t->LevelWidth[m] * bpp;
    t->Levels[m].assign((size_t)t->Pitch[m] * t->LevelHeight[m], 0);
  }
  Texture* raw = t.release();
  g_device.Textures.insert(raw);
  return raw;
}

int destroyTexture(void* handle) {
  if (!handle) return 1;
  Texture* t = lookup(handle);
  if (!t) return 0;
  flushQueue();
  // Textures that use this one as palette or alpha lose it.
  for (Texture* other : g_device.Textures) {
    if (other->Palette == t) other->Palette = nullptr;
    if (other->Alpha == t) other->Alpha = nullptr;
  }
  g_device.Textures.erase(t);
  t->Magic = 0;
  delete t;
  return 1;
}

int getTextureInfo(void* handle, cvDriver_TextureInfo* info) {
  Texture* t = lookup(handle);
  if (!t || !info) return 0;
  info->Width = t->Width;
  info->Height = t->Height;
  info->MipCount = t->MipCount;
  info->Format = t->Format;
  info->Palette = t->Palette;
  info->Alpha = t->Alpha;
  return 1;
}

void* lockTexture(void* handle, int32_t mip, int32_t* pitch) {
  Texture* t = lookup(handle);
  if (!t || mip < 0 || mip >= t->MipCount || (t->LockedMask & (1u << mip))) return nullptr;
  flushQueue();
  t->LockedMask |= 1u << mip;
  if (pitch) *pitch = t->Pitch[mip];
  return t->Levels[mip].data();
}

int unlockTexture(void* handle, int32_t mip) {
  Texture* t = lookup(handle);
  if (!t || mip < 0 || mip >= t->MipCount || !(t->LockedMask & (1u << mip))) return 0;
  t->LockedMask &= ~(1u << mip);
  ++t->Version;
  return 1;
}

int setPalette(void* handle, void* paletteHandle) {
  Texture* t = lookup(handle);
  Texture* p = paletteHandle ? lookup(paletteHandle) : nullptr;
  if (!t || (paletteHandle && !p)) return 0;
  flushQueue();
  t->Palette = p;
  ++t->Version;
  return 1;
}

int setAlpha(void* handle, void* alphaHandle) {
  Texture* t = lookup(handle);
  Texture* a = alphaHandle ? lookup(alphaHandle) : nullptr;
  if (!t || (alphaHandle && !a)) return 0;
  flushQueue();
  t->Alpha = a;
  ++t->Version;
  return 1;
}

int setColorKey(void* handle, int32_t hasKey, uint32_t key) {
  Texture* t = lookup(handle);
  if (!t) return 0;
  flushQueue();
  t->HasKey = hasKey ? 1 : 0;
  t->Key = key;
  ++t->Version;
  return 1;
}

// --- Scene -------------------------------------------------------------------

cvDriver_Table g_table;  // declared before use by the scene operations

int beginScene(int32_t clearScreen, int32_t clearZ, const cvDriver_Rect* rect) {
  if (!g_device.Open || g_device.InScene) return 0;
  fitFrameToWindow();
  Frame& f = g_device.FrameBuffer;
  int32_t l = 0, t = 0, r = f.Width, b = f.Height;
  if (rect) {
    l = std::clamp(rect->Left, 0, f.Width);
    t = std::clamp(rect->Top, 0, f.Height);
    r = std::clamp(rect->Right, l, f.Width);
    b = std::clamp(rect->Bottom, t, f.Height);
  }
  g_queue.Clear(f, l, t, r, b, clearScreen != 0, clearZ != 0);
  g_table.RenderedPolys = 0;
  g_device.InScene = true;
  return 1;
}

int endScene() {
  if (!g_device.Open || !g_device.InScene) return 0;
  g_device.InScene = false;
  flushQueue();
  const Frame& f = g_device.FrameBuffer;
  if (g_device.Window && g_device.Window->Present)
    g_device.Window->Present(g_device.Window, f.Color.data(), f.Width, f.Height, f.Width * 4,
                             CV_WINDOW_FRAME_XRGB8888);
  return 1;
}

int sceneBracket() { return g_device.Open ? 1 : 0; }

int renderGouraudPoly(const cvDriver_Vertex* vertices, int32_t count, uint32_t flags) {
  if (!g_device.InScene || !vertices || count < 3) return 0;
  g_queue.Polygon(g_device.FrameBuffer, vertices, count, nullptr, flags);
  ++g_table.RenderedPolys;
  return 1;
}

int renderTexturedPoly(const cvDriver_Vertex* vertices, int32_t count, void* handle,
                       uint32_t flags) {
  Texture* t = lookup(handle);
  if (!g_device.InScene || !vertices || count < 3 || !t || t->LockedMask) return 0;
  g_queue.Polygon(g_device.FrameBuffer, vertices, count, t, flags);
  ++g_table.RenderedPolys;
  return 1;
}

int drawDecal(void* handle, const cvDriver_Rect* rect, int32_t x, int32_t y) {
  Texture* t = lookup(handle);
  if (!g_device.InScene || !t || t->LockedMask) return 0;
  cvDriver_Rect r = rect ? *rect : cvDriver_Rect{0, 0, t->Width, t->Height};
  g_queue.Decal(g_device.FrameBuffer, t, r.Left, r.Top, r.Right, r.Bottom, x, y);
  return 1;
}

int setGamma(float) { return 0; }  // bitmaps carry the gamma correction

int setParameters(const int32_t parameters[6]) {
  if (!parameters) return 0;
  std::memcpy(g_device.Parameters, parameters, sizeof(g_device.Parameters));
  return 1;
}

cvDriver_Table makeTable() {
  cvDriver_Table t{};
  t.Size = sizeof(cvDriver_Table);
  t.VersionMajor = CV_DRIVER_VERSION_MAJOR;
  t.VersionMinor = CV_DRIVER_VERSION_MINOR;
  t.Description = "SoftRnd software rasterizer";
  t.EnumSubDrivers = enumSubDrivers;
  t.EnumModes = enumModes;
  t.EnumPixelFormats = enumPixelFormats;
  t.Init = init;
  t.Shutdown = shutdown;
  t.Reset = reset;
  t.UpdateWindow = updateWindow;
  t.SetActive = setActive;
  t.CreateTexture = createTexture;
  t.DestroyTexture = destroyTexture;
  t.GetTextureInfo = getTextureInfo;
  t.LockTexture = lockTexture;
  t.SetPalette = setPalette;
  t.UnlockTexture = unlockTexture;
  t.SetAlpha = setAlpha;
  t.SetColorKey = setColorKey;
  t.BeginScene = beginScene;
  t.EndScene = endScene;
  t.BeginLevel = sceneBracket;
  t.EndLevel = sceneBracket;
  t.BeginWorld = sceneBracket;
  t.EndWorld = sceneBracket;
  t.BeginSky = sceneBracket;
  t.EndSky = sceneBracket;
  t.RenderGouraudPoly = renderGouraudPoly;
  t.RenderLightmapPoly = nullptr;  // no levels with light maps in this program
  t.RenderTexturedPoly = renderTexturedPoly;
  t.DrawDecal = drawDecal;
  t.SetGamma = setGamma;
  t.SetParameters = setParameters;
  t.CapsFlags = &g_caps;
  return t;
}

}  // namespace
}  // namespace softrnd

extern "C" __attribute__((visibility("default"))) int DriverHook(cvDriver_Table** table) {
  if (!table) return 0;
  // The engine may have filled its two fields in an earlier load; a fresh
  // table each time the module is asked keeps them its own business.
  softrnd::g_table = softrnd::makeTable();
  *table = &softrnd::g_table;
  return 1;
}
