// Actor file speed: writing and reading a whole actor (header, body archive
// with its bitmaps, motions) through a growable memory file and through a
// disk file, for two actors:
//   small: the bundled sample actor (bin/sample.act beside the benchmark
//          program) when the build has made it, else a generated figure of
//          16 bones, 1,920 triangles (1,280 in the full level, 640 in a
//          coarser one), four materials (three textured, 64 x 64) and two
//          motions;
//   large: a generated figure of 32 bones with 50,000 triangles over three
//          levels of detail (32,000 + 16,000 + 2,000; one level holds at most
//          32,767 faces), 17,472 vertices, four materials (three textured,
//          256 x 256) and two 32-path motions of 60 keys.
// Reported as bytes of actor file per second; the label gives the file size
// and the triangle count.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"

namespace {

struct Shape {
  int Bones;
  int Rows;     // grid rows per bone
  int Columns;  // grid columns per bone
  int Texture;  // texture width and height
};

cvBitmap* Texture(int Size, int Seed) {
  cvBitmap* bitmap = cvBitmap_Create(Size, Size, 1, CV_PIXELFORMAT_24BIT_RGB);
  uint8_t* pixels = bitmap ? cvBitmap_AllocateMip(bitmap, 0) : nullptr;
  if (!pixels) return bitmap;
  for (int y = 0; y < Size; ++y)
    for (int x = 0; x < Size; ++x) {
      uint8_t* p = pixels + 3 * (y * Size + x);
      p[0] = (uint8_t)(x * 3 + Seed * 40);
      p[1] = (uint8_t)(y * 5 + ((x / 8 + y / 8) % 2) * 60);
      p[2] = (uint8_t)((x ^ y) + Seed);
    }
  cvBitmap_SetMipValid(bitmap, 0, 1);
  return bitmap;
}

// A chain of bones, each wrapped in a tube: a grid of Rows x Columns
// vertices around the bone's axis, closed around.
cvBody* MakeBody(const Shape& S) {
  cvBody* body = cvBody_Create();
  cvXForm3d up;
  cvXForm3d_SetTranslation(&up, 0, 1, 0);
  for (int b = 0; b < S.Bones; ++b) {
    char name[16];
    std::snprintf(name, sizeof name, "bone%02d", b);
    cvBody_AddBone(body, b == 0 ? -1 : (b % 4 == 0 ? 0 : b - 1), name, &up, nullptr);
  }
  const char* materials[] = {"skin", "cloth", "leather", "metal"};
  for (int m = 0; m < 4; ++m) {
    cvBitmap* bitmap = m < 3 ? Texture(S.Texture, m) : nullptr;
    cvBody_AddMaterial(body, materials[m], bitmap, 200.0f - 30.0f * (float)m, 150, 100, nullptr);
    if (bitmap) cvBitmap_Destroy(&bitmap);
  }
  const float turn = 6.2831853f / (float)(S.Columns - 1);
  auto corner = [&](int Row, int Column, cvVec3d* P, cvVec3d* N, float* U, float* V) {
    const float a = turn * (float)Column;
    *N = {std::cos(a), 0, std::sin(a)};
    *P = {0.3f * N->X, (float)Row / (float)(S.Rows - 1), 0.3f * N->Z};
    *U = (float)Column / (float)(S.Columns - 1);
    *V = (float)Row / (float)(S.Rows - 1);
  };
  for (int b = 0; b < S.Bones; ++b) {
    for (int r = 0; r + 1 < S.Rows; ++r) {
      for (int c = 0; c + 1 < S.Columns; ++c) {
        cvVec3d p[4], n[4];
        float u[4], v[4];
        corner(r, c, &p[0], &n[0], &u[0], &v[0]);
        corner(r, c + 1, &p[1], &n[1], &u[1], &v[1]);
        corner(r + 1, c, &p[2], &n[2], &u[2], &v[2]);
        corner(r + 1, c + 1, &p[3], &n[3], &u[3], &v[3]);
        const int material = (b + c / 8) % 4;
        cvBody_AddFace(body, &p[0], &n[0], u[0], v[0], b, &p[1], &n[1], u[1], v[1], b, &p[2], &n[2],
                       u[2], v[2], b, material);
        cvBody_AddFace(body, &p[1], &n[1], u[1], v[1], b, &p[3], &n[3], u[3], v[3], b, &p[2], &n[2],
                       u[2], v[2], b, material);
      }
    }
  }
  return body;
}

// Coarser levels of detail made by keeping every Step-th face of level 0.
void AddLevels(cvBody* Body, std::initializer_list<int> Steps) {
  int level = 1;
  for (int step : Steps) {
    const cvBodyLevel& full = Body->Levels[0];
    cvBodyLevel& coarse = Body->Levels[level++];
    const int count = (full.FaceCount + step - 1) / step;
    coarse.Faces = static_cast<cvBodyFace*>(cvRam_Allocate(sizeof(cvBodyFace) * (size_t)count));
    for (int f = 0; f < count; ++f) coarse.Faces[f] = full.Faces[f * step];
    coarse.FaceCount = (int16_t)count;
  }
  Body->LevelCount = level;
}

cvMotion* MakeMotion(const cvBody* Body, const char* Name, int Keys) {
  cvMotion* motion = cvMotion_Create(1);
  cvMotion_SetName(motion, Name);
  for (int b = 0; b < cvBody_GetBoneCount(Body); ++b) {
    cvPath* path = cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, 1);
    for (int k = 0; k < Keys; ++k) {
      cvXForm3d key;
      cvXForm3d_SetXRotation(&key, 0.4f * std::sin(0.2f * (float)(k + b)));
      key.T = {0, 0.01f * (float)k, 0};
      cvPath_InsertKeyframe(path, CV_PATH_ALL_CHANNELS, (float)k / 30.0f, &key);
    }
    const char* name = nullptr;
    cvBody_GetBone(Body, b, &name, nullptr, nullptr);
    cvMotion_AddPath(motion, path, name, nullptr);
    cvPath_Destroy(&path);
  }
  return motion;
}

