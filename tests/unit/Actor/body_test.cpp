// Bodies: the face builder (sharing, material order, bone order), materials
// and their bitmap references, the body file round trip, and refusal of
// malformed body files.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <tuple>

#include "Actor/body_scan.h"
#include "actor_testutil.h"
#include "testsupport.h"

using namespace actortest;

namespace {

cvVec3d V(float X, float Y, float Z) { return cvVec3d{X, Y, Z}; }

BodyPtr BodyWithBones(int Count) {
  BodyPtr body(cvBody_Create());
  const cvXForm3d up = Translation(0, 1, 0);
  for (int i = 0; i < Count; ++i) EXPECT_TRUE(cvBody_AddBone(body.get(), i - 1, "b", &up, nullptr));
  EXPECT_TRUE(cvBody_AddMaterial(body.get(), "m0", nullptr, 1, 2, 3, nullptr));
  EXPECT_TRUE(cvBody_AddMaterial(body.get(), "m1", nullptr, 1, 2, 3, nullptr));
  EXPECT_TRUE(cvBody_AddMaterial(body.get(), "m2", nullptr, 1, 2, 3, nullptr));
  return body;
}

bool AddTriangle(cvBody* Body, cvVec3d P0, cvVec3d P1, cvVec3d P2, int B0, int B1, int B2, int M) {
  const cvVec3d n = V(0, 0, 1);
  return cvBody_AddFace(Body, &P0, &n, P0.X, P0.Y, B0, &P1, &n, P1.X, P1.Y, B1, &P2, &n, P2.X, P2.Y,
                        B2, M);
}

// Bytes of the geometry stream of a written body, and an archive rebuilt
// around changed geometry bytes.
std::vector<uint8_t> GeometryOf(cvBody* Body) {
  auto file = WriteToMemory([Body](cvVFile* f) { return cvBody_WriteToFile(Body, f); });
  return ArchiveEntry(file, "Geometry");
}
std::vector<uint8_t> BodyFileWith(const std::vector<uint8_t>& Geometry) {
  return MakeArchive({{"Geometry", Geometry}}, {"Bitmaps"});
}

// MakeBody() without its one bitmap, so that its geometry alone is a body.
BodyPtr PlainBody() {
  BodyPtr body(MakeBody());
  EXPECT_TRUE(cvBody_SetMaterial(body.get(), 1, nullptr, 1, 1, 1));
  return body;
}

// Offsets inside the geometry stream.
size_t VertexOffset() { return 4 + 4 + 24 + 2; }
size_t BoneOffset(const cvBody* B) {
  return VertexOffset() + B->VertexCount * 24u + 2 + B->NormalCount * 16u + 2;
}
size_t MaterialOffset(const cvBody* B) {
  return BoneOffset(B) + B->BoneCount * 76u + 12 + cvStrBlock_GetDataSize(B->BoneNames) + 2;
}
size_t LevelOffset(const cvBody* B) {
  return MaterialOffset(B) + B->MaterialCount * 16u + 12 + cvStrBlock_GetDataSize(B->MaterialNames);
}

}  // namespace

TEST(Body, CornersShareVerticesAndNormalsOnlyOnTheSameBone) {
  BodyPtr body = BodyWithBones(2);
  // The second face repeats two corners within the tolerance.
  ASSERT_TRUE(AddTriangle(body.get(), V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), 0, 0, 0, 0));
  ASSERT_TRUE(AddTriangle(body.get(), V(1.0005f, 0, 0), V(0, 1, 0.0009f), V(1, 1, 0), 0, 0, 0, 0));
  EXPECT_EQ(body->VertexCount, 4);
  EXPECT_EQ(body->NormalCount, 1);
  // The same position on another bone is another vertex (and normal).
  ASSERT_TRUE(AddTriangle(body.get(), V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), 1, 1, 1, 0));
  EXPECT_EQ(body->VertexCount, 7);
  EXPECT_EQ(body->NormalCount, 2);
  // A texture coordinate beyond the tolerance makes a new vertex.
  const cvVec3d p = V(0, 0, 0), n = V(0, 0, 5);
  ASSERT_TRUE(cvBody_AddFace(body.get(), &p, &n, 0.002f, 0, 0, &p, &n, 0, 0, 0, &p, &n, 0, 0, 0, 0));
  EXPECT_EQ(body->VertexCount, 8);
  EXPECT_FLOAT_EQ(body->Normals[0].Normal.Z, 1.0f);  // stored normalised
  // Bone boxes grow with the vertices attached.
  cvVec3d lo, hi;
  ASSERT_TRUE(cvBody_GetBoundingBox(body.get(), 0, &lo, &hi));
  EXPECT_FLOAT_EQ(hi.X, 1.0f);  // a shared corner does not widen the box
  EXPECT_FLOAT_EQ(hi.Y, 1.0f);
  EXPECT_FLOAT_EQ(lo.X, 0.0f);
}

