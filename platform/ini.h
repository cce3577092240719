// Reading small configuration files of the "[Section]" / "Key=Value" kind.
// Section and key names match without regard to case; an absent file,
// section or key gives the caller's default; a value is cut to the caller's
// buffer. A file that is not plain text (a NUL or other control byte) or
// that holds a line which is neither blank, a comment (";" or "#"), a
// "[Section]" header nor a "Key=Value" pair is not trusted at all: every
// lookup in it gives the default. Files are never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace cvplatform {

// The value of Key in Section of a configuration file's Size bytes at Text:
// true with *Value set when found in a well-formed file; false when the file
// is not plain text, holds a malformed line, or lacks the section or key.
bool IniFindValue(const char* Text, size_t Size, const char* Section, const char* Key,
                  std::string* Value);

// Where a configuration file named FileName is read from: the current
// directory when it holds the file, else the program's directory when that
// holds it; empty when neither does.
std::string FindConfigFile(const char* FileName);

// Copies the value of Key in Section of the file at Path into Buffer (Size
// bytes, always terminated when Size > 0), or Default when the value is
// absent. Returns the number of characters copied, without the terminator.
uint32_t IniGetString(const char* Path, const char* Section, const char* Key, const char* Default,
                      char* Buffer, uint32_t Size);

// The value of Key as a decimal integer: an optional sign and the digits
// that follow it ("42px" is 42, a value without digits is 0, values beyond
// the int range are clamped); Default when the value is absent.
int32_t IniGetInt(const char* Path, const char* Section, const char* Key, int32_t Default);

}  // namespace cvplatform
