// The description's length limit.
#include "app/description_limit.h"

#include <windows.h>

#include <algorithm>

namespace velk {

namespace {
bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
}  // namespace

int Utf8SizeWithTerminator(const std::wstring& text) {
    // Length -1 counts the terminating zero; no output buffer asks only for the size.
    return ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
}

std::wstring CutDescription(const std::wstring& text) {
    std::wstring kept = text.substr(0, std::min(text.size(), kDescriptionKeptUnits));
    while (!kept.empty()) {
        wchar_t last = kept.back();
        bool partnerCutOff = IsHighSurrogate(last) && kept.size() < text.size();
        bool partnerGone = IsLowSurrogate(last) && !(kept.size() >= 2 && IsHighSurrogate(kept[kept.size() - 2]));
        if (!partnerCutOff && !partnerGone) break;
        kept.pop_back();
    }
    return kept;
}

}  // namespace velk