TEST(Body, FacesStayInMaterialOrderAndFaceAddOrderWithinAMaterial) {
  BodyPtr body = BodyWithBones(1);
  const int materials[] = {2, 0, 2, 1};
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(AddTriangle(body.get(), V((float)i, 0, 0), V(0, 1, 0), V(0, 0, 1), 0, 0, 0, materials[i]));
  const cvBodyLevel& level = body->Levels[0];
  ASSERT_EQ(level.FaceCount, 4);
  const float expectedX[] = {1, 3, 0, 2};  // material 0, 1, 2 (first), 2 (second)
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(level.Faces[i].MaterialIndex, (uint16_t)(i < 3 ? i : 2));
    EXPECT_EQ(body->Vertices[level.Faces[i].VertexIndex[0]].Position.X, expectedX[i]);
  }
}

// Random faces over random bones: afterwards the vertices are in bone order,
// no corner is lost or merged wrongly, and every face still names exactly the
// corners it was given, in the order given.
TEST(Body, BoneSortKeepsEveryFaceOnItsOwnCorners) {
  BodyPtr body = BodyWithBones(6);
  std::mt19937 random(7);
  struct Corner {
    float X, Y, U;
    int Bone;
  };
  std::vector<std::array<Corner, 3>> faces;
  std::map<std::tuple<float, float, float, int>, int> distinct;
  for (int f = 0; f < 200; ++f) {
    std::array<Corner, 3> face;
    for (Corner& c : face) {
      c = {(float)(random() % 5), (float)(random() % 5), (float)(random() % 2), (int)(random() % 6)};
      distinct[{c.X, c.Y, c.U, c.Bone}] = 1;
    }
    faces.push_back(face);
    const cvVec3d n = V(0, 1, 0);
    cvVec3d p[3];
    for (int c = 0; c < 3; ++c) p[c] = V(face[c].X, face[c].Y, 0);
    ASSERT_TRUE(cvBody_AddFace(body.get(), &p[0], &n, face[0].U, 0, face[0].Bone, &p[1], &n, face[1].U,
                               0, face[1].Bone, &p[2], &n, face[2].U, 0, face[2].Bone, 0));
  }
  ASSERT_EQ(body->VertexCount, (int)distinct.size());
  for (int i = 1; i < body->VertexCount; ++i)
    ASSERT_LE(body->Vertices[i - 1].BoneIndex, body->Vertices[i].BoneIndex) << i;
  const cvBodyLevel& level = body->Levels[0];
  ASSERT_EQ(level.FaceCount, 200);
  for (int f = 0; f < 200; ++f) {
    for (int c = 0; c < 3; ++c) {
      const cvBodyVertex& v = body->Vertices[level.Faces[f].VertexIndex[c]];
      EXPECT_EQ(v.Position.X, faces[f][c].X) << f << " " << c;
      EXPECT_EQ(v.Position.Y, faces[f][c].Y) << f << " " << c;
      EXPECT_EQ(v.U, faces[f][c].U) << f << " " << c;
      EXPECT_EQ(v.BoneIndex, faces[f][c].Bone) << f << " " << c;
      EXPECT_EQ(body->Normals[level.Faces[f].NormalIndex[c]].BoneIndex, faces[f][c].Bone);
    }
  }
}

