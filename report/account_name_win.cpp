// The two settings lookups: the upload address from uploadcrash.ini and the account name from
// UserInfo.json, both beside the executable.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <exception>
#include <string>

#include <json/json.h>

#include "report/report_data.h"
#include "support/logger.h"
#include "support/path_join.h"
#include "support/text_convert.h"
#include "support/unique_any.h"

namespace velk {

namespace {

// The whole file, read through its wide path so that an install directory the ANSI code page
// cannot spell still works; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    unique_file file(_wfopen(path.c_str(), L"rb"));
    if (!file) return false;
    bytes.clear();
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, got);
    return std::ferror(file.get()) == 0;
}

// The account of the last element of "userinfolist" as UTF-8 text. JsonCpp throws (or asserts)
// when a value is accessed as a type it is not, so every type is checked before it is used;
// shapes that carry no text for the account give an empty one.
std::string AccountFromUserInfo(const std::string& document) {
    // Windows editors like to start UTF-8 files with a byte order mark, which the reader takes
    // for a syntax error; it says nothing about the content, so it is passed over.
    const size_t start = document.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    Json::Value root;
    Json::Reader reader;
    if (!reader.parse(document.data() + start, document.data() + document.size(), root, false)) return std::string();
    if (!root.isObject()) return std::string();
    const Json::Value& list = root["userinfolist"];
    if (list.isNull() || !list.isArray() || list.empty()) return std::string();
    const Json::Value& last = list[list.size() - 1];
    if (!last.isObject()) return std::string();
    const Json::Value& account = last["account"];
    if (account.isString()) return account.asString();
    if (account.isBool()) return account.asBool() ? "true" : "false";
    return std::string();
}

// A name of the file that the profile call takes. It copies the name into a MAX_PATH buffer and
// finds no file behind a longer one (checked under Wine), so a long path goes in its short form,
// asked for in the "\\?\" form that lifts the limit from GetShortPathNameW itself. Empty when
// there is no form short enough: no file, or no short names on the volume.
std::wstring ProfileFileName(const std::wstring& path) {
    if (path.size() < MAX_PATH) return path;
    const std::wstring extended = ToExtendedLengthPath(path);
    const DWORD size = GetShortPathNameW(extended.c_str(), nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring shortPath(size, L'\0');
    const DWORD length = GetShortPathNameW(extended.c_str(), shortPath.data(), size);
    if (length == 0 || length >= size) return std::wstring();
    shortPath.resize(length);
    shortPath = FromExtendedLengthPath(shortPath);
    return shortPath.size() < MAX_PATH ? shortPath : std::wstring();
}

}  // namespace

void CReportData::ReadUploadUrl() {
    const std::wstring path = JoinPath(m_exeDir, L"uploadcrash.ini");
    m_uploadUrl.clear();
    const std::wstring fileName = ProfileFileName(path);
    if (fileName.empty()) {
        // A missing file means that no upload is configured; one that is there but cannot be
        // read would lose every report without a trace.
        if (GetFileAttributesW(ToExtendedLengthPath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
            LogError(L"ERROR - failed to read " + path);
        return;
    }
    // A full buffer makes the profile call cut the value to 2047 characters plus the terminator.
    wchar_t url[2048] = {};
    GetPrivateProfileStringW(L"url", L"url", L"", url, 2048, fileName.c_str());
    m_uploadUrl = url;
}

std::wstring CReportData::ReadAccountName() const {
    // Read afresh on every call: the main application may rewrite the file between two lookups.
    const std::wstring path = JoinPath(m_exeDir, L"UserInfo.json");
    if (_waccess(path.c_str(), 0) != 0) return std::wstring();
    std::string document;
    if (!ReadWholeFile(path, document)) return std::wstring();
    try {
        return Utf8ToWide(AccountFromUserInfo(document));
    } catch (const std::exception&) {
        // The reader gives up on nesting deeper than its stack limit by throwing.
        return std::wstring();
    }
}

}  // namespace velk
