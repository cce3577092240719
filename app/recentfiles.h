// RecentFiles: the actor files the user opened last, newest first, kept in
// the program's settings so that they outlive the run. A file opened again
// moves to the top; the list holds at most five distinct files (compared as
// absolute, cleaned paths).
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

class RecentFiles {
 public:
  static constexpr int MaxFiles = 5;

  // The list is read from and written to Settings (which must outlive this
  // object) under the key "RecentFiles".
  explicit RecentFiles(QSettings* Settings) : settings_(Settings) {}

  QStringList Files() const;
  // Puts Path at the top (the fifth file drops off a full list).
  void Add(const QString& Path);
  // Takes Path off the list, for a file that can no longer be opened.
  void Remove(const QString& Path);
  void Clear();

  // How a path appears in the list.
  static QString Normalised(const QString& Path);

 private:
  void Store(const QStringList& Files);

  QSettings* settings_;
};
