// The error report dialog, dialog resource 102: the one window the user sees. Its initialisation
// collects the crash material (through CReportData); confirming hands over to the report workflow.
#pragma once

#include <windows.h>

#include "app/framework/dialog.h"
#include "report/report_data.h"
#include "support/unique_any.h"
#include "upload/upload_report.h"

namespace velk {

class CVELKBugReportDlg : public ui::CModalDialog, public CReportData {
public:
    CVELKBugReportDlg();

protected:
    bool ExchangeData(bool saving) override;
    bool PreFilterMessage(MSG& message) override { return FilterKeyDown(message); }
    bool OnInitDialog() override { return InitReportDialog(); }
    ui::EventTable GetEventTable() const override;

    bool FilterKeyDown(MSG& message);
    bool InitReportDialog();

    // Event handlers, in the order of the event table.
    void OnAboutCommand(UINT id, LPARAM position);
    void OnPaintIcon();
    HICON OnQueryDragIcon();
    void OnDescriptionFocus();
    void OnDescriptionBlur();
    HBRUSH OnDescriptionColor(HDC dc, HWND control, UINT kind);
    void OnConfirm();
    void OnDescriptionChange();
    LRESULT OnUploadFinished(WPARAM wParam, LPARAM lParam);
    void OnCloseRequest();

    // The upload worker's procedure; its parameter is the dialog.
    static unsigned __stdcall UploadThreadProc(void* dialog);

    HICON m_icon = nullptr;                  // resource 128; shared resource icons are never destroyed
    ui::CEditBox m_descriptionEdit;          // control 1000
    ui::CScreenFont m_descriptionFont;
    ui::CButtonBox m_restartCheck;           // control 1001
    // The upload worker, none until started. Only its handle is closed with the dialog: the worker
    // is never waited for, it has posted its last message and touches nothing of ours.
    unique_handle m_uploadThread;
    unsigned m_uploadThreadId = 0;

private:
    bool m_cuttingDescription = false;       // our own cut must not count as the user's change
};

}  // namespace velk
