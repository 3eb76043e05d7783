// The reporter's own diagnostics log, log\BugReportLog.log under the executable's directory.
// One logger per process, made during static initialisation; both threads write through it.
#pragma once

#include <string>

#include "support/critical_section.h"
#include "support/log_line.h"
#include "support/unique_any.h"

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

    critical_section m_lock;    // serialises re-opening, the locale and the write of each line
    unique_file m_file;         // open for appending, or none while the file cannot be opened
    int m_level = 4;            // a line of level L is written when m_level > L
    std::wstring m_directory;   // the log folder, log under the chosen directory
    std::wstring m_fileName;
    std::wstring m_filePath;
};

// The process's one logger.
CLogger& TheLogger();

// What every caller uses: a finished message text, written unchanged as one Error line.
inline void LogError(const std::wstring& message) { TheLogger().LogError(message); }

}  // namespace velk
