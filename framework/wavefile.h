// Wave files for the sound system: a RIFF file of form "WAVE" with a "fmt "
// chunk and a "data" chunk. The reader takes the whole file into memory and
// finds the two chunks without trusting any size in it; whether the sound
// device can play the format is a separate question (WaveFile_IsPlayable).
// Depends on the engine's virtual files, memory and error log.
#pragma once

#include <cstdint>
#include <memory>

typedef struct cvVFile cvVFile;

// Error-log codes of the wave reader and the sound system.
enum : int32_t {
  CV_SOUND_ERROR_NO_SYSTEM = 9,       // no sound library or no device
  CV_SOUND_ERROR_BUFFER = 10,         // a sound buffer could not be made in this format
  CV_SOUND_ERROR_DEVICE = 11,         // the device refused an operation, or no such channel
  CV_SOUND_ERROR_BAD_FILE = 12,       // not a RIFF/WAVE file with "fmt " and "data"
  CV_SOUND_ERROR_OUT_OF_MEMORY = 52,  // the file does not fit in memory
};

// Wave encodings the reader knows by name.
enum : uint16_t {
  CV_WAVE_FORMAT_PCM = 1,
  CV_WAVE_FORMAT_EXTENSIBLE = 0xFFFE,
};

struct WaveFile {
  struct Free {
    void operator()(uint8_t* Bytes) const;
  };
  // The format as the "fmt " chunk gives it. BitsPerSample comes from the
  // chunk when it has the field (16 bytes or more), else from BlockAlign and
  // Channels. For an extensible chunk, Encoding is its sub-format's tag when
  // that is one of the standard ones, else CV_WAVE_FORMAT_EXTENSIBLE.
  uint16_t Encoding = 0;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  // The samples: the "data" chunk's bytes, cut to whole sample frames when
  // the format is playable. They point into the file's bytes held in Bytes.
  const uint8_t* Samples = nullptr;
  uint32_t SampleBytes = 0;
  std::unique_ptr<uint8_t[], Free> Bytes;
};

// Reads the wave file from File's current position to its end into Out.
// False with error code 52 when the file does not fit in memory, 12 when it
// cannot be read or is not a RIFF/WAVE file whose "fmt " chunk (at least 14
// bytes) comes before its "data" chunk, each lying wholly inside the file.
bool WaveFile_Read(cvVFile* File, WaveFile* Out);

// The same on bytes already in memory (Out->Bytes stays empty; Samples point
// into Data).
bool WaveFile_Parse(const uint8_t* Data, uint32_t Size, WaveFile* Out);

// True when the sound device can play Wave: PCM of 8 or 16 bits, one or two
// channels, a block align of Channels x BitsPerSample / 8, a sample rate of
// 1 to 2^31 - 1 and at least one whole sample frame. On success Wave's
// SampleBytes is cut to whole frames (a partial last frame is dropped).
bool WaveFile_IsPlayable(WaveFile* Wave);
