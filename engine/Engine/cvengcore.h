// Engine core: the engine object (driver enumeration and loading, the frame
// cycle, statistics and on-screen text), the camera, and the engine bitmap
// list. Render drivers are separate modules reached through the operation
// table of Driver/cvdriver.h.
//
// Depends on Math (camera transforms), Bitmap (driver textures of bitmaps),
// VFile (the built-in font is read from a memory file) and World (rendering).
#pragma once

#include <cstdint>

#include "Driver/cvdriver.h"
#include "Math/cvmath.h"

typedef struct cvBitmap cvBitmap;
typedef struct cvWorld cvWorld;
typedef struct cvBitmapList cvBitmapList;

// ---------------------------------------------------------------------------
// Limits and constants
// ---------------------------------------------------------------------------

enum : int32_t {
  CV_ENGINE_VERSION = 0x10003,      // the interface version this engine accepts (1.3)
  CV_ENGINE_MAX_DRIVERS = 12,       // driver slots; at most 11 are filled
  CV_ENGINE_MAX_MODES = 32,         // mode slots per driver; at most 31 are filled
  CV_ENGINE_NAME_SIZE = 512,        // driver and mode names, including the terminator
  CV_ENGINE_MODULE_NAME_SIZE = 256,
  CV_ENGINE_MAX_WORLDS = 8,
  CV_ENGINE_MAX_STRINGS = 20,       // display strings queued per frame
  CV_ENGINE_STRING_SIZE = 80,       // at most 79 characters per display string
  CV_ENGINE_APPNAME_SIZE = 200,
  CV_ENGINE_PRINTF_SIZE = 1024,
  CV_ENGINE_WAVE_COUNT = 20,
  CV_ENGINE_FONT_WIDTH = 8,         // glyph cell of the built-in font
  CV_ENGINE_FONT_HEIGHT = 14,
  CV_ENGINE_TEXTURE_KINDS = 7,
  CV_ENGINE_MAX_PIXELFORMATS = 64,  // formats taken from a driver's EnumPixelFormats
};

// Indices of the ten frame statistics counters (zeroed at every begin-frame;
// the world renderer counts into them).
enum : int32_t {
  CV_ENGINE_STAT_POLYS1 = 0,
  CV_ENGINE_STAT_POLYS2,
  CV_ENGINE_STAT_POLYS3,  // the driver's rendered polygon count, copied at end-frame
  CV_ENGINE_STAT_MODELS,
  CV_ENGINE_STAT_MIRRORS,
  CV_ENGINE_STAT_ACTORS,
  CV_ENGINE_STAT_DLIGHTS,
  CV_ENGINE_STAT_FOG,
  CV_ENGINE_STAT_LMAP1,
  CV_ENGINE_STAT_LMAP2,
  CV_ENGINE_STAT_COUNT
};

// Texture kinds of the engine's texture format table, each filled from the
// driver's formats by the flag it asks for.
enum : int32_t {
  CV_ENGINE_KIND_WORLD3D = 0,   // 0x40000
  CV_ENGINE_KIND_LIGHTMAP = 1,  // 0x4 (world textures)
  CV_ENGINE_KIND_3D = 2,        // 0x2
  CV_ENGINE_KIND_3DALPHA = 3,   // 0x2 with alpha
  CV_ENGINE_KIND_2D = 4,        // 0x1
  CV_ENGINE_KIND_PALETTE = 5,   // 0x8
  CV_ENGINE_KIND_ALPHAMAP = 6,  // 0x10
};

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// Screen rectangle inside the engine: Left, Right, Top, Bottom (inclusive
// pixels). Reordered to the driver's Left, Top, Right, Bottom when passed on.
typedef struct cvRect {
  int32_t Left, Right, Top, Bottom;
} cvRect;

// A colour with channels 0..255.
typedef struct cvRGBA {
  float R, G, B, A;
} cvRGBA;