TEST(Body, AddOperationsRefuseWhatCouldNotBeDrawnOrSaved) {
  BodyPtr body = BodyWithBones(2);
  int32_t index = -1;
  EXPECT_FALSE(cvBody_AddMaterial(body.get(), "m1", nullptr, 0, 0, 0, &index));
  EXPECT_LOGGED(-1);
  EXPECT_FALSE(cvBody_AddMaterial(body.get(), "", nullptr, 0, 0, 0, &index));
  EXPECT_FALSE(cvBody_AddMaterial(body.get(), nullptr, nullptr, 0, 0, 0, &index));
  EXPECT_EQ(cvBody_GetMaterialCount(body.get()), 3);
  EXPECT_TRUE(cvBody_AddMaterial(body.get(), "M1", nullptr, 0, 0, 0, &index));  // case-sensitive
  EXPECT_EQ(index, 3);
  // Unknown bone, unknown material, a parent that is not an earlier bone.
  EXPECT_FALSE(AddTriangle(body.get(), V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), 0, 2, 0, 0));
  EXPECT_FALSE(AddTriangle(body.get(), V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), 0, 0, 0, 4));
  const cvXForm3d up = Translation(0, 1, 0);
  EXPECT_FALSE(cvBody_AddBone(body.get(), 2, "ahead", &up, nullptr));
  EXPECT_EQ(body->VertexCount, 0);
  EXPECT_EQ(cvBody_GetBoneCount(body.get()), 2);
}

TEST(Body, BoneQueriesAndBoxes) {
  BodyPtr body(MakeBody());
  ASSERT_TRUE(body);
  int32_t index = -1, parent = -2;
  cvXForm3d attachment;
  ASSERT_TRUE(cvBody_GetBoneByName(body.get(), "head", &index, &attachment, &parent));
  EXPECT_EQ(index, 3);
  EXPECT_EQ(parent, 1);
  EXPECT_FLOAT_EQ(attachment.T.Y, 1.0f);
  EXPECT_FALSE(cvBody_GetBoneByName(body.get(), "Head", &index, nullptr, nullptr));
  const char* name = nullptr;
  ASSERT_TRUE(cvBody_GetBone(body.get(), 1, &name, nullptr, &parent));
  EXPECT_STREQ(name, "spine");
  EXPECT_EQ(parent, 0);

  const cvXForm3d up = Translation(0, 1, 0);
  ASSERT_TRUE(cvBody_AddBone(body.get(), 0, "empty", &up, &index));
  cvVec3d lo, hi;
  EXPECT_FALSE(cvBody_GetBoundingBox(body.get(), index, &lo, &hi));
  EXPECT_TRUE(cvBody_GetBoundingBox(body.get(), -1, &lo, &hi));
  EXPECT_FLOAT_EQ(hi.Y, 8.0f);
}

TEST(Body, SetMaterialMovesTheBitmapReference) {
  BodyPtr body = BodyWithBones(1);
  cvBitmap* first = MakeBitmap(4, 4, 1);
  cvBitmap* second = MakeBitmap(4, 4, 2);
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(cvBody_SetMaterial(body.get(), 0, first, 5, 6, 7));
  EXPECT_EQ(first->RefCount, 2);
  ASSERT_TRUE(cvBody_SetMaterial(body.get(), 0, first, 8, 9, 10));  // same bitmap: colour only
  EXPECT_EQ(first->RefCount, 2);
  ASSERT_TRUE(cvBody_SetMaterial(body.get(), 0, second, 8, 9, 10));
  EXPECT_EQ(first->RefCount, 1);
  EXPECT_EQ(second->RefCount, 2);
  cvBitmap* shown = nullptr;
  float r = 0, g = 0, b = 0;
  ASSERT_TRUE(cvBody_GetMaterial(body.get(), 0, nullptr, &shown, &r, &g, &b));
  EXPECT_EQ(shown, second);
  EXPECT_EQ(r + g + b, 27.0f);
  ASSERT_TRUE(cvBody_SetMaterial(body.get(), 0, nullptr, 0, 0, 0));
  EXPECT_EQ(second->RefCount, 1);
  ASSERT_TRUE(cvBody_AddMaterial(body.get(), "held", second, 0, 0, 0, nullptr));
  EXPECT_EQ(second->RefCount, 2);
  body.reset();  // destroying the body gives its reference back
  EXPECT_EQ(second->RefCount, 1);
  cvBitmap_Destroy(&first);
  cvBitmap_Destroy(&second);
}

