// The engine object: creation and destruction, driver enumeration and
// loading, the texture format table, attaching bitmaps to the driver, and
// the worlds the engine renders.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "Bitmap/cvbitmap.h"
#include "Engine/cvengcore.h"
#include "Engine/engine_internal.h"
#include "Engine/enginefont.h"
#include "Engine/enginepool.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "World/cvworld.h"
#include "platform/clock.h"
#include "platform/module.h"

namespace {

// The driver modules looked for, in this order.
const char* const kDriverModules[] = {"GlideRnd.so", "D3DRnd.so", "SoftRnd.so", "SoftRnd2.so"};

void copyString(char* dst, size_t size, const char* src) {
  std::snprintf(dst, size, "%s", src ? src : "");
}

// A name a driver hands over: non-empty and shorter than the name fields.
bool goodName(const char* name) {
  return name && *name && strnlen(name, CV_ENGINE_NAME_SIZE) < (size_t)CV_ENGINE_NAME_SIZE;
}

struct EnumContext {
  cvEngine* Engine;
  cvDriver_Table* Table;
};

int modeCallback(int32_t Id, const char* Name, int32_t Width, int32_t Height, void* Context) {
  auto* ctx = static_cast<EnumContext*>(Context);
  cvDriver_Record* driver = ctx->Engine->EnumDriver;
  if (!goodName(Name)) return 1;
  if (driver->NumModes + 1 >= CV_ENGINE_MAX_MODES) return 0;
  cvDriver_Mode& mode = driver->Modes[driver->NumModes++];
  mode.Id = Id;
  copyString(mode.Name, sizeof(mode.Name), Name);
  mode.Width = Width;
  mode.Height = Height;
  return 1;
}

int deviceCallback(int32_t Id, const char* Name, void* Context) {
  auto* ctx = static_cast<EnumContext*>(Context);
  cvEngine* e = ctx->Engine;
  if (!goodName(Name)) return 1;
  if (e->NumDrivers + 1 >= CV_ENGINE_MAX_DRIVERS) return 0;
  cvDriver_Record* driver = &e->Drivers[e->NumDrivers];
  std::memset(driver, 0, sizeof(*driver));
  driver->Id = Id;
  copyString(driver->Name, sizeof(driver->Name), Name);
  copyString(driver->FileName, sizeof(driver->FileName), e->EnumModuleName);
  e->EnumDriver = driver;
  if (ctx->Table->EnumModes && ctx->Table->EnumModes(Id, driver->Name, modeCallback, ctx))
    ++e->NumDrivers;
  else
    std::memset(driver, 0, sizeof(*driver));
  return 1;
}

bool versionOk(const cvDriver_Table* table) {
  return table && table->VersionMajor == CV_DRIVER_VERSION_MAJOR &&
         table->VersionMinor == CV_DRIVER_VERSION_MINOR;
}

// Enumerates one module; true when it offered its devices.
bool enumerateModule(cvEngine* e, const char* fileName) {
  const std::string path = cvEngine_ModulePath(e, fileName);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;  // not installed: nothing to say
  void* module = cvplatform::ModuleOpen(path.c_str());
  if (!module) {
    CV_ERROR_CTX(-1, fileName);
    return false;
  }
  bool ok = false;
  auto hook = reinterpret_cast<cvDriver_HookFn>(cvplatform::ModuleSymbol(module, "DriverHook"));
  cvDriver_Table* table = nullptr;
  if (!hook || !hook(&table) || !versionOk(table)) {
    CV_ERROR_CTX(-1, fileName);
  } else if (table->EnumSubDrivers) {
    copyString(e->EnumModuleName, sizeof(e->EnumModuleName), fileName);
    EnumContext ctx{e, table};
    ok = table->EnumSubDrivers(deviceCallback, &ctx) != 0;
    e->EnumModuleName[0] = '\0';
    e->EnumDriver = nullptr;
  }
  cvplatform::ModuleClose(module);
  return ok;
}

void enumerateDrivers(cvEngine* e) {
  struct stat st;
  const std::string dir = cvplatform::ResolveProgramRelative(e->DriverDirectory);
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    // No drivers can be offered; the engine still comes up without any.
    CV_ERROR_CTX(-1, e->DriverDirectory);
    return;
  }
  bool glideFound = false;
  for (const char* name : kDriverModules) {
    if (std::strcmp(name, "D3DRnd.so") == 0 && glideFound) continue;
    const bool ok = enumerateModule(e, name);
    if (std::strcmp(name, "GlideRnd.so") == 0) glideFound = ok;
  }
}

