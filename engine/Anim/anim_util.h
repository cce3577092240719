// Private helpers of the animation-data readers and writers: bounded text
// lines, locale-independent number parsing and small binary field helpers.
// Not part of the public interface.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Anim/cvanim.h"
#include "Support/cvsupport.h"

namespace cvanim {

// Longest text line the key, path and motion readers accept (characters
// before the line end). Every line the writers produce is far shorter.
constexpr size_t kMaxLine = 1024;

// Reads one line into Buffer (Capacity characters at most plus the NUL),
// without its line end (LF, CR LF or CR). Fails at the end of the file, on a
// line longer than Capacity characters and on a line holding a NUL byte.
int ReadLine(cvVFile* File, char* Buffer, size_t Capacity);

// Writes Text without its NUL.
int WriteString(cvVFile* File, std::string_view Text);

// Bytes left in File from the current position.
uint64_t Remaining(cvVFile* File);

int ReadTag(cvVFile* File, char Tag[4]);
inline bool TagIs(const char Tag[4], const char* Expected) {
  return Tag[0] == Expected[0] && Tag[1] == Expected[1] && Tag[2] == Expected[2] && Tag[3] == Expected[3];
}

// A cursor over one line of text. The number readers skip leading blanks and
// parse as the C locale does (a full stop is the decimal point) whatever the
// process locale is. Each returns false and leaves the cursor where it was
// when no number stands there.
class TextCursor {
 public:
  explicit TextCursor(const char* Text);
  TextCursor(const char* Begin, const char* End) : p_(Begin), end_(End) {}
  bool Int(int32_t* Value);
  bool Float(float* Value);
  bool Hex(uint32_t* Value);
  // The next blank-separated word.
  bool Word(std::string_view* Value);
  // Consumes Ch (after blanks) when it stands next.
  bool Char(char Ch);
  void SkipBlanks();
  const char* Position() const { return p_; }
  bool AtEnd();

 private:
  const char* p_;
  const char* end_;
};

// Case-insensitive test that Line begins with Keyword.
bool StartsWithNoCase(const char* Line, const char* Keyword);

// Reads a version line "%X.%X" into minor | major << 8.
int ReadVersionLine(cvVFile* File, uint32_t* Version);
// Writes " %X.%.2X\n".
int WriteVersionLine(cvVFile* File, uint32_t Major, uint32_t Minor);

// Text output built without printf, so that a process locale with a decimal
// comma cannot change the files: AppendFloat gives what "%f" gives in the C
// locale, AppendInt what "%d" gives.
void AppendFloat(std::string* Line, float Value);
void AppendInt(std::string* Line, int64_t Value);

inline bool IsFinite(float Value) { return std::isfinite(Value); }

// True when the keys' times are finite and strictly ascending.
bool TimesAscend(const cvTKArray* Array);

// True when a key at Time may not follow one at Previous: closer than the
// spacing keys keep, or not after it at all. At large times the spacing is
// below a float's step, so Time - spacing can equal Time; the second test
// keeps equal times out, which every reader refuses.
inline bool TooClose(float Previous, float Time) { return !(Time > Previous) || Time - CV_TKARRAY_MIN_SPACING < Previous; }

// Little-endian fields gathered in memory and written with one call.
class ByteWriter {
 public:
  void U32(uint32_t Value) {
    uint8_t b[4];
    cvLE_Put32(b, Value);
    bytes_.insert(bytes_.end(), b, b + 4);
  }
  void F32(float Value) {
    uint32_t v;
    std::memcpy(&v, &Value, 4);
    U32(v);
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  int WriteTo(cvVFile* File) const {
    return bytes_.size() <= UINT32_MAX &&
           cvVFile_Write(File, bytes_.data(), static_cast<uint32_t>(bytes_.size()));
  }

 private:
  std::vector<uint8_t> bytes_;
};

// Element pointer arithmetic shared by the key-frame modules.
inline uint8_t* Elements(cvTKArray* Array) { return reinterpret_cast<uint8_t*>(Array + 1); }
inline const uint8_t* Elements(const cvTKArray* Array) {
  return reinterpret_cast<const uint8_t*>(Array + 1);
}
// Element Index, found here rather than through cvTKArray_GetElement: readers
// and samplers visit every key, and the call would cost more than the work.
inline uint8_t* ElementAt(cvTKArray* Array, int32_t Index) {
  return Elements(Array) + static_cast<size_t>(Index) * static_cast<size_t>(Array->ElementSize);
}
inline const uint8_t* ElementAt(const cvTKArray* Array, int32_t Index) {
  return Elements(Array) + static_cast<size_t>(Index) * static_cast<size_t>(Array->ElementSize);
}

}  // namespace cvanim
