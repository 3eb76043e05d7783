// Acting on the reporter's dialog from another process, as a user would: finding it, reading the
// description box, typing, pasting, ticking, clicking, the message box and the close box.
// Used by dialog_driver.exe and linked straight into the GUI tests.
#pragma once

#include <windows.h>

#include <string>

namespace velk::driver {

// The title of the error report dialog.
extern const wchar_t kReportDialogTitle[];

constexpr int kOkButtonId = 1;
constexpr int kDescriptionId = 1000;
constexpr int kRestartCheckId = 1001;

// The reporter's dialog, visible or hidden; null when there is none. With a process id, only that
// process's dialog counts.
HWND FindReportDialog(DWORD processId = 0);

// Polls every 20 ms; false when time ran out.
HWND WaitForVisibleDialog(DWORD timeoutMs, DWORD processId = 0);
bool WaitUntilGone(DWORD timeoutMs, DWORD processId = 0);

// A window's text, through WM_GETTEXT (which the system carries across processes).
std::wstring GetRemoteText(HWND window);

// The window with the keyboard focus in the thread that owns `window`; null when unknown.
HWND GetRemoteFocus(HWND window);

// Clicks into a control (button down and up near its bottom-right corner, which puts an edit
// box's caret at the end of a short text), as a user would, and waits until the focus is there.
// False when it never arrives.
bool ClickInto(HWND control);

// Sends each UTF-16 code unit as its own WM_CHAR, so a character outside the BMP arrives in two halves.
bool TypeUnits(HWND edit, const std::wstring& text);

// Puts the text on the clipboard and sends WM_PASTE.
bool PasteText(HWND edit, const std::wstring& text);

// Unticks a ticked check box the way a click does (BM_CLICK); nothing when it is not ticked.
bool Uncheck(HWND checkBox);

// Posts a click to a button; posted, because the handler may open a modal box and not return.
bool PostClick(HWND button);

// A visible message box (or any dialog) owned by `owner`; null when none came in time.
HWND WaitForOwnedMessageBox(HWND owner, DWORD timeoutMs);
std::wstring MessageBoxText(HWND box);
bool PressMessageBoxOk(HWND box);

// The close box: WM_SYSCOMMAND with SC_CLOSE.
bool RequestClose(HWND dialog);

}  // namespace velk::driver
