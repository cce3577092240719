// Body file reader. An input starting with "BOD^" is a bare geometry stream:
// it is wrapped into a body archive (with a "Bitmaps" directory holding a
// small bitmap under "0" and "1") so that mutations reach the geometry
// parser instead of breaking the archive; any other input is read as a whole
// body file.
#include <cstring>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "fuzz.h"

namespace {

cvBitmap* SmallBitmap() {
  cvBitmap* bitmap = cvBitmap_Create(4, 4, 1, CV_PIXELFORMAT_24BIT_RGB);
  uint8_t* pixels = bitmap ? cvBitmap_AllocateMip(bitmap, 0) : nullptr;
  if (!pixels) {
    cvBitmap_Destroy(&bitmap);
    return nullptr;
  }
  for (int i = 0; i < 4 * 4 * 3; ++i) pixels[i] = (uint8_t)(i * 13);
  cvBitmap_SetMipValid(bitmap, 0, 1);
  return bitmap;
}

// A body archive around a geometry stream.
std::vector<uint8_t> WrapGeometry(const uint8_t* Data, size_t Size) {
  return cvfuzz::BuildArchive([&](cvVFile* archive) {
    cvfuzz::WriteEntry(archive, "Geometry", Data, Size);
    if (cvVFile* bitmaps = cvVFile_Open(archive, "Bitmaps", CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY)) {
      static cvBitmap* bitmap = SmallBitmap();
      for (const char* name : {"0", "1"}) {
        if (cvVFile* entry = cvVFile_Open(bitmaps, name, CV_VFILE_OPEN_CREATE)) {
          if (bitmap) cvBitmap_WriteToFile(bitmap, entry);
          cvVFile_Close(entry);
        }
      }
      cvVFile_Close(bitmaps);
    }
  });
}

void ReadBody(const uint8_t* Data, size_t Size) {
  if (cvBody* body = cvfuzz::ReadBytes(Data, Size, cvBody_CreateFromFile)) {
    // Whatever was accepted must be safe to walk: every face names real corners.
    int32_t vertices = 0, faces = 0, normals = 0;
    cvBody_GetGeometryStats(body, 0, &vertices, &faces, &normals);
    for (int32_t f = 0; f < faces; ++f) {
      const cvBodyFace& face = body->Levels[0].Faces[f];
      for (int c = 0; c < 3; ++c) {
        if (face.VertexIndex[c] >= vertices || face.NormalIndex[c] >= normals) __builtin_trap();
      }
    }
    cvBody_Destroy(&body);
  }
  cvErrorLog_Clear();
}

std::vector<uint8_t> WriteBody(cvBody* Body) {
  return cvfuzz::WriteBytes([&](cvVFile* file) { return cvBody_WriteToFile(Body, file); });
}

// The geometry stream of a written body file.
std::vector<uint8_t> GeometryOf(const std::vector<uint8_t>& BodyFile) {
  std::vector<uint8_t> bytes;
  cvVFile* file = cvfuzz::OpenBytes(BodyFile.data(), BodyFile.size());
  cvVFile* archive = file ? cvVFile_OpenNewSystem(file, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr,
                                                   CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY)
                          : nullptr;
  cvVFile* geometry = archive ? cvVFile_Open(archive, "Geometry", CV_VFILE_OPEN_READONLY) : nullptr;
  uint32_t size = 0;
  if (geometry && cvVFile_Size(geometry, &size)) {
    bytes.resize(size);
    if (!cvVFile_Read(geometry, bytes.data(), size)) bytes.clear();
  }
  if (geometry) cvVFile_Close(geometry);
  if (archive) cvVFile_Close(archive);
  if (file) cvVFile_Close(file);
  return bytes;
}

// A small body: Bones bones in a chain, a ring of quads around them, two
// materials (the second textured when Textured).
cvBody* MakeBody(int Bones, bool Textured) {
  cvBody* body = cvBody_Create();
  if (!body) return nullptr;
  cvXForm3d up;
  cvXForm3d_SetTranslation(&up, 0, 1, 0);
  for (int i = 0; i < Bones; ++i) cvBody_AddBone(body, i - 1, i % 2 ? "upper" : "lower", &up, nullptr);
  cvBitmap* bitmap = Textured ? SmallBitmap() : nullptr;
  cvBody_AddMaterial(body, "cloth", nullptr, 100, 50, 25, nullptr);
  cvBody_AddMaterial(body, "skin", bitmap, 250, 200, 150, nullptr);
  cvBitmap_Destroy(&bitmap);
  for (int b = 0; b < Bones; ++b) {
    for (int s = 0; s < 4; ++s) {
      const float a0 = (float)s * 1.5708f, a1 = (float)(s + 1) * 1.5708f;
      cvVec3d p0{__builtin_cosf(a0), 0, __builtin_sinf(a0)}, p1{__builtin_cosf(a1), 0, __builtin_sinf(a1)};
      cvVec3d p2{p0.X, 1, p0.Z}, p3{p1.X, 1, p1.Z};
      const int top = b + 1 < Bones ? b + 1 : b;
      cvBody_AddFace(body, &p0, &p0, 0, 0, b, &p1, &p1, 1, 0, b, &p2, &p2, 0, 1, top, s % 2);
      cvBody_AddFace(body, &p1, &p1, 1, 0, b, &p3, &p3, 1, 1, top, &p2, &p2, 0, 1, top, s % 2);
    }
  }
  return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size >= 4 && std::memcmp(Data, "BOD^", 4) == 0) {
    const std::vector<uint8_t> wrapped = WrapGeometry(Data, Size);
    if (!wrapped.empty()) ReadBody(wrapped.data(), wrapped.size());
  } else {
    ReadBody(Data, Size);
  }
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  int count = 0;
  const struct {
    int Bones;
    bool Textured;
    const char* Name;
  } shapes[] = {{0, false, "empty"}, {1, false, "one_bone"}, {3, true, "textured"}, {6, false, "chain"}};
  for (const auto& shape : shapes) {
    cvBody* body = MakeBody(shape.Bones, shape.Textured);
    if (!body) continue;
    const std::vector<uint8_t> file = WriteBody(body);
    cvBody_Destroy(&body);
    if (file.empty()) continue;
    cvfuzz::WriteSeed(Dir, std::string("body_") + shape.Name, file);
    const std::vector<uint8_t> geometry = GeometryOf(file);
    if (!geometry.empty()) cvfuzz::WriteSeed(Dir, std::string("geometry_") + shape.Name, geometry);
    count += 1 + !geometry.empty();
  }
  return count;
}
