// Helpers shared by the unit tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Support/cvsupport.h"

namespace cvtest {

// The codes of the error-log entries, oldest first.
std::vector<int32_t> LoggedCodes();
// The newest entry's code, or 0 when the log is empty.
int32_t LastCode();

// A fresh empty folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Makes the Nth allocation from now on (counting from 1) fail through the
// retry hook's path: while armed, cvRam_* see the failure as a real one.
// Used to prove that failure paths clean up and log.
class FailNthAllocation {
 public:
  explicit FailNthAllocation(int n);
  ~FailNthAllocation();
  bool Fired() const;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The build's bin folder (CV_BIN_DIR), or "." when it is not set.
std::string BinDir();

}  // namespace cvtest

// Asserts that the newest error-log entry carries the given code.
#define EXPECT_LOGGED(code) EXPECT_EQ(cvtest::LastCode(), (code))
