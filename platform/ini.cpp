#include "platform/ini.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/module.h"

namespace cvplatform {

namespace {

// Configuration files are a few lines; anything larger is not one.
constexpr long kMaxIniBytes = 1 << 20;

bool isRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool readWholeFile(const char* path, std::string* out) {
  if (!path || !*path) return false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::string data;
  char chunk[4096];
  size_t n;
  bool ok = true;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
    if (data.size() + n > static_cast<size_t>(kMaxIniBytes)) {
      ok = false;
      break;
    }
    data.append(chunk, n);
  }
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  if (ok) *out = std::move(data);
  return ok;
}

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool equalNoCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The value of Key in Section of the file at path, or nothing.
std::optional<std::string> lookup(const char* path, const char* section, const char* key) {
  std::string text, value;
  if (!readWholeFile(path, &text) || !IniFindValue(text.data(), text.size(), section, key, &value))
    return std::nullopt;
  return value;
}

}  // namespace

bool IniFindValue(const char* Data, size_t Size, const char* section, const char* key,
                  std::string* Value) {
  if (!Data || !section || !key || !Value) return false;
  std::string text(Data, Size);
  // A UTF-8 byte-order mark at the very start is allowed (editors add it).
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  for (unsigned char c : text)
    if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') return false;

  std::optional<std::string> found;
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    // Lines end with LF, CR LF or a lone CR.
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return false;
      inSection = equalNoCase(trim(line.substr(1, line.size() - 2)), section);
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    if (found || !inSection) continue;  // the first occurrence wins; keep checking the form
    if (!equalNoCase(trim(line.substr(0, eq)), key)) continue;
    std::string value = trim(line.substr(eq + 1));
    // A value written in matching quotes stands without them.
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
    found = value;
  }
  if (!found) return false;
  *Value = std::move(*found);
  return true;
}

std::string FindConfigFile(const char* FileName) {
  if (!FileName || !*FileName) return {};
  if (isRegularFile(FileName)) return FileName;
  std::string beside = ProgramDirectory();
  beside += beside == "/" ? "" : "/";
  beside += FileName;
  if (isRegularFile(beside)) return beside;
  return {};
}

uint32_t IniGetString(const char* Path, const char* Section, const char* Key, const char* Default,
                      char* Buffer, uint32_t Size) {
  if (!Buffer || Size == 0) return 0;
  const std::optional<std::string> value = lookup(Path, Section, Key);
  const char* text = value ? value->c_str() : (Default ? Default : "");
  const size_t n = std::min<size_t>(std::strlen(text), Size - 1);
  std::memcpy(Buffer, text, n);
  Buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

int32_t IniGetInt(const char* Path, const char* Section, const char* Key, int32_t Default) {
  const std::optional<std::string> value = lookup(Path, Section, Key);
  if (!value) return Default;
  const std::string& s = *value;
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long long n = 0;
  for (; i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])); ++i) {
    n = n * 10 + (s[i] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) n = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) n = -n;
  return static_cast<int32_t>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

}  // namespace cvplatform
