#include "skinfilewatcher.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include "Bitmap/cvbitmap.h"
#include "Support/cvsupport.h"
#include "VFile/cvvfile.h"

namespace {
constexpr int kSettleMs = 250;
}

bool EngineReadsBitmap(const QByteArray& Bytes) {
  if (Bytes.isEmpty() || (uint64_t)Bytes.size() > CV_SIZE_LIMIT) return false;
  QByteArray copy = Bytes;  // the memory file reads in place
  cvVFile_MemoryContext context{copy.data(), (uint32_t)copy.size()};
  cvVFile* file =
      cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_MEMORY, nullptr, &context, CV_VFILE_OPEN_READONLY);
  if (!file) return false;
  cvBitmap* bitmap = cvBitmap_CreateFromFile(file);
  cvVFile_Close(file);
  if (!bitmap) return false;
  cvBitmap_Destroy(&bitmap);
  return true;
}

SkinFileWatcher::SkinFileWatcher(QObject* Parent) : QObject(Parent), IsComplete(EngineReadsBitmap) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &SkinFileWatcher::Check);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &SkinFileWatcher::OnChange);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &SkinFileWatcher::OnChange);
}

void SkinFileWatcher::Watch(const QString& Path) {
  settle_.stop();
  if (!watcher_.files().isEmpty()) watcher_.removePaths(watcher_.files());
  if (!watcher_.directories().isEmpty()) watcher_.removePaths(watcher_.directories());
  path_ = Path;
  seen_.clear();
  if (path_.isEmpty()) return;
  watcher_.addPath(QFileInfo(path_).absolutePath());
  Rewatch();
  MarkSeen();
}

void SkinFileWatcher::MarkSeen() {
  QByteArray bytes;
  seen_ = ReadFile(&bytes) ? Fingerprint(bytes) : QByteArray();
  // A change already waiting to be checked is the program's own write.
  settle_.stop();
}

void SkinFileWatcher::SetEnabled(bool Enabled) {
  if (Enabled && !enabled_) MarkSeen();
  enabled_ = Enabled;
  if (!enabled_) settle_.stop();
}

void SkinFileWatcher::Rewatch() {
  // A file replaced by a rename is no longer watched; watch the new one.
  if (!path_.isEmpty() && !watcher_.files().contains(path_) && QFileInfo::exists(path_))
    watcher_.addPath(path_);
}

void SkinFileWatcher::OnChange() {
  Rewatch();
  // Every write restarts the wait, so the file is read once it is quiet.
  if (enabled_ && !path_.isEmpty()) settle_.start();
}

void SkinFileWatcher::Check() {
  Rewatch();
  if (!enabled_ || path_.isEmpty()) return;
  QByteArray bytes;
  if (!ReadFile(&bytes)) return;
  const QByteArray fingerprint = Fingerprint(bytes);
  if (fingerprint == seen_) return;
  // Half a bitmap is not a bitmap: wait for the next change.
  if (IsComplete && !IsComplete(bytes)) return;
  seen_ = fingerprint;
  emit Changed(path_);
}

bool SkinFileWatcher::ReadFile(QByteArray* Bytes) const {
  QFile file(path_);
  if (path_.isEmpty() || !file.open(QIODevice::ReadOnly)) return false;
  if ((uint64_t)file.size() > CV_SIZE_LIMIT) return false;
  *Bytes = file.readAll();
  return true;
}

QByteArray SkinFileWatcher::Fingerprint(const QByteArray& Bytes) const {
  return QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256);
}
