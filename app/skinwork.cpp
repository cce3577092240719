// SkinworkApp: the program runs one window, the Skinwork main window, and
// ends when it closes.
//
//   skinwork [--no-logo] [FILE.act]
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/cvengine.h"
#include "platform/qt/qtplatform.h"
#include "skinworkdlg.h"

namespace {

void PrintUsage(FILE* Out) {
  std::fprintf(Out,
               "Usage: skinwork [--no-logo] [FILE.act]\n"
               "\n"
               "Opens the Skinwork window, with the actor file FILE.act open when given.\n"
               "  --no-logo   start without the engine's start-up logo\n"
               "  --help      this text\n");
}

// False when DISPLAY names a local X display (":N" or ":N.S") on which no
// server listens, neither on its abstract socket nor on its socket file.
// Remote displays are left to the toolkit.
bool LocalDisplayReachable(const char* Display) {
  if (Display[0] != ':') return true;
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(std::atoi(Display + 1));
  for (bool abstract : {true, false}) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return true;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // An abstract name starts with a zero byte.
    std::strncpy(address.sun_path + (abstract ? 1 : 0), path.c_str(), sizeof address.sun_path - 2);
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) +
                                                    (abstract ? 1 : 0) + path.size() + (abstract ? 0 : 1));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    if (ok) return true;
  }
  return false;
}

// Says why the program cannot show its window, or returns true.
bool HaveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;  // the caller chose a platform (offscreen, ...)
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (wayland && *wayland) return true;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::fprintf(stderr,
                 "skinwork: no display: Skinwork is a desktop program and needs a graphical "
                 "session (DISPLAY is not set)\n");
    return false;
  }
  if (!LocalDisplayReachable(display)) {
    std::fprintf(stderr, "skinwork: no display: the X display \"%s\" does not answer\n", display);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  bool showLogo = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 0;
    }
    if (arg == "--no-logo") {
      showLogo = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "skinwork: unknown option \"%s\"\n\n", arg.c_str());
      PrintUsage(stderr);
      return 2;
    } else if (file.empty()) {
      file = arg;
    } else {
      std::fprintf(stderr, "skinwork: give at most one actor file\n\n");
      PrintUsage(stderr);
      return 2;
    }
  }
  if (!HaveDisplay()) return 1;
  if (!showLogo) cvLogo_Disable();

  QApplication app(argc, argv);
  QApplication::setApplicationName("Skinwork");
  cvplatform::InputTracker tracker;
  app.installEventFilter(&tracker);
  cvplatform::QtDialogs dialogs;
  cvplatform::SetDialogs(&dialogs);

  int result = 0;
  {
    SkinworkDlg window;
    if (!file.empty()) window.OpenOnStart(QFileInfo(QString::fromStdString(file)).absoluteFilePath().toStdString());
    result = window.exec();
  }
  cvplatform::SetDialogs(nullptr);
  if (result == -1) {
    std::fprintf(stderr, "skinwork: no render driver could be opened in a window\n");
    return 1;
  }
  return 0;
}
