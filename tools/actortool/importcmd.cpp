// actortool import: makes an actor file from a model in a common 3D format
// through the model importer (import/modelimport.h).
//
//   actortool import MODEL OUT.act [--scale S] [--up y|z] [--fps N] [--turn DEGREES]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Actor/cvactor.h"
#include "Support/cvsupport.h"
#include "actortool.h"
#include "import/modelimport.h"

namespace {

bool ParseNumber(const char* S, float Min, float Max, float* Out) {
  char* End = nullptr;
  const double V = std::strtod(S, &End);
  if (End == S || *End || !std::isfinite(V) || V < Min || V > Max) return false;
  *Out = (float)V;
  return true;
}

}  // namespace

void actortool_import_help() {
  std::printf(
      "Usage: actortool import MODEL OUT.act [--scale S] [--up y|z] [--fps N] [--turn DEGREES]\n"
      "\n"
      "Makes the actor file OUT.act from a model in a common 3D format (glTF, FBX,\n"
      "Collada, OBJ, X, MS3D, SMD, MD2, MD5 and the others the Open Asset Import\n"
      "Library reads). Its meshes become one body whose vertices each move with the\n"
      "bone of their largest weight; its skeleton (or node hierarchy) the bones; its\n"
      "materials keep their names, diffuse colours and diffuse textures (found beside\n"
      "the model in any letter case, or embedded in it: PNG, TGA, JPEG, BMP or engine\n"
      "bitmaps); each animation becomes a looping motion named like it\n"
      "(or \"anim N\"). The figure is turned to stand upright facing the front and is\n"
      "scaled to the sample actor's height (%g units), standing on the ground.\n"
      "\n"
      "Options:\n"
      "  --scale S         multiply the model's units by S instead of fitting the height\n"
      "  --up y|z          the model's up axis (default: from the file, else the taller\n"
      "                    of its Y and Z extents)\n"
      "  --fps N           resample every animation at N key frames a second (default:\n"
      "                    the model's own key times)\n"
      "  --turn DEGREES    turn the figure about its vertical axis, for models whose\n"
      "                    front is not where their format usually puts it\n"
      "\n"
      "OUT.act is written only when the whole import succeeded: into a new file\n"
      "beside it first, then renamed. Exit status 1 with a message when the model\n"
      "cannot be imported.\n",
      (double)kImportFitHeight);
}

int actortool_import(int argc, char** argv) {
  ImportOptions Options;
  std::vector<std::string> Positional;
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    const bool HasValue = I + 1 < argc;
    bool Ok = true;
    if (A == "--scale" && HasValue) {
      Ok = ParseNumber(argv[++I], 1e-6f, 1e6f, &Options.Scale);
    } else if (A == "--up" && HasValue) {
      const std::string V = argv[++I];
      Ok = V == "y" || V == "z" || V == "Y" || V == "Z";
      Options.Up = (char)(V[0] | 0x20);
    } else if (A == "--fps" && HasValue) {
      Ok = ParseNumber(argv[++I], 1, 1000, &Options.Fps);
    } else if (A == "--turn" && HasValue) {
      Ok = ParseNumber(argv[++I], -3600, 3600, &Options.TurnDegrees);
    } else if (A.size() > 1 && A[0] == '-') {
      std::fprintf(stderr, "actortool import: unknown or incomplete option \"%s\"\n\n", A.c_str());
      actortool_import_help();
      return 2;
    } else {
      Positional.push_back(A);
    }
    if (!Ok) {
      std::fprintf(stderr,
                   "actortool import: %s wants %s\n\n", A.c_str(),
                   A == "--up" ? "y or z" : A == "--fps" ? "a number from 1 to 1000" : "a number in range");
      actortool_import_help();
      return 2;
    }
  }
  if (Positional.size() != 2) {
    std::fprintf(stderr, "actortool import: give a model file and an output actor file\n\n");
    actortool_import_help();
    return 2;
  }
  const std::string& In = Positional[0];
  const std::string& Out = Positional[1];

  cvErrorLog_Clear();
  cvActorDef* Def = nullptr;
  std::string Error;
  ImportReport Report;
  if (!ImportModel(In.c_str(), Options, &Def, &Error, &Report)) {
    std::fprintf(stderr, "actortool import: %s: %s\n", In.c_str(), Error.c_str());
    return 1;
  }
  for (const std::string& W : Report.Warnings) std::fprintf(stderr, "actortool import: warning: %s\n", W.c_str());
  const bool Written = WriteActorFileSafely(Def, Out.c_str(), &Error);
  cvActorDef_Destroy(&Def);
  if (!Written) {
    std::fprintf(stderr, "actortool import: %s: %s\n", Out.c_str(), Error.c_str());
    actortool_print_error_log(stderr);
    return 1;
  }
  std::printf("%s: %d bones, %d vertices, %d faces, %d materials (%d with textures), %d motions; "
              "%c up, scale %g\n",
              Out.c_str(), Report.Bones, Report.Vertices, Report.Faces, Report.Materials, Report.Textures,
              Report.Motions, Report.Up, (double)Report.Scale);
  return 0;
}