// Saved after a repaint: material 0 takes a new bitmap, material 1 loses
// its own; every record, name, colour and bitmap reads back as it was.
TEST(Body, FileRoundTripKeepsEveryRecordNameColourAndBitmap) {
  BodyPtr body(MakeBody());
  ASSERT_TRUE(body);
  cvBitmap* repaint = MakeBitmap(8, 4, 9);
  ASSERT_TRUE(cvBody_SetMaterial(body.get(), 0, repaint, 1, 2, 3));
  ASSERT_TRUE(cvBody_SetMaterial(body.get(), 1, nullptr, 4, 5, 6));
  cvBitmap_Destroy(&repaint);
  const auto file = WriteToMemory([&](cvVFile* f) { return cvBody_WriteToFile(body.get(), f); });
  ASSERT_FALSE(file.empty());
  BodyPtr copy(ReadBody(file));
  ASSERT_TRUE(cvBody_IsValid(copy.get()));
  const cvBody& a = *body;
  const cvBody& b = *copy;
  EXPECT_EQ(std::memcmp(&a.BoxMin, &b.BoxMin, sizeof a.BoxMin), 0);
  EXPECT_EQ(std::memcmp(&a.BoxMax, &b.BoxMax, sizeof a.BoxMax), 0);
  ASSERT_EQ(a.VertexCount, b.VertexCount);
  ASSERT_EQ(a.NormalCount, b.NormalCount);
  ASSERT_EQ(a.BoneCount, b.BoneCount);
  ASSERT_EQ(a.MaterialCount, b.MaterialCount);
  ASSERT_EQ(a.LevelCount, b.LevelCount);
  EXPECT_EQ(std::memcmp(a.Vertices, b.Vertices, a.VertexCount * sizeof(cvBodyVertex)), 0);
  EXPECT_EQ(std::memcmp(a.Normals, b.Normals, a.NormalCount * sizeof(cvBodyNormal)), 0);
  EXPECT_EQ(std::memcmp(a.Bones, b.Bones, a.BoneCount * sizeof(cvBodyBone)), 0);
  ASSERT_EQ(a.Levels[0].FaceCount, b.Levels[0].FaceCount);
  EXPECT_EQ(std::memcmp(a.Levels[0].Faces, b.Levels[0].Faces, a.Levels[0].FaceCount * sizeof(cvBodyFace)), 0);
  for (int i = 0; i < a.BoneCount; ++i)
    EXPECT_STREQ(cvStrBlock_GetString(a.BoneNames, i), cvStrBlock_GetString(b.BoneNames, i));
  for (int i = 0; i < a.MaterialCount; ++i) {
    const char *na, *nb;
    cvBitmap *ba, *bb;
    float ra, ga, bla, rb, gb, blb;
    cvBody_GetMaterial(&a, i, &na, &ba, &ra, &ga, &bla);
    cvBody_GetMaterial(&b, i, &nb, &bb, &rb, &gb, &blb);
    EXPECT_STREQ(na, nb);
    EXPECT_EQ(std::make_tuple(ra, ga, bla), std::make_tuple(rb, gb, blb));
    ASSERT_EQ(ba == nullptr, bb == nullptr) << i;
    if (bb) {
      EXPECT_EQ(bb->RefCount, 1);
      EXPECT_EQ(bb->DriverMipCount, 4);
      EXPECT_EQ(bb->System.Width, ba->System.Width);
      EXPECT_EQ(std::memcmp(cvBitmap_GetMipData(ba, 0), cvBitmap_GetMipData(bb, 0), 8 * 4 * 3), 0);
    }
  }
  // The bitmap of material 0 is the "Bitmaps" entry "0"; the others have
  // none, and the material record's bitmap word says so.
  EXPECT_FALSE(ArchiveEntry(file, "Bitmaps\\0").empty());
  EXPECT_TRUE(ArchiveEntry(file, "Bitmaps\\1").empty());
  const auto geometry = ArchiveEntry(file, "Geometry");
  const size_t materials = MaterialOffset(body.get());
  EXPECT_EQ(cvLE_Get32(&geometry[materials]), 1u);
  EXPECT_EQ(cvLE_Get32(&geometry[materials + 16]), 0u);
  EXPECT_EQ(cvLE_Get32(&geometry[materials + 32]), 0u);
}

TEST(Body, EmptyBodyRoundTrips) {
  BodyPtr body(cvBody_Create());
  int32_t vertices = -1, faces = -1, normals = -1;
  EXPECT_TRUE(cvBody_GetGeometryStats(body.get(), 0, &vertices, &faces, &normals));
  EXPECT_EQ(vertices + faces + normals, 0);
  const auto file = WriteToMemory([&](cvVFile* f) { return cvBody_WriteToFile(body.get(), f); });
  BodyPtr copy(ReadBody(file));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->MaterialCount, 0);
  EXPECT_EQ(cvStrBlock_GetCount(copy->MaterialNames), 0);
  EXPECT_EQ(copy->LevelCount, 1);
  cvBody* raw = copy.release();
  cvBody_Destroy(&raw);
  EXPECT_EQ(raw, nullptr);  // destroying clears the handle
}

