// The image-file module's entry points: telling types apart, reading and
// writing whole files, the checked bitmap creation the readers share, and
// packing a bitmap level or a frame into the image the writers encode.
#include "imagefile/imagefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "imagefile_internal.h"

namespace cvimagefile {

bool SizeFits(int64_t Width, int64_t Height, int64_t BytesPerPixel, Reason* Why) {
  uint64_t Bytes = 0;
  if (Width < 1 || Height < 1) {
    *Why = "the image has no pixels (" + std::to_string(Width) + " x " + std::to_string(Height) + ")";
    return false;
  }
  if (Width > CV_IMAGEFILE_MAX_SIDE || Height > CV_IMAGEFILE_MAX_SIDE) {
    *Why = "the image is " + std::to_string(Width) + " x " + std::to_string(Height) +
           " pixels; at most " + std::to_string((int)CV_IMAGEFILE_MAX_SIDE) + " a side is supported";
    return false;
  }
  if (!cvSize_Mul3((uint64_t)Width, (uint64_t)Height, (uint64_t)BytesPerPixel, &Bytes)) {
    *Why = "the image is " + std::to_string(Width) + " x " + std::to_string(Height) +
           " pixels, more than the " + std::to_string(CV_SIZE_LIMIT >> 20) + " MiB a bitmap may hold";
    return false;
  }
  return true;
}

cvBitmap* NewBitmap(int64_t Width, int64_t Height, cvPixelFormat Format, Reason* Why) {
  if (!SizeFits(Width, Height, cvPixelFormat_BytesPerPixel(Format), Why)) return nullptr;
  cvBitmap* B = cvBitmap_Create((int32_t)Width, (int32_t)Height, 1, Format);
  if (B && cvBitmap_AllocateMip(B, 0) && cvBitmap_SetMipValid(B, 0, 1)) return B;
  if (B) cvBitmap_Destroy(&B);
  *Why = "out of memory for a " + std::to_string(Width) + " x " + std::to_string(Height) + " image";
  return nullptr;
}

bool SetPalette(cvBitmap* Bitmap, const uint32_t* Entries, int32_t Count, int32_t KeyIndex,
                Reason* Why) {
  const uint8_t* Pixels = cvBitmap_GetMipData(Bitmap, 0);
  const size_t N = (size_t)Bitmap->System.Stride * (size_t)Bitmap->System.Height;
  int32_t Size = std::max(Count, 1);
  if (Pixels && N) Size = std::max(Size, *std::max_element(Pixels, Pixels + N) + 1);
  cvBitmap_Palette* P = cvBitmap_Palette_Create(CV_PIXELFORMAT_32BIT_XRGB, Size);
  std::vector<uint32_t> All(Size, 0);
  std::copy(Entries, Entries + std::min(Count, Size), All.begin());
  const bool Ok = P && cvBitmap_Palette_SetData(P, All.data(), CV_PIXELFORMAT_32BIT_XRGB, Size) &&
                  cvBitmap_SetPalette(Bitmap, P) &&
                  (KeyIndex < 0 || cvBitmap_SetColorKey(Bitmap, 1, (uint32_t)KeyIndex, 0));
  if (P) cvBitmap_Palette_Destroy(&P);
  if (!Ok) *Why = "out of memory for the palette";
  return Ok;
}

}  // namespace cvimagefile

using namespace cvimagefile;

