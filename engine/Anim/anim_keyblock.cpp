// The key-type independent parts of the binary and text key blocks.
#include "Anim/anim_keyblock.h"

#include <cstring>
#include <limits>
#include <new>

#include "Support/cvsupport.h"

namespace cvanim {

namespace {

float& TimeOf(cvTKArray* Keys, int32_t Index) { return *reinterpret_cast<float*>(ElementAt(Keys, Index)); }

void SetEvenTimes(cvTKArray* Keys, float Start, float Delta) {
  float i = 0.0f;
  for (int32_t k = 0; k < Keys->Count; ++k, i += 1.0f) TimeOf(Keys, k) = i * Delta + Start;
}

}  // namespace

void* InsertKeyAt(cvTKArray** Keys, float Time, int ErrorCode, int32_t* Index) {
  int32_t index = 0;
  if (!cvTKArray_Insert(Keys, Time, &index)) {
    CV_ERROR(ErrorCode);
    return nullptr;
  }
  if (Index) *Index = index;
  return cvTKArray_GetElement(*Keys, index);
}

uint32_t EvenTimesCompression(const cvTKArray* Keys) {
  return Keys->Count > 2 && cvTKArray_IsEvenlySpaced(Keys, 0.0001f) ? static_cast<uint32_t>(CV_KFRAME_COMPRESS_EVENTIMES) : 0u;
}

bool TimeSectionBytes(uint64_t Count, uint32_t Compression, uint64_t* Bytes) {
  if (Compression & CV_KFRAME_COMPRESS_EVENTIMES) {
    *Bytes = 16;
    return true;
  }
  return cvSize_MulAdd(Count, 4, 8, Bytes) != 0;
}

void WriteBlockStart(ByteWriter& W, const KeyBlockRules& Rules, const cvTKArray* Keys, int Code,
                     uint32_t Compression, int Looped) {
  const int32_t n = Keys->Count;
  W.U32(static_cast<uint32_t>(Rules.BlockSize(static_cast<uint64_t>(n), Compression)));
  W.U32(static_cast<uint32_t>(Code) << 16 | Compression << 8 | (Looped ? 1u : 0u));
  W.U32(static_cast<uint32_t>(n));
  if (Compression & CV_KFRAME_COMPRESS_EVENTIMES) {
    W.F32(cvTKArray_GetTime(Keys, 0));
    W.F32(cvTKArray_GetTime(Keys, 1) - cvTKArray_GetTime(Keys, 0));
  } else {
    for (int32_t i = 0; i < n; ++i) W.F32(cvTKArray_GetTime(Keys, i));
  }
}

uint8_t* KeyBlock::Reserve(uint32_t Size) {
  if (Size <= sizeof local_) {
    data_ = local_;
  } else {
    heap_.reset(new (std::nothrow) uint8_t[Size]);
    data_ = heap_.get();
  }
  size_ = data_ ? Size : 0;
  return data_;
}

bool ReadBlockStart(cvVFile* File, const KeyBlockRules& Rules, KeyBlock* Block, KeyBlockHeader* Header) {
  uint32_t blockSize = 0;
  if (!cvVFile_ReadLE32(File, &blockSize) || blockSize > 0x7FFFFFFF || blockSize < 8 || blockSize > Remaining(File)) {
    CV_ERROR(-1);
    return false;
  }
  uint8_t* data = Block->Reserve(blockSize);
  if (!data || !cvVFile_Read(File, data, blockSize)) {
    CV_ERROR(-1);
    return false;
  }
  const uint32_t flags = cvLE_Get32(data), count = cvLE_Get32(data + 4);
  const uint32_t code = (flags >> 16) & 0xFF, compression = (flags >> 8) & 0xFF;
  if (code > 2 || !Rules.CompressionValid(compression) || count > 0x7FFFFFFF ||
      Rules.BlockSize(count, compression) != blockSize) {
    CV_ERROR(-1);
    return false;
  }
  Header->Count = static_cast<int32_t>(count);
  Header->Code = static_cast<int>(code);
  Header->Compression = compression;
  Header->Looped = static_cast<int>(flags & 1);
  return true;
}

cvTKArray* ReadBlockTimes(const KeyBlock& Block, const KeyBlockRules& Rules, const KeyBlockHeader& Header,
                          const uint8_t** Values) {
  typedef float Quad __attribute__((vector_size(16)));
  typedef int32_t Lanes __attribute__((vector_size(16)));
  const int32_t n = Header.Count;
  const uint8_t* times = Block.Data() + 8;
  cvTKArray* keys = cvTKArray_CreateEmpty(Rules.KeySizeForCode(Header.Code), n);
  if (!keys) return nullptr;
  // With even times key k's time is k * delta + start with k as a float, as
  // SetEvenTimes counts it. Up to 2^24 + 1 keys the two counts agree
  // exactly; beyond, both repeat a time, and the keys are refused either way.
  const bool even = (Header.Compression & CV_KFRAME_COMPRESS_EVENTIMES) != 0;
  const float start = even ? LoadF32(times) : 0.0f, delta = even ? LoadF32(times + 4) : 0.0f;
  auto time = [&](int32_t K) { return even ? static_cast<float>(K) * delta + start : LoadF32(times + 4 * static_cast<size_t>(K)); };
  // The times of keys K to K + 3, computed as time() computes them.
  auto four = [&](int32_t K) {
    Quad v;
    if (even) {
      v = __builtin_convertvector(K + Lanes{0, 1, 2, 3}, Quad) * delta + start;
    } else {
      const uint8_t* at = times + 4 * static_cast<size_t>(K);
      v = Quad{LoadF32(at), LoadF32(at + 4), LoadF32(at + 8), LoadF32(at + 12)};
    }
    return v;
  };
  uint8_t* const elements = Elements(keys);
  const size_t stride = static_cast<size_t>(keys->ElementSize);
  auto store = [&](int32_t K, float Time) { std::memcpy(elements + stride * static_cast<size_t>(K), &Time, sizeof Time); };
  // The times are checked as they are stored, as TimesAscend checks them:
  // each finite and above the one before. After key 0, four at a time.
  bool ascending = true;
  int32_t k = 0;
  if (n > 0) {
    const float t = time(0);
    ascending = IsFinite(t);
    store(0, t);
    k = 1;
  }
  Lanes fine = ~Lanes{};
  for (; k + 3 < n; k += 4) {
    const Quad t = four(k), size = (Quad)((Lanes)t & 0x7FFFFFFF);
    fine &= (size <= std::numeric_limits<float>::max()) & (t > four(k - 1));
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) store(k + i, t[i]);
  }
  for (; k < n; ++k) {
    const float t = time(k);
    ascending = ascending && IsFinite(t) && t > time(k - 1);
    store(k, t);
  }
  *Values = even ? times + 8 : times + 4 * static_cast<size_t>(n);
  if (!ascending || (fine[0] & fine[1] & fine[2] & fine[3]) == 0) {
    cvTKArray_Destroy(&keys);
    CV_ERROR(-1);
    return nullptr;
  }
  return keys;
}

