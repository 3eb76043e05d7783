// The shared state of one report run and the operations that collect the crash material,
// write the information log, read the settings and pack the report archive.
// The error report dialog derives from it; tests use it on its own with a chosen m_exeDir.
#pragma once

#include <string>
#include <vector>

#include "support/unique_any.h"

namespace velk {

class CReportData {
public:
    std::wstring m_exeDir;       // the executable's directory, no trailing backslash (a drive root keeps it)
    std::wstring m_uploadUrl;    // from uploadcrash.ini; empty when none is configured
    std::wstring m_dumpPath;     // m_exeDir + "\CRASH.DMP"
    std::wstring m_archivePath;  // the report archive beside the executable
    std::wstring m_description;  // the user's text, taken when the user confirms
    std::vector<std::wstring> m_reportFiles;  // full paths in archive order; duplicates allowed, need not exist
    // Held from the archive's naming to the end of the run: tells another reporter started in
    // the same folder that this archive name is taken.
    unique_handle m_archiveClaim;

    // m_exeDir from the running executable's path.
    void FillExeDir();
    // The collection steps of the dialog's initialisation, in their order: ReadUploadUrl,
    // WriteInfoLog, MakeDumpPath, CollectTempFiles, BuildReportArchive. A second reporter in the
    // same folder waits here until the first has packed its INFOLOG.TXT.
    void CollectReport();

    void ReadUploadUrl();
    std::wstring ReadAccountName() const;
    void WriteInfoLog();
    std::wstring GetMainAppVersion() const;
    void CollectTempFiles();
    void ScanFolder(const std::wstring& folder);
    void BuildReportArchive();
    void NameArchive(const std::wstring& baseName);
};

std::wstring MakeDumpPath(const std::wstring& directory);
// The file's last write on the local clock against today's date (the rule: IsTodayOrLater);
// false for a file that is gone.
bool IsWrittenToday(const std::wstring& path);
// Today's local date as the archive's name (the rule: MakeDateString of a LocalTime).
std::wstring MakeDateString();

}  // namespace velk
