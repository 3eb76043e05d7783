// The crash material beside the information log: the dump's path and today's files of Temp\Vizoziv.
#include <windows.h>
#include <shlobj.h>

#include <io.h>

#include <string>

#include "report/report_data.h"
#include "report/report_rules.h"
#include "support/path_join.h"
#include "support/unique_any.h"

namespace velk {

namespace {

// The date rule of the selection, on a last-write time as a directory search gives it.
bool IsLastWriteToday(const FILETIME& lastWrite) {
    SYSTEMTIME utc = {};
    SYSTEMTIME written = {};
    if (!FileTimeToSystemTime(&lastWrite, &utc)) return false;
    // No explicit zone: the system's current settings, as the user sees the date.
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &written)) return false;
    return IsTodayOrLater({written.wYear, written.wMonth, written.wDay, written.wHour, written.wMinute, written.wSecond},
                          CurrentLocalTime());
}

}  // namespace

std::wstring MakeDumpPath(const std::wstring& directory) { return JoinPath(directory, L"CRASH.DMP"); }

bool IsWrittenToday(const std::wstring& path) {
    // Looked up through a directory search so that a file opened elsewhere without sharing still answers.
    WIN32_FIND_DATAW data;
    unique_hfind find(FindFirstFileW(path.c_str(), &data));
    // Gone between the scan and this test: left out.
    if (!find) return false;
    find.reset();
    return IsLastWriteToday(data.ftLastWriteTime);
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
        // The search already holds the last-write time that IsWrittenToday would look up again:
        // the same answer without a second search per file.
        if (IsLastWriteToday(data.ftLastWriteTime)) m_reportFiles.push_back(JoinPath(folder, name));
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
