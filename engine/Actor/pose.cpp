// Poses: joints, lazily computed world transforms, scale, hanging one pose
// from another, and setting or blending the joints from motions.
//
// World transforms are brought up to date only when asked for. Setting
// operations mark joints Touched and the pose Dirty; an update recomputes each
// touched joint and everything below it, in index order (a joint's parent
// always comes before it).
#include <cmath>
#include <cstring>
#include <vector>

#include "Actor/pose.h"
#include "Support/cvsupport.h"

namespace {

constexpr float kPlainTolerance = 0.0001f;

cvXForm3d Identity() {
  cvXForm3d m;
  cvXForm3d_SetIdentity(&m);
  return m;
}

cvQuaternion NoRotation() {
  cvQuaternion q;
  cvQuaternion_SetNoRotation(&q);
  return q;
}

cvQuaternion RotationOf(const cvXForm3d& M) {
  cvQuaternion q = NoRotation();
  cvQuaternion_FromMatrix(&M, &q);
  return q;
}

// Sets a joint's rest transform and what is derived from it.
void SetAttachment(cvPoseJoint& Joint, const cvXForm3d& Attachment) {
  Joint.Attachment = Attachment;
  Joint.AttachmentRotation = RotationOf(Attachment);
  Joint.RestTranslation = Attachment.T;
  const cvQuaternion& q = Joint.AttachmentRotation;
  Joint.PlainAttachment = std::fabs(q.X) < kPlainTolerance && std::fabs(q.Y) < kPlainTolerance &&
                          std::fabs(q.Z) < kPlainTolerance;
}

void ResetJoint(cvPoseJoint& Joint, int32_t ParentIndex, const cvXForm3d& Attachment) {
  Joint.ParentIndex = ParentIndex;
  SetAttachment(Joint, Attachment);
  Joint.WorldRotation = NoRotation();
  Joint.LocalRotation = NoRotation();
  cvVec3d_Clear(&Joint.LocalTranslation);
  Joint.Touched = 1;
  Joint.Covered = 0;
}

void ResetRoot(cvPose* Pose, int32_t ParentIndex, const cvXForm3d* Attachment) {
  ResetJoint(Pose->Root, ParentIndex, Attachment ? *Attachment : Identity());
  Pose->Root.World = &Pose->RootWorld;
  Pose->RootTouched = 1;
  Pose->Dirty = 1;
}

bool SameTransform(const cvXForm3d& A, const cvXForm3d& B) {
  return std::memcmp(&A, &B, sizeof(cvXForm3d)) == 0;
}

// World transform of joint J hanging from P.
void ComputeJoint(cvPose* Pose, cvPoseJoint& J, const cvPoseJoint& P) {
  cvVec3d local;
  if (J.PlainAttachment) {
    cvQuaternion_Multiply(&P.WorldRotation, &J.LocalRotation, &J.WorldRotation);
    cvVec3d_Add(&J.LocalTranslation, &J.Attachment.T, &local);
  } else {
    cvQuaternion rest;
    cvQuaternion_Multiply(&P.WorldRotation, &J.AttachmentRotation, &rest);
    cvQuaternion_Multiply(&rest, &J.LocalRotation, &J.WorldRotation);
    cvXForm3d_Transform(&J.Attachment, &J.LocalTranslation, &local);
  }
  cvVec3d translation;
  cvXForm3d_Transform(P.World, &local, &translation);
  cvQuaternion_ToMatrix(&J.WorldRotation, J.World);
  J.World->T = translation;
  ++Pose->ComputeCount;
}

// The joint of Pose that index Index (-1: the root) names.
cvPoseJoint& JointAt(cvPose* Pose, int32_t Index) {
  return Index < 0 ? Pose->Root : Pose->Joints[Index];
}
const cvPoseJoint& JointAt(const cvPose* Pose, int32_t Index) {
  return Index < 0 ? Pose->Root : Pose->Joints[Index];
}

bool ValidJoint(const cvPose* Pose, int32_t Index) {
  return Pose && Index >= -1 && Index < Pose->JointCount;
}

bool InChain(const cvPose* Pose, int32_t Joint, int32_t Chain) {
  for (int32_t j = Chain; j >= 0; j = Pose->Joints[j].ParentIndex) {
    if (j == Joint) return true;
  }
  return Joint == -1;
}

void Update(cvPose* Pose, int32_t Wanted);

// Takes Pose out of its parent pose's list of hanging poses.
void Unhang(cvPose* Pose) {
  cvPose* parent = Pose->ParentPose;
  if (!parent) return;
  for (cvPose** link = &parent->FirstHung; *link; link = &(*link)->NextHung) {
    if (*link == Pose) {
      *link = Pose->NextHung;
      break;
    }
  }
  Pose->NextHung = nullptr;
  Pose->ParentPose = nullptr;
}

// Places the root of a pose that hangs from another.
void UpdateHangingRoot(cvPose* Pose) {
  cvPose* parent = Pose->ParentPose;
  Update(parent, Pose->Root.ParentIndex);
  if (!SameTransform(parent->RootWorld, Pose->ParentWorld)) {
    Pose->ParentWorld = parent->RootWorld;
    Pose->Dirty = 1;
    Pose->RootTouched = 1;
  }
  const cvXForm3d before = Pose->RootWorld;
  const cvPoseJoint& anchor = JointAt(parent, Pose->Root.ParentIndex);
  if (!Pose->HasAttachJoint) {
    ComputeJoint(Pose, Pose->Root, anchor);
  } else {
    // The joints are computed under an identity root and moved afterwards so
    // that the attach joint lands on the anchor (see FastenAttachJoint).
    cvXForm3d m;
    cvQuaternion_ToMatrix(&Pose->Root.AttachmentRotation, &m);
    m.T = Pose->Root.Attachment.T;
    cvXForm3d_Multiply(anchor.World, &m, &Pose->RootWorld);
    Pose->Root.WorldRotation = NoRotation();
  }
  // The joint this pose hangs from may move while the parent's root stays put.
  if (!SameTransform(before, Pose->RootWorld)) {
    Pose->Dirty = 1;
    Pose->RootTouched = 1;
  }
}

void UpdateAll(cvPose* Pose) {
  // Hanging by a joint, every transform is first computed under an identity
  // root and then corrected, so nothing can be kept from the last update.
  const bool everything = Pose->HasAttachJoint != 0;
  cvXForm3d identity = Identity();
  cvPoseJoint root = Pose->Root;
  if (everything) {
    root.World = &identity;
    root.WorldRotation = NoRotation();
  }
  for (int32_t i = 0; i < Pose->JointCount; ++i) {
    cvPoseJoint& joint = Pose->Joints[i];
    const int32_t p = joint.ParentIndex;
    const bool parentTouched = p < 0 ? Pose->RootTouched != 0 : Pose->Joints[p].Touched != 0;
    if (parentTouched) joint.Touched = 1;
    if (joint.Touched || everything) ComputeJoint(Pose, joint, p < 0 ? root : Pose->Joints[p]);
  }
  for (int32_t i = 0; i < Pose->JointCount; ++i) Pose->Joints[i].Touched = 0;
  Pose->RootTouched = 0;
  if (everything && Pose->AttachJointIndex >= 0 && Pose->AttachJointIndex < Pose->JointCount) {
    // Corr = M · inverse(World(attach joint)) moves the attach joint onto M.
    cvXForm3d inverse, correction;
    cvXForm3d_GetInverse(Pose->Joints[Pose->AttachJointIndex].World, &inverse);
    cvXForm3d_Multiply(&Pose->RootWorld, &inverse, &correction);
    for (int32_t i = 0; i < Pose->JointCount; ++i) {
      cvXForm3d_Multiply(&correction, Pose->Joints[i].World, Pose->Joints[i].World);
    }
  }
  Pose->Dirty = 0;
  Pose->OnlyJoint = CV_POSE_ALL_JOINTS;
}

// Recomputes only the chain from the root down to Pose->OnlyJoint. Joints
// below a recomputed joint but outside the chain are marked touched, so a
// later whole-pose update still brings them up to date.
void UpdateChain(cvPose* Pose) {
  std::vector<int32_t> chain;
  for (int32_t j = Pose->OnlyJoint; j >= 0; j = Pose->Joints[j].ParentIndex) chain.push_back(j);
  std::vector<uint8_t> recomputed((size_t)Pose->JointCount, 0);
  const bool rootMoved = Pose->RootTouched != 0;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    cvPoseJoint& joint = Pose->Joints[*it];
    const int32_t p = joint.ParentIndex;
    const bool parentMoved = p < 0 ? rootMoved : recomputed[(size_t)p] != 0;
    if (joint.Touched || parentMoved) {
      ComputeJoint(Pose, joint, JointAt(Pose, p));
      recomputed[(size_t)*it] = 1;
    }
    joint.Touched = 0;
  }
  bool stale = false;
  for (int32_t i = 0; i < Pose->JointCount; ++i) {
    cvPoseJoint& joint = Pose->Joints[i];
    const int32_t p = joint.ParentIndex;
    if (!recomputed[(size_t)i] && (p < 0 ? rootMoved : recomputed[(size_t)p] != 0)) joint.Touched = 1;
    stale = stale || joint.Touched;
  }
  Pose->RootTouched = 0;
  Pose->Dirty = stale;
}

