// Actor instance operations: materials and drawing through the puppet,
// posing, bone boxes, the ExtBox and render hint box, lighting options,
// and the animation cues layered over the pose.
#include <algorithm>
#include <cstring>

#include "Actor/actordef.h"
#include "Anim/cvanim.h"
#include "Actor/body.h"
#include "Actor/pose.h"
#include "Actor/puppet.h"
#include "Support/cvsupport.h"

namespace {

const cvBody* bodyOf(const cvActor* A) {
  return (A && A->Definition) ? A->Definition->Body : nullptr;
}

// Bone name to joint index: null is the root (-1); an unknown name is error -1.
bool boneIndex(const cvActor* A, const char* Name, int32_t* Index) {
  if (!A) {
    CV_ERROR(-1);
    return false;
  }
  return cvActor_GetBoneIndex(A, Name, Index) != 0;
}

cvVec3d boneTranslation(const cvActor* A, int32_t Bone) {
  cvXForm3d M;
  if (!cvPose_GetJointTransform(A->Pose, Bone, &M)) return cvVec3d{0, 0, 0};
  return M.T;
}

cvExtBox moved(const cvExtBox& B, const cvVec3d& T) {
  cvExtBox R = B;
  cvExtBox_Translate(&R, T.X, T.Y, T.Z);
  return R;
}

// The oriented box of a bone (or of the whole body for -1).
bool orientedBox(const cvActor* A, int32_t Bone, cvVec3d* Corner, cvVec3d* DX, cvVec3d* DY,
                 cvVec3d* DZ) {
  const cvBody* B = bodyOf(A);
  cvVec3d Min, Max;
  if (!B || !cvBody_GetBoundingBox(B, Bone, &Min, &Max) || Min.X > Max.X || Min.Y > Max.Y ||
      Min.Z > Max.Z)
    return false;
  cvXForm3d World;
  cvVec3d Scale;
  if (!cvPose_GetJointTransform(A->Pose, Bone, &World) || !cvPose_GetScale(A->Pose, &Scale)) return false;
  const cvVec3d SMin = {Min.X * Scale.X, Min.Y * Scale.Y, Min.Z * Scale.Z};
  const cvVec3d Size = {(Max.X - Min.X) * Scale.X, (Max.Y - Min.Y) * Scale.Y, (Max.Z - Min.Z) * Scale.Z};
  cvXForm3d_Transform(&World, &SMin, Corner);
  const cvVec3d AX = {Size.X, 0, 0}, AY = {0, Size.Y, 0}, AZ = {0, 0, Size.Z};
  cvXForm3d_Rotate(&World, &AX, DX);
  cvXForm3d_Rotate(&World, &AY, DY);
  cvXForm3d_Rotate(&World, &AZ, DZ);
  return true;
}

bool boneBox(const cvActor* A, int32_t Bone, cvExtBox* Box) {
  cvVec3d C, DX, DY, DZ;
  if (!orientedBox(A, Bone, &C, &DX, &DY, &DZ)) return false;
  cvExtBox_SetToPoint(Box, &C);
  for (int K = 1; K < 8; ++K) {
    cvVec3d P = C;
    if (K & 1) cvVec3d_Add(&P, &DX, &P);
    if (K & 2) cvVec3d_Add(&P, &DY, &P);
    if (K & 4) cvVec3d_Add(&P, &DZ, &P);
    cvExtBox_ExtendToEnclose(Box, &P);
  }
  return true;
}

bool needPuppet(const cvActor* A) {
  if (!A || !A->Puppet) {
    CV_ERROR(-1);
    return false;
  }
  return true;
}

}  // namespace

// --- Materials ----------------------------------------------------------------

int32_t cvActor_GetMaterialCount(const cvActor* Actor) {
  return (Actor && Actor->Puppet) ? cvPuppet_GetMaterialCount(Actor->Puppet) : 0;
}

int cvActor_GetMaterial(const cvActor* Actor, int32_t Index, cvBitmap** Bitmap, float* Red,
                        float* Green, float* Blue) {
  if (!needPuppet(Actor)) return 0;
  return cvPuppet_GetMaterial(Actor->Puppet, Index, Bitmap, Red, Green, Blue);
}

int cvActor_SetMaterial(cvActor* Actor, int32_t Index, cvBitmap* Bitmap, float Red, float Green,
                        float Blue) {
  if (!needPuppet(Actor)) return 0;
  return cvPuppet_SetMaterial(Actor->Puppet, Index, Bitmap, Red, Green, Blue);
}