bool createFont(cvEngine* e) {
  cvVFile_MemoryContext context{const_cast<unsigned char*>(cvEngineFont_Data), cvEngineFont_Size};
  cvVFile* file =
      cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_READONLY);
  if (!file) {
    CV_ERROR(-1);
    return false;
  }
  cvBitmap* font = cvBitmap_CreateFromFile(file);
  cvVFile_Close(file);
  if (!font) {
    CV_ERROR(-1);
    return false;
  }
  // Colour key 0 (palette index 0); the font is drawn as 2D decals.
  if (!cvBitmap_SetColorKey(font, 1, 0, 0) || !cvBitmap_SetDriverFlags(font, CV_DRIVER_FORMAT_2D) ||
      !cvBitmapList_Add(e->Bitmaps, font)) {
    cvBitmap_Destroy(&font);
    CV_ERROR(-1);
    return false;
  }
  e->FontBitmap = font;  // the engine's own reference, besides the list's
  uint32_t x = 0, y = 0;
  for (int32_t i = 0; i < 128; ++i) {
    e->FontGlyphs[i] = (x << 16) | y;
    x += CV_ENGINE_FONT_WIDTH;
    if (x >= 1024) {
      x = 0;
      y += CV_ENGINE_FONT_HEIGHT;
    }
  }
  return true;
}

void rebuildActiveWorlds(cvEngine* e) {
  e->NumActiveWorlds = 0;
  for (const cvEngine_WorldSlot& slot : e->Worlds)
    if (slot.RefCount > 0) e->ActiveWorlds[e->NumActiveWorlds++] = slot.World;
  for (int32_t i = e->NumActiveWorlds; i < CV_ENGINE_MAX_WORLDS; ++i) e->ActiveWorlds[i] = nullptr;
}

cvEngine_WorldSlot* findWorld(cvEngine* e, const cvWorld* world) {
  for (cvEngine_WorldSlot& slot : e->Worlds)
    if (slot.RefCount > 0 && slot.World == world) return &slot;
  return nullptr;
}

void releaseEngine(cvEngine* e) {
  cvEngine_RemoveAllWorlds(e);
  if (e->FontBitmap) {
    cvEngine_RemoveBitmap(e, e->FontBitmap);
    cvBitmap_Destroy(&e->FontBitmap);
  }
  if (e->DriverLoaded) cvEngine_ShutdownDriver(e);
  if (e->Bitmaps) cvBitmapList_Destroy(e->Bitmaps);
  cvRam_Free(e->DriverDirectory);
  cvEnginePool_Release();
  cvRam_Free(e);
}

