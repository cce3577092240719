// Actor definitions (a body and its motions), the actor file, and the
// creation, sharing and destruction of actor instances.
//
// The actor file is an archive: "Header" (tag, version, has-body word,
// motion count), "Body" (a body file) when there is a body, and the
// directory "Motions" holding motion i under the name "i".
#include <cstdio>
#include <cstring>
#include <memory>

#include "Actor/actordef.h"
#include "Actor/puppet.h"
#include "Support/cvsupport.h"

namespace {

// Process-wide diagnostic counters.
int32_t gLiveDefinitions = 0;
int32_t gDefinitionReferences = 0;
int32_t gLiveInstances = 0;
int32_t gInstanceReferences = 0;

constexpr uint32_t kHeaderSize = 16;

struct FileCloser {
  void operator()(cvVFile* File) const { cvVFile_Close(File); }
};
using FileHandle = std::unique_ptr<cvVFile, FileCloser>;

struct DefinitionDestroyer {
  void operator()(cvActorDef* Def) const {
    // A definition still being read has no other holder.
    Def->RefCount = 0;
    cvActorDef_Destroy(&Def);
  }
};
using DefinitionHandle = std::unique_ptr<cvActorDef, DefinitionDestroyer>;

bool CloseWritten(FileHandle& File) { return cvVFile_Close(File.release()) != 0; }

void EntryName(int32_t Index, char (&Name)[16]) { std::snprintf(Name, sizeof Name, "%d", (int)Index); }

}  // namespace

// ---------------------------------------------------------------------------
// Definitions
// ---------------------------------------------------------------------------

cvActorDef* cvActorDef_Create(void) {
  cvActorDef* def = static_cast<cvActorDef*>(cvRam_AllocateClear(sizeof(cvActorDef)));
  if (!def) {
    CV_ERROR(110);
    return nullptr;
  }
  def->Self = def;
  ++gLiveDefinitions;
  return def;
}

int cvActorDef_CreateRef(cvActorDef* Def) {
  if (!cvActorDef_IsValid(Def)) {
    CV_ERROR(-1);
    return 0;
  }
  ++Def->RefCount;
  ++gDefinitionReferences;
  return 1;
}

int cvActorDef_Destroy(cvActorDef** Def) {
  if (!Def || !cvActorDef_IsValid(*Def)) return 0;
  cvActorDef* def = *Def;
  if (def->RefCount > 0) {
    --def->RefCount;
    --gDefinitionReferences;
    return 0;
  }
  def->Self = nullptr;
  if (def->Body) cvBody_Destroy(&def->Body);
  for (int32_t i = 0; i < def->MotionCount && def->Motions; ++i) {
    if (def->Motions[i]) cvMotion_Destroy(&def->Motions[i]);
  }
  cvRam_Free(def->Motions);
  cvRam_Free(def);
  --gLiveDefinitions;
  *Def = nullptr;
  return 1;
}

int cvActorDef_IsValid(const cvActorDef* Def) { return Def && Def->Self == Def; }

int32_t cvActorDef_GetCount(void) { return gLiveDefinitions; }

cvBody* cvActorDef_GetBody(const cvActorDef* Def) { return Def ? Def->Body : nullptr; }

int cvActorDef_SetBody(cvActorDef* Def, cvBody* Body) {
  if (!cvActorDef_IsValid(Def) || Def->RefCount > 0) {
    CV_ERROR(-1);
    return 0;
  }
  if (Def->Body != Body) {
    if (Def->Body) cvBody_Destroy(&Def->Body);
    Def->Body = Body;
  }
  return 1;
}

int cvActorDef_AddMotion(cvActorDef* Def, cvMotion* Motion, int32_t* Number) {
  if (!cvActorDef_IsValid(Def) || !Motion) {
    CV_ERROR(-1);
    return 0;
  }
  if (Def->MotionCount >= CV_ACTOR_MAX_MOTIONS) {
    CV_ERROR(113);
    return 0;
  }
  void* grown = cvRam_Realloc(Def->Motions, sizeof(cvMotion*) * (size_t)(Def->MotionCount + 1));
  if (!grown) {
    CV_ERROR(110);
    return 0;
  }
  Def->Motions = static_cast<cvMotion**>(grown);
  Def->Motions[Def->MotionCount++] = Motion;
  if (Number) *Number = Def->MotionCount;
  return 1;
}

int32_t cvActorDef_GetMotionCount(const cvActorDef* Def) { return Def ? Def->MotionCount : 0; }

cvMotion* cvActorDef_GetMotionByIndex(const cvActorDef* Def, int32_t Index) {
  if (!Def || Index < 0 || Index >= Def->MotionCount) return nullptr;
  return Def->Motions[Index];
}

cvMotion* cvActorDef_GetMotionByName(const cvActorDef* Def, const char* Name) {
  if (!Def || !Name) return nullptr;
  for (int32_t i = 0; i < Def->MotionCount; ++i) {
    const char* name = Def->Motions[i] ? cvMotion_GetName(Def->Motions[i]) : nullptr;
    if (name && std::strcmp(name, Name) == 0) return Def->Motions[i];
  }
  return nullptr;
}

