// Joining and splitting Windows paths as text (the module path itself is read in module_path_win.cpp).
#include "support/path_join.h"

namespace velk {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

const wchar_t kExtendedPrefix[] = L"\\\\?\\";
const wchar_t kExtendedUncPrefix[] = L"\\\\?\\UNC\\";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    size_t skip = 0;
    while (skip < name.size() && IsSeparator(name[skip])) ++skip;
    std::wstring path = folder;
    if (!IsSeparator(path.back())) path += L'\\';
    path.append(name, skip, std::wstring::npos);
    return path;
}

std::wstring DirectoryOf(const std::wstring& path) {
    const size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos) return std::wstring();
    // "Q:\x" and "\\?\Q:\x": the separator after the drive is the root itself and stays.
    if (last > 0 && path[last - 1] == L':') return path.substr(0, last + 1);
    if (last == 0) return path.substr(0, 1);
    return path.substr(0, last);
}

std::wstring ToExtendedLengthPath(const std::wstring& path) {
    if (StartsWith(path, kExtendedPrefix)) return path;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return kExtendedUncPrefix + path.substr(2);
    return kExtendedPrefix + path;
}

std::wstring FromExtendedLengthPath(const std::wstring& path) {
    if (StartsWith(path, kExtendedUncPrefix)) return L"\\\\" + path.substr(8);
    if (StartsWith(path, kExtendedPrefix)) return path.substr(4);
    return path;
}

}  // namespace velk