TEST(Body, ReaderRefusesWrongTagVersionAndLevelCount) {
  BodyPtr body(MakeBody());
  const auto good = GeometryOf(body.get());
  ASSERT_FALSE(good.empty());
  auto bad = good;
  bad[0] = 'X';
  EXPECT_EQ(ReadBody(BodyFileWith(bad)), nullptr);
  EXPECT_LOGGED(97);
  bad = good;
  bad[4] = 0xF0;
  EXPECT_EQ(ReadBody(BodyFileWith(bad)), nullptr);
  EXPECT_LOGGED(98);
  bad = good;
  cvLE_Put32(&bad[LevelOffset(body.get())], 5);
  EXPECT_EQ(ReadBody(BodyFileWith(bad)), nullptr);
  EXPECT_LOGGED(98);
  // Without the "Bitmaps" directory the textured material cannot be loaded.
  EXPECT_EQ(ReadBody(MakeArchive({{"Geometry", good}}, {})), nullptr);
  EXPECT_LOGGED(98);
}

TEST(Body, ReaderRefusesIndicesOutsideTheirArrays) {
  BodyPtr body = PlainBody();
  // Enough records for whole blocks and some behind them (blocks are 16
  // faces, 8 vertices, 2 normals).
  for (int i = 0; i < 8; ++i)
    ASSERT_TRUE(AddTriangle(body.get(), V(5.0f + (float)i, 0, 0), V(5.0f + (float)i, 1, 0), V(5.0f + (float)i, 0, 1), i % 4,
                            (i + 1) % 4, (i + 2) % 4, i % 3));
  const cvVec3d p = V(9, 9, 9), n = V(1, 0, 0);
  ASSERT_TRUE(cvBody_AddFace(body.get(), &p, &n, 0, 0, 0, &p, &n, 1, 0, 1, &p, &n, 0, 1, 2, 0));
  const cvBody* b = body.get();
  const auto good = GeometryOf(body.get());
  const size_t faces = LevelOffset(b) + 4 + 4;
  struct Poke {
    size_t Offset;
    uint16_t Value;
  } pokes[] = {
      {BoneOffset(b) + 72, 0},       // root names itself
      {BoneOffset(b) + 76 + 72, 1},  // bone 1 names itself
  };
  for (const Poke& poke : pokes) {
    auto bad = good;
    cvLE_Put16(&bad[poke.Offset], poke.Value);
    EXPECT_EQ(ReadBody(BodyFileWith(bad)), nullptr) << poke.Offset;
    EXPECT_LOGGED(98);
  }
  // Every index field of every vertex, normal and face (they are checked a
  // few records at a time, the rest one by one): the count itself and -1
  // are refused, the last valid index read.
  const size_t normals = VertexOffset() + b->VertexCount * 24u + 2;
  std::vector<std::pair<size_t, int32_t>> fields;  // offset, count of what the field names
  for (int32_t v = 0; v < b->VertexCount; ++v) fields.push_back({VertexOffset() + 24u * (size_t)v + 22, b->BoneCount});
  for (int32_t n = 0; n < b->NormalCount; ++n) fields.push_back({normals + 16u * (size_t)n + 14, b->BoneCount});
  ASSERT_TRUE(b->Levels[0].FaceCount > 16 && b->Levels[0].FaceCount % 16 != 0);
  ASSERT_TRUE(b->VertexCount > 8 && b->VertexCount % 8 != 0);
  ASSERT_TRUE(b->NormalCount > 2 && b->NormalCount % 2 != 0);
  for (int32_t f = 0; f < b->Levels[0].FaceCount; ++f)
    for (int field = 0; field < 7; ++field)
      fields.push_back({faces + 14u * (size_t)f + 2u * (size_t)field,
                        field < 3 ? b->VertexCount : field < 6 ? b->NormalCount : b->MaterialCount});
  for (const auto& [offset, count] : fields) {
    auto edited = good;
    for (uint16_t wrong : {(uint16_t)count, (uint16_t)0xFFFF}) {
      cvLE_Put16(&edited[offset], wrong);
      EXPECT_EQ(ReadBody(BodyFileWith(edited)), nullptr) << offset << " " << wrong;
    }
    cvLE_Put16(&edited[offset], (uint16_t)(count - 1));
    BodyPtr read(ReadBody(BodyFileWith(edited)));
    EXPECT_TRUE(read) << offset;
  }
  // A bone-name block that names fewer bones than there are.
  auto bad = good;
  const size_t names = BoneOffset(b) + b->BoneCount * 76u;
  cvLE_Put32(&bad[names + 4], (uint32_t)b->BoneCount - 1);
  EXPECT_EQ(ReadBody(BodyFileWith(bad)), nullptr);
}

