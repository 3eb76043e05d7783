// The diagnostics log's line format (the writing is in logger_win.cpp).
#include "support/log_line.h"

#include <cwchar>

namespace velk {

const wchar_t* LogLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Fatal: return L"Fatal\t";
        case LogLevel::Error: return L"Error\t";
        case LogLevel::Warning: return L"Warning\t";
        case LogLevel::Info: return L"Info\t";
    }
    return L"";
}

std::wstring FormatLogLine(LogLevel level, const LocalTime& t, const std::wstring& message) {
    wchar_t stamp[64];
    std::swprintf(stamp, sizeof stamp / sizeof stamp[0], L"%04d-%02d-%02d %02d:%02d:%02d ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return std::wstring(LogLevelName(level)) + stamp + message;
}

}  // namespace velk