// Brings the pose up to date for a query of joint Wanted (-1: the root;
// CV_POSE_ALL_JOINTS: every joint).
void Update(cvPose* Pose, int32_t Wanted) {
  if (Pose->ParentPose) {
    UpdateHangingRoot(Pose);
  } else if (Pose->RootTouched) {
    cvPoseJoint& root = Pose->Root;
    cvQuaternion_Multiply(&root.AttachmentRotation, &root.LocalRotation, &root.WorldRotation);
    cvVec3d translation;
    cvXForm3d_Transform(&root.Attachment, &root.LocalTranslation, &translation);
    cvQuaternion_ToMatrix(&root.WorldRotation, &Pose->RootWorld);
    Pose->RootWorld.T = translation;
    Pose->Dirty = 1;
  }
  if (!Pose->Dirty && !Pose->RootTouched) return;
  if (Pose->OnlyJoint >= 0 && Pose->OnlyJoint < Pose->JointCount && !Pose->HasAttachJoint &&
      Wanted != CV_POSE_ALL_JOINTS && InChain(Pose, Wanted, Pose->OnlyJoint)) {
    UpdateChain(Pose);
  } else {
    UpdateAll(Pose);
  }
}

// ---------------------------------------------------------------------------
// Motion sampling
// ---------------------------------------------------------------------------

