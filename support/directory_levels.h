// Creating a directory path with all its missing levels.
#pragma once

#include <string>

namespace velk {

// Creates every missing level of a directory path (wide API, so any name the file system takes
// works); true when the directory exists afterwards.
bool CreateDirectoryLevels(const std::wstring& directory);

}  // namespace velk
