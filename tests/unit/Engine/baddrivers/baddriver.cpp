// Broken driver modules for the engine's failure tests, one source built
// three ways: BAD_NOHOOK exports no DriverHook, BAD_VERSION hands over a
// table of version 100.2, BAD_INIT enumerates one device and mode but
// refuses to open.
#include "Driver/cvdriver.h"

namespace {

int enumDevices(cvDriver_EnumDeviceCB callback, void* context) {
  callback(7, "Broken device", context);
  return 1;
}

int enumModes(int32_t, const char*, cvDriver_EnumModeCB callback, void* context) {
  callback(1, "Window", -1, -1, context);
  return 1;
}

int refuseInit(const cvDriver_Info*) { return 0; }
int shutdown() { return 1; }

cvDriver_Table makeTable() {
  cvDriver_Table t{};
  t.Size = sizeof(t);
  t.VersionMajor = CV_DRIVER_VERSION_MAJOR;
#ifdef BAD_VERSION
  t.VersionMinor = CV_DRIVER_VERSION_MINOR - 1;
#else
  t.VersionMinor = CV_DRIVER_VERSION_MINOR;
#endif
  t.EnumSubDrivers = enumDevices;
  t.EnumModes = enumModes;
  t.Init = refuseInit;
  t.Shutdown = shutdown;
  return t;
}

cvDriver_Table g_table = makeTable();

}  // namespace

#ifdef BAD_NOHOOK
extern "C" __attribute__((visibility("default"))) int NotTheHook(cvDriver_Table** table) {
  *table = &g_table;
  return 1;
}
#else
extern "C" __attribute__((visibility("default"))) int DriverHook(cvDriver_Table** table) {
  *table = &g_table;
  return 1;
}
#endif
