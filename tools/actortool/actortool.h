// Commands of the actortool program. Each command is a function taking the
// arguments after its name (argv[0] is the command name) and returning the
// process exit status, plus a help function printing its usage to stdout.
#pragma once

#include <cstdio>
#include <string>

int actortool_sample(int argc, char** argv);
void actortool_sample_help();
int actortool_info(int argc, char** argv);
void actortool_info_help();
int actortool_render(int argc, char** argv);
void actortool_render_help();
int actortool_import(int argc, char** argv);
void actortool_import_help();
int actortool_template(int argc, char** argv);
void actortool_template_help();

typedef struct cvActorDef cvActorDef;
// Builds the bundled sample actor's definition (the caller destroys it with
// cvActorDef_Destroy); null with error-log entries on failure.
cvActorDef* actortool_make_sample_def();

// Prints the engine error-log entries (oldest first) to Out, one per line,
// indented; prints nothing when the log is empty.
void actortool_print_error_log(FILE* Out);