// Which texture format serves each kind: exact flags first, then any shared bit.
void fillTextureKinds(cvEngine* e) {
  cvDriver_PixelFormat formats[CV_ENGINE_MAX_PIXELFORMATS];
  struct Collect {
    cvDriver_PixelFormat* Formats;
    int32_t Count;
  } collect{formats, 0};
  std::memset(e->Kinds, 0, sizeof(e->Kinds));
  if (e->Driver->EnumPixelFormats) {
    e->Driver->EnumPixelFormats(
        [](const cvDriver_PixelFormat* f, void* context) -> int {
          auto* c = static_cast<Collect*>(context);
          if (!f || c->Count >= CV_ENGINE_MAX_PIXELFORMATS) return 0;
          c->Formats[c->Count++] = *f;
          return 1;
        },
        &collect);
  }
  static const uint32_t kWanted[CV_ENGINE_TEXTURE_KINDS] = {
      CV_DRIVER_FORMAT_WORLD3D, CV_DRIVER_FORMAT_LIGHTMAP, CV_DRIVER_FORMAT_3D,
      CV_DRIVER_FORMAT_3D,      CV_DRIVER_FORMAT_2D,       CV_DRIVER_FORMAT_PALETTE,
      CV_DRIVER_FORMAT_ALPHAMAP};
  for (int32_t kind = 0; kind < CV_ENGINE_TEXTURE_KINDS; ++kind) {
    const uint32_t want = kWanted[kind];
    const bool needAlpha = kind == CV_ENGINE_KIND_3DALPHA;
    const cvDriver_PixelFormat* found = nullptr;
    for (int pass = 0; pass < (needAlpha ? 2 : 1) && !found; ++pass) {
      const bool requireAlpha = needAlpha && pass == 0;
      auto eligible = [&](const cvDriver_PixelFormat& f) {
        return !requireAlpha || cvPixelFormat_HasAlpha(f.PixelFormat) ||
               (f.Flags & CV_DRIVER_FORMAT_SEPARATEALPHA);
      };
      for (int32_t i = 0; i < collect.Count && !found; ++i)
        if (eligible(formats[i]) && formats[i].Flags == want) found = &formats[i];
      for (int32_t i = 0; i < collect.Count && !found; ++i)
        if (eligible(formats[i]) && (formats[i].Flags & want)) found = &formats[i];
    }
    if (found) {
      e->Kinds[kind].Available = 1;
      e->Kinds[kind].Format = *found;
    }
  }
}

}  // namespace

std::string cvEngine_ModulePath(const cvEngine* Engine, const char* FileName) {
  std::string dir = cvplatform::ResolveProgramRelative(Engine->DriverDirectory);
  const char last = dir.empty() ? '\0' : dir.back();
  if (!dir.empty() && last != '/' && last != '\\' && last != ':') dir += '/';
  return dir + FileName;
}

cvEngine* cvEngine_Create(void* Window, const char* AppName, const char* DriverDirectory,
                          int32_t Version) {
  if (((uint32_t)Version >> 16) != 1) {
    CV_ERROR(-1);
    return nullptr;
  }
  if (Version != CV_ENGINE_VERSION) {
    char context[64];
    std::snprintf(context, sizeof(context), "%d - %d", Version, (int)CV_ENGINE_VERSION);
    CV_ERROR_CTX(-1, context);
    return nullptr;
  }
  auto* e = static_cast<cvEngine*>(cvRam_AllocateClear(sizeof(cvEngine)));
  if (!e) {
    CV_ERROR(52);
    return nullptr;
  }
  if (!cvEnginePool_Acquire()) {
    cvRam_Free(e);
    CV_ERROR(52);
    return nullptr;
  }
  const char* dir = DriverDirectory ? DriverDirectory : ".";
  e->DriverDirectory = static_cast<char*>(cvRam_Allocate(std::strlen(dir) + 1));
  if (!e->DriverDirectory) {
    releaseEngine(e);
    CV_ERROR(52);
    return nullptr;
  }
  std::memcpy(e->DriverDirectory, dir, std::strlen(dir) + 1);
  e->Window = Window;
  copyString(e->AppName, sizeof(e->AppName), AppName);

  const int64_t frequency = cvplatform::PerformanceFrequency();
  e->Frequency = (uint32_t)frequency;
  if (e->Frequency == 0) {
    releaseEngine(e);
    CV_ERROR(13);
    return nullptr;
  }
  for (int32_t i = 0; i < CV_ENGINE_WAVE_COUNT; ++i) e->WaveTable[i] = (uint16_t)((65 * i) % 200 + 50);

  enumerateDrivers(e);
  e->Bitmaps = cvBitmapList_Create();
  if (!e->Bitmaps) {
    releaseEngine(e);
    CV_ERROR(-1);
    return nullptr;
  }
  for (int32_t l = 0; l < 64; ++l)
    for (int32_t v = 0; v < 256; ++v) {
      const double s = (double)v * l * 0.016129032;
      e->LightScale[l][v] = (uint8_t)(s > 255.0 ? 255 : (int)s);
    }
  if (!createFont(e)) {
    releaseEngine(e);
    CV_ERROR(-1);
    return nullptr;
  }
  e->DriverChanged = 1;
  e->FrameRateCounter = 1;
  e->Gamma = 1.0f;
  e->BitmapGamma = 1.0f;
  return e;
}

