// Time-keyed events: texts at times (a key array of {Time, Offset} and one
// data block holding the NUL-terminated texts in key order), an iterator over
// a time window, and the text ("TKEV") and binary ("TKEB") file forms.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Anim/cvanim.h"
#include "Anim/anim_util.h"
#include "Support/cvsupport.h"

using namespace cvanim;

namespace {

constexpr float kNoIteration = -9.9e34f;
constexpr uint32_t kVersion = 0xF0;

cvTKEvents_Key* Key(cvTKArray* Keys, int32_t Index) {
  return static_cast<cvTKEvents_Key*>(cvTKArray_GetElement(Keys, Index));
}

// True when the texts lie one after another in key order, each terminated,
// filling Data exactly: what every operation on the events relies on.
bool LayoutValid(const cvTKEvents* Events) {
  const int32_t n = Events->Keys->Count;
  uint32_t expected = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (Key(Events->Keys, i)->Offset != expected || expected >= Events->DataSize) return false;
    const void* nul = std::memchr(Events->Data + expected, '\0', Events->DataSize - expected);
    if (!nul) return false;
    expected = static_cast<uint32_t>(static_cast<const char*>(nul) - Events->Data) + 1;
  }
  return expected == Events->DataSize;
}

void DestroyQuietly(cvTKEvents* Events) {
  cvTKEvents* e = Events;
  cvTKEvents_Destroy(&e);
}

cvTKEvents* ReadText(cvVFile* File) {
  char line[kMaxLine + 1];
  uint32_t version = 0;
  if (!ReadVersionLine(File, &version) || version != kVersion) {
    CV_ERROR(87);
    return nullptr;
  }
  int32_t dataSize = -1, count = -1;
  std::string_view word;
  for (auto [keyword, value] : {std::pair<const char*, int32_t*>{"DataSize", &dataSize}, {"TimeKeys", &count}}) {
    bool ok = ReadLine(File, line, kMaxLine) != 0;
    TextCursor c(line);
    if (!ok || !c.Word(&word) || word != keyword || !c.Int(value) || *value < 0) {
      CV_ERROR(87);
      return nullptr;
    }
  }
  // The texts must still be in the file; each key takes two lines.
  if (static_cast<uint64_t>(dataSize) > Remaining(File) || static_cast<uint64_t>(count) * 4 > Remaining(File)) {
    CV_ERROR(87);
    return nullptr;
  }
  cvTKEvents* events = cvTKEvents_Create();
  if (!events) return nullptr;
  if (dataSize > 0) {
    events->Data = static_cast<char*>(cvRam_AllocateClear(static_cast<size_t>(dataSize)));
    if (!events->Data) {
      DestroyQuietly(events);
      CV_ERROR(83);
      return nullptr;
    }
    events->DataSize = static_cast<uint32_t>(dataSize);
  }
  // The keys are gathered and sorted, and the key array is built once:
  // inserting them in file order grows the array and moves every later key
  // each time, which is quadratic in the count.
  struct Pending {
    float Time;
    uint32_t Offset;
    std::string Text;
  };
  std::vector<Pending> pending;
  std::string text(static_cast<size_t>(dataSize) + 1, '\0');
  bool ok = true;
  for (int32_t i = 0; ok && i < count; ++i) {
    float time = 0.0f;
    int32_t offset = -1;
    ok = ReadLine(File, line, kMaxLine) != 0;
    TextCursor c(line);
    // Times must be finite: the binary form refuses others, so a text file
    // with one would not survive being saved and read back.
    ok = ok && c.Float(&time) && IsFinite(time) && c.Int(&offset) && offset >= 0;
    // The text line: at most DataSize characters.
    ok = ok && ReadLine(File, text.data(), static_cast<size_t>(dataSize));
    if (ok) {
      const size_t length = std::strlen(text.data());
      ok = static_cast<uint64_t>(offset) + length + 1 <= static_cast<uint64_t>(dataSize);
      if (ok) pending.push_back({time, static_cast<uint32_t>(offset), std::string(text.data(), length)});
    }
  }
  std::stable_sort(pending.begin(), pending.end(), [](const Pending& A, const Pending& B) { return A.Time < B.Time; });
  // Keys closer than the spacing an insertion keeps are refused, as
  // cvTKArray_Insert would.
  const int32_t n = static_cast<int32_t>(pending.size());
  for (int32_t i = 1; ok && i < n; ++i) {
    if (TooClose(pending[i - 1].Time, pending[i].Time)) {
      CV_ERROR(74);
      ok = false;
    }
  }
  cvTKArray* keys = ok ? cvTKArray_CreateEmpty(sizeof(cvTKEvents_Key), n) : nullptr;
  if (keys) {
    cvTKArray_Destroy(&events->Keys);
    events->Keys = keys;
    for (int32_t i = 0; i < n; ++i) {
      Key(keys, i)->Time = pending[i].Time;
      Key(keys, i)->Offset = pending[i].Offset;
      std::memcpy(events->Data + pending[i].Offset, pending[i].Text.c_str(), pending[i].Text.size() + 1);
    }
  }
  ok = keys != nullptr;
  if (!ok) {
    DestroyQuietly(events);
    CV_ERROR(87);
    return nullptr;
  }
  if (!LayoutValid(events)) {
    DestroyQuietly(events);
    CV_ERROR(87);
    return nullptr;
  }
  return events;
}

