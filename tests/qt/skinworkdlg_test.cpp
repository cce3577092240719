// The Skinwork window driven as a user would, with the dialogs answered by
// the scripted dialog interface: start-up, menu enabling, the actor file
// commands, material editing and the whole re-skin round trip, on the real
// engine and software driver.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "actoraction.h"
#include "engine/cvengine.h"
#include "platform/dialogs.h"
#include "platform/input.h"
#include "platform/qt/qtplatform.h"
#include "skinfiles.h"
#include "skinworkdlg.h"

using cvplatform::SaveAnswer;

namespace {

std::string BinDir() {
  const char* dir = std::getenv("CV_BIN_DIR");
  return dir ? dir : ".";
}

// Reads the actor file at Path with the engine; null when it holds none.
cvActorDef* ReadActorDef(const std::string& Path) {
  cvVFile* f = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Path.c_str(), nullptr,
                                     CV_VFILE_OPEN_READONLY);
  if (!f) return nullptr;
  cvActorDef* def = cvActorDef_CreateFromFile(f);
  cvVFile_Close(f);
  return def;
}

// Material Name's red and bitmap in the actor file at Path.
struct SavedMaterial {
  float Red = -1;
  uint32_t Pixel = 0;  // 0x00RRGGBB of pixel (X, Y) of its bitmap
  int32_t Width = 0, Height = 0;
};
SavedMaterial ReadSavedMaterial(const std::string& Path, const char* Name, int X = 0, int Y = 0) {
  SavedMaterial out;
  cvActorDef* def = ReadActorDef(Path);
  if (!def) return out;
  cvBody* body = cvActorDef_GetBody(def);
  for (int32_t i = 0; i < cvBody_GetMaterialCount(body); ++i) {
    const char* name = nullptr;
    cvBitmap* bitmap = nullptr;
    float r, g, b;
    cvBody_GetMaterial(body, i, &name, &bitmap, &r, &g, &b);
    if (std::strcmp(name, Name) != 0) continue;
    out.Red = r;
    cvBitmap* lock = nullptr;
    if (bitmap && cvBitmap_LockForRead(bitmap, &lock, 0, 0, CV_PIXELFORMAT_32BIT_XRGB, 0, 0)) {
      cvBitmap_Info info{};
      cvBitmap_GetInfo(lock, &info, nullptr);
      out.Width = info.Width;
      out.Height = info.Height;
      out.Pixel = static_cast<const uint32_t*>(cvBitmap_GetBits(lock))[Y * info.Stride + X] & 0xFFFFFF;
      cvBitmap_UnLock(lock);
    }
  }
  cvActorDef_Destroy(&def);
  return out;
}

// An 8-bit palettised BMP of Width x Height whose pixels are Index(x, y).
void WriteBmp8(const QString& Path, int Width, int Height, int (*Index)(int, int)) {
  const int row = (Width + 3) & ~3;
  QByteArray bytes(54 + 1024 + row * Height, '\0');
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = char(v >> (8 * i));
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, bytes.size());
  put32(10, 1078);
  put32(14, 40);
  put32(18, Width);
  put32(22, Height);
  bytes[26] = 1;
  bytes[28] = 8;
  for (int i = 0; i < 256; ++i) put32(54 + 4 * i, uint32_t(i) * 0x010101u);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) bytes[1078 + (Height - 1 - y) * row + x] = char(Index(x, y));
  QFile f(Path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

}  // namespace

class SkinworkDlgTest : public QObject {
  Q_OBJECT

  std::unique_ptr<cvplatform::ScriptedDialogs> dialogs_;
  std::unique_ptr<SkinworkDlg> dlg_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::string actorPath_;  // a copy of the sample actor in the test's folder