void cvEngine_Destroy(cvEngine* Engine) {
  if (Engine) releaseEngine(Engine);
}

// --- Drivers and modes --------------------------------------------------------

cvDriver_Record* cvDriver_GetNextDriver(cvEngine* Engine, cvDriver_Record* Prev) {
  if (!Engine) return nullptr;
  const int32_t next = Prev ? (int32_t)(Prev - Engine->Drivers) + 1 : 0;
  if (next < 0 || next >= Engine->NumDrivers) return nullptr;
  return &Engine->Drivers[next];
}

cvDriver_Mode* cvDriver_GetNextMode(cvDriver_Record* Driver, cvDriver_Mode* Prev) {
  if (!Driver) return nullptr;
  const int32_t next = Prev ? (int32_t)(Prev - Driver->Modes) + 1 : 0;
  if (next < 0 || next >= Driver->NumModes) return nullptr;
  return &Driver->Modes[next];
}

int cvDriver_GetName(const cvDriver_Record* Driver, const char** Name) {
  if (!Driver || !Name) return 0;
  *Name = Driver->Name;
  return 1;
}

int cvDriver_GetName(const cvDriver_Mode* Mode, const char** Name) {
  if (!Mode || !Name) return 0;
  *Name = Mode->Name;
  return 1;
}

int cvDriver_ModeGetWidthHeight(const cvDriver_Mode* Mode, int32_t* Width, int32_t* Height) {
  if (!Mode) return 0;
  if (Width) *Width = Mode->Width;
  if (Height) *Height = Mode->Height;
  return 1;
}

cvDriver_Table* cvEngine_GetDriver(const cvEngine* Engine) {
  return Engine && Engine->DriverLoaded ? Engine->Driver : nullptr;
}

namespace {

void unloadModule(cvEngine* e) {
  cvplatform::ModuleClose(e->Module);
  e->Module = nullptr;
  e->Driver = nullptr;
  e->DriverLoaded = 0;
  e->CurrentDriver = nullptr;
  e->CurrentMode = nullptr;
  std::memset(e->Kinds, 0, sizeof(e->Kinds));
}

bool ownsDriverAndMode(const cvEngine* e, const cvDriver_Record* d, const cvDriver_Mode* m) {
  if (!d || !m || d < e->Drivers || d >= e->Drivers + e->NumDrivers) return false;
  return m >= d->Modes && m < d->Modes + d->NumModes;
}

}  // namespace