namespace {

bool EndsWith(const std::string& S, const char* Tail) {
  const size_t N = std::strlen(Tail);
  if (S.size() < N) return false;
  for (size_t I = 0; I < N; ++I)
    if (std::tolower((unsigned char)S[S.size() - N + I]) != Tail[I]) return false;
  return true;
}

// Reports a failure: the message for the caller and one error-log entry.
template <class T>
T Fail(std::string* Message, const std::string& What, T Result) {
  if (Message) *Message = What;
  cvErrorLog_AddExplicit(-1, "", __FILE__, __LINE__, "", What.c_str());
  return Result;
}

// Reads a whole regular file of at most CV_SIZE_LIMIT bytes.
bool ReadWholeFile(const char* Path, std::vector<uint8_t>* Out, Reason* Why) {
  const int Fd = ::open(Path, O_RDONLY | O_CLOEXEC);
  if (Fd < 0) {
    *Why = std::string("cannot open ") + Path + ": " + std::strerror(errno);
    return false;
  }
  std::unique_ptr<int, void (*)(int*)> Closer(new int(Fd), [](int* F) { ::close(*F), delete F; });
  struct stat St {};
  if (::fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode)) {
    *Why = std::string(Path) + " is not a file";
    return false;
  }
  if ((uint64_t)St.st_size > CV_SIZE_LIMIT) {
    *Why = std::string(Path) + " is larger than an image file may be";
    return false;
  }
  Out->resize((size_t)St.st_size);
  size_t Done = 0;
  while (Done < Out->size()) {
    const ssize_t N = ::read(Fd, Out->data() + Done, Out->size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) {
      *Why = std::string("cannot read ") + Path + (N < 0 ? std::string(": ") + std::strerror(errno) : "");
      return false;
    }
    Done += (size_t)N;
  }
  return true;
}

// Writes Bytes to Path through a temporary file beside it and a rename.
bool WriteWholeFile(const char* Path, const std::vector<uint8_t>& Bytes, Reason* Why) {
  const std::string Temp = std::string(Path) + ".tmp" + std::to_string((long)::getpid());
  const int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (Fd < 0) {
    *Why = std::string("cannot create ") + Path + ": " + std::strerror(errno);
    return false;
  }
  // A file written over keeps its permissions.
  struct stat Old {};
  if (::stat(Path, &Old) == 0 && S_ISREG(Old.st_mode)) ::fchmod(Fd, Old.st_mode & 07777);
  size_t Done = 0;
  int Error = 0;
  while (Done < Bytes.size() && !Error) {
    const ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) Error = N < 0 ? errno : EIO;
    else Done += (size_t)N;
  }
  if (::close(Fd) != 0 && !Error) Error = errno;
  if (!Error && ::rename(Temp.c_str(), Path) != 0) Error = errno;
  if (Error) {
    ::unlink(Temp.c_str());
    *Why = std::string("cannot write ") + Path + ": " + std::strerror(Error);
    return false;
  }
  return true;
}

cvBitmap* ReadEngineBitmap(const uint8_t* Data, size_t Size, Reason* Why) {
  cvVFile_MemoryContext Context{const_cast<uint8_t*>(Data), (uint32_t)Size};
  cvVFile* File = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &Context,
                                        CV_VFILE_OPEN_READONLY);
  cvBitmap* B = File ? cvBitmap_CreateFromFile(File) : nullptr;
  if (File) cvVFile_Close(File);
  if (!B) *Why = "the engine bitmap or BMP file is damaged or of a kind the engine does not read";
  return B;
}

// --- Packing for the writers --------------------------------------------------

// Copies Height rows of Width * Bytes from Source (Pitch bytes apart) into Out.
void PackRows(const uint8_t* Source, int32_t Width, int32_t Height, size_t Pitch, int32_t Bytes,
              std::vector<uint8_t>* Out) {
  const size_t Row = (size_t)Width * Bytes;
  Out->resize(Row * Height);
  for (int32_t Y = 0; Y < Height; ++Y) std::memcpy(Out->data() + Row * Y, Source + Pitch * Y, Row);
}

