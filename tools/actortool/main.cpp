// actortool: makes and inspects actor files (.act) and body files (.bdy).
//
//   actortool sample OUT.act      write the bundled sample actor
//   actortool info FILE           describe an actor or body file
//   actortool import MODEL OUT    make an actor file from a model in a common format
//   actortool template FILE MATERIAL OUT.png   a material's UV template
//   actortool help [COMMAND]      general or command help
//
// Each command lives in its own file; this one holds the command table and
// the dispatch.
#include <cstdio>
#include <cstring>

#include "actortool.h"

namespace {

struct Command {
  const char* Name;
  const char* Summary;
  int (*Run)(int argc, char** argv);
  void (*Help)();
};

const Command Commands[] = {
    {"sample", "write the bundled sample actor to an actor file", actortool_sample,
     actortool_sample_help},
    {"info", "describe an actor (.act) or body (.bdy) file", actortool_info, actortool_info_help},
    {"render", "draw an actor file into a PNG image", actortool_render, actortool_render_help},
    {"import", "make an actor file from a glTF, FBX, Collada, OBJ or other model", actortool_import,
     actortool_import_help},
    {"template", "write a material's UV template (skin and triangle outlines) as an image",
     actortool_template, actortool_template_help},
    // Further commands go here, one line each (name, summary, run, help).
};

void PrintUsage(FILE* Out) {
  std::fprintf(Out,
               "Usage: actortool COMMAND [ARGUMENTS]\n"
               "       actortool help COMMAND | actortool COMMAND --help\n"
               "\n"
               "Makes and inspects actor files (.act) and body files (.bdy).\n"
               "\n"
               "Commands:\n");
  for (const Command& C : Commands) std::fprintf(Out, "  %-8s %s\n", C.Name, C.Summary);
  std::fprintf(Out, "  %-8s %s\n", "help", "show this text or the help of one command");
}

const Command* Find(const char* Name) {
  for (const Command& C : Commands)
    if (std::strcmp(C.Name, Name) == 0) return &C;
  return nullptr;
}

bool IsHelpFlag(const char* Arg) {
  return std::strcmp(Arg, "--help") == 0 || std::strcmp(Arg, "-h") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const char* Name = argv[1];
  if (IsHelpFlag(Name)) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(Name, "help") == 0) {
    if (argc < 3) {
      PrintUsage(stdout);
      return 0;
    }
    const Command* C = Find(argv[2]);
    if (!C) {
      std::fprintf(stderr, "actortool: unknown command \"%s\"\n\n", argv[2]);
      PrintUsage(stderr);
      return 2;
    }
    C->Help();
    return 0;
  }
  const Command* C = Find(Name);
  if (!C) {
    std::fprintf(stderr, "actortool: unknown command \"%s\"\n\n", Name);
    PrintUsage(stderr);
    return 2;
  }
  for (int I = 2; I < argc; ++I)
    if (IsHelpFlag(argv[I])) {
      C->Help();
      return 0;
    }
  return C->Run(argc - 1, argv + 1);
}
