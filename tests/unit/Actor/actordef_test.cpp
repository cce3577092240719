// Actor definitions and instances: the actor file round trip, refusal of
// malformed files, reference counts and instance creation.
#include <cstring>

#include "actor_testutil.h"
#include "testsupport.h"

using namespace actortest;

namespace {

// A definition with MakeBody() and the motions "idle", "walk", "idle".
cvActorDef* MakeDefinition() {
  cvActorDef* def = cvActorDef_Create();
  if (!def) return nullptr;
  const std::vector<std::string> joints{"root", "spine", "leg", "head"};
  int32_t number = 0;
  bool ok = cvActorDef_SetBody(def, MakeBody());
  for (const char* name : {"idle", "walk", "idle"}) {
    cvMotion* motion = MakeMotion(name, joints, 0.2f, 0.1f, 1);
    ok = ok && motion && cvActorDef_AddMotion(def, motion, &number);
  }
  if (!ok || number != 3) cvActorDef_Destroy(&def);
  return def;
}

std::vector<uint8_t> Header(uint32_t Tag, uint32_t Version, uint32_t HasBody, uint32_t Motions) {
  std::vector<uint8_t> bytes(16);
  cvLE_Put32(&bytes[0], Tag);
  cvLE_Put32(&bytes[4], Version);
  cvLE_Put32(&bytes[8], HasBody);
  cvLE_Put32(&bytes[12], Motions);
  return bytes;
}

}  // namespace

TEST(ActorDef, FileRoundTripKeepsBodyAndMotionsInOrder) {
  const int32_t liveBefore = cvActorDef_GetCount();
  cvActorDef* def = MakeDefinition();
  ASSERT_TRUE(cvActorDef_IsValid(def));
  const auto file = WriteToMemory([def](cvVFile* f) { return cvActorDef_WriteToFile(def, f); });
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(ArchiveEntry(file, "Header"), Header(0x52544341, 0xF1, 1, 3));
  for (const char* entry : {"Motions\\0", "Motions\\1", "Motions\\2", "Body"})
    EXPECT_FALSE(ArchiveEntry(file, entry).empty()) << entry;

  cvActorDef* copy = ReadActor(file);
  ASSERT_TRUE(cvActorDef_IsValid(copy));
  ASSERT_EQ(cvActorDef_GetMotionCount(copy), 3);
  EXPECT_STREQ(cvActorDef_GetMotionName(copy, 0), "idle");
  EXPECT_STREQ(cvActorDef_GetMotionName(copy, 1), "walk");
  EXPECT_STREQ(cvActorDef_GetMotionName(copy, 2), "idle");
  EXPECT_EQ(cvActorDef_GetMotionByName(copy, "idle"), cvActorDef_GetMotionByIndex(copy, 0));
  EXPECT_EQ(cvActorDef_GetMotionByName(copy, "run"), nullptr);
  EXPECT_EQ(cvMotion_GetPathCount(cvActorDef_GetMotionByIndex(copy, 1)), 4);
  EXPECT_TRUE(cvActorDef_HasBoneNamed(copy, "head"));
  EXPECT_FALSE(cvActorDef_HasBoneNamed(copy, "tail"));
  const cvBody* body = cvActorDef_GetBody(copy);
  ASSERT_TRUE(cvBody_IsValid(body));
  EXPECT_EQ(body->VertexCount, def->Body->VertexCount);
  EXPECT_EQ(std::memcmp(body->Vertices, def->Body->Vertices, body->VertexCount * sizeof(cvBodyVertex)), 0);
  // Written again, the copy gives the same contents.
  const auto again = WriteToMemory([copy](cvVFile* f) { return cvActorDef_WriteToFile(copy, f); });
  for (const char* entry : {"Header", "Motions\\0", "Motions\\1", "Motions\\2"})
    EXPECT_EQ(ArchiveEntry(again, entry), ArchiveEntry(file, entry)) << entry;
  EXPECT_EQ(ArchiveEntry(ArchiveEntry(again, "Body"), "Geometry"),
            ArchiveEntry(ArchiveEntry(file, "Body"), "Geometry"));
  EXPECT_EQ(cvActorDef_Destroy(&copy), 1);
  EXPECT_EQ(cvActorDef_Destroy(&def), 1);
  EXPECT_EQ(cvActorDef_GetCount(), liveBefore);
}

