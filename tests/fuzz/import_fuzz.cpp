// Fuzz target: model import (ImportModel) on glTF and OBJ text. The first
// byte picks the file name's extension ('o' for .obj, anything else .gltf),
// the rest is the file. Seeds: a glTF triangle on a node with a one-key
// animation and an OBJ quad in two materials.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Actor/cvactor.h"
#include "fuzz.h"
#include "import/modelimport.h"

namespace {

// One folder per process for the model file, removed at exit. Held in a
// plain array, which outlives every exit handler.
char Folder[64];

void RemoveFolder() {
  for (const char* Name : {"/model.gltf", "/model.obj"}) std::remove((std::string(Folder) + Name).c_str());
  ::rmdir(Folder);
}

std::string WorkDir() {
  if (!Folder[0]) {
    std::snprintf(Folder, sizeof Folder, "/tmp/cvfuzz-import-XXXXXX");
    if (!::mkdtemp(Folder)) std::snprintf(Folder, sizeof Folder, ".");
    else std::atexit(RemoveFolder);
  }
  return Folder;
}

std::string Base64(const std::vector<uint8_t>& In) {
  static const char* T = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string Out;
  for (size_t I = 0; I < In.size(); I += 3) {
    const uint32_t N = (uint32_t)In[I] << 16 | (I + 1 < In.size() ? In[I + 1] << 8 : 0) |
                       (I + 2 < In.size() ? In[I + 2] : 0);
    Out += T[N >> 18 & 63];
    Out += T[N >> 12 & 63];
    Out += I + 1 < In.size() ? T[N >> 6 & 63] : '=';
    Out += I + 2 < In.size() ? T[N & 63] : '=';
  }
  return Out;
}

std::vector<uint8_t> Seed(char Kind, const std::string& Text) {
  std::string Bytes = Kind + Text;
  return std::vector<uint8_t>(Bytes.begin(), Bytes.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const std::string Path = WorkDir() + (Data[0] == 'o' ? "/model.obj" : "/model.gltf");
  FILE* F = std::fopen(Path.c_str(), "wb");
  if (!F) return 0;
  std::fwrite(Data + 1, 1, Size - 1, F);
  std::fclose(F);
  cvActorDef* Def = nullptr;
  std::string Error;
  if (ImportModel(Path.c_str(), ImportOptions{}, &Def, &Error)) cvActorDef_Destroy(&Def);
  return 0;
}

extern "C" int cvFuzz_WriteSeeds(const char* Dir) {
  // Three positions, three indices, then two key times and two rotations.
  std::vector<uint8_t> Buffer;
  auto Put = [&](const void* P, size_t N) {
    const uint8_t* B = static_cast<const uint8_t*>(P);
    Buffer.insert(Buffer.end(), B, B + N);
  };
  const float Pos[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const uint16_t Index[] = {0, 1, 2, 0};
  const float Times[] = {0, 1}, Rot[] = {0, 0, 0, 1, 0, 0.7071068f, 0, 0.7071068f};
  Put(Pos, sizeof Pos), Put(Index, sizeof Index), Put(Times, sizeof Times), Put(Rot, sizeof Rot);
  const std::string Gltf =
      "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
      "\"nodes\":[{\"name\":\"Tri\",\"mesh\":0}],"
      "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0},\"indices\":1}]}],"
      "\"animations\":[{\"name\":\"spin\",\"samplers\":[{\"input\":2,\"output\":3}],"
      "\"channels\":[{\"sampler\":0,\"target\":{\"node\":0,\"path\":\"rotation\"}}]}],"
      "\"buffers\":[{\"byteLength\":" + std::to_string(Buffer.size()) +
      ",\"uri\":\"data:application/octet-stream;base64," + Base64(Buffer) + "\"}],"
      "\"bufferViews\":[{\"buffer\":0,\"byteOffset\":0,\"byteLength\":36},"
      "{\"buffer\":0,\"byteOffset\":36,\"byteLength\":6},{\"buffer\":0,\"byteOffset\":44,\"byteLength\":8},"
      "{\"buffer\":0,\"byteOffset\":52,\"byteLength\":32}],"
      "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":\"VEC3\","
      "\"min\":[0,0,0],\"max\":[1,1,0]},{\"bufferView\":1,\"componentType\":5123,\"count\":3,\"type\":\"SCALAR\"},"
      "{\"bufferView\":2,\"componentType\":5126,\"count\":2,\"type\":\"SCALAR\",\"min\":[0],\"max\":[1]},"
      "{\"bufferView\":3,\"componentType\":5126,\"count\":2,\"type\":\"VEC4\"}]}";
  cvfuzz::WriteSeed(Dir, "triangle_gltf", Seed('g', Gltf));
  cvfuzz::WriteSeed(Dir, "quad_obj",
                    Seed('o', "o Quad\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 1\nvn 0 0 1\n"
                              "usemtl A\nf 1/1/1 2/2/1 3/2/1\nusemtl B\nf 1/1/1 3/2/1 4/1/1\n"));
  return 2;
}
