// The report workflow: from the user's decision to the end of the dialog. Confirming restarts the
// main application when asked, shows the description's length, uploads on one worker thread and
// hides the dialog until the worker reports back; closing deletes the archive and sends nothing.
#include "app/report_dialog.h"

#include <windows.h>
#include <process.h>

#include <string>

#include "support/format_wide.h"
#include "support/path_join.h"
#include "upload/upload_report.h"

namespace velk {

namespace {

// TovrekCRM.exe in the reporter's own directory, started as an independent process. A failure
// (missing, no rights) is ignored: the upload goes on all the same.
void RestartMainApplication(const std::wstring& directory) {
    // Joined without doubling the separator: at a drive root the directory already ends in one.
    const std::wstring path = JoinPath(directory, L"TovrekCRM.exe");

    // The full path as the application name, so that the system never searches for it, and quoted
    // in the command line: unquoted, "C:\Program Files\Tovrek\TovrekCRM.exe" would first be tried
    // as C:\Program.exe. The command line must be writable: CreateProcessW may change it in place.
    std::wstring commandLine = L"\"" + path + L"\"";

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);  // 68 in the 32-bit release build
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &process)) {
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
}

}  // namespace

void CVELKBugReportDlg::OnConfirm() {
    if (m_restartCheck.GetCheck() != 0) RestartMainApplication(m_exeDir);

    m_description = m_descriptionEdit.GetText();
    // The length in UTF-16 code units; the dialog is disabled as the box's owner until it is dismissed.
    ShowMessageBox(FormatWide(L"%d", static_cast<int>(m_description.size())), L"", 0);

    unsigned threadId = 0;
    uintptr_t thread = ::_beginthreadex(nullptr, 0, &CVELKBugReportDlg::UploadThreadProc, this, 0, &threadId);
    if (thread == 0) {
        // Without a worker no WM_UPLOAD_FINISHED would ever come and the hidden dialog would wait
        // for ever: end now, as the end of an upload would.
        ::DeleteFileW(m_archivePath.c_str());
        CModalDialog::OnOK();
        return;
    }
    m_uploadThread.reset(reinterpret_cast<HANDLE>(thread));
    m_uploadThreadId = threadId;

    // Invisible but still in its modal loop until the worker's message arrives; the default OK
    // processing is not run here, so the dialog does not end yet.
    ::ShowWindow(m_hwnd, SW_HIDE);
}

unsigned __stdcall CVELKBugReportDlg::UploadThreadProc(void* parameter) {
    const CVELKBugReportDlg& dialog = *static_cast<const CVELKBugReportDlg*>(parameter);
    UploadRequest request;
    request.url = dialog.m_uploadUrl;
    request.archivePath = dialog.m_archivePath;
    request.description = dialog.m_description;
    // Anywhere in the address and case-sensitive, not a test of the scheme alone.
    request.secure = dialog.m_uploadUrl.find(L"https:") != std::wstring::npos;
    // Used only before the message is posted; after that the worker touches nothing of the dialog.
    request.readAccountName = [&dialog] { return dialog.ReadAccountName(); };
    request.notifyWindow = dialog.m_hwnd;
    UploadReport(request);
    return 0;
}

LRESULT CVELKBugReportDlg::OnUploadFinished(WPARAM, LPARAM) {
    CModalDialog::OnOK();
    // The upload has closed the archive before posting, so this delete finds it free.
    ::DeleteFileW(m_archivePath.c_str());
    return 0;
}

void CVELKBugReportDlg::OnCloseRequest() {
    ::DeleteFileW(m_archivePath.c_str());
    // The default processing of a close request ends the dialog with IDCANCEL.
    Default();
}

}  // namespace velk