cvTKEvents* ReadBinary(cvVFile* File) {
  uint32_t version = 0, dataSize = 0;
  if (!cvVFile_ReadLE32(File, &version)) {
    CV_ERROR(87);
    return nullptr;
  }
  if (version != kVersion) {
    CV_ERROR(-1);
    return nullptr;
  }
  if (!cvVFile_ReadLE32(File, &dataSize) || dataSize > Remaining(File) || dataSize > CV_SIZE_LIMIT) {
    CV_ERROR(87);
    return nullptr;
  }
  cvTKEvents* events = cvTKEvents_Create();
  if (!events) return nullptr;
  if (dataSize > 0) {
    events->Data = static_cast<char*>(cvRam_Allocate(dataSize));
    if (!events->Data) {
      DestroyQuietly(events);
      CV_ERROR(83);
      return nullptr;
    }
    events->DataSize = dataSize;
    if (!cvVFile_Read(File, events->Data, dataSize)) {
      DestroyQuietly(events);
      CV_ERROR(87);
      return nullptr;
    }
  }
  cvTKArray* keys = cvTKArray_CreateFromFile(File);
  if (!keys || keys->ElementSize != static_cast<int32_t>(sizeof(cvTKEvents_Key))) {
    cvTKArray_Destroy(&keys);
    DestroyQuietly(events);
    CV_ERROR(87);
    return nullptr;
  }
  cvTKArray_Destroy(&events->Keys);
  events->Keys = keys;
  if (!LayoutValid(events)) {
    DestroyQuietly(events);
    CV_ERROR(87);
    return nullptr;
  }
  return events;
}

}  // namespace

cvTKEvents* cvTKEvents_Create(void) {
  cvTKEvents* events = static_cast<cvTKEvents*>(cvRam_AllocateClear(sizeof(cvTKEvents)));
  if (!events) {
    CV_ERROR(83);
    return nullptr;
  }
  events->Keys = cvTKArray_Create(sizeof(cvTKEvents_Key));
  if (!events->Keys) {
    cvRam_Free(events);
    CV_ERROR(83);
    return nullptr;
  }
  events->IteratorEnd = kNoIteration;
  events->IteratorIndex = -1;
  return events;
}

void cvTKEvents_Destroy(cvTKEvents** Events) {
  if (!Events || !*Events) return;
  cvTKArray_Destroy(&(*Events)->Keys);
  cvRam_Free((*Events)->Data);
  cvRam_Free(*Events);
  *Events = nullptr;
}

int cvTKEvents_Insert(cvTKEvents* Events, float Time, const char* Text) {
  if (!Text) Text = "";
  const size_t length = std::strlen(Text) + 1;
  uint64_t newSize = 0;
  if (!cvSize_Add(Events->DataSize, length, &newSize)) {
    CV_ERROR(85);
    return 0;
  }
  int32_t index = 0;
  if (!cvTKArray_Insert(&Events->Keys, Time, &index)) {
    CV_ERROR(86);
    return 0;
  }
  char* data = static_cast<char*>(cvRam_Realloc(Events->Data, newSize));
  if (!data) {
    cvTKArray_Remove(&Events->Keys, index);
    CV_ERROR(85);
    return 0;
  }
  Events->Data = data;
  const int32_t n = Events->Keys->Count;
  const uint32_t at = index + 1 < n ? Key(Events->Keys, index + 1)->Offset : Events->DataSize;
  std::memmove(data + at + length, data + at, Events->DataSize - at);
  std::memcpy(data + at, Text, length);
  Events->DataSize = static_cast<uint32_t>(newSize);
  Key(Events->Keys, index)->Offset = at;
  for (int32_t i = index + 1; i < n; ++i) Key(Events->Keys, i)->Offset += static_cast<uint32_t>(length);
  Events->IteratorEnd = kNoIteration;
  return 1;
}

