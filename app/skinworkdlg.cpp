#include "skinworkdlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QSettings>
#include <QShortcut>
#include <QTimerEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include <assimp/cimport.h>
#include <assimp/types.h>

#include "actoraction.h"
#include "import/modelimport.h"
#include "engine/cvengine.h"
#include "imagefile/imagefile.h"
#include "materialhistory.h"
#include "platform/dialogs.h"
#include "platform/input.h"
#include "platform/qt/qtplatform.h"
#include "recentfiles.h"
#include "skinfiles.h"
#include "skinfilewatcher.h"
#include "skintemplate.h"

namespace {

constexpr int kFramePeriodMs = 10;
constexpr int kPreviewSize = 256;
const char* const kCaption = "Skinwork";

const char* const kActorOpenFilter = "Corvina actor Files (*.act)|*.act|All Files (*.*)|*.*||";
const char* const kActorSaveFilter = "Corvina Actor Files (*.act)|*.act|All Files (*.*)|*.*||";
const char* const kBodyFilter =
    "Corvina Actor Body Files (*.bdy)|*.bdy|All Files (*.*)|*.*||";
// BMP stays the first choice; PNG and TGA images are read and written too.
const char* const kBitmapFilter =
    "Bitmap Files (*.bmp)|*.bmp|PNG and TGA Images (*.png;*.tga)|*.png;*.tga|"
    "All Files (*.*)|*.*||";
const char* const kTemplateFilter =
    "PNG Images (*.png)|*.png|TGA Images (*.tga)|*.tga|Bitmap Files (*.bmp)|*.bmp||";
const char* const kGeometryKey = "WindowGeometry";

// The colour swatch: the three colour edits' values, each cut to its low 8
// bits, outlined in black.
class Swatch : public QWidget {
 public:
  Swatch(QLineEdit* Red, QLineEdit* Green, QLineEdit* Blue, QWidget* Parent)
      : QWidget(Parent), red_(Red), green_(Green), blue_(Blue) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(Qt::black);
    p.setBrush(QColor(ReadSignedInt(red_->text()) & 0xFF, ReadSignedInt(green_->text()) & 0xFF,
                      ReadSignedInt(blue_->text()) & 0xFF));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }

 private:
  QLineEdit *red_, *green_, *blue_;
};

// The window icon: a figure in a painted shirt.
QIcon MakeIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 48), 1.5));
  p.setBrush(QColor(228, 190, 160));
  p.drawEllipse(QRectF(11, 2, 10, 10));
  p.setBrush(QColor(200, 60, 50));
  p.drawRoundedRect(QRectF(6, 13, 20, 17), 5, 5);
  p.setBrush(QColor(250, 210, 60));
  p.drawEllipse(QRectF(12, 18, 8, 8));
  return QIcon(pixmap);
}

// A float colour as the edits show it: truncated toward zero, kept within
// the integer range (NaN shows as 0).
int32_t ColourToInt(float Value) {
  if (!(Value == Value)) return 0;
  if (Value >= 2147483647.0f) return INT32_MAX;
  if (Value <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(Value);
}

QString Q(const std::string& S) { return QString::fromStdString(S); }

}  // namespace

int32_t ReadSignedInt(const QString& Text) {
  bool ok = false;
  const int value = Text.trimmed().toInt(&ok, 10);
  return ok ? value : 0;
}

QString SkinworkDlg::SettingsFile;

std::function<bool(const std::string&)> SkinworkDlg::OpenExternal = [](const std::string& Path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(Path)));
};

// --- Construction ----------------------------------------------------------------

SkinworkDlg::SkinworkDlg(QWidget* Parent) : QDialog(Parent) {
  ViewMode = VIEWMODE_ROTATE;
  setObjectName("SkinworkDlg");
  setWindowTitle(kCaption);
  setWindowIcon(MakeIcon());
  setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
  settings_ = SettingsFile.isEmpty() ? std::make_unique<QSettings>("Skinwork", "Skinwork")
                                     : std::make_unique<QSettings>(SettingsFile, QSettings::IniFormat);
  recent_ = std::make_unique<RecentFiles>(settings_.get());
  history_ = std::make_unique<MaterialHistory>();
  watcher_ = new SkinFileWatcher(this);
  BuildControls();
  BuildMenu();
  // The size and place the window had when it was last closed.
  if (!restoreGeometry(settings_->value(kGeometryKey).toByteArray())) resize(910, 540);

  // The exchange values written into the controls at start.
  red_->setText("0");
  green_->setText("0");
  blue_->setText("0");
  width_->clear();
  height_->clear();
  materialsBox_->clearEditText();
  engine_ = nullptr;
  actor_ = nullptr;
  EnableControls(false);
  SetTimer(1);
}

SkinworkDlg::~SkinworkDlg() { ReleaseEngine(); }