int cvEngine_SetDriverAndMode(cvEngine* Engine, cvDriver_Record* Driver, cvDriver_Mode* Mode) {
  if (!Engine) {
    CV_ERROR(-1);
    return 0;
  }
  if (!cvEngine_ShutdownDriver(Engine)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Engine->DriverLoaded) {
    CV_ERROR(3);
    return 0;
  }
  if (!ownsDriverAndMode(Engine, Driver, Mode)) {
    CV_ERROR(-1);
    return 0;
  }
  Engine->CurrentDriver = Driver;
  Engine->CurrentMode = Mode;
  const std::string path = cvEngine_ModulePath(Engine, Driver->FileName);
  Engine->Module = cvplatform::ModuleOpen(path.c_str());
  if (!Engine->Module) {
    unloadModule(Engine);
    CV_ERROR_CTX(4, Driver->FileName);
    return 0;
  }
  auto hook =
      reinterpret_cast<cvDriver_HookFn>(cvplatform::ModuleSymbol(Engine->Module, "DriverHook"));
  cvDriver_Table* table = nullptr;
  if (!hook || !hook(&table) || !versionOk(table)) {
    unloadModule(Engine);
    CV_ERROR_CTX(6, Driver->FileName);
    return 0;
  }
  Engine->Driver = table;
  // The world renderer's light-map set-up and render information block; this
  // engine's world renderer hands the driver none.
  table->EngineLightmapSetup = nullptr;
  table->EngineRenderInfo = nullptr;

  cvDriver_Info info;
  std::memset(&info, 0, sizeof(info));
  copyString(info.AppName, sizeof(info.AppName), Engine->AppName);
  info.DriverId = Driver->Id;
  copyString(info.DriverName, sizeof(info.DriverName), Driver->Name);
  info.ModeId = Mode->Id;
  copyString(info.ModeName, sizeof(info.ModeName), Mode->Name);
  info.ModeWidth = Mode->Width;
  info.ModeHeight = Mode->Height;
  info.Window = Engine->Window;
  if (!table->Init || !table->Init(&info)) {
    unloadModule(Engine);
    CV_ERROR(2);
    CV_ERROR(-1);
    return 0;
  }
  Engine->DriverLoaded = 1;
  fillTextureKinds(Engine);
  Engine->DriverChanged = 1;

  for (int32_t i = 0; i < Engine->NumActiveWorlds; ++i)
    cvWorld_SetChanged(Engine->ActiveWorlds[i], 1);
  // Bitmaps are attached at the next begin-frame; the gamma to attach them
  // with is settled now.
  Engine->BitmapGamma = 1.0f;
  cvEngine_ApplyGamma(Engine);
  if (table->SetParameters) table->SetParameters(Engine->DriverParams);
  // A logo that fails never costs the program its driver: its error-log
  // entries stay, and the next frame re-attaches everything it may have left
  // half done.
  if (!cvLogo_Show(Engine, Mode)) Engine->DriverChanged = 1;
  return 1;
}

int cvEngine_ShutdownDriver(cvEngine* Engine) {
  if (!Engine) {
    CV_ERROR(-1);
    return 0;
  }
  if (!Engine->DriverLoaded) return 1;
  if (!cvEngine_DetachAll(Engine)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Engine->Driver->Shutdown) Engine->Driver->Shutdown();
  unloadModule(Engine);
  Engine->DriverChanged = 1;
  return 1;
}

// --- Attaching textures -----------------------------------------------------------

int cvEngine_DetachAll(cvEngine* Engine) {
  int ok = cvBitmapList_DetachFromDriver(Engine->Bitmaps);
  for (int32_t i = 0; i < Engine->NumActiveWorlds; ++i)
    if (!cvWorld_DetachAllBitmaps(Engine->ActiveWorlds[i])) ok = 0;
  cvDriver_Table* d = Engine->Driver;
  if (d && Engine->DriverLoaded) {
    if (d->Reset && !d->Reset()) ok = 0;
    if (d->SetParameters) d->SetParameters(Engine->DriverParams);
  }
  if (!ok) CV_ERROR(-1);
  return ok;
}

int cvEngine_AttachAll(cvEngine* Engine) {
  int ok = cvBitmapList_AttachToDriver(Engine->Bitmaps, Engine->Driver, Engine->BitmapGamma);
  for (int32_t i = 0; i < Engine->NumActiveWorlds; ++i)
    if (!cvWorld_AttachAllBitmaps(Engine->ActiveWorlds[i], Engine->Driver)) ok = 0;
  if (!ok) CV_ERROR(-1);
  return ok;
}