cvPuppet* cvActor_GetPuppet(const cvActor* Actor) { return Actor ? Actor->Puppet : nullptr; }

// --- Rendering ----------------------------------------------------------------

int cvActor_PrepareForRendering(cvActor* Actor, cvWorld* World) {
  if (!Actor || !bodyOf(Actor)) {
    CV_ERROR(111);
    return 0;
  }
  cvPuppet_Destroy(&Actor->Puppet);
  Actor->Puppet = cvPuppet_Create(Actor->Definition->FileSystem, bodyOf(Actor), World);
  if (!Actor->Puppet) {
    CV_ERROR(111);
    return 0;
  }
  // The whole body's box, kept relative to the ExtBox's bone.
  cvExtBox Box;
  if (boneBox(Actor, -1, &Box)) {
    cvVec3d T = boneTranslation(Actor, Actor->ExtBoxBone);
    cvExtBox_Translate(&Box, -T.X, -T.Y, -T.Z);
    Actor->ExtBox = Box;
  }
  return 1;
}

int cvActor_Render(cvActor* Actor, cvEngine* Engine, cvWorld* World, cvCamera* Camera) {
  if (!Actor || !Actor->Puppet) {
    CV_ERROR(112);
    return 0;
  }
  cvExtBox Hint;
  const cvExtBox* Box = nullptr;
  if (Actor->RenderHintEnabled == 1) {
    Hint = moved(Actor->RenderHintBox, boneTranslation(Actor, Actor->RenderHintBone));
    Box = &Hint;
  }
  if (!cvPuppet_Render(Actor->Puppet, Actor->Pose, Engine, World, Camera, Box)) {
    CV_ERROR(112);
    return 0;
  }
  return 1;
}

int cvActor_RenderThroughFrustum(cvActor* Actor, cvEngine* Engine, cvWorld* World,
                                 cvCamera* Camera, const cvFrustum* Frustum) {
  if (!Actor || !Actor->Puppet) {
    CV_ERROR(112);
    return 0;
  }
  cvExtBox Box;
  const cvExtBox* BoxP = cvActor_GetDynamicExtBox(Actor, &Box) ? &Box : nullptr;
  if (!cvPuppet_RenderThroughFrustum(Actor->Puppet, Actor->Pose, BoxP, Engine, World, Camera, Frustum)) {
    CV_ERROR(112);
    return 0;
  }
  return 1;
}

int cvActor_GetRenderBox(const cvActor* Actor, cvExtBox* Box) {
  if (!Actor || !Box) return 0;
  if (Actor->RenderHintEnabled == 1)
    *Box = moved(Actor->RenderHintBox, boneTranslation(Actor, Actor->RenderHintBone));
  else
    *Box = moved(Actor->ExtBox, boneTranslation(Actor, Actor->ExtBoxBone));
  return cvExtBox_IsValid(Box);
}

// --- Pose ---------------------------------------------------------------------

int cvActor_ClearPose(cvActor* Actor, const cvXForm3d* RootTransform) {
  if (!Actor) {
    CV_ERROR(-1);
    return 0;
  }
  return cvPose_Clear(Actor->Pose, RootTransform);
}

int cvActor_SetPose(cvActor* Actor, const cvMotion* Motion, float Time,
                    const cvXForm3d* RootTransform) {
  if (!Actor) {
    CV_ERROR(-1);
    return 0;
  }
  return cvPose_SetMotion(Actor->Pose, const_cast<cvMotion*>(Motion), Time, RootTransform);
}

int cvActor_BlendPose(cvActor* Actor, const cvMotion* Motion, float Time,
                      const cvXForm3d* RootTransform, float Amount) {
  if (!Actor) {
    CV_ERROR(-1);
    return 0;
  }
  return cvPose_BlendMotion(Actor->Pose, const_cast<cvMotion*>(Motion), Time, RootTransform, Amount,
                            Actor->BlendingType);
}

int cvActor_GetBoneTransform(const cvActor* Actor, const char* BoneName, cvXForm3d* Transform) {
  int32_t Bone;
  if (!boneIndex(Actor, BoneName, &Bone)) return 0;
  return cvPose_GetJointTransform(Actor->Pose, Bone, Transform);
}

int cvActor_GetBoneAttachment(const cvActor* Actor, const char* BoneName, cvXForm3d* Transform) {
  int32_t Bone;
  if (!boneIndex(Actor, BoneName, &Bone)) return 0;
  return cvPose_GetJointAttachment(Actor->Pose, Bone, Transform);
}