void SkinworkDlg::BuildControls() {
  auto add = [this](int Id, QWidget* W, const char* Name) {
    W->setObjectName(Name);
    controls_[Id] = W;
    return W;
  };
  auto button = [&](int Id, const char* Text, const char* Name) {
    auto* b = new QPushButton(tr(Text), this);
    // Enter belongs to the window (it closes it), never to a focused button.
    b->setAutoDefault(false);
    add(Id, b, Name);
    return b;
  };

  view_ = new cvplatform::ViewWidget(this);
  add(IDC_VIEW, view_, "view");
  // The right button drags the view; it opens no menu there.
  view_->setContextMenuPolicy(Qt::PreventContextMenu);
  view_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  view_->OnResized = [this] { OnViewResized(); };

  auto* modes = new QHBoxLayout;
  const struct {
    int Id;
    const char* Text;
    const char* Name;
  } modeButtons[] = {{IDC_ROTATE, "&Rotate", "rotate"},
                     {IDC_MOVE, "&Move", "move"},
                     {IDC_ZOOM, "&Zoom", "zoom"},
                     {IDC_ANGLE, "&Angle", "angle"}};
  for (const auto& m : modeButtons) {
    QPushButton* b = button(m.Id, m.Text, m.Name);
    connect(b, &QPushButton::clicked, this, [this, id = m.Id] { OnMode(id); });
    modes->addWidget(b);
  }
  modes->addSpacing(16);
  modes->addWidget(new QLabel(tr("Mode:"), this));
  mode_ = new QLabel(tr("Rotate"), this);
  mode_->setMinimumWidth(60);
  add(IDC_MODE, mode_, "mode");
  modes->addWidget(mode_);
  modes->addStretch(1);

  auto* left = new QVBoxLayout;
  left->addWidget(view_, 1);
  left->addLayout(modes);

  // The material editor.
  materialsBox_ = new QComboBox(this);
  materialsBox_->setEditable(true);
  materialsBox_->setInsertPolicy(QComboBox::NoInsert);
  materialsBox_->installEventFilter(this);
  add(IDC_MATERIALS, materialsBox_, "materials");
  connect(materialsBox_, &QComboBox::currentIndexChanged, this, [this] { ShowMaterial(); });

  preview_ = new QLabel(this);
  preview_->setAlignment(Qt::AlignCenter);
  preview_->setFixedSize(kPreviewSize, kPreviewSize);
  QSizePolicy keep = preview_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  preview_->setSizePolicy(keep);
  add(IDC_PREVIEW, preview_, "preview");

  width_ = new QLabel("255", this);
  height_ = new QLabel("255", this);
  add(IDC_WIDTH, width_, "width");
  add(IDC_HEIGHT, height_, "height");
  auto* sizes = new QHBoxLayout;
  sizes->addWidget(new QLabel(tr("Width:"), this));
  sizes->addWidget(width_, 1);
  sizes->addWidget(new QLabel(tr("Height:"), this));
  sizes->addWidget(height_, 1);

  auto edit = [&](int Id, const char* Name) {
    auto* e = new QLineEdit(this);
    e->setMaximumWidth(70);
    add(Id, e, Name);
    // Editing a number repaints the swatch; nothing is applied until Apply.
    connect(e, &QLineEdit::textChanged, this, [this] { UpdateSwatch(); });
    return e;
  };
  red_ = edit(IDC_RED, "red");
  green_ = edit(IDC_GREEN, "green");
  blue_ = edit(IDC_BLUE, "blue");
  auto* colours = new QHBoxLayout;
  colours->addWidget(new QLabel(tr("R:"), this));
  colours->addWidget(red_);
  colours->addWidget(new QLabel(tr("G:"), this));
  colours->addWidget(green_);
  colours->addWidget(new QLabel(tr("B:"), this));
  colours->addWidget(blue_);

  swatch_ = new Swatch(red_, green_, blue_, this);
  swatch_->setMinimumSize(60, 24);
  add(IDC_SWATCH, swatch_, "swatch");
  QPushButton* color = button(IDC_COLOR, "Color", "color");
  connect(color, &QPushButton::clicked, this, &SkinworkDlg::OnColor);
  QPushButton* apply = button(IDC_APPLY, "&Apply", "apply");
  connect(apply, &QPushButton::clicked, this, &SkinworkDlg::OnApply);
  auto* colourRow = new QHBoxLayout;
  colourRow->addWidget(swatch_, 1);
  colourRow->addWidget(color);
  colourRow->addWidget(apply);

  QPushButton* saveBitmap = button(IDC_SAVEBITMAP, "&Save Bitmap", "saveBitmap");
  connect(saveBitmap, &QPushButton::clicked, this, &SkinworkDlg::OnSaveBitmap);
  QPushButton* loadBitmap = button(IDC_LOADBITMAP, "&Load Bitmap", "loadBitmap");
  connect(loadBitmap, &QPushButton::clicked, this, &SkinworkDlg::OnLoadBitmap);
  QPushButton* runEditor = button(IDC_RUNEDITOR, "Run &Editor", "runEditor");
  connect(runEditor, &QPushButton::clicked, this, &SkinworkDlg::OnRunEditor);
  auto* bitmapRow = new QHBoxLayout;
  bitmapRow->addWidget(saveBitmap);
  bitmapRow->addWidget(loadBitmap);
  bitmapRow->addWidget(runEditor);

  auto* right = new QVBoxLayout;
  right->addWidget(materialsBox_);
  right->addWidget(preview_, 0, Qt::AlignHCenter);
  right->addLayout(sizes);
  right->addLayout(bitmapRow);
  BuildPainterControls(left, right);
  right->addSpacing(8);
  right->addLayout(colours);
  right->addLayout(colourRow);
  right->addStretch(1);

  auto* rightPanel = new QWidget(this);
  rightPanel->setLayout(right);
  rightPanel->setFixedWidth(300);

  auto* root = new QHBoxLayout(this);
  root->addLayout(left, 1);
  root->addWidget(rightPanel);
}

void SkinworkDlg::BuildMenu() {
  menuBar_ = new QMenuBar(this);
  layout()->setMenuBar(menuBar_);
  auto command = [this](QMenu* Menu, int Id, const char* Text, void (SkinworkDlg::*Handler)()) {
    QAction* a = Menu->addAction(tr(Text));
    a->setData(Id);
    a->setObjectName(QString("command%1").arg(Id));
    connect(a, &QAction::triggered, this, Handler);
    commands_[Id] = a;
  };
  menus_[0] = menuBar_->addMenu(tr("&File"));
  command(menus_[0], ID_FILE_EXIT, "E&xit", &SkinworkDlg::OnExit);
  menus_[1] = menuBar_->addMenu(tr("&Actor"));
  command(menus_[1], ID_ACTOR_OPEN, "&Open", &SkinworkDlg::OnOpen);
  command(menus_[1], ID_ACTOR_IMPORT, "Import model...", &SkinworkDlg::OnImport);
  recentMenu_ = menus_[1]->addMenu(tr("Open &Recent"));
  recentMenu_->setObjectName("recentMenu");
  recentMenu_->menuAction()->setData(ID_ACTOR_RECENT);
  menus_[1]->addSeparator();
  command(menus_[1], ID_ACTOR_SAVE, "Save", &SkinworkDlg::OnSave);
  command(menus_[1], ID_ACTOR_SAVEAS, "Save as...", &SkinworkDlg::OnSaveAs);
  menus_[1]->addSeparator();
  command(menus_[1], ID_ACTOR_CLOSE, "Close", &SkinworkDlg::OnClose);
  menus_[1]->addSeparator();
  command(menus_[1], ID_ACTOR_MAKEBODY, "Make Body file...", &SkinworkDlg::OnMakeBody);
  command(menus_[1], ID_ACTOR_GTEST, "Toggle Gtest flag", &SkinworkDlg::OnToggleGtest);
  menus_[2] = menuBar_->addMenu(tr("&Help"));
  command(menus_[2], ID_HELP_ABOUT, "&About", &SkinworkDlg::OnAbout);
  for (QMenu* m : menus_) {
    m->setObjectName(m->title().remove('&').toLower() + "Menu");
    connect(m, &QMenu::aboutToShow, this, [this, m] { UpdateMenu(m); });
  }
  // The window's own menu item: About on the context menu of the window.
  auto* about = new QAction(tr("&About Skinwork..."), this);
  about->setData(IDM_ABOUTBOX);
  about->setObjectName("command16");
  connect(about, &QAction::triggered, this, &SkinworkDlg::OnAbout);
  commands_[IDM_ABOUTBOX] = about;
}

QWidget* SkinworkDlg::Control(int Id) const {
  auto it = controls_.find(Id);
  return it == controls_.end() ? nullptr : it->second;
}

QAction* SkinworkDlg::Command(int Id) const {
  auto it = commands_.find(Id);
  return it == commands_.end() ? nullptr : it->second;
}

