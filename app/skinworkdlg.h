// The Skinwork main window: the 3D view on the left with the mouse-mode
// buttons under it, the material editor on the right, and the File, Actor
// and Help menus. The engine's frame cycle runs on the window's 10 ms frame
// timer; the engine itself starts on the first tick, once the window is on
// screen.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "framework/cvframework.h"
#include "materialhistory.h"

class QMimeData;
class QVBoxLayout;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QSettings;
class RecentFiles;
class SkinFileWatcher;
struct cvBitmap;
namespace cvplatform {
class ViewWidget;
}

// One material of the open actor as the editor shows it.
struct MaterialEntry {
  int32_t Width = 0;   // size and format of Bitmap; meaningful only while Bitmap is set
  int32_t Height = 0;
  char Name[256] = {};
  float Red = 0, Green = 0, Blue = 0;
  int32_t Format = 0;
  cvBitmap* Bitmap = nullptr;  // null when the material has no bitmap
};

// Control and command identifiers of the window.
enum : int {
  IDC_VIEW = 1000,
  IDC_PREVIEW = 1002,
  IDC_RED = 1003,
  IDC_GREEN = 1004,
  IDC_BLUE = 1005,
  IDC_WIDTH = 1006,
  IDC_HEIGHT = 1007,
  IDC_SAVEBITMAP = 1008,
  IDC_LOADBITMAP = 1010,
  IDC_RUNEDITOR = 1011,
  IDC_APPLY = 1012,
  IDC_ROTATE = 1013,
  IDC_MOVE = 1014,
  IDC_ZOOM = 1015,
  IDC_ANGLE = 1016,
  IDC_MODE = 1017,
  IDC_MATERIALS = 1018,
  IDC_SWATCH = 1019,
  IDC_COLOR = 1020,
  IDC_LIVERELOAD = 1021,
  IDC_TRUECOLOUR = 1022,
  IDC_SAVETEMPLATE = 1023,
  IDC_MOTIONS = 1024,
  IDC_PAUSE = 1025,

  IDM_ABOUTBOX = 16,
  ID_ACTOR_OPEN = 32771,
  ID_ACTOR_SAVE = 32772,
  ID_ACTOR_SAVEAS = 32773,
  ID_FILE_EXIT = 32774,
  ID_ACTOR_GTEST = 32776,
  ID_HELP_ABOUT = 32777,
  ID_ACTOR_MAKEBODY = 32780,
  ID_ACTOR_CLOSE = 32781,
  ID_ACTOR_IMPORT = 32782,
  ID_ACTOR_RECENT = 32790,  // the recent files, 32790 to 32794
};

class SkinworkDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int MaxMaterials = 256;

  explicit SkinworkDlg(QWidget* Parent = nullptr);
  // Stops the frame timers and releases the actor, the camera and its
  // action, the engine and the world.
  ~SkinworkDlg() override;

  // An actor file to open as soon as the engine has started.
  void OpenOnStart(const std::string& Path) { startFile_ = Path; }

  bool InitEngine();
  void EnableControls(bool Enable);
  void ReadMaterials();
  void FillMaterialList();
  void ShowMaterial();
  void ApplyMaterial();
  int32_t GetSelectedMaterial();

  // How Run Editor hands a file to the desktop's default program; tests
  // replace it. True when a program was started.
  static std::function<bool(const std::string& Path)> OpenExternal;
  // The settings file (recent files, window size and position); empty for
  // the user's own Skinwork settings. Tests point it elsewhere.
  static QString SettingsFile;

  // State, for tests and the program's start-up.
  QWidget* Control(int Id) const;
  QAction* Command(int Id) const;
  QMenu* Menu(int Index) const;  // 0 File, 1 Actor, 2 Help
  bool EngineStarted() const { return engineStarted_; }
  bool HasUnsavedChanges() const { return unsaved_; }
  Engine* GetEngine() const { return engine_; }
  Camera* GetCamera() const { return camera_; }
  Actor* GetActor() const { return actor_; }
  bool GtestFlag() const { return gtest_; }
  const std::string& FileName() const { return fileName_; }
  const MaterialEntry& Material(int Index) const { return materials_[Index]; }
  int32_t MaterialCount() const { return materialCount_; }
  bool IsTimerRunning(int Id) const { return timers_.count(Id) != 0; }
  // Frame cycles run since the engine started, and how many of them drew.
  int FrameTicks() const { return frameTicks_; }
  int FramesDrawn() const { return framesDrawn_; }

  // Draws a frame on the next tick even when nothing the frame cycle
  // compares has changed; for changes made behind the engine's back (pixels
  // of a bitmap edited in place).
  void RequestFrame() { frameWanted_ = true; }
  SkinFileWatcher& LiveReload() { return *watcher_; }

  // The menu and button commands.
  void OnOpen();
  bool OpenFile(const std::string& Path);
  // Actor > Import model...: a model file of a common 3D format becomes the
  // open actor, not yet saved anywhere (Save asks for an actor file name).
  void OnImport();
  bool ImportFile(const std::string& Path);
  void OnClose();
  void OnSave();
  void OnSaveAs();
  void OnMakeBody();
  void OnToggleGtest();
  void OnAbout();
  void OnExit();
  void OnMode(int Id);
  void OnColor();
  void OnApply();
  void OnSaveBitmap();
  void OnLoadBitmap();
  void OnRunEditor();
  // Reads an image file and applies it to the selected material as Load
  // Bitmap does. Quiet: a file that cannot be read changes nothing and shows
  // no message (live reload), and the exchange file is not written back.
  bool LoadBitmapFile(const std::string& Path, bool Quiet);
  void OnSaveTemplate();
  // Undo and redo of material edits (Ctrl+Z, Ctrl+Shift+Z).
  void OnUndo();
  void OnRedo();
  // The motion list: its current entry plays in a loop ("(none)": the rest pose).
  void OnMotionChosen();
  void OnPause();

  void done(int Result) override;

 protected:
  void timerEvent(QTimerEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void moveEvent(QMoveEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  // Actor files dropped on the window open; image files dropped on the view
  // or the preview load into the selected material.
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dragMoveEvent(QDragMoveEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void UpdateMenu(QMenu* Menu);
  bool IsCommandEnabled(int Id) const;
  void SetTimer(int Id);
  void KillTimer(int Id);
  void RunFrame();
  void OnViewResized();
  // Enter: the R, G, B values must be integers from 0 to 255.
  bool ValidateColourEdits();
  // Asks Save / Discard / Cancel when material changes are unsaved; false to
  // stay as things are.
  bool MayDropChanges();
  bool SaveTo(const std::string& Path);
  // Save as: asks for an actor file name and saves there; false when the
  // user cancels or the save fails.
  bool SaveAsChosenFile();
  // Puts Opened in the world in place of the open actor; false (Opened
  // dropped, the old actor kept) when the world cannot take it.
  bool ShowActor(std::unique_ptr<Actor> Opened, const std::string& Path);
  void ReportFailure(const std::string& What, const std::string& Path, const std::string& Why);
  void UpdateSwatch();
  void ReleaseEngine();
  void BuildPainterControls(QVBoxLayout* Left, QVBoxLayout* Right);
  void FillRecentMenu();
  void FillMotionList();
  // Sets material I to State in the table, the instance and the body.
  void RestoreMaterial(int32_t I, const MaterialState& State);
  // What a drop of Mime at Pos would do: 1 open an actor, 2 load an image, 0 nothing.
  int DropKind(const QMimeData* Mime, const QPoint& Pos, std::string* Path) const;

  std::map<int, int> timers_;  // frame-timer identifier -> running Qt timer
  std::string fileName_;
  bool engineStarted_ = false;
  MaterialEntry materials_[MaxMaterials];
  int32_t materialCount_ = 0;
  Camera* camera_ = nullptr;
  bool gtest_ = false;
  Actor* actor_ = nullptr;
  cvWindow* viewWindow_ = nullptr;
  Engine* engine_ = nullptr;
  World* world_ = nullptr;
  bool unsaved_ = false;
  bool inTick_ = false;
  // The frame cycle draws only when the picture would differ from the last
  // frame drawn: lastFrame_ is what that frame showed.
  FrameState lastFrame_;
  bool frameWanted_ = true;
  int frameTicks_ = 0;
  int framesDrawn_ = 0;
  std::string startFile_;
  std::string importedFrom_;  // the model file of an imported actor not yet saved

  std::map<int, QWidget*> controls_;
  std::map<int, QAction*> commands_;
  QMenuBar* menuBar_ = nullptr;
  QMenu* menus_[3] = {};
  cvplatform::ViewWidget* view_ = nullptr;
  QLabel* preview_ = nullptr;
  QLineEdit* red_ = nullptr;
  QLineEdit* green_ = nullptr;
  QLineEdit* blue_ = nullptr;
  QLabel* width_ = nullptr;
  QLabel* height_ = nullptr;
  QLabel* mode_ = nullptr;
  QComboBox* materialsBox_ = nullptr;
  QWidget* swatch_ = nullptr;

  // What painters use beyond the round trip.
  std::unique_ptr<QSettings> settings_;
  std::unique_ptr<RecentFiles> recent_;
  std::unique_ptr<MaterialHistory> history_;
  SkinFileWatcher* watcher_ = nullptr;
  QCheckBox* liveReload_ = nullptr;
  QCheckBox* trueColour_ = nullptr;
  QComboBox* motions_ = nullptr;
  QPushButton* pause_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QElapsedTimer motionClock_;
  bool quietLoad_ = false;  // a live reload is applying the exchange file
  std::optional<MaterialState> editStart_;  // the material before a Load Bitmap
};

// The About box.
class AboutDlg : public QDialog {
 public:
  explicit AboutDlg(QWidget* Parent = nullptr);
};

// Reads an edit's text as the window reads colour numbers: an optionally
// signed decimal integer; anything else (or a number beyond 32 bits) is 0.
int32_t ReadSignedInt(const QString& Text);
