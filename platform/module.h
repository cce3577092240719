// Loading shared-library modules at run time (render drivers).
#pragma once

#include <string>

namespace cvplatform {

// Opens the shared library at Path; null on failure (LastModuleError tells why).
void* ModuleOpen(const char* Path);
// The address of the exported symbol Name, or null.
void* ModuleSymbol(void* Module, const char* Name);
void ModuleClose(void* Module);
// The loader's text for the last failure of ModuleOpen or ModuleSymbol.
std::string LastModuleError();

// The directory of the running program (no trailing slash), or "." when it
// cannot be found.
std::string ProgramDirectory();
// Directory, with a relative one taken relative to ProgramDirectory().
std::string ResolveProgramRelative(const char* Directory);

}  // namespace cvplatform
