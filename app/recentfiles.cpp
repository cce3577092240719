#include "recentfiles.h"

#include <QDir>
#include <QFileInfo>

namespace {
const char* const kKey = "RecentFiles";
}

QString RecentFiles::Normalised(const QString& Path) {
  return QDir::cleanPath(QFileInfo(Path).absoluteFilePath());
}

QStringList RecentFiles::Files() const {
  // Settings edited by hand may hold empty entries, repeats or too many.
  QStringList files;
  for (const QString& f : settings_->value(kKey).toStringList()) {
    if (f.isEmpty()) continue;
    const QString path = Normalised(f);
    if (!files.contains(path)) files.append(path);
    if (files.size() == MaxFiles) break;
  }
  return files;
}

void RecentFiles::Add(const QString& Path) {
  if (Path.isEmpty()) return;
  const QString path = Normalised(Path);
  QStringList files = Files();
  files.removeAll(path);
  files.prepend(path);
  while (files.size() > MaxFiles) files.removeLast();
  Store(files);
}

void RecentFiles::Remove(const QString& Path) {
  QStringList files = Files();
  files.removeAll(Normalised(Path));
  Store(files);
}

void RecentFiles::Clear() { Store({}); }

void RecentFiles::Store(const QStringList& Files) {
  settings_->setValue(kKey, Files);
  settings_->sync();
}
