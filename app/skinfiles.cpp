#include "skinfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bitmapwriter.h"
#include "engine/cvengine.h"
#include "imagefile/imagefile.h"

namespace skinfiles {

namespace {

std::string SystemError(const char* What, int Error) {
  return std::string(What) + ": " + std::strerror(Error);
}

// The reason a write failed: what the engine logged, else a plain default.
std::string WriteFailure(const char* Default) {
  std::string logged = EngineErrors();
  return logged.empty() ? Default : logged;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

struct FileCloser {
  void operator()(cvVFile* File) const { cvVFile_Close(File); }
};

}  // namespace

std::string EngineErrors() {
  std::string out;
  for (int32_t i = 0; i < cvErrorLog_Count(); ++i) {
    int32_t code = 0;
    const char* text = nullptr;
    if (!cvErrorLog_Report(i, &code, &text)) continue;
    if (!out.empty()) out += "; ";
    out += "error " + std::to_string(code) + ": " + (text ? text : "");
  }
  return out;
}

bool ReplaceFile(const std::string& Path, const std::function<bool(const char* TempPath)>& Write,
                 std::string* Reason) {
  std::string reason;
  auto fail = [&](std::string Why) {
    if (Reason) *Reason = std::move(Why);
    return false;
  };
  if (Path.empty()) return fail("no file name");

  // Saving onto a link replaces the file it names, not the link.
  std::string target = Path;
  struct stat st {};
  if (lstat(Path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(Path.c_str(), nullptr), &std::free);
    if (!real) return fail(SystemError("cannot follow the link", errno));
    target = real.get();
  }
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return fail("it is not a regular file");
  const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());

  const size_t slash = target.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp = dir + (slash == std::string::npos ? "/." : ".") + name + ".XXXXXX";
  std::vector<char> tempName(temp.begin(), temp.end());
  tempName.push_back('\0');
  const int fd = mkstemp(tempName.data());
  if (fd < 0) return fail(SystemError("cannot create a file in its folder", errno));
  temp = tempName.data();
  fchmod(fd, mode);
  close(fd);

  cvErrorLog_Clear();
  bool ok = Write(temp.c_str());
  if (!ok) {
    reason = WriteFailure("the data could not be written");
  } else {
    // The new contents reach the disk before they replace the old file.
    const int sync = open(temp.c_str(), O_RDONLY);
    if (sync < 0 || fsync(sync) != 0) {
      ok = false;
      reason = SystemError("cannot write the file", errno);
    }
    if (sync >= 0) close(sync);
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    reason = SystemError("cannot replace the file", errno);
  }
  if (!ok) {
    unlink(temp.c_str());
    return fail(reason);
  }
  return true;
}

namespace {

// Opens TempPath as a new engine disk file, writes it and closes it; the
// write counts only when the close succeeded too.
bool WriteEngineFile(const char* TempPath, const std::function<int(cvVFile*)>& Body) {
  std::unique_ptr<cvVFile, FileCloser> file(
      cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, TempPath, nullptr, CV_VFILE_OPEN_CREATE));
  if (!file) return false;
  const bool written = Body(file.get()) != 0;
  return cvVFile_Close(file.release()) != 0 && written;
}

}  // namespace

bool SaveActorFile(const cvActorDef* Def, const std::string& Path, std::string* Reason) {
  return ReplaceFile(
      Path,
      [&](const char* Temp) {
        return WriteEngineFile(Temp, [&](cvVFile* F) { return cvActorDef_WriteToFile(Def, F); });
      },
      Reason);
}

bool SaveBodyFile(cvBody* Body, const std::string& Path, std::string* Reason) {
  return ReplaceFile(
      Path,
      [&](const char* Temp) {
        return WriteEngineFile(Temp, [&](cvVFile* F) { return cvBody_WriteToFile(Body, F); });
      },
      Reason);
}

bool SaveSkinBitmap(cvBitmap* Bitmap, const std::string& Path, std::string* Reason,
                    bool TrueColour) {
  return ReplaceFile(
      Path, [&](const char* Temp) { return BitmapWriter().Write(Bitmap, Temp, TrueColour); },
      Reason);
}

bool SaveSkinImage(cvBitmap* Bitmap, const std::string& Path, std::string* Reason,
                   bool TrueColour) {
  const cvImageFile_Type type = cvImageFile_TypeOfName(Path.c_str());
  if (type != CV_IMAGEFILE_PNG && type != CV_IMAGEFILE_TGA)
    return SaveSkinBitmap(Bitmap, Path, Reason, TrueColour);
  // The image writer replaces the file in one step itself.
  std::string message;
  if (cvImageFile_Write(Bitmap, Path.c_str(), &message)) return true;
  if (Reason) *Reason = message;
  return false;
}

cvBitmap* ReadSkinBitmap(const std::string& Path, std::string* Reason) {
  cvErrorLog_Clear();
  std::unique_ptr<cvVFile, FileCloser> file(cvVFile_OpenNewSystem(
      nullptr, CV_VFILE_TYPE_DOS, Path.c_str(), nullptr, CV_VFILE_OPEN_READONLY));
  if (!file) {
    if (Reason) *Reason = SystemError("cannot open it", errno);
    return nullptr;
  }
  // PNG and TGA files keep their own transparency; the engine's bitmaps and
  // BMP files take palette index 255 as the colour key.
  uint8_t head[32] = {};
  uint32_t size = 0;
  cvVFile_Size(file.get(), &size);
  const uint32_t headBytes = std::min<uint32_t>(size, sizeof head);
  const bool engineFile = cvVFile_Read(file.get(), head, headBytes) &&
                          cvImageFile_TypeOfData(head, headBytes) == CV_IMAGEFILE_ENGINE;
  file.reset();
  std::string message;
  cvBitmap* bitmap = cvImageFile_Read(Path.c_str(), &message);
  if (!bitmap) {
    if (Reason) *Reason = "it holds no readable bitmap (" + message + ")";
    return nullptr;
  }
  cvBitmap_Info info{};
  if (engineFile && cvBitmap_GetInfo(bitmap, &info, nullptr) &&
      info.Format == CV_PIXELFORMAT_8BIT_PAL)
    cvBitmap_SetColorKey(bitmap, 1, 255, 1);
  return bitmap;
}

bool ExchangeDirectory(std::string* Directory, std::string* Reason) {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string dir = base + "/skinwork-" + std::to_string(getuid());
  auto fail = [&](std::string Why) {
    if (Reason) *Reason = dir + ": " + Why;
    return false;
  };
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return fail(SystemError("cannot create the folder", errno));
  // Whoever made it, it must be our own real folder, reachable by nobody else.
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return fail(SystemError("cannot examine the folder", errno));
  if (!S_ISDIR(st.st_mode)) return fail("it is not a folder");
  if (st.st_uid != getuid()) return fail("it belongs to another user");
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0)
    return fail(SystemError("cannot make the folder private", errno));
  if (Directory) *Directory = dir;
  return true;
}

std::string ExchangeFile() {
  std::string dir;
  return ExchangeDirectory(&dir, nullptr) ? dir + "/skin.bmp" : std::string();
}

}  // namespace skinfiles
