// The body file: an archive holding the "Geometry" stream (tag "BOD^",
// version, box, vertices, normals, bones, bone names, materials, material
// names, levels of detail) and the "Bitmaps" directory with one engine bitmap
// file per textured material, named by the material's index.
//
// Records are stored exactly as they are laid out in memory on a
// little-endian host (vertex 24, normal 16, bone 76, face 14 bytes); only the
// material record differs, because memory holds a bitmap pointer where the
// file holds a 32-bit "has a bitmap" word.
//
// The reader trusts nothing: every count is checked against what the stream
// still holds before anything is allocated, and a body whose faces, vertices,
// normals or bones point outside their arrays is refused.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "Actor/body.h"
#include "Actor/body_scan.h"
#include "Support/cvsupport.h"

static_assert(std::endian::native == std::endian::little,
              "body records are read and written in their in-memory layout");
static_assert(sizeof(cvBodyVertex) == 24 && offsetof(cvBodyVertex, U) == 12 &&
              offsetof(cvBodyVertex, Active) == 20 && offsetof(cvBodyVertex, BoneIndex) == 22);
static_assert(sizeof(cvBodyNormal) == 16 && offsetof(cvBodyNormal, BoneIndex) == 14);
static_assert(sizeof(cvBodyBone) == 76 && offsetof(cvBodyBone, Attachment) == 24 &&
              offsetof(cvBodyBone, ParentIndex) == 72);
static_assert(sizeof(cvBodyFace) == 14);
static_assert(sizeof(cvXForm3d) == 48);

namespace {

constexpr uint32_t kMaterialRecordSize = 16;

struct FileCloser {
  void operator()(cvVFile* File) const { cvVFile_Close(File); }
};
using FileHandle = std::unique_ptr<cvVFile, FileCloser>;

struct BodyDestroyer {
  void operator()(cvBody* Body) const { cvBody_Destroy(&Body); }
};
using BodyHandle = std::unique_ptr<cvBody, BodyDestroyer>;

// Closes a file that was written and reports whether closing (which flushes
// an archive's tree) worked.
bool CloseWritten(FileHandle& File) { return cvVFile_Close(File.release()) != 0; }

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// Bone, vertex, normal and material indices are checked against their
// counts once all are known, through the largest of each met while reading,
// taken as unsigned numbers (a negative bone index becomes 32768 or more,
// past any count). Taking them while each piece of an array is fresh in the
// cache spares a second pass over the whole body.
//
// Records are taken a block at a time, a block being as many records as fill
// whole 32-byte vectors (16 faces of 14 bytes, 8 vertices of 24, 2 normals of
// 16): word i of every block goes into the running maximum Words[i], so the
// words of one field sit at fixed places of Words. Records behind the last
// whole block of a piece go straight into the field maxima.
template <typename T> constexpr int kBlockRecords = 1;
template <> constexpr int kBlockRecords<cvBodyFace> = 16;
template <> constexpr int kBlockRecords<cvBodyVertex> = 8;
template <> constexpr int kBlockRecords<cvBodyNormal> = 2;

template <typename T>
struct WordTops {
  static constexpr int kWords = kBlockRecords<T> * (int)sizeof(T) / 2;
  static_assert(kWords % 16 == 0);
  alignas(32) uint16_t Words[kWords] = {};
};

struct IndexTops {
  WordTops<cvBodyFace> Faces;
  WordTops<cvBodyVertex> Vertices;
  WordTops<cvBodyNormal> Normals;
  uint16_t VertexBone = 0;
  uint16_t NormalBone = 0;
  uint16_t FaceVertex = 0;
  uint16_t FaceNormal = 0;
  uint16_t FaceMaterial = 0;

