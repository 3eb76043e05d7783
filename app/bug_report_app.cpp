// Start-up of the reporter, in its fixed order.
#include "app/bug_report_app.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <new>

#include "app/report_dialog.h"

namespace velk {

CVELKBugReportApp theApp;

CVELKBugReportApp::CVELKBugReportApp() {
    // Restart only: no recovery and no autosave.
    m_restartFlags = kRestartOnly;
}

bool CVELKBugReportApp::InitInstance() {
    // Size 8 is the structure's own size; 0xFF asks for all the classes of the first common controls.
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    InitApplicationBase();
    EnableControlHosting();
    std::unique_ptr<ui::CShellServices> shell(new (std::nothrow) ui::CShellServices());
    UseNativeVisualStyle();
    SetSettingsKey(L"应用程序向导生成的本地应用程序");

    CVELKBugReportDlg dialog;
    m_mainWindow = &dialog;
    // Confirmed, closed or never created: every run ends the same way.
    dialog.DoModal();

    shell.reset();
    return false;  // the dialog, a local, is destroyed on the way out
}

}  // namespace velk
