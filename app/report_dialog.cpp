// The error report dialog: its initialisation (which drives the whole collection of crash
// material) and its input behaviour. Confirmation, the end of the upload and the close request
// are in report_workflow.cpp.
#include "app/report_dialog.h"

#include "app/about_dialog.h"
#include "app/description_limit.h"
#include "app/resource.h"

namespace velk {

namespace {

// Stays in the box until the user clicks into it; sent as it is when the user never does.
const wchar_t kDescriptionHint[] = L"请您描述一下刚刚是怎么操作的？";

bool KeyIsDown(int virtualKey) {
    // The high bit of GetAsyncKeyState is the key's state at this moment, not when the message was queued.
    return (::GetAsyncKeyState(virtualKey) & 0x8000) != 0;
}

}  // namespace

CVELKBugReportDlg::CVELKBugReportDlg() : CModalDialog(IDD_VELKBUGREPORT_DIALOG) {
    m_icon = ::LoadIconW(ResourceModule(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

ui::EventTable CVELKBugReportDlg::GetEventTable() const {
    using D = CVELKBugReportDlg;
    static const ui::EventEntry kEvents[] = {
        ui::OnMessage<&D::OnAboutCommand>(WM_SYSCOMMAND),
        ui::OnMessage<&D::OnPaintIcon>(WM_PAINT),
        ui::OnMessage<&D::OnQueryDragIcon>(WM_QUERYDRAGICON),
        ui::OnNotify<&D::OnDescriptionFocus>(EN_SETFOCUS, IDC_DESCRIPTION),
        ui::OnNotify<&D::OnDescriptionBlur>(EN_KILLFOCUS, IDC_DESCRIPTION),
        ui::OnColorRequest<&D::OnDescriptionColor>(),
        ui::OnNotify<&D::OnConfirm>(BN_CLICKED, IDOK),
        ui::OnNotify<&D::OnDescriptionChange>(EN_CHANGE, IDC_DESCRIPTION),
        ui::OnMessage<&D::OnUploadFinished>(WM_UPLOAD_FINISHED),
        ui::OnMessage<&D::OnCloseRequest>(WM_CLOSE),
    };
    return ui::MakeEventTable(kEvents);
}

bool CVELKBugReportDlg::ExchangeData(bool saving) {
    bool description = BindControl(saving, IDC_DESCRIPTION, m_descriptionEdit);
    bool restart = BindControl(saving, IDC_RESTART, m_restartCheck);
    return description && restart;
}

bool CVELKBugReportDlg::InitReportDialog() {
    CModalDialog::OnInitDialog();

    if (HMENU systemMenu = ::GetSystemMenu(m_hwnd, FALSE)) {
        std::wstring aboutText = ui::LoadResourceString(ResourceModule(), IDS_ABOUTBOX);
        if (!aboutText.empty()) {
            ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, aboutText.c_str());
        }
    }

    Send(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    Send(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    ::SetDlgItemTextW(m_hwnd, IDC_DESCRIPTION, kDescriptionHint);
    // When the font cannot be made the box gets a null font, which means the system font.
    m_descriptionFont.CreatePointFont(100, L"微软雅黑");
    m_descriptionEdit.SetFont(m_descriptionFont.Get(), true);
    m_restartCheck.SetCheck(BST_CHECKED);

    // The collection, on this thread and before the dialog is shown; nothing here stops the dialog.
    FillExeDir();
    CollectReport();
    return true;
}

void CVELKBugReportDlg::OnAboutCommand(UINT id, LPARAM) {
    // The system keeps its own flags in the low four bits of a system command.
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        Default();
    }
}

void CVELKBugReportDlg::OnPaintIcon() {
    if (!::IsIconic(m_hwnd)) {
        Default();
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hwnd, &paint);
    Send(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(m_hwnd, &client);
    int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_icon);
    ::EndPaint(m_hwnd, &paint);
}

HICON CVELKBugReportDlg::OnQueryDragIcon() {
    return m_icon;
}

void CVELKBugReportDlg::OnDescriptionFocus() {
    if (ui::EqualsNoCase(m_descriptionEdit.GetText(), kDescriptionHint)) m_descriptionEdit.SetText(L"");
}

void CVELKBugReportDlg::OnDescriptionBlur() {
    // Only an empty box gets the hint back; a text of blanks is the user's.
    if (m_descriptionEdit.GetText().empty()) m_descriptionEdit.SetText(kDescriptionHint);
}

HBRUSH CVELKBugReportDlg::OnDescriptionColor(HDC dc, HWND control, UINT) {
    // The default processing sets the system's colours and gives the brush; the grey goes on top.
    HBRUSH brush = reinterpret_cast<HBRUSH>(Default());
    if (control && ::GetDlgCtrlID(control) == IDC_DESCRIPTION) ::SetTextColor(dc, RGB(128, 128, 128));
    return brush;
}

bool CVELKBugReportDlg::FilterKeyDown(MSG& message) {
    if (message.message != WM_KEYDOWN) return CModalDialog::PreFilterMessage(message);
    // Escape would reach the dialog as IDCANCEL and close it; here it does nothing, in every control.
    if (message.wParam == VK_ESCAPE) return true;
    // The keys' state decides, not the message's key: any key-down for the box while Control and A
    // are both held toggles, the repeats of a held A included.
    if (KeyIsDown(VK_CONTROL) && KeyIsDown('A') && message.hwnd == m_descriptionEdit.GetHwnd()) {
        std::wstring text = m_descriptionEdit.GetText();
        DWORD start = 0, end = 0;
        m_descriptionEdit.GetSel(start, end);
        // All selected (an empty box counts as that): the caret goes to the end with nothing
        // selected, as 65535 is clamped to the text's end; otherwise everything is selected.
        if (text.size() == end - start)
            m_descriptionEdit.SetSel(65535, 65535);
        else
            m_descriptionEdit.SetSel(0, -1);
        m_descriptionEdit.ScrollCaret();
        return true;
    }
    return CModalDialog::PreFilterMessage(message);
}

void CVELKBugReportDlg::OnDescriptionChange() {
    if (m_cuttingDescription) return;
    std::wstring text = m_descriptionEdit.GetText();
    if (Utf8SizeWithTerminator(text) <= kDescriptionMaxUtf8Size) return;

    // A multi-line box raises no change event for a text we set, but a single-line one would, and
    // the cut of a 200-unit text is that text again: never let the cut feed itself.
    m_cuttingDescription = true;
    m_descriptionEdit.SetText(CutDescription(text));
    m_cuttingDescription = false;
    // The old length is past the new end; the box puts the caret at the end.
    m_descriptionEdit.SetSel(static_cast<int>(text.size()), static_cast<int>(text.size()));
    m_descriptionEdit.ScrollCaret();
}

}  // namespace velk
