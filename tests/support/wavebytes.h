// Wave file bytes for the sound tests and the wave fuzz seeds: RIFF chunks
// put together as given, so that tests can also build files that are wrong.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cvtest {

struct WaveChunk {
  std::string Tag;  // four characters
  std::vector<uint8_t> Body;
  int64_t SizeField = -1;  // the size written in the header; -1: the body's size
};

inline void PutLE(std::vector<uint8_t>& B, uint32_t V, int Bytes) {
  for (int i = 0; i < Bytes; ++i) B.push_back((uint8_t)(V >> (8 * i)));
}

// A "fmt " body cut or padded to Size bytes. SubTag > 0 makes it extensible
// (40 bytes) with that standard sub-format and ValidBits = Bits.
inline std::vector<uint8_t> FormatBody(uint16_t Encoding, uint16_t Channels, uint32_t Rate, uint16_t Bits,
                                       uint32_t Size = 16, int BlockAlign = -1, uint16_t SubTag = 0) {
  const uint16_t Align = BlockAlign >= 0 ? (uint16_t)BlockAlign : (uint16_t)(Channels * Bits / 8);
  std::vector<uint8_t> B;
  PutLE(B, SubTag ? 0xFFFE : Encoding, 2);
  PutLE(B, Channels, 2);
  PutLE(B, Rate, 4);
  PutLE(B, Rate * Align, 4);
  PutLE(B, Align, 2);
  PutLE(B, Bits, 2);
  if (SubTag) {
    PutLE(B, 22, 2);    // extra bytes
    PutLE(B, Bits, 2);  // valid bits
    PutLE(B, 3, 4);     // speaker mask
    PutLE(B, SubTag, 2);
    for (uint8_t b : {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}) B.push_back(b);
  }
  B.resize(SubTag ? 40 : Size, 0);
  return B;
}

// Frames sample frames of a ramp.
inline std::vector<uint8_t> Samples(uint16_t Channels, uint16_t Bits, uint32_t Frames) {
  std::vector<uint8_t> B;
  for (uint32_t i = 0; i < Frames * Channels; ++i) PutLE(B, i * 977u, Bits / 8);
  return B;
}

// "RIFF", size, "WAVE" and the chunks, each padded to an even length.
inline std::vector<uint8_t> WaveBytes(const std::vector<WaveChunk>& Chunks) {
  std::vector<uint8_t> B{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  for (const WaveChunk& C : Chunks) {
    B.insert(B.end(), C.Tag.begin(), C.Tag.end());
    PutLE(B, C.SizeField >= 0 ? (uint32_t)C.SizeField : (uint32_t)C.Body.size(), 4);
    B.insert(B.end(), C.Body.begin(), C.Body.end());
    if (C.Body.size() & 1) B.push_back(0);
  }
  for (int i = 0; i < 4; ++i) B[4 + i] = (uint8_t)((B.size() - 8) >> (8 * i));
  return B;
}

inline std::vector<uint8_t> PcmWave(uint16_t Channels, uint16_t Bits, uint32_t Rate, uint32_t Frames) {
  return WaveBytes({{"fmt ", FormatBody(1, Channels, Rate, Bits)}, {"data", Samples(Channels, Bits, Frames)}});
}

}  // namespace cvtest
