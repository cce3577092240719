// Camera, World, VFile and Utility.
#include <string>

#include "framework/engine.h"
#include "framework/scene.h"
#include "platform/dialogs.h"
#include "platform/input.h"
#include "platform/window.h"

// --- Camera -----------------------------------------------------------------

Camera::Camera(int Left_, int Right_, int Top_, int Bottom_, float FieldOfView_)
    : HeightStep((Bottom_ - Top_) / 100),
      WidthStep((Right_ - Left_) / 100),
      InitialLeft(Left_),
      InitialRight(Right_),
      InitialTop(Top_),
      InitialBottom(Bottom_),
      Left(Left_),
      Right(Right_),
      Top(Top_),
      Bottom(Bottom_),
      FieldOfView(FieldOfView_) {
  SetBoundingBox(0, 0, 0, 0, 0, 0);
  const cvRect rect = {Left, Right, Top, Bottom};
  EngineCamera = cvCamera_Create(&rect, FieldOfView);
  if (!EngineCamera) cvplatform::CurrentDialogs().MessageBox("No Camera", "Error");
}

Camera::~Camera() { cvCamera_Destroy(EngineCamera); }

void Camera::SetPosition(XForm3d* Form) {
  SetXForm(Form);
  UsePosition();
}

void Camera::UsePosition() {
  if (EngineCamera) cvCamera_SetWorldSpaceXForm(EngineCamera, &Position.XForm);
}

bool Camera::PerformAction(Engine* Owner, float Time) {
  LastEngine = Owner;
  PreviousPosition = Position;
  const bool acted = ActionObject::PerformAction(Time);
  if (acted) {
    HasActed = 1;
    UsePosition();
  }
  return acted;
}

void Camera::ApplyView() {
  if (!EngineCamera) return;
  const cvRect rect = {Left, Right, Top, Bottom};
  cvCamera_SetAttributes(EngineCamera, &rect, FieldOfView);
}

void Camera::DecreaseView() {
  Right -= WidthStep;
  Bottom -= HeightStep;
  if (Right < 32) Right = 32;
  if (Bottom < 24) Bottom = 24;
  ApplyView();
}

void Camera::IncreaseView() {
  Right += WidthStep;
  Bottom += HeightStep;
  if (Right > InitialRight) Right = InitialRight;
  if (Bottom > InitialBottom) Bottom = InitialBottom;
  ApplyView();
}

// --- World ------------------------------------------------------------------

World::World(VFile* LevelFile) { EngineWorld = cvWorld_Create(LevelFile ? LevelFile->File : nullptr); }

World::~World() { cvWorld_Free(EngineWorld); }

// --- VFile ------------------------------------------------------------------

VFile::VFile(Engine* Owner) : BaseDirectory(Owner ? Owner->WorkingDirectory : nullptr) {}

VFile::VFile(Engine* Owner, const char* Name_) : VFile(Owner) { Open(Name_); }

VFile::VFile(Engine* Owner, const char* Name_, bool Relative_) : VFile(Owner) {
  Relative = Relative_;
  Open(Name_);
}

VFile::~VFile() { Close(); }

void VFile::Close() {
  if (File) cvVFile_Close(File);
  if (directory_) cvVFile_Close(directory_);
  File = nullptr;
  directory_ = nullptr;
}

bool VFile::Open(const char* Name_) {
  Close();
  Name = Name_ ? Name_ : "";
  if (!Name_ || !*Name_) return false;
  if (Relative) {
    if (!BaseDirectory) return false;
    File = cvVFile_Open(BaseDirectory, Name_, OpenFlags);
    return File != nullptr;
  }
  // A full path: its directory is opened as a disk directory and the file
  // in it. A bare name lies in the current directory, "/name" in the root.
  const size_t slash = Name.find_last_of('/');
  std::string directory, file;
  if (slash == std::string::npos) {
    directory = ".";
    file = Name;
  } else {
    directory = slash == 0 ? "/" : Name.substr(0, slash);
    file = Name.substr(slash + 1);
  }
  if (file.empty()) return false;
  directory_ = cvVFile_OpenNewSystem(nullptr, CV_VFILE_TYPE_DOS, directory.c_str(), nullptr,
                                     CV_VFILE_OPEN_READONLY | CV_VFILE_OPEN_DIRECTORY);
  if (!directory_) return false;
  File = cvVFile_Open(directory_, file.c_str(), CV_VFILE_OPEN_READONLY);
  if (!File) {
    cvVFile_Close(directory_);
    directory_ = nullptr;
  }
  return File != nullptr;
}

// --- Utility ----------------------------------------------------------------

Utility::Utility(Engine* Owner_) : Owner(Owner_) {}

Utility::~Utility() = default;

bool Utility::IsKeyDown(int VirtualKey) { return cvplatform::IsKeyDown(VirtualKey); }

bool Utility::IsMouseDown(int Button) {
  switch (Button) {
    case 0: return cvplatform::IsKeyDown(cvplatform::CV_VK_LBUTTON);
    case 1: return cvplatform::IsKeyDown(cvplatform::CV_VK_RBUTTON);
    case 2: return cvplatform::IsKeyDown(cvplatform::CV_VK_MBUTTON);
    default: return cvplatform::IsKeyDown(Button);
  }
}

void Utility::GetMouseSpeed(float* Dx, float* Dy, bool Recenter) {
  cvWindow* window = Owner ? Owner->Window : nullptr;
  int32_t x = 0, y = 0;
  if (window && window->GetCursorPos) window->GetCursorPos(window, &x, &y);
  const int32_t width = Owner ? Owner->DisplayWidth : 0;
  const int32_t height = Owner ? Owner->DisplayHeight : 0;
  constexpr float kPerPixel = 0.0028571428f;  // 1/350: 35 pixels a frame make 0.1
  if (Dx) *Dx = (static_cast<float>(width) * 0.5f - static_cast<float>(x)) * kPerPixel;
  if (Dy) *Dy = (static_cast<float>(height) * 0.5f - static_cast<float>(y)) * kPerPixel;
  if (Recenter && window && window->SetCursorPos)
    window->SetCursorPos(window, Dx ? width / 2 : x, Dy ? height / 2 : y);
}

int Utility::GetFirstKeyPressed() { return cvplatform::FirstKeyDown(); }
