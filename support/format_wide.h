// printf-style formatting of wide text into a string of the length it needs.
#pragma once

#include <string>

namespace velk {

// Empty when formatting yields nothing. Wide strings are passed as %ls: %s is a narrow one here.
std::wstring FormatWide(const wchar_t* format, ...);

}  // namespace velk
