// The frame cycle: begin-frame (re-attaching textures when the driver or a
// world changed), rendering worlds, end-frame (display strings, statistics,
// frame rate), and the 2D drawing helpers.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"
#include "Engine/engine_internal.h"
#include "Support/cvsupport.h"
#include "World/cvworld.h"
#include "platform/clock.h"

namespace {

// The last 20 frame rates, process-wide.
float g_fpsRing[20];
uint32_t g_fpsWrites = 0;

cvDriver_Rect toDriverRect(const cvRect& r) {
  // Engine rectangles are inclusive; the driver's right and bottom are exclusive.
  return cvDriver_Rect{r.Left, r.Top, r.Right + 1, r.Bottom + 1};
}

bool anyWorldChanged(const cvEngine* e) {
  for (int32_t i = 0; i < e->NumActiveWorlds; ++i)
    if (cvWorld_IsChanged(e->ActiveWorlds[i])) return true;
  return false;
}

bool drawString(cvEngine* e, const cvEngine_String& s) {
  for (int32_t k = 0; s.Text[k]; ++k) {
    const unsigned char c = (unsigned char)s.Text[k];
    // Characters without a glyph (above 127) leave their cell empty.
    if (c > 127) continue;
    const uint32_t glyph = e->FontGlyphs[c];
    cvRect r;
    r.Left = (int32_t)(glyph >> 16);
    r.Right = r.Left + CV_ENGINE_FONT_WIDTH - 1;
    r.Top = (int32_t)(glyph & 0xFFFF);
    r.Bottom = r.Top + CV_ENGINE_FONT_HEIGHT;
    if (!cvEngine_DrawBitmap(e, e->FontBitmap, &r, s.X + CV_ENGINE_FONT_WIDTH * k, s.Y))
      return false;
  }
  return true;
}

void queueStatistics(cvEngine* e, float fps, float average) {
  const int32_t* st = e->Stats;
  cvEngine_Printf(e, 2, 2, "Fps    : %2.2f / %2.2f", fps, average);
  cvEngine_Printf(e, 2, 17, "Polys  : %4i/%4i/%4i", st[CV_ENGINE_STAT_POLYS1],
                  st[CV_ENGINE_STAT_POLYS2], st[CV_ENGINE_STAT_POLYS3]);
  cvEngine_Printf(e, 2, 32, "Mirrors: %3i", st[CV_ENGINE_STAT_MIRRORS]);
  if (e->Driver->CacheStats) {
    const int32_t* c = e->Driver->CacheStats;
    cvEngine_Printf(e, 2, 47, "Cache:  %4i/%4i/%4i/%4i/%4i", c[0], c[1], c[2], c[3], c[4]);
  }
  cvEngine_Printf(e, 2, 62, "Actors : %3i, Models: %3i", st[CV_ENGINE_STAT_ACTORS],
                  st[CV_ENGINE_STAT_MODELS]);
  cvEngine_Printf(e, 2, 77, "DLights: %3i", st[CV_ENGINE_STAT_DLIGHTS]);
  cvEngine_Printf(e, 2, 92, "Fog    : %3i", st[CV_ENGINE_STAT_FOG]);
  cvEngine_Printf(e, 2, 107, "LMap1  : %3i, LMap2  : %3i", st[CV_ENGINE_STAT_LMAP1],
                  st[CV_ENGINE_STAT_LMAP2]);
  if (e->NumActiveWorlds > 0) {
    cvWorld_RenderCounters w;
    std::memset(&w, 0, sizeof(w));
    cvWorld_GetRenderCounters(e->ActiveWorlds[0], &w);
    cvEngine_Printf(e, 2, 122, "Nodes: %3i/%3i, Leafs: %3i/%3i, Userp: %3i/%3i", w.NodesVisited,
                    w.NodesDrawn, w.LeavesVisited, w.LeavesDrawn, w.UserPolysVisited,
                    w.UserPolysDrawn);
    int32_t casts = 0, hits = 0, lookups = 0;
    cvWorld_GetRayCastCounters(&casts, &hits, &lookups);
    // The fourth value is the number of worlds the engine renders from.
    cvEngine_Printf(e, 2, 137, "Cast: %3i/%3i, GetC: %3i: %i", casts, hits, lookups,
                    e->NumActiveWorlds);
    cvWorld_ResetRayCastCounters();
  }
}

void stepWaves(cvEngine* e) {
  for (int32_t i = 0; i < CV_ENGINE_WAVE_COUNT; ++i) {
    int32_t v = e->WaveTable[i] + (e->WaveDir[i] == 1 ? 14 : -14);
    if (v < 50) {
      v += 14;
      e->WaveDir[i] = 1;
    } else if (v > 255) {
      v -= 14;
      e->WaveDir[i] = 0;
    }
    e->WaveTable[i] = (uint16_t)v;
  }
}

}  // namespace

