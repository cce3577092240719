// The program's Qt parts that need no window: live reload of a skin file
// saved by another program, and the recent-files list.
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "Bitmap/cvbitmap.h"
#include "bitmapwriter.h"
#include "recentfiles.h"
#include "skinfilewatcher.h"

namespace {

// The bytes of a W x H BMP file as a paint program would save it.
QByteArray BmpBytes(int32_t W, int32_t H, uint8_t Shade, const QString& Scratch) {
  cvBitmap* b = cvBitmap_Create(W, H, 1, CV_PIXELFORMAT_24BIT_RGB);
  uint8_t* p = cvBitmap_AllocateMip(b, 0);
  for (int32_t i = 0; i < W * H * 3; ++i) p[i] = (uint8_t)(Shade + i);
  cvBitmap_SetMipValid(b, 0, 1);
  BitmapWriter().Write(b, Scratch.toUtf8().constData());
  cvBitmap_Destroy(&b);
  QFile f(Scratch);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

void WriteFile(const QString& Path, const QByteArray& Bytes, QIODevice::OpenMode Mode) {
  QFile f(Path);
  QVERIFY(f.open(Mode));
  QCOMPARE(f.write(Bytes), Bytes.size());
}

}  // namespace

class SkinworkQtTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    skin_ = dir_->filePath("skin.bmp");
    first_ = BmpBytes(8, 8, 10, dir_->filePath("a.tmp"));
    second_ = BmpBytes(8, 8, 99, dir_->filePath("b.tmp"));
    WriteFile(skin_, first_, QIODevice::WriteOnly);
  }

  // A save in two steps: the half-written file is ignored, the complete one
  // reported once.
  void LiveReloadWaitsForACompleteFile() {
    SkinFileWatcher watcher;
    watcher.SetSettleTime(50);
    watcher.Watch(skin_);
    QSignalSpy changed(&watcher, &SkinFileWatcher::Changed);
    WriteFile(skin_, second_.left(second_.size() / 2), QIODevice::WriteOnly | QIODevice::Truncate);
    QTest::qWait(400);
    QCOMPARE(changed.count(), 0);
    WriteFile(skin_, second_.mid(second_.size() / 2), QIODevice::Append);
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 1000);
    QCOMPARE(changed.at(0).at(0).toString(), skin_);
    QTest::qWait(300);
    QCOMPARE(changed.count(), 1);
    // A damaged save is ignored too; the same picture saved again is no change.
    WriteFile(skin_, QByteArray("BM not a bitmap"), QIODevice::WriteOnly | QIODevice::Truncate);
    QTest::qWait(300);
    WriteFile(skin_, second_, QIODevice::WriteOnly | QIODevice::Truncate);
    QTest::qWait(300);
    QCOMPARE(changed.count(), 1);
  }

  // Programs that save to a new file and rename it over the old one.
  void LiveReloadFollowsAReplacedFile() {
    SkinFileWatcher watcher;
    watcher.SetSettleTime(50);
    watcher.Watch(skin_);
    QSignalSpy changed(&watcher, &SkinFileWatcher::Changed);
    for (const QByteArray* bytes : {&second_, &first_}) {
      const QString temp = dir_->filePath("skin.bmp.new");
      WriteFile(temp, *bytes, QIODevice::WriteOnly);
      QVERIFY(std::rename(temp.toUtf8().constData(), skin_.toUtf8().constData()) == 0);
      const int expected = bytes == &second_ ? 1 : 2;
      QTRY_COMPARE_WITH_TIMEOUT(changed.count(), expected, 1000);
    }
    // The file put there is watched in turn.
    WriteFile(skin_, second_, QIODevice::WriteOnly | QIODevice::Truncate);
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 3, 1000);
  }

  // The program's own writes and saves while live reload is off are not
  // reported.
  void LiveReloadIgnoresOwnWritesAndPauses() {
    SkinFileWatcher watcher;
    watcher.SetSettleTime(50);
    watcher.Watch(skin_);
    QSignalSpy changed(&watcher, &SkinFileWatcher::Changed);
    WriteFile(skin_, second_, QIODevice::WriteOnly | QIODevice::Truncate);
    watcher.MarkSeen();
    watcher.SetEnabled(false);
    WriteFile(skin_, first_, QIODevice::WriteOnly | QIODevice::Truncate);
    QTest::qWait(300);
    watcher.SetEnabled(true);
    QTest::qWait(300);
    QCOMPARE(changed.count(), 0);
    WriteFile(skin_, second_, QIODevice::WriteOnly | QIODevice::Truncate);
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 1000);
    watcher.Watch(QString());
    WriteFile(skin_, first_, QIODevice::WriteOnly | QIODevice::Truncate);
    QTest::qWait(300);
    QCOMPARE(changed.count(), 1);
  }

  void RecentFilesKeepTheLastFiveNewestFirst() {
    const QString ini = dir_->filePath("settings.ini");
    {
      QSettings settings(ini, QSettings::IniFormat);
      RecentFiles recent(&settings);
      for (int i = 1; i <= 7; ++i) recent.Add(dir_->filePath(QString("a%1.act").arg(i)));
      // The same file by another spelling moves to the top instead of repeating.
      recent.Add(dir_->path() + "/./x/../a5.act");
      recent.Remove(dir_->filePath("a6.act"));
    }
    QSettings settings(ini, QSettings::IniFormat);
    RecentFiles recent(&settings);
    QStringList want;
    for (int i : {5, 7, 4, 3}) want << dir_->filePath(QString("a%1.act").arg(i));
    QCOMPARE(recent.Files(), want);
    // Hand-edited settings: repeats and blanks are skipped, at most five read.
    settings.setValue("RecentFiles", QStringList{"/a.act", "", "/a.act", "/b", "/c", "/d", "/e", "/f"});
    QCOMPARE(recent.Files(), (QStringList{"/a.act", "/b", "/c", "/d", "/e"}));
    recent.Clear();
    QVERIFY(recent.Files().isEmpty());
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  QString skin_;
  QByteArray first_, second_;
};

QTEST_GUILESS_MAIN(SkinworkQtTest)
#include "skinwork_qt_test.moc"