cvActorDef* MakeActor(const Shape& S, std::initializer_list<int> LevelSteps, int Keys) {
  cvActorDef* def = cvActorDef_Create();
  cvBody* body = MakeBody(S);
  AddLevels(body, LevelSteps);
  cvActorDef_SetBody(def, body);
  cvActorDef_AddMotion(def, MakeMotion(body, "idle", Keys), nullptr);
  cvActorDef_AddMotion(def, MakeMotion(body, "walk", Keys), nullptr);
  return def;
}

std::string BenchDir() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string();
}

cvActorDef* ReadDisk(const std::string& Path) {
  cvVFile* file = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Path.c_str(), nullptr, CV_VFILE_OPEN_READONLY);
  if (!file) return nullptr;
  cvActorDef* def = cvActorDef_CreateFromFile(file);
  cvVFile_Close(file);
  return def;
}

// The two actors, made once.
cvActorDef* Actor(bool Large) {
  static cvActorDef* small = [] {
    cvActorDef* sample = ReadDisk(BenchDir() + "/sample.act");
    return sample ? sample : MakeActor({16, 6, 9, 64}, {2}, 30);
  }();
  static cvActorDef* large = MakeActor({32, 21, 26, 256}, {2, 16}, 60);
  return Large ? large : small;
}

int32_t Triangles(const cvActorDef* Def) {
  const cvBody* body = cvActorDef_GetBody(Def);
  int32_t total = 0;
  for (int level = 0; level < body->LevelCount; ++level) total += body->Levels[level].FaceCount;
  return total;
}

std::vector<uint8_t> WriteMemory(const cvActorDef* Def) {
  cvVFile_MemoryContext context{nullptr, 0};
  cvVFile* file = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_CREATE);
  std::vector<uint8_t> bytes;
  if (cvActorDef_WriteToFile(Def, file)) {
    cvVFile_UpdateContext(file, &context, sizeof context);
    bytes.assign(static_cast<uint8_t*>(context.Data), static_cast<uint8_t*>(context.Data) + context.Length);
  }
  cvVFile_Close(file);
  return bytes;
}

