// Poses: the live skeleton of an actor instance. A root joint plus one joint
// per body bone, each with its rest (attachment) transform relative to its
// parent and a local rotation and translation set from motions. World
// transforms are computed lazily: setting operations mark joints touched and
// the pose dirty, and the next query brings what is needed up to date. A pose
// can be scaled and can hang from a joint of another pose.
//
// Joint index -1 means the root in every operation that takes one.
//
// Depends on: Math, Anim/cvanim.h (motions, string blocks, transform arrays),
// Support (memory, error log).
#pragma once

#include <cstdint>

#include "Anim/cvanim.h"
#include "Math/cvmath.h"

typedef struct cvStrBlock cvStrBlock;
typedef struct cvXFArray cvXFArray;
typedef struct cvMotion cvMotion;

// OnlyJoint value meaning "update the whole pose".
enum : int32_t { CV_POSE_ALL_JOINTS = -2 };

typedef struct cvPoseJoint {
  int32_t ParentIndex;             // -1: the root joint
  cvXForm3d* World;                // the joint's element of the pose's transform array
  cvQuaternion WorldRotation;      // rotation in world space
  cvVec3d RestTranslation;         // attachment translation before scaling
  cvQuaternion AttachmentRotation; // rotation of the attachment matrix
  cvXForm3d Attachment;            // rest transform; translation = RestTranslation * Scale
  cvVec3d LocalTranslation;        // set by motions (already scaled)
  cvQuaternion LocalRotation;      // set by motions
  int32_t Touched;                 // world transform must be recomputed
  int32_t PlainAttachment;         // attachment has no rotation: faster update
  int32_t Covered;                 // cue bookkeeping of actor instances
} cvPoseJoint;

typedef struct cvPose {
  int32_t JointCount;
  int32_t NameChecksum;  // checksum of JointNames, refreshed by every cvPose_AddJoint
  int32_t Dirty;         // some world transform is out of date
  cvStrBlock* JointNames;
  cvVec3d Scale;              // (1, 1, 1) in a new pose
  int32_t HasAttachJoint;     // a non-root joint is the one fastened to ParentPose
  int32_t AttachJointIndex;   // that joint; -1 for the root
  struct cvPose* ParentPose;  // the pose this one hangs from, or null
  struct cvPose* FirstHung;   // first pose hanging from this one, or null
  struct cvPose* NextHung;    // next pose hanging from the same ParentPose
  cvPoseJoint Root;           // ParentIndex: joint of ParentPose it hangs from
  cvXForm3d RootWorld;        // the root's world transform (Root.World points here)
  int32_t RootTouched;
  cvXForm3d ParentWorld;  // ParentPose's root world transform when last seen
  cvXFArray* Transforms;  // one world transform per joint
  cvPoseJoint* Joints;
  int32_t OnlyJoint;  // CV_POSE_ALL_JOINTS, or the joint whose chain alone is due
  // Diagnostics: how many joint world transforms updates have computed.
  uint32_t ComputeCount;
} cvPose;

cvPose* cvPose_Create(void);
// Frees the pose. It first lets go of the pose it hangs from, and every pose
// hanging from it is detached (as by cvPose_Detach), so that none is left
// pointing at freed memory.
void cvPose_Destroy(cvPose** Pose);

// Appends a joint (Name may be null: an empty name). ParentIndex must be -1
// or an earlier joint.
int cvPose_AddJoint(cvPose* Pose, int32_t ParentIndex, const char* Name,
                    const cvXForm3d* Attachment, int32_t* Index);
// First joint with exactly this name; 0 for a null name or none.
int cvPose_FindJoint(const cvPose* Pose, const char* Name, int32_t* Index);
int32_t cvPose_GetJointCount(const cvPose* Pose);
// Null for an index out of range; the root (-1) has an empty name.
const char* cvPose_GetJointName(const cvPose* Pose, int32_t Index);

int cvPose_GetJointAttachment(const cvPose* Pose, int32_t Index, cvXForm3d* Transform);
int cvPose_SetJointAttachment(cvPose* Pose, int32_t Index, const cvXForm3d* Transform);
int cvPose_GetJointLocalTransform(const cvPose* Pose, int32_t Index, cvXForm3d* Transform);
int cvPose_SetJointLocalTransform(cvPose* Pose, int32_t Index, const cvXForm3d* Transform);
// Brings the world transforms up to date and copies the joint's.
int cvPose_GetJointTransform(cvPose* Pose, int32_t Index, cvXForm3d* Transform);
// The transform array (one world transform per joint) after an update.
cvXFArray* cvPose_GetAllJointTransforms(cvPose* Pose);

int cvPose_GetScale(const cvPose* Pose, cvVec3d* Scale);
int cvPose_SetScale(cvPose* Pose, const cvVec3d* Scale);

// Every joint back to its rest pose; without a parent pose, RootTransform
// (when given) places the root.
int cvPose_Clear(cvPose* Pose, const cvXForm3d* RootTransform);

// Hangs Pose (at joint AttachJointIndex, -1 its root) from joint
// ParentJointIndex of ParentPose, through Attachment (null: identity).
// Error -1 when that would make a cycle of poses. A pose that already hangs
// from another moves. The parent pose keeps a list of the poses hanging from
// it and detaches them when it is destroyed.
int cvPose_Attach(cvPose* Pose, int32_t AttachJointIndex, cvPose* ParentPose,
                  int32_t ParentJointIndex, const cvXForm3d* Attachment);
int cvPose_Detach(cvPose* Pose);

// 1 when the motion keeps path names and its name checksum equals the pose's:
// its paths then match the joints by index.
int cvPose_MatchesMotion(const cvPose* Pose, const cvMotion* Motion);
// Sets the joints from the motion at Time (Motion may be null: only the root
// is placed). RootTransform (may be null) places the root of a pose that does
// not hang from another.
int cvPose_SetMotion(cvPose* Pose, const cvMotion* Motion, float Time, const cvXForm3d* RootTransform);
// As cvPose_SetMotion, but only JointIndex and its ancestors (-1: the root
// alone); a later query of that chain computes only the chain.
int cvPose_SetMotionForJoint(cvPose* Pose, const cvMotion* Motion, float Time,
                             const cvXForm3d* RootTransform, int32_t JointIndex);
// Mixes the motion in with weight Amount (BlendingType 1: the smooth weight
// 3a^2 - 2a^3).
int cvPose_BlendMotion(cvPose* Pose, const cvMotion* Motion, float Time, const cvXForm3d* RootTransform,
                       float Amount, int32_t BlendingType);
// The weight cvPose_BlendMotion uses for Amount.
float cvPose_BlendWeight(float Amount, int32_t BlendingType);

// Cue bookkeeping for actor instances.
int cvPose_SetCovered(cvPose* Pose, int32_t Value);
// Counts the joints Motion animates whose Covered flag is clear. When
// KeepUncovered is 0 (a full-weight cue) those joints become covered.
int32_t cvPose_CountUncovered(cvPose* Pose, const cvMotion* Motion, int32_t KeepUncovered);