void* cvEngine_CreateKindTexture(cvEngine* Engine, int32_t Kind, int32_t Width, int32_t Height,
                                 int32_t MipCount) {
  cvDriver_Table* d = cvEngine_GetDriver(Engine);
  if (!d || Kind < 0 || Kind >= CV_ENGINE_TEXTURE_KINDS || !Engine->Kinds[Kind].Available ||
      !d->CreateTexture) {
    CV_ERROR(-1);
    return nullptr;
  }
  const cvDriver_PixelFormat format = Engine->Kinds[Kind].Format;
  void* texture = d->CreateTexture(Width, Height, MipCount, &format);
  if (!texture) {
    CV_ERROR(-1);
    return nullptr;
  }
  auto attach = [&](int32_t kind, int32_t w, int32_t h,
                    int (*setFn)(void*, void*)) -> bool {
    void* extra = Engine->Kinds[kind].Available && setFn
                      ? d->CreateTexture(w, h, 1, &Engine->Kinds[kind].Format)
                      : nullptr;
    if (!extra) return false;
    if (!setFn(texture, extra)) {
      d->DestroyTexture(extra);
      return false;
    }
    return true;
  };
  if (cvPixelFormat_HasPalette(format.PixelFormat) &&
      !attach(CV_ENGINE_KIND_PALETTE, 256, 1, d->SetPalette)) {
    d->DestroyTexture(texture);
    CV_ERROR(-1);
    return nullptr;
  }
  if ((format.Flags & CV_DRIVER_FORMAT_SEPARATEALPHA) &&
      !attach(CV_ENGINE_KIND_ALPHAMAP, Width, Height, d->SetAlpha)) {
    d->DestroyTexture(texture);
    CV_ERROR(-1);
    return nullptr;
  }
  return texture;
}

// --- Worlds -------------------------------------------------------------------

int cvEngine_AddWorld(cvEngine* Engine, cvWorld* World) {
  if (!Engine || !World) {
    CV_ERROR(-1);
    return 0;
  }
  if (cvEngine_WorldSlot* slot = findWorld(Engine, World)) {
    ++slot->RefCount;
    return 1;
  }
  cvEngine_WorldSlot* free = nullptr;
  for (cvEngine_WorldSlot& slot : Engine->Worlds)
    if (slot.RefCount == 0) {
      free = &slot;
      break;
    }
  if (!free) {
    CV_ERROR(-1);
    return 0;
  }
  free->World = World;
  free->RefCount = 1;
  rebuildActiveWorlds(Engine);
  Engine->DriverChanged = 1;
  cvWorld_AddRef(World);
  cvWorld_SetChanged(World, 1);
  cvWorld_SetEngine(World, Engine);
  return 1;
}

int cvEngine_RemoveWorld(cvEngine* Engine, cvWorld* World) {
  cvEngine_WorldSlot* slot = Engine && World ? findWorld(Engine, World) : nullptr;
  if (!slot) {
    CV_ERROR(-1);
    return 0;
  }
  if (--slot->RefCount > 0) return 1;
  if (Engine->DriverLoaded) cvWorld_DetachAllBitmaps(World);
  slot->World = nullptr;
  slot->RefCount = 0;
  rebuildActiveWorlds(Engine);
  Engine->DriverChanged = 1;
  cvWorld_SetEngine(World, nullptr);
  cvWorld_Free(World);  // the engine's reference
  return 1;
}

int cvEngine_RemoveAllWorlds(cvEngine* Engine) {
  if (!Engine) {
    CV_ERROR(-1);
    return 0;
  }
  for (cvEngine_WorldSlot& slot : Engine->Worlds)
    while (slot.RefCount > 0) cvEngine_RemoveWorld(Engine, slot.World);
  return 1;
}

int cvEngine_HasWorld(const cvEngine* Engine, const cvWorld* World) {
  if (!Engine || !World) return 0;
  for (const cvEngine_WorldSlot& slot : Engine->Worlds)
    if (slot.RefCount > 0 && slot.World == World) return 1;
  return 0;
}

