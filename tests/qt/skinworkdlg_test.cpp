// The Skinwork window driven as a user would, on the real engine and
// software driver, with every dialog answered by the scripted dialogs.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <functional>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "actoraction.h"
#include "engine/cvengine.h"
#include "platform/input.h"
#include "platform/qt/qtplatform.h"
#include "skinfiles.h"
#include "skinworkdlg.h"

using cvplatform::SaveAnswer;

namespace {

cvActorDef* ReadActorDef(const std::string& Path) {
  cvVFile* f = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, Path.c_str(), nullptr,
                                     CV_VFILE_OPEN_READONLY);
  cvActorDef* def = f ? cvActorDef_CreateFromFile(f) : nullptr;
  if (f) cvVFile_Close(f);
  return def;
}

// What the actor file at Path holds for material Name: its red and the
// pixel (3, 3) of its bitmap as 0x00RRGGBB.
struct Saved {
  float Red = -1;
  uint32_t Pixel = 0;
};
Saved ReadSaved(const std::string& Path, const char* Name) {
  Saved out;
  cvActorDef* def = ReadActorDef(Path);
  cvBody* body = def ? cvActorDef_GetBody(def) : nullptr;
  for (int32_t i = 0; body && i < cvBody_GetMaterialCount(body); ++i) {
    const char* name;
    cvBitmap* bitmap;
    float g, b;
    cvBody_GetMaterial(body, i, &name, &bitmap, &out.Red, &g, &b);
    if (std::strcmp(name, Name) != 0) continue;
    cvBitmap* lock = nullptr;
    if (bitmap && cvBitmap_LockForRead(bitmap, &lock, 0, 0, CV_PIXELFORMAT_32BIT_XRGB, 0, 0)) {
      cvBitmap_Info info{};
      cvBitmap_GetInfo(lock, &info, nullptr);
      out.Pixel = static_cast<const uint32_t*>(cvBitmap_GetBits(lock))[3 * info.Stride + 3] & 0xFFFFFF;
      cvBitmap_UnLock(lock);
    }
    break;
  }
  if (def) cvActorDef_Destroy(&def);
  return out;
}

void WriteFile(const QString& Path, const QByteArray& Bytes) {
  QFile f(Path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(Bytes);
}

// An 8-bit palettised BMP (grey palette) whose pixels are Index(x, y).
void WriteBmp8(const QString& Path, int Width, int Height, int (*Index)(int, int)) {
  const int row = (Width + 3) & ~3;
  QByteArray bytes(1078 + row * Height, '\0');
  auto put32 = [&](int At, uint32_t V) {
    for (int i = 0; i < 4; ++i) bytes[At + i] = char(V >> (8 * i));
  };
  bytes[0] = 'B', bytes[1] = 'M', bytes[26] = 1, bytes[28] = 8;
  put32(2, bytes.size()), put32(10, 1078), put32(14, 40), put32(18, Width), put32(22, Height);
  for (int i = 0; i < 256; ++i) put32(54 + 4 * i, uint32_t(i) * 0x010101u);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) bytes[1078 + (Height - 1 - y) * row + x] = char(Index(x, y));
  WriteFile(Path, bytes);
}

}  // namespace

class SkinworkDlgTest : public QObject {
  Q_OBJECT

  std::unique_ptr<cvplatform::ScriptedDialogs> dialogs_;
  std::unique_ptr<SkinworkDlg> dlg_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::string actorPath_;  // a copy of the sample actor
  std::unique_ptr<QTemporaryDir> tmp_;  // $TMPDIR of this run: its own exchange folder

