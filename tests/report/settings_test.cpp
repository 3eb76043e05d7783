// Covers the account lookup over real UserInfo.json files and the upload address from real
// uploadcrash.ini files in a temporary install directory, also one of about 300 characters;
// not the callers that use the values.
#include <gtest/gtest.h>

#include <string>

#include "report/report_data.h"
#include "tests/common/temp_dir.h"
#include "tests/report/report_test_support.h"

namespace {

using velk::test::TempDir;
using velk::test::WriteFileBytes;

std::wstring AccountFor(const TempDir& dir) {
    velk::CReportData data;
    data.m_exeDir = dir.path();
    return data.ReadAccountName();
}

TEST(ReadAccountName, MissingFileGivesEmpty) {
    TempDir dir(L"acct");
    EXPECT_EQ(AccountFor(dir), L"");
}

TEST(ReadAccountName, TableOfDocuments) {
    struct Case {
        const char* what;
        std::string json;
        std::wstring expected;
    };
    const Case cases[] = {
        {"one entry", R"({"userinfolist":[{"account":"demo01"}]})", L"demo01"},
        {"several entries, the last wins",
         R"({"userinfolist":[{"account":"first"},{"account":"middle"},{"account":"last"}]})", L"last"},
        {"other members ignored",
         R"({"version":3,"userinfolist":[{"name":"x","account":"abc","token":"t"}],"extra":[1,2]})", L"abc"},
        {"not JSON", "this is not json {", L""},
        {"empty file", "", L""},
        {"truncated", R"({"userinfolist":[{"account":"cut)", L""},
        {"no userinfolist", R"({"users":[{"account":"abc"}]})", L""},
        {"userinfolist null", R"({"userinfolist":null})", L""},
        {"userinfolist empty", R"({"userinfolist":[]})", L""},
        {"account missing", R"({"userinfolist":[{"name":"abc"}]})", L""},
        {"account null", R"({"userinfolist":[{"account":null}]})", L""},
        {"account true", R"({"userinfolist":[{"account":true}]})", L"true"},
        {"account false", R"({"userinfolist":[{"account":false}]})", L"false"},
        {"account empty string", R"({"userinfolist":[{"account":""}]})", L""},
        {"last entry lacks the account", R"({"userinfolist":[{"account":"abc"},{}]})", L""},
        {"non-ASCII UTF-8", "{\"userinfolist\":[{\"account\":\"\xE5\xBC\xA0\xE4\xB8\x89_\xE0\xB8\x97\"}]}",
         L"\x5F20\x4E09_\x0E17"},
        {"escaped non-BMP", R"({"userinfolist":[{"account":"a\ud83d\ude00b"}]})", L"a\xD83D\xDE00" L"b"},
        {"byte order mark", "\xEF\xBB\xBF{\"userinfolist\":[{\"account\":\"bom\"}]}", L"bom"},
        // Shapes with no text for the account: empty, and the program goes on.
        {"account an integer", R"({"userinfolist":[{"account":12345}]})", L""},
        {"account a real", R"({"userinfolist":[{"account":1.5}]})", L""},
        {"account an array", R"({"userinfolist":[{"account":["abc"]}]})", L""},
        {"account an object", R"({"userinfolist":[{"account":{"name":"abc"}}]})", L""},
        {"top level an array", R"([{"userinfolist":[{"account":"abc"}]}])", L""},
        {"top level a string", R"("abc")", L""},
        {"top level a number", "42", L""},
        {"top level null", "null", L""},
        {"userinfolist an object", R"({"userinfolist":{"account":"abc"}})", L""},
        {"userinfolist a string", R"({"userinfolist":"abc"})", L""},
        {"userinfolist a number", R"({"userinfolist":7})", L""},
        {"last element a string", R"({"userinfolist":[{"account":"abc"},"abc"]})", L""},
        {"last element an array", R"({"userinfolist":[["abc"]]})", L""},
        {"last element null", R"({"userinfolist":[{"account":"abc"},null]})", L""},
        {"nested beyond the reader's limit", std::string(100000, '['), L""},
    };
    for (const Case& c : cases) {
        TempDir dir(L"acct");
        ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", c.json));
        EXPECT_EQ(AccountFor(dir), c.expected) << c.what;
    }
}

TEST(ReadAccountName, ReadsTheFileAfreshOnEveryCall) {
    TempDir dir(L"acct");
    velk::CReportData data;
    data.m_exeDir = dir.path();
    ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", R"({"userinfolist":[{"account":"before"}]})"));
    EXPECT_EQ(data.ReadAccountName(), L"before");
    ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", R"({"userinfolist":[{"account":"after"}]})"));
    EXPECT_EQ(data.ReadAccountName(), L"after");
    ASSERT_TRUE(DeleteFileW((dir / L"UserInfo.json").c_str()));
    EXPECT_EQ(data.ReadAccountName(), L"");
}

TEST(ReadAccountName, InstallDirectoryOutsideTheAnsiCodePage) {
    // Thai has no characters in code page 936: an ANSI path to this directory would not exist.
    TempDir dir(L"\x0E17\x0E14\x0E2A\x0E2D\x0E1A");
    ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", R"({"userinfolist":[{"account":"thai_dir"}]})"));
    EXPECT_EQ(AccountFor(dir), L"thai_dir");
}

TEST(ReadAccountName, FileLockedByAnotherOpenerGivesEmpty) {
    TempDir dir(L"acct");
    ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", R"({"userinfolist":[{"account":"locked"}]})"));
    HANDLE lock = CreateFileW((dir / L"UserInfo.json").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(AccountFor(dir), L"");
    CloseHandle(lock);
    EXPECT_EQ(AccountFor(dir), L"locked");
}

TEST(ReadUploadUrl, TableOfIniFiles) {
    const std::string longValue(3000, 'u');
    struct Case {
        const char* what;
        const char* ini;  // nullptr: no file
        std::wstring expected;
    };
    const std::string longIni = "[url]\r\nurl=http://h/" + longValue + "\r\n";
    const Case cases[] = {
        {"key in section url", "[url]\r\nurl=http://127.0.0.1:8080/upload\r\n", L"http://127.0.0.1:8080/upload"},
        {"among other sections and keys",
         "[other]\r\nurl=http://wrong/\r\n[url]\r\nhost=x\r\nurl=https://right/path?q=1\r\n", L"https://right/path?q=1"},
        {"key only in another section", "[server]\r\nurl=http://elsewhere/\r\n", L""},
        {"section without the key", "[url]\r\naddress=http://x/\r\n", L""},
        {"empty value", "[url]\r\nurl=\r\n", L""},
        {"missing file", nullptr, L""},
        {"value over 2047 characters", longIni.c_str(), (L"http://h/" + std::wstring(3000, L'u')).substr(0, 2047)},
    };
    for (const Case& c : cases) {
        TempDir dir(L"ini");
        if (c.ini != nullptr) {
            ASSERT_TRUE(WriteFileBytes(dir / L"uploadcrash.ini", c.ini));
        }
        velk::CReportData data;
        data.m_exeDir = dir.path();
        data.m_uploadUrl = L"left over";
        data.ReadUploadUrl();
        EXPECT_EQ(data.m_uploadUrl, c.expected) << c.what;
        EXPECT_LE(data.m_uploadUrl.size(), 2047u) << c.what;
    }
}

// A directory under `base` made of `level` repeated until the path is at least `length` long.
std::wstring MakeDeepDirectory(const std::wstring& base, const std::wstring& level, size_t length) {
    std::wstring path = base;
    while (path.size() < length) {
        path += L"\\" + level;
        if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return L"";
    }
    return path;
}

TEST(ReadUploadUrl, InstallDirectoryOfAbout300Characters) {
    struct Case {
        const char* what;
        const wchar_t* level;  // the name repeated to make the directory
        bool fileThere;
        std::wstring expected;
        size_t linesLogged;
    };
    const Case cases[] = {
        {"long names: read through their short form", L"Tovrek install folder", true, L"http://127.0.0.1/long", 0},
        // Short names have no shorter form, so the path stays too long for the profile call.
        {"short names: nothing can read it, one line", L"tovrek01", true, L"", 1},
        {"short names and no file: nothing configured, no line", L"tovrek01", false, L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir(L"longini");
        const std::wstring install = MakeDeepDirectory(dir.path(), c.level, 300);
        ASSERT_FALSE(install.empty());
        const std::wstring ini = install + L"\\uploadcrash.ini";
        ASSERT_GE(ini.size(), 300u);
        if (c.fileThere) {
            ASSERT_TRUE(WriteFileBytes(ini, "[url]\r\nurl=http://127.0.0.1/long\r\n"));
        }
        velk::CReportData data;
        data.m_exeDir = install;
        data.ReadUploadUrl();
        EXPECT_EQ(data.m_uploadUrl, c.expected);
        EXPECT_EQ(velk::test::CountInLog(L"ERROR - failed to read " + ini), c.linesLogged);
    }
}

}  // namespace