typedef struct cvDriver_Mode {
  int32_t Id;
  char Name[CV_ENGINE_NAME_SIZE];
  int32_t Width;   // -1: any size (the windowed mode)
  int32_t Height;
} cvDriver_Mode;

typedef struct cvDriver_Record {
  int32_t Id;
  char Name[CV_ENGINE_NAME_SIZE];
  char FileName[CV_ENGINE_MODULE_NAME_SIZE];  // the module file, e.g. "SoftRnd.so"
  cvDriver_Mode Modes[CV_ENGINE_MAX_MODES];
  int32_t NumModes;
} cvDriver_Record;

typedef struct cvEngine_String {
  int32_t X, Y;
  char Text[CV_ENGINE_STRING_SIZE];
} cvEngine_String;

typedef struct cvEngine_WorldSlot {
  cvWorld* World;
  int32_t RefCount;
} cvEngine_WorldSlot;

typedef struct cvEngine_TextureKind {
  int32_t Available;
  cvDriver_PixelFormat Format;
} cvEngine_TextureKind;

// The engine object: one per window. Created zero-filled by cvEngine_Create.
// Fields other modules read: Driver (the loaded driver's table or null),
// Stats (counted by the world renderer), WaveTable/WaveDir, LightScale.
typedef struct cvEngine {
  cvDriver_Record Drivers[CV_ENGINE_MAX_DRIVERS];
  int32_t NumDrivers;
  // Used only while drivers are enumerated.
  char EnumModuleName[CV_ENGINE_MODULE_NAME_SIZE];
  cvDriver_Record* EnumDriver;

  int32_t DriverLoaded;
  void* Module;                    // the loaded module's handle
  cvDriver_Record* CurrentDriver;
  cvDriver_Mode* CurrentMode;
  cvDriver_Table* Driver;          // null when no driver is loaded

  uint32_t Frequency;              // performance counts per second (low 32 bits)
  int32_t Stats[CV_ENGINE_STAT_COUNT];
  int64_t FrameStart;

  cvBitmap* FontBitmap;
  uint32_t FontGlyphs[256];        // x << 16 | y of each glyph; 0..127 filled

  cvEngine_String Strings[CV_ENGINE_MAX_STRINGS];
  int32_t NumStrings;

  void* Window;                    // the window record (platform/window.h)
  char AppName[CV_ENGINE_APPNAME_SIZE];

  uint16_t WaveTable[CV_ENGINE_WAVE_COUNT];
  uint16_t WaveDir[CV_ENGINE_WAVE_COUNT];  // 1: moving up

  cvEngine_WorldSlot Worlds[CV_ENGINE_MAX_WORLDS];
  int32_t NumActiveWorlds;
  cvWorld* ActiveWorlds[CV_ENGINE_MAX_WORLDS];  // in slot order

  uint8_t LightScale[64][256];     // min(V * L / 62, 255)

  int32_t DriverChanged;           // everything is re-attached at the next begin-frame
  int32_t FrameRateCounter;

  char* DriverDirectory;
  cvBitmapList* Bitmaps;           // the engine's own bitmaps (font, decals)
  cvEngine_TextureKind Kinds[CV_ENGINE_TEXTURE_KINDS];

  float Gamma;
  float BitmapGamma;               // the gamma last applied to bitmaps
  int32_t DriverParams[6];
  int32_t InFrame;
} cvEngine;

// ---------------------------------------------------------------------------
// Engine
// ---------------------------------------------------------------------------

// Creates the engine on a window (a cvWindow record), enumerating the driver
// modules of DriverDirectory ("." = the directory of the running program).
// Version must be CV_ENGINE_VERSION. Null on failure.
cvEngine* cvEngine_Create(void* Window, const char* AppName, const char* DriverDirectory,
                          int32_t Version);
void cvEngine_Destroy(cvEngine* Engine);