// Level MinimumMip of Bitmap, through a read lock in Format.
bool PackLevel(cvBitmap* Bitmap, cvPixelFormat Format, PackedImage* Image, Reason* Why) {
  const int32_t Mip = Bitmap->System.MinimumMip;
  cvBitmap* Lock = nullptr;
  if (!cvBitmap_LockForRead(Bitmap, &Lock, Mip, Mip, Format, 0, 0)) {
    *Why = "the bitmap's pixels cannot be read (it is locked for writing, or has no pixels or palette)";
    return false;
  }
  cvBitmap_Info Info;
  const uint8_t* Pixels = static_cast<const uint8_t*>(cvBitmap_GetBits(Lock));
  const bool Ok = Pixels && cvBitmap_GetInfo(Lock, &Info, nullptr);
  if (Ok) {
    const int32_t Bytes = cvPixelFormat_BytesPerPixel(Format);
    Image->Width = Info.Width;
    Image->Height = Info.Height;
    Image->Channels = Bytes;
    PackRows(Pixels, Info.Width, Info.Height, (size_t)Info.Stride * Bytes, Bytes, &Image->Pixels);
  } else {
    *Why = "the bitmap's pixels cannot be read";
  }
  cvBitmap_UnLock_NoChange(Lock);
  return Ok;
}

bool PackBitmap(cvBitmap* Bitmap, PackedImage* Image, Reason* Why) {
  if (!Bitmap || Bitmap->RefCount < 1) {
    *Why = "no bitmap to write";
    return false;
  }
  const cvBitmap_Info& Info = Bitmap->System;
  if (!SizeFits(Info.Width, Info.Height, 4, Why)) return false;
  const bool AlphaBitmap = cvBitmap_GetAlpha(Bitmap) != nullptr;
  cvBitmap_Palette* Palette = cvBitmap_GetPalette(Bitmap);
  if (cvPixelFormat_HasPalette(Info.Format) && !AlphaBitmap && Palette) {
    if (!PackLevel(Bitmap, CV_PIXELFORMAT_8BIT_PAL, Image, Why)) return false;
    const int32_t Used = *std::max_element(Image->Pixels.begin(), Image->Pixels.end()) + 1;
    const int32_t Count = std::max(Palette->Size, Used);
    std::vector<uint32_t> Argb(Count, 0xFF000000u);  // entries past the palette: opaque black
    if (!cvBitmap_Palette_GetData(Palette, Argb.data(), CV_PIXELFORMAT_32BIT_ARGB, Palette->Size)) {
      *Why = "the bitmap's palette cannot be read";
      return false;
    }
    if (Info.HasColorKey && Info.ColorKey < (uint32_t)Count) Argb[Info.ColorKey] &= 0x00FFFFFFu;
    Image->Palette.resize((size_t)Count * 4);
    for (int32_t I = 0; I < Count; ++I) {
      const uint32_t C = Argb[I];
      uint8_t* E = &Image->Palette[(size_t)I * 4];
      E[0] = (uint8_t)(C >> 16), E[1] = (uint8_t)(C >> 8), E[2] = (uint8_t)C, E[3] = (uint8_t)(C >> 24);
    }
    return true;
  }
  if (Info.Format == CV_PIXELFORMAT_8BIT_GRAY && !AlphaBitmap && !Info.HasColorKey)
    return PackLevel(Bitmap, CV_PIXELFORMAT_8BIT_GRAY, Image, Why);
  // 24 bit RGB and 32 bit ABGR hold their channels in memory as R G B (A).
  const bool Alpha = cvPixelFormat_HasAlpha(Info.Format) || AlphaBitmap || Info.HasColorKey;
  return PackLevel(Bitmap, Alpha ? CV_PIXELFORMAT_32BIT_ABGR : CV_PIXELFORMAT_24BIT_RGB, Image, Why);
}

bool PackFrame(const void* Pixels, int32_t Width, int32_t Height, int32_t Pitch, cvPixelFormat Format,
               PackedImage* Image, Reason* Why) {
  const cvPixelFormat_Operations* Ops = cvPixelFormat_GetOperations(Format);
  if (!Pixels || !Ops || !Ops->GetColor) {
    *Why = "the frame's pixel format has no colours to write";
    return false;
  }
  if (!SizeFits(Width, Height, 4, Why)) return false;
  if (Pitch < 0 || (int64_t)Pitch < (int64_t)Width * Ops->BytesPerPixel) {
    *Why = "the frame's rows are shorter than its width";
    return false;
  }
  const int32_t Channels = cvPixelFormat_HasAlpha(Format) ? 4 : 3;
  Image->Width = Width;
  Image->Height = Height;
  Image->Channels = Channels;
  Image->Pixels.resize((size_t)Width * Height * Channels);
  uint8_t* Out = Image->Pixels.data();
  for (int32_t Y = 0; Y < Height; ++Y) {
    const uint8_t* In = static_cast<const uint8_t*>(Pixels) + (size_t)Pitch * Y;
    for (int32_t X = 0; X < Width; ++X) {
      int32_t R, G, B, A;
      Ops->GetColor(&In, &R, &G, &B, &A);
      *Out++ = (uint8_t)R, *Out++ = (uint8_t)G, *Out++ = (uint8_t)B;
      if (Channels == 4) *Out++ = (uint8_t)A;
    }
  }
  return true;
}