  template <class T = QWidget>
  T* Control(int Id) { return qobject_cast<T*>(dlg_->Control(Id)); }
  QComboBox* Materials() { return Control<QComboBox>(IDC_MATERIALS); }
  QString Text(int Id) { return Control<QLabel>(Id) ? Control<QLabel>(Id)->text() : Control<QLineEdit>(Id)->text(); }
  void Select(const char* Name) { Materials()->setCurrentIndex(Materials()->findText(Name)); }
  void Type(int Id, const QString& Value) { Control<QLineEdit>(Id)->setText(Value); }
  void Click(int Id) { Control<QPushButton>(Id)->click(); }
  void Run(int Command) { dlg_->Command(Command)->trigger(); }
  bool Enabled(int Command) {
    for (int m = 0; m < 3; ++m) emit dlg_->Menu(m)->aboutToShow();
    return dlg_->Command(Command)->isEnabled();
  }
  void Open(const std::string& Path) {
    dialogs_->FileNames.push_back(Path);
    Run(ID_ACTOR_OPEN);
  }
  void Start(bool OpenActor = true) {
    dlg_->show();
    QTRY_VERIFY(dlg_->EngineStarted());
    if (OpenActor) Open(actorPath_);
  }
  cvplatform::ViewWidget* View() { return static_cast<cvplatform::ViewWidget*>(dlg_->Control(IDC_VIEW)); }
  // Waits for N runs of the frame cycle (drawn or left out).
  void WaitFrames(int N) {
    const int until = dlg_->FrameTicks() + N;
    QTRY_VERIFY(dlg_->FrameTicks() >= until);
  }
  // Runs the event loop until exactly one more frame cycle has run (the
  // timer restarts after each, so one wake-up runs at most one).
  void OneTick() {
    const int until = dlg_->FrameTicks() + 1;
    while (dlg_->FrameTicks() < until) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCOMPARE(dlg_->FrameTicks(), until);
  }
  // Table index of the selected material after Apply with these edits.
  int ApplyColour(const char* Material, const QString& Red) {
    Select(Material);
    Type(IDC_RED, Red);
    Click(IDC_APPLY);
    return dlg_->GetSelectedMaterial();
  }

 private slots:
  void initTestCase() {
    tmp_ = std::make_unique<QTemporaryDir>();
    qputenv("TMPDIR", tmp_->path().toLocal8Bit());
  }
  void init() {
    dialogs_ = std::make_unique<cvplatform::ScriptedDialogs>();
    cvplatform::SetDialogs(dialogs_.get());
    cvplatform::ReleaseAllKeys();
    dir_ = std::make_unique<QTemporaryDir>();
    actorPath_ = dir_->filePath("person.act").toStdString();
    QVERIFY(QFile::copy(qEnvironmentVariable("CV_BIN_DIR") + "/sample.act",
                        QString::fromStdString(actorPath_)));
    chmod(actorPath_.c_str(), 0640);
    dlg_ = std::make_unique<SkinworkDlg>();
    SkinworkDlg::OpenExternal = [](const std::string&) { return true; };
  }
  void cleanup() {
    dlg_.reset();
    cvplatform::SetDialogs(nullptr);
    cvplatform::ReleaseAllKeys();
  }

  void startsTheEngineOnTheFirstTickWithOnlyOpenEnabled() {
    QVERIFY(!dlg_->GetEngine());
    for (int id : {IDC_RED, IDC_SAVEBITMAP, IDC_COLOR, IDC_MATERIALS, IDC_ROTATE, IDC_ANGLE})
      QVERIFY(!dlg_->Control(id)->isEnabled());
    QCOMPARE(Text(IDC_GREEN), QString("0"));
    QCOMPARE(Text(IDC_WIDTH), QString());
    Start(false);
    QVERIFY(dlg_->GetEngine() && dlg_->GetCamera() && dlg_->IsTimerRunning(1));
    WaitFrames(2);
    QVERIFY(Enabled(ID_ACTOR_OPEN) && Enabled(ID_FILE_EXIT) && Enabled(ID_HELP_ABOUT));
    for (int id : {ID_ACTOR_SAVE, ID_ACTOR_SAVEAS, ID_ACTOR_CLOSE, ID_ACTOR_MAKEBODY, ID_ACTOR_GTEST})
      QVERIFY(!Enabled(id));
  }

