// Bounded text lines, locale-independent numbers and small binary helpers
// shared by the key-frame, event, string-block, path and motion file forms.
#include "Anim/anim_util.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace cvanim {

int ReadLine(cvVFile* File, char* Buffer, size_t Capacity) {
  // Room for Capacity + 1 characters, the line feed and the NUL: a line that
  // fills all of it did not fit.
  std::vector<char> raw(Capacity + 3, '\0');
  if (!cvVFile_GetS(File, raw.data(), static_cast<uint32_t>(raw.size()))) return 0;
  // Neither file type keeps a line feed inside a line, so the first one ends it.
  const char* lf = static_cast<const char*>(std::memchr(raw.data(), '\n', raw.size()));
  size_t length = lf ? static_cast<size_t>(lf - raw.data()) : std::strlen(raw.data());
  if (std::memchr(raw.data(), '\0', length) != nullptr) return 0;  // a NUL inside the line
  if (length > 0 && raw[length - 1] == '\r') --length;
  if (length > Capacity) return 0;
  std::memcpy(Buffer, raw.data(), length);
  Buffer[length] = '\0';
  return 1;
}

int WriteString(cvVFile* File, std::string_view Text) {
  if (Text.size() > UINT32_MAX) return 0;
  return cvVFile_Write(File, Text.data(), static_cast<uint32_t>(Text.size()));
}

uint64_t Remaining(cvVFile* File) {
  uint32_t bytes = 0;
  if (!cvVFile_Remaining(File, &bytes)) return 0;
  return bytes;
}

int ReadTag(cvVFile* File, char Tag[4]) { return cvVFile_Read(File, Tag, 4); }

TextCursor::TextCursor(const char* Text) : p_(Text), end_(Text + std::strlen(Text)) {}

void TextCursor::SkipBlanks() {
  while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n' || *p_ == '\v' || *p_ == '\f'))
    ++p_;
}

bool TextCursor::AtEnd() {
  SkipBlanks();
  return p_ >= end_;
}

bool TextCursor::Int(int32_t* Value) {
  const char* save = p_;
  SkipBlanks();
  const char* start = p_;
  if (start < end_ && *start == '+') ++start;
  int32_t v = 0;
  auto [ptr, ec] = std::from_chars(start, end_, v, 10);
  if (ec != std::errc()) {
    p_ = save;
    return false;
  }
  p_ = ptr;
  *Value = v;
  return true;
}

bool TextCursor::Float(float* Value) {
  const char* save = p_;
  SkipBlanks();
  const char* start = p_;
  if (start < end_ && *start == '+' && start + 1 < end_ && start[1] != '-') ++start;
  float v = 0.0f;
  auto [ptr, ec] = std::from_chars(start, end_, v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Like the C library: huge values become infinities, tiny ones zero.
    double d = 0.0;
    auto r = std::from_chars(start, end_, d, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
      p_ = save;
      return false;
    }
    v = static_cast<float>(d);
    ptr = r.ptr;
    ec = std::errc();
  }
  if (ec != std::errc()) {
    p_ = save;
    return false;
  }
  p_ = ptr;
  *Value = v;
  return true;
}

bool TextCursor::Hex(uint32_t* Value) {
  const char* save = p_;
  SkipBlanks();
  const char* start = p_;
  if (end_ - start >= 3 && start[0] == '0' && (start[1] == 'x' || start[1] == 'X')) start += 2;
  uint32_t v = 0;
  auto [ptr, ec] = std::from_chars(start, end_, v, 16);
  if (ec != std::errc()) {
    p_ = save;
    return false;
  }
  p_ = ptr;
  *Value = v;
  return true;
}

bool TextCursor::Word(std::string_view* Value) {
  SkipBlanks();
  const char* start = p_;
  while (p_ < end_ && *p_ != ' ' && *p_ != '\t' && *p_ != '\r' && *p_ != '\n') ++p_;
  if (p_ == start) return false;
  *Value = std::string_view(start, static_cast<size_t>(p_ - start));
  return true;
}

bool TextCursor::Char(char Ch) {
  const char* save = p_;
  SkipBlanks();
  if (p_ < end_ && *p_ == Ch) {
    ++p_;
    return true;
  }
  p_ = save;
  return false;
}

bool StartsWithNoCase(const char* Line, const char* Keyword) {
  for (; *Keyword; ++Line, ++Keyword) {
    char a = *Line, b = *Keyword;
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;  // also stops at the end of Line
  }
  return true;
}

int ReadVersionLine(cvVFile* File, uint32_t* Version) {
  char line[kMaxLine + 1];
  if (!ReadLine(File, line, kMaxLine)) return 0;
  TextCursor c(line);
  uint32_t major = 0, minor = 0;
  if (!c.Hex(&major) || !c.Char('.') || !c.Hex(&minor)) return 0;
  if (major > 0xFFFFFF || minor > 0xFF) return 0;
  *Version = minor | (major << 8);
  return 1;
}

int WriteVersionLine(cvVFile* File, uint32_t Major, uint32_t Minor) {
  char text[32];
  std::snprintf(text, sizeof text, " %X.%.2X\n", Major, Minor);
  return WriteString(File, text);
}

void AppendFloat(std::string* Line, float Value) {
  char text[64];
  auto [ptr, ec] = std::to_chars(text, text + sizeof text, static_cast<double>(Value), std::chars_format::fixed, 6);
  if (ec != std::errc()) {
    // Only values beyond 1e56 or so could miss the buffer; floats never do.
    Line->append("0.000000");
    return;
  }
  Line->append(text, ptr);
}

void AppendInt(std::string* Line, int64_t Value) {
  char text[24];
  auto [ptr, ec] = std::to_chars(text, text + sizeof text, Value);
  (void)ec;
  Line->append(text, ptr);
}

bool TimesAscend(const cvTKArray* Array) {
  const int32_t n = Array->Count;
  float previous = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    float t;
    std::memcpy(&t, ElementAt(Array, i), sizeof t);
    if (!IsFinite(t)) return false;
    if (i > 0 && !(t > previous)) return false;
    previous = t;
  }
  return true;
}

}  // namespace cvanim