// Drivers found at creation and their modes; null Prev gives the first.
cvDriver_Record* cvDriver_GetNextDriver(cvEngine* Engine, cvDriver_Record* Prev);
cvDriver_Mode* cvDriver_GetNextMode(cvDriver_Record* Driver, cvDriver_Mode* Prev);
int cvDriver_GetName(const cvDriver_Record* Driver, const char** Name);
int cvDriver_GetName(const cvDriver_Mode* Mode, const char** Name);
int cvDriver_ModeGetWidthHeight(const cvDriver_Mode* Mode, int32_t* Width, int32_t* Height);

// Loads Driver's module and opens it in Mode (both records of this engine).
int cvEngine_SetDriverAndMode(cvEngine* Engine, cvDriver_Record* Driver, cvDriver_Mode* Mode);
int cvEngine_ShutdownDriver(cvEngine* Engine);
// The loaded driver's operation table, or null.
cvDriver_Table* cvEngine_GetDriver(const cvEngine* Engine);

typedef struct cvCamera cvCamera;

int cvEngine_BeginFrame(cvEngine* Engine, cvCamera* Camera, int32_t ClearScreen);
int cvEngine_RenderWorld(cvEngine* Engine, cvWorld* World, cvCamera* Camera, float Time);
int cvEngine_EndFrame(cvEngine* Engine);

int cvEngine_AddWorld(cvEngine* Engine, cvWorld* World);
int cvEngine_RemoveWorld(cvEngine* Engine, cvWorld* World);
int cvEngine_RemoveAllWorlds(cvEngine* Engine);
int cvEngine_HasWorld(const cvEngine* Engine, const cvWorld* World);

int cvEngine_AddBitmap(cvEngine* Engine, cvBitmap* Bitmap);
int cvEngine_RemoveBitmap(cvEngine* Engine, cvBitmap* Bitmap);
// Draws Bitmap's driver texture (the part Rect, all of it when null) with its
// top-left corner at X, Y. The bitmap must be attached (an engine bitmap).
int cvEngine_DrawBitmap(cvEngine* Engine, cvBitmap* Bitmap, const cvRect* Rect, int32_t X,
                        int32_t Y);

// Queue a display string for the end of this frame (at most 79 characters,
// at most 20 strings a frame).
int cvEngine_Printf(cvEngine* Engine, int32_t X, int32_t Y, const char* Format, ...)
    __attribute__((format(printf, 4, 5)));
int cvEngine_PutString(cvEngine* Engine, int32_t X, int32_t Y, const char* Text);

void cvEngine_EnableFrameRateCounter(cvEngine* Engine, int32_t Enable);
int cvEngine_SetGamma(cvEngine* Engine, float Gamma);
int cvEngine_GetGamma(const cvEngine* Engine, float* Gamma);
int cvEngine_SetDriverParameters(cvEngine* Engine, const int32_t Parameters[6]);
// Fills Rect with Colour (blended when its alpha is not 255).
int cvEngine_FillRect(cvEngine* Engine, const cvRect* Rect, const cvRGBA* Colour);
int cvEngine_UpdateWindow(cvEngine* Engine);
int cvEngine_Activate(cvEngine* Engine, int32_t Active);
// Forwards Argument to the driver's UserCommand; true when it has none.
int cvEngine_DriverCommand(cvEngine* Engine, intptr_t Argument);

// Creates a driver texture of a kind of the texture format table, with the
// palette (kind 5) and alpha (kind 6) textures its format needs attached.
// Null when the kind is unavailable or the driver refuses.
void* cvEngine_CreateKindTexture(cvEngine* Engine, int32_t Kind, int32_t Width, int32_t Height,
                                 int32_t MipCount);

// ---------------------------------------------------------------------------
// Camera
// ---------------------------------------------------------------------------