  void openShowsTheActorAndItsMaterials() {
    dlg_->OpenOnStart(actorPath_);  // as from the command line
    Start(false);
    QVERIFY(dlg_->GetActor() && dlg_->IsTimerRunning(0));
    QCOMPARE(dlg_->FileName(), actorPath_);
    QVERIFY(!Enabled(ID_ACTOR_OPEN));
    for (int id : {ID_ACTOR_SAVE, ID_ACTOR_SAVEAS, ID_ACTOR_CLOSE, ID_ACTOR_MAKEBODY, ID_ACTOR_GTEST})
      QVERIFY(Enabled(id));
    QStringList names;
    for (int i = 0; i < Materials()->count(); ++i) names << Materials()->itemText(i);
    QCOMPARE(names, QStringList({"Face", "Shirt", "Shoes", "Skin", "Trousers"}));
    QCOMPARE(Materials()->currentText(), QString("Face"));  // table entry 0
    QCOMPARE(Text(IDC_WIDTH), QString::number(dlg_->Material(0).Width));
    QVERIFY(!Control<QLabel>(IDC_PREVIEW)->pixmap().isNull());

    // Without a bitmap only the colour controls stay enabled.
    Select("Skin");
    QVERIFY(Control(IDC_RED)->isEnabled() && Control(IDC_APPLY)->isEnabled());
    QVERIFY(!Control(IDC_SAVEBITMAP)->isEnabled() && !Control(IDC_RUNEDITOR)->isEnabled());
    QVERIFY(Control(IDC_PREVIEW)->isHidden());
    QCOMPARE(Text(IDC_HEIGHT), QString());

    // The camera 80 back and 50 up from the actor's start (the identity);
    // the actor turned by 3.14 to face it.
    XForm3d expected;
    expected.MoveBackward(80);
    expected.MoveUp(50);
    WaitFrames(2);
    const cvVec3d& at = dlg_->GetCamera()->Position.XForm.T;
    QCOMPARE(QVector3D(at.X, at.Y, at.Z), QVector3D(expected.XForm.T.X, expected.XForm.T.Y, expected.XForm.T.Z));
    QCOMPARE(dlg_->GetActor()->Position.AngleY, 3.14f);

    // Close keeps the list and the file name, disabled.
    Run(ID_ACTOR_CLOSE);
    QVERIFY(!dlg_->GetActor() && !Materials()->isEnabled());
    QCOMPARE(Materials()->count(), 5);
    QCOMPARE(dlg_->FileName(), actorPath_);
  }

  void gtestOpenKeepsTheCameraAndTheStandingTurn() {
    Start();
    Run(ID_ACTOR_GTEST);
    const float standing = dlg_->GetActor()->Position.AngleX;
    QVERIFY(standing != 0.0f);
    Run(ID_ACTOR_GTEST);  // off does not undo the turn
    QCOMPARE(dlg_->GetActor()->Position.AngleX, standing);
    Run(ID_ACTOR_GTEST);
    Run(ID_ACTOR_CLOSE);
    dlg_->GetCamera()->MoveForward(7);
    WaitFrames(2);
    const cvVec3d before = dlg_->GetCamera()->Position.XForm.T;
    Open(actorPath_);
    WaitFrames(2);
    QCOMPARE(dlg_->GetCamera()->Position.XForm.T.Z, before.Z);
    QCOMPARE(dlg_->GetActor()->Position.AngleY, 3.14159f);  // no 3.14 on top
  }

  void refusesFilesThatAreNoActor() {
    Start(false);
    const QString junk = dir_->filePath("junk.act");
    WriteFile(junk, "this is no actor file at all");
    Open(junk.toStdString());
    Open(dir_->filePath("missing.act").toStdString());
    QVERIFY(!dlg_->GetActor() && dlg_->FileName().empty() && !Materials()->isEnabled());
    const auto messages = dialogs_->Messages();
    QCOMPARE(messages.size(), size_t(2));
    QVERIFY(QString::fromStdString(messages[0]).contains(junk));
    QVERIFY(QString::fromStdString(messages[1]).contains("missing.act"));
    QCOMPARE(dialogs_->FileRequests[0].Filter,
             std::string("Corvina actor Files (*.act)|*.act|All Files (*.*)|*.*||"));
  }