void Label(benchmark::State& State, const cvActorDef* Def, size_t Bytes) {
  char label[96];
  std::snprintf(label, sizeof label, "%zu KiB, %d triangles", Bytes / 1024, (int)Triangles(Def));
  State.SetLabel(label);
  State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Bytes);
}

void BM_ActorWriteMemory(benchmark::State& State) {
  const cvActorDef* def = Actor(State.range(0) != 0);
  size_t bytes = 0;
  for (auto _ : State) {
    cvVFile_MemoryContext context{nullptr, 0};
    cvVFile* file = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_CREATE);
    if (!cvActorDef_WriteToFile(def, file)) State.SkipWithError("write failed");
    cvVFile_UpdateContext(file, &context, sizeof context);
    bytes = context.Length;
    cvVFile_Close(file);
  }
  Label(State, def, bytes);
}

void BM_ActorReadMemory(benchmark::State& State) {
  const cvActorDef* def = Actor(State.range(0) != 0);
  std::vector<uint8_t> bytes = WriteMemory(def);
  for (auto _ : State) {
    cvVFile_MemoryContext context{bytes.data(), (uint32_t)bytes.size()};
    cvVFile* file = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_READONLY);
    cvActorDef* read = cvActorDef_CreateFromFile(file);
    if (!read) State.SkipWithError("read failed");
    cvActorDef_Destroy(&read);
    cvVFile_Close(file);
  }
  Label(State, def, bytes.size());
}

// The yardstick of reading from memory: one memcpy of the same file's bytes
// into a buffer of the same size.
void BM_ActorFileMemcpy(benchmark::State& State) {
  const cvActorDef* def = Actor(State.range(0) != 0);
  const std::vector<uint8_t> bytes = WriteMemory(def);
  std::vector<uint8_t> copy(bytes.size());
  for (auto _ : State) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  Label(State, def, bytes.size());
}

std::string DiskPath(bool Large) {
  return (std::filesystem::temp_directory_path() / (Large ? "cvbench_large.act" : "cvbench_small.act")).string();
}

void BM_ActorWriteDisk(benchmark::State& State) {
  const bool large = State.range(0) != 0;
  const cvActorDef* def = Actor(large);
  const std::string path = DiskPath(large);
  for (auto _ : State) {
    cvVFile* file = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, path.c_str(), nullptr, CV_VFILE_OPEN_CREATE);
    if (!file || !cvActorDef_WriteToFile(def, file)) State.SkipWithError("write failed");
    if (file) cvVFile_Close(file);
  }
  std::error_code error;
  Label(State, def, (size_t)std::filesystem::file_size(path, error));
  std::filesystem::remove(path, error);
}

void BM_ActorReadDisk(benchmark::State& State) {
  const bool large = State.range(0) != 0;
  const cvActorDef* def = Actor(large);
  const std::string path = DiskPath(large);
  cvVFile* out = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, path.c_str(), nullptr, CV_VFILE_OPEN_CREATE);
  const bool written = out && cvActorDef_WriteToFile(def, out);
  if (out) cvVFile_Close(out);
  if (!written) State.SkipWithError("write failed");
  for (auto _ : State) {
    cvActorDef* read = ReadDisk(path);
    if (!read) State.SkipWithError("read failed");
    cvActorDef_Destroy(&read);
  }
  std::error_code error;
  Label(State, def, (size_t)std::filesystem::file_size(path, error));
  std::filesystem::remove(path, error);
}

// Building the large body face by face (vertex and normal sharing, material
// and bone order), for reference: a one-off cost of making actors.
void BM_BodyBuildLarge(benchmark::State& State) {
  for (auto _ : State) {
    cvBody* body = MakeBody({32, 21, 26, 4});
    benchmark::DoNotOptimize(body);
    cvBody_Destroy(&body);
  }
}

}  // namespace

BENCHMARK(BM_ActorWriteMemory)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ActorReadMemory)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ActorFileMemcpy)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ActorWriteDisk)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ActorReadDisk)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BodyBuildLarge)->Unit(benchmark::kMillisecond)->Iterations(2);
