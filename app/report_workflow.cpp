// The report workflow: from the user's decision to the end of the dialog. For now confirming ends
// the dialog at once and nothing is uploaded; closing ends it through the default close processing.
#include "app/report_dialog.h"

void CVELKBugReportDlg::OnConfirm() {
    CModalDialog::OnOK();
}

LRESULT CVELKBugReportDlg::OnUploadFinished(WPARAM, LPARAM) {
    CModalDialog::OnOK();
    return 0;
}

void CVELKBugReportDlg::OnCloseRequest() {
    // The default processing of a close request ends the dialog with IDCANCEL.
    Default();
}

unsigned __stdcall CVELKBugReportDlg::UploadThreadProc(void*) {
    return 0;
}