  void colourEditsSwatchAndApply() {
    Start();
    Select("Shirt");
    const int shirt = dlg_->GetSelectedMaterial();
    Type(IDC_RED, "300");
    Type(IDC_BLUE, "256");
    QCOMPARE(dlg_->Material(shirt).Red, 255.0f);  // typing applies nothing
    const QImage swatch = dlg_->Control(IDC_SWATCH)->grab().toImage();
    QCOMPARE(QColor(swatch.pixel(swatch.rect().center())), QColor(44, 255, 0));
    Click(IDC_APPLY);
    QCOMPARE(dlg_->Material(shirt).Red, 300.0f);
    float r, g, b;
    cvBitmap* bitmap;
    cvActor_GetMaterial(dlg_->GetActor()->EngineActor, shirt, &bitmap, &r, &g, &b);
    QCOMPARE(r, 300.0f);
    QVERIFY(dlg_->HasUnsavedChanges());

    // The colour dialog starts from the low bytes and applies its choice at once.
    dialogs_->Colors.push_back(0x00302010);
    Click(IDC_COLOR);
    QCOMPARE(dialogs_->Log.back().Text, std::to_string(44 | 255 << 8 | 0 << 16));
    QCOMPARE(Text(IDC_RED), QString("16"));
    const char* name;
    cvBody_GetMaterial(cvActorDef_GetBody(dlg_->GetActor()->Definition), shirt, &name, &bitmap,
                       &r, &g, &b);
    QCOMPARE(QVector3D(r, g, b), QVector3D(16, 32, 48));

    // No number and a negative number both apply as 0.
    Type(IDC_GREEN, "-1");
    ApplyColour("Shirt", "abc");
    QCOMPARE(dlg_->Material(shirt).Red, 0.0f);
    QCOMPARE(dlg_->Material(shirt).Green, 0.0f);

    // Enter checks the numbers first: "300" keeps the window open.
    Type(IDC_GREEN, "0");
    Type(IDC_RED, "300");
    QTest::keyClick(dlg_.get(), Qt::Key_Return);
    QVERIFY(dlg_->isVisible());
    QCOMPARE(dialogs_->Messages().back(), std::string("Please enter an integer between 0 and 255."));
  }

  void duplicateNamesEditTheLaterMaterial() {
    // The sample with a second, unused "Shirt": the engine names new
    // materials uniquely, so the name is patched in the file.
    cvActorDef* def = ReadActorDef(actorPath_);
    QVERIFY(cvBody_AddMaterial(cvActorDef_GetBody(def), "Shirx", nullptr, 1, 2, 3, nullptr));
    const QString twin = dir_->filePath("twin.act");
    QVERIFY(skinfiles::SaveActorFile(def, twin.toStdString(), nullptr));
    cvActorDef_Destroy(&def);
    QFile file(twin);
    QVERIFY(file.open(QIODevice::ReadOnly));
    WriteFile(twin, file.readAll().replace("Shirx", "Shirt"));

    Start(false);
    Open(twin.toStdString());
    QCOMPARE(Materials()->count(), 6);
    for (int item : {1, 2}) {
      QCOMPARE(Materials()->itemText(item), QString("Shirt"));
      Materials()->setCurrentIndex(item);
      QCOMPARE(dlg_->GetSelectedMaterial(), 5);
      QCOMPARE(Text(IDC_BLUE), QString("3"));
    }
  }

