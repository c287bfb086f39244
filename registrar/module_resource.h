// loadModuleResource: the bytes of one resource of a module, for
// ScriptRegistrar::runScriptResource.
//
// Windows opens the module as a data file (LoadLibraryExA with
// LOAD_LIBRARY_AS_DATAFILE), finds the resource by numeric ID and type name
// (FindResourceA), loads and copies it, and frees the module. On Linux a
// "module" is a folder and the resource (TYPE, ID) the file TYPE/ID inside
// it, the type in capitals (resource types compare without regard to case);
// the errors are those Windows gives: ERROR_FILE_NOT_FOUND (2) for a missing
// module (as Windows reports a data file that is not there), ERROR_RESOURCE_TYPE_NOT_FOUND (1813) and
// ERROR_RESOURCE_NAME_NOT_FOUND (1814) for a missing resource.
//
// On failure the result is the system's last error as an HRESULT (S_OK when
// the system reports no error; bytes is then left empty).
#pragma once

#include <string>

#include "core/hresult.h"

namespace glintmark {

// modulePath and type are narrow text in the ANSI code page.
HResult loadModuleResource(const std::string& modulePath, unsigned id, const std::string& type,
                           std::string* bytes);

}  // namespace glintmark
