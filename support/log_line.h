// The diagnostics log's line format, free of Win32 so that it is tested natively too.
#pragma once

#include <string>

#include "support/local_time.h"

namespace velk {

enum class LogLevel { Fatal = 0, Error = 1, Warning = 2, Info = 3 };

// Level names end in the tab that separates them from the time stamp.
const wchar_t* LogLevelName(LogLevel level);

// "Error\t2026-12-10 09:05:01 message": the name, the local time stamp with its blank, the message.
std::wstring FormatLogLine(LogLevel level, const LocalTime& time, const std::wstring& message);

}  // namespace velk