bool EncodePacked(const PackedImage& Image, cvImageFile_Type Type, std::vector<uint8_t>* Out,
                  Reason* Why) {
  Out->clear();
  switch (Type) {
    case CV_IMAGEFILE_PNG: return WritePng(Image, Out, Why);
    case CV_IMAGEFILE_TGA: return WriteTga(Image, Out, Why);
    default:
      *Why = std::string(cvImageFile_TypeName(Type)) + " files cannot be written here; use PNG or TGA";
      return false;
  }
}

}  // namespace

cvImageFile_Type cvImageFile_TypeOfData(const uint8_t* Data, size_t Size) {
  static const uint8_t Png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (!Data) return CV_IMAGEFILE_UNKNOWN;
  if (Size >= 8 && std::memcmp(Data, Png, 8) == 0) return CV_IMAGEFILE_PNG;
  if (Size >= 3 && Data[0] == 0xFF && Data[1] == 0xD8 && Data[2] == 0xFF) return CV_IMAGEFILE_JPEG;
  if ((Size >= 4 && std::memcmp(Data, "CvBm", 4) == 0) || (Size >= 2 && Data[0] == 'B' && Data[1] == 'M'))
    return CV_IMAGEFILE_ENGINE;
  if (TgaHeaderLooksValid(Data, Size)) return CV_IMAGEFILE_TGA;
  return CV_IMAGEFILE_UNKNOWN;
}

cvImageFile_Type cvImageFile_TypeOfName(const char* Path) {
  const std::string P = Path ? Path : "";
  if (EndsWith(P, ".png")) return CV_IMAGEFILE_PNG;
  if (EndsWith(P, ".tga")) return CV_IMAGEFILE_TGA;
  if (EndsWith(P, ".jpg") || EndsWith(P, ".jpeg") || EndsWith(P, ".jpe")) return CV_IMAGEFILE_JPEG;
  if (EndsWith(P, ".bmp")) return CV_IMAGEFILE_ENGINE;
  return CV_IMAGEFILE_UNKNOWN;
}

const char* cvImageFile_TypeName(cvImageFile_Type Type) {
  switch (Type) {
    case CV_IMAGEFILE_PNG: return "PNG";
    case CV_IMAGEFILE_TGA: return "TGA";
    case CV_IMAGEFILE_JPEG: return "JPEG";
    case CV_IMAGEFILE_ENGINE: return "engine bitmap or BMP";
    default: return "unknown";
  }
}

cvBitmap* cvImageFile_ReadData(const uint8_t* Data, size_t Size, std::string* Message) {
  static const uint8_t Empty = 0;
  if (!Data) Data = &Empty, Size = 0;
  if (Size > CV_SIZE_LIMIT) return Fail<cvBitmap*>(Message, "the file is larger than an image file may be", nullptr);
  Reason Why;
  cvBitmap* B = nullptr;
  const cvImageFile_Type Type = cvImageFile_TypeOfData(Data, Size);
  switch (Type) {
    case CV_IMAGEFILE_PNG: B = ReadPng(Data, Size, &Why); break;
    case CV_IMAGEFILE_JPEG: B = ReadJpeg(Data, Size, &Why); break;
    case CV_IMAGEFILE_TGA: B = ReadTga(Data, Size, &Why); break;
    case CV_IMAGEFILE_ENGINE: B = ReadEngineBitmap(Data, Size, &Why); break;
    default:
      return Fail<cvBitmap*>(Message, "not an image file of a known kind (PNG, TGA, JPEG, BMP or engine bitmap)",
                             nullptr);
  }
  if (!B) return Fail<cvBitmap*>(Message, std::string(cvImageFile_TypeName(Type)) + ": " + Why, nullptr);
  if (Message) Message->clear();
  return B;
}