struct cvCamera {
  float FieldOfView;
  float Width, Height;
  float Left, Right, Top, Bottom;
  float XScale, YScale, Scale;
  float XCenter, YCenter;
  cvXForm3d CameraSpace;           // world to camera
  int32_t HasVisXForm;
  cvXForm3d VisCameraSpace, VisWorldSpace;
  cvVec3d VisPov;
  cvXForm3d WorldSpace;            // camera to world
  cvVec3d Pov;
  float SinX, CosX, SinY, CosY;    // horizontal and vertical view angles
  float ZScale;
  int32_t FarPlaneA, FarPlaneB;
};

// The camera values the world renderer reads every frame, filled by
// cvCamera_FillRenderGlobals.
typedef struct cvCamera_RenderGlobals {
  float XScale, XScaleInv;         // -Scale and its reciprocal
  float YScale, YScaleInv;
  float XCenter, YCenter;
  cvXForm3d CameraSpace;
  cvVec3d Pov;
  float ZScale;
  cvVec3d PovCameraSpace;          // the position rotated by the camera-space transform
} cvCamera_RenderGlobals;

extern cvCamera_RenderGlobals cvCamera_Globals;

// Rect: Left, Right, Top, Bottom.
cvCamera* cvCamera_Create(const cvRect* Rect, float FieldOfView);
void cvCamera_Destroy(cvCamera* Camera);
void cvCamera_SetAttributes(cvCamera* Camera, const cvRect* Rect, float FieldOfView);
void cvCamera_GetClippingRect(const cvCamera* Camera, cvRect* Rect);
void cvCamera_GetWidthHeight(const cvCamera* Camera, float* Width, float* Height);
float cvCamera_GetScale(const cvCamera* Camera);
float cvCamera_GetZScale(const cvCamera* Camera);
void cvCamera_SetFarPlane(cvCamera* Camera, int32_t A, int32_t B);
void cvCamera_GetFarPlane(const cvCamera* Camera, int32_t* A, int32_t* B);
void cvCamera_GetViewAngleXSinCos(const cvCamera* Camera, float* Sin, float* Cos);
void cvCamera_GetViewAngleYSinCos(const cvCamera* Camera, float* Sin, float* Cos);
int cvCamera_SetWorldSpaceXForm(cvCamera* Camera, const cvXForm3d* M);
int cvCamera_SetWorldSpaceVisXForm(cvCamera* Camera, const cvXForm3d* M);
const cvXForm3d* cvCamera_GetWorldSpaceXForm(const cvCamera* Camera);
const cvXForm3d* cvCamera_GetCameraSpaceXForm(const cvCamera* Camera);
const cvVec3d* cvCamera_GetPov(const cvCamera* Camera);
const cvXForm3d* cvCamera_GetWorldSpaceVisXForm(const cvCamera* Camera);
const cvXForm3d* cvCamera_GetCameraSpaceVisXForm(const cvCamera* Camera);
const cvVec3d* cvCamera_GetVisPov(const cvCamera* Camera);
void cvCamera_Transform(const cvCamera* Camera, const cvVec3d* World, cvVec3d* Out);
// Out.X, Out.Y: screen position; Out.Z: depth × ZScale (ProjectZ: 1 / depth).
void cvCamera_Project(const cvCamera* Camera, const cvVec3d* CameraPoint, cvVec3d* Out);
void cvCamera_ProjectZ(const cvCamera* Camera, const cvVec3d* CameraPoint, cvVec3d* Out);
void cvCamera_ProjectAndClamp(const cvCamera* Camera, const cvVec3d* CameraPoint, cvVec3d* Out);
void cvCamera_TransformAndProjectArray(const cvCamera* Camera, const cvVec3d* Points, cvVec3d* Out,
                                       int32_t Count);
// Vertices of nine floats: X, Y, Z, U, V, R, G, B, A (the six attributes are copied).
void cvCamera_TransformAndProjectLArray(const cvCamera* Camera, const cvDriver_Vertex* Vertices,
                                        cvDriver_Vertex* Out, int32_t Count);