TEST(ActorDef, DefinitionWithoutBodyOrMotions) {
  cvActorDef* def = cvActorDef_Create();
  const auto file = WriteToMemory([def](cvVFile* f) { return cvActorDef_WriteToFile(def, f); });
  EXPECT_TRUE(ArchiveEntry(file, "Body").empty());
  cvActorDef* copy = ReadActor(file);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(cvActorDef_GetBody(copy), nullptr);
  EXPECT_EQ(cvActorDef_GetMotionCount(copy), 0);
  EXPECT_EQ(cvActor_Create(copy), nullptr);
  EXPECT_LOGGED(-1);
  cvActorDef_Destroy(&copy);
  cvActorDef_Destroy(&def);
}

TEST(ActorDef, ReaderRefusesBadHeadersMissingPartsAndOverstatedCounts) {
  cvActorDef* def = MakeDefinition();
  const auto file = WriteToMemory([def](cvVFile* f) { return cvActorDef_WriteToFile(def, f); });
  cvActorDef_Destroy(&def);
  const auto body = ArchiveEntry(file, "Body");
  std::vector<std::vector<uint8_t>> motions;
  for (int i = 0; i < 3; ++i) motions.push_back(ArchiveEntry(file, "Motions\\" + std::to_string(i)));
  auto actorWith = [&](const std::vector<uint8_t>& header, bool withBody, int motionCount) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files{{"Header", header}};
    if (withBody) files.push_back({"Body", body});
    for (int i = 0; i < motionCount; ++i)
      files.push_back({"Motions\\" + std::to_string(i), motions[(size_t)i]});
    return MakeArchive(files, {"Motions"});
  };
  cvActorDef* control = ReadActor(actorWith(Header(0x52544341, 0xF1, 1, 3), true, 3));
  ASSERT_NE(control, nullptr);
  cvActorDef_Destroy(&control);
  const int32_t live = cvActorDef_GetCount();
  const auto truncatedHeader = std::vector<uint8_t>{'A', 'C', 'T', 'R', 0xF1, 0, 0, 0, 1, 0};
  const std::pair<std::vector<uint8_t>, const char*> cases[] = {
      {actorWith(Header(0x52544342, 0xF1, 1, 3), true, 3), "tag"},
      {actorWith(Header(0x52544341, 0xF0, 1, 3), true, 3), "version"},
      {actorWith(truncatedHeader, true, 3), "short header"},
      {actorWith(Header(0x52544341, 0xF1, 1, 3), false, 3), "missing body"},
      {actorWith(Header(0x52544341, 0xF1, 1, 5), true, 3), "more motions than entries"},
      {actorWith(Header(0x52544341, 0xF1, 1, 0x7FFFFFFF), true, 3), "huge motion count"},
      {MakeArchive({{"Header", Header(0x52544341, 0xF1, 0, 0)}}, {}), "no motions directory"},
      {MakeArchive({{"Header", Header(0x52544341, 0xF1, 0, 1)}, {"Motions\\0", {'M', 'T', 'N', 'B'}}},
                   {"Motions"}),
       "short motion"},
  };
  for (const auto& [bytes, what] : cases) {
    cvErrorLog_Clear();
    cvActorDef* read = ReadActor(bytes);
    EXPECT_EQ(read, nullptr) << what;
    cvActorDef_Destroy(&read);
    EXPECT_LOGGED(114);
    EXPECT_EQ(cvActorDef_GetCount(), live) << what;
  }
}

TEST(ActorDef, ReadingSurvivesEveryAllocationFailure) {
  cvActorDef* def = MakeDefinition();
  const auto file = WriteToMemory([def](cvVFile* f) { return cvActorDef_WriteToFile(def, f); });
  cvActorDef_Destroy(&def);
  const int32_t live = cvActorDef_GetCount();
  cvtest::MemoryReader reader(file);
  int failures = 0;
  cvtest::WalkAllocationFailures(
      2999,
      [&] {
        cvVFile_Seek(reader.File(), 0, CV_VFILE_SEEKSET);
        return cvActorDef_CreateFromFile(reader.File());
      },
      [&](int n, cvActorDef* read) {
        ++failures;
        if (read)
          cvActorDef_Destroy(&read);
        else  // 110 when memory ran out in the definition itself, 114 otherwise.
          EXPECT_TRUE(cvtest::LastCode() == 114 || cvtest::LastCode() == 110) << n;
        EXPECT_EQ(cvActorDef_GetCount(), live);
      },
      [&](cvActorDef* read) {
        EXPECT_NE(read, nullptr);
        cvActorDef_Destroy(&read);
        EXPECT_EQ(cvActorDef_GetCount(), live);
        EXPECT_GE(failures, 10);
      });
}

