// Pure rules of the report contents: how the archive and its entries are named and the
// exact bytes of the information log lines. No Win32 here, so they are checked natively too.
#pragma once

#include <string>

#include "support/local_time.h"

namespace velk {

// The archive's base name from the account (or the date). The archive is written and later
// deleted by this name, so no account may steer it out of the install directory or make its
// creation fail and lose the report:
// - every character a Windows file name may not hold (\ / : * ? " < > | and controls below
//   0x20) becomes '_';
// - a name that Windows takes for a device whatever its extension (CON, PRN, AUX, NUL, COM1-9,
//   LPT1-9, any case, before the first dot) gets a leading '_';
// - it is cut to kMaxArchiveBaseName characters (never inside a surrogate pair).
std::wstring SafeArchiveBaseName(const std::wstring& name);

// Keeps the archive's path under MAX_PATH for an install directory of usual length, and its
// file name far below the file system's 255 characters.
constexpr size_t kMaxArchiveBaseName = 200;

// The name of a system-wide lock that stands for one file or folder: the same for every spelling
// of the path that differs only in ASCII case, a valid object name whatever the path's length.
// purpose tells apart locks on the same path ("archive", "collect").
std::wstring InstanceLockName(const std::wstring& purpose, const std::wstring& path);

// The archive's name when another running reporter holds the usual one: the base name and the
// process id, "abc_1234.zip" beside "abc.zip".
std::wstring SecondArchiveFileName(const std::wstring& baseName, unsigned long processId);

// The entry name of a report file: its bare file name after the last backslash. A path without
// a backslash, or whose only backslash is its first character, is used whole.
std::wstring EntryNameOf(const std::wstring& path);

// "%04d.%02d.%02d %02d:%02d:%02d" of a local time.
std::wstring FormatInfoLogTime(const LocalTime& time);

// The archive's name when there is no account: the local date as "%04d%02d%02d".
std::wstring MakeDateString(const LocalTime& today);

// Whether a file written at `written` counts as today's: the dates alone decide, and a date after
// today (the clock was set back since) counts as today.
bool IsTodayOrLater(const LocalTime& written, const LocalTime& today);

// The three lines of INFOLOG.TXT: fixed GBK labels, then the values already in the ANSI code
// page, each line ended by "\n" (the text-mode stream stores it as CR LF).
std::string InfoLogText(const std::string& account, const std::string& version, const std::string& timestamp);

}  // namespace velk
