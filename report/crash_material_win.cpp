// The crash material beside the information log: the dump's path and today's files of Temp\Vizoziv.
#include <windows.h>
#include <shlobj.h>

#include <io.h>

#include <string>

#include "report/report_data.h"
#include "support/path_join.h"
#include "support/unique_any.h"

namespace velk {

std::wstring MakeDumpPath(const std::wstring& directory) { return JoinPath(directory, L"CRASH.DMP"); }

bool IsWrittenToday(const std::wstring& path) {
    // Looked up through a directory search so that a file opened elsewhere without sharing still answers.
    WIN32_FIND_DATAW data;
    unique_hfind find(FindFirstFileW(path.c_str(), &data));
    // Gone between the scan and this test: left out.
    if (!find) return false;
    find.reset();

    SYSTEMTIME utc = {};
    SYSTEMTIME written = {};
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &utc)) return false;
    // No explicit zone: the system's current settings, as the user sees the date.
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &written)) return false;
    SYSTEMTIME today = {};
    GetLocalTime(&today);

    // Dates only; a date after today (the clock was set back since) counts as today.
    if (written.wYear != today.wYear) return written.wYear > today.wYear;
    if (written.wMonth != today.wMonth) return written.wMonth > today.wMonth;
    return written.wDay >= today.wDay;
}

void CReportData::ScanFolder(const std::wstring& folder) {
    // Paths are built without a length limit; a folder too long for the search simply yields nothing.
    WIN32_FIND_DATAW data;
    unique_hfind find(FindFirstFileW(JoinPath(folder, L"*.*").c_str(), &data));
    if (!find) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) continue;
        // One level only: subfolders are never entered.
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring path = JoinPath(folder, name);
        if (IsWrittenToday(path)) m_reportFiles.push_back(path);
    } while (FindNextFileW(find.get(), &data));
}

void CReportData::CollectTempFiles() {
    // Listed whether or not a dump exists; the archive step skips a missing one.
    m_reportFiles.push_back(m_dumpPath);

    // MAX_PATH is this shell call's own limit: it takes a buffer of at least that size and no
    // length. Zeroed so that a failed call leaves "\Temp\Vizoziv" on the current drive. The folder
    // is not created: a missing one simply means there is nothing to collect.
    wchar_t localAppData[MAX_PATH + 1] = {};
    SHGetSpecialFolderPathW(nullptr, localAppData, CSIDL_LOCAL_APPDATA, FALSE);
    const std::wstring folder = JoinPath(localAppData, L"Temp\\Vizoziv");
    if (_waccess(folder.c_str(), 0) == 0) ScanFolder(folder);
}

}  // namespace velk
