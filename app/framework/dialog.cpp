// The modal dialog: creation from a template, the dialog procedure that consults the event table,
// default processing on request, and the one modal loop.
#include "app/framework/dialog.h"

#include "app/framework/application.h"

namespace velk::ui {

CModalDialog::CModalDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

CModalDialog::~CModalDialog() {
    // A dialog object that dies with its window still open (DoModal never returns that way, but an
    // exception could) must not leave the window calling back into freed memory.
    if (m_hwnd) {
        ::SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
        ::DestroyWindow(m_hwnd);
    }
    Detach();
}

HINSTANCE CModalDialog::ResourceModule() {
    return ::GetModuleHandleW(nullptr);
}

INT_PTR CModalDialog::DoModal() {
    HWND owner = m_parent;
    if (!owner) {
        CApplication* app = CApplication::Current();
        if (app && app->m_mainWindow && app->m_mainWindow != this) owner = app->m_mainWindow->GetHwnd();
    }
    m_result = -1;
    m_ending = false;

    // The owner takes no input while we run, as with the system's own modal boxes; disabled before
    // creation so that not even the first clicks reach it.
    bool reenableOwner = owner && ::IsWindowEnabled(owner);
    if (reenableOwner) ::EnableWindow(owner, FALSE);

    // The template's WS_VISIBLE makes the system show the window only after WM_INITDIALOG has been
    // handled, so the initialisation hook always runs on a hidden window.
    HWND hwnd = ::CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(m_templateId), owner, &CModalDialog::DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    if (hwnd && !m_ending && !::IsWindowVisible(hwnd)) {
        // A template without WS_VISIBLE (the About box) is shown here, once its initialisation is done.
        ::ShowWindow(hwnd, SW_SHOWNORMAL);
    }
    if (hwnd) {
        while (!m_ending && m_hwnd) {
            MSG message;
            BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
            if (got == -1) break;  // only for a bad window filter, which we never pass; do not spin
            if (got == 0) {
                // WM_QUIT ends every loop; put it back for whoever runs outside this dialog.
                ::PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            if (PreFilterMessage(message)) continue;
            // IsDialogMessageW dispatches whatever it takes itself, so it must not be dispatched again.
            if (::IsDialogMessageW(m_hwnd, &message)) continue;
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }

    if (reenableOwner) ::EnableWindow(owner, TRUE);
    if (m_hwnd) {
        // Activation goes back to the owner before the window disappears; otherwise the system would
        // activate some other top-level window (or none, without a window manager).
        if (owner && ::GetActiveWindow() == m_hwnd) ::SetActiveWindow(owner);
        ::DestroyWindow(m_hwnd);
    }
    return m_result;
}

void CModalDialog::EndModal(INT_PTR result) {
    m_result = result;
    m_ending = true;
    // Wakes the loop when the end was asked for outside one of its own dispatches.
    if (m_hwnd) ::PostMessageW(m_hwnd, WM_NULL, 0, 0);
}

int CModalDialog::ShowMessageBox(const std::wstring& text, const std::wstring& caption, UINT type) const {
    return ::MessageBoxW(m_hwnd, text.c_str(), caption.c_str(), type);
}

bool CModalDialog::OnInitDialog() {
    ExchangeData(false);
    return true;
}

bool CModalDialog::ExchangeData(bool) {
    return true;
}

bool CModalDialog::PreFilterMessage(MSG&) {
    return false;
}

EventTable CModalDialog::GetEventTable() const {
    return EventTable{nullptr, 0};
}

void CModalDialog::OnOK() {
    ExchangeData(true);  // only confirms the bindings; the end comes whatever it says
    EndModal(IDOK);
}

void CModalDialog::OnCancel() {
    EndModal(IDCANCEL);
}

bool CModalDialog::BindControl(bool saving, int controlId, CWindowRef& control) {
    HWND item = GetItem(controlId);
    if (!saving) {
        control.m_hwnd = item;
        return item != nullptr;
    }
    return item != nullptr && control.m_hwnd == item;
}

LRESULT CModalDialog::Default() {
    if (!m_hwnd) return 0;
    // DefDlgProcW first asks the dialog procedure again with the same message; that call must fall
    // through to the system instead of coming back to the handler that asked for the default.
    m_skipNextDialogProc = true;
    LRESULT result = ::DefDlgProcW(m_hwnd, m_current.message, m_current.wParam, m_current.lParam);
    m_skipNextDialogProc = false;
    return result;
}

void CModalDialog::Detach() {
    CApplication* app = CApplication::Current();
    if (app && app->m_mainWindow == this) app->m_mainWindow = nullptr;
    m_hwnd = nullptr;
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CModalDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        // The object arrives with WM_INITDIALOG; the few messages before it (WM_SETFONT) get the defaults.
        dialog = reinterpret_cast<CModalDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        dialog->m_hwnd = hwnd;
    } else {
        dialog = reinterpret_cast<CModalDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!dialog) return FALSE;
    if (dialog->m_skipNextDialogProc) {
        dialog->m_skipNextDialogProc = false;
        return FALSE;
    }
    return dialog->HandleMessage(message, wParam, lParam);
}

const EventEntry* CModalDialog::FindEntry(UINT message, WPARAM wParam) const {
    EventTable table = GetEventTable();
    bool colorRequest = message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
    for (size_t i = 0; i < table.count; ++i) {
        const EventEntry& entry = table.entries[i];
        if (message == WM_COMMAND) {
            if (entry.message == WM_COMMAND && entry.code == HIWORD(wParam) &&
                entry.controlId == static_cast<int>(LOWORD(wParam)))
                return &entry;
        } else if (entry.message == message || (colorRequest && entry.message == kAnyColorRequest)) {
            return &entry;
        }
    }
    return nullptr;
}

INT_PTR CModalDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog() ? TRUE : FALSE;
    if (message == WM_NCDESTROY) {
        Detach();
        return FALSE;  // the system frees its own dialog data on this message
    }

    CurrentMessage outer = m_current;  // handlers may send messages that come back here
    m_current = CurrentMessage{message, wParam, lParam};
    LRESULT result = 0;
    bool handled = false;
    if (const EventEntry* entry = FindEntry(message, wParam)) {
        handled = entry->thunk(*this, message, wParam, lParam, result);
    } else if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        // The close request's default processing and the Enter key arrive as IDCANCEL and IDOK.
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            handled = true;
        } else if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            handled = true;
        }
    }
    m_current = outer;
    if (!handled) return FALSE;

    // These messages return their result from the dialog procedure itself; all others through
    // DWLP_MSGRESULT, with TRUE saying that the message was handled.
    if ((message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) || message == WM_QUERYDRAGICON ||
        message == WM_COMPAREITEM || message == WM_VKEYTOITEM || message == WM_CHARTOITEM)
        return static_cast<INT_PTR>(result);
    if (m_hwnd) ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace velk::ui
