#include "testdriver.h"

namespace testdriver {
namespace {

State gState;
cvDriver_Table gTable;

int EnumPixelFormats(cvDriver_EnumFormatCB Callback, void* Context) {
  for (const cvDriver_PixelFormat& F : gState.Formats)
    if (!Callback(&F, Context)) break;
  return 1;
}

void* CreateTexture(int32_t Width, int32_t Height, int32_t MipCount, const cvDriver_PixelFormat* Format) {
  if (gState.RefuseCreate) return nullptr;
  ++gState.Creates;
  gState.CreatedMipCounts.push_back(MipCount);
  auto T = std::make_unique<Texture>();
  T->Width = Width;
  T->Height = Height;
  T->MipCount = MipCount;
  T->Format = *Format;
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(Format->PixelFormat);
  for (int32_t m = 0; m < MipCount; ++m) {
    const int32_t W = std::max(1, Width >> m), H = std::max(1, Height >> m);
    const int32_t Pitch = W * Bytes + 8;  // padded rows, as real drivers have
    T->Pitch.push_back(Pitch);
    T->Levels.emplace_back((size_t)Pitch * H, 0xCD);
    T->Locked.push_back(false);
  }
  void* Handle = T.get();
  gState.Textures[Handle] = std::move(T);
  return Handle;
}

int DestroyTexture(void* Handle) { return gState.Textures.erase(Handle) ? 1 : 0; }

int GetTextureInfo(void* Handle, cvDriver_TextureInfo* Info) {
  Texture* T = Find(Handle);
  if (!T) return 0;
  Info->Width = T->Width;
  Info->Height = T->Height;
  Info->MipCount = T->MipCount;
  Info->Format = T->Format;
  Info->Palette = T->Palette;
  Info->Alpha = T->Alpha;
  return 1;
}

void* LockTexture(void* Handle, int32_t Mip, int32_t* Pitch) {
  Texture* T = Find(Handle);
  if (!T || Mip < 0 || Mip >= T->MipCount || T->Locked[Mip]) return nullptr;
  T->Locked[Mip] = true;
  *Pitch = T->Pitch[Mip];
  return T->Levels[Mip].data();
}

int UnlockTexture(void* Handle, int32_t Mip) {
  Texture* T = Find(Handle);
  if (!T || Mip < 0 || Mip >= T->MipCount || !T->Locked[Mip]) return 0;
  T->Locked[Mip] = false;
  return 1;
}

// Set(texture) on a known texture; 0 for an unknown handle.
template <class F>
int Change(void* Handle, F Set) {
  Texture* T = Find(Handle);
  if (T) Set(*T);
  return T ? 1 : 0;
}
int SetPalette(void* Handle, void* Palette) {
  return Change(Handle, [&](Texture& T) { T.Palette = Palette; });
}
int SetAlpha(void* Handle, void* Alpha) {
  return Change(Handle, [&](Texture& T) { T.Alpha = Alpha; });
}
int SetColorKey(void* Handle, int32_t HasKey, uint32_t Key) {
  return Change(Handle, [&](Texture& T) { T.HasKey = HasKey, T.Key = Key; });
}

}  // namespace

State& Driver() { return gState; }

cvDriver_Table* Make(std::vector<cvDriver_PixelFormat> Formats) {
  gState = State();
  gState.Formats = std::move(Formats);
  gTable = cvDriver_Table{};
  gTable.Size = sizeof(cvDriver_Table);
  gTable.VersionMajor = CV_DRIVER_VERSION_MAJOR;
  gTable.VersionMinor = CV_DRIVER_VERSION_MINOR;
  gTable.EnumPixelFormats = &EnumPixelFormats;
  gTable.CreateTexture = &CreateTexture;
  gTable.DestroyTexture = &DestroyTexture;
  gTable.GetTextureInfo = &GetTextureInfo;
  gTable.LockTexture = &LockTexture;
  gTable.UnlockTexture = &UnlockTexture;
  gTable.SetPalette = &SetPalette;
  gTable.SetAlpha = &SetAlpha;
  gTable.SetColorKey = &SetColorKey;
  return &gTable;
}

Texture* Find(void* Handle) {
  auto It = gState.Textures.find(Handle);
  return It == gState.Textures.end() ? nullptr : It->second.get();
}

uint32_t Pixel(void* Handle, int32_t Mip, int32_t X, int32_t Y) {
  Texture* T = Find(Handle);
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(T->Format.PixelFormat);
  const uint8_t* P = T->Levels[Mip].data() + (size_t)Y * T->Pitch[Mip] + (size_t)X * Bytes;
  return cvPixelFormat_GetOperations(T->Format.PixelFormat)->GetPixel(&P);
}

void SetPixel(void* Handle, int32_t Mip, int32_t X, int32_t Y, uint32_t Value) {
  Texture* T = Find(Handle);
  const int32_t Bytes = cvPixelFormat_BytesPerPixel(T->Format.PixelFormat);
  uint8_t* P = T->Levels[Mip].data() + (size_t)Y * T->Pitch[Mip] + (size_t)X * Bytes;
  cvPixelFormat_GetOperations(T->Format.PixelFormat)->PutPixel(&P, Value);
}

}  // namespace testdriver
