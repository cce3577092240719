// What painters use beyond the round trip, driven through the Skinwork window
// on the real engine and software driver: live reload of the exchange file,
// PNG and TGA skins, true-colour exchange files, drag and drop, undo and
// redo, the motion list, recent files and the window's place, UV templates.
#include <QComboBox>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

#include "engine/cvengine.h"
#include "platform/input.h"
#include "platform/qt/qtplatform.h"
#include "skinfiles.h"
#include "skinfilewatcher.h"
#include "skinworkdlg.h"

using cvplatform::SaveAnswer;

namespace {

// Level 0 of a bitmap as 0xAARRGGBB pixels, row by row.
QVector<uint32_t> Pixels(cvBitmap* Bitmap) {
  QVector<uint32_t> out;
  cvBitmap* lock = nullptr;
  if (!Bitmap || !cvBitmap_LockForRead(Bitmap, &lock, 0, 0, CV_PIXELFORMAT_32BIT_ARGB, 0, 0))
    return out;
  cvBitmap_Info info{};
  cvBitmap_GetInfo(lock, &info, nullptr);
  const auto* p = static_cast<const uint32_t*>(cvBitmap_GetBits(lock));
  for (int32_t y = 0; y < info.Height; ++y)
    for (int32_t x = 0; x < info.Width; ++x) out << p[y * info.Stride + x];
  cvBitmap_UnLock(lock);
  return out;
}

// ImageMagick's reading of an image file as 0xAARRGGBB pixels.
QVector<uint32_t> MagickPixels(const QString& Path) {
  QProcess convert;
  // Rows in the order the file says they are shown (TGA files may store them bottom-up).
  convert.start("convert", {Path, "-auto-orient", "-depth", "8", "rgba:-"});
  convert.waitForFinished();
  const QByteArray raw = convert.readAllStandardOutput();
  QVector<uint32_t> out;
  for (qsizetype i = 0; i + 3 < raw.size(); i += 4)
    out << (uint32_t(uint8_t(raw[i + 3])) << 24 | uint32_t(uint8_t(raw[i])) << 16 |
            uint32_t(uint8_t(raw[i + 1])) << 8 | uint8_t(raw[i + 2]));
  return out;
}

QByteArray ReadAll(const QString& Path) {
  QFile f(Path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class PainterTest : public QObject {
  Q_OBJECT

  std::unique_ptr<cvplatform::ScriptedDialogs> dialogs_;
  std::unique_ptr<SkinworkDlg> dlg_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::string actorPath_;

  QWidget* Control(int Id) { return dlg_->Control(Id); }
  QComboBox* Materials() { return qobject_cast<QComboBox*>(Control(IDC_MATERIALS)); }
  int Select(const char* Name) {
    Materials()->setCurrentIndex(Materials()->findText(Name));
    return dlg_->GetSelectedMaterial();
  }
  QString File(const char* Name) { return dir_->filePath(Name); }
  void Start() {
    dlg_->show();
    QTRY_VERIFY(dlg_->EngineStarted());
    QVERIFY(dlg_->OpenFile(actorPath_));
  }
  cvplatform::ViewWidget* View() { return static_cast<cvplatform::ViewWidget*>(Control(IDC_VIEW)); }
  // The picture after two more frame cycles (an idle cycle draws nothing and
  // leaves the last picture in place).
  QImage NextFrame() {
    const int until = dlg_->FrameTicks() + 2;
    [&] { QTRY_VERIFY(dlg_->FrameTicks() >= until); }();
    return View()->Frame().copy();
  }
  // A drop of Path at the centre of Target; whether the window took it.
  bool Drop(const QString& Path, QWidget* Target) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Path)});
    const QPointF at = Target->mapTo(dlg_.get(), Target->rect().center());
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg_.get(), &enter);
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg_.get(), &move);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dlg_.get(), &drop);
    return move.isAccepted() && drop.isAccepted();
  }

 private slots:
  void initTestCase() {
    static QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
  }
  void init() {
    dialogs_ = std::make_unique<cvplatform::ScriptedDialogs>();
    cvplatform::SetDialogs(dialogs_.get());
    cvplatform::ReleaseAllKeys();
    dir_ = std::make_unique<QTemporaryDir>();
    actorPath_ = File("person.act").toStdString();
    QVERIFY(QFile::copy(qEnvironmentVariable("CV_BIN_DIR") + "/sample.act", File("person.act")));
    SkinworkDlg::SettingsFile = File("settings.ini");
    SkinworkDlg::OpenExternal = [](const std::string&) { return true; };
    dlg_ = std::make_unique<SkinworkDlg>();
    dlg_->LiveReload().SetSettleTime(50);
  }
  void cleanup() {
    dlg_.reset();
    cvplatform::SetDialogs(nullptr);
  }

  // How a half-written save is waited for is SkinFileWatcher's test.
  void liveReloadAppliesASaveOfTheExchangeFile() {
    Start();
    const int shirt = Select("Shirt");
    cvBitmap* before = dlg_->Material(shirt).Bitmap;
    const QString exchange = QString::fromStdString(skinfiles::ExchangeFile());
    QImage painted(QImage(exchange).convertToFormat(QImage::Format_RGB888));
    painted.fill(QColor(10, 200, 30));
    QVERIFY(painted.save(exchange, "BMP"));
    const QByteArray saved = ReadAll(exchange);
    QTRY_VERIFY_WITH_TIMEOUT(dlg_->Material(shirt).Bitmap != before, 1000);
    QCOMPARE(Pixels(dlg_->Material(shirt).Bitmap).first(), 0xFF0AC81Eu);
    QCOMPARE(ReadAll(exchange), saved);  // the editor's file is left as it saved it
    // Switched off, a save is not applied.
    cvBitmap* reloaded = dlg_->Material(shirt).Bitmap;
    qobject_cast<QCheckBox*>(Control(IDC_LIVERELOAD))->setChecked(false);
    painted.fill(QColor(1, 2, 3));
    QVERIFY(painted.save(exchange, "BMP"));
    QTest::qWait(400);
    QCOMPARE(dlg_->Material(shirt).Bitmap, reloaded);
  }

  void pngAndTgaSkinsMatchImageMagick() {
    if (std::system("convert -version > /dev/null 2>&1") != 0) QSKIP("ImageMagick not installed");
    // A colour ramp with an alpha ramp, and one without alpha.
    QVERIFY(QProcess::execute("convert", {"-size", "24x10", "gradient:#ff2000-#0040ff", "(",
                                          "-size", "24x10", "gradient:white-black", ")", "-alpha",
                                          "off", "-compose", "CopyOpacity", "-composite",
                                          "-depth", "8", File("ramp.png")}) == 0);
    QVERIFY(QProcess::execute("convert", {"-size", "17x9", "plasma:fractal", "-seed", "3",
                                          File("plasma.tga")}) == 0);
    Start();
    const int shirt = Select("Shirt");
    for (const char* name : {"ramp.png", "plasma.tga"}) {
      dialogs_->FileNames.push_back(File(name).toStdString());
      qobject_cast<QPushButton*>(Control(IDC_LOADBITMAP))->click();
      QCOMPARE(Pixels(dlg_->Material(shirt).Bitmap), MagickPixels(File(name)));
    }
    // Saved as PNG, the same pixels come back.
    dialogs_->FileNames.push_back(File("saved.png").toStdString());
    qobject_cast<QPushButton*>(Control(IDC_SAVEBITMAP))->click();
    QCOMPARE(MagickPixels(File("saved.png")), MagickPixels(File("plasma.tga")));
    QVERIFY(dialogs_->Messages().empty());
  }

  void trueColourExchangeKeepsEveryColour() {
    Start();
    const int shirt = Select("Shirt");
    const QString exchange = QString::fromStdString(skinfiles::ExchangeFile());
    QCOMPARE(ReadAll(exchange)[28], char(8));
    qobject_cast<QCheckBox*>(Control(IDC_TRUECOLOUR))->setChecked(true);
    QCOMPARE(ReadAll(exchange)[28], char(24));
    // Loaded back, every texel is what the skin holds.
    cvBitmap* skin = dlg_->Material(shirt).Bitmap;
    const QVector<uint32_t> want = Pixels(skin);
    QVERIFY(dlg_->LoadBitmapFile(exchange.toStdString(), false));
    QVERIFY(dlg_->Material(shirt).Bitmap != skin);
    QCOMPARE(Pixels(dlg_->Material(shirt).Bitmap), want);
  }

  void dropsOpenActorsAndLoadImages() {
    Start();
    const int shirt = Select("Shirt");
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(QColor(0, 0, 255));
    QVERIFY(image.save(File("blue.png"), "PNG"));
    // Only the view and the preview take images.
    QVERIFY(!Drop(File("blue.png"), Materials()));
    QVERIFY(Drop(File("blue.png"), Control(IDC_PREVIEW)));
    QCOMPARE(dlg_->Material(shirt).Width, 8);
    image.fill(QColor(0, 255, 0));
    QVERIFY(image.save(File("green.png"), "PNG"));
    QVERIFY(Drop(File("green.png"), Control(IDC_VIEW)));
    QCOMPARE(Pixels(dlg_->Material(shirt).Bitmap).first(), 0xFF00FF00u);

    // An actor file anywhere: the unsaved changes are asked about first.
    QVERIFY(QFile::copy(File("person.act"), File("other.act")));
    dialogs_->SaveAnswers = {SaveAnswer::Cancel, SaveAnswer::Discard};
    Drop(File("other.act"), Materials());
    QCOMPARE(dlg_->FileName(), actorPath_);
    QVERIFY(Drop(File("other.act"), Control(IDC_RED)));
    QCOMPARE(dlg_->FileName(), File("other.act").toStdString());
    QVERIFY(!dlg_->HasUnsavedChanges() && dialogs_->SaveAnswers.empty());
  }

  void undoAndRedoRestoreColoursAndBitmaps() {
    Start();
    const int shirt = Select("Shirt");
    // The table, the instance and the body must agree after every step.
    auto state = [&] {
      const MaterialEntry& m = dlg_->Material(shirt);
      cvBitmap *a = nullptr, *b = nullptr;
      float c[6];
      cvActor_GetMaterial(dlg_->GetActor()->EngineActor, shirt, &a, &c[0], &c[1], &c[2]);
      cvBody_GetMaterial(cvActorDef_GetBody(dlg_->GetActor()->Definition), shirt, nullptr, &b,
                         &c[3], &c[4], &c[5]);
      const bool agree = a == m.Bitmap && b == m.Bitmap && c[0] == m.Red && c[3] == m.Red &&
                         c[1] == m.Green && c[4] == m.Green && c[2] == m.Blue && c[5] == m.Blue;
      return std::make_tuple(agree, m.Bitmap, m.Red, m.Green, m.Blue, m.Width);
    };
    const auto atOpen = state();
    qobject_cast<QLineEdit*>(Control(IDC_RED))->setText("17");
    qobject_cast<QPushButton*>(Control(IDC_APPLY))->click();
    const auto recoloured = state();
    QImage image(4, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(File("small.bmp"), "BMP"));
    QVERIFY(dlg_->LoadBitmapFile(File("small.bmp").toStdString(), false));
    const auto loaded = state();
    dlg_->OnSave();  // saving keeps the history

    Select("Face");
    const auto undo = [&] { QTest::keyClick(dlg_.get(), Qt::Key_Z, Qt::ControlModifier); };
    const auto redo = [&] {
      QTest::keyClick(dlg_.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    };
    undo();
    QCOMPARE(state(), recoloured);
    QCOMPARE(dlg_->GetSelectedMaterial(), shirt);  // the changed material is shown
    undo();
    undo();  // nothing before Open
    QCOMPARE(state(), atOpen);
    QVERIFY(std::get<0>(atOpen));
    redo();
    redo();
    QCOMPARE(state(), loaded);
    QCOMPARE(Pixels(dlg_->Material(shirt).Bitmap).first(), 0xFFFF0000u);
  }

  void motionListPlaysTheChosenMotion() {
    Start();
    auto* motions = qobject_cast<QComboBox*>(Control(IDC_MOTIONS));
    QCOMPARE(motions->itemText(0), QString("(none)"));
    QCOMPARE(motions->count(), 3);
    // At rest the picture stands still; walking, it changes over time.
    NextFrame();
    const QImage still = NextFrame();
    QTest::qWait(150);
    QCOMPARE(NextFrame(), still);
    motions->setCurrentIndex(motions->findText("walk"));
    const QImage first = NextFrame();
    QTest::qWait(150);
    QVERIFY(NextFrame() != first);
    // Paused, it stands still again.
    qobject_cast<QPushButton*>(Control(IDC_PAUSE))->setChecked(true);
    const QImage paused = NextFrame();
    QTest::qWait(150);
    QCOMPARE(NextFrame(), paused);
  }

  void recentFilesAndTheWindowsPlaceAreKept() {
    Start();
    dlg_->resize(977, 655);
    dlg_->OnClose();
    auto* actorMenu = dlg_->Menu(1);
    emit actorMenu->aboutToShow();
    QAction* recent = dlg_->Command(ID_ACTOR_RECENT);
    QVERIFY(recent && recent->text().endsWith(File("person.act")));
    QVERIFY(actorMenu->findChild<QMenu*>("recentMenu")->menuAction()->isEnabled());
    recent->trigger();
    QCOMPARE(dlg_->FileName(), actorPath_);
    dlg_->OnExit();
    dlg_ = std::make_unique<SkinworkDlg>();
    QCOMPARE(dlg_->size(), QSize(977, 655));
    QFile::remove(File("person.act"));
    dlg_->show();
    QTRY_VERIFY(dlg_->EngineStarted());
    emit dlg_->Menu(1)->aboutToShow();
    dlg_->Command(ID_ACTOR_RECENT)->trigger();  // gone: a message, and off the list
    QCOMPARE(dialogs_->Messages().size(), size_t(1));
    emit dlg_->Menu(1)->aboutToShow();
    QVERIFY(!dlg_->Command(ID_ACTOR_RECENT));
  }

  void saveTemplateWritesTheMaterialsTemplate() {
    Start();
    const int face = Select("Face");
    dialogs_->FileNames.push_back(File("face.png").toStdString());
    qobject_cast<QPushButton*>(Control(IDC_SAVETEMPLATE))->click();
    QCOMPARE(dialogs_->FileRequests.back().DefaultExtension, std::string("png"));
    // What it holds is the template library's test; here: the skin's size.
    QCOMPARE(QImage(File("face.png")).size(),
             QSize(dlg_->Material(face).Width, dlg_->Material(face).Height));
  }
};

QTEST_MAIN(PainterTest)
#include "painter_test.moc"
