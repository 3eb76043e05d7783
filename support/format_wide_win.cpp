// FormatWide over the runtime's counting formatter, so that no text is ever cut to a buffer.
#include "support/format_wide.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace velk {

namespace {

std::wstring FormatWideV(const wchar_t* format, va_list args) {
    if (format == nullptr) return {};
    va_list counting;
    va_copy(counting, args);
    int count = _vscwprintf(format, counting);
    va_end(counting);
    if (count <= 0) return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(count) + 1, L'\0');
    int written = _vsnwprintf(buffer.data(), buffer.size(), format, args);
    if (written <= 0) return {};
    return std::wstring(buffer.data(), static_cast<size_t>(written));
}

}  // namespace

std::wstring FormatWide(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWideV(format, args);
    va_end(args);
    return text;
}

}  // namespace velk
