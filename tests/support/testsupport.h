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

// Walks the failure paths of one operation: for n = 1, 2, ... up to Limit it
// clears the error log and runs Op() with the nth allocation failing, handing
// the result to Failed(n, result) while the failure was met. The first run
// that needs fewer than n allocations ends the walk; its result goes to
// Succeeded(result). A walk that never gets there fails the test.
template <class Op, class FailedCheck, class SucceededCheck>
void WalkAllocationFailures(int Limit, Op Run, FailedCheck Failed, SucceededCheck Succeeded) {
  for (int n = 1; n <= Limit; ++n) {
    cvErrorLog_Clear();
    bool fired = false;
    auto result = [&] {
      FailNthAllocation fail(n);
      auto r = Run();
      fired = fail.Fired();
      return r;
    }();
    if (!fired) {
      Succeeded(result);
      return;
    }
    Failed(n, result);
  }
  ADD_FAILURE() << "every one of " << Limit << " runs met a failed allocation";
}

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The build's bin folder (CV_BIN_DIR), or "." when it is not set.
std::string BinDir();

}  // namespace cvtest

// Asserts that the newest error-log entry carries the given code.
#define EXPECT_LOGGED(code) EXPECT_EQ(cvtest::LastCode(), (code))
