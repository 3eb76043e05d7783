// One run of the real VELKBugReport.exe for a GUI test: copied into a fresh install directory,
// started with CreateProcessW, its dialog found, and closed (or killed) when the test is done.
#pragma once

#include <windows.h>

#include <string>

#include "support/unique_any.h"
#include "tests/common/temp_dir.h"
#include "tools/dialog_driver/dialog_remote.h"

namespace velk::test {

// The directory of the running test program: every executable of a build is there.
inline std::wstring BuildBinDirectory() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L'\\'));
}

class ReporterProcess {
public:
    ReporterProcess() : m_install(L"gui") {}
    ~ReporterProcess() {
        if (!m_process) return;
        if (WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT) {
            if (HWND dialog = velk::driver::FindReportDialog(m_processId)) velk::driver::RequestClose(dialog);
            if (WaitForSingleObject(m_process.get(), 5000) == WAIT_TIMEOUT) TerminateProcess(m_process.get(), 99);
        }
    }
    ReporterProcess(const ReporterProcess&) = delete;
    ReporterProcess& operator=(const ReporterProcess&) = delete;

    // Copies the reporter into the install directory and starts it there. False when it cannot.
    bool Start() {
        std::wstring exe = m_install / L"VELKBugReport.exe";
        if (!CopyFileW((BuildBinDirectory() + L"\\VELKBugReport.exe").c_str(), exe.c_str(), FALSE)) return false;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        // CreateProcessW may write into the command line, so it gets a copy of its own.
        std::wstring commandLine = L"\"" + exe + L"\"";
        if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            m_install.path().c_str(), &startup, &info))
            return false;
        m_process.reset(info.hProcess);
        CloseHandle(info.hThread);
        m_processId = info.dwProcessId;
        return true;
    }

    // Starts the reporter and waits for its dialog to be shown; null when it is not in time.
    HWND StartAndWait(DWORD timeoutMs = 20000) {
        if (!Start()) return nullptr;
        m_dialog = velk::driver::WaitForVisibleDialog(timeoutMs, m_processId);
        return m_dialog;
    }

    HWND Dialog() const { return m_dialog; }
    HWND Item(int id) const { return GetDlgItem(m_dialog, id); }
    HWND Edit() const { return Item(velk::driver::kDescriptionId); }
    std::wstring EditText() const { return velk::driver::GetRemoteText(Edit()); }
    DWORD ProcessId() const { return m_processId; }
    const TempDir& Install() const { return m_install; }

    // The exit code once the process has ended, or STILL_ACTIVE when it has not in time.
    DWORD WaitForExit(DWORD timeoutMs) const {
        if (WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_process.get(), &code);
        return code;
    }
    bool IsRunning() const { return m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT; }

private:
    TempDir m_install;
    velk::unique_handle m_process;
    DWORD m_processId = 0;
    HWND m_dialog = nullptr;
};

}  // namespace velk::test
