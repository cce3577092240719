// Body and actor files assembled byte by byte from their published layouts
// (archive header and tree block, geometry stream, string blocks, engine
// bitmap, binary motion and path blocks) without the engine's writers, then
// read by the engine. A reader and writer that share a mistake pass every
// round trip; these files catch it.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "actor_testutil.h"
#include "testsupport.h"

using namespace actortest;

namespace {

struct Out {
  std::vector<uint8_t> B;
  Out& Tag(const char* Text) {
    B.insert(B.end(), Text, Text + 4);
    return *this;
  }
  Out& Raw(const std::vector<uint8_t>& Bytes) {
    B.insert(B.end(), Bytes.begin(), Bytes.end());
    return *this;
  }
  Out& Text(const std::string& Text) {  // with its NUL
    B.insert(B.end(), Text.begin(), Text.end());
    B.push_back(0);
    return *this;
  }
  Out& U8(uint8_t V) {
    B.push_back(V);
    return *this;
  }
  Out& U16(uint16_t V) { return U8((uint8_t)V).U8((uint8_t)(V >> 8)); }
  Out& U32(uint32_t V) { return U16((uint16_t)V).U16((uint16_t)(V >> 16)); }
  Out& F32(float V) {
    uint32_t bits;
    std::memcpy(&bits, &V, 4);
    return U32(bits);
  }
  Out& Vec(float X, float Y, float Z) { return F32(X).F32(Y).F32(Z); }
};

// An archive entry: a file with bytes, or a directory with children.
struct Entry {
  std::string Name;
  std::vector<uint8_t> Data;
  std::vector<Entry> Children;
  bool Directory = false;
  uint32_t Position = 0;
};
Entry File(std::string Name, std::vector<uint8_t> Data) { return {std::move(Name), std::move(Data), {}, false}; }
Entry Dir(std::string Name, std::vector<Entry> Children) { return {std::move(Name), {}, std::move(Children), true}; }

// Entry i of List and its following siblings, each followed by its children.
void EncodeEntries(std::vector<Entry>& List, size_t I, Out& Tree) {
  if (I == List.size()) {
    Tree.U32(0xFFFFFFFF);
    return;
  }
  const Entry& e = List[I];
  Tree.U32(0).U32((uint32_t)e.Name.size() + 1).Text(e.Name);
  // The first file carries a time and hint bytes, which the reader must step over.
  const bool marked = I == 0 && !e.Directory;
  Tree.U32(marked ? 0x11223344 : 0).U32(marked ? 0x01D00000 : 0);
  Tree.U32(e.Directory ? 2 : 0).U32((uint32_t)e.Data.size()).U32(e.Position);
  Tree.U32(marked ? 3 : 0);
  if (marked) Tree.U8(7).U8(8).U8(9);
  EncodeEntries(List[I].Children, 0, Tree);
  EncodeEntries(List, I + 1, Tree);
}

void PlaceData(std::vector<Entry>& List, Out& Data) {
  for (Entry& e : List) {
    e.Position = (uint32_t)Data.B.size();
    Data.Raw(e.Data);
    PlaceData(e.Children, Data);
  }
}

// An archive starting at position 0 of its file: header, the files' bytes one
// after another, then the tree block. Children keep the order given.
std::vector<uint8_t> Archive(std::vector<Entry> Root) {
  Out a;
  a.B.resize(24);
  PlaceData(Root, a);
  const uint32_t dataLength = (uint32_t)a.B.size();
  Out tree;
  tree.U32(0).U32(1).Text("").U32(0).U32(0).U32(2).U32(0).U32(0).U32(0);  // the root
  EncodeEntries(Root, 0, tree);
  tree.U32(0xFFFFFFFF);  // the root has no sibling
  a.Tag("DT01").U32((uint32_t)tree.B.size() + 8).Raw(tree.B);
  Out header;
  header.Tag("VF00").U16(0).U16(0).U32(0).U32(dataLength).U32(dataLength).U32((uint32_t)a.B.size());
  std::copy(header.B.begin(), header.B.end(), a.B.begin());
  return a.B;
}

std::vector<uint8_t> StringBlock(const std::vector<std::string>& Strings) {
  Out table, text;
  for (const std::string& s : Strings) {
    table.U32((uint32_t)(4 * Strings.size() + text.B.size()));
    text.Text(s);
  }
  table.Raw(text.B);
  return Out().Tag("SBKB").U32((uint32_t)Strings.size()).U32((uint32_t)table.B.size()).Raw(table.B).B;
}

// 90 degrees about Z, row by row, then the translation.
Out& QuarterTurn(Out& O, float X, float Y, float Z) { return O.Vec(0, -1, 0).Vec(1, 0, 0).Vec(0, 0, 1).Vec(X, Y, Z); }

const uint8_t kPixels[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};

// Two bones ("hips"; "chest", a child turned a quarter about Z), four
// vertices, two normals, materials "skin" (textured, with an arbitrary
// non-zero bitmap word) and "cloth", and two faces; LevelCount as given.
std::vector<uint8_t> Geometry(uint32_t LevelCount, bool TextMaterialNames = false) {
  Out g;
  g.Tag("BOD^").U32(0xF1).Vec(-1, -2, -3).Vec(4, 5, 6);
  g.U16(4);
  const float pos[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (int v = 0; v < 4; ++v)  // reserved byte 0x5A: readers ignore it
    g.Vec(pos[v][0], pos[v][1], 0.5f).F32(0.25f * v).F32(1 - 0.25f * v).U8(1).U8(0x5A).U16(v / 2);
  g.U16(2).Vec(0, 0, 1).U8(1).U8(0).U16(0).Vec(0, 1, 0).U8(1).U8(0x77).U16(1);
  g.U16(2);
  g.Vec(0, 0, 0.5f).Vec(1, 0, 0.5f).Vec(1, 0, 0).Vec(0, 1, 0).Vec(0, 0, 1).Vec(0, 1, 0).U16(0xFFFF).U16(0);
  QuarterTurn(g.Vec(0, 1, 0.5f).Vec(1, 1, 0.5f), 0, 2, 0).U16(0).U16(0xEEEE);
  g.Raw(StringBlock({"hips", "chest"}));
  g.U16(2).U32(0xDEADBEEF).F32(255).F32(128).F32(64).U32(0).F32(10).F32(20).F32(30);
  if (TextMaterialNames)
    g.Tag("SBLK").Raw({' ', '0', '.', 'F', '0', '\n'}).Raw({'S', 't', 'r', 'i', 'n', 'g', 's', ' ', '2', '\n'})
        .Raw({'s', 'k', 'i', 'n', '\r', '\n', 'c', 'l', 'o', 't', 'h', '\n'});
  else
    g.Raw(StringBlock({"skin", "cloth"}));
  g.U32(LevelCount);
  if ((int32_t)LevelCount >= 1) {
    // The count is a 16-bit number in 32 bits: the high half is not part of it.
    g.U32(0xABCD0002);
    g.U16(0).U16(1).U16(2).U16(0).U16(0).U16(1).U16(0);
    g.U16(1).U16(3).U16(2).U16(0).U16(1).U16(1).U16(1);
  }
  return g.B;
}

std::vector<uint8_t> BodyFile(uint32_t LevelCount, bool TextMaterialNames = false) {
  // 2 x 2 pixels of format 9 (24-bit RGB), size as powers of two, level 0 only.
  std::vector<uint8_t> bitmap = Out().Tag("CvBm").U8(0x40).U8(0x01).U8(9).U8(0x00).U8(0x11).U8(0).B;
  bitmap.insert(bitmap.end(), kPixels, kPixels + 12);
  bitmap.push_back(0x0F);
  return Archive({File("Geometry", Geometry(LevelCount, TextMaterialNames)),
                  Dir("Bitmaps", {File("0", bitmap), File("7", {1, 2, 3})})});
}

int32_t Checksum(const std::vector<std::string>& Strings) {
  uint32_t sum = 0;
  for (const std::string& s : Strings) {
    for (char c : s) sum += (uint32_t)(int32_t)(int8_t)c;
    sum *= 3;
  }
  return (int32_t)sum;
}

// A leaf motion "spin" whose path "hips" turns a quarter about Z from 0 s to
// 1 s (slerp keys) and whose path "chest" moves 4 along X from 0 s to 2 s.
std::vector<uint8_t> Motion() {
  Out m;
  m.Tag("MTNB").U32(0xF0).U32(5u | 1u << 16 | 2u << 24).Text("spin");
  m.U32(2).U32((uint32_t)Checksum({"hips", "chest"})).U32(2).Raw(StringBlock({"hips", "chest"}));
  const float s = std::sqrt(0.5f);
  m.U32(0x10010000u | 1u | 4u << 2).U32(48).U32(1u << 16).U32(2).F32(0).F32(1);
  m.F32(1).F32(0).F32(0).F32(0).F32(s).F32(0).F32(0).F32(s);
  m.U32(0x10010000u | 2u | 3u << 2).U32(40).U32(0).U32(2).F32(0).F32(2).Vec(0, 0, 0).Vec(4, 0, 0);
  return m.B;
}

void ExpectHandBuiltBody(const cvBody* Body, int32_t Levels) {
  ASSERT_TRUE(cvBody_IsValid(Body));
  cvVec3d lo, hi;
  ASSERT_TRUE(cvBody_GetBoundingBox(Body, -1, &lo, &hi));
  EXPECT_EQ((std::vector<float>{lo.X, lo.Y, lo.Z, hi.X, hi.Y, hi.Z}), (std::vector<float>{-1, -2, -3, 4, 5, 6}));
  ASSERT_EQ(Body->VertexCount, 4);
  for (int v = 0; v < 4; ++v) {
    const cvBodyVertex& x = Body->Vertices[v];
    EXPECT_EQ((std::vector<float>{x.Position.X, x.Position.Y, x.Position.Z, x.U, x.V}),
              (std::vector<float>{(float)(v % 2), (float)(v / 2), 0.5f, 0.25f * v, 1 - 0.25f * v}));
    EXPECT_EQ(x.Active, 1);
    EXPECT_EQ(x.BoneIndex, v / 2);
  }
  ASSERT_EQ(Body->NormalCount, 2);
  EXPECT_EQ(Body->Normals[1].Normal.Y, 1.0f);
  EXPECT_EQ(Body->Normals[1].BoneIndex, 1);

  ASSERT_EQ(cvBody_GetBoneCount(Body), 2);
  const char* name = nullptr;
  cvXForm3d m;
  int32_t parent = 5;
  ASSERT_TRUE(cvBody_GetBone(Body, 1, &name, &m, &parent));
  EXPECT_STREQ(name, "chest");
  EXPECT_EQ(parent, 0);
  EXPECT_EQ((std::vector<float>{m.M[0][1], m.M[1][0], m.M[2][2], m.T.Y}), (std::vector<float>{-1, 1, 1, 2}));
  ASSERT_TRUE(cvBody_GetBone(Body, 0, &name, &m, &parent));
  EXPECT_STREQ(name, "hips");
  EXPECT_EQ(parent, -1);

  ASSERT_EQ(cvBody_GetMaterialCount(Body), 2);
  cvBitmap* bitmap = nullptr;
  float r, g, b;
  ASSERT_TRUE(cvBody_GetMaterial(Body, 0, &name, &bitmap, &r, &g, &b));
  EXPECT_STREQ(name, "skin");
  EXPECT_EQ((std::vector<float>{r, g, b}), (std::vector<float>{255, 128, 64}));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap->System.Width, 2);
  EXPECT_EQ(bitmap->System.Height, 2);
  EXPECT_EQ(bitmap->System.Format, CV_PIXELFORMAT_24BIT_RGB);
  EXPECT_EQ(std::memcmp(cvBitmap_GetMipData(bitmap, 0), kPixels, 12), 0);
  ASSERT_TRUE(cvBody_GetMaterial(Body, 1, &name, &bitmap, &r, &g, &b));
  EXPECT_STREQ(name, "cloth");
  EXPECT_EQ(bitmap, nullptr);
  EXPECT_EQ((std::vector<float>{r, g, b}), (std::vector<float>{10, 20, 30}));

  ASSERT_EQ(Body->LevelCount, Levels);
  int32_t vertices = 0, faces = -1, normals = 0;
  ASSERT_TRUE(cvBody_GetGeometryStats(Body, 0, &vertices, &faces, &normals));
  ASSERT_EQ(faces, Levels ? 2 : 0);
  if (!Levels) return;
  const cvBodyFace& f = Body->Levels[0].Faces[1];
  EXPECT_EQ((std::vector<int>{f.VertexIndex[0], f.VertexIndex[1], f.VertexIndex[2], f.NormalIndex[0],
                              f.NormalIndex[2], f.MaterialIndex}),
            (std::vector<int>{1, 3, 2, 0, 1, 1}));
}

}  // namespace

