// The upload address from uploadcrash.ini beside the executable (section "url", key "url").
#include <windows.h>

#include <string>

#include "report/report_data.h"
#include "support/logger.h"
#include "support/path_join.h"

namespace velk {

namespace {

// A name of the file that the profile call takes. It copies the name into a MAX_PATH buffer and
// finds no file behind a longer one (checked under Wine), so a long path goes in its short form,
// asked for in the "\\?\" form that lifts the limit from GetShortPathNameW itself. Empty when
// there is no form short enough: no file, or no short names on the volume.
std::wstring ProfileFileName(const std::wstring& path) {
    if (path.size() < MAX_PATH) return path;
    const std::wstring extended = ToExtendedLengthPath(path);
    const DWORD size = GetShortPathNameW(extended.c_str(), nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring shortPath(size, L'\0');
    const DWORD length = GetShortPathNameW(extended.c_str(), shortPath.data(), size);
    if (length == 0 || length >= size) return std::wstring();
    shortPath.resize(length);
    shortPath = FromExtendedLengthPath(shortPath);
    return shortPath.size() < MAX_PATH ? shortPath : std::wstring();
}

}  // namespace

void CReportData::ReadUploadUrl() {
    const std::wstring path = JoinPath(m_exeDir, L"uploadcrash.ini");
    m_uploadUrl.clear();
    const std::wstring fileName = ProfileFileName(path);
    if (fileName.empty()) {
        // A missing file means that no upload is configured; one that is there but cannot be
        // read would lose every report without a trace.
        if (GetFileAttributesW(ToExtendedLengthPath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
            LogError(L"ERROR - failed to read " + path);
        return;
    }
    // A full buffer makes the profile call cut the value to 2047 characters plus the terminator.
    wchar_t url[2048] = {};
    GetPrivateProfileStringW(L"url", L"url", L"", url, 2048, fileName.c_str());
    m_uploadUrl = url;
}

}  // namespace velk
