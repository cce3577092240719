// Actor file reader. An input starting with "ACTR" is taken apart: its first
// 16 bytes become the "Header" entry and the rest the "Motions" entry "0" of
// an actor archive that also holds a small valid body, so that mutations
// reach the header and motion readers; any other input is read as a whole
// actor file. An accepted definition is also given an instance.
#include <cstring>

#include "Actor/cvactor.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

cvBody* MakeBody() {
  cvBody* body = cvBody_Create();
  if (!body) return nullptr;
  cvXForm3d up;
  cvXForm3d_SetTranslation(&up, 0, 1, 0);
  cvBody_AddBone(body, -1, "hip", &up, nullptr);
  cvBody_AddBone(body, 0, "knee", &up, nullptr);
  cvBody_AddMaterial(body, "cloth", nullptr, 100, 50, 25, nullptr);
  cvVec3d p0{0, 0, 0}, p1{1, 0, 0}, p2{0, 1, 0}, n{0, 0, 1};
  cvBody_AddFace(body, &p0, &n, 0, 0, 0, &p1, &n, 1, 0, 0, &p2, &n, 0, 1, 1, 0);
  return body;
}

cvMotion* MakeMotion(const char* Name, float Angle) {
  cvMotion* motion = cvMotion_Create(1);
  if (!motion) return nullptr;
  cvMotion_SetName(motion, Name);
  for (const char* joint : {"hip", "knee"}) {
    cvPath* path = cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, 1);
    if (!path) continue;
    for (int k = 0; k < 3; ++k) {
      cvXForm3d key;
      cvXForm3d_SetXRotation(&key, Angle * (float)k);
      key.T = {0, 0.1f * (float)k, 0};
      cvPath_InsertKeyframe(path, CV_PATH_ALL_CHANNELS, (float)k * 0.5f, &key);
    }
    cvMotion_AddPath(motion, path, joint, nullptr);
    cvPath_Destroy(&path);
  }
  return motion;
}

cvActorDef* MakeDefinition(bool WithBody, int Motions) {
  cvActorDef* def = cvActorDef_Create();
  if (!def) return nullptr;
  if (WithBody) cvActorDef_SetBody(def, MakeBody());
  for (int i = 0; i < Motions; ++i) {
    cvMotion* motion = MakeMotion(i % 2 ? "walk" : "idle", 0.3f * (float)(i + 1));
    if (motion && !cvActorDef_AddMotion(def, motion, nullptr)) cvMotion_Destroy(&motion);
  }
  return def;
}

// The bytes of the body file of the small definition, made once.
const std::vector<uint8_t>& BodyFile() {
  static const std::vector<uint8_t> bytes = [] {
    cvBody* body = MakeBody();
    std::vector<uint8_t> out;
    if (body) out = cvfuzz::WriteBytes([&](cvVFile* file) { return cvBody_WriteToFile(body, file); });
    cvBody_Destroy(&body);
    return out;
  }();
  return bytes;
}

std::vector<uint8_t> Assemble(const uint8_t* Data, size_t Size) {
  return cvfuzz::BuildArchive([&](cvVFile* archive) {
    const size_t headerSize = Size < 16 ? Size : 16;
    cvfuzz::WriteEntry(archive, "Header", Data, headerSize);
    cvfuzz::WriteEntry(archive, "Body", BodyFile().data(), BodyFile().size());
    if (cvVFile* motions = cvVFile_Open(archive, "Motions", CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY)) {
      cvfuzz::WriteEntry(motions, "0", Data + headerSize, Size - headerSize);
      cvVFile_Close(motions);
    }
  });
}

void ReadActor(const uint8_t* Data, size_t Size) {
  if (cvActorDef* def = cvfuzz::ReadBytes(Data, Size, cvActorDef_CreateFromFile)) {
    cvActor* actor = cvActor_Create(def);
    if (actor) {
      cvMotion* motion = cvActorDef_GetMotionByIndex(def, 0);
      cvPose_SetMotion(actor->Pose, motion, 0.25f, nullptr);
      cvPose_GetAllJointTransforms(actor->Pose);
      cvActor_Destroy(&actor);
    }
    cvActorDef_Destroy(&def);
  }
  cvErrorLog_Clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size >= 4 && std::memcmp(Data, "ACTR", 4) == 0) {
    const std::vector<uint8_t> assembled = Assemble(Data, Size);
    if (!assembled.empty()) ReadActor(assembled.data(), assembled.size());
  } else {
    ReadActor(Data, Size);
  }
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int count = 0;
  const struct {
    bool WithBody;
    int Motions;
    const char* Name;
  } shapes[] = {{false, 0, "empty"}, {true, 0, "body_only"}, {true, 1, "one_motion"}, {true, 3, "three_motions"}};
  for (const auto& shape : shapes) {
    cvActorDef* def = MakeDefinition(shape.WithBody, shape.Motions);
    const std::vector<uint8_t> file =
        def ? cvfuzz::WriteBytes([&](cvVFile* f) { return cvActorDef_WriteToFile(def, f); }) : std::vector<uint8_t>{};
    cvActorDef_Destroy(&def);
    if (file.empty()) continue;
    cvfuzz::WriteSeed(Dir, std::string("actor_") + shape.Name, file);
    ++count;
  }
  // Header-and-motion form: a header claiming one motion, then a binary motion.
  cvActorDef* def = MakeDefinition(true, 1);
  std::vector<uint8_t> seed(16);
  cvLE_Put32(&seed[0], CV_ACTOR_TAG);
  cvLE_Put32(&seed[4], CV_ACTOR_VERSION);
  cvLE_Put32(&seed[8], 1);
  cvLE_Put32(&seed[12], 1);
  const std::vector<uint8_t> motion =
      def ? cvfuzz::WriteBytes([&](cvVFile* f) { return cvMotion_WriteToFile(cvActorDef_GetMotionByIndex(def, 0), f); })
          : std::vector<uint8_t>{};
  if (!motion.empty()) {
    seed.insert(seed.end(), motion.begin(), motion.end());
    cvfuzz::WriteSeed(Dir, "parts_header_motion", seed);
    ++count;
  }
  cvActorDef_Destroy(&def);
  return count;
}