int cvActor_SetBoneAttachment(cvActor* Actor, const char* BoneName, const cvXForm3d* Transform) {
  int32_t Bone;
  if (!boneIndex(Actor, BoneName, &Bone)) return 0;
  return cvPose_SetJointAttachment(Actor->Pose, Bone, Transform);
}

int cvActor_Attach(cvActor* Slave, const char* SlaveBoneName, cvActor* Master,
                   const char* MasterBoneName, const cvXForm3d* Attachment) {
  int32_t SlaveBone, MasterBone;
  if (!boneIndex(Slave, SlaveBoneName, &SlaveBone) || !boneIndex(Master, MasterBoneName, &MasterBone))
    return 0;
  return cvPose_Attach(Slave->Pose, SlaveBone, Master->Pose, MasterBone, Attachment);
}

int cvActor_Detach(cvActor* Actor) {
  if (!Actor) {
    CV_ERROR(-1);
    return 0;
  }
  return cvPose_Detach(Actor->Pose);
}

int cvActor_SetScale(cvActor* Actor, float X, float Y, float Z) {
  if (!Actor) {
    CV_ERROR(-1);
    return 0;
  }
  const cvVec3d S = {X, Y, Z};
  return cvPose_SetScale(Actor->Pose, &S);
}

// --- Boxes --------------------------------------------------------------------