  // Folds the block maxima into the field maxima: field f of a record of R
  // words is every word i with i mod R == f.
  void Finish() {
    for (int i = 0; i < Faces.kWords; ++i) {
      const int field = i % 7;
      uint16_t& top = field < 3 ? FaceVertex : field < 6 ? FaceNormal : FaceMaterial;
      top = std::max(top, Faces.Words[i]);
    }
    for (int i = 11; i < Vertices.kWords; i += 12) VertexBone = std::max(VertexBone, Vertices.Words[i]);
    for (int i = 7; i < Normals.kWords; i += 8) NormalBone = std::max(NormalBone, Normals.Words[i]);
  }
};

static_assert(sizeof(cvBodyFace) == 7 * sizeof(uint16_t));
static_assert(sizeof(cvBodyVertex) == 24 && offsetof(cvBodyVertex, BoneIndex) == 22);
static_assert(sizeof(cvBodyNormal) == 16 && offsetof(cvBodyNormal, BoneIndex) == 14);

// Takes the whole blocks of Count records into Into and gives the number of
// records taken.
template <typename T>
int32_t LookBlocks(const T* Records, int32_t Count, WordTops<T>* Into) {
  const int32_t blocks = Count / kBlockRecords<T>;
  cvbodyscan::MaxWords(reinterpret_cast<const uint8_t*>(Records), (size_t)blocks, Into->kWords, Into->Words);
  return blocks * kBlockRecords<T>;
}

void Look(const cvBodyVertex* Vertices, int32_t Count, IndexTops* Tops) {
  for (int32_t i = LookBlocks(Vertices, Count, &Tops->Vertices); i < Count; ++i)
    Tops->VertexBone = std::max(Tops->VertexBone, (uint16_t)Vertices[i].BoneIndex);
}
void Look(const cvBodyNormal* Normals, int32_t Count, IndexTops* Tops) {
  for (int32_t i = LookBlocks(Normals, Count, &Tops->Normals); i < Count; ++i)
    Tops->NormalBone = std::max(Tops->NormalBone, (uint16_t)Normals[i].BoneIndex);
}
void Look(const cvBodyBone*, int32_t, IndexTops*) {}
void Look(const cvBodyFace* Faces, int32_t Count, IndexTops* Tops) {
  for (int32_t f = LookBlocks(Faces, Count, &Tops->Faces); f < Count; ++f) {
    const cvBodyFace& face = Faces[f];
    Tops->FaceVertex = std::max({Tops->FaceVertex, face.VertexIndex[0], face.VertexIndex[1], face.VertexIndex[2]});
    Tops->FaceNormal = std::max({Tops->FaceNormal, face.NormalIndex[0], face.NormalIndex[1], face.NormalIndex[2]});
    Tops->FaceMaterial = std::max(Tops->FaceMaterial, face.MaterialIndex);
  }
}

// Reads Count records of Size bytes into a new cvRam block, taking the
// largest indices into Tops. The count is checked against the bytes the
// stream still holds before allocating. Returns false with the error logged.
template <typename T>
bool ReadArray(cvVFile* File, int32_t Count, T** Out, IndexTops* Tops) {
  *Out = nullptr;
  if (Count <= 0) return true;
  uint64_t bytes = 0;
  uint32_t remaining = 0;
  if (!cvSize_Mul((uint64_t)Count, sizeof(T), &bytes) || !cvVFile_Remaining(File, &remaining) ||
      bytes > remaining) {
    CV_ERROR(98);
    return false;
  }
  T* array = static_cast<T*>(cvRam_Allocate((size_t)bytes));
  if (!array) {
    CV_ERROR(96);
    return false;
  }
  // Pieces of about 16 KiB (whole blocks) stay in the nearest cache while
  // Look goes over them.
  constexpr int32_t kPiece = (int32_t)(16384 / sizeof(T)) / kBlockRecords<T> * kBlockRecords<T>;
  for (int32_t at = 0; at < Count; at += kPiece) {
    const int32_t n = std::min(kPiece, Count - at);
    if (!cvVFile_Read(File, array + at, (uint32_t)(sizeof(T) * (size_t)n))) {
      cvRam_Free(array);
      CV_ERROR(98);
      return false;
    }
    Look(array + at, n, Tops);
  }
  *Out = array;
  return true;
}

bool ReadCount16(cvVFile* File, int16_t* Count) {
  uint16_t raw = 0;
  if (!cvVFile_ReadLE16(File, &raw)) {
    CV_ERROR(98);
    return false;
  }
  // A count of 0 or less means "no records".
  *Count = std::max<int16_t>((int16_t)raw, 0);
  return true;
}

bool ReadVec(cvVFile* File, cvVec3d* V) {
  return cvVFile_ReadF32(File, &V->X) && cvVFile_ReadF32(File, &V->Y) &&
         cvVFile_ReadF32(File, &V->Z);
}

bool ReadNames(cvVFile* File, cvStrBlock** Names) {
  cvStrBlock* names = cvStrBlock_CreateFromFile(File);
  if (!names) {
    CV_ERROR(98);
    return false;
  }
  cvStrBlock_Destroy(Names);
  *Names = names;
  return true;
}

// Reads the geometry stream into an empty body. HasBitmap receives one flag
// per material: the "Bitmaps" directory holds its bitmap.
bool ReadGeometry(cvVFile* File, cvBody* Body, std::vector<uint8_t>& HasBitmap, IndexTops* Tops) {
  uint32_t tag = 0, version = 0;
  if (!cvVFile_ReadLE32(File, &tag)) {
    CV_ERROR(98);
    return false;
  }
  if (tag != CV_BODY_TAG) {
    CV_ERROR(97);
    return false;
  }
  if (!cvVFile_ReadLE32(File, &version) || version != CV_BODY_VERSION ||
      !ReadVec(File, &Body->BoxMin) || !ReadVec(File, &Body->BoxMax)) {
    CV_ERROR(98);
    return false;
  }
  // Each array is attached to the body as soon as it is read, so that a later
  // failure frees it with the body; its count follows only then.
  int16_t count = 0;
  if (!ReadCount16(File, &count) || !ReadArray(File, count, &Body->Vertices, Tops)) return false;
  Body->VertexCount = count;
  if (!ReadCount16(File, &count) || !ReadArray(File, count, &Body->Normals, Tops)) return false;
  Body->NormalCount = count;
  if (!ReadCount16(File, &count) || !ReadArray(File, count, &Body->Bones, Tops)) return false;
  Body->BoneCount = count;
  if (!ReadNames(File, &Body->BoneNames)) return false;

  if (!ReadCount16(File, &count)) return false;
  if (count > 0) {
    uint32_t remaining = 0;
    if (!cvVFile_Remaining(File, &remaining) || (uint64_t)count * kMaterialRecordSize > remaining) {
      CV_ERROR(98);
      return false;
    }
    std::vector<uint8_t> records((size_t)count * kMaterialRecordSize);
    Body->Materials =
        static_cast<cvBodyMaterial*>(cvRam_AllocateClear(sizeof(cvBodyMaterial) * (size_t)count));
    if (!Body->Materials) {
      CV_ERROR(96);
      return false;
    }
    if (!cvVFile_Read(File, records.data(), (uint32_t)records.size())) {
      CV_ERROR(98);
      return false;
    }
    HasBitmap.assign((size_t)count, 0);
    for (int32_t i = 0; i < count; ++i) {
      const uint8_t* record = records.data() + (size_t)i * kMaterialRecordSize;
      HasBitmap[(size_t)i] = cvLE_Get32(record) != 0;
      cvBodyMaterial& material = Body->Materials[i];
      material.Bitmap = nullptr;  // loaded from "Bitmaps" later
      std::memcpy(&material.Red, record + 4, 4);
      std::memcpy(&material.Green, record + 8, 4);
      std::memcpy(&material.Blue, record + 12, 4);
    }
    Body->MaterialCount = count;
  }
  if (!ReadNames(File, &Body->MaterialNames)) return false;

  uint32_t levelCount = 0;
  if (!cvVFile_ReadLE32(File, &levelCount) || (int32_t)levelCount > CV_BODY_MAX_LEVELS) {
    CV_ERROR(98);
    return false;
  }
  // A level count below 1 ends the stream without face lists.
  Body->LevelCount = std::max<int32_t>((int32_t)levelCount, 0);
  for (int32_t level = 0; level < Body->LevelCount; ++level) {
    uint32_t faceCount = 0;
    if (!cvVFile_ReadLE32(File, &faceCount)) {
      CV_ERROR(98);
      return false;
    }
    // The count is a 16-bit number stored in 32 bits; only its low half counts.
    const int16_t faces = (int16_t)(faceCount & 0xFFFFu);
    if (faces < 0) {
      CV_ERROR(98);
      return false;
    }
    if (!ReadArray(File, faces, &Body->Levels[level].Faces, Tops)) return false;
    Body->Levels[level].FaceCount = faces;
  }
  return true;
}

// Every index the body holds must name something that exists: bones name
// earlier bones, vertices and normals name bones, faces name vertices,
// normals and materials, and each bone and material has a name. Tops holds
// the largest indices the arrays hold.
bool CheckReferences(const cvBody* Body, const IndexTops& Tops) {
  if (cvStrBlock_GetCount(Body->BoneNames) != Body->BoneCount ||
      cvStrBlock_GetCount(Body->MaterialNames) != Body->MaterialCount)
    return false;
  for (int32_t i = 0; i < Body->BoneCount; ++i) {
    const int32_t parent = Body->Bones[i].ParentIndex;
    if (parent < -1 || parent >= i) return false;
  }
  if ((Body->VertexCount > 0 && Tops.VertexBone >= Body->BoneCount) ||
      (Body->NormalCount > 0 && Tops.NormalBone >= Body->BoneCount))
    return false;
  bool faces = false;
  for (int32_t level = 0; level < Body->LevelCount; ++level) faces |= Body->Levels[level].FaceCount > 0;
  return !faces || (Tops.FaceVertex < Body->VertexCount && Tops.FaceNormal < Body->NormalCount &&
                    Tops.FaceMaterial < Body->MaterialCount);
}

bool ReadBitmaps(cvVFile* Archive, cvBody* Body, const std::vector<uint8_t>& HasBitmap) {
  FileHandle directory(cvVFile_Open(Archive, "Bitmaps", CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY));
  if (!directory) {
    CV_ERROR(98);
    return false;
  }
  for (int32_t i = 0; i < Body->MaterialCount; ++i) {
    if (!HasBitmap[(size_t)i]) continue;
    char name[16];
    std::snprintf(name, sizeof name, "%d", (int)i);
    FileHandle entry(cvVFile_Open(directory.get(), name, CV_VFILE_OPEN_READONLY));
    if (!entry) {
      CV_ERROR(98);
      return false;
    }
    cvBitmap* bitmap = cvBitmap_CreateFromFile(entry.get());
    if (!bitmap) {
      CV_ERROR(98);
      return false;
    }
    // The loaded bitmap's one reference now belongs to the body.
    Body->Materials[i].Bitmap = bitmap;
    if (!cvBitmap_SetMipCount(bitmap, 4)) {
      CV_ERROR(98);
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

void PutF32(std::vector<uint8_t>& Out, float V) {
  uint8_t bytes[4];
  std::memcpy(bytes, &V, 4);
  Out.insert(Out.end(), bytes, bytes + 4);
}
void Put32(std::vector<uint8_t>& Out, uint32_t V) {
  uint8_t bytes[4];
  cvLE_Put32(bytes, V);
  Out.insert(Out.end(), bytes, bytes + 4);
}
void Put16(std::vector<uint8_t>& Out, uint16_t V) {
  uint8_t bytes[2];
  cvLE_Put16(bytes, V);
  Out.insert(Out.end(), bytes, bytes + 2);
}
template <typename T>
void PutRecords(std::vector<uint8_t>& Out, const T* Records, int32_t Count) {
  if (Count <= 0) return;
  const auto* bytes = reinterpret_cast<const uint8_t*>(Records);
  Out.insert(Out.end(), bytes, bytes + sizeof(T) * (size_t)Count);
}
bool Flush(cvVFile* File, std::vector<uint8_t>& Buffer) {
  const bool ok = cvVFile_Write(File, Buffer.data(), (uint32_t)Buffer.size()) != 0;
  Buffer.clear();
  return ok;
}

bool WriteGeometry(const cvBody* Body, cvVFile* File) {
  std::vector<uint8_t> out;
  out.reserve(64 + (size_t)std::max<int>(Body->VertexCount, 0) * sizeof(cvBodyVertex) +
              (size_t)std::max<int>(Body->NormalCount, 0) * sizeof(cvBodyNormal) +
              (size_t)std::max<int>(Body->BoneCount, 0) * sizeof(cvBodyBone));
  Put32(out, CV_BODY_TAG);
  Put32(out, CV_BODY_VERSION);
  for (const cvVec3d* v : {&Body->BoxMin, &Body->BoxMax}) {
    PutF32(out, v->X);
    PutF32(out, v->Y);
    PutF32(out, v->Z);
  }
  // Reserved bytes go out as zero whatever memory holds.
  Put16(out, (uint16_t)Body->VertexCount);
  size_t first = out.size();
  PutRecords(out, Body->Vertices, Body->VertexCount);
  for (size_t at = first + offsetof(cvBodyVertex, Reserved); at < out.size(); at += sizeof(cvBodyVertex))
    out[at] = 0;
  Put16(out, (uint16_t)Body->NormalCount);
  first = out.size();
  PutRecords(out, Body->Normals, Body->NormalCount);
  for (size_t at = first + offsetof(cvBodyNormal, Reserved); at < out.size(); at += sizeof(cvBodyNormal))
    out[at] = 0;
  Put16(out, (uint16_t)Body->BoneCount);
  first = out.size();
  PutRecords(out, Body->Bones, Body->BoneCount);
  for (size_t at = first + offsetof(cvBodyBone, Reserved); at < out.size(); at += sizeof(cvBodyBone))
    out[at] = out[at + 1] = 0;
  if (!Flush(File, out) || !cvStrBlock_WriteToBinaryFile(Body->BoneNames, File)) return false;

  Put16(out, (uint16_t)Body->MaterialCount);
  for (int32_t i = 0; i < Body->MaterialCount; ++i) {
    const cvBodyMaterial& material = Body->Materials[i];
    Put32(out, material.Bitmap ? 1u : 0u);
    PutF32(out, material.Red);
    PutF32(out, material.Green);
    PutF32(out, material.Blue);
  }
  if (!Flush(File, out) || !cvStrBlock_WriteToBinaryFile(Body->MaterialNames, File)) return false;

  Put32(out, (uint32_t)Body->LevelCount);
  for (int32_t level = 0; level < Body->LevelCount && level < CV_BODY_MAX_LEVELS; ++level) {
    const cvBodyLevel& list = Body->Levels[level];
    Put32(out, (uint32_t)(int32_t)list.FaceCount);
    PutRecords(out, list.Faces, list.FaceCount);
  }
  return Flush(File, out);
}

bool WriteBitmaps(const cvBody* Body, cvVFile* Archive) {
  FileHandle directory(cvVFile_Open(Archive, "Bitmaps", CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY));
  if (!directory) return false;
  for (int32_t i = 0; i < Body->MaterialCount; ++i) {
    cvBitmap* bitmap = Body->Materials[i].Bitmap;
    if (!bitmap) continue;
    char name[16];
    std::snprintf(name, sizeof name, "%d", (int)i);
    FileHandle entry(cvVFile_Open(directory.get(), name, CV_VFILE_OPEN_CREATE));
    if (!entry || !cvBitmap_WriteToFile(bitmap, entry.get()) || !CloseWritten(entry)) return false;
  }
  return CloseWritten(directory);
}

}  // namespace

cvBody* cvBody_CreateFromFile(cvVFile* File) {
  if (!File) {
    CV_ERROR(98);
    return nullptr;
  }
  FileHandle archive(cvVFile_OpenNewSystem(File, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr,
                                           CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY));
  if (!archive) {
    CV_ERROR(98);
    return nullptr;
  }
  FileHandle geometry(cvVFile_Open(archive.get(), "Geometry", CV_VFILE_OPEN_READONLY));
  if (!geometry) {
    CV_ERROR(98);
    return nullptr;
  }
  BodyHandle body(cvBody_Create());
  if (!body) return nullptr;
  std::vector<uint8_t> hasBitmap;
  IndexTops tops;
  if (!ReadGeometry(geometry.get(), body.get(), hasBitmap, &tops)) return nullptr;
  geometry.reset();
  tops.Finish();
  if (!CheckReferences(body.get(), tops)) {
    CV_ERROR(98);
    return nullptr;
  }
  if (!ReadBitmaps(archive.get(), body.get(), hasBitmap)) return nullptr;
  return body.release();
}

int cvBody_WriteToFile(cvBody* Body, cvVFile* File) {
  if (!cvBody_IsValid(Body) || !File) {
    CV_ERROR(99);
    return 0;
  }
  FileHandle archive(cvVFile_OpenNewSystem(File, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr,
                                           CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY));
  bool ok = archive != nullptr;
  if (ok) {
    FileHandle geometry(cvVFile_Open(archive.get(), "Geometry", CV_VFILE_OPEN_CREATE));
    ok = geometry && WriteGeometry(Body, geometry.get()) && CloseWritten(geometry);
  }
  ok = ok && WriteBitmaps(Body, archive.get());
  ok = ok && CloseWritten(archive);
  if (!ok) {
    CV_ERROR(99);
    return 0;
  }
  return 1;
}
