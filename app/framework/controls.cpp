// The control wrappers: text, selection, check state, fonts and string resources.
#include "app/framework/controls.h"

#include <algorithm>

namespace velk::ui {

std::wstring CWindowRef::GetText() const {
    if (!m_hwnd) return {};
    int length = ::GetWindowTextLengthW(m_hwnd);
    if (length <= 0) return {};
    // GetWindowTextW counts the terminating zero in the buffer size, hence n + 1.
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = ::GetWindowTextW(m_hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

void CEditBox::GetSel(DWORD& start, DWORD& end) const {
    start = end = 0;
    Send(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
}

bool CScreenFont::CreatePointFont(int tenthsOfPoint, const wchar_t* faceName) {
    m_font.reset();
    HDC screen = ::GetDC(nullptr);
    if (!screen) return false;
    // A point is 1/72 inch: the height in pixels is tenths * dpi / 720, negative to ask for the
    // character height rather than the cell height.
    int height = -::MulDiv(tenthsOfPoint, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
    ::ReleaseDC(nullptr, screen);

    LOGFONTW font = {};
    font.lfHeight = height;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    lstrcpynW(font.lfFaceName, faceName, LF_FACESIZE);
    m_font.reset(::CreateFontIndirectW(&font));
    return static_cast<bool>(m_font);
}

std::wstring LoadResourceString(HINSTANCE module, UINT id) {
    // With a buffer size of 0 LoadStringW hands back a pointer into the read-only resource and the
    // length, so no text is cut to a guessed buffer size. The resource text is not zero-terminated.
    const wchar_t* text = nullptr;
    int length = ::LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return {};
    return std::wstring(text, static_cast<size_t>(length));
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

}  // namespace velk::ui
