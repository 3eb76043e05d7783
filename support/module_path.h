// The running executable's path, read once with no length limit and kept for the whole process:
// the logger, the settings, the information log, the archive and the restart all start from it.
#pragma once

#include <string>

namespace velk {

// The full path of the running executable; empty only when the system cannot tell it.
const std::wstring& ModulePath();

// Its folder, without a trailing separator unless it is a drive root ("Q:\").
const std::wstring& ModuleDirectory();

}  // namespace velk
