// Builders and memory-file helpers shared by the body, pose and actor tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "VFile/cvvfile.h"
#include "memfile.h"

namespace actortest {

using cvtest::ReadFromMemory;
using cvtest::WriteToMemory;

// Owning pointers that give the object back through its cv*_Destroy.
template <class T, void (*Destroy)(T**)>
struct Destroyer {
  void operator()(T* Object) const { Destroy(&Object); }
};
using BodyPtr = std::unique_ptr<cvBody, Destroyer<cvBody, cvBody_Destroy>>;
using PosePtr = std::unique_ptr<cvPose, Destroyer<cvPose, cvPose_Destroy>>;
using MotionPtr = std::unique_ptr<cvMotion, Destroyer<cvMotion, cvMotion_Destroy>>;

cvBody* ReadBody(const std::vector<uint8_t>& Bytes);
cvActorDef* ReadActor(const std::vector<uint8_t>& Bytes);

// An archive holding the given directories and files (name, bytes); a file
// named "Dir\\name" goes into directory Dir.
std::vector<uint8_t> MakeArchive(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& Files,
                                 const std::vector<std::string>& Directories);
// The bytes of one file ("name" or "Dir\\name") inside an archive (empty
// when it is missing).
std::vector<uint8_t> ArchiveEntry(const std::vector<uint8_t>& Archive, const std::string& Path);

// A W x H 24-bit bitmap whose pixels follow Seed.
cvBitmap* MakeBitmap(int32_t W, int32_t H, int Seed);

cvXForm3d Translation(float X, float Y, float Z);

// A body with four bones (root, two children, a grandchild), three materials
// (the second textured) and a dozen faces spread over bones and materials.
cvBody* MakeBody();

// A leaf motion named Name with one path per entry of Joints (named like the
// joint when MaintainNames). Path i holds, at time 0, a rotation about Z by
// Angle * (i + 1) and the translation (Offset * (i + 1), 0, 0); at time 1
// twice both.
cvMotion* MakeMotion(const char* Name, const std::vector<std::string>& Joints, float Angle,
                     float Offset, int MaintainNames);

}  // namespace actortest
