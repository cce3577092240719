// The bundled sample actor as plain data: a humanoid figure built from
// generated surfaces, its skeleton, painted textures and two looping motions.
// Nothing here touches the engine, so the model can be checked on its own; the
// actortool "sample" command turns it into a body and an actor definition.
//
// Units and axes: Y is up, the figure stands on Y = 0, is about 72 units tall
// and faces -Z (its "in" direction); +X is the figure's right.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

struct Vec3 {
  float X = 0, Y = 0, Z = 0;
};

// W, X, Y, Z; the identity is (1, 0, 0, 0).
struct Quat {
  float W = 1, X = 0, Y = 0, Z = 0;
};

struct Bone {
  std::string Name;
  int Parent = -1;   // an earlier bone, or -1 for the root
  Vec3 Joint;        // rest position of the joint in model space
  Vec3 Offset;       // rest position relative to the parent's joint (the attachment)
};

// One triangle corner in model space (rest pose).
struct Corner {
  Vec3 Position;
  Vec3 Normal;  // unit length, pointing out of the surface
  float U = 0, V = 0;
  int Bone = 0;
};

struct Triangle {
  Corner C[3];  // counter-clockwise seen from outside
  int Material = 0;
  int Part = 0;  // index of the surface piece the triangle belongs to
};

// A texture as packed 8-bit R, G, B triples, rows from the top.
struct Texture {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
};

struct Material {
  std::string Name;
  float Red = 255, Green = 255, Blue = 255;  // 0 ... 255
  int Texture = -1;                          // index into Model::Textures, -1 for none
};

// One key of a bone's track: the joint's local rotation and its translation
// away from the rest position.
struct Key {
  float Time = 0;
  Quat Rotation;
  Vec3 Translation;
};

struct Motion {
  std::string Name;
  bool Looped = true;
  std::vector<std::vector<Key>> Tracks;  // one track per bone, in bone order
};

struct Model {
  std::vector<Bone> Bones;
  std::vector<std::string> PartNames;  // surface pieces, for diagnostics and tests
  std::vector<Triangle> Triangles;     // sorted by (highest bone, lowest bone) of their corners
  std::vector<Texture> Textures;
  std::vector<Material> Materials;
  std::vector<Motion> Motions;
};

std::vector<Bone> BuildSkeleton();
// Surfaces of the figure; PartNames receives one name per piece.
std::vector<Triangle> BuildMesh(const std::vector<Bone>& Bones, std::vector<std::string>* PartNames);
// Materials and the textures they use.
void BuildMaterials(std::vector<Material>* Materials, std::vector<Texture>* Textures);
std::vector<Motion> BuildMotions(const std::vector<Bone>& Bones);
Model BuildModel();

// Index of the bone with this name, or -1.
int FindBone(const std::vector<Bone>& Bones, const std::string& Name);

// Small vector and quaternion helpers shared by the generators and the tests.
Vec3 Add(Vec3 A, Vec3 B);
Vec3 Sub(Vec3 A, Vec3 B);
Vec3 Scale(Vec3 A, float S);
Vec3 Cross(Vec3 A, Vec3 B);
float Dot(Vec3 A, Vec3 B);
float Length(Vec3 A);
Vec3 Normalize(Vec3 A);
Quat AxisAngle(Vec3 Axis, float Angle);
Quat Multiply(Quat A, Quat B);
Vec3 Rotate(Quat Q, Vec3 V);

}  // namespace sample