QMenu* SkinworkDlg::Menu(int Index) const {
  return Index >= 0 && Index < 3 ? menus_[Index] : nullptr;
}

// --- Menu enabling -----------------------------------------------------------------

bool SkinworkDlg::IsCommandEnabled(int Id) const {
  switch (Id) {
    case ID_ACTOR_OPEN: return actor_ == nullptr;
    case ID_ACTOR_IMPORT: return engine_ != nullptr;
    // A recent file is opened as Open opens one.
    case ID_ACTOR_RECENT:
    case ID_ACTOR_RECENT + 1:
    case ID_ACTOR_RECENT + 2:
    case ID_ACTOR_RECENT + 3:
    case ID_ACTOR_RECENT + 4: return actor_ == nullptr && !recent_->Files().isEmpty();
    case ID_ACTOR_CLOSE:
    case ID_ACTOR_MAKEBODY:
    case ID_ACTOR_SAVE:
    case ID_ACTOR_SAVEAS:
    case ID_ACTOR_GTEST: return actor_ != nullptr;
    default: return true;  // no rule: stays enabled
  }
}

void SkinworkDlg::UpdateMenu(QMenu* Menu) {
  if (Menu == menus_[1]) FillRecentMenu();
  for (QAction* a : Menu->actions()) {
    if (a->isSeparator()) continue;
    // An item opening a submenu follows the rule of the submenu's first item.
    int id = a->data().toInt();
    if (QMenu* sub = a->menu(); sub && !sub->actions().isEmpty())
      id = sub->actions().first()->data().toInt();
    a->setEnabled(IsCommandEnabled(id));
  }
}

// --- Frame timers and the engine ---------------------------------------------------

void SkinworkDlg::SetTimer(int Id) {
  KillTimer(Id);
  timers_[Id] = startTimer(kFramePeriodMs);
}

void SkinworkDlg::KillTimer(int Id) {
  auto it = timers_.find(Id);
  if (it == timers_.end()) return;
  killTimer(it->second);
  timers_.erase(it);
}

void SkinworkDlg::timerEvent(QTimerEvent* Event) {
  bool ours = false;
  for (const auto& t : timers_) ours = ours || t.second == Event->timerId();
  if (!ours) {
    QDialog::timerEvent(Event);
    return;
  }
  // A message box opened inside a frame or the engine start keeps the
  // timers running; their ticks wait until that call is over.
  if (inTick_) return;
  if (engineStarted_) {
    inTick_ = true;
    RunFrame();
    SetTimer(1);
    inTick_ = false;
    return;
  }
  // The engine starts once the window is on screen: the driver draws into
  // the view from its first frame on (the start-up logo among them).
  if (windowHandle() && !windowHandle()->isExposed()) return;
  KillTimer(1);
  inTick_ = true;
  const bool started = InitEngine();
  inTick_ = false;
  if (!started) {
    done(-1);
    return;
  }
  engineStarted_ = true;
  SetTimer(1);
  if (!startFile_.empty()) OpenFile(std::exchange(startFile_, std::string()));
}

bool SkinworkDlg::InitEngine() {
  viewWindow_ = view_->Record();
  engine_ = new Engine(viewWindow_);
  if (!engine_->SetDriverMode(nullptr, "Window")) return false;
  world_ = new World(nullptr);
  engine_->AddWorld(world_);
  const QSize client = view_->ClientSize();
  camera_ = new Camera(0, client.width(), 0, client.height(), 2.0f);
  engine_->SetCamera(camera_);
  auto* fly = new FlyAction;
  if (!camera_->RegisterAction("fly", fly)) delete fly;
  camera_->UseAction("fly");
  return true;
}

void SkinworkDlg::RunFrame() {
  ++frameTicks_;
  // The frame time the actors get is 0, so the chosen motion is moved on
  // here by the time that has passed (in seconds), unless it is paused.
  const float elapsed = motionClock_.isValid() ? motionClock_.restart() * 0.001f : 0.0f;
  if (!motionClock_.isValid()) motionClock_.start();
  if (actor_ && actor_->Motion && !pause_->isChecked()) actor_->MotionTime += elapsed;
  engine_->ExecuteWorld(0.0f);
  // A frame identical to the last one drawn is left out, so that an idle
  // window costs next to nothing. Held keys or buttons always draw: they are
  // what the view's actions read.
  FrameState now = FrameState::Capture(*engine_);
  if (!frameWanted_ && !now.AlwaysDraw() && cvplatform::FirstKeyDown() < 0 && now == lastFrame_) {
    DiscardFrameStrings(*engine_);
    return;
  }
  bool drawn = engine_->BeginFrame(true);
  if (drawn) {
    drawn = engine_->RenderWorld(0.1f);
    drawn = engine_->EndFrame() && drawn;
  }
  ++framesDrawn_;
  // A failed frame is tried again on the next tick.
  frameWanted_ = !drawn;
  lastFrame_ = std::move(now);
}

void SkinworkDlg::OnViewResized() {
  frameWanted_ = true;
  if (!engine_ || !engine_->EngineObject || !engineStarted_) return;
  // The frame, the camera's view rectangle and the centre the mouse speed is
  // measured from all follow the view's new size.
  const QSize client = view_->ClientSize();
  engine_->DisplayWidth = client.width();
  engine_->DisplayHeight = client.height();
  cvEngine_UpdateWindow(engine_->EngineObject);
  if (camera_ && camera_->EngineCamera) {
    camera_->InitialRight = camera_->Right = client.width();
    camera_->InitialBottom = camera_->Bottom = client.height();
    camera_->WidthStep = (camera_->Right - camera_->Left) / 100;
    camera_->HeightStep = (camera_->Bottom - camera_->Top) / 100;
    const cvRect rect = {camera_->Left, camera_->Right, camera_->Top, camera_->Bottom};
    cvCamera_SetAttributes(camera_->EngineCamera, &rect, camera_->FieldOfView);
    camera_->UsePosition();
  }
}

void SkinworkDlg::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  frameWanted_ = true;
  // Uncovered or shown again after being minimised: the window system may
  // have lost what the view showed.
  if (QWindow* w = windowHandle()) w->installEventFilter(this);
}

void SkinworkDlg::moveEvent(QMoveEvent* Event) {
  QDialog::moveEvent(Event);
  if (engine_ && engine_->EngineObject) cvEngine_UpdateWindow(engine_->EngineObject);
}

void SkinworkDlg::ReleaseEngine() {
  KillTimer(0);
  KillTimer(1);
  // The engine removes and deletes the actor it holds; the camera, its fly
  // action and the world are the window's. The history lets go of its
  // bitmaps while the engine and its driver are still there.
  history_->Clear();
  actor_ = nullptr;
  delete engine_;
  engine_ = nullptr;
  if (camera_) {
    camera_->UnRegisterAllActions();
    delete camera_;
    camera_ = nullptr;
  }
  delete world_;
  world_ = nullptr;
}

