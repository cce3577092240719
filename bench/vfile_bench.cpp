// Archive throughput: writes an archive of 1,000 files in 50 directories
// (1 MB of file data) and reads every file back, once over a growable memory
// file and once over a disk file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "VFile/cvvfile.h"

namespace {

constexpr int kDirectories = 50;
constexpr int kFilesPerDirectory = 20;
constexpr uint32_t kFileSize = 1024 * 1024 / (kDirectories * kFilesPerDirectory);

bool WriteArchive(cvVFile* archive, const std::vector<uint8_t>& payload) {
  bool ok = true;
  for (int d = 0; d < kDirectories; ++d) {
    std::string dirName = "Dir" + std::to_string(d);
    cvVFile* dir = cvVFile_Open(archive, dirName.c_str(), 12);
    if (!dir) return false;
    for (int f = 0; f < kFilesPerDirectory; ++f) {
      cvVFile* file = cvVFile_Open(dir, std::to_string(f).c_str(), CV_VFILE_OPEN_CREATE);
      ok = ok && file && cvVFile_Write(file, payload.data(), kFileSize);
      if (file) cvVFile_Close(file);
    }
    cvVFile_Close(dir);
  }
  return ok;
}

bool ReadArchive(cvVFile* archive, std::vector<uint8_t>* buffer) {
  bool ok = true;
  for (int d = 0; d < kDirectories; ++d) {
    for (int f = 0; f < kFilesPerDirectory; ++f) {
      std::string path = "dir" + std::to_string(d) + "\\" + std::to_string(f);
      cvVFile* file = cvVFile_Open(archive, path.c_str(), CV_VFILE_OPEN_READONLY);
      ok = ok && file && cvVFile_Read(file, buffer->data(), kFileSize);
      if (file) cvVFile_Close(file);
    }
  }
  return ok;
}

void BM_VFileArchiveMemory(benchmark::State& state) {
  std::vector<uint8_t> payload(kFileSize, 0x5A), buffer(kFileSize);
  for (auto _ : state) {
    cvVFile_MemoryContext context{nullptr, 0};
    cvVFile* memory = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_CREATE);
    cvVFile* archive = cvVFile_OpenNewSystem(memory, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 12);
    bool ok = WriteArchive(archive, payload) && cvVFile_Close(archive);
    ok = ok && cvVFile_Seek(memory, 0, CV_VFILE_SEEKSET);
    archive = ok ? cvVFile_OpenNewSystem(memory, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr, 9) : nullptr;
    ok = archive && ReadArchive(archive, &buffer);
    if (archive) cvVFile_Close(archive);
    cvVFile_Close(memory);
    if (!ok) state.SkipWithError("archive round trip failed");
  }
  state.SetBytesProcessed(state.iterations() * 2 * (int64_t)kFileSize * kDirectories * kFilesPerDirectory);
}
BENCHMARK(BM_VFileArchiveMemory)->Unit(benchmark::kMillisecond);

void BM_VFileArchiveDisk(benchmark::State& state) {
  std::vector<uint8_t> payload(kFileSize, 0x5A), buffer(kFileSize);
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/vfile_bench_" + std::to_string(getpid()) + ".act";
  for (auto _ : state) {
    cvVFile* archive = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_VIRTUAL, path.c_str(), nullptr, 12);
    bool ok = archive && WriteArchive(archive, payload) && cvVFile_Close(archive);
    archive = ok ? cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_VIRTUAL, path.c_str(), nullptr, 9) : nullptr;
    ok = archive && ReadArchive(archive, &buffer);
    if (archive) cvVFile_Close(archive);
    if (!ok) state.SkipWithError("archive round trip failed");
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(state.iterations() * 2 * (int64_t)kFileSize * kDirectories * kFilesPerDirectory);
}
BENCHMARK(BM_VFileArchiveDisk)->Unit(benchmark::kMillisecond);

}  // namespace