// True when the motion has a path for the joint: path Index of a leaf (by
// index) or the path named Name (by name); a compound motion has one when
// any of its entries has.
bool HasPath(const cvMotion* Motion, bool ByIndex, int32_t Index, const char* Name, int Depth = 0) {
  if (!Motion || Depth > 64) return false;
  if (Motion->Type == CV_MOTION_TYPE_LEAF) {
    if (ByIndex) return Index >= 0 && Index < cvMotion_GetPathCount(Motion) && cvMotion_GetPath(Motion, Index);
    return Name && cvMotion_GetPathNamed(Motion, Name) != nullptr;
  }
  if (Motion->Type == CV_MOTION_TYPE_COMPOUND) {
    const int32_t count = cvMotion_GetSubMotionCount(Motion);
    for (int32_t k = 0; k < count; ++k) {
      if (HasPath(cvMotion_GetSubMotion(Motion, k), ByIndex, Index, Name, Depth + 1)) return true;
    }
  }
  return false;
}

// Samples the motion for joint I. A path with rotation keys only samples
// with a zero translation (and the sampler reports 0), which still animates
// the joint, so the joint counts as sampled whenever the motion has its path.
bool SampleJoint(const cvPose* Pose, const cvMotion* Motion, bool ByIndex, int32_t I, float Time,
                 cvQuaternion* Rotation, cvVec3d* Translation) {
  const char* name = cvStrBlock_GetString(Pose->JointNames, I);
  if (!HasPath(Motion, ByIndex, I, name)) return false;
  cvXForm3d sample = Identity();
  cvMotion* motion = const_cast<cvMotion*>(Motion);
  if (ByIndex) {
    cvMotion_SampleByIndex(motion, I, Time, &sample);
  } else {
    cvMotion_SampleByName(motion, name, Time, &sample);
  }
  *Rotation = RotationOf(sample);
  Translation->X = sample.T.X * Pose->Scale.X;
  Translation->Y = sample.T.Y * Pose->Scale.Y;
  Translation->Z = sample.T.Z * Pose->Scale.Z;
  return true;
}