int cvEngine_BeginFrame(cvEngine* Engine, cvCamera* Camera, int32_t ClearScreen) {
  if (!Engine) {
    CV_ERROR(-1);
    return 0;
  }
  Engine->InFrame = 1;
  if (!Engine->DriverLoaded) {
    CV_ERROR(5);
    return 0;
  }
  if (Engine->DriverChanged || anyWorldChanged(Engine)) {
    if (!cvEngine_DetachAll(Engine) || !cvEngine_AttachAll(Engine)) {
      CV_ERROR(-1);
      return 0;
    }
    Engine->DriverChanged = 0;
    for (int32_t i = 0; i < Engine->NumActiveWorlds; ++i)
      cvWorld_SetChanged(Engine->ActiveWorlds[i], 0);
  }
  Engine->FrameStart = cvplatform::PerformanceCounter();
  std::memset(Engine->Stats, 0, sizeof(Engine->Stats));
  cvDriver_Rect rect;
  const cvDriver_Rect* clearRect = nullptr;
  if (Camera) {
    cvRect r;
    cvCamera_GetClippingRect(Camera, &r);
    rect = toDriverRect(r);
    clearRect = &rect;
  }
  if (!Engine->Driver->BeginScene || !Engine->Driver->BeginScene(ClearScreen, 1, clearRect)) {
    CV_ERROR(7);
    return 0;
  }
  return 1;
}

int cvEngine_RenderWorld(cvEngine* Engine, cvWorld* World, cvCamera* Camera, float Time) {
  (void)Time;  // worlds advance their own animation; the time is not used here
  if (!Engine) {
    CV_ERROR(-1);
    return 0;
  }
  if (!World || !Camera) {
    CV_ERROR(19);
    return 0;
  }
  if (!Engine->DriverLoaded) {
    CV_ERROR(5);
    return 0;
  }
  const cvDriver_Mode* mode = Engine->CurrentMode;
  if (mode && mode->Width != -1 && mode->Height != -1) {
    float w, h;
    cvCamera_GetWidthHeight(Camera, &w, &h);
    if (w > (float)mode->Width || h > (float)mode->Height) {
      CV_ERROR(20);
      return 0;
    }
  }
  return cvWorld_Render(Engine, World, Camera);
}

int cvEngine_EndFrame(cvEngine* Engine) {
  if (!Engine) {
    CV_ERROR(-1);
    return 0;
  }
  Engine->InFrame = 0;
  if (!Engine->DriverLoaded) {
    Engine->NumStrings = 0;
    CV_ERROR(5);
    return 0;
  }
  bool drawn = true;
  for (int32_t i = 0; i < Engine->NumStrings && drawn; ++i)
    drawn = drawString(Engine, Engine->Strings[i]);
  Engine->NumStrings = 0;
  if (!drawn) {
    cvEngine_PutString(Engine, 10, 50, "Could not draw font...\n");
    CV_ERROR(-1);
  }
  if (!Engine->Driver->EndScene || !Engine->Driver->EndScene()) {
    CV_ERROR(8);
    return 0;
  }
  const int64_t elapsed = cvplatform::PerformanceCounter() - Engine->FrameStart;
  const float fps = elapsed > 0 ? (float)((double)Engine->Frequency / (double)elapsed) : 100.0f;
  if (Engine->FrameRateCounter) {
    g_fpsRing[g_fpsWrites++ % 20] = fps;
    float sum = 0.0f;
    for (float v : g_fpsRing) sum += v;
    Engine->Stats[CV_ENGINE_STAT_POLYS3] = Engine->Driver->RenderedPolys;
    queueStatistics(Engine, fps, sum * 0.05f);
  }
  stepWaves(Engine);
  return 1;
}

