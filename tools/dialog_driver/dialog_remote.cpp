// The dialog actions. Every call into the reporter's thread goes with a time-out, so a reporter
// that hangs makes the driver fail instead of hang.
#include "tools/dialog_driver/dialog_remote.h"

#include <cstring>

namespace velk::driver {

const wchar_t kReportDialogTitle[] = L"错误报告";

namespace {

constexpr DWORD kPollMs = 20;
constexpr UINT kSendTimeoutMs = 5000;

// True when the call reached the window's thread and came back in time.
bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result = nullptr) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                                 result ? result : &ignored) != 0;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

struct DialogSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchReportDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    if (ClassOf(window) != L"#32770") return TRUE;
    if (search->processId) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != search->processId) return TRUE;
    }
    // GetWindowTextW on a window of another process reads the title the system keeps, no message needed.
    wchar_t title[64] = {};
    ::GetWindowTextW(window, title, 64);
    if (std::wcscmp(title, kReportDialogTitle) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<OwnedSearch*>(param);
    if (::GetWindow(window, GW_OWNER) == search->owner && ::IsWindowVisible(window) && ClassOf(window) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct TextSearch {
    std::wstring text;
};

BOOL CALLBACK FindStaticText(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<TextSearch*>(param);
    if (ClassOf(child) != L"Static") return TRUE;
    if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return TRUE;
    std::wstring text = GetRemoteText(child);
    if (text.empty()) return TRUE;
    search->text = text;
    return FALSE;
}

}  // namespace

HWND FindReportDialog(DWORD processId) {
    DialogSearch search{processId, nullptr};
    ::EnumWindows(&MatchReportDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForVisibleDialog(DWORD timeoutMs, DWORD processId) {
    ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        HWND dialog = FindReportDialog(processId);
        if (dialog && ::IsWindowVisible(dialog)) return dialog;
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(kPollMs);
    }
}

bool WaitUntilGone(DWORD timeoutMs, DWORD processId) {
    ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (!FindReportDialog(processId)) return true;
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(kPollMs);
    }
}

std::wstring GetRemoteText(HWND window) {
    DWORD_PTR length = 0;
    if (!window || !SendWithTimeout(window, WM_GETTEXTLENGTH, 0, 0, &length)) return {};
    // WM_GETTEXT's size counts the terminating zero, hence n + 1.
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendWithTimeout(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), &copied)) return {};
    text.resize(copied < length ? copied : length);
    return text;
}

HWND GetRemoteFocus(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
    if (!thread || !::GetGUIThreadInfo(thread, &info)) return nullptr;
    return info.hwndFocus;
}

bool ClickInto(HWND control) {
    if (!control) return false;
    // Near the bottom-right corner, below the last line of a short text, so the caret goes to the
    // end of the text as it does when a user clicks into the empty part of the box. Posted, as the
    // system's mouse input is: it passes through the reporter's own loop.
    RECT client = {};
    ::GetClientRect(control, &client);
    LPARAM at = MAKELPARAM(client.right > 4 ? client.right - 3 : 1, client.bottom > 4 ? client.bottom - 3 : 1);
    ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::PostMessageW(control, WM_LBUTTONUP, 0, at);
    ULONGLONG deadline = ::GetTickCount64() + 3000;
    while (GetRemoteFocus(control) != control) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(kPollMs);
    }
    // The focus change is seen before the box has finished with the button-up; a round trip
    // through its thread makes sure the posted pair has been handled.
    return SendWithTimeout(control, WM_NULL, 0, 0);
}

bool TypeUnits(HWND edit, const std::wstring& text) {
    for (wchar_t unit : text)
        if (!SendWithTimeout(edit, WM_CHAR, unit, 1)) return false;
    return true;
}

bool PasteText(HWND edit, const std::wstring& text) {
    // SetClipboardData fails for a clipboard opened without a window: the owner would be null.
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!owner) return false;
    bool opened = false;
    for (int attempt = 0; attempt < 100 && !opened; ++attempt) {
        opened = ::OpenClipboard(owner) != 0;  // another program may hold it for a moment
        if (!opened) ::Sleep(kPollMs);
    }
    bool placed = false;
    if (opened) {
        ::EmptyClipboard();
        size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
        if (memory) {
            std::memcpy(::GlobalLock(memory), text.c_str(), bytes);
            ::GlobalUnlock(memory);
            placed = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
            if (!placed) ::GlobalFree(memory);  // the clipboard owns it only when the call succeeds
        }
        ::CloseClipboard();
    }
    bool pasted = placed && SendWithTimeout(edit, WM_PASTE, 0, 0);
    ::DestroyWindow(owner);
    return pasted;
}

bool Uncheck(HWND checkBox) {
    DWORD_PTR state = 0;
    if (!checkBox || !SendWithTimeout(checkBox, BM_GETCHECK, 0, 0, &state)) return false;
    if (state != BST_CHECKED) return true;
    return SendWithTimeout(checkBox, BM_CLICK, 0, 0) && SendWithTimeout(checkBox, BM_GETCHECK, 0, 0, &state) &&
           state == BST_UNCHECKED;
}

bool PostClick(HWND button) {
    return button && ::PostMessageW(button, BM_CLICK, 0, 0);
}

HWND WaitForOwnedMessageBox(HWND owner, DWORD timeoutMs) {
    ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        OwnedSearch search{owner, nullptr};
        ::EnumWindows(&MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(kPollMs);
    }
}

std::wstring MessageBoxText(HWND box) {
    // The message is the one static control with text; the icon, when there is one, has none.
    TextSearch search;
    ::EnumChildWindows(box, &FindStaticText, reinterpret_cast<LPARAM>(&search));
    return search.text;
}

bool PressMessageBoxOk(HWND box) {
    if (HWND ok = ::GetDlgItem(box, IDOK)) return PostClick(ok);
    return ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) != 0;
}

bool RequestClose(HWND dialog) {
    return dialog && ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) != 0;
}

}  // namespace velk::driver
