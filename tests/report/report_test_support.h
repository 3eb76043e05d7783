// Helpers for the report tests under Wine: the stand-in main application, the shared diagnostics
// log, local file times and the prefix's Temp\Vizoziv folder.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

#include "support/logger.h"
#include "support/text_convert.h"
#include "tests/common/temp_dir.h"

namespace velk::test {

// The directory of the running test program (<build>\bin), without a trailing backslash.
inline std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir = path;
    return dir.substr(0, dir.rfind(L'\\'));
}

// Copies a stand-in main application (variant L"3_1_0_25" or L"10_0_0_1") into a directory as TovrekCRM.exe.
inline bool InstallStandIn(const std::wstring& variant, const std::wstring& directory) {
    const std::wstring source = ProgramDirectory() + L"\\stand_in_app_" + variant + L".exe";
    return CopyFileW(source.c_str(), (directory + L"\\TovrekCRM.exe").c_str(), FALSE) != 0;
}

// How often a text occurs in the process's diagnostics log (shared by every test program of the
// build, so callers look for texts holding their own unique temp paths).
inline size_t CountInLog(const std::wstring& text) {
    const std::string log = ReadFileBytes(velk::TheLogger().FilePath());
    const std::string needle = velk::WideToAnsi(text);
    size_t count = 0;
    for (size_t at = log.find(needle); !needle.empty() && at != std::string::npos; at = log.find(needle, at + 1))
        ++count;
    return count;
}

// 100 ns ticks since 1601 of a calendar time, taken as it stands (no zone applied).
inline uint64_t Ticks(const SYSTEMTIME& time) {
    FILETIME ft = {};
    SystemTimeToFileTime(&time, &ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline SYSTEMTIME FromTicks(uint64_t ticks) {
    FILETIME ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME time = {};
    FileTimeToSystemTime(&ft, &time);
    return time;
}

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kTicksPerMinute = 60 * kTicksPerSecond;
constexpr uint64_t kTicksPerHour = 60 * kTicksPerMinute;

// Today's local midnight moved by an offset (local calendar arithmetic, so month ends are right).
inline SYSTEMTIME LocalTodayPlus(int64_t offsetTicks) {
    SYSTEMTIME today = {};
    GetLocalTime(&today);
    today.wHour = today.wMinute = today.wSecond = today.wMilliseconds = 0;
    return FromTicks(Ticks(today) + static_cast<uint64_t>(offsetTicks));
}

// Sets a file's last-write time from a local calendar time under the process's time zone.
inline bool SetLocalWriteTime(const std::wstring& path, const SYSTEMTIME& local) {
    SYSTEMTIME utc = {};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return false;
    FILETIME ft = {};
    if (!SystemTimeToFileTime(&utc, &ft)) return false;
    HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
    return ok != 0;
}

// The prefix's Temp\Vizoziv folder, fresh and empty for one test: a folder already there is
// moved aside and put back afterwards. Tests using it hold the "vizoziv" lock.
class VizozivFolder {
public:
    VizozivFolder() {
        wchar_t local[MAX_PATH + 1] = {};
        SHGetSpecialFolderPathW(nullptr, local, CSIDL_LOCAL_APPDATA, FALSE);
        const std::wstring temp = std::wstring(local) + L"\\Temp";
        CreateDirectoryW(temp.c_str(), nullptr);
        m_path = temp + L"\\Vizoziv";
        m_saved = temp + L"\\Vizoziv.velk_saved_" + std::to_wstring(GetTickCount64());
        if (GetFileAttributesW(m_path.c_str()) != INVALID_FILE_ATTRIBUTES)
            m_moved = MoveFileW(m_path.c_str(), m_saved.c_str()) != 0;
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~VizozivFolder() {
        RemoveTree(m_path);
        if (m_moved) MoveFileW(m_saved.c_str(), m_path.c_str());
    }
    VizozivFolder(const VizozivFolder&) = delete;
    VizozivFolder& operator=(const VizozivFolder&) = delete;

    // Removes the folder itself (restored on destruction all the same).
    void Remove() { RemoveTree(m_path); }
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
    std::wstring m_saved;
    bool m_moved = false;
};

}  // namespace velk::test