const char* cvActorDef_GetMotionName(const cvActorDef* Def, int32_t Index) {
  const cvMotion* motion = cvActorDef_GetMotionByIndex(Def, Index);
  return motion ? cvMotion_GetName(motion) : nullptr;
}

int cvActorDef_HasBoneNamed(const cvActorDef* Def, const char* Name) {
  if (!Def || !Def->Body) return 0;
  return cvBody_GetBoneByName(Def->Body, Name, nullptr, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Actor file
// ---------------------------------------------------------------------------

namespace {

// Reads the motions directory into Def: motion i from the entry named "i".
// The array grows with each motion read, so a header claiming more motions
// than the directory holds fails at the first missing entry without ever
// allocating from the claimed count.
bool ReadMotions(cvVFile* Archive, cvActorDef* Def, int32_t MotionCount) {
  FileHandle directory(cvVFile_Open(Archive, "Motions", CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY));
  if (!directory) {
    CV_ERROR(114);
    return false;
  }
  if (MotionCount > CV_ACTOR_MAX_MOTIONS) {
    CV_ERROR(114);
    return false;
  }
  for (int32_t i = 0; i < MotionCount; ++i) {
    char name[16];
    EntryName(i, name);
    FileHandle entry(cvVFile_Open(directory.get(), name, CV_VFILE_OPEN_READONLY));
    if (!entry) {
      CV_ERROR(114);
      return false;
    }
    cvMotion* motion = cvMotion_CreateFromFile(entry.get());
    if (!motion) {
      CV_ERROR(114);
      return false;
    }
    if (!cvActorDef_AddMotion(Def, motion, nullptr)) {
      cvMotion_Destroy(&motion);
      return false;
    }
  }
  return true;
}

}  // namespace

cvActorDef* cvActorDef_CreateFromFile(cvVFile* File) {
  if (!File) {
    CV_ERROR(114);
    return nullptr;
  }
  FileHandle archive(cvVFile_OpenNewSystem(File, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr,
                                           CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY));
  if (!archive) {
    CV_ERROR(114);
    return nullptr;
  }
  FileHandle header(cvVFile_Open(archive.get(), "Header", CV_VFILE_OPEN_READONLY));
  uint32_t tag = 0, version = 0, hasBody = 0, motionCount = 0;
  if (!header || !cvVFile_ReadLE32(header.get(), &tag) || tag != CV_ACTOR_TAG ||
      !cvVFile_ReadLE32(header.get(), &version) || version != CV_ACTOR_VERSION) {
    CV_ERROR(114);
    return nullptr;
  }
  DefinitionHandle def(cvActorDef_Create());
  if (!def) return nullptr;
  // The archive the definition came from is closed when reading ends, so the
  // definition keeps no handle to it (FileSystem stays null) rather than a
  // pointer to a closed file.
  if (!cvVFile_ReadLE32(header.get(), &hasBody) || !cvVFile_ReadLE32(header.get(), &motionCount)) {
    CV_ERROR(114);
    return nullptr;
  }
  header.reset();

  if (hasBody) {
    FileHandle bodyFile(cvVFile_Open(archive.get(), "Body", CV_VFILE_OPEN_READONLY));
    if (!bodyFile) {
      CV_ERROR(114);
      return nullptr;
    }
    cvBody* body = cvBody_CreateFromFile(bodyFile.get());
    if (!body) {
      CV_ERROR(114);
      return nullptr;
    }
    if (!cvActorDef_SetBody(def.get(), body)) {
      cvBody_Destroy(&body);
      CV_ERROR(110);
      return nullptr;
    }
  }
  if (!ReadMotions(archive.get(), def.get(), (int32_t)motionCount)) return nullptr;
  return def.release();
}

int cvActorDef_WriteToFile(const cvActorDef* Def, cvVFile* File) {
  if (!cvActorDef_IsValid(Def) || !File) {
    CV_ERROR(116);
    return 0;
  }
  FileHandle archive(cvVFile_OpenNewSystem(File, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr,
                                           CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY));
  if (!archive) {
    CV_ERROR(116);
    return 0;
  }
  uint8_t headerBytes[kHeaderSize];
  cvLE_Put32(headerBytes, CV_ACTOR_TAG);
  cvLE_Put32(headerBytes + 4, CV_ACTOR_VERSION);
  cvLE_Put32(headerBytes + 8, Def->Body ? 1u : 0u);
  cvLE_Put32(headerBytes + 12, (uint32_t)Def->MotionCount);
  FileHandle header(cvVFile_Open(archive.get(), "Header", CV_VFILE_OPEN_CREATE));
  if (!header || !cvVFile_Write(header.get(), headerBytes, kHeaderSize) || !CloseWritten(header)) {
    CV_ERROR(116);
    return 0;
  }
  if (Def->Body) {
    FileHandle bodyFile(cvVFile_Open(archive.get(), "Body", CV_VFILE_OPEN_CREATE));
    if (!bodyFile || !cvBody_WriteToFile(Def->Body, bodyFile.get()) || !CloseWritten(bodyFile)) {
      CV_ERROR(116);
      return 0;
    }
  }
  FileHandle directory(cvVFile_Open(archive.get(), "Motions", CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY));
  if (!directory) {
    CV_ERROR(116);
    return 0;
  }
  for (int32_t i = 0; i < Def->MotionCount; ++i) {
    char name[16];
    EntryName(i, name);
    FileHandle entry(cvVFile_Open(directory.get(), name, CV_VFILE_OPEN_CREATE));
    if (!entry || !cvMotion_WriteToFile(Def->Motions[i], entry.get()) || !CloseWritten(entry)) {
      CV_ERROR(116);
      return 0;
    }
  }
  if (!CloseWritten(directory) || !CloseWritten(archive)) {
    CV_ERROR(116);
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Instances
// ---------------------------------------------------------------------------

cvActor* cvActor_Create(cvActorDef* Def) {
  if (!cvActorDef_IsValid(Def) || !cvBody_IsValid(Def->Body)) {
    CV_ERROR(-1);
    return nullptr;
  }
  cvActor* actor = static_cast<cvActor*>(cvRam_AllocateClear(sizeof(cvActor)));
  if (!actor) {
    CV_ERROR(110);
    return nullptr;
  }
  auto fail = [&actor]() -> cvActor* {
    if (actor->Pose) cvPose_Destroy(&actor->Pose);
    if (actor->CueMotion) cvMotion_Destroy(&actor->CueMotion);
    cvRam_Free(actor);
    CV_ERROR(110);
    return nullptr;
  };
  actor->Pose = cvPose_Create();
  if (!actor->Pose) return fail();
  actor->CueMotion = cvMotion_Create(1);
  if (!actor->CueMotion) return fail();
  actor->RefCount = 0;
  actor->BlendingType = 1;
  actor->Definition = Def;
  actor->ExtBoxBone = -1;
  actor->RenderHintBone = -1;
  actor->CueBone = -1;
  actor->RenderHintEnabled = 0;
  actor->UserValue = 0;
  const cvBody* body = Def->Body;
  for (int32_t i = 0; i < cvBody_GetBoneCount(body); ++i) {
    const char* name = nullptr;
    cvXForm3d attachment;
    int32_t parent = -1;
    int32_t joint = 0;
    if (!cvBody_GetBone(body, i, &name, &attachment, &parent) ||
        !cvPose_AddJoint(actor->Pose, parent, name, &attachment, &joint))
      return fail();
  }
  std::memset(&actor->ExtBox, 0, sizeof actor->ExtBox);
  std::memset(&actor->RenderHintBox, 0, sizeof actor->RenderHintBox);
  cvActorDef_CreateRef(Def);
  ++gLiveInstances;
  return actor;
}

int cvActor_CreateRef(cvActor* Actor) {
  if (!Actor) {
    CV_ERROR(-1);
    return 0;
  }
  ++Actor->RefCount;
  ++gInstanceReferences;
  return 1;
}

int cvActor_Destroy(cvActor** Actor) {
  if (!Actor || !*Actor) return 0;
  cvActor* actor = *Actor;
  if (actor->RefCount > 0) {
    --actor->RefCount;
    --gInstanceReferences;
    return 1;
  }
  // The puppet shows the definition's body, so it goes before the
  // definition reference that may free that body.
  if (actor->Puppet) cvPuppet_Destroy(&actor->Puppet);
  cvPose_Destroy(&actor->Pose);
  if (actor->CueMotion) cvMotion_Destroy(&actor->CueMotion);
  cvActorDef_Destroy(&actor->Definition);
  cvRam_Free(actor);
  --gLiveInstances;
  *Actor = nullptr;
  return 1;
}

int cvActor_IsValid(const cvActor* Actor) {
  return Actor && cvActorDef_IsValid(Actor->Definition) && Actor->Pose && Actor->CueMotion &&
         cvBody_IsValid(Actor->Definition->Body);
}

int32_t cvActor_GetCount(void) { return gLiveInstances; }

cvActorDef* cvActor_GetActorDef(const cvActor* Actor) { return Actor ? Actor->Definition : nullptr; }

int cvActor_SetBlendingType(cvActor* Actor, int32_t Flag) {
  if (!Actor) return 0;
  Actor->BlendingType = Flag ? 1 : 0;
  return 1;
}

int32_t cvActor_GetUserValue(const cvActor* Actor) { return Actor ? Actor->UserValue : 0; }

int cvActor_SetUserValue(cvActor* Actor, int32_t Value) {
  if (!Actor) return 0;
  Actor->UserValue = Value;
  return 1;
}

int cvActor_GetBoneIndex(const cvActor* Actor, const char* BoneName, int32_t* Index) {
  if (!BoneName) {
    if (Index) *Index = -1;
    return 1;
  }
  int32_t index = -1;
  if (!Actor || !Actor->Definition ||
      !cvBody_GetBoneByName(Actor->Definition->Body, BoneName, &index, nullptr, nullptr)) {
    CV_ERROR(-1);
    return 0;
  }
  if (Index) *Index = index;
  return 1;
}
