// The module path through GetModuleFileNameW, with a buffer that grows until the whole path fits.
#include "support/module_path.h"

#include <windows.h>

#include "support/path_join.h"

namespace velk {

namespace {

std::wstring ReadModulePath() {
    // A path that does not fit comes back cut and terminated, with the full buffer's length: only
    // a result shorter than the buffer is the whole path. 32767 is the longest path there is.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() > 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

}  // namespace

// Function-local statics: the logger asks during static initialisation, before any other
// static of this file could be relied on.
const std::wstring& ModulePath() {
    static const std::wstring path = ReadModulePath();
    return path;
}

const std::wstring& ModuleDirectory() {
    static const std::wstring directory = DirectoryOf(ModulePath());
    return directory;
}

}  // namespace velk
