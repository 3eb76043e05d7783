// The account name from UserInfo.json beside the executable, which the main application keeps.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <exception>
#include <string>

#include <json/json.h>

#include "report/report_data.h"
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

}  // namespace

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
