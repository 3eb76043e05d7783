// The description's length limit, counted here rather than by the system's converter so that the
// rule has no Win32 in it and is checked natively too.
#include "app/description_limit.h"

#include <algorithm>

namespace velk {

namespace {
bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
}  // namespace

int Utf8SizeWithTerminator(const std::wstring& text) {
    // As the converter counts a zero-terminated text: up to the first zero, which counts as one.
    // A unit above 0xFFFF only occurs where wchar_t is 32 bits wide (native builds).
    int size = 1;
    for (size_t i = 0; i < text.size() && text[i] != L'\0'; ++i) {
        const unsigned long unit = static_cast<unsigned long>(text[i]);
        if (unit < 0x80) {
            size += 1;
        } else if (unit < 0x800) {
            size += 2;
        } else if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            size += 4;
            ++i;
        } else if (unit > 0xFFFF) {
            size += 4;
        } else {
            size += 3;  // the rest of the plane, and a lone half as the replacement character
        }
    }
    return size;
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
