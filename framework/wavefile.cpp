// Wave file reading: the whole file into memory, then a walk over its RIFF
// chunks. Every position is computed in 64 bits and checked against the end
// of the bytes before anything is read there, so chunk sizes near 2^32 (which
// overflow 32 bits when rounded up to even) or beyond the file are refused.
#include "framework/wavefile.h"

#include <cstring>

#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"

namespace {

constexpr uint32_t kRiffHeaderBytes = 12;  // "RIFF", size, "WAVE"
constexpr uint32_t kChunkHeaderBytes = 8;  // tag, size
constexpr uint32_t kMinFormatBytes = 14;   // tag, channels, rate, bytes per second, block align
constexpr uint32_t kExtensibleBytes = 40;  // the above plus bits, extra size and the sub-format

// The sub-format identifier of extensible PCM: tag 1 followed by the fixed tail
// 00000000-0010-8000-00AA00389B71 that every standard sub-format shares.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool tagIs(const uint8_t* P, const char (&Tag)[5]) { return std::memcmp(P, Tag, 4) == 0; }

bool refuse() {
  CV_ERROR(CV_SOUND_ERROR_BAD_FILE);
  return false;
}

void readFormat(const uint8_t* P, uint32_t Size, WaveFile* Out) {
  Out->Encoding = cvLE_Get16(P);
  Out->Channels = cvLE_Get16(P + 2);
  Out->SampleRate = cvLE_Get32(P + 4);
  Out->BlockAlign = cvLE_Get16(P + 12);
  if (Size >= 16) {
    Out->BitsPerSample = cvLE_Get16(P + 14);
  } else if (Out->Channels != 0) {
    // The oldest form of the chunk has no bits field: a frame holds one
    // sample per channel.
    Out->BitsPerSample = (uint16_t)(Out->BlockAlign / Out->Channels * 8);
  }
  if (Out->Encoding == CV_WAVE_FORMAT_EXTENSIBLE && Size >= kExtensibleBytes) {
    const uint8_t* Sub = P + 24;
    const uint16_t ValidBits = cvLE_Get16(P + 18);
    // A container wider than its samples (24 valid bits in 32) is a format
    // of its own; only containers filled by their samples keep the tag.
    if (std::memcmp(Sub + 2, kSubFormatTail, sizeof kSubFormatTail) == 0 &&
        (ValidBits == 0 || ValidBits == Out->BitsPerSample))
      Out->Encoding = cvLE_Get16(Sub);
  }
}

}  // namespace

void WaveFile::Free::operator()(uint8_t* Bytes) const { cvRam_Free(Bytes); }

bool WaveFile_Parse(const uint8_t* Data, uint32_t Size, WaveFile* Out) {
  if (!Out) return refuse();
  *Out = WaveFile{};
  if (!Data || Size < kRiffHeaderBytes || !tagIs(Data, "RIFF") || !tagIs(Data + 8, "WAVE"))
    return refuse();
  // The RIFF size field is not trusted: writers that stream leave it 0 or
  // all ones. The chunks are walked to the end of the bytes instead.
  const uint64_t End = Size;
  bool HaveFormat = false;
  for (uint64_t Pos = kRiffHeaderBytes; Pos + kChunkHeaderBytes <= End;) {
    const uint8_t* Chunk = Data + Pos;
    const uint64_t Body = Pos + kChunkHeaderBytes;
    const uint64_t Bytes = cvLE_Get32(Chunk + 4);
    if (Bytes > End - Body) return refuse();  // the chunk runs past the end of the file
    if (tagIs(Chunk, "fmt ")) {
      if (HaveFormat || Bytes < kMinFormatBytes) return refuse();
      readFormat(Data + Body, (uint32_t)Bytes, Out);
      HaveFormat = true;
    } else if (tagIs(Chunk, "data")) {
      // The format must be known before the samples it describes.
      if (!HaveFormat) return refuse();
      Out->Samples = Data + Body;
      Out->SampleBytes = (uint32_t)Bytes;
      return true;
    }
    Pos = Body + Bytes + (Bytes & 1);  // chunks start on even offsets
  }
  return refuse();
}

bool WaveFile_Read(cvVFile* File, WaveFile* Out) {
  if (!Out) return refuse();
  *Out = WaveFile{};
  uint32_t Size = 0;
  if (!File || !cvVFile_Remaining(File, &Size)) return refuse();
  if (Size > CV_SIZE_LIMIT) {
    CV_ERROR(CV_SOUND_ERROR_OUT_OF_MEMORY);
    return false;
  }
  std::unique_ptr<uint8_t[], WaveFile::Free> Bytes(static_cast<uint8_t*>(cvRam_Allocate(Size ? Size : 1)));
  if (!Bytes) {
    CV_ERROR(CV_SOUND_ERROR_OUT_OF_MEMORY);
    return false;
  }
  if (!cvVFile_Read(File, Bytes.get(), Size)) return refuse();
  if (!WaveFile_Parse(Bytes.get(), Size, Out)) return false;
  Out->Bytes = std::move(Bytes);
  return true;
}

bool WaveFile_IsPlayable(WaveFile* Wave) {
  if (!Wave || Wave->Encoding != CV_WAVE_FORMAT_PCM) return false;
  if (Wave->Channels != 1 && Wave->Channels != 2) return false;
  if (Wave->BitsPerSample != 8 && Wave->BitsPerSample != 16) return false;
  if (Wave->BlockAlign != Wave->Channels * Wave->BitsPerSample / 8) return false;
  if (Wave->SampleRate == 0 || Wave->SampleRate > INT32_MAX) return false;
  const uint32_t Whole = Wave->SampleBytes - Wave->SampleBytes % Wave->BlockAlign;
  if (Whole == 0) return false;
  Wave->SampleBytes = Whole;
  return true;
}
