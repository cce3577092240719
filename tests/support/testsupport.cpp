#include "testsupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace cvtest {

std::vector<int32_t> LoggedCodes() {
  std::vector<int32_t> codes;
  for (int32_t i = 0; i < cvErrorLog_Count(); ++i) {
    int32_t code = 0;
    const char* text = nullptr;
    cvErrorLog_Report(i, &code, &text);
    codes.push_back(code);
  }
  return codes;
}

int32_t LastCode() {
  int32_t code = 0;
  const char* text = nullptr;
  if (!cvErrorLog_Report(cvErrorLog_Count() - 1, &code, &text)) return 0;
  return code;
}

TempDir::TempDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("cvtest-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

FailNthAllocation::FailNthAllocation(int n) { cvRam_SetFailCountdown(n); }
FailNthAllocation::~FailNthAllocation() { cvRam_SetFailCountdown(0); }
bool FailNthAllocation::Fired() const { return cvRam_FailCountdownFired() != 0; }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string BinDir() {
  const char* dir = std::getenv("CV_BIN_DIR");
  return dir ? dir : ".";
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace cvtest
