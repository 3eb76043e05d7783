// Pure rules of the report contents (archive name, entry name, information log lines).
// Shared by the Win32 glue in report/*_win.cpp and the native tests.
#include "report/report_rules.h"

#include <cwchar>

namespace velk {

namespace {

bool IsDeviceName(const std::wstring& name) {
    // Windows looks only at the part before the first dot, trailing spaces ignored.
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (wchar_t& c : stem) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

}  // namespace

std::wstring SafeArchiveBaseName(const std::wstring& name) {
    std::wstring safe = name;
    if (safe.size() > kMaxArchiveBaseName) {
        size_t keep = kMaxArchiveBaseName;
        // A high surrogate left without its partner would be an unpaired half of a character.
        if (safe[keep - 1] >= 0xD800 && safe[keep - 1] <= 0xDBFF) --keep;
        safe.resize(keep);
    }
    for (wchar_t& c : safe) {
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr) c = L'_';
    }
    if (IsDeviceName(safe)) safe.insert(safe.begin(), L'_');
    return safe;
}

std::wstring InstanceLockName(const std::wstring& purpose, const std::wstring& path) {
    // 64-bit FNV-1a over the UTF-16 units, ASCII folded to upper case: object names may hold
    // no backslash and at most MAX_PATH characters, so the path itself cannot be the name.
    unsigned long long hash = 14695981039346656037ull;
    for (wchar_t c : path) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c == L'/') c = L'\\';
        hash = (hash ^ static_cast<unsigned>(c)) * 1099511628211ull;
    }
    wchar_t hex[17] = {};
    std::swprintf(hex, 17, L"%016llx", hash);
    return L"Local\\VELKBugReport." + purpose + L"." + hex;
}

std::wstring SecondArchiveFileName(const std::wstring& baseName, unsigned long processId) {
    return baseName + L"_" + std::to_wstring(processId) + L".zip";
}

std::wstring EntryNameOf(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || slash == 0) return path;
    return path.substr(slash + 1);
}

std::wstring FormatInfoLogTime(const LocalTime& t) {
    wchar_t text[64] = {};
    std::swprintf(text, sizeof text / sizeof text[0], L"%04d.%02d.%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

std::wstring MakeDateString(const LocalTime& today) {
    wchar_t text[32] = {};
    std::swprintf(text, sizeof text / sizeof text[0], L"%04d%02d%02d", today.year, today.month, today.day);
    return text;
}

bool IsTodayOrLater(const LocalTime& written, const LocalTime& today) {
    if (written.year != today.year) return written.year > today.year;
    if (written.month != today.month) return written.month > today.month;
    return written.day >= today.day;
}

std::string InfoLogText(const std::string& account, const std::string& version, const std::string& timestamp) {
    // Labels 1 and 3 are GBK bytes whatever the system's code page: the receiving side reads them as such.
    static const char kAccountLabel[] = "\xB5\xC7\xC2\xBC\xD5\xCB\xBA\xC5\x3A\x20";
    static const char kVersionLabel[] = "Tovrek:  ";
    static const char kDateLabel[] = "\xC8\xD5\x20\x20\x20\x20\xC6\xDA\x3A\x20\x20\x20";
    std::string text;
    text += kAccountLabel + account + "\n";
    text += kVersionLabel + version + "\n";
    text += kDateLabel + timestamp + "\n";
    return text;
}

}  // namespace velk