  template <class T = QWidget>
  T* Control(int Id) {
    return qobject_cast<T*>(dlg_->Control(Id));
  }
  QComboBox* Materials() { return Control<QComboBox>(IDC_MATERIALS); }
  void Select(const char* Name) { Materials()->setCurrentIndex(Materials()->findText(Name)); }
  void Type(int Id, const QString& Text) { Control<QLineEdit>(Id)->setText(Text); }
  bool Enabled(int Command) {
    for (int m = 0; m < 3; ++m) emit dlg_->Menu(m)->aboutToShow();
    return dlg_->Command(Command)->isEnabled();
  }
  void Start() {
    dlg_->show();
    QTRY_VERIFY(dlg_->EngineStarted());
  }
  void Open(const std::string& Path) {
    dialogs_->FileNames.push_back(Path);
    dlg_->Command(ID_ACTOR_OPEN)->trigger();
  }
  int Frames() { return dlg_->Control(IDC_VIEW) ? static_cast<cvplatform::ViewWidget*>(dlg_->Control(IDC_VIEW))->PresentCount() : 0; }
  void WaitFrames(int N) {
    const int until = Frames() + N;
    QTRY_VERIFY(Frames() >= until);
  }

 private slots:
  void init() {
    dialogs_ = std::make_unique<cvplatform::ScriptedDialogs>();
    cvplatform::SetDialogs(dialogs_.get());
    cvplatform::ReleaseAllKeys();
    dir_ = std::make_unique<QTemporaryDir>();
    actorPath_ = dir_->filePath("person.act").toStdString();
    QVERIFY(QFile::copy(QString::fromStdString(BinDir() + "/sample.act"),
                        QString::fromStdString(actorPath_)));
    QFile::setPermissions(QString::fromStdString(actorPath_),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    dlg_ = std::make_unique<SkinworkDlg>();
    SkinworkDlg::OpenExternal = [](const std::string&) { return true; };
  }
  void cleanup() {
    dlg_.reset();
    cvplatform::SetDialogs(nullptr);
    cvplatform::ReleaseAllKeys();
  }

  void startsTheEngineOnTheFirstTick() {
    // Before the first tick: no engine, the editing and mode controls
    // disabled, "0" in the colour edits and the size labels empty.
    QVERIFY(!dlg_->GetEngine());
    QVERIFY(dlg_->IsTimerRunning(1));
    for (int id : {IDC_RED, IDC_SAVEBITMAP, IDC_COLOR, IDC_MATERIALS, IDC_ROTATE, IDC_ANGLE})
      QVERIFY(!dlg_->Control(id)->isEnabled());
    QCOMPARE(Control<QLineEdit>(IDC_GREEN)->text(), QString("0"));
    QCOMPARE(Control<QLabel>(IDC_WIDTH)->text(), QString());
    QCOMPARE(Control<QLabel>(IDC_MODE)->text(), QString("Rotate"));
    Start();
    QVERIFY(dlg_->GetEngine() && dlg_->GetCamera());
    WaitFrames(2);  // the view shows frames from now on

    // With no actor only Open, Exit and About are enabled.
    QVERIFY(Enabled(ID_ACTOR_OPEN) && Enabled(ID_FILE_EXIT) && Enabled(ID_HELP_ABOUT));
    for (int id : {ID_ACTOR_SAVE, ID_ACTOR_SAVEAS, ID_ACTOR_CLOSE, ID_ACTOR_MAKEBODY, ID_ACTOR_GTEST})
      QVERIFY(!Enabled(id));
  }

  void openShowsTheActorAndItsMaterials() {
    dlg_->OpenOnStart(actorPath_);  // as from the command line
    Start();
    QVERIFY(dlg_->GetActor());
    QCOMPARE(dlg_->FileName(), actorPath_);
    QVERIFY(dlg_->IsTimerRunning(0));
    QVERIFY(!Enabled(ID_ACTOR_OPEN));
    for (int id : {ID_ACTOR_SAVE, ID_ACTOR_SAVEAS, ID_ACTOR_CLOSE, ID_ACTOR_MAKEBODY, ID_ACTOR_GTEST})
      QVERIFY(Enabled(id));

    // The list is sorted and starts on the first material of the table.
    QStringList names;
    for (int i = 0; i < Materials()->count(); ++i) names << Materials()->itemText(i);
    QCOMPARE(names, QStringList({"Face", "Shirt", "Shoes", "Skin", "Trousers"}));
    QCOMPARE(Materials()->currentText(), QString("Face"));
    QCOMPARE(Control<QLabel>(IDC_WIDTH)->text(), QString::number(dlg_->Material(0).Width));
    QVERIFY(!Control<QLabel>(IDC_PREVIEW)->pixmap().isNull());

    // A material without bitmap leaves only the colour controls enabled.
    Select("Skin");
    QVERIFY(Control(IDC_RED)->isEnabled() && Control(IDC_APPLY)->isEnabled());
    QVERIFY(!Control(IDC_SAVEBITMAP)->isEnabled() && !Control(IDC_RUNEDITOR)->isEnabled());
    QVERIFY(Control<QLabel>(IDC_PREVIEW)->isHidden());
    QCOMPARE(Control<QLabel>(IDC_HEIGHT)->text(), QString());

    // The camera is put 80 back and 50 up from the actor's start and the
    // actor turned by 3.14 to face it.
    XForm3d expected;  // a new actor starts at the identity
    WaitFrames(2);
    expected.MoveBackward(80);
    expected.MoveUp(50);
    const cvVec3d& at = dlg_->GetCamera()->Position.XForm.T;
    QCOMPARE(at.X, expected.XForm.T.X);
    QCOMPARE(at.Y, expected.XForm.T.Y);
    QCOMPARE(at.Z, expected.XForm.T.Z);
    QCOMPARE(dlg_->GetActor()->Position.AngleY, 3.14f);

    // Close keeps the table and the list, disabled.
    dlg_->Command(ID_ACTOR_CLOSE)->trigger();
    QVERIFY(!dlg_->GetActor());
    QCOMPARE(Materials()->count(), 5);
    QVERIFY(!Materials()->isEnabled());
    QCOMPARE(dlg_->FileName(), actorPath_);
  }

  void gtestOpenKeepsTheCameraAndOnlyStandsTheActorUp() {
    Start();
    Open(actorPath_);
    dlg_->Command(ID_ACTOR_GTEST)->trigger();
    QVERIFY(dlg_->GetActor()->GtestObject);
    const float standing = dlg_->GetActor()->Position.AngleX;
    QVERIFY(standing != 0.0f);
    dlg_->Command(ID_ACTOR_GTEST)->trigger();
    // Off again: the turn made by switching on stays.
    QVERIFY(!dlg_->GtestFlag());
    QCOMPARE(dlg_->GetActor()->Position.AngleX, standing);
    dlg_->Command(ID_ACTOR_GTEST)->trigger();
    dlg_->Command(ID_ACTOR_CLOSE)->trigger();

    dlg_->GetCamera()->MoveForward(7);
    WaitFrames(2);
    const cvVec3d before = dlg_->GetCamera()->Position.XForm.T;
    Open(actorPath_);
    WaitFrames(2);
    const cvVec3d after = dlg_->GetCamera()->Position.XForm.T;
    QCOMPARE(after.Z, before.Z);
    QCOMPARE(after.Y, before.Y);
    QCOMPARE(dlg_->GetActor()->Position.AngleY, 3.14159f);
  }

  void refusesFilesThatAreNoActor() {
    Start();
    const QString junk = dir_->filePath("junk.act");
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("this is no actor file at all");
    f.close();
    Open(junk.toStdString());
    Open(dir_->filePath("missing.act").toStdString());
    QVERIFY(!dlg_->GetActor());
    QVERIFY(dlg_->FileName().empty());
    QVERIFY(!Materials()->isEnabled());
    const auto messages = dialogs_->Messages();
    QCOMPARE(messages.size(), size_t(2));
    QVERIFY(QString::fromStdString(messages[0]).contains(junk));
    QVERIFY(QString::fromStdString(messages[1]).contains("missing.act"));
    QCOMPARE(dialogs_->FileRequests[0].Filter,
             std::string("Corvina actor Files (*.act)|*.act|All Files (*.*)|*.*||"));
    QCOMPARE(dialogs_->FileRequests[0].DefaultExtension, std::string("act"));
  }

  void colourEditsSwatchAndApply() {
    Start();
    Open(actorPath_);
    Select("Shirt");
    const int shirt = dlg_->GetSelectedMaterial();
    // 300 paints the swatch with its low 8 bits and is kept by Apply.
    Type(IDC_RED, "300");
    Type(IDC_GREEN, "0");
    Type(IDC_BLUE, "256");
    QVERIFY(!dlg_->HasUnsavedChanges());
    QCOMPARE(dlg_->Material(shirt).Red, 255.0f);  // typing applies nothing
    const QImage swatch = dlg_->Control(IDC_SWATCH)->grab().toImage();
    QCOMPARE(QColor(swatch.pixel(swatch.width() / 2, swatch.height() / 2)), QColor(44, 0, 0));
    dlg_->OnApply();
    QCOMPARE(dlg_->Material(shirt).Red, 300.0f);
    QCOMPARE(dlg_->Material(shirt).Blue, 256.0f);
    float r, g, b;
    cvBitmap* bitmap;
    cvActor_GetMaterial(dlg_->GetActor()->EngineActor, shirt, &bitmap, &r, &g, &b);
    QCOMPARE(r, 300.0f);
    QVERIFY(dlg_->HasUnsavedChanges());

    // The colour dialog starts from the low bytes and applies its choice at once.
    dialogs_->Colors.push_back(0x00302010);
    dlg_->OnColor();
    QCOMPARE(dialogs_->Log.back().Text, std::to_string(44 | 0 << 8 | 0 << 16));
    QCOMPARE(Control<QLineEdit>(IDC_RED)->text(), QString("16"));
    QCOMPARE(dlg_->Material(shirt).Blue, 48.0f);
    cvActor_GetMaterial(dlg_->GetActor()->EngineActor, shirt, &bitmap, &r, &g, &b);
    QCOMPARE(b, 48.0f);
    const char* name;
    cvBody_GetMaterial(cvActorDef_GetBody(dlg_->GetActor()->Definition), shirt, &name, &bitmap,
                       &r, &g, &b);
    QCOMPARE(g, 32.0f);

    // Text that is no number applies as 0, and so does a negative number.
    Type(IDC_RED, "abc");
    Type(IDC_GREEN, "-1");
    dlg_->OnApply();
    QCOMPARE(dlg_->Material(shirt).Red, 0.0f);
    QCOMPARE(dlg_->Material(shirt).Green, 0.0f);

    // Enter checks the numbers first: "300" keeps the window open.
    Type(IDC_RED, "300");
    QTest::keyClick(dlg_.get(), Qt::Key_Return);
    QVERIFY(dlg_->isVisible());
    QCOMPARE(dialogs_->Messages().back(), std::string("Please enter an integer between 0 and 255."));
  }

  void duplicateNamesEditTheLaterMaterial() {
    // The sample actor with a second, unused material also called "Shirt":
    // the engine names new materials uniquely, so the name is patched in the file.
    cvActorDef* def = ReadActorDef(actorPath_);
    QVERIFY(def);
    QVERIFY(cvBody_AddMaterial(cvActorDef_GetBody(def), "Shirx", nullptr, 1, 2, 3, nullptr));
    const QString twin = dir_->filePath("twin.act");
    QVERIFY(skinfiles::SaveActorFile(def, twin.toStdString(), nullptr));
    cvActorDef_Destroy(&def);
    QFile file(twin);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    QVERIFY(bytes.contains("Shirx"));
    bytes.replace("Shirx", "Shirt");
    file.seek(0);
    file.write(bytes);
    file.close();

    Start();
    Open(twin.toStdString());
    QCOMPARE(Materials()->count(), 6);
    QCOMPARE(Materials()->findText("Shirt"), 1);
    QCOMPARE(Materials()->itemText(2), QString("Shirt"));
    for (int item : {1, 2}) {
      Materials()->setCurrentIndex(item);
      QCOMPARE(dlg_->GetSelectedMaterial(), 5);
      QCOMPARE(Control<QLineEdit>(IDC_BLUE)->text(), QString("3"));
    }
  }

  void loadBitmapReplacesTheSkin() {
    Start();
    Open(actorPath_);
    Select("Shirt");
    const int shirt = dlg_->GetSelectedMaterial();
    cvBitmap* old = dlg_->Material(shirt).Bitmap;

    // A file that is no bitmap: a message naming it, nothing changes.
    const QString junk = dir_->filePath("junk.bmp");
    QFile f(junk);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("BMjunk");
    f.close();
    dialogs_->FileNames.push_back(junk.toStdString());
    dlg_->OnLoadBitmap();
    QVERIFY(QString::fromStdString(dialogs_->Messages().back()).contains(junk));
    QCOMPARE(dlg_->Material(shirt).Bitmap, old);
    QVERIFY(!dlg_->HasUnsavedChanges());
    // The dialog starts in the exchange folder and asks for bitmaps.
    QCOMPARE(dialogs_->FileRequests.back().Directory + "/skin.bmp", skinfiles::ExchangeFile());
    QCOMPARE(dialogs_->FileRequests.back().DefaultExtension, std::string("bmp"));

    // 128 x 64, palettised, using index 255: that index becomes the colour key.
    const QString keyed = dir_->filePath("keyed.bmp");
    WriteBmp8(keyed, 128, 64, [](int x, int) { return x < 8 ? 255 : x; });
    dialogs_->FileNames.push_back(keyed.toStdString());
    dlg_->OnLoadBitmap();
    const MaterialEntry& m = dlg_->Material(shirt);
    QVERIFY(m.Bitmap != old);
    QCOMPARE(m.Width, 128);
    QCOMPARE(m.Height, 64);
    QCOMPARE(Control<QLabel>(IDC_WIDTH)->text(), QString("128"));
    QCOMPARE(Control<QLabel>(IDC_HEIGHT)->text(), QString("64"));
    QCOMPARE(Control<QLabel>(IDC_PREVIEW)->pixmap().size(), QSize(128, 64));
    cvBitmap_Info info{};
    cvBitmap_GetInfo(m.Bitmap, &info, nullptr);
    QVERIFY(info.HasColorKey);
    QCOMPARE(info.ColorKey, 255u);
    QVERIFY(dlg_->HasUnsavedChanges());

    // Not using index 255, or not palettised: no colour key.
    const QString plain = dir_->filePath("plain.bmp");
    WriteBmp8(plain, 16, 16, [](int x, int y) { return x + y; });
    const QString rgb = dir_->filePath("rgb.bmp");
    QImage image(16, 8, QImage::Format_RGB888);
    image.fill(QColor(255, 255, 255));
    QVERIFY(image.save(rgb, "BMP"));
    for (const QString& path : {plain, rgb}) {
      dialogs_->FileNames.push_back(path.toStdString());
      dlg_->OnLoadBitmap();
      cvBitmap_GetInfo(dlg_->Material(shirt).Bitmap, &info, nullptr);
      QVERIFY(!info.HasColorKey);
    }
    QCOMPARE(Control<QLabel>(IDC_WIDTH)->text(), QString("16"));
  }

  void reskinRoundTrip() {
    Start();
    Open(actorPath_);
    Select("Shirt");
    // The exchange file holds the shirt, in a folder only this user can enter.
    const std::string exchange = skinfiles::ExchangeFile();
    struct stat st {};
    QCOMPARE(stat(QFileInfo(QString::fromStdString(exchange)).path().toLocal8Bit(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0700);
    QImage shirt(QString::fromStdString(exchange));
    QCOMPARE(shirt.size(), QSize(dlg_->Material(1).Width, dlg_->Material(1).Height));

    // Run Editor hands the exchange file to the editor, which paints a
    // magenta block into it and saves it in its own way (24-bit).
    std::string handed;
    SkinworkDlg::OpenExternal = [&](const std::string& Path) {
      handed = Path;
      QImage painted(QString::fromStdString(Path));
      painted = painted.convertToFormat(QImage::Format_RGB888);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) painted.setPixelColor(x, y, QColor(255, 0, 255));
      return painted.save(QString::fromStdString(Path), "BMP");
    };
    qobject_cast<QPushButton*>(dlg_->Control(IDC_RUNEDITOR))->click();
    QCOMPARE(handed, exchange);
    QVERIFY(dialogs_->Messages().empty());

    dialogs_->FileNames.push_back(exchange);
    dlg_->OnLoadBitmap();
    Type(IDC_RED, "200");
    dlg_->OnApply();
    dlg_->Command(ID_ACTOR_SAVE)->trigger();
    QVERIFY(!dlg_->HasUnsavedChanges());
    QVERIFY(dialogs_->Messages().empty());

    // The saved actor's shirt has the painted pixels and the new colour;
    // the file kept its permissions.
    const SavedMaterial saved = ReadSavedMaterial(actorPath_, "Shirt", 3, 3);
    QCOMPARE(saved.Red, 200.0f);
    QCOMPARE(saved.Pixel, 0xFF00FFu);
    QCOMPARE(QSize(saved.Width, saved.Height), shirt.size());
    QCOMPARE(stat(actorPath_.c_str(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0640);
  }

  void saveAsLeavesSaveOnTheOpenedFile() {
    Start();
    Open(actorPath_);
    Select("Shirt");
    Type(IDC_RED, "10");
    dlg_->OnApply();
    // A typed name's extension comes from the dialog; the request asks for it.
    const std::string other = dir_->filePath("other.act").toStdString();
    dialogs_->FileNames.push_back(other);
    dlg_->Command(ID_ACTOR_SAVEAS)->trigger();
    QCOMPARE(dialogs_->FileRequests.back().Filter,
             std::string("Corvina Actor Files (*.act)|*.act|All Files (*.*)|*.*||"));
    QVERIFY(dialogs_->FileRequests.back().Save);
    QCOMPARE(dlg_->FileName(), actorPath_);
    Type(IDC_RED, "20");
    dlg_->OnApply();
    dlg_->Command(ID_ACTOR_SAVE)->trigger();
    dlg_->Command(ID_ACTOR_SAVE)->trigger();  // twice in a row works too
    QCOMPARE(ReadSavedMaterial(other, "Shirt").Red, 10.0f);
    QCOMPARE(ReadSavedMaterial(actorPath_, "Shirt").Red, 20.0f);

    // Make Body file writes the body alone.
    const std::string body = dir_->filePath("person.bdy").toStdString();
    dialogs_->FileNames.push_back(body);
    dlg_->Command(ID_ACTOR_MAKEBODY)->trigger();
    QCOMPARE(dialogs_->FileRequests.back().DefaultExtension, std::string("bdy"));
    cvVFile* f = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, body.c_str(), nullptr,
                                       CV_VFILE_OPEN_READONLY);
    QVERIFY(f);
    cvBody* read = cvBody_CreateFromFile(f);
    cvVFile_Close(f);
    QVERIFY(read);
    QCOMPARE(cvBody_GetMaterialCount(read), 5);
    cvBody_Destroy(&read);
    QVERIFY(dialogs_->Messages().empty());
  }

  void failedSaveKeepsTheOldFile() {
    Start();
    Open(actorPath_);
    Select("Shirt");
    Type(IDC_RED, "99");
    dlg_->OnApply();
    QFile original(QString::fromStdString(actorPath_));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();

    // Writes beyond 4 KiB fail, for any user: the engine's writer fails midway.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{}, small{};
    getrlimit(RLIMIT_FSIZE, &old);
    small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    dlg_->Command(ID_ACTOR_SAVE)->trigger();
    setrlimit(RLIMIT_FSIZE, &old);

    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), before);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no leftovers
    QVERIFY(dlg_->HasUnsavedChanges());
    const QString message = QString::fromStdString(dialogs_->Messages().back());
    QVERIFY(message.contains(QString::fromStdString(actorPath_)));
    QVERIFY(message.contains("error"));  // the engine's logged reason
  }

  void unsavedChangesAskBeforeTheyAreLost() {
    Start();
    Open(actorPath_);
    Select("Shirt");
    Type(IDC_RED, "77");
    dlg_->OnApply();
    // Cancel keeps everything; Escape and Close both ask.
    dialogs_->SaveAnswers = {SaveAnswer::Cancel, SaveAnswer::Cancel};
    QTest::keyClick(dlg_.get(), Qt::Key_Escape);
    QVERIFY(dlg_->isVisible());
    dlg_->Command(ID_ACTOR_CLOSE)->trigger();
    QVERIFY(dlg_->GetActor());
    // Save writes the opened file, then the window closes.
    dialogs_->SaveAnswers = {SaveAnswer::Save};
    dlg_->Command(ID_FILE_EXIT)->trigger();
    QVERIFY(!dlg_->isVisible());
    QCOMPARE(dlg_->result(), 0);
    QCOMPARE(ReadSavedMaterial(actorPath_, "Shirt").Red, 77.0f);
    QCOMPARE(std::count_if(dialogs_->Log.begin(), dialogs_->Log.end(),
                           [](const auto& s) { return s.Kind == "ask"; }),
             3);
  }

  void exchangeFolderIsPrivate() {
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", dir_->path().toLocal8Bit() + "/");
    const QString folder = dir_->filePath(QString("skinwork-%1").arg(getuid()));
    std::string made, why;
    // Made when missing, and narrowed back to 0700 when someone widened it.
    QVERIFY(skinfiles::ExchangeDirectory(&made, &why));
    QCOMPARE(QString::fromStdString(made), folder);
    chmod(made.c_str(), 0755);
    QCOMPARE(QString::fromStdString(skinfiles::ExchangeFile()), folder + "/skin.bmp");
    struct stat st {};
    QCOMPARE(lstat(made.c_str(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0700);
    // A link planted in its place is refused, and nothing is written through it.
    QVERIFY(QDir(folder).removeRecursively());
    QVERIFY(QDir(dir_->path()).mkdir("elsewhere"));
    QVERIFY(QFile::link(dir_->filePath("elsewhere"), folder));
    QVERIFY(!skinfiles::ExchangeDirectory(&made, &why));
    QVERIFY(QString::fromStdString(why).contains("not a folder"));
    QVERIFY(skinfiles::ExchangeFile().empty());
    qputenv("TMPDIR", saved);
    if (saved.isEmpty()) qunsetenv("TMPDIR");
  }

  void modesButtonsKeysAndDrags() {
    Start();
    Open(actorPath_);
    WaitFrames(2);
    auto* view = static_cast<cvplatform::ViewWidget*>(dlg_->Control(IDC_VIEW));
    const QPoint centre(dlg_->GetEngine()->DisplayWidth / 2, dlg_->GetEngine()->DisplayHeight / 2);
    Actor* actor = dlg_->GetActor();
    Camera* camera = dlg_->GetCamera();
    const float turn = actor->Position.AngleY;
    const cvVec3d at = camera->Position.XForm.T;

    // The left button does nothing; a right-button drag in Rotate mode
    // turns the actor and leaves the camera, pinning the cursor to the centre.
    view->SetCursorPos(centre + QPoint(-35, 0));
    cvplatform::SetKeyDown(cvplatform::CV_VK_LBUTTON, true);
    WaitFrames(2);
    QCOMPARE(actor->Position.AngleY, turn);
    cvplatform::SetKeyDown(cvplatform::CV_VK_LBUTTON, false);
    cvplatform::SetKeyDown(cvplatform::CV_VK_RBUTTON, true);
    QTRY_VERIFY(actor->Position.AngleY != turn);
    QCOMPARE(view->CursorPos(), centre);
    QCOMPARE(camera->Position.XForm.T.Z, at.Z);

    // Zoom by key: the label keeps the old name; the camera moves, the actor does not turn.
    cvplatform::SetKeyDown('Z', true);
    cvplatform::SetKeyDown('R', true);  // Z wins over R
    WaitFrames(2);
    cvplatform::SetKeyDown('Z', false);
    cvplatform::SetKeyDown('R', false);
    QCOMPARE(ViewMode, int32_t(VIEWMODE_ZOOM));
    QCOMPARE(Control<QLabel>(IDC_MODE)->text(), QString("Rotate"));
    const float turned = actor->Position.AngleY;
    view->SetCursorPos(centre + QPoint(0, -35));
    QTRY_VERIFY(camera->Position.XForm.T.Z != at.Z);
    QCOMPARE(actor->Position.AngleY, turned);
    cvplatform::SetKeyDown(cvplatform::CV_VK_RBUTTON, false);

    // The buttons set both the mode and the label.
    qobject_cast<QPushButton*>(dlg_->Control(IDC_ANGLE))->click();
    QCOMPARE(ViewMode, int32_t(VIEWMODE_ANGLE));
    QCOMPARE(Control<QLabel>(IDC_MODE)->text(), QString("Angle"));
    qobject_cast<QPushButton*>(dlg_->Control(IDC_ROTATE))->click();
    QCOMPARE(ViewMode, int32_t(VIEWMODE_ROTATE));
  }
};

QTEST_MAIN(SkinworkDlgTest)
#include "skinworkdlg_test.moc"
