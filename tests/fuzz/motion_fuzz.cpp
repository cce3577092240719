// Fuzz target: motions read with cvMotion_CreateFromFile (binary "MTNB", the
// form stored in actor files, and text "MOTN"). A motion that reads is
// sampled by index and by name, its events are iterated, it is mixed into a
// compound motion, written in both forms, and its binary form must read back
// with the same paths, names and checksum.
#include <cstring>
#include <string>

#include "Anim/cvanim.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

cvMotion* ReadMemory(const uint8_t* Data, size_t Size) { return cvfuzz::ReadBytes(Data, Size, cvMotion_CreateFromFile); }

std::vector<uint8_t> WriteMemory(const cvMotion* Motion, bool Binary) {
  return cvfuzz::WriteBytes([&](cvVFile* file) { return Binary ? cvMotion_WriteToFile(Motion, file) : cvMotion_WriteToTextFile(Motion, file); });
}

void Exercise(cvMotion* Motion) {
  float start = 0.0f, end = 0.0f;
  if (!cvMotion_GetTimeExtents(Motion, &start, &end)) start = end = 0.0f;
  const int32_t count = cvMotion_GetPathCount(Motion);
  for (int32_t i = 0; i < count && i < 64; ++i) {
    for (int k = -2; k <= 6; ++k) {
      cvXForm3d x;
      const float t = start + (end - start) * static_cast<float>(k) / 4.0f;
      cvMotion_SampleByIndex(Motion, i, t, &x);
      if (const char* name = cvMotion_GetPathName(Motion, i)) cvMotion_SampleByName(Motion, name, t, &x);
    }
  }
  cvMotion_GetNameChecksum(Motion);
  if (cvMotion_SetupEventIterator(Motion, start - 1.0f, end + 1.0f)) {
    float time;
    const char* text;
    while (cvMotion_GetNextEvent(Motion, &time, &text)) {
    }
  }
}

cvMotion* Seed(int Variant) {
  cvMotion* m = cvMotion_Create(Variant != 1);
  if (Variant != 2) cvMotion_SetName(m, Variant == 0 ? "walk" : "run fast");
  if (Variant == 3) return m;  // unset
  const char* bones[] = {"Bip01", "Bip01 Pelvis", "Bip01 Spine", "Bip01 Head"};
  for (int b = 0; b < 4; ++b) {
    cvPath* p = cvPath_Create(b == 1 ? 1 : 0, b == 2 ? 3 : 2, Variant == 2);
    for (int k = 0; k < 3 + b; ++k) {
      cvXForm3d x;
      cvXForm3d_SetZRotation(&x, 0.2f * static_cast<float>(k + b));
      x.T = cvVec3d{static_cast<float>(b), 0.1f * static_cast<float>(k), 0.0f};
      cvPath_InsertKeyframe(p, 3, 0.2f * static_cast<float>(k * (b + 1)), &x);
    }
    cvMotion_AddPath(m, p, Variant == 1 ? nullptr : bones[b], nullptr);
    cvPath_Destroy(&p);
  }
  if (Variant != 1) {
    cvMotion_InsertEvent(m, 0.1f, "step");
    cvMotion_InsertEvent(m, 0.6f, "step again");
  }
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  cvErrorLog_Clear();
  cvMotion* motion = ReadMemory(Data, Size);
  if (!motion) return 0;
  Exercise(motion);
  // Mixed into a compound motion with itself at another speed.
  if (cvMotion* mix = cvMotion_Create(0)) {
    cvXForm3d base;
    cvXForm3d_SetTranslation(&base, 1.0f, 2.0f, 3.0f);
    cvMotion_AddSubMotion(mix, motion, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, nullptr, nullptr);
    cvMotion_AddSubMotion(mix, motion, 2.0f, 0.5f, 0.0f, 0.0f, 1.0f, 1.0f, &base, nullptr);
    for (int32_t i = 0; i < cvMotion_GetPathCount(motion) && i < 8; ++i) {
      cvXForm3d x;
      cvMotion_SampleByIndex(mix, i, 0.75f, &x);
    }
    cvXForm3d x;
    cvMotion_SampleBaseTransform(mix, 0.25f, &x);
    cvMotion_GetNameChecksum(mix);
    cvMotion_Destroy(&mix);
  }
  WriteMemory(motion, false);
  const std::vector<uint8_t> binary = WriteMemory(motion, true);
  if (!binary.empty()) {
    // Compressed key times may collapse for extreme inputs; a motion that
    // reads back must hold the same paths and names.
    if (cvMotion* back = ReadMemory(binary.data(), binary.size())) {
      if (cvMotion_GetPathCount(back) != cvMotion_GetPathCount(motion) ||
          cvMotion_GetNameChecksum(back) != cvMotion_GetNameChecksum(motion))
        __builtin_trap();
      cvMotion_Destroy(&back);
    }
  }
  cvMotion_Destroy(&motion);
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int count = 0;
  for (int v = 0; v < 4; ++v) {
    cvMotion* m = Seed(v);
    cvfuzz::WriteSeed(Dir, "motion_" + std::to_string(v) + ".bin", WriteMemory(m, true));
    cvfuzz::WriteSeed(Dir, "motion_" + std::to_string(v) + ".txt", WriteMemory(m, false));
    count += 2;
    cvMotion_Destroy(&m);
  }
  return count;
}