// --- Closing ------------------------------------------------------------------------

void SkinworkDlg::done(int Result) {
  // Every way of closing the window (Exit, Enter, Escape, the close box)
  // comes here; a failed engine start (-1) has nothing to keep.
  if (Result != -1 && !MayDropChanges()) return;
  KillTimer(0);
  KillTimer(1);
  settings_->setValue(kGeometryKey, saveGeometry());
  settings_->sync();
  QDialog::done(Result);
}

bool SkinworkDlg::MayDropChanges() {
  if (!unsaved_ || !actor_) return true;
  if (fileName_.empty()) {
    // An imported actor that was never saved.
    const std::string name = QFileInfo(Q(importedFrom_)).fileName().toStdString();
    switch (cvplatform::CurrentDialogs().AskSaveChanges("The actor imported from \"" + name +
                                                        "\" has not been saved.\nSave it?")) {
      case cvplatform::SaveAnswer::Save: return SaveAsChosenFile();
      case cvplatform::SaveAnswer::Discard: return true;
      default: return false;
    }
  }
  const std::string name = QFileInfo(Q(fileName_)).fileName().toStdString();
  switch (cvplatform::CurrentDialogs().AskSaveChanges("The materials of \"" + name +
                                                      "\" have changed.\nSave the changes?")) {
    case cvplatform::SaveAnswer::Save: return SaveTo(fileName_);
    case cvplatform::SaveAnswer::Discard: return true;
    default: return false;
  }
}

bool SkinworkDlg::ValidateColourEdits() {
  for (QLineEdit* e : {red_, green_, blue_}) {
    bool ok = false;
    const int value = e->text().trimmed().toInt(&ok, 10);
    const char* problem = !ok ? "Please enter an integer."
                          : (value < 0 || value > 255) ? "Please enter an integer between 0 and 255."
                                                       : nullptr;
    if (problem) {
      cvplatform::CurrentDialogs().MessageBox(problem, kCaption);
      e->setFocus();
      e->selectAll();
      return false;
    }
  }
  return true;
}

void SkinworkDlg::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
    if (ValidateColourEdits()) accept();
    return;
  }
  QDialog::keyPressEvent(Event);  // Escape cancels
}

