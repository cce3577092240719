// Shared set-up of the framework tests: each test runs in a fresh temporary
// current directory (so that only the configuration files it writes are
// found) with scripted dialogs and no keys down.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "framework/cvframework.h"
#include "platform/dialogs.h"
#include "platform/input.h"
#include "platform/window.h"
#include "testsupport.h"

namespace fwtest {

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    oldDirectory_ = cwd;
    ASSERT_EQ(chdir(dir_.Path().c_str()), 0);
    cvplatform::SetDialogs(&Dialogs);
    cvplatform::ReleaseAllKeys();
    cvErrorLog_Clear();
  }
  void TearDown() override {
    cvplatform::SetDialogs(nullptr);
    cvplatform::ReleaseAllKeys();
    ASSERT_EQ(chdir(oldDirectory_.c_str()), 0);
  }
  void WriteText(const std::string& Name, const std::string& Text) {
    cvtest::WriteFileBytes(dir_.File(Name), std::vector<uint8_t>(Text.begin(), Text.end()));
  }
  const std::string& Directory() const { return dir_.Path(); }

  cvplatform::ScriptedDialogs Dialogs;

 private:
  cvtest::TempDir dir_;
  std::string oldDirectory_;
};

inline std::string SampleActorPath() { return cvtest::BinDir() + "/sample.act"; }

}  // namespace fwtest
