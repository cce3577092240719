// actortool template: writes a material's UV template, the skin with the
// outlines of the triangles that use it, as a PNG or TGA image for painters.
//
//   actortool template FILE MATERIAL OUT.png|OUT.tga [--size WxH] [--color RRGGBB]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "Actor/cvactor.h"
#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"
#include "actortool.h"
#include "imagefile/imagefile.h"
#include "skintemplate.h"

namespace {

struct Options {
  std::string In, Material, Out;
  SkinTemplateOptions Template;
};

bool ParseOptions(int argc, char** argv, Options* O) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--size" && hasValue) {
      int w = 0, h = 0;
      char extra;
      if (std::sscanf(argv[++i], "%dx%d%c", &w, &h, &extra) != 2 || w < 1 || h < 1 ||
          w > SKIN_TEMPLATE_MAX_SIDE || h > SKIN_TEMPLATE_MAX_SIDE) {
        std::fprintf(stderr, "actortool template: --size wants WIDTHxHEIGHT (1 to %d each)\n",
                     (int)SKIN_TEMPLATE_MAX_SIDE);
        return false;
      }
      O->Template.Width = w;
      O->Template.Height = h;
    } else if (a == "--color" && hasValue) {
      const char* text = argv[++i];
      char* end = nullptr;
      const unsigned long rgb = std::strtoul(text, &end, 16);
      if (std::strlen(text) != 6 || *end) {
        std::fprintf(stderr, "actortool template: --color wants six hex digits RRGGBB\n");
        return false;
      }
      O->Template.LineColorGiven = true;
      O->Template.LineRed = (uint8_t)(rgb >> 16);
      O->Template.LineGreen = (uint8_t)(rgb >> 8);
      O->Template.LineBlue = (uint8_t)rgb;
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "actortool template: unknown or incomplete option \"%s\"\n", a.c_str());
      return false;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 3) {
    std::fprintf(stderr, "actortool template: give an actor file, a material and an output image\n");
    return false;
  }
  O->In = positional[0];
  O->Material = positional[1];
  O->Out = positional[2];
  const cvImageFile_Type type = cvImageFile_TypeOfName(O->Out.c_str());
  if (type != CV_IMAGEFILE_PNG && type != CV_IMAGEFILE_TGA) {
    std::fprintf(stderr, "actortool template: the output image must be named .png or .tga\n");
    return false;
  }
  return true;
}

// The actor definition of an actor file, or the body of a body file, by
// what the file holds; null (with the engine's log) when it holds neither.
bool ReadBody(const std::string& Path, cvActorDef** Def, cvBody** Body) {
  for (bool actor : {true, false}) {
    cvVFile* file = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Path.c_str(), nullptr,
                                          CV_VFILE_OPEN_READONLY);
    if (!file) return false;
    if (actor)
      *Def = cvActorDef_CreateFromFile(file);
    else
      *Body = cvBody_CreateFromFile(file);
    cvVFile_Close(file);
    if (*Def) {
      *Body = cvActorDef_GetBody(*Def);
      return *Body != nullptr;
    }
    if (*Body) return true;
  }
  return false;
}

// The material named Name, else the only one named so in another case; a
// name no material has may be a material number.
int32_t FindMaterial(const cvBody* Body, const std::string& Name) {
  const int32_t count = cvBody_GetMaterialCount(Body);
  int32_t caseless = -1, caselessCount = 0;
  for (int32_t i = 0; i < count; ++i) {
    const char* n = nullptr;
    if (!cvBody_GetMaterial(Body, i, &n, nullptr, nullptr, nullptr, nullptr) || !n) continue;
    if (Name == n) return i;
    if (strcasecmp(Name.c_str(), n) == 0) caseless = i, ++caselessCount;
  }
  if (caselessCount == 1) return caseless;
  char* end = nullptr;
  const long index = std::strtol(Name.c_str(), &end, 10);
  return !Name.empty() && !*end && index >= 0 && index < count ? (int32_t)index : -1;
}

}  // namespace

int actortool_template(int argc, char** argv) {
  Options O;
  if (!ParseOptions(argc, argv, &O)) {
    std::fprintf(stderr, "\n");
    actortool_template_help();
    return 2;
  }
  cvErrorLog_Clear();
  cvActorDef* def = nullptr;
  cvBody* body = nullptr;
  if (!ReadBody(O.In, &def, &body)) {
    std::fprintf(stderr, "actortool template: \"%s\" holds no readable actor or body\n",
                 O.In.c_str());
    actortool_print_error_log(stderr);
    if (def) cvActorDef_Destroy(&def);
    return 1;
  }
  int status = 0;
  const int32_t material = FindMaterial(body, O.Material);
  if (material < 0) {
    std::fprintf(stderr, "actortool template: \"%s\" has no material \"%s\"; its materials:\n",
                 O.In.c_str(), O.Material.c_str());
    for (int32_t i = 0; i < cvBody_GetMaterialCount(body); ++i) {
      const char* n = nullptr;
      cvBody_GetMaterial(body, i, &n, nullptr, nullptr, nullptr, nullptr);
      std::fprintf(stderr, "  %d %s\n", i, n ? n : "");
    }
    status = 1;
  } else {
    std::string why;
    cvBitmap* image = MakeSkinTemplate(body, material, O.Template, &why);
    if (!image || !cvImageFile_Write(image, O.Out.c_str(), &why)) {
      std::fprintf(stderr, "actortool template: %s\n", why.c_str());
      status = 1;
    }
    if (image) cvBitmap_Destroy(&image);
  }
  if (def)
    cvActorDef_Destroy(&def);
  else
    cvBody_Destroy(&body);
  return status;
}

void actortool_template_help() {
  std::printf(
      "Usage: actortool template FILE MATERIAL OUT.png|OUT.tga [--size WxH] [--color RRGGBB]\n"
      "\n"
      "Writes the UV template of one material of an actor (.act) or body (.bdy)\n"
      "file: the material's skin with the outlines of every triangle that uses it,\n"
      "drawn where the triangle takes its texels, so a painter sees where each part\n"
      "of the model lands on the texture. MATERIAL is the material's name (or its\n"
      "number, as `actortool info` lists them).\n"
      "\n"
      "Options:\n"
      "  --size WxH        template size in pixels (default: the skin's own size;\n"
      "                    256x256 for a material without a skin; at most %dx%d)\n"
      "  --color RRGGBB    line colour in hex (default: a strong colour the skin\n"
      "                    uses least)\n",
      (int)SKIN_TEMPLATE_MAX_SIDE, (int)SKIN_TEMPLATE_MAX_SIDE);
}
