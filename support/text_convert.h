// Conversions between the system's wide text and the narrow text at its boundaries:
// UTF-8 (HTTP body, UserInfo.json) and the ANSI code page (INFOLOG.TXT values).
#pragma once

#include <string>

namespace velk {

// Code page explicit: the named conversions below are this with CP_UTF8 or CP_ACP.
std::string WideToMultiByte(const wchar_t* text, unsigned codePage);

std::string WideToUtf8(const wchar_t* text);
std::string WideToAnsi(const wchar_t* text);
std::wstring Utf8ToWide(const char* text);

inline std::string WideToUtf8(const std::wstring& text) { return WideToUtf8(text.c_str()); }
inline std::string WideToAnsi(const std::wstring& text) { return WideToAnsi(text.c_str()); }
inline std::wstring Utf8ToWide(const std::string& text) { return Utf8ToWide(text.c_str()); }

}  // namespace velk