  void loadBitmapReplacesTheSkin() {
    Start();
    Select("Shirt");
    const int shirt = dlg_->GetSelectedMaterial();
    cvBitmap* old = dlg_->Material(shirt).Bitmap;
    // No bitmap in the file: a message naming it, nothing changes.
    const QString junk = dir_->filePath("junk.bmp");
    WriteFile(junk, "BMjunk");
    dialogs_->FileNames.push_back(junk.toStdString());
    Click(IDC_LOADBITMAP);
    QVERIFY(QString::fromStdString(dialogs_->Messages().back()).contains(junk));
    QVERIFY(dlg_->Material(shirt).Bitmap == old && !dlg_->HasUnsavedChanges());
    QCOMPARE(dialogs_->FileRequests.back().Directory + "/skin.bmp", skinfiles::ExchangeFile());

    // 128 x 64, palettised, using index 255: that index becomes the colour key.
    const QString keyed = dir_->filePath("keyed.bmp");
    WriteBmp8(keyed, 128, 64, [](int x, int) { return x < 8 ? 255 : x; });
    dialogs_->FileNames.push_back(keyed.toStdString());
    Click(IDC_LOADBITMAP);
    const MaterialEntry& m = dlg_->Material(shirt);
    QVERIFY(m.Bitmap != old && dlg_->HasUnsavedChanges());
    QCOMPARE(QSize(m.Width, m.Height), QSize(128, 64));
    QCOMPARE(Text(IDC_WIDTH) + "x" + Text(IDC_HEIGHT), QString("128x64"));
    QCOMPARE(Control<QLabel>(IDC_PREVIEW)->pixmap().size(), QSize(128, 64));
    cvBitmap_Info info{};
    cvBitmap_GetInfo(m.Bitmap, &info, nullptr);
    QVERIFY(info.HasColorKey && info.ColorKey == 255u);

    // Not using index 255, or not palettised: no colour key.
    const QString plain = dir_->filePath("plain.bmp"), rgb = dir_->filePath("rgb.bmp");
    WriteBmp8(plain, 16, 16, [](int x, int y) { return x + y; });
    QImage image(16, 8, QImage::Format_RGB888);
    image.fill(Qt::white);
    QVERIFY(image.save(rgb, "BMP"));
    for (const QString& path : {plain, rgb}) {
      dialogs_->FileNames.push_back(path.toStdString());
      Click(IDC_LOADBITMAP);
      cvBitmap_GetInfo(dlg_->Material(shirt).Bitmap, &info, nullptr);
      QVERIFY(!info.HasColorKey);
    }
  }

