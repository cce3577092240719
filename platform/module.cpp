// Modules through dlopen/dlsym/dlclose.
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace cvplatform {

namespace {
std::string g_lastError;

void keepError() {
  const char* text = dlerror();
  g_lastError = text ? text : "";
}
}  // namespace

void* ModuleOpen(const char* Path) {
  if (!Path || !*Path) return nullptr;
  // RTLD_LOCAL: each driver's symbols stay its own, so two modules that both
  // export DriverHook never bind to each other's.
  void* module = dlopen(Path, RTLD_NOW | RTLD_LOCAL);
  if (!module) keepError();
  return module;
}

void* ModuleSymbol(void* Module, const char* Name) {
  if (!Module || !Name) return nullptr;
  dlerror();
  void* symbol = dlsym(Module, Name);
  if (!symbol) keepError();
  return symbol;
}

void ModuleClose(void* Module) {
  if (Module) dlclose(Module);
}

std::string LastModuleError() { return g_lastError; }

std::string ProgramDirectory() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string dir(path);
  size_t slash = dir.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return dir.substr(0, slash);
}

std::string ResolveProgramRelative(const char* Directory) {
  std::string dir = Directory ? Directory : "";
  if (!dir.empty() && dir[0] == '/') return dir;
  std::string base = ProgramDirectory();
  if (dir.empty() || dir == ".") return base;
  if (dir.rfind("./", 0) == 0) dir.erase(0, 2);
  return base == "/" ? "/" + dir : base + "/" + dir;
}

}  // namespace cvplatform