// The root transform a motion and the caller's placement give: the motion's
// base transform, placed by RootTransform when both exist.
bool SampleRoot(const cvMotion* Motion, float Time, const cvXForm3d* RootTransform, cvXForm3d* Out) {
  cvXForm3d base = Identity();
  const bool hasBase =
      Motion && Motion->Type == CV_MOTION_TYPE_COMPOUND &&
      cvMotion_SampleBaseTransform(const_cast<cvMotion*>(Motion), Time, &base) != 0;
  if (hasBase && RootTransform) {
    cvXForm3d_Multiply(RootTransform, &base, Out);
  } else if (hasBase) {
    *Out = base;
  } else if (RootTransform) {
    *Out = *RootTransform;
  } else {
    return false;
  }
  return true;
}

void Mix(cvPoseJoint& Joint, const cvQuaternion& Rotation, const cvVec3d& Translation, float W,
         bool Blend) {
  if (Blend) {
    cvQuaternion mixed;
    cvQuaternion_Slerp(&Joint.LocalRotation, &Rotation, W, &mixed);
    Joint.LocalRotation = mixed;
    cvVec3d delta;
    cvVec3d_Subtract(&Translation, &Joint.LocalTranslation, &delta);
    cvVec3d_AddScaled(&Joint.LocalTranslation, W, &delta, &Joint.LocalTranslation);
  } else {
    Joint.LocalRotation = Rotation;
    Joint.LocalTranslation = Translation;
  }
  Joint.Touched = 1;
}

