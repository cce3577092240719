// Fuzz target: paths read with cvPath_CreateFromFile in every form (binary,
// text versions 0xF1/0xF2 and the earlier "CHNL" layout). A path that reads is
// sampled across and beyond its keys, copied, written in both forms, and its
// binary form must read back with the same keys.
#include <cstring>
#include <string>

#include "Anim/cvanim.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

cvPath* ReadMemory(const uint8_t* Data, size_t Size) { return cvfuzz::ReadBytes(Data, Size, cvPath_CreateFromFile); }

std::vector<uint8_t> WriteMemory(cvPath* Path, bool Binary) {
  return cvfuzz::WriteBytes([&](cvVFile* file) { return Binary ? cvPath_WriteToBinaryFile(Path, file) : cvPath_WriteToFile(Path, file); });
}

void Exercise(cvPath* Path) {
  float start = 0.0f, end = 0.0f;
  if (!cvPath_GetTimeExtents(Path, &start, &end)) start = end = 0.0f;
  const float span = end - start;
  for (int i = -8; i <= 24; ++i) {
    cvXForm3d x;
    cvPath_Sample(Path, start + span * static_cast<float>(i) / 16.0f, &x);
  }
  cvQuaternion q;
  cvVec3d v;
  cvPath_SampleChannels(Path, -1e30f, &q, &v);
  cvPath_SampleChannels(Path, 1e30f, &q, &v);
}

std::string Text(const char* S) { return S; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  cvErrorLog_Clear();
  cvPath* path = ReadMemory(Data, Size);
  if (!path) return 0;
  Exercise(path);
  cvPath* copy = cvPath_CreateCopy(path);
  if (copy) {
    Exercise(copy);
    cvPath_Destroy(&copy);
  }
  WriteMemory(path, false);
  const std::vector<uint8_t> binary = WriteMemory(path, true);
  if (!binary.empty()) {
    // Compressed times may collapse for extreme inputs; a path that reads
    // back must hold the same number of keys.
    if (cvPath* back = ReadMemory(binary.data(), binary.size())) {
      if (cvPath_GetKeyframeCount(back, 1) != cvPath_GetKeyframeCount(path, 1) ||
          cvPath_GetKeyframeCount(back, 2) != cvPath_GetKeyframeCount(path, 2))
        __builtin_trap();
      cvPath_Destroy(&back);
    }
  }
  cvPath_Destroy(&path);
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int count = 0;
  const int rotations[] = {0, 2, 3}, translations[] = {0, 1, 7};
  for (int r = 0; r < 3; ++r) {
    for (int t = 0; t < 3; ++t) {
      cvPath* p = cvPath_Create(translations[t], rotations[r], (r + t) % 2);
      const int keys = 2 + 3 * r + t;
      for (int k = 0; k < keys; ++k) {
        cvXForm3d x;
        cvXForm3d_SetYRotation(&x, 0.4f * static_cast<float>(k));
        if (t == 2) cvXForm3d_RotateX(&x, 0.1f * static_cast<float>(k * k));
        x.T = cvVec3d{static_cast<float>(k), static_cast<float>(k % 3), -0.5f};
        // Uneven times for some paths, so both time layouts appear.
        const float time = r == 1 ? 0.3f * static_cast<float>(k * k) : 0.25f * static_cast<float>(k);
        cvPath_InsertKeyframe(p, r == 2 && t == 0 ? 1 : 3, time, &x);
      }
      const std::string name = "path_" + std::to_string(r) + std::to_string(t);
      cvfuzz::WriteSeed(Dir, name + ".bin", WriteMemory(p, true));
      cvfuzz::WriteSeed(Dir, name + ".txt", WriteMemory(p, false));
      count += 2;
      cvPath_Destroy(&p);
    }
  }
  const std::string older[] = {
      Text("PATH 0.F1\nRotation 1\nKeys 2 1 0 0\n0 1 0 0 0\n1 0 1 0 0\nTranslation 1\nKeys 2 0 0 1\n0 1 2 3\n1 3 2 1\n"),
      Text("PATH 0.F0\nLooped 1\nRotation 1\nCHNL 0.F0\nInterpolationType 3\nStartTime 0\nEndTime 1\nKeyList 2\n"
           "0.0\nQKFQ 1 0 0 0 1 0 0 0\n1.0\nQKFQ\n0 0 0 1 0 0 0 1\nTranslation 1\nCHNL 0.F0\nKeyList 2\n"
           "0.0\nVKFH 0 0 0 0 0 0 0 0 0\n2.0\nVKFH 4 0 -2 0 0 0 0 0 0\nInterpolationType 1\nStartTime 0\nEndTime 2\n"),
      Text("PATH 0.F0\nLooped 0\nRotation 0\nTranslation 1\nCHNL 0.F0\nKeyList 1\n0.5\nVKFL 1 2 3\n"
           "InterpolationType 0\nStartTime 0.5\nEndTime 0.5\n"),
  };
  for (size_t i = 0; i < sizeof older / sizeof older[0]; ++i) {
    cvfuzz::WriteSeed(Dir, "older_" + std::to_string(i) + ".txt", std::vector<uint8_t>(older[i].begin(), older[i].end()));
    ++count;
  }
  return count;
}