// The normalised world-space direction of the ray through pixel (X, Y).
void cvCamera_ScreenPointToWorld(const cvCamera* Camera, float X, float Y, cvVec3d* Out);
void cvCamera_FillRenderGlobals(const cvCamera* Camera);

// ---------------------------------------------------------------------------
// Bitmap list: a reference-counted set of bitmaps that get driver textures.
// ---------------------------------------------------------------------------

cvBitmapList* cvBitmapList_Create(void);
// Detaches every bitmap and releases it as often as it was added; true
// unless a detach failed.
int cvBitmapList_Destroy(cvBitmapList* List);
// True when Bitmap was not in the list before.
int cvBitmapList_Add(cvBitmapList* List, cvBitmap* Bitmap);
// True when this removed the last reference.
int cvBitmapList_Remove(cvBitmapList* List, cvBitmap* Bitmap);
int cvBitmapList_Has(const cvBitmapList* List, const cvBitmap* Bitmap);
int cvBitmapList_AttachToDriver(cvBitmapList* List, cvDriver_Table* Driver, float Gamma);
int cvBitmapList_DetachFromDriver(cvBitmapList* List);
int cvBitmapList_SetGamma(cvBitmapList* List, float Gamma);
int32_t cvBitmapList_Count(const cvBitmapList* List);
int32_t cvBitmapList_CountAttached(const cvBitmapList* List);
int cvBitmapList_IsValid(const cvBitmapList* List);
// Walks the bitmaps in list order: null Prev gives the first; null after the last.
cvBitmap* cvBitmapList_GetNext(const cvBitmapList* List, const cvBitmap* Prev);

// ---------------------------------------------------------------------------
// Start-up logo: a short animated scene (an actor with lights at its bones,
// coronas and an electric bolt) played the first time a render driver is
// opened in the process.
// ---------------------------------------------------------------------------

// Bytes of one stored file.
typedef struct cvLogo_Blob {
  const uint8_t* Data;
  uint32_t Size;
} cvLogo_Blob;

// What the logo is made of: the actor file and three textures, each a Windows
// bitmap with a separate alpha bitmap (the third uses one image for both).
typedef struct cvLogo_Data {
  cvLogo_Blob Actor;
  cvLogo_Blob Colour[3];
  cvLogo_Blob Alpha[3];
} cvLogo_Data;

// The time source of the logo. Now gives nanoseconds on a steady clock;
// Sleep waits; FrameShown (may be null) is called after every frame has been
// presented, with the animation time T of that frame. Tests inject one to
// play the logo at chosen times without waiting.
typedef struct cvLogo_Clock {
  int64_t (*Now)(void* Context);
  void (*Sleep)(uint32_t Milliseconds, void* Context);
  void (*FrameShown)(float T, void* Context);
  void* Context;
} cvLogo_Clock;

// The logo plays in about this many seconds on any machine.
#define CV_LOGO_SECONDS 2.0f

// Plays the built-in logo once per process (the first call, whatever its
// outcome, uses the turn). True when it played, was played or skipped before,
// is switched off (cvLogo_Disable, or CV_NO_LOGO=1 in the environment), or the
// build carries no logo; false when it failed (error-log entries name why).
int cvLogo_Show(cvEngine* Engine, cvDriver_Mode* Mode);
// Switches the logo off for the rest of the process (the program's --no-logo).
void cvLogo_Disable(void);
// Plays a logo made of Data now, whether or not one played before.
int cvLogo_Play(cvEngine* Engine, cvDriver_Mode* Mode, const cvLogo_Data* Data);
// Replaces the time source (null: the steady clock and a real sleep).
void cvLogo_SetClock(const cvLogo_Clock* Clock);
// The logo the build carries: 1 and Data filled, or 0 when it carries none.
int cvLogo_GetBuiltInData(cvLogo_Data* Data);