// Shared body of setting, setting one chain and blending.
int Apply(cvPose* Pose, const cvMotion* Motion, float Time, const cvXForm3d* RootTransform,
          int32_t OnlyJoint, float W, bool Blend) {
  Pose->OnlyJoint = OnlyJoint < 0 ? CV_POSE_ALL_JOINTS : OnlyJoint;
  if (!Pose->ParentPose) {
    cvXForm3d root;
    if (SampleRoot(Motion, Time, RootTransform, &root)) {
      Mix(Pose->Root, RotationOf(root), root.T, W, Blend);
      Pose->RootTouched = 1;
      Pose->Dirty = 1;
    }
  }
  if (!Motion || OnlyJoint == -1) return 1;  // -1: the root's chain is the root alone
  const bool byIndex = cvPose_MatchesMotion(Pose, Motion) != 0;
  cvQuaternion rotation;
  cvVec3d translation;
  if (OnlyJoint >= 0) {
    for (int32_t j = OnlyJoint; j >= 0; j = Pose->Joints[j].ParentIndex) {
      if (SampleJoint(Pose, Motion, byIndex, j, Time, &rotation, &translation))
        Mix(Pose->Joints[j], rotation, translation, W, Blend);
    }
  } else {
    for (int32_t j = 0; j < Pose->JointCount; ++j) {
      if (SampleJoint(Pose, Motion, byIndex, j, Time, &rotation, &translation))
        Mix(Pose->Joints[j], rotation, translation, W, Blend);
    }
  }
  Pose->Dirty = 1;
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and joints
// ---------------------------------------------------------------------------

cvPose* cvPose_Create(void) {
  cvPose* pose = static_cast<cvPose*>(cvRam_AllocateClear(sizeof(cvPose)));
  if (!pose) {
    CV_ERROR(81);
    return nullptr;
  }
  pose->JointNames = cvStrBlock_Create();
  if (!pose->JointNames) {
    cvRam_Free(pose);
    CV_ERROR(81);
    return nullptr;
  }
  cvVec3d_Set(&pose->Scale, 1.0f, 1.0f, 1.0f);
  pose->AttachJointIndex = -1;
  pose->OnlyJoint = CV_POSE_ALL_JOINTS;
  cvXForm3d_SetIdentity(&pose->RootWorld);
  cvXForm3d_SetIdentity(&pose->ParentWorld);
  ResetRoot(pose, -1, nullptr);
  pose->NameChecksum = cvStrBlock_GetChecksum(pose->JointNames);
  return pose;
}

void cvPose_Destroy(cvPose** Pose) {
  if (!Pose || !*Pose) return;
  cvPose* pose = *Pose;
  Unhang(pose);
  while (pose->FirstHung) cvPose_Detach(pose->FirstHung);
  cvStrBlock_Destroy(&pose->JointNames);
  if (pose->Transforms) cvXFArray_Destroy(&pose->Transforms);
  cvRam_Free(pose->Joints);
  cvRam_Free(pose);
  *Pose = nullptr;
}

int cvPose_AddJoint(cvPose* Pose, int32_t ParentIndex, const char* Name,
                    const cvXForm3d* Attachment, int32_t* Index) {
  if (!Pose || !Attachment || ParentIndex < -1 || ParentIndex >= Pose->JointCount) {
    CV_ERROR(-1);
    return 0;
  }
  const int32_t count = Pose->JointCount;
  void* grown = cvRam_Realloc(Pose->Joints, sizeof(cvPoseJoint) * (size_t)(count + 1));
  if (!grown) {
    CV_ERROR(82);
    return 0;
  }
  Pose->Joints = static_cast<cvPoseJoint*>(grown);
  cvXFArray* transforms = cvXFArray_Create(count + 1);
  if (!transforms) {
    CV_ERROR(82);
    return 0;
  }
  if (!cvStrBlock_Append(&Pose->JointNames, Name ? Name : "")) {
    cvXFArray_Destroy(&transforms);
    CV_ERROR(82);
    return 0;
  }
  // The existing joints keep their world transforms in the new array.
  int32_t elementCount = 0;
  cvXForm3d* elements = cvXFArray_GetElements(transforms, &elementCount);
  for (int32_t i = 0; i < count; ++i) {
    elements[i] = *Pose->Joints[i].World;
    Pose->Joints[i].World = &elements[i];
  }
  if (Pose->Transforms) cvXFArray_Destroy(&Pose->Transforms);
  Pose->Transforms = transforms;

  cvPoseJoint& joint = Pose->Joints[count];
  std::memset(&joint, 0, sizeof joint);
  ResetJoint(joint, ParentIndex, *Attachment);
  joint.Attachment.T.X = joint.RestTranslation.X * Pose->Scale.X;
  joint.Attachment.T.Y = joint.RestTranslation.Y * Pose->Scale.Y;
  joint.Attachment.T.Z = joint.RestTranslation.Z * Pose->Scale.Z;
  joint.World = &elements[count];
  Pose->JointCount = count + 1;
  Pose->Dirty = 1;
  Pose->NameChecksum = cvStrBlock_GetChecksum(Pose->JointNames);
  if (Index) *Index = count;
  return 1;
}

int cvPose_FindJoint(const cvPose* Pose, const char* Name, int32_t* Index) {
  if (!Pose || !Name) return 0;
  int32_t found = -1;
  if (!cvStrBlock_FindString(Pose->JointNames, Name, &found) || found < 0) return 0;
  if (Index) *Index = found;
  return 1;
}

int32_t cvPose_GetJointCount(const cvPose* Pose) { return Pose ? Pose->JointCount : 0; }

const char* cvPose_GetJointName(const cvPose* Pose, int32_t Index) {
  if (!ValidJoint(Pose, Index)) return nullptr;
  if (Index < 0) return "";
  return cvStrBlock_GetString(Pose->JointNames, Index);
}

int cvPose_GetJointAttachment(const cvPose* Pose, int32_t Index, cvXForm3d* Transform) {
  if (!ValidJoint(Pose, Index) || !Transform) {
    CV_ERROR(-1);
    return 0;
  }
  *Transform = JointAt(Pose, Index).Attachment;
  return 1;
}

int cvPose_SetJointAttachment(cvPose* Pose, int32_t Index, const cvXForm3d* Transform) {
  if (!ValidJoint(Pose, Index) || !Transform) {
    CV_ERROR(-1);
    return 0;
  }
  cvPoseJoint& joint = JointAt(Pose, Index);
  SetAttachment(joint, *Transform);
  joint.Touched = 1;
  if (Index < 0) Pose->RootTouched = 1;
  Pose->Dirty = 1;
  return 1;
}

int cvPose_GetJointLocalTransform(const cvPose* Pose, int32_t Index, cvXForm3d* Transform) {
  if (!ValidJoint(Pose, Index) || !Transform) {
    CV_ERROR(-1);
    return 0;
  }
  const cvPoseJoint& joint = JointAt(Pose, Index);
  cvQuaternion_ToMatrix(&joint.LocalRotation, Transform);
  Transform->T = joint.LocalTranslation;
  return 1;
}

int cvPose_SetJointLocalTransform(cvPose* Pose, int32_t Index, const cvXForm3d* Transform) {
  if (!ValidJoint(Pose, Index) || !Transform) {
    CV_ERROR(-1);
    return 0;
  }
  cvPoseJoint& joint = JointAt(Pose, Index);
  joint.LocalRotation = RotationOf(*Transform);
  joint.LocalTranslation = Transform->T;
  joint.Touched = 1;
  if (Index < 0) Pose->RootTouched = 1;
  Pose->Dirty = 1;
  return 1;
}

int cvPose_GetJointTransform(cvPose* Pose, int32_t Index, cvXForm3d* Transform) {
  if (!ValidJoint(Pose, Index) || !Transform) {
    CV_ERROR(-1);
    return 0;
  }
  Update(Pose, Index);
  *Transform = *JointAt(Pose, Index).World;
  return 1;
}

cvXFArray* cvPose_GetAllJointTransforms(cvPose* Pose) {
  if (!Pose) return nullptr;
  Update(Pose, CV_POSE_ALL_JOINTS);
  return Pose->Transforms;
}

// ---------------------------------------------------------------------------
// Scale, clearing, hanging
// ---------------------------------------------------------------------------

int cvPose_GetScale(const cvPose* Pose, cvVec3d* Scale) {
  if (!Pose || !Scale) return 0;
  *Scale = Pose->Scale;
  return 1;
}

int cvPose_SetScale(cvPose* Pose, const cvVec3d* Scale) {
  if (!Pose || !Scale) {
    CV_ERROR(-1);
    return 0;
  }
  Pose->Scale = *Scale;
  for (int32_t i = 0; i < Pose->JointCount; ++i) {
    cvPoseJoint& joint = Pose->Joints[i];
    joint.Attachment.T.X = joint.RestTranslation.X * Scale->X;
    joint.Attachment.T.Y = joint.RestTranslation.Y * Scale->Y;
    joint.Attachment.T.Z = joint.RestTranslation.Z * Scale->Z;
    joint.Touched = 1;
  }
  Pose->Dirty = 1;
  return 1;
}

int cvPose_Clear(cvPose* Pose, const cvXForm3d* RootTransform) {
  if (!Pose) {
    CV_ERROR(-1);
    return 0;
  }
  for (int32_t i = 0; i < Pose->JointCount; ++i) {
    cvPoseJoint& joint = Pose->Joints[i];
    cvVec3d_Clear(&joint.LocalTranslation);
    joint.LocalRotation = NoRotation();
    joint.Touched = 1;
  }
  if (!Pose->ParentPose && RootTransform) {
    Pose->Root.LocalRotation = RotationOf(*RootTransform);
    Pose->Root.LocalTranslation = RootTransform->T;
    Pose->RootTouched = 1;
  }
  Pose->OnlyJoint = CV_POSE_ALL_JOINTS;
  Pose->Dirty = 1;
  return 1;
}

int cvPose_Attach(cvPose* Pose, int32_t AttachJointIndex, cvPose* ParentPose,
                  int32_t ParentJointIndex, const cvXForm3d* Attachment) {
  if (!Pose || !ParentPose || !ValidJoint(Pose, AttachJointIndex) ||
      !ValidJoint(ParentPose, ParentJointIndex)) {
    CV_ERROR(-1);
    return 0;
  }
  for (const cvPose* p = ParentPose; p; p = p->ParentPose) {
    if (p == Pose) {
      CV_ERROR(-1);
      return 0;
    }
  }
  if (Pose->ParentPose != ParentPose) {
    Unhang(Pose);
    Pose->NextHung = ParentPose->FirstHung;
    ParentPose->FirstHung = Pose;
  }
  Pose->AttachJointIndex = AttachJointIndex;
  Pose->ParentPose = ParentPose;
  Pose->HasAttachJoint = AttachJointIndex != -1;
  ResetRoot(Pose, ParentJointIndex, Attachment);
  Pose->ParentWorld = ParentPose->RootWorld;
  return 1;
}

int cvPose_Detach(cvPose* Pose) {
  if (!Pose) {
    CV_ERROR(-1);
    return 0;
  }
  Unhang(Pose);
  Pose->HasAttachJoint = 0;
  Pose->AttachJointIndex = -1;
  ResetRoot(Pose, -1, nullptr);
  for (int32_t i = 0; i < Pose->JointCount; ++i) Pose->Joints[i].Touched = 1;
  return 1;
}

// ---------------------------------------------------------------------------
// Motions
// ---------------------------------------------------------------------------

int cvPose_MatchesMotion(const cvPose* Pose, const cvMotion* Motion) {
  if (!Pose || !Motion || !Motion->MaintainNames) return 0;
  return cvMotion_GetNameChecksum(Motion) == Pose->NameChecksum;
}

float cvPose_BlendWeight(float Amount, int32_t BlendingType) {
  if (BlendingType != 1) return Amount;
  const double a = Amount;
  return (float)(3.0 * a * a - 2.0 * a * a * a);
}

int cvPose_SetMotion(cvPose* Pose, const cvMotion* Motion, float Time, const cvXForm3d* RootTransform) {
  if (!Pose) {
    CV_ERROR(-1);
    return 0;
  }
  return Apply(Pose, Motion, Time, RootTransform, CV_POSE_ALL_JOINTS, 1.0f, false);
}

int cvPose_SetMotionForJoint(cvPose* Pose, const cvMotion* Motion, float Time,
                             const cvXForm3d* RootTransform, int32_t JointIndex) {
  if (!ValidJoint(Pose, JointIndex)) {
    CV_ERROR(-1);
    return 0;
  }
  return Apply(Pose, Motion, Time, RootTransform, JointIndex, 1.0f, false);
}

int cvPose_BlendMotion(cvPose* Pose, const cvMotion* Motion, float Time, const cvXForm3d* RootTransform,
                       float Amount, int32_t BlendingType) {
  if (!Pose) {
    CV_ERROR(-1);
    return 0;
  }
  return Apply(Pose, Motion, Time, RootTransform, CV_POSE_ALL_JOINTS,
               cvPose_BlendWeight(Amount, BlendingType), true);
}

int cvPose_SetCovered(cvPose* Pose, int32_t Value) {
  if (!Pose) return 0;
  for (int32_t i = 0; i < Pose->JointCount; ++i) Pose->Joints[i].Covered = Value;
  return 1;
}

int32_t cvPose_CountUncovered(cvPose* Pose, const cvMotion* Motion, int32_t KeepUncovered) {
  if (!Pose || !Motion) return 0;
  const bool byIndex = cvPose_MatchesMotion(Pose, Motion) != 0;
  int32_t uncovered = 0;
  for (int32_t i = 0; i < Pose->JointCount; ++i) {
    cvPoseJoint& joint = Pose->Joints[i];
    if (!HasPath(Motion, byIndex, i, cvStrBlock_GetString(Pose->JointNames, i))) continue;
    if (!joint.Covered) ++uncovered;
    if (!KeepUncovered) joint.Covered = 1;
  }
  return uncovered;
}
