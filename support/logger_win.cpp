// CLogger: appends error lines to log\BugReportLog.log in code page 936 with CR LF line ends.
#include "support/logger.h"

#include <cstdarg>
#include <locale.h>
#include <vector>

#include "support/module_path.h"
#include "support/path_join.h"
#include "support/unique_any.h"

namespace velk {

namespace {

std::wstring FormatWideV(const wchar_t* format, va_list args) {
    if (format == nullptr) return {};
    va_list counting;
    va_copy(counting, args);
    int count = _vscwprintf(format, counting);
    va_end(counting);
    if (count <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(count) + 1, L'\0');
    int written = _vsnwprintf(buffer.data(), buffer.size(), format, args);
    if (written <= 0) return {};
    return std::wstring(buffer.data(), static_cast<size_t>(written));
}

LocalTime CurrentLocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace

std::wstring FormatWide(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWideV(format, args);
    va_end(args);
    return text;
}

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

CLogger::CLogger(const std::wstring& directory, const std::wstring& fileName) {
    m_directory = JoinPath(directory.empty() ? ModuleDirectory() : directory, L"log") + L"\\";
    // The wide API, not an ANSI-path helper: an install directory the code page cannot
    // spell would otherwise lose every line.
    CreateDirectoryLevels(m_directory);
    m_fileName = fileName.empty() ? FormatWide(L"BugReportLog.log") : fileName;
    m_filePath = m_directory + m_fileName;
    if (_wfopen_s(&m_file, m_filePath.c_str(), L"a+") != 0) m_file = nullptr;
    ::InitializeCriticalSection(&m_lock);
}

CLogger::~CLogger() {
    ::DeleteCriticalSection(&m_lock);
    if (m_file != nullptr) fclose(m_file);
}

void CLogger::LogError(const std::wstring& message) {
    if (m_level < 2) return;
    if (message.empty()) return;
    WriteLine(FormatLogLine(LogLevel::Error, CurrentLocalTime(), message));
}

void CLogger::WriteLine(const std::wstring& line) {
    critical_section_guard guard(m_lock);
    // While the file cannot be opened every line tries again.
    if (m_file == nullptr && _wfopen_s(&m_file, m_filePath.c_str(), L"a+") != 0) {
        m_file = nullptr;
        return;
    }
    // The text-mode stream converts through the locale: "chs" makes it code page 936.
    _wsetlocale(LC_ALL, L"chs");
    fwprintf(m_file, L"%ls\n", line.c_str());
    fflush(m_file);
}

// Constructed during static initialisation, before the application object starts;
// the log file is opened here, at once.
static CLogger g_logger(L"", L"");

CLogger& TheLogger() { return g_logger; }

}  // namespace velk