bool SkinworkDlg::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == windowHandle() && Event->type() == QEvent::Expose) frameWanted_ = true;
  // Enter in the material name field closes the window like Enter anywhere
  // else; the combo box would otherwise keep it.
  if (Watched == materialsBox_ && Event->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(Event);
    if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) &&
        !materialsBox_->view()->isVisible()) {
      keyPressEvent(k);
      return true;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

void SkinworkDlg::contextMenuEvent(QContextMenuEvent* Event) {
  // The right button that opened this menu belongs to the menu: the view
  // actions must not take it for a drag while the menu is open.
  cvplatform::SetKeyDown(cvplatform::CV_VK_RBUTTON, false);
  QMenu menu(this);
  menu.addAction(Command(IDM_ABOUTBOX));
  menu.exec(Event->globalPos());
}

void SkinworkDlg::OnExit() { done(0); }

void SkinworkDlg::OnAbout() {
  AboutDlg about(this);
  about.exec();
}

// --- Actor file commands -------------------------------------------------------------

void SkinworkDlg::ReportFailure(const std::string& What, const std::string& Path,
                                const std::string& Why) {
  cvplatform::CurrentDialogs().MessageBox("Cannot " + What + " \"" + Path + "\":\n" + Why,
                                          kCaption);
}

void SkinworkDlg::OnOpen() {
  if (!engine_) return;
  cvplatform::FileDialogRequest request;
  request.Filter = kActorOpenFilter;
  request.DefaultExtension = "act";
  const std::string path = cvplatform::CurrentDialogs().GetFileName(request);
  if (!path.empty()) OpenFile(path);
}

bool SkinworkDlg::OpenFile(const std::string& Path) {
  if (!engine_ || !MayDropChanges()) return false;
  // The new actor is read completely before anything of the old one changes.
  cvErrorLog_Clear();
  std::unique_ptr<Actor> opened;
  {
    VFile file(engine_, Path.c_str(), false);
    if (!file.File) {
      if (!QFileInfo::exists(Q(Path))) recent_->Remove(Q(Path));
      ReportFailure("open", Path, "the file cannot be read");
      return false;
    }
    opened = std::make_unique<Actor>(&file);
  }
  if (!opened->IsValid()) {
    const std::string logged = skinfiles::EngineErrors();
    ReportFailure("open", Path,
                  "it holds no valid actor" + (logged.empty() ? "" : " (" + logged + ")"));
    return false;
  }
  if (!ShowActor(std::move(opened), Path)) return false;
  fileName_ = Path;
  importedFrom_.clear();
  unsaved_ = false;
  recent_->Add(Q(Path));
  return true;
}

void SkinworkDlg::OnImport() {
  if (!engine_) return;
  // Every format the model library reads, in either case of the extension.
  aiString list;
  aiGetExtensionList(&list);
  std::string patterns;
  for (QString ext : QString::fromUtf8(list.C_Str()).split(';', Qt::SkipEmptyParts)) {
    ext = ext.trimmed();
    for (const QString& e : {ext.toLower(), ext.toUpper()})
      patterns += (patterns.empty() ? "" : " ") + e.toStdString();
  }
  cvplatform::FileDialogRequest request;
  request.Filter = "3D Models (" + patterns + ")|" + patterns + "|All Files (*.*)|*.*||";
  const std::string path = cvplatform::CurrentDialogs().GetFileName(request);
  if (!path.empty()) ImportFile(path);
}

bool SkinworkDlg::ImportFile(const std::string& Path) {
  if (!engine_ || !MayDropChanges()) return false;
  cvErrorLog_Clear();
  cvActorDef* def = nullptr;
  std::string why;
  ImportReport report;
  if (!ImportModel(Path.c_str(), ImportOptions{}, &def, &why, &report)) {
    ReportFailure("import", Path, why.empty() ? "the model cannot be read" : why);
    return false;
  }
  auto imported = std::make_unique<Actor>(def);
  if (!imported->IsValid()) {
    const std::string logged = skinfiles::EngineErrors();
    ReportFailure("import", Path,
                  "the model gives no usable actor" + (logged.empty() ? "" : " (" + logged + ")"));
    return false;
  }
  if (!ShowActor(std::move(imported), Path)) return false;
  // Not saved anywhere yet: Save asks for a file name, closing asks first.
  fileName_.clear();
  importedFrom_ = Path;
  unsaved_ = true;
  if (!report.Warnings.empty()) {
    std::string text = "Imported \"" + Path + "\" with warnings:";
    for (const std::string& w : report.Warnings) text += "\n" + w;
    cvplatform::CurrentDialogs().MessageBox(text, kCaption);
  }
  return true;
}

bool SkinworkDlg::ShowActor(std::unique_ptr<Actor> Opened, const std::string& Path) {
  auto* action = new ActorAction;
  if (!Opened->RegisterAction("actoract", action)) delete action;
  Opened->UseAction("actoract");
  Opened->SetGtestObject(gtest_);
  if (!engine_->AddActor(Opened.get())) {
    ReportFailure("show", Path, "the world cannot take another actor");
    return false;
  }
  if (actor_) engine_->RemoveActor(actor_);
  actor_ = Opened.release();
  actor_->SetLightingOptions(128, 128, 128);
  if (!gtest_) {
    // The view looks at the actor's front from 80 back and 50 up, whatever
    // the user did with the camera before; the actor turns to face it.
    XForm3d place = actor_->Position;
    place.MoveBackward(80);
    place.MoveUp(50);
    camera_->ProposedPosition = place;
    actor_->ProposedPosition.RotateY(3.14f);
  }
  history_->Clear();
  EnableControls(true);
  ReadMaterials();
  FillMaterialList();
  ShowMaterial();
  FillMotionList();
  frameWanted_ = true;
  SetTimer(0);
  return true;
}

void SkinworkDlg::OnClose() {
  if (!actor_ || !MayDropChanges()) return;
  history_->Clear();
  engine_->RemoveActor(actor_);
  actor_ = nullptr;
  unsaved_ = false;
  importedFrom_.clear();
  frameWanted_ = true;
  EnableControls(false);
  Control(IDC_SAVETEMPLATE)->setEnabled(false);
  FillMotionList();
}

bool SkinworkDlg::SaveTo(const std::string& Path) {
  if (!actor_) return false;
  std::string why;
  if (!skinfiles::SaveActorFile(actor_->Definition, Path, &why)) {
    ReportFailure("save", Path, why + "\nThe file was not changed.");
    return false;
  }
  unsaved_ = false;
  return true;
}

void SkinworkDlg::OnSaveAs() { SaveAsChosenFile(); }

void SkinworkDlg::OnSave() {
  if (!actor_) return;
  if (fileName_.empty())
    SaveAsChosenFile();  // imported: no actor file yet
  else
    SaveTo(fileName_);
}

bool SkinworkDlg::SaveAsChosenFile() {
  if (!actor_) return false;
  cvplatform::FileDialogRequest request;
  request.Save = true;
  request.Filter = kActorSaveFilter;
  request.DefaultExtension = "act";
  const std::string path = cvplatform::CurrentDialogs().GetFileName(request);
  // The file name stays the opened one: a later Save writes there. An
  // imported actor has none: the file it is first saved to becomes its own.
  if (path.empty() || !SaveTo(path)) return false;
  if (fileName_.empty()) {
    fileName_ = path;
    importedFrom_.clear();
  }
  return true;
}

void SkinworkDlg::OnMakeBody() {
  if (!actor_) return;
  cvplatform::FileDialogRequest request;
  request.Save = true;
  request.Filter = kBodyFilter;
  request.DefaultExtension = "bdy";
  const std::string path = cvplatform::CurrentDialogs().GetFileName(request);
  if (path.empty()) return;
  std::string why;
  if (!skinfiles::SaveBodyFile(cvActorDef_GetBody(actor_->Definition), path, &why))
    ReportFailure("save", path, why + "\nThe file was not changed.");
}

void SkinworkDlg::OnToggleGtest() {
  if (!actor_) return;
  gtest_ = !gtest_;
  actor_->SetGtestObject(gtest_);
  frameWanted_ = true;
}

// --- Controls ------------------------------------------------------------------------

void SkinworkDlg::EnableControls(bool Enable) {
  for (int id : {IDC_RED, IDC_GREEN, IDC_BLUE, IDC_SAVEBITMAP, IDC_LOADBITMAP, IDC_RUNEDITOR,
                 IDC_APPLY, IDC_COLOR, IDC_MATERIALS, IDC_ROTATE, IDC_MOVE, IDC_ZOOM, IDC_ANGLE})
    Control(id)->setEnabled(Enable);
}

void SkinworkDlg::OnMode(int Id) {
  static const struct {
    int Id;
    int32_t Mode;
    const char* Name;
  } modes[] = {{IDC_ROTATE, VIEWMODE_ROTATE, "Rotate"},
               {IDC_MOVE, VIEWMODE_MOVE, "Move"},
               {IDC_ZOOM, VIEWMODE_ZOOM, "Zoom"},
               {IDC_ANGLE, VIEWMODE_ANGLE, "Angle"}};
  for (const auto& m : modes)
    if (m.Id == Id) {
      ViewMode = m.Mode;
      mode_->setText(tr(m.Name));
    }
}

void SkinworkDlg::UpdateSwatch() { swatch_->update(); }

// --- Materials ------------------------------------------------------------------------

void SkinworkDlg::ReadMaterials() {
  materialCount_ = 0;
  if (!actor_) return;
  const int32_t count = cvActor_GetMaterialCount(actor_->EngineActor);
  // The table holds 256; an actor with more shows its first 256.
  materialCount_ = std::clamp(count, 0, MaxMaterials);
  cvBody* body = cvActorDef_GetBody(actor_->Definition);
  for (int32_t i = 0; i < materialCount_; ++i) {
    MaterialEntry& m = materials_[i];
    const char* name = nullptr;
    cvBitmap* unused = nullptr;
    float r = 0, g = 0, b = 0;
    cvBody_GetMaterial(body, i, &name, &unused, &r, &g, &b);
    cvBitmap* bitmap = nullptr;
    r = g = b = 0;
    cvActor_GetMaterial(actor_->EngineActor, i, &bitmap, &r, &g, &b);
    m.Red = r;
    m.Green = g;
    m.Blue = b;
    m.Bitmap = bitmap;
    std::strncpy(m.Name, name ? name : "", sizeof m.Name - 1);
    m.Name[sizeof m.Name - 1] = '\0';
    cvBitmap_Info info{};
    if (bitmap && cvBitmap_GetInfo(bitmap, &info, nullptr)) {
      m.Width = info.Width;
      m.Height = info.Height;
      m.Format = info.Format;
    }
  }
}

void SkinworkDlg::FillMaterialList() {
  const QSignalBlocker quiet(materialsBox_);
  materialsBox_->clear();
  if (materialCount_ > 0) {
    // The list is kept in alphabetical order, ignoring case.
    for (int32_t i = 0; i < materialCount_; ++i) {
      const QString name = QString::fromUtf8(materials_[i].Name);
      int at = 0;
      while (at < materialsBox_->count() &&
             QString::compare(materialsBox_->itemText(at), name, Qt::CaseInsensitive) <= 0)
        ++at;
      materialsBox_->insertItem(at, name);
    }
    materialsBox_->setCurrentIndex(
        materialsBox_->findText(QString::fromUtf8(materials_[0].Name), Qt::MatchStartsWith));
  } else {
    materialsBox_->clearEditText();
    for (int id : {IDC_MATERIALS, IDC_RED, IDC_GREEN, IDC_BLUE, IDC_SAVEBITMAP, IDC_LOADBITMAP,
                   IDC_RUNEDITOR, IDC_APPLY})
      Control(id)->setEnabled(false);
  }
}

int32_t SkinworkDlg::GetSelectedMaterial() {
  const int item = materialsBox_->currentIndex();
  if (item < 0) return -1;
  const QString text = materialsBox_->itemText(item);
  int32_t found = -1;
  // With duplicate names the last one in table order wins.
  for (int32_t i = 0; i < materialCount_; ++i)
    if (QString::fromUtf8(materials_[i].Name) == text) found = i;
  return found;
}

void SkinworkDlg::ShowMaterial() {
  const int32_t i = GetSelectedMaterial();
  if (i < 0) {
    for (int id : {IDC_RED, IDC_GREEN, IDC_BLUE, IDC_SAVEBITMAP, IDC_LOADBITMAP, IDC_RUNEDITOR,
                   IDC_APPLY, IDC_COLOR, IDC_SAVETEMPLATE})
      Control(id)->setEnabled(false);
    return;
  }
  const MaterialEntry& m = materials_[i];
  if (m.Bitmap) {
    width_->setText(QString::number(m.Width));
    height_->setText(QString::number(m.Height));
    // The exchange file is what the preview shows and what an editor edits.
    const std::string exchange = skinfiles::ExchangeFile();
    QImage image;
    if (quietLoad_) {
      // A live reload leaves the file the editor saved as it is; the preview
      // shows the bitmap read from it.
      cvBitmap* lock = nullptr;
      if (cvBitmap_LockForRead(m.Bitmap, &lock, 0, 0, CV_PIXELFORMAT_32BIT_XRGB, 0, 0)) {
        cvBitmap_Info info{};
        cvBitmap_GetInfo(lock, &info, nullptr);
        image = QImage(static_cast<const uchar*>(cvBitmap_GetBits(lock)), info.Width, info.Height,
                       info.Stride * 4, QImage::Format_RGB32)
                    .copy();
        cvBitmap_UnLock(lock);
      }
    } else if (!exchange.empty() &&
               skinfiles::SaveSkinBitmap(m.Bitmap, exchange, nullptr, trueColour_->isChecked())) {
      image.load(Q(exchange), "BMP");
      // The program's own write is no edit to reload.
      if (watcher_->Path() != Q(exchange)) watcher_->Watch(Q(exchange));
      watcher_->MarkSeen();
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    // Shown at its own size; one larger than the preview is scaled down to fit.
    if (pixmap.width() > kPreviewSize || pixmap.height() > kPreviewSize)
      pixmap = pixmap.scaled(kPreviewSize, kPreviewSize, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    preview_->setPixmap(pixmap);
    preview_->show();
    for (int id : {IDC_SAVEBITMAP, IDC_LOADBITMAP, IDC_RUNEDITOR}) Control(id)->setEnabled(true);
  } else {
    preview_->hide();
    preview_->clear();
    width_->clear();
    height_->clear();
    for (int id : {IDC_SAVEBITMAP, IDC_LOADBITMAP, IDC_RUNEDITOR}) Control(id)->setEnabled(false);
  }
  red_->setText(QString::number(ColourToInt(m.Red)));
  green_->setText(QString::number(ColourToInt(m.Green)));
  blue_->setText(QString::number(ColourToInt(m.Blue)));
  for (int id : {IDC_RED, IDC_GREEN, IDC_BLUE, IDC_APPLY, IDC_COLOR, IDC_SAVETEMPLATE})
    Control(id)->setEnabled(true);
  UpdateSwatch();
}

void SkinworkDlg::ApplyMaterial() {
  const int32_t i = GetSelectedMaterial();
  if (i < 0 || !actor_) return;
  // A negative number counts as 0; larger ones than 255 are kept.
  auto value = [](QLineEdit* Edit) {
    const int32_t v = ReadSignedInt(Edit->text());
    return v < 0 ? 0.0f : static_cast<float>(v);
  };
  MaterialEntry& m = materials_[i];
  // A loaded bitmap reaches here already in the table; its edit began before.
  const MaterialState before =
      editStart_ ? *editStart_ : MaterialState{m.Bitmap, m.Red, m.Green, m.Blue};
  editStart_.reset();
  m.Red = value(red_);
  m.Green = value(green_);
  m.Blue = value(blue_);
  // Recorded first: the history's reference keeps alive the bitmap that the
  // instance and the body are about to give up.
  history_->Record(i, before, {m.Bitmap, m.Red, m.Green, m.Blue});
  cvActor_SetMaterial(actor_->EngineActor, i, m.Bitmap, m.Red, m.Green, m.Blue);
  cvBody_SetMaterial(cvActorDef_GetBody(actor_->Definition), i, m.Bitmap, m.Red, m.Green, m.Blue);
  unsaved_ = true;
  frameWanted_ = true;
}

void SkinworkDlg::OnApply() { ApplyMaterial(); }

void SkinworkDlg::OnColor() {
  const uint32_t initial = static_cast<uint32_t>(ReadSignedInt(red_->text()) & 0xFF) |
                           static_cast<uint32_t>(ReadSignedInt(green_->text()) & 0xFF) << 8 |
                           static_cast<uint32_t>(ReadSignedInt(blue_->text()) & 0xFF) << 16;
  uint32_t chosen = 0;
  if (!cvplatform::CurrentDialogs().ChooseColor(initial, &chosen)) return;
  red_->setText(QString::number(chosen & 0xFF));
  green_->setText(QString::number((chosen >> 8) & 0xFF));
  blue_->setText(QString::number((chosen >> 16) & 0xFF));
  UpdateSwatch();
  ApplyMaterial();
}

void SkinworkDlg::OnSaveBitmap() {
  cvplatform::FileDialogRequest request;
  request.Save = true;
  request.Filter = kBitmapFilter;
  request.DefaultExtension = "bmp";
  const std::string path = cvplatform::CurrentDialogs().GetFileName(request);
  if (path.empty()) return;
  const int32_t i = GetSelectedMaterial();
  if (i < 0 || !materials_[i].Bitmap) return;
  std::string why;
  // PNG and TGA by the name's extension, else BMP.
  if (!skinfiles::SaveSkinImage(materials_[i].Bitmap, path, &why, trueColour_->isChecked()))
    ReportFailure("save", path, why + "\nThe file was not changed.");
}

void SkinworkDlg::OnLoadBitmap() {
  if (!engine_ || !engine_->EngineObject) return;
  cvplatform::FileDialogRequest request;
  request.Filter = kBitmapFilter;
  request.DefaultExtension = "bmp";
  skinfiles::ExchangeDirectory(&request.Directory, nullptr);
  const std::string path = cvplatform::CurrentDialogs().GetFileName(request);
  if (!path.empty()) LoadBitmapFile(path, false);
}

bool SkinworkDlg::LoadBitmapFile(const std::string& Path, bool Quiet) {
  if (!engine_ || !engine_->EngineObject || !actor_) return false;
  // A live reload goes to a material whose skin the exchange file holds.
  if (Quiet && !Control(IDC_LOADBITMAP)->isEnabled()) return false;
  const std::string& path = Path;
  std::string why;
  cvBitmap* bitmap = skinfiles::ReadSkinBitmap(path, &why);
  if (!bitmap) {
    if (!Quiet) ReportFailure("load", path, why);
    return false;
  }
  cvBitmap_Info info{};
  cvBitmap_GetInfo(bitmap, &info, nullptr);
  // The engine's bitmap list takes its own reference and keeps the bitmap
  // until the engine ends; the material and the instance take theirs.
  const bool added = cvEngine_AddBitmap(engine_->EngineObject, bitmap) != 0;
  cvBitmap* ours = bitmap;
  cvBitmap_Destroy(&ours);
  if (!added) {
    if (!Quiet)
      ReportFailure("load", path, "the engine cannot take another bitmap (" +
                                      skinfiles::EngineErrors() + ")");
    return false;
  }
  const int32_t i = GetSelectedMaterial();
  if (i < 0) return false;
  MaterialEntry& m = materials_[i];
  editStart_ = MaterialState{m.Bitmap, m.Red, m.Green, m.Blue};
  m.Bitmap = bitmap;
  m.Width = info.Width;
  m.Height = info.Height;
  m.Format = info.Format;
  ApplyMaterial();
  quietLoad_ = Quiet;
  ShowMaterial();
  quietLoad_ = false;
  return true;
}

void SkinworkDlg::OnRunEditor() {
  std::string directory, why;
  if (!skinfiles::ExchangeDirectory(&directory, &why)) {
    cvplatform::CurrentDialogs().MessageBox("The exchange file cannot be written:\n" + why,
                                            kCaption);
    return;
  }
  const std::string exchange = directory + "/skin.bmp";
  if (!QFileInfo::exists(Q(exchange))) {
    cvplatform::CurrentDialogs().MessageBox(
        "The exchange file \"" + exchange + "\" has not been written.", kCaption);
    return;
  }
  if (!OpenExternal(exchange))
    cvplatform::CurrentDialogs().MessageBox(
        "No program could be started to edit \"" + exchange + "\".", kCaption);
}

// --- What painters use beyond the round trip -------------------------------------

void SkinworkDlg::BuildPainterControls(QVBoxLayout* Left, QVBoxLayout* Right) {
  // Under the mode buttons: the actor's motions and a pause button.
  motions_ = new QComboBox(this);
  motions_->setObjectName("motions");
  motions_->setMinimumWidth(160);
  controls_[IDC_MOTIONS] = motions_;
  connect(motions_, &QComboBox::currentIndexChanged, this, [this] { OnMotionChosen(); });
  pause_ = new QPushButton(tr("&Pause"), this);
  pause_->setObjectName("pause");
  pause_->setCheckable(true);
  pause_->setAutoDefault(false);
  controls_[IDC_PAUSE] = pause_;
  connect(pause_, &QPushButton::toggled, this, [this] { OnPause(); });
  auto* motionRow = new QHBoxLayout;
  motionRow->addWidget(new QLabel(tr("Motion:"), this));
  motionRow->addWidget(motions_);
  motionRow->addWidget(pause_);
  motionRow->addStretch(1);
  Left->addLayout(motionRow);
  FillMotionList();

  // Next to Run Editor: live reload of the exchange file and true-colour
  // exchange files; then the UV template.
  liveReload_ = new QCheckBox(tr("Live reload"), this);
  liveReload_->setObjectName("liveReload");
  liveReload_->setChecked(true);
  controls_[IDC_LIVERELOAD] = liveReload_;
  connect(liveReload_, &QCheckBox::toggled, this, [this](bool On) { watcher_->SetEnabled(On); });
  trueColour_ = new QCheckBox(tr("True colour"), this);
  trueColour_->setObjectName("trueColour");
  controls_[IDC_TRUECOLOUR] = trueColour_;
  // The exchange file is written again in the chosen depth.
  connect(trueColour_, &QCheckBox::toggled, this, [this] {
    if (actor_) ShowMaterial();
  });
  auto* optionRow = new QHBoxLayout;
  optionRow->addWidget(liveReload_);
  optionRow->addWidget(trueColour_);
  optionRow->addStretch(1);
  Right->addLayout(optionRow);
  auto* saveTemplate = new QPushButton(tr("Save &Template..."), this);
  saveTemplate->setObjectName("saveTemplate");
  saveTemplate->setAutoDefault(false);
  saveTemplate->setEnabled(false);
  controls_[IDC_SAVETEMPLATE] = saveTemplate;
  connect(saveTemplate, &QPushButton::clicked, this, &SkinworkDlg::OnSaveTemplate);
  auto* templateRow = new QHBoxLayout;
  templateRow->addWidget(saveTemplate);
  templateRow->addStretch(1);
  Right->addLayout(templateRow);

  connect(watcher_, &SkinFileWatcher::Changed, this, [this](const QString& Path) {
    if (liveReload_->isChecked()) LoadBitmapFile(Path.toStdString(), true);
  });
  // Live reload takes whatever image the editor saved under the name.
  watcher_->IsComplete = [](const QByteArray& Bytes) {
    cvBitmap* b = cvImageFile_ReadData(reinterpret_cast<const uint8_t*>(Bytes.constData()),
                                       static_cast<size_t>(Bytes.size()), nullptr);
    if (!b) return false;
    cvBitmap_Destroy(&b);
    return true;
  };

  auto* undo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
  connect(undo, &QShortcut::activated, this, &SkinworkDlg::OnUndo);
  auto* redo = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
  connect(redo, &QShortcut::activated, this, &SkinworkDlg::OnRedo);
  setAcceptDrops(true);
}

void SkinworkDlg::FillRecentMenu() {
  recentMenu_->clear();
  const QStringList files = recent_->Files();
  for (int n = 0; n < files.size(); ++n) {
    QAction* a = recentMenu_->addAction(QString("&%1 %2").arg(n + 1).arg(files[n]));
    a->setData(ID_ACTOR_RECENT + n);
    a->setObjectName(QString("command%1").arg(ID_ACTOR_RECENT + n));
    commands_[ID_ACTOR_RECENT + n] = a;
    connect(a, &QAction::triggered, this, [this, file = files[n]] {
      if (!actor_) OpenFile(file.toStdString());
    });
  }
  for (int n = static_cast<int>(files.size()); n < RecentFiles::MaxFiles; ++n)
    commands_.erase(ID_ACTOR_RECENT + n);
  recentMenu_->menuAction()->setEnabled(IsCommandEnabled(ID_ACTOR_RECENT));
}

void SkinworkDlg::FillMotionList() {
  const QSignalBlocker quiet(motions_);
  motions_->clear();
  motions_->addItem(tr("(none)"), -1);
  const int32_t count = actor_ ? cvActorDef_GetMotionCount(actor_->Definition) : 0;
  for (int32_t n = 0; n < count; ++n) {
    const char* name = cvMotion_GetName(cvActorDef_GetMotionByIndex(actor_->Definition, n));
    motions_->addItem(name && *name ? QString::fromUtf8(name) : tr("motion %1").arg(n), n);
  }
  motions_->setEnabled(actor_ != nullptr);
  pause_->setEnabled(actor_ != nullptr);
  pause_->setChecked(false);
}

void SkinworkDlg::OnMotionChosen() {
  if (!actor_) return;
  const int32_t n = motions_->currentData().toInt();
  cvMotion* motion = n >= 0 ? cvActorDef_GetMotionByIndex(actor_->Definition, n) : nullptr;
  actor_->Motion = motion;
  actor_->MotionTime = actor_->MotionStartTime = actor_->MotionEndTime = 0.0f;
  if (motion) {
    cvMotion_GetTimeExtents(motion, &actor_->MotionStartTime, &actor_->MotionEndTime);
    actor_->MotionTime = actor_->MotionStartTime;
  }
}

void SkinworkDlg::OnPause() { motionClock_.restart(); }

void SkinworkDlg::RestoreMaterial(int32_t I, const MaterialState& State) {
  MaterialEntry& m = materials_[I];
  m.Bitmap = State.Bitmap;
  m.Red = State.Red;
  m.Green = State.Green;
  m.Blue = State.Blue;
  cvBitmap_Info info{};
  if (m.Bitmap && cvBitmap_GetInfo(m.Bitmap, &info, nullptr)) {
    m.Width = info.Width;
    m.Height = info.Height;
    m.Format = info.Format;
  }
  cvActor_SetMaterial(actor_->EngineActor, I, m.Bitmap, m.Red, m.Green, m.Blue);
  cvBody_SetMaterial(cvActorDef_GetBody(actor_->Definition), I, m.Bitmap, m.Red, m.Green, m.Blue);
  unsaved_ = true;
  // The material that changed is shown, whichever was selected.
  {
    const QSignalBlocker quiet(materialsBox_);
    materialsBox_->setCurrentIndex(materialsBox_->findText(QString::fromUtf8(m.Name), Qt::MatchExactly));
  }
  ShowMaterial();
}

void SkinworkDlg::OnUndo() {
  int32_t i = -1;
  MaterialState state;
  if (actor_ && history_->Undo(&i, &state) && i < materialCount_) RestoreMaterial(i, state);
}

void SkinworkDlg::OnRedo() {
  int32_t i = -1;
  MaterialState state;
  if (actor_ && history_->Redo(&i, &state) && i < materialCount_) RestoreMaterial(i, state);
}

void SkinworkDlg::OnSaveTemplate() {
  const int32_t i = GetSelectedMaterial();
  if (i < 0 || !actor_) return;
  cvplatform::FileDialogRequest request;
  request.Save = true;
  request.Filter = kTemplateFilter;
  request.DefaultExtension = "png";
  const std::string path = cvplatform::CurrentDialogs().GetFileName(request);
  if (path.empty()) return;
  std::string why;
  cvBitmap* image = MakeSkinTemplate(cvActorDef_GetBody(actor_->Definition), i, {}, &why);
  // A BMP template is true colour: thin coloured lines do not survive 256 colours.
  if (!image || !skinfiles::SaveSkinImage(image, path, &why, true))
    ReportFailure("save", path, why + "\nThe file was not changed.");
  if (image) cvBitmap_Destroy(&image);
}

int SkinworkDlg::DropKind(const QMimeData* Mime, const QPoint& Pos, std::string* Path) const {
  if (!engine_ || !Mime || !Mime->hasUrls() || Mime->urls().size() != 1) return 0;
  const QUrl url = Mime->urls().first();
  if (!url.isLocalFile()) return 0;
  const QString file = url.toLocalFile();
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QByteArray head = f.read(32);
  *Path = file.toStdString();
  // Actor files are archives; anything else must be an image.
  if (head.startsWith("VF00") || file.endsWith(".act", Qt::CaseInsensitive)) return 1;
  const bool image = cvImageFile_TypeOfData(reinterpret_cast<const uint8_t*>(head.constData()),
                                            static_cast<size_t>(head.size())) !=
                     CV_IMAGEFILE_UNKNOWN;
  const QWidget* under = childAt(Pos);
  const bool onSkin = under && (under == view_ || under == preview_ || view_->isAncestorOf(under));
  return image && onSkin && Control(IDC_LOADBITMAP)->isEnabled() ? 2 : 0;
}

void SkinworkDlg::dragEnterEvent(QDragEnterEvent* Event) {
  // Files are let in; each move over the window then says where they may drop.
  if (Event->mimeData()->hasUrls()) Event->acceptProposedAction();
}

void SkinworkDlg::dragMoveEvent(QDragMoveEvent* Event) {
  std::string path;
  if (DropKind(Event->mimeData(), Event->position().toPoint(), &path))
    Event->acceptProposedAction();
  else
    Event->ignore();
}

void SkinworkDlg::dropEvent(QDropEvent* Event) {
  std::string path;
  switch (DropKind(Event->mimeData(), Event->position().toPoint(), &path)) {
    case 1:
      Event->acceptProposedAction();
      OpenFile(path);  // asks about unsaved changes first
      break;
    case 2:
      Event->acceptProposedAction();
      LoadBitmapFile(path, false);
      break;
    default:
      Event->ignore();
  }
}

// --- About ----------------------------------------------------------------------------

AboutDlg::AboutDlg(QWidget* Parent) : QDialog(Parent) {
  setWindowTitle(tr("About Skinwork"));
  setObjectName("AboutDlg");
  auto* icon = new QLabel(this);
  icon->setPixmap(MakeIcon().pixmap(32, 32));
  auto* text = new QLabel(tr("Skinwork Version 1.3\n"
                             "Re-skins the actors of the engine: paint a material's texture\n"
                             "in any paint program and load it back."),
                          this);
  auto* ok = new QPushButton(tr("OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addWidget(text, 1);
  row->addWidget(ok, 0, Qt::AlignTop);
  auto* root = new QVBoxLayout(this);
  root->addLayout(row);
}
