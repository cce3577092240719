// "info": describes an actor file (.act) or a body file (.bdy): geometry
// counts per level of detail, the whole-body box, bones with their parents,
// materials with colour and bitmap, and motions with names, time extents and
// path counts. Files that cannot be read get the reason from the engine's
// error log and a non-zero exit status.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "actortool.h"

namespace {

struct LogEntry {
  int32_t Code;
  std::string Text;
};

std::vector<LogEntry> TakeErrorLog() {
  std::vector<LogEntry> Entries;
  for (int32_t I = 0; I < cvErrorLog_Count(); ++I) {
    int32_t Code = 0;
    const char* Text = nullptr;
    if (cvErrorLog_Report(I, &Code, &Text)) Entries.push_back({Code, Text ? Text : ""});
  }
  cvErrorLog_Clear();
  return Entries;
}

// What the codes that the body, motion and actor readers log mean to someone
// looking at a file.
const char* Meaning(int32_t Code) {
  switch (Code) {
    case 65: case 66: case 96: case 110: return "out of memory";
    case 71: return "a motion is damaged or incomplete";
    case 73: return "a motion is in an unknown form";
    case 97: return "the body geometry does not start with \"BOD^\"";
    case 98: return "the body is damaged or incomplete";
    case 114: return "the actor file is damaged or incomplete";
    default: return nullptr;
  }
}

void PrintLog(FILE* Out, const std::vector<LogEntry>& Entries) {
  if (Entries.empty()) return;
  std::fprintf(Out, "Engine error log:\n");
  for (const LogEntry& E : Entries) {
    const char* M = Meaning(E.Code);
    std::fprintf(Out, "  error %d%s%s%s: %s\n", E.Code, M ? " (" : "", M ? M : "", M ? ")" : "",
                 E.Text.c_str());
  }
}

bool EndsWith(const std::string& S, const char* Tail) {
  const size_t N = std::strlen(Tail);
  if (S.size() < N) return false;
  for (size_t I = 0; I < N; ++I)
    if (std::tolower((unsigned char)S[S.size() - N + I]) != Tail[I]) return false;
  return true;
}

enum class Kind { Actor, Body };

// Reads Path as the given kind; the caller owns what is returned.
bool ReadAs(const std::string& Path, Kind K, cvActorDef** Def, cvBody** Body, bool* Opened) {
  cvVFile* File = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Path.c_str(), nullptr,
                                        CV_VFILE_OPEN_READONLY);
  *Opened = File != nullptr;
  if (!File) return false;
  if (K == Kind::Actor)
    *Def = cvActorDef_CreateFromFile(File);
  else
    *Body = cvBody_CreateFromFile(File);
  cvVFile_Close(File);
  return K == Kind::Actor ? *Def != nullptr : *Body != nullptr;
}

const char* BoneName(const cvBody* Body, int32_t Index) {
  const char* Name = nullptr;
  if (Index < 0 || Index >= cvBody_GetBoneCount(Body) ||
      !cvBody_GetBone(Body, Index, &Name, nullptr, nullptr) || !Name)
    return "?";
  return Name;
}

void PrintBody(const cvBody* Body) {
  int32_t Vertices = 0, Faces = 0, Normals = 0;
  const int32_t Levels = Body->LevelCount;
  std::printf("Body\n");
  for (int32_t L = 0; L < Levels && L < CV_BODY_MAX_LEVELS; ++L) {
    cvBody_GetGeometryStats(Body, L, &Vertices, &Faces, &Normals);
    std::printf("  level %d: %d vertices, %d faces, %d normals\n", L, Vertices, Faces, Normals);
  }
  cvVec3d Min{}, Max{};
  cvBody_GetBoundingBox(Body, -1, &Min, &Max);
  std::printf("  box: (%.2f, %.2f, %.2f) to (%.2f, %.2f, %.2f)\n", Min.X, Min.Y, Min.Z, Max.X,
              Max.Y, Max.Z);

  const int32_t BoneCount = cvBody_GetBoneCount(Body);
  std::vector<int32_t> PerBone(BoneCount > 0 ? BoneCount : 0, 0);
  for (int32_t I = 0; I < Body->VertexCount; ++I) {
    const int32_t B = Body->Vertices[I].BoneIndex;
    if (B >= 0 && B < BoneCount) ++PerBone[B];
  }
  std::printf("Bones: %d\n", BoneCount);
  for (int32_t I = 0; I < BoneCount; ++I) {
    const char* Name = nullptr;
    cvXForm3d A;
    int32_t Parent = -1;
    cvBody_GetBone(Body, I, &Name, &A, &Parent);
    char ParentText[96];
    if (Parent < 0)
      std::snprintf(ParentText, sizeof ParentText, "(root)");
    else
      std::snprintf(ParentText, sizeof ParentText, "%d %s", Parent, BoneName(Body, Parent));
    std::printf("  %3d %-16s parent %-20s at (%.2f, %.2f, %.2f)  %d vertices\n", I,
                Name ? Name : "", ParentText, A.T.X, A.T.Y, A.T.Z, PerBone[I]);
  }

  const int32_t MaterialCount = cvBody_GetMaterialCount(Body);
  std::printf("Materials: %d\n", MaterialCount);
  for (int32_t I = 0; I < MaterialCount; ++I) {
    const char* Name = nullptr;
    cvBitmap* Bitmap = nullptr;
    float R = 0, G = 0, B = 0;
    cvBody_GetMaterial(Body, I, &Name, &Bitmap, &R, &G, &B);
    int32_t FaceCount = 0;
    for (int32_t F = 0; F < Body->Levels[0].FaceCount; ++F)
      if (Body->Levels[0].Faces[F].MaterialIndex == I) ++FaceCount;
    std::printf("  %3d %-16s colour (%g, %g, %g)  %d faces  ", I, Name ? Name : "", R, G, B,
                FaceCount);
    cvBitmap_Info Info;
    if (!Bitmap) {
      std::printf("no bitmap\n");
    } else if (cvBitmap_GetInfo(Bitmap, &Info, nullptr)) {
      const char* Format = cvPixelFormat_Description(Info.Format);
      std::printf("bitmap %d x %d, %s, mip levels %d..%d\n", Info.Width, Info.Height,
                  Format ? Format : "unknown format", Info.MinimumMip, Info.MaximumMip);
    } else {
      std::printf("bitmap (no information)\n");
    }
  }
}

