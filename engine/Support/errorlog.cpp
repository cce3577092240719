// The process-wide log of the 30 most recent engine failures.
#include "Support/cvsupport.h"

#include <cstdio>
#include <cstring>

namespace {
cvErrorLog_Entry g_entries[CV_ERRORLOG_CAPACITY];
int32_t g_count = 0;

// Appends at most 128 characters of Part to Text, never past the field's end.
void appendBounded(char* Text, const char* Part) {
  if (!Part) return;
  size_t used = std::strlen(Text);
  size_t room = CV_ERRORLOG_TEXT_SIZE - used;
  size_t n = strnlen(Part, CV_ERRORLOG_TEXT_SIZE);
  if (n > room) n = room;
  std::memcpy(Text + used, Part, n);
  Text[used + n] = '\0';
}

// The file name without its folders; both separators count so that paths
// written on either kind of host shorten the same way.
const char* baseName(const char* File) {
  if (!File) return "";
  const char* base = File;
  for (const char* p = File; *p; ++p)
    if (*p == '\\' || *p == '/') base = p + 1;
  return base;
}
}  // namespace

int32_t cvErrorLog_AddExplicit(int32_t Code, const char* Name, const char* File, int32_t Line,
                               const char* Description, const char* Context) {
  if (g_count >= CV_ERRORLOG_CAPACITY) {
    std::memmove(&g_entries[0], &g_entries[1], sizeof(cvErrorLog_Entry) * (CV_ERRORLOG_CAPACITY - 1));
    g_count = CV_ERRORLOG_CAPACITY - 1;
  }
  cvErrorLog_Entry& e = g_entries[g_count];
  e.Code = Code;
  e.Text[0] = '\0';
  appendBounded(e.Text, Name);
  appendBounded(e.Text, " ");
  appendBounded(e.Text, baseName(File));
  appendBounded(e.Text, " ");
  char line[16];
  std::snprintf(line, sizeof line, "%d", (int)Line);
  appendBounded(e.Text, line);
  if (Description && *Description) {
    appendBounded(e.Text, " ");
    appendBounded(e.Text, Description);
  }
  if (Context && *Context) appendBounded(e.Text, Context);
  return ++g_count;
}

int cvErrorLog_AppendString(const char* Text) {
  if (!Text || g_count == 0) return 0;
  appendBounded(g_entries[g_count - 1].Text, Text);
  return 1;
}

void cvErrorLog_Clear(void) { g_count = 0; }

int32_t cvErrorLog_Count(void) { return g_count; }

int cvErrorLog_Report(int32_t Index, int32_t* Code, const char** Text) {
  if (Index < 0 || Index >= g_count) return 0;
  if (Code) *Code = g_entries[Index].Code;
  if (Text) *Text = g_entries[Index].Text;
  return 1;
}
