// CreateDirectoryLevels through CreateDirectoryW, one level at a time from the root down.
#include "support/directory_levels.h"

#include <windows.h>

namespace velk {

bool CreateDirectoryLevels(const std::wstring& directory) {
    // Walk from the root down, creating each missing level; "\\?\" and UNC prefixes keep their
    // leading separators, so the first levels tried are the server and share, which then exist.
    std::wstring path = directory;
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    if (path.empty()) return false;
    for (size_t pos = path.find_first_of(L"\\/"); ; pos = path.find_first_of(L"\\/", pos + 1)) {
        std::wstring level = path.substr(0, pos);
        if (!level.empty() && level.back() != L':') ::CreateDirectoryW(level.c_str(), nullptr);
        if (pos == std::wstring::npos) break;
    }
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace velk
