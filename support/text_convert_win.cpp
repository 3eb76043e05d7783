// Win32 side of the text conversions: WideCharToMultiByte and MultiByteToWideChar.
#include "support/text_convert.h"

#include <windows.h>

#include <vector>

namespace velk {

std::string WideToMultiByte(const wchar_t* text, unsigned codePage) {
    if (text == nullptr || *text == L'\0') return {};
    // No flags and no default character: what the code page lacks becomes its default character.
    int size = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    if (::WideCharToMultiByte(codePage, 0, text, -1, buffer.data(), size, nullptr, nullptr) <= 0) return {};
    return std::string(buffer.data());
}

std::string WideToUtf8(const wchar_t* text) { return WideToMultiByte(text, CP_UTF8); }

std::string WideToAnsi(const wchar_t* text) { return WideToMultiByte(text, CP_ACP); }

std::wstring Utf8ToWide(const char* text) {
    if (text == nullptr || *text == '\0') return {};
    int bytes = static_cast<int>(strlen(text));
    int count = ::MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
    if (count <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(count) + 1, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, bytes, buffer.data(), count);
    return std::wstring(buffer.data(), static_cast<size_t>(count));
}

}  // namespace velk