// The block maxima the reader checks indices with, in 16- and 32-byte
// vectors, against a plain loop: random words with 0 and 0xFFFF in the first
// and last block, over running maxima that start anywhere.
TEST(Body, BlockMaximaMatchAPlainLoop) {
  std::mt19937 rng(5);
  for (int words : {16, 96, 112}) {
    for (size_t blocks : {0u, 1u, 2u, 37u}) {
      std::vector<uint16_t> data(blocks * (size_t)words + 1);
      for (uint16_t& w : data) w = (uint16_t)(rng() >> (rng() % 16));
      if (blocks) data[rng() % (size_t)words] = 0xFFFF, data[(blocks - 1) * (size_t)words + rng() % (size_t)words] = 0xFFFF;
      std::vector<uint16_t> start((size_t)words);
      for (uint16_t& w : start) w = (uint16_t)(rng() % 3 == 0 ? rng() : 0);
      std::vector<uint16_t> expected = start;
      for (size_t b = 0; b < blocks; ++b)
        for (int i = 0; i < words; ++i) expected[(size_t)i] = std::max(expected[(size_t)i], data[b * (size_t)words + (size_t)i]);
      for (auto path : {cvbodyscan::Path::Plain, cvbodyscan::Path::Avx2, cvbodyscan::Path::Best}) {
        if (path == cvbodyscan::Path::Avx2 && !cvbodyscan::HasAvx2()) continue;
        std::vector<uint16_t> top = start;
        // From an odd address: records lie wherever the reader put them.
        std::vector<uint8_t> bytes(data.size() * 2 + 1);
        std::memcpy(bytes.data() + 1, data.data(), data.size() * 2);
        cvbodyscan::MaxWords(bytes.data() + 1, blocks, words, top.data(), path);
        EXPECT_EQ(top, expected) << words << " " << blocks << " " << (int)path;
      }
    }
  }
}

TEST(Body, EveryTruncationAndHugeCountIsRefusedCleanly) {
  BodyPtr body = PlainBody();
  const auto good = GeometryOf(body.get());
  cvBody* control = ReadBody(BodyFileWith(good));
  ASSERT_NE(control, nullptr);
  cvBody_Destroy(&control);
  for (size_t length = 0; length < good.size(); ++length) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + (long)length);
    cvErrorLog_Clear();
    cvBody* read = ReadBody(BodyFileWith(cut));
    EXPECT_EQ(read, nullptr) << length;
    cvBody_Destroy(&read);
    EXPECT_FALSE(cvtest::LoggedCodes().empty()) << length;
  }
  auto huge = good;
  cvLE_Put16(&huge[VertexOffset() - 2], 0x7FFF);
  EXPECT_EQ(ReadBody(BodyFileWith(huge)), nullptr);
  EXPECT_LOGGED(98);
}

TEST(Body, ReadingSurvivesEveryAllocationFailure) {
  BodyPtr body(MakeBody());
  const auto file = WriteToMemory([&](cvVFile* f) { return cvBody_WriteToFile(body.get(), f); });
  cvtest::MemoryReader reader(file);
  cvtest::WalkAllocationFailures(
      399,
      [&] {
        cvVFile_Seek(reader.File(), 0, CV_VFILE_SEEKSET);
        return cvBody_CreateFromFile(reader.File());
      },
      [](int n, cvBody* read) {
        if (read)
          cvBody_Destroy(&read);
        else
          EXPECT_FALSE(cvtest::LoggedCodes().empty()) << n;
      },
      [](cvBody* read) {
        EXPECT_NE(read, nullptr);
        cvBody_Destroy(&read);
      });
}