void PrintMotions(const cvActorDef* Def) {
  const cvBody* Body = cvActorDef_GetBody(Def);
  const int32_t Count = cvActorDef_GetMotionCount(Def);
  std::printf("Motions: %d\n", Count);
  for (int32_t I = 0; I < Count; ++I) {
    const cvMotion* M = cvActorDef_GetMotionByIndex(Def, I);
    if (!M) continue;
    const char* Name = cvMotion_GetName(M);
    float Start = 0, End = 0;
    const int Timed = cvMotion_GetTimeExtents(M, &Start, &End);
    char Time[64];
    if (Timed)
      std::snprintf(Time, sizeof Time, "%.3f to %.3f s", Start, End);
    else
      std::snprintf(Time, sizeof Time, "no keys");
    std::printf("  %3d %-16s %s, %d paths", I, Name ? Name : "(no name)", Time,
                cvMotion_GetPathCount(M));
    if (Body && M->Type == CV_MOTION_TYPE_LEAF) {
      if (M->MaintainNames && cvMotion_GetNameChecksum(M) == cvBody_GetBoneNameChecksum(Body)) {
        std::printf(", paths match the bones by index");
      } else if (M->MaintainNames) {
        int32_t Matched = 0;
        for (int32_t P = 0; P < cvMotion_GetPathCount(M); ++P) {
          const char* PathName = cvMotion_GetPathName(M, P);
          int32_t Index = 0;
          if (PathName && cvBody_GetBoneByName(Body, PathName, &Index, nullptr, nullptr)) ++Matched;
        }
        std::printf(", %d paths name a bone", Matched);
      } else {
        std::printf(", paths without names");
      }
    }
    std::printf("\n");
  }
}

}  // namespace

void actortool_print_error_log(FILE* Out) { PrintLog(Out, TakeErrorLog()); }

void actortool_info_help() {
  std::printf(
      "Usage: actortool info FILE\n"
      "\n"
      "Describes an actor file (.act) or a body file (.bdy): vertex, face and normal\n"
      "counts per level of detail, the body's box, the bones with their parents and\n"
      "rest positions, the materials with colour and bitmap size and format, and the\n"
      "motions with their names, time extents and path counts.\n"
      "A file named .bdy is read as a body file, any other as an actor file; when that\n"
      "fails the other reader is tried. A file that cannot be read is reported with\n"
      "the engine's error-log entries and exit status 1.\n");
}

int actortool_info(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "actortool info: expected one file name\n\n");
    actortool_info_help();
    return 2;
  }
  const std::string Path = argv[1];
  const Kind First = EndsWith(Path, ".bdy") ? Kind::Body : Kind::Actor;
  const Kind Second = First == Kind::Actor ? Kind::Body : Kind::Actor;
  cvActorDef* Def = nullptr;
  cvBody* Body = nullptr;
  bool Opened = false;
  cvErrorLog_Clear();
  Kind Got = First;
  if (!ReadAs(Path, First, &Def, &Body, &Opened)) {
    if (!Opened) {
      std::fprintf(stderr, "actortool info: cannot open \"%s\"\n", Path.c_str());
      return 1;
    }
    const std::vector<LogEntry> FirstLog = TakeErrorLog();
    if (!ReadAs(Path, Second, &Def, &Body, &Opened)) {
      cvErrorLog_Clear();
      std::fprintf(stderr, "actortool info: \"%s\" is not a readable %s file\n", Path.c_str(),
                   First == Kind::Actor ? "actor" : "body");
      PrintLog(stderr, FirstLog);
      return 1;
    }
    Got = Second;
  }
  std::printf("%s: %s file\n", Path.c_str(), Got == Kind::Actor ? "actor" : "body");
  if (Got == Kind::Actor) {
    Body = cvActorDef_GetBody(Def);
    if (Body)
      PrintBody(Body);
    else
      std::printf("Body: none\n");
    PrintMotions(Def);
    cvActorDef_Destroy(&Def);
  } else {
    PrintBody(Body);
    cvBody_Destroy(&Body);
  }
  return 0;
}