TEST(HandBuiltFiles, BodyFileReadsAsLaidOut) {
  BodyPtr body(ReadBody(BodyFile(1)));
  ExpectHandBuiltBody(body.get(), 1);
  // Material names in the text string-block form, with a CR LF line end.
  body.reset(ReadBody(BodyFile(1, true)));
  ExpectHandBuiltBody(body.get(), 1);
  // A level count below 1 ends the stream without face lists.
  for (uint32_t levels : {0u, 0xFFFFFFFFu}) {
    body.reset(ReadBody(BodyFile(levels)));
    ExpectHandBuiltBody(body.get(), 0);
  }
}

TEST(HandBuiltFiles, ActorFileReadsAsLaidOut) {
  const std::vector<uint8_t> header = Out().Tag("ACTR").U32(0xF1).U32(7).U32(1).B;  // any non-zero HasBody
  const std::vector<uint8_t> file =
      Archive({File("Header", header), File("Body", BodyFile(1)), Dir("Motions", {File("0", Motion())})});
  cvActorDef* def = ReadActor(file);
  ASSERT_TRUE(cvActorDef_IsValid(def));
  ExpectHandBuiltBody(cvActorDef_GetBody(def), 1);
  ASSERT_EQ(cvActorDef_GetMotionCount(def), 1);
  cvMotion* motion = cvActorDef_GetMotionByName(def, "spin");
  ASSERT_NE(motion, nullptr);
  ASSERT_EQ(cvMotion_GetPathCount(motion), 2);
  cvQuaternion q;
  cvVec3d t;
  ASSERT_NE(cvMotion_GetPathNamed(motion, "hips"), nullptr);
  EXPECT_FALSE(cvPath_SampleChannels(cvMotion_GetPathNamed(motion, "hips"), 0.5f, &q, &t));  // no translation keys
  EXPECT_NEAR(q.W, std::cos(M_PI / 8), 1e-5);  // half way: an eighth of a turn
  EXPECT_NEAR(q.Z, std::sin(M_PI / 8), 1e-5);
  ASSERT_TRUE(cvPath_SampleChannels(cvMotion_GetPathNamed(motion, "chest"), 1.0f, &q, &t));
  EXPECT_NEAR(t.X, 2.0f, 1e-5);

  // The instance's joints are the body's bones, and the motion's checksum
  // matches them, so its paths apply by index.
  cvActor* actor = cvActor_Create(def);
  ASSERT_NE(actor, nullptr);
  ASSERT_EQ(cvPose_GetJointCount(actor->Pose), 2);
  EXPECT_STREQ(cvPose_GetJointName(actor->Pose, 1), "chest");
  EXPECT_TRUE(cvPose_MatchesMotion(actor->Pose, motion));
  cvActor_Destroy(&actor);
  EXPECT_EQ(cvActorDef_Destroy(&def), 1);
}
