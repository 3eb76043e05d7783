// CLogger: appends error lines to log\BugReportLog.log in code page 936 with CR LF line ends.
#include "support/logger.h"

#include <windows.h>

#include <cstdio>
#include <locale.h>

#include "support/directory_levels.h"
#include "support/local_time.h"
#include "support/module_path.h"
#include "support/path_join.h"

namespace velk {

namespace {

unique_file OpenForAppending(const std::wstring& path) {
    FILE* file = nullptr;
    if (_wfopen_s(&file, path.c_str(), L"a+") != 0) return unique_file();
    return unique_file(file);
}

}  // namespace

CLogger::CLogger(const std::wstring& directory, const std::wstring& fileName) {
    m_directory = JoinPath(directory.empty() ? ModuleDirectory() : directory, L"log");
    // The wide API, not an ANSI-path helper: an install directory the code page cannot
    // spell would otherwise lose every line.
    CreateDirectoryLevels(m_directory);
    m_fileName = fileName.empty() ? std::wstring(L"BugReportLog.log") : fileName;
    m_filePath = JoinPath(m_directory, m_fileName);
    m_file = OpenForAppending(m_filePath);
}

CLogger::~CLogger() = default;

void CLogger::LogError(const std::wstring& message) {
    if (m_level < 2) return;
    if (message.empty()) return;
    WriteLine(FormatLogLine(LogLevel::Error, CurrentLocalTime(), message));
}

void CLogger::WriteLine(const std::wstring& line) {
    critical_section_guard guard(m_lock);
    // While the file cannot be opened every line tries again.
    if (!m_file) m_file = OpenForAppending(m_filePath);
    if (!m_file) return;
    // The text-mode stream converts through the locale: "chs" makes it code page 936.
    _wsetlocale(LC_ALL, L"chs");
    fwprintf(m_file.get(), L"%ls\n", line.c_str());
    fflush(m_file.get());
}

// Constructed during static initialisation, before the application object starts;
// the log file is opened here, at once.
static CLogger g_logger(L"", L"");

CLogger& TheLogger() { return g_logger; }

}  // namespace velk
