// SkinFileWatcher: live reload of a skin file that an external paint program
// edits. It watches one file and reports it once each time a save there is
// complete: after a change it waits until the file has been quiet for a
// short settle time, then reads it whole; a file that does not read as a
// complete bitmap (half written, damaged, empty) is ignored until the next
// change, and content already seen (the program's own writes, or the same
// picture saved twice) is not reported again.
//
// Paint programs save in different ways: writing the file in place, or
// writing a new file and renaming it over the old one. The second way ends
// the system's watch on the file, so the folder is watched too and the file
// is watched again whenever it reappears.
#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class SkinFileWatcher : public QObject {
  Q_OBJECT

 public:
  explicit SkinFileWatcher(QObject* Parent = nullptr);

  // Watches Path from now on (an empty path stops watching). What the file
  // holds now counts as seen.
  void Watch(const QString& Path);
  const QString& Path() const { return path_; }
  // What the file holds now counts as seen: the program has just written it.
  void MarkSeen();
  // Off: changes are not reported. Switching on counts the file's present
  // content as seen, so only the next save is reported.
  void SetEnabled(bool Enabled);
  bool IsEnabled() const { return enabled_; }
  // Quiet time after the last change before the file is read (250 ms).
  void SetSettleTime(int Milliseconds) { settle_.setInterval(Milliseconds); }

  // Whether the bytes are a complete bitmap. By default: the engine's bitmap
  // reader (engine bitmaps and Windows BMP files) reads them.
  std::function<bool(const QByteArray& Bytes)> IsComplete;

 signals:
  // The file holds a new complete bitmap.
  void Changed(const QString& Path);

 private:
  void OnChange();
  void Check();
  void Rewatch();
  QByteArray Fingerprint(const QByteArray& Bytes) const;
  bool ReadFile(QByteArray* Bytes) const;

  QFileSystemWatcher watcher_;
  QTimer settle_;
  QString path_;
  QByteArray seen_;  // fingerprint of the content last seen; empty when none
  bool enabled_ = true;
};

// The default completeness check: the engine reads Bytes as a bitmap.
bool EngineReadsBitmap(const QByteArray& Bytes);