  void reskinRoundTrip() {
    Start();
    Select("Shirt");
    const std::string exchange = skinfiles::ExchangeFile();
    struct stat st {};
    QCOMPARE(stat(QFileInfo(QString::fromStdString(exchange)).path().toLocal8Bit(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0700);
    const QSize size = QImage(QString::fromStdString(exchange)).size();
    QCOMPARE(size, QSize(dlg_->Material(1).Width, dlg_->Material(1).Height));

    // The "editor" paints a magenta block and saves in its own way (24-bit).
    std::string handed;
    SkinworkDlg::OpenExternal = [&](const std::string& Path) {
      handed = Path;
      QImage painted = QImage(QString::fromStdString(Path)).convertToFormat(QImage::Format_RGB888);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) painted.setPixelColor(x, y, QColor(255, 0, 255));
      return painted.save(QString::fromStdString(Path), "BMP");
    };
    Click(IDC_RUNEDITOR);
    QCOMPARE(handed, exchange);
    dialogs_->FileNames.push_back(exchange);
    Click(IDC_LOADBITMAP);
    ApplyColour("Shirt", "200");
    Run(ID_ACTOR_SAVE);
    QVERIFY(!dlg_->HasUnsavedChanges() && dialogs_->Messages().empty());

    // The saved actor holds the painted pixels and the colour, and the file
    // kept its permissions.
    const Saved saved = ReadSaved(actorPath_, "Shirt");
    QCOMPARE(saved.Red, 200.0f);
    QCOMPARE(saved.Pixel, 0xFF00FFu);
    QCOMPARE(stat(actorPath_.c_str(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0640);
  }

  void saveAsLeavesSaveOnTheOpenedFile() {
    Start();
    ApplyColour("Shirt", "10");
    const std::string other = dir_->filePath("other.act").toStdString();
    dialogs_->FileNames.push_back(other);
    Run(ID_ACTOR_SAVEAS);
    QCOMPARE(dlg_->FileName(), actorPath_);
    ApplyColour("Shirt", "20");
    Run(ID_ACTOR_SAVE);
    Run(ID_ACTOR_SAVE);  // twice in a row works too
    QCOMPARE(ReadSaved(other, "Shirt").Red, 10.0f);
    QCOMPARE(ReadSaved(actorPath_, "Shirt").Red, 20.0f);

    const std::string body = dir_->filePath("person.bdy").toStdString();
    dialogs_->FileNames.push_back(body);
    Run(ID_ACTOR_MAKEBODY);
    QCOMPARE(dialogs_->FileRequests.back().DefaultExtension, std::string("bdy"));
    cvVFile* f = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, body.c_str(), nullptr,
                                       CV_VFILE_OPEN_READONLY);
    cvBody* read = f ? cvBody_CreateFromFile(f) : nullptr;
    if (f) cvVFile_Close(f);
    QVERIFY(read);
    QCOMPARE(cvBody_GetMaterialCount(read), 5);
    cvBody_Destroy(&read);
    QVERIFY(dialogs_->Messages().empty());
  }

  void failedSaveKeepsTheOldFile() {
    Start();
    ApplyColour("Shirt", "99");
    QFile original(QString::fromStdString(actorPath_));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();
    // Writes beyond 4 KiB fail, for any user: the engine's writer fails midway.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    Run(ID_ACTOR_SAVE);
    setrlimit(RLIMIT_FSIZE, &old);

    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), before);
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no leftovers
    QVERIFY(dlg_->HasUnsavedChanges());
    const QString message = QString::fromStdString(dialogs_->Messages().back());
    QVERIFY(message.contains(QString::fromStdString(actorPath_)) && message.contains("error"));
  }

  void unsavedChangesAskBeforeTheyAreLost() {
    Start();
    ApplyColour("Shirt", "77");
    dialogs_->SaveAnswers = {SaveAnswer::Cancel, SaveAnswer::Cancel, SaveAnswer::Save};
    QTest::keyClick(dlg_.get(), Qt::Key_Escape);
    QVERIFY(dlg_->isVisible());
    Run(ID_ACTOR_CLOSE);
    QVERIFY(dlg_->GetActor());
    Run(ID_FILE_EXIT);  // saves the opened file, then closes
    QVERIFY(!dlg_->isVisible());
    QCOMPARE(dlg_->result(), 0);
    QCOMPARE(ReadSaved(actorPath_, "Shirt").Red, 77.0f);
    QVERIFY(dialogs_->SaveAnswers.empty());
  }