int cvActor_GetBoneBoundingBox(const cvActor* Actor, const char* BoneName, cvExtBox* Box) {
  int32_t Bone;
  if (!Box || !boneIndex(Actor, BoneName, &Bone)) return 0;
  if (!boneBox(Actor, Bone, Box)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

int cvActor_GetBoneOrientedBox(const cvActor* Actor, const char* BoneName, cvVec3d* Corner,
                               cvVec3d* DX, cvVec3d* DY, cvVec3d* DZ) {
  int32_t Bone;
  if (!Corner || !DX || !DY || !DZ || !boneIndex(Actor, BoneName, &Bone)) return 0;
  if (!orientedBox(Actor, Bone, Corner, DX, DY, DZ)) {
    CV_ERROR(-1);
    return 0;
  }
  return 1;
}

int cvActor_GetDynamicExtBox(const cvActor* Actor, cvExtBox* Box) {
  if (!Actor || !Box || !bodyOf(Actor)) return 0;
  // Set field by field: the box starts inverted so that any bone widens it.
  Box->Min = {9e9f, 9e9f, 9e9f};
  Box->Max = {-9e9f, -9e9f, -9e9f};
  int Found = 0;
  const int32_t Bones = cvBody_GetBoneCount(bodyOf(Actor));
  for (int32_t B = 0; B < Bones; ++B) {
    cvExtBox One;
    if (!boneBox(Actor, B, &One)) continue;
    Box->Min.X = std::min(Box->Min.X, One.Min.X), Box->Max.X = std::max(Box->Max.X, One.Max.X);
    Box->Min.Y = std::min(Box->Min.Y, One.Min.Y), Box->Max.Y = std::max(Box->Max.Y, One.Max.Y);
    Box->Min.Z = std::min(Box->Min.Z, One.Min.Z), Box->Max.Z = std::max(Box->Max.Z, One.Max.Z);
    Found = 1;
  }
  return Found;
}

int cvActor_SetExtBox(cvActor* Actor, const cvExtBox* Box, const char* BoneName) {
  int32_t Bone;
  if (!Box || !boneIndex(Actor, BoneName, &Bone)) return 0;
  Actor->ExtBox = *Box;
  Actor->ExtBoxBone = Bone;
  return 1;
}

int cvActor_GetExtBox(const cvActor* Actor, cvExtBox* Box) {
  if (!Actor || !Box) {
    CV_ERROR(-1);
    return 0;
  }
  *Box = moved(Actor->ExtBox, boneTranslation(Actor, Actor->ExtBoxBone));
  return 1;
}

int cvActor_SetRenderHintExtBox(cvActor* Actor, const cvExtBox* Box, const char* BoneName) {
  int32_t Bone;
  if (!Box || !boneIndex(Actor, BoneName, &Bone)) return 0;
  Actor->RenderHintBox = *Box;
  Actor->RenderHintBone = Bone;
  const float* F = &Box->Min.X;
  Actor->RenderHintEnabled = std::any_of(F, F + 6, [](float V) { return V != 0.0f; }) ? 1 : 0;
  return 1;
}

int cvActor_GetRenderHintExtBox(const cvActor* Actor, cvExtBox* Box, int32_t* Enabled) {
  if (!Actor || !Box) {
    CV_ERROR(-1);
    return 0;
  }
  *Box = moved(Actor->RenderHintBox, boneTranslation(Actor, Actor->RenderHintBone));
  if (Enabled) *Enabled = Actor->RenderHintEnabled;
  return 1;
}

// --- Lighting options and shadow ------------------------------------------------

int cvActor_SetLightingOptions(cvActor* Actor, int32_t FillOn, const cvVec3d* FillDirection,
                               float FillRed, float FillGreen, float FillBlue, float AmbientRed,
                               float AmbientGreen, float AmbientBlue, int32_t FloorAmbient,
                               int32_t MaxLights, const char* LightBoneName,
                               int32_t PerBoneLighting) {
  if (!needPuppet(Actor)) return 0;
  int32_t Bone;
  if (!boneIndex(Actor, LightBoneName, &Bone)) return 0;
  return cvPuppet_SetLightingOptions(Actor->Puppet, FillOn, FillDirection, FillRed, FillGreen,
                                     FillBlue, AmbientRed, AmbientGreen, AmbientBlue, FloorAmbient,
                                     MaxLights, Bone, PerBoneLighting);
}

int cvActor_SetShadow(cvActor* Actor, int32_t On, float Scale, cvBitmap* Bitmap,
                      const char* BoneName) {
  if (!needPuppet(Actor)) return 0;
  int32_t Bone;
  if (!boneIndex(Actor, BoneName, &Bone)) return 0;
  return cvPuppet_SetShadow(Actor->Puppet, On, Scale, Bitmap, Bone);
}

// --- Animation cues -------------------------------------------------------------

int cvActor_AnimationCue(cvActor* Actor, cvMotion* Motion, float TimeScale, float TimeIntoMotion,
                         float BlendTime, float BlendFromAmount, float BlendToAmount,
                         const cvXForm3d* LocalTransform) {
  if (!Actor || !Motion || !Actor->CueMotion) {
    CV_ERROR(-1);
    return 0;
  }
  if (BlendTime == 0.0f) {
    BlendTime = 1.0f;
    BlendFromAmount = BlendToAmount;
  }
  int32_t Index;
  return cvMotion_AddSubMotion(Actor->CueMotion, Motion, TimeScale, -TimeIntoMotion, TimeIntoMotion,
                               BlendFromAmount, TimeIntoMotion + BlendTime, BlendToAmount,
                               LocalTransform, &Index);
}

int cvActor_AnimationRemoveLastCue(cvActor* Actor) {
  if (!Actor || !Actor->CueMotion) return 0;
  const int32_t Count = cvMotion_GetSubMotionCount(Actor->CueMotion);
  if (Count <= 0) return 0;
  cvMotion* Removed = cvMotion_RemoveSubMotion(Actor->CueMotion, Count - 1);
  if (!Removed) return 0;
  cvMotion_Destroy(&Removed);
  return 1;
}

namespace {

// Drops the cues that no longer contribute, newest first, after moving each
// by DeltaTime (when Advance).
void stepCues(cvActor* A, float DeltaTime, bool Advance) {
  cvMotion* Cues = A->CueMotion;
  cvPose_SetCovered(A->Pose, 0);
  for (int32_t I = cvMotion_GetSubMotionCount(Cues) - 1; I >= 0; --I) {
    float Offset = cvMotion_GetTimeOffset(Cues, I);
    if (Advance) {
      Offset -= DeltaTime;
      cvMotion_SetTimeOffset(Cues, I, Offset);
    }
    const float Weight = cvMotion_GetBlendAmount(Cues, I, 0.0f);
    bool Finished = false;
    if (Weight <= 0.0001f) {
      const cvPath* Blend = cvMotion_GetBlendPath(Cues, I);
      const int32_t Keys = Blend ? cvPath_GetKeyframeCount(Blend, CV_PATH_TRANSLATION_CHANNEL) : 0;
      float LastTime = 0;
      cvXForm3d KeyXForm;
      if (Keys <= 0 ||
          (cvPath_GetKeyframe(Blend, Keys - 1, CV_PATH_TRANSLATION_CHANNEL, &LastTime, &KeyXForm) &&
           LastTime <= -Offset))
        Finished = true;
    }
    if (!Finished &&
        cvPose_CountUncovered(A->Pose, cvMotion_GetSubMotion(Cues, I), Weight < 0.999f ? 1 : 0) == 0)
      Finished = true;
    if (Finished) {
      cvMotion* Removed = cvMotion_RemoveSubMotion(Cues, I);
      if (Removed) cvMotion_Destroy(&Removed);
    }
  }
}

// Events of the newest cue between its local times before and after the step.
void setupEvents(cvActor* A, float DeltaTime) {
  cvMotion* Cues = A->CueMotion;
  const int32_t Count = cvMotion_GetSubMotionCount(Cues);
  if (Count <= 0) return;
  const float Scale = cvMotion_GetTimeScale(Cues, Count - 1);
  const float Now = -cvMotion_GetTimeOffset(Cues, Count - 1) * Scale;
  const float Before = Now - DeltaTime * Scale;
  cvMotion_SetupEventIterator(cvMotion_GetSubMotion(Cues, Count - 1), std::min(Before, Now),
                              std::max(Before, Now));
}

bool cueBone(cvActor* A, const char* BoneName, int32_t* Bone) {
  // An unchanged name keeps the remembered joint.
  const char* Known = A->CueBone >= 0 ? cvPose_GetJointName(A->Pose, A->CueBone) : nullptr;
  if (BoneName && Known && std::strcmp(Known, BoneName) == 0) {
    *Bone = A->CueBone;
    return true;
  }
  if (!boneIndex(A, BoneName, Bone)) return false;
  A->CueBone = *Bone;
  return true;
}

}  // namespace

int cvActor_AnimationStep(cvActor* Actor, float DeltaTime) {
  if (!Actor || !Actor->CueMotion) {
    CV_ERROR(-1);
    return 0;
  }
  stepCues(Actor, DeltaTime, true);
  const int Ok = cvPose_SetMotion(Actor->Pose, Actor->CueMotion, 0.0f, nullptr);
  setupEvents(Actor, DeltaTime);
  return Ok;
}

int cvActor_AnimationStepBoneOptimized(cvActor* Actor, float DeltaTime, const char* BoneName) {
  if (!Actor || !Actor->CueMotion) {
    CV_ERROR(-1);
    return 0;
  }
  int32_t Bone;
  if (!cueBone(Actor, BoneName, &Bone)) return 0;
  stepCues(Actor, DeltaTime, true);
  const int Ok = cvPose_SetMotionForJoint(Actor->Pose, Actor->CueMotion, 0.0f, nullptr, Bone);
  setupEvents(Actor, DeltaTime);
  return Ok;
}

int cvActor_AnimationTestStep(cvActor* Actor, float Time) {
  if (!Actor || !Actor->CueMotion) {
    CV_ERROR(-1);
    return 0;
  }
  return cvPose_SetMotion(Actor->Pose, Actor->CueMotion, Time, nullptr);
}

int cvActor_AnimationTestStepBoneOptimized(cvActor* Actor, float Time, const char* BoneName) {
  if (!Actor || !Actor->CueMotion) {
    CV_ERROR(-1);
    return 0;
  }
  int32_t Bone;
  if (!cueBone(Actor, BoneName, &Bone)) return 0;
  return cvPose_SetMotionForJoint(Actor->Pose, Actor->CueMotion, Time, nullptr, Bone);
}

int cvActor_AnimationNudge(cvActor* Actor, const cvXForm3d* Transform) {
  if (!Actor || !Transform || !Actor->CueMotion) {
    CV_ERROR(-1);
    return 0;
  }
  for (int32_t I = cvMotion_GetSubMotionCount(Actor->CueMotion) - 1; I >= 0; --I) {
    const cvXForm3d* Base = cvMotion_GetBaseTransform(Actor->CueMotion, I);
    cvXForm3d New;
    if (Base)
      cvXForm3d_Multiply(Transform, Base, &New);
    else
      New = *Transform;
    cvXForm3d_Orthonormalize(&New);
    cvMotion_SetBaseTransform(Actor->CueMotion, I, &New);
  }
  return 1;
}

int cvActor_GetAnimationEvent(cvActor* Actor, float* Time, const char** Text) {
  if (!Actor || !Actor->CueMotion) return 0;
  const int32_t Count = cvMotion_GetSubMotionCount(Actor->CueMotion);
  if (Count <= 0) return 0;
  return cvMotion_GetNextEvent(cvMotion_GetSubMotion(Actor->CueMotion, Count - 1), Time, Text);
}
