// Modal dialogs from dialog templates, with an event table per dialog class and a message
// pre-filter. The dialog runs its own loop: pre-filter, then IsDialogMessage, then translate
// and dispatch; it is the only message loop of the process.
#pragma once

#include <windows.h>

#include <cstddef>

#include "app/framework/controls.h"

namespace velk::ui {

class CModalDialog;

// One adapter per handler signature turns the raw message into the handler's arguments.
// True: handled, with the message's result in `result`; false: default processing runs.
using EventThunk = bool (*)(CModalDialog& dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

// Every colour request (WM_CTLCOLORMSGBOX .. WM_CTLCOLORSTATIC) in one entry: the controls of a
// dialog and the dialog itself ask with different messages, and the handler tells them apart.
constexpr UINT kAnyColorRequest = 0xFFFF0001u;
constexpr int kWindowItself = -1;

// One row of an event table: a window message, or a notification (WM_COMMAND with its code)
// from one control, and the handler for it.
struct EventEntry {
    UINT message;
    UINT code;        // notification code of a WM_COMMAND row; 0 for window messages
    int controlId;    // control of a WM_COMMAND row; kWindowItself for window messages
    EventThunk thunk;
};

struct EventTable {
    const EventEntry* entries;
    size_t count;
};

template <size_t N>
constexpr EventTable MakeEventTable(const EventEntry (&entries)[N]) {
    return EventTable{entries, N};
}

namespace detail {

template <typename Member>
struct HandlerAdapter;

// void OnSomething(): painting, focus and change notifications, command clicks.
template <class T>
struct HandlerAdapter<void (T::*)()> {
    template <void (T::*Handler)()>
    static bool Call(CModalDialog& dialog, UINT, WPARAM, LPARAM, LRESULT& result);
};

// void OnSysCommand(UINT id, LPARAM position): system commands.
template <class T>
struct HandlerAdapter<void (T::*)(UINT, LPARAM)> {
    template <void (T::*Handler)(UINT, LPARAM)>
    static bool Call(CModalDialog& dialog, UINT, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

// LRESULT OnMessage(WPARAM, LPARAM): user messages, posted or sent.
template <class T>
struct HandlerAdapter<LRESULT (T::*)(WPARAM, LPARAM)> {
    template <LRESULT (T::*Handler)(WPARAM, LPARAM)>
    static bool Call(CModalDialog& dialog, UINT, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

// HBRUSH OnColor(HDC, HWND control, UINT kind): colour requests; kind is a CTLCOLOR_* value.
template <class T>
struct HandlerAdapter<HBRUSH (T::*)(HDC, HWND, UINT)> {
    template <HBRUSH (T::*Handler)(HDC, HWND, UINT)>
    static bool Call(CModalDialog& dialog, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

// HICON OnQuery(): drag-icon query.
template <class T>
struct HandlerAdapter<HICON (T::*)()> {
    template <HICON (T::*Handler)()>
    static bool Call(CModalDialog& dialog, UINT, WPARAM, LPARAM, LRESULT& result);
};

template <auto Handler>
constexpr EventThunk ThunkFor() {
    return &HandlerAdapter<decltype(Handler)>::template Call<Handler>;
}

}  // namespace detail

// Rows of an event table.
template <auto Handler>
constexpr EventEntry OnMessage(UINT message) {
    return EventEntry{message, 0, kWindowItself, detail::ThunkFor<Handler>()};
}
template <auto Handler>
constexpr EventEntry OnNotify(UINT code, int controlId) {
    return EventEntry{WM_COMMAND, code, controlId, detail::ThunkFor<Handler>()};
}
template <auto Handler>
constexpr EventEntry OnColorRequest() {
    return EventEntry{kAnyColorRequest, 0, kWindowItself, detail::ThunkFor<Handler>()};
}

class CModalDialog : public CWindowRef {
public:
    // templateId: the dialog resource; parent: owner window, or null for the application's main window
    // (when that is another dialog) or none.
    explicit CModalDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CModalDialog();

    // Creates the window from the template, runs the initialisation hook before the window is shown,
    // runs the modal loop and destroys the window. The result given to EndModal, or -1 when the
    // window cannot be created.
    INT_PTR DoModal();

    // Ends the modal loop once the current message has been handled; the window is destroyed by DoModal.
    void EndModal(INT_PTR result);

    // A message box owned by this dialog; the dialog is disabled while it is open.
    int ShowMessageBox(const std::wstring& text, const std::wstring& caption, UINT type) const;

protected:
    // Initialisation hook, called while the window is hidden. The base binds the controls (loading).
    // True puts the focus on the first tab stop.
    virtual bool OnInitDialog();
    // Control binding: loading (saving == false) attaches the wrappers to their controls; saving
    // confirms that they are still the dialog's controls. False when a control is missing.
    virtual bool ExchangeData(bool saving);
    // Called with every message of the loop before anything else; true means handled, not dispatched.
    virtual bool PreFilterMessage(MSG& message);
    // The event table of the dialog class; the base has none.
    virtual EventTable GetEventTable() const;
    // Defaults for the two standard commands when the table does not take them.
    virtual void OnOK();      // saving data exchange, then the end with IDOK
    virtual void OnCancel();  // the end with IDCANCEL

    // Binds one control in the loading direction, checks it in the saving direction.
    bool BindControl(bool saving, int controlId, CWindowRef& control);

    // The system's default processing of the message being handled, run now; its result.
    LRESULT Default();

    // The module that holds the dialog templates, strings and icons.
    static HINSTANCE ResourceModule();

    HWND GetItem(int controlId) const { return ::GetDlgItem(m_hwnd, controlId); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    const EventEntry* FindEntry(UINT message, WPARAM wParam) const;
    void Detach();

    struct CurrentMessage {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };

    UINT m_templateId;
    HWND m_parent;
    INT_PTR m_result = -1;
    bool m_ending = false;
    CurrentMessage m_current;      // the message whose handler is running, for Default()
    bool m_skipNextDialogProc = false;  // Default() is inside DefDlgProcW, which calls us back first
};

namespace detail {

template <class T>
template <void (T::*Handler)()>
bool HandlerAdapter<void (T::*)()>::Call(CModalDialog& dialog, UINT, WPARAM, LPARAM, LRESULT& result) {
    (static_cast<T&>(dialog).*Handler)();
    result = 0;
    return true;
}

template <class T>
template <void (T::*Handler)(UINT, LPARAM)>
bool HandlerAdapter<void (T::*)(UINT, LPARAM)>::Call(CModalDialog& dialog, UINT, WPARAM wParam, LPARAM lParam,
                                                      LRESULT& result) {
    (static_cast<T&>(dialog).*Handler)(static_cast<UINT>(wParam), lParam);
    result = 0;
    return true;
}

template <class T>
template <LRESULT (T::*Handler)(WPARAM, LPARAM)>
bool HandlerAdapter<LRESULT (T::*)(WPARAM, LPARAM)>::Call(CModalDialog& dialog, UINT, WPARAM wParam, LPARAM lParam,
                                                           LRESULT& result) {
    result = (static_cast<T&>(dialog).*Handler)(wParam, lParam);
    return true;
}

template <class T>
template <HBRUSH (T::*Handler)(HDC, HWND, UINT)>
bool HandlerAdapter<HBRUSH (T::*)(HDC, HWND, UINT)>::Call(CModalDialog& dialog, UINT message, WPARAM wParam,
                                                           LPARAM lParam, LRESULT& result) {
    // The CTLCOLOR_* kinds are the WM_CTLCOLOR* messages counted from WM_CTLCOLORMSGBOX.
    HBRUSH brush = (static_cast<T&>(dialog).*Handler)(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                                      message - WM_CTLCOLORMSGBOX);
    result = reinterpret_cast<LRESULT>(brush);
    return true;
}

template <class T>
template <HICON (T::*Handler)()>
bool HandlerAdapter<HICON (T::*)()>::Call(CModalDialog& dialog, UINT, WPARAM, LPARAM, LRESULT& result) {
    result = reinterpret_cast<LRESULT>((static_cast<T&>(dialog).*Handler)());
    return true;
}

}  // namespace detail

}  // namespace velk::ui