  void exchangeFolderIsPrivate() {
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", dir_->path().toLocal8Bit() + "/");
    const QString folder = dir_->filePath(QString("skinwork-%1").arg(getuid()));
    std::string made, why;
    QVERIFY(skinfiles::ExchangeDirectory(&made, &why));
    QCOMPARE(QString::fromStdString(made), folder);
    chmod(made.c_str(), 0755);  // widened by someone: narrowed again
    QCOMPARE(QString::fromStdString(skinfiles::ExchangeFile()), folder + "/skin.bmp");
    struct stat st {};
    QVERIFY(lstat(made.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
    // A link planted in its place is refused.
    QVERIFY(QDir(folder).removeRecursively() && QDir(dir_->path()).mkdir("elsewhere"));
    QVERIFY(QFile::link(dir_->filePath("elsewhere"), folder));
    QVERIFY(!skinfiles::ExchangeDirectory(&made, &why));
    QVERIFY(QString::fromStdString(why).contains("not a folder"));
    saved.isEmpty() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", saved);
  }

  // Import model...: after the unsaved-changes question, the model becomes
  // the open actor, unsaved; Save asks for an actor file; bad models are
  // refused by name and reason with the open actor kept.
  void importsModelsAsUnsavedActors() {
    Start();
    ApplyColour("Skin", "9");  // an unsaved change
    const QString model = dir_->filePath("box.obj");
    WriteFile(dir_->filePath("box.mtl"), "newmtl Painted\nKd 1 0 0\nnewmtl Plain\nKd 0 0 1\n");
    WriteFile(model,
              "mtllib box.mtl\nv 0 0 0\nv 1 0 0\nv 1 2 0\nv 0 2 0\nv 0 0 1\nv 1 0 1\n"
              "usemtl Painted\nf 1 2 3 4\nusemtl Plain\nf 1 5 6 2\n");
    auto import = [&](const QString& Path) {
      dialogs_->FileNames.push_back(Path.toStdString());
      Run(ID_ACTOR_IMPORT);
    };
    QVERIFY(Enabled(ID_ACTOR_IMPORT));
    dialogs_->SaveAnswers = {SaveAnswer::Cancel, SaveAnswer::Discard};
    Actor* opened = dlg_->GetActor();
    import(model);
    QCOMPARE(dlg_->GetActor(), opened);  // Cancel keeps everything
    const std::string filter = dialogs_->FileRequests.back().Filter;
    for (const char* ext : {"*.obj", "*.OBJ", "*.gltf", "*.fbx", "*.dae", "*.md5mesh"})
      QVERIFY2(filter.find(ext) != std::string::npos, ext);
    import(model);
    QVERIFY(dlg_->GetActor() && dlg_->GetActor() != opened);
    QVERIFY(dialogs_->SaveAnswers.empty());
    QStringList names;
    for (int i = 0; i < Materials()->count(); ++i) names << Materials()->itemText(i);
    QCOMPARE(names, QStringList({"Painted", "Plain"}));
    QVERIFY(dlg_->FileName().empty() && dlg_->HasUnsavedChanges());

    // A refused model names the file and the reason; the import stays.
    Actor* imported = dlg_->GetActor();
    dialogs_->SaveAnswers = {SaveAnswer::Discard};
    const QString bad = dir_->filePath("nan.obj");
    WriteFile(bad, "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    import(bad);
    QCOMPARE(dlg_->GetActor(), imported);
    const QString message = QString::fromStdString(dialogs_->Messages().back());
    QVERIFY2(message.contains(bad) && message.contains("finite"), qPrintable(message));

    // Save goes through Save as; the file chosen becomes the actor's own.
    const std::string saved = dir_->filePath("box.act").toStdString();
    dialogs_->FileNames.push_back(saved);
    Run(ID_ACTOR_SAVE);
    QVERIFY(dialogs_->FileRequests.back().Save);
    QCOMPARE(dlg_->FileName(), saved);
    QVERIFY(!dlg_->HasUnsavedChanges());
    cvActorDef* def = ReadActorDef(saved);
    QVERIFY(def);
    QCOMPARE(cvBody_GetMaterialCount(cvActorDef_GetBody(def)), 2);
    cvActorDef_Destroy(&def);
  }

  // With nothing changing the cycle draws no frame, and the one it would
  // have drawn is the one shown; every kind of change draws on the next tick.
  void drawsOnlyFramesThatDiffer() {
    Start();
    Actor* actor = dlg_->GetActor();
    Engine* engine = dlg_->GetEngine();
    auto idle = [&] {
      WaitFrames(2);
      const int drawn = dlg_->FramesDrawn();
      WaitFrames(4);
      QCOMPARE(dlg_->FramesDrawn(), drawn);
    };
    idle();
    const QImage shown = View()->Frame();
    dlg_->RequestFrame();
    OneTick();
    QCOMPARE(View()->Frame(), shown);

    cvBitmap* other = nullptr;
    float r, g, b;
    cvActor_GetMaterial(actor->EngineActor, 1, &other, &r, &g, &b);
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"camera", [&] { dlg_->GetCamera()->ProposedPosition.MoveForward(5); }},
        {"actor", [&] { actor->ProposedPosition.RotateY(0.2f); }},
        {"motion", [&] { QVERIFY(actor->UseMotion("walk")); }},
        {"motion time", [&] { actor->MotionTime += 0.25f; }},
        {"colour", [&] { Select("Skin"); Type(IDC_GREEN, "200"); Click(IDC_APPLY); }},
        {"bitmap", [&] { cvActor_SetMaterial(actor->EngineActor, 0, other, r, g, b); }},
        {"world", [&] { cvWorld_SetChanged(engine->CurrentWorld->EngineWorld, 1); }},
        {"text", [&] { engine->AddDisplayString("Hello"); }},
        {"size", [&] { dlg_->resize(dlg_->width() + 40, dlg_->height()); }},
        {"shown again", [&] { dlg_->hide(); dlg_->show(); }},
    };
    // A playing motion draws every tick: keep it paused so that each change
    // stands alone.
    Control<QPushButton>(IDC_PAUSE)->setChecked(true);
    for (const auto& [what, change] : changes) {
      change();
      QCoreApplication::sendPostedEvents();  // the window system's part of the change
      const int drawn = dlg_->FramesDrawn();
      OneTick();
      if (dlg_->FramesDrawn() != drawn + 1) QFAIL(what);
      idle();
    }
    // A queued message is drawn again by every frame, never piled up by the
    // frames left out.
    QCOMPARE(engine->EngineObject->NumStrings, 0);

    // Held keys and buttons draw every tick; released, the view is idle again.
    cvplatform::SetKeyDown('Q', true);
    WaitFrames(2);
    const int drawn = dlg_->FramesDrawn(), tick = dlg_->FrameTicks();
    WaitFrames(3);
    QCOMPARE(dlg_->FramesDrawn() - drawn, dlg_->FrameTicks() - tick);
    cvplatform::SetKeyDown('Q', false);
    idle();
  }

  void modesButtonsKeysAndDrags() {
    Start();
    WaitFrames(2);
    const QPoint centre(dlg_->GetEngine()->DisplayWidth / 2, dlg_->GetEngine()->DisplayHeight / 2);
    Actor* actor = dlg_->GetActor();
    Camera* camera = dlg_->GetCamera();
    const float turn = actor->Position.AngleY;
    const float z = camera->Position.XForm.T.Z;

    // The left button does nothing; the right one in Rotate mode turns the
    // actor, not the camera, and pins the cursor to the view's centre.
    View()->SetCursorPos(centre + QPoint(-35, 0));
    cvplatform::SetKeyDown(cvplatform::CV_VK_LBUTTON, true);
    WaitFrames(2);
    QCOMPARE(actor->Position.AngleY, turn);
    cvplatform::SetKeyDown(cvplatform::CV_VK_RBUTTON, true);
    QTRY_VERIFY(actor->Position.AngleY != turn);
    QCOMPARE(View()->CursorPos(), centre);
    QCOMPARE(camera->Position.XForm.T.Z, z);

    // Z (winning over R) zooms without changing the label; the actor stays.
    cvplatform::SetKeyDown('Z', true);
    cvplatform::SetKeyDown('R', true);
    WaitFrames(2);
    cvplatform::SetKeyDown('Z', false);
    cvplatform::SetKeyDown('R', false);
    QCOMPARE(ViewMode, int32_t(VIEWMODE_ZOOM));
    QCOMPARE(Text(IDC_MODE), QString("Rotate"));
    const float turned = actor->Position.AngleY;
    View()->SetCursorPos(centre + QPoint(0, -35));
    QTRY_VERIFY(camera->Position.XForm.T.Z != z);
    QCOMPARE(actor->Position.AngleY, turned);

    Click(IDC_ANGLE);
    QCOMPARE(ViewMode, int32_t(VIEWMODE_ANGLE));
    QCOMPARE(Text(IDC_MODE), QString("Angle"));
  }
};

QTEST_MAIN(SkinworkDlgTest)
#include "skinworkdlg_test.moc"