int WriteBlock(cvVFile* File, const ByteWriter& W) {
  if (!W.WriteTo(File)) {
    CV_ERROR(64);
    return 0;
  }
  return 1;
}

std::string TextStart(const cvTKArray* Keys, int Code, uint32_t Compression, int Looped) {
  std::string text = "Keys ";
  AppendInt(&text, Keys->Count);
  text += ' ';
  AppendInt(&text, Code);
  text += ' ';
  AppendInt(&text, Compression);
  text += ' ';
  AppendInt(&text, Looped);
  text += '\n';
  if (Compression & CV_KFRAME_COMPRESS_EVENTIMES) {
    AppendFloats(&text, {cvTKArray_GetTime(Keys, 0), cvTKArray_GetTime(Keys, 1) - cvTKArray_GetTime(Keys, 0)});
    text += " Start T,Delta T\n";
  }
  return text;
}

void AppendFloats(std::string* Text, std::initializer_list<float> Values) {
  bool first = true;
  for (float value : Values) {
    if (!first) *Text += ' ';
    AppendFloat(Text, value);
    first = false;
  }
}

void AppendKeyTime(std::string* Text, const cvTKArray* Keys, int32_t Index, uint32_t Compression) {
  if (Compression & CV_KFRAME_COMPRESS_EVENTIMES) return;
  AppendFloat(Text, cvTKArray_GetTime(Keys, Index));
  *Text += ' ';
}

bool ReadTextStart(cvVFile* File, const KeyBlockRules& Rules, KeyBlockHeader* Header) {
  char line[kMaxLine + 1];
  int32_t count = 0, code = 0, compression = 0, looped = 0;
  if (!ReadLine(File, line, kMaxLine) || std::strncmp(line, "Keys", 4) != 0) {
    CV_ERROR(61);
    return false;
  }
  TextCursor header(line + 4);
  if (!header.Int(&count) || !header.Int(&code) || !header.Int(&compression) || !header.Int(&looped) ||
      count < 0 || code < 0 || code > 2 || compression < 0 || compression > 255 ||
      !Rules.CompressionValid(static_cast<uint32_t>(compression)) ||
      // Every key takes a line of at least two bytes.
      static_cast<uint64_t>(count) * 2 > Remaining(File)) {
    CV_ERROR(61);
    return false;
  }
  Header->Count = count;
  Header->Code = code;
  Header->Compression = static_cast<uint32_t>(compression);
  Header->Looped = looped ? 1 : 0;
  if (Header->Compression & CV_KFRAME_COMPRESS_EVENTIMES) {
    const bool ok = ReadLine(File, line, kMaxLine) != 0;
    TextCursor c(line);
    if (!ok || !c.Float(&Header->Start) || !c.Float(&Header->Delta)) {
      CV_ERROR(61);
      return false;
    }
  }
  return true;
}

cvTKArray* CreateTextKeys(const KeyBlockRules& Rules, const KeyBlockHeader& Header) {
  cvTKArray* keys = cvTKArray_CreateEmpty(Rules.KeySizeForCode(Header.Code), Header.Count);
  if (keys && (Header.Compression & CV_KFRAME_COMPRESS_EVENTIMES)) SetEvenTimes(keys, Header.Start, Header.Delta);
  return keys;
}

int WriteTextBlock(cvVFile* File, const std::string& Text) {
  if (!WriteString(File, Text)) {
    CV_ERROR(64);
    return 0;
  }
  return 1;
}

cvTKArray* FinishKeys(cvTKArray* Keys, const KeyBlockRules& Rules, const KeyBlockHeader& Header, int ErrorCode,
                      int* InterpolationCode, int* Looped) {
  if (!TimesAscend(Keys)) {
    cvTKArray_Destroy(&Keys);
    CV_ERROR(ErrorCode);
    return nullptr;
  }
  Rules.PostProcess(Keys, Header.Code, Header.Looped);
  if (InterpolationCode) *InterpolationCode = Header.Code;
  if (Looped) *Looped = Header.Looped;
  return Keys;
}

cvTKArray* FinishBinaryKeys(cvTKArray* Keys, const KeyBlockRules& Rules, const KeyBlockHeader& Header,
                            int* InterpolationCode, int* Looped) {
  Rules.PostProcess(Keys, Header.Code, Header.Looped);
  if (InterpolationCode) *InterpolationCode = Header.Code;
  if (Looped) *Looped = Header.Looped;
  return Keys;
}

}  // namespace cvanim