int cvEngine_PutString(cvEngine* Engine, int32_t X, int32_t Y, const char* Text) {
  if (!Engine || !Text || strnlen(Text, CV_ENGINE_STRING_SIZE) >= (size_t)CV_ENGINE_STRING_SIZE ||
      Engine->NumStrings >= CV_ENGINE_MAX_STRINGS) {
    CV_ERROR(-1);
    return 0;
  }
  cvEngine_String& s = Engine->Strings[Engine->NumStrings++];
  s.X = X;
  s.Y = Y;
  std::snprintf(s.Text, sizeof(s.Text), "%s", Text);
  return 1;
}

int cvEngine_Printf(cvEngine* Engine, int32_t X, int32_t Y, const char* Format, ...) {
  if (!Engine || !Format) {
    CV_ERROR(-1);
    return 0;
  }
  char buffer[CV_ENGINE_PRINTF_SIZE];
  va_list args;
  va_start(args, Format);
  std::vsnprintf(buffer, sizeof(buffer), Format, args);
  va_end(args);
  return cvEngine_PutString(Engine, X, Y, buffer);
}

void cvEngine_EnableFrameRateCounter(cvEngine* Engine, int32_t Enable) {
  if (Engine) Engine->FrameRateCounter = Enable ? 1 : 0;
}

int cvEngine_DrawBitmap(cvEngine* Engine, cvBitmap* Bitmap, const cvRect* Rect, int32_t X,
                        int32_t Y) {
  cvDriver_Table* d = cvEngine_GetDriver(Engine);
  void* texture = Bitmap ? cvBitmap_GetDriverHandle(Bitmap) : nullptr;
  if (!d || !texture || !d->DrawDecal) {
    CV_ERROR(-1);
    return 0;
  }
  cvDriver_Rect r;
  if (Rect) r = toDriverRect(*Rect);
  if (!d->DrawDecal(texture, Rect ? &r : nullptr, X, Y)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

int cvEngine_FillRect(cvEngine* Engine, const cvRect* Rect, const cvRGBA* Colour) {
  cvDriver_Table* d = cvEngine_GetDriver(Engine);
  if (!d || !Rect || !Colour || !d->RenderGouraudPoly) {
    CV_ERROR(-1);
    return 0;
  }
  // The outer edges of the rectangle's pixels (pixel centres are whole numbers).
  const float l = (float)Rect->Left - 0.5f, r = (float)Rect->Right + 0.5f;
  const float t = (float)Rect->Top - 0.5f, b = (float)Rect->Bottom + 0.5f;
  cvDriver_Vertex v[4];
  const float xs[4] = {l, r, r, l}, ys[4] = {t, t, b, b};
  for (int i = 0; i < 4; ++i)
    v[i] = cvDriver_Vertex{xs[i], ys[i], 1.0f, 0.0f, 0.0f, Colour->R, Colour->G, Colour->B,
                           Colour->A};
  // A 2D overlay: drawn over the scene, hiding nothing drawn after it.
  uint32_t flags = CV_DRIVER_POLY_NOZTEST | CV_DRIVER_POLY_NOZWRITE;
  if (Colour->A != 255.0f) flags |= CV_DRIVER_POLY_BLEND;
  if (!d->RenderGouraudPoly(v, 4, flags)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}
