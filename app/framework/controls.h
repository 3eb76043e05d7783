// Window references and the thin control wrappers our dialogs use: the edit box, the button and
// a font that lives as long as its owner. Window objects are never copied: one object, one window.
#pragma once

#include <windows.h>

#include <string>

#include "support/unique_any.h"

namespace velk::ui {

// A window we talk to; it does not own the window (the system destroys children with their dialog).
class CWindowRef {
public:
    CWindowRef() = default;
    CWindowRef(const CWindowRef&) = delete;
    CWindowRef& operator=(const CWindowRef&) = delete;

    HWND GetHwnd() const { return m_hwnd; }
    bool IsAttached() const { return m_hwnd != nullptr; }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hwnd, message, wParam, lParam);
    }
    std::wstring GetText() const;
    void SetText(const std::wstring& text) const { ::SetWindowTextW(m_hwnd, text.c_str()); }

protected:
    friend class CModalDialog;  // binds controls during data exchange and clears the dialog's own handle
    HWND m_hwnd = nullptr;
};

// The multi-line description box and any other edit control.
class CEditBox : public CWindowRef {
public:
    // EM_GETSEL with pointers: the packed return value would cut positions above 65535.
    void GetSel(DWORD& start, DWORD& end) const;
    void SetSel(int start, int end) const { Send(EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end)); }
    void ScrollCaret() const { Send(EM_SCROLLCARET); }
    void SetFont(HFONT font, bool redraw) const { Send(WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw, 0)); }
};

// Push buttons and check boxes.
class CButtonBox : public CWindowRef {
public:
    int GetCheck() const { return static_cast<int>(Send(BM_GETCHECK)); }
    void SetCheck(int state) const { Send(BM_SETCHECK, static_cast<WPARAM>(state)); }
};

// A font owned by a window object; the system object is deleted with it.
class CScreenFont {
public:
    CScreenFont() = default;
    CScreenFont(const CScreenFont&) = delete;
    CScreenFont& operator=(const CScreenFont&) = delete;

    // Size in tenths of a point, measured on the screen. False (and no font) when the system refuses.
    bool CreatePointFont(int tenthsOfPoint, const wchar_t* faceName);
    HFONT Get() const { return static_cast<HFONT>(m_font.get()); }

private:
    velk::unique_hgdiobj m_font;
};

// A string resource of the executable; empty when it is missing.
std::wstring LoadResourceString(HINSTANCE module, UINT id);

// Case-insensitive comparison of whole texts, independent of the user's locale.
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

}  // namespace velk::ui