cvBitmap* cvImageFile_Read(const char* Path, std::string* Message) {
  if (!Path) return Fail<cvBitmap*>(Message, "no file name", nullptr);
  std::vector<uint8_t> Bytes;
  Reason Why;
  if (!ReadWholeFile(Path, &Bytes, &Why)) return Fail<cvBitmap*>(Message, Why, nullptr);
  cvBitmap* B = cvImageFile_ReadData(Bytes.data(), Bytes.size(), Message);
  if (!B && Message) *Message = std::string(Path) + ": " + *Message;
  return B;
}

int cvImageFile_Encode(cvBitmap* Bitmap, cvImageFile_Type Type, std::vector<uint8_t>* Out,
                       std::string* Message) {
  PackedImage Image;
  Reason Why;
  if (!Out) return Fail(Message, "nowhere to put the image", 0);
  if (!PackBitmap(Bitmap, &Image, &Why) || !EncodePacked(Image, Type, Out, &Why))
    return Fail(Message, Why, 0);
  if (Message) Message->clear();
  return 1;
}

int cvImageFile_EncodeFrame(const void* Pixels, int32_t Width, int32_t Height, int32_t Pitch,
                            cvPixelFormat Format, cvImageFile_Type Type, std::vector<uint8_t>* Out,
                            std::string* Message) {
  PackedImage Image;
  Reason Why;
  if (!Out) return Fail(Message, "nowhere to put the image", 0);
  if (!PackFrame(Pixels, Width, Height, Pitch, Format, &Image, &Why) ||
      !EncodePacked(Image, Type, Out, &Why))
    return Fail(Message, Why, 0);
  if (Message) Message->clear();
  return 1;
}

namespace {

// The type to write Path as, or a failure naming the extensions known.
bool WritableType(const char* Path, cvImageFile_Type* Type, std::string* Message) {
  *Type = cvImageFile_TypeOfName(Path);
  if (*Type == CV_IMAGEFILE_PNG || *Type == CV_IMAGEFILE_TGA) return true;
  Fail(Message, std::string(Path ? Path : "(no name)") + ": give the file name the extension .png or .tga", 0);
  return false;
}

int WriteEncoded(const char* Path, const std::vector<uint8_t>& Bytes, std::string* Message) {
  Reason Why;
  if (!WriteWholeFile(Path, Bytes, &Why)) return Fail(Message, Why, 0);
  return 1;
}

}  // namespace

int cvImageFile_Write(cvBitmap* Bitmap, const char* Path, std::string* Message) {
  cvImageFile_Type Type;
  std::vector<uint8_t> Bytes;
  if (!WritableType(Path, &Type, Message)) return 0;
  if (!cvImageFile_Encode(Bitmap, Type, &Bytes, Message)) {
    if (Message) *Message = std::string(Path) + ": " + *Message;
    return 0;
  }
  return WriteEncoded(Path, Bytes, Message);
}

int cvImageFile_WriteFrame(const void* Pixels, int32_t Width, int32_t Height, int32_t Pitch,
                           cvPixelFormat Format, const char* Path, std::string* Message) {
  cvImageFile_Type Type;
  std::vector<uint8_t> Bytes;
  if (!WritableType(Path, &Type, Message)) return 0;
  if (!cvImageFile_EncodeFrame(Pixels, Width, Height, Pitch, Format, Type, &Bytes, Message)) {
    if (Message) *Message = std::string(Path) + ": " + *Message;
    return 0;
  }
  return WriteEncoded(Path, Bytes, Message);
}
