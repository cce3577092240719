#include "actor_testutil.h"

#include <cmath>
#include <cstring>
#include <map>

namespace actortest {

cvBody* ReadBody(const std::vector<uint8_t>& Bytes) {
  return ReadFromMemory<cvBody*>(Bytes, [](cvVFile* f) { return cvBody_CreateFromFile(f); });
}

cvActorDef* ReadActor(const std::vector<uint8_t>& Bytes) {
  return ReadFromMemory<cvActorDef*>(Bytes, [](cvVFile* f) { return cvActorDef_CreateFromFile(f); });
}

std::vector<uint8_t> MakeArchive(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& Files,
                                 const std::vector<std::string>& Directories) {
  return WriteToMemory([&](cvVFile* file) {
    cvVFile* archive = cvVFile_OpenNewSystem(file, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr,
                                             CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY);
    if (!archive) return 0;
    int ok = 1;
    std::map<std::string, cvVFile*> directories;
    for (const std::string& name : Directories) {
      cvVFile* directory =
          cvVFile_Open(archive, name.c_str(), CV_VFILE_OPEN_CREATE | CV_VFILE_OPEN_DIRECTORY);
      ok = ok && directory;
      if (directory) directories[name] = directory;
    }
    for (const auto& [path, bytes] : Files) {
      // "Dir\\name" goes into one of the directories made above.
      const size_t slash = path.find('\\');
      cvVFile* system = archive;
      std::string name = path;
      if (slash != std::string::npos) {
        system = directories.count(path.substr(0, slash)) ? directories[path.substr(0, slash)] : nullptr;
        name = path.substr(slash + 1);
      }
      cvVFile* entry = system ? cvVFile_Open(system, name.c_str(), CV_VFILE_OPEN_CREATE) : nullptr;
      ok = ok && entry && cvVFile_Write(entry, bytes.data(), (uint32_t)bytes.size());
      if (entry) ok = cvVFile_Close(entry) && ok;
    }
    for (auto& [name, directory] : directories) ok = cvVFile_Close(directory) && ok;
    return (int)(cvVFile_Close(archive) && ok);
  });
}

std::vector<uint8_t> ArchiveEntry(const std::vector<uint8_t>& Archive, const std::string& Path) {
  return ReadFromMemory<std::vector<uint8_t>>(Archive, [&](cvVFile* file) {
    std::vector<uint8_t> bytes;
    cvVFile* archive = cvVFile_OpenNewSystem(file, CV_VFILE_TYPE_VIRTUAL, nullptr, nullptr,
                                             CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY);
    if (!archive) return bytes;
    const size_t slash = Path.find('\\');
    cvVFile* directory = nullptr;
    cvVFile* system = archive;
    std::string name = Path;
    if (slash != std::string::npos) {
      directory = cvVFile_Open(archive, Path.substr(0, slash).c_str(),
                               CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY);
      system = directory;
      name = Path.substr(slash + 1);
    }
    cvVFile* entry = system ? cvVFile_Open(system, name.c_str(), CV_VFILE_OPEN_READONLY) : nullptr;
    uint32_t size = 0;
    if (entry && cvVFile_Size(entry, &size)) {
      bytes.resize(size);
      if (!cvVFile_Read(entry, bytes.data(), size)) bytes.clear();
    }
    if (entry) cvVFile_Close(entry);
    if (directory) cvVFile_Close(directory);
    cvVFile_Close(archive);
    return bytes;
  });
}

cvBitmap* MakeBitmap(int32_t W, int32_t H, int Seed) {
  cvBitmap* bitmap = cvBitmap_Create(W, H, 1, CV_PIXELFORMAT_24BIT_RGB);
  if (!bitmap) return nullptr;
  uint8_t* pixels = cvBitmap_AllocateMip(bitmap, 0);
  if (!pixels) {
    cvBitmap_Destroy(&bitmap);
    return nullptr;
  }
  for (int32_t i = 0; i < W * H * 3; ++i) pixels[i] = (uint8_t)(i * 7 + Seed * 31);
  cvBitmap_SetMipValid(bitmap, 0, 1);
  return bitmap;
}

cvXForm3d Translation(float X, float Y, float Z) {
  cvXForm3d m;
  cvXForm3d_SetTranslation(&m, X, Y, Z);
  return m;
}

cvBody* MakeBody() {
  cvBody* body = cvBody_Create();
  if (!body) return nullptr;
  cvXForm3d turned;
  cvXForm3d_SetZRotation(&turned, 0.5f);
  turned.T = {0.0f, 1.0f, 0.0f};
  const cvXForm3d up = Translation(0, 1, 0);
  const cvXForm3d side = Translation(1, 0, 0);
  bool ok = cvBody_AddBone(body, -1, "root", &up, nullptr) &&
            cvBody_AddBone(body, 0, "spine", &turned, nullptr) &&
            cvBody_AddBone(body, 0, "leg", &side, nullptr) &&
            cvBody_AddBone(body, 1, "head", &up, nullptr);
  cvBitmap* skin = MakeBitmap(8, 4, 3);
  ok = ok && skin && cvBody_AddMaterial(body, "cloth", nullptr, 10, 20, 30, nullptr) &&
       cvBody_AddMaterial(body, "skin", skin, 200, 150, 100, nullptr) &&
       cvBody_AddMaterial(body, "metal", nullptr, 90, 90, 95, nullptr);
  cvBitmap_Destroy(&skin);  // the body holds its own reference
  // A strip of quads climbing through the bones, corners shared between faces.
  const int bones[] = {3, 1, 2, 0, 3, 2};
  for (int i = 0; ok && i < 6; ++i) {
    const float y = (float)i;
    cvVec3d p0{0, y, 0}, p1{1, y, 0}, p2{0, y + 1, 0}, p3{1, y + 1, 0};
    cvVec3d n{0, 0, 2};  // not unit length: the body normalises it
    const int b0 = bones[i], b1 = bones[(i + 1) % 6];
    const int material = (i * 2 + 1) % 3;
    ok = cvBody_AddFace(body, &p0, &n, 0, 0, b0, &p1, &n, 1, 0, b0, &p2, &n, 0, 1, b1, material) &&
         cvBody_AddFace(body, &p1, &n, 1, 0, b0, &p3, &n, 1, 1, b1, &p2, &n, 0, 1, b1, material);
  }
  cvVec3d boxMin{-1, -1, -1}, boxMax{2, 8, 1};
  ok = ok && cvBody_SetBoundingBox(body, -1, &boxMin, &boxMax);
  if (!ok) cvBody_Destroy(&body);
  return body;
}

cvMotion* MakeMotion(const char* Name, const std::vector<std::string>& Joints, float Angle,
                     float Offset, int MaintainNames) {
  cvMotion* motion = cvMotion_Create(MaintainNames);
  if (!motion) return nullptr;
  bool ok = !Name || cvMotion_SetName(motion, Name);
  for (size_t i = 0; ok && i < Joints.size(); ++i) {
    cvPath* path = cvPath_Create(CV_PATH_INTERPOLATE_LINEAR, CV_PATH_INTERPOLATE_SLERP, 0);
    ok = path != nullptr;
    for (int k = 0; ok && k < 2; ++k) {
      cvXForm3d key;
      const float scale = (float)((k + 1) * (i + 1));
      cvXForm3d_SetZRotation(&key, Angle * scale);
      key.T = {Offset * scale, 0, 0};
      ok = cvPath_InsertKeyframe(path, CV_PATH_ALL_CHANNELS, (float)k, &key);
    }
    ok = ok && cvMotion_AddPath(motion, path, MaintainNames ? Joints[i].c_str() : nullptr, nullptr);
    if (path) cvPath_Destroy(&path);  // the motion holds its own reference
  }
  if (!ok) cvMotion_Destroy(&motion);
  return motion;
}

}  // namespace actortest