int cvTKEvents_Delete(cvTKEvents* Events, float Time) {
  const int32_t index = cvTKArray_FindIndex(Events->Keys, Time);
  if (index < 0 || !(cvTKArray_GetTime(Events->Keys, index) >= Time - CV_TKARRAY_MIN_SPACING)) {
    CV_ERROR(84);
    return 0;
  }
  const int32_t n = Events->Keys->Count;
  const uint32_t at = Key(Events->Keys, index)->Offset;
  const uint32_t end = index + 1 < n ? Key(Events->Keys, index + 1)->Offset : Events->DataSize;
  const uint32_t length = end - at;
  std::memmove(Events->Data + at, Events->Data + end, Events->DataSize - end);
  for (int32_t i = index + 1; i < n; ++i) Key(Events->Keys, i)->Offset -= length;
  Events->DataSize -= length;
  if (Events->DataSize == 0) {
    cvRam_Free(Events->Data);
    Events->Data = nullptr;
  } else if (char* shrunk = static_cast<char*>(cvRam_Realloc(Events->Data, Events->DataSize))) {
    Events->Data = shrunk;
  }
  cvTKArray_Remove(&Events->Keys, index);
  Events->IteratorEnd = kNoIteration;
  return 1;
}

int cvTKEvents_GetExtents(const cvTKEvents* Events, float* FirstTime, float* LastTime) {
  const int32_t n = cvTKArray_GetCount(Events->Keys);
  if (n == 0) return 0;
  if (FirstTime) *FirstTime = cvTKArray_GetTime(Events->Keys, 0);
  if (LastTime) *LastTime = cvTKArray_GetTime(Events->Keys, n - 1);
  return 1;
}

void cvTKEvents_SetupIterator(cvTKEvents* Events, float StartTime, float EndTime) {
  const float from = StartTime - CV_TKARRAY_MIN_SPACING;
  Events->IteratorEnd = EndTime;
  int32_t index = cvTKArray_FindIndex(Events->Keys, from);
  while (index >= 0 && cvTKArray_GetTime(Events->Keys, index) >= from) --index;
  Events->IteratorIndex = index;
}

int cvTKEvents_GetNextEvent(cvTKEvents* Events, float* Time, const char** Text) {
  const int32_t index = Events->IteratorIndex + 1;
  if (index >= 0 && index < cvTKArray_GetCount(Events->Keys)) {
    const cvTKEvents_Key* key = Key(Events->Keys, index);
    if (key->Time + CV_TKARRAY_MIN_SPACING < Events->IteratorEnd) {
      Events->IteratorIndex = index;
      if (Time) *Time = key->Time;
      if (Text) *Text = Events->Data + key->Offset;
      return 1;
    }
  }
  if (Time) *Time = 0.0f;
  if (Text) *Text = nullptr;
  return 0;
}

cvTKEvents* cvTKEvents_CreateFromFile(cvVFile* File) {
  char tag[4];
  if (!ReadTag(File, tag)) {
    CV_ERROR(87);
    return nullptr;
  }
  if (TagIs(tag, "TKEV")) return ReadText(File);
  if (TagIs(tag, "TKEB")) return ReadBinary(File);
  CV_ERROR(87);
  return nullptr;
}

int cvTKEvents_WriteToFile(const cvTKEvents* Events, cvVFile* File) {
  const int32_t n = cvTKArray_GetCount(Events->Keys);
  std::string text = "TKEV";
  bool ok = WriteString(File, text) && WriteVersionLine(File, 0, kVersion);
  text = "DataSize ";
  AppendInt(&text, Events->DataSize);
  text += "\nTimeKeys ";
  AppendInt(&text, n);
  text += '\n';
  for (int32_t i = 0; ok && i < n; ++i) {
    const cvTKEvents_Key* key = Key(Events->Keys, i);
    const char* eventText = Events->Data + key->Offset;
    // A line end inside a text would split it on reading.
    if (std::strpbrk(eventText, "\r\n")) ok = false;
    AppendFloat(&text, key->Time);
    text += ' ';
    AppendInt(&text, key->Offset);
    text += '\n';
    text += eventText;
    text += '\n';
  }
  ok = ok && WriteString(File, text);
  if (!ok) {
    CV_ERROR(88);
    return 0;
  }
  return 1;
}

int cvTKEvents_WriteToBinaryFile(const cvTKEvents* Events, cvVFile* File) {
  bool ok = cvVFile_Write(File, "TKEB", 4) && cvVFile_WriteLE32(File, kVersion) &&
            cvVFile_WriteLE32(File, Events->DataSize) && cvVFile_Write(File, Events->Data, Events->DataSize) &&
            cvTKArray_WriteToFile(Events->Keys, File);
  if (!ok) {
    CV_ERROR(88);
    return 0;
  }
  return 1;
}