TEST(ActorDef, SharingCountsAndBodyReplacement) {
  const int32_t instances = cvActor_GetCount();
  cvActorDef* def = MakeDefinition();
  cvBody* body = cvActorDef_GetBody(def);
  cvActor* actor = cvActor_Create(def);
  ASSERT_TRUE(cvActor_IsValid(actor));
  EXPECT_EQ(def->RefCount, 1);
  EXPECT_EQ(cvActor_GetCount(), instances + 1);
  EXPECT_EQ(cvActor_GetActorDef(actor), def);
  // A shared definition keeps its body.
  cvBody* other = cvBody_Create();
  EXPECT_FALSE(cvActorDef_SetBody(def, other));
  EXPECT_LOGGED(-1);
  EXPECT_EQ(cvActorDef_GetBody(def), body);
  cvBody_Destroy(&other);
  // A second holder of the instance.
  ASSERT_TRUE(cvActor_CreateRef(actor));
  cvActor* second = actor;
  cvActor_Destroy(&second);
  EXPECT_EQ(second, actor);
  EXPECT_EQ(cvActor_GetCount(), instances + 1);
  cvActor_Destroy(&actor);
  EXPECT_EQ(actor, nullptr);
  EXPECT_EQ(cvActor_GetCount(), instances);
  EXPECT_EQ(def->RefCount, 0);
  ASSERT_TRUE(cvActorDef_IsValid(def));
  // Unshared again, the body can be replaced (the old one is destroyed).
  other = cvBody_Create();
  EXPECT_TRUE(cvActorDef_SetBody(def, other));
  EXPECT_EQ(cvActorDef_GetBody(def), other);
  ASSERT_TRUE(cvActorDef_CreateRef(def));
  EXPECT_EQ(cvActorDef_Destroy(&def), 0);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(cvActorDef_Destroy(&def), 1);
  EXPECT_EQ(def, nullptr);
}

TEST(ActorDef, InstancePoseMirrorsTheBones) {
  cvActorDef* def = MakeDefinition();
  cvActor* actor = cvActor_Create(def);
  ASSERT_NE(actor, nullptr);
  const cvBody* body = cvActorDef_GetBody(def);
  ASSERT_EQ(cvPose_GetJointCount(actor->Pose), cvBody_GetBoneCount(body));
  for (int32_t i = 0; i < cvBody_GetBoneCount(body); ++i) {
    const char* name = nullptr;
    int32_t parent = 0;
    cvXForm3d attachment, jointAttachment;
    ASSERT_TRUE(cvBody_GetBone(body, i, &name, &attachment, &parent));
    EXPECT_STREQ(cvPose_GetJointName(actor->Pose, i), name);
    EXPECT_EQ(actor->Pose->Joints[i].ParentIndex, parent);
    ASSERT_TRUE(cvPose_GetJointAttachment(actor->Pose, i, &jointAttachment));
    EXPECT_EQ(std::memcmp(&attachment, &jointAttachment, sizeof attachment), 0);
  }
  // The motions were made for these bones: they match by index.
  EXPECT_TRUE(cvPose_MatchesMotion(actor->Pose, cvActorDef_GetMotionByIndex(def, 1)));
  int32_t index = 5;
  EXPECT_TRUE(cvActor_GetBoneIndex(actor, nullptr, &index));
  EXPECT_EQ(index, -1);
  EXPECT_TRUE(cvActor_GetBoneIndex(actor, "leg", &index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(cvActor_GetBoneIndex(actor, "wing", &index));
  EXPECT_LOGGED(-1);
  // An unknown blending type is ignored; the default (1) stays.
  cvActor_SetBlendingType(actor, 7);
  EXPECT_EQ(actor->BlendingType, 1);
  cvActor_SetBlendingType(actor, 0);
  EXPECT_EQ(actor->BlendingType, 0);
  cvActor_Destroy(&actor);
  cvActorDef_Destroy(&def);
}

TEST(ActorDef, FailedInstanceCreationLeavesTheDefinitionUnshared) {
  cvActorDef* def = MakeDefinition();
  const int32_t instances = cvActor_GetCount();
  cvtest::WalkAllocationFailures(
      199, [&] { return cvActor_Create(def); },
      [&](int n, cvActor* actor) {
        EXPECT_EQ(actor, nullptr) << n;
        EXPECT_EQ(def->RefCount, 0);
        EXPECT_EQ(cvActor_GetCount(), instances);
      },
      [](cvActor* actor) {
        ASSERT_NE(actor, nullptr);
        cvActor_Destroy(&actor);
      });
  cvActorDef_Destroy(&def);
}