// --- Engine bitmaps -------------------------------------------------------------

int cvEngine_AddBitmap(cvEngine* Engine, cvBitmap* Bitmap) {
  if (!Engine || !Bitmap) {
    CV_ERROR(-1);
    return 0;
  }
  if (cvBitmapList_Add(Engine->Bitmaps, Bitmap)) Engine->DriverChanged = 1;
  return cvBitmapList_Has(Engine->Bitmaps, Bitmap);
}

int cvEngine_RemoveBitmap(cvEngine* Engine, cvBitmap* Bitmap) {
  if (!Engine || !Bitmap || !cvBitmapList_Has(Engine->Bitmaps, Bitmap)) {
    CV_ERROR(-1);
    return 0;
  }
  cvBitmapList_Remove(Engine->Bitmaps, Bitmap);
  return 1;
}

// --- Driver forwarding ---------------------------------------------------------

int cvEngine_UpdateWindow(cvEngine* Engine) {
  cvDriver_Table* d = cvEngine_GetDriver(Engine);
  return d && d->UpdateWindow ? d->UpdateWindow() : 1;
}

int cvEngine_Activate(cvEngine* Engine, int32_t Active) {
  cvDriver_Table* d = cvEngine_GetDriver(Engine);
  return d && d->SetActive ? d->SetActive(Active) : 1;
}

int cvEngine_DriverCommand(cvEngine* Engine, intptr_t Argument) {
  cvDriver_Table* d = cvEngine_GetDriver(Engine);
  return d && d->UserCommand ? d->UserCommand(Argument) : 1;
}

int cvEngine_SetDriverParameters(cvEngine* Engine, const int32_t Parameters[6]) {
  if (!Engine || !Parameters) {
    CV_ERROR(-1);
    return 0;
  }
  std::memcpy(Engine->DriverParams, Parameters, sizeof(Engine->DriverParams));
  cvDriver_Table* d = cvEngine_GetDriver(Engine);
  if (d && d->SetParameters && !d->SetParameters(Engine->DriverParams)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

// --- Gamma --------------------------------------------------------------------------

int cvEngine_SetGamma(cvEngine* Engine, float Gamma) {
  if (!Engine) {
    CV_ERROR(-1);
    return 0;
  }
  if (Gamma < 0.01f) Gamma = 0.01f;
  const float change = Gamma - Engine->Gamma;
  if (change > -0.01f && change < 0.01f) return 1;
  Engine->Gamma = Gamma;
  return Engine->DriverLoaded ? cvEngine_ApplyGamma(Engine) : 1;
}

int cvEngine_GetGamma(const cvEngine* Engine, float* Gamma) {
  if (!Engine || !Gamma) {
    CV_ERROR(-1);
    return 0;
  }
  *Gamma = Engine->Gamma;
  return 1;
}

int cvEngine_ApplyGamma(cvEngine* Engine) {
  cvDriver_Table* d = cvEngine_GetDriver(Engine);
  float bitmapGamma = Engine->Gamma;
  if (d && d->CapsFlags && (*d->CapsFlags & CV_DRIVER_CAPS_GAMMA) && d->SetGamma &&
      d->SetGamma(Engine->Gamma))
    bitmapGamma = 1.0f;  // the device corrects its output itself
  const float change = bitmapGamma - Engine->BitmapGamma;
  if (change > -0.1f && change < 0.1f) return 1;
  Engine->BitmapGamma = bitmapGamma;
  int ok = cvBitmapList_SetGamma(Engine->Bitmaps, bitmapGamma);
  for (int32_t i = 0; i < Engine->NumActiveWorlds; ++i)
    if (!cvWorld_SetBitmapGamma(Engine->ActiveWorlds[i], bitmapGamma)) ok = 0;
  if (!ok) CV_ERROR(-1);
  return ok;
}
