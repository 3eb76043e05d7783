// The reporter's own diagnostics log, log\BugReportLog.log under the executable's directory.
// One logger per process, made during static initialisation; both threads write through it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "support/log_line.h"

namespace velk {

class CLogger {
public:
    // Empty arguments ask for the defaults: the executable's directory and "BugReportLog.log".
    CLogger(const std::wstring& directory, const std::wstring& fileName);
    virtual ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    // Writes one Error line. The text is taken as it is: a '%' in it is never a conversion.
    void LogError(const std::wstring& message);

    const std::wstring& FilePath() const { return m_filePath; }

private:
    void WriteLine(const std::wstring& line);

    FILE* m_file = nullptr;     // open for appending, or none while the file cannot be opened
    int m_level = 4;            // a line of level L is written when m_level > L
    std::wstring m_directory;   // ends in a backslash
    std::wstring m_fileName;
    std::wstring m_filePath;
    CRITICAL_SECTION m_lock;    // serialises re-opening, the locale and the write of each line
};

// The process's one logger.
CLogger& TheLogger();

// What every caller uses: a finished message text, written unchanged as one Error line.
inline void LogError(const std::wstring& message) { TheLogger().LogError(message); }

// printf-style wide formatting into a new string; empty when formatting yields nothing.
std::wstring FormatWide(const wchar_t* format, ...);

// Creates every missing level of a directory path (wide API, so any name the file system takes works).
bool CreateDirectoryLevels(const std::wstring& directory);

}  // namespace velk
