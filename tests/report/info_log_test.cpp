// Covers INFOLOG.TXT byte for byte (labels, account, the stand-in's version, the time of the run)
// and its place in the report list; not how the receiving side reads it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "report/report_data.h"
#include "tests/common/temp_dir.h"
#include "tests/report/report_test_support.h"

namespace {

using velk::test::TempDir;
using velk::test::WriteFileBytes;

const std::string kLabel1 = "\xB5\xC7\xC2\xBC\xD5\xCB\xBA\xC5\x3A\x20";
const std::string kLabel2 = "Tovrek:  ";
const std::string kLabel3 = "\xC8\xD5\x20\x20\x20\x20\xC6\xDA\x3A\x20\x20\x20";

SYSTEMTIME LocalNowToTheSecond() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    now.wMilliseconds = 0;
    return now;
}

// Runs WriteInfoLog in a directory and checks the file against the expected first two lines;
// the timestamp must have the fixed format and lie within the call.
void ExpectInfoLog(const std::wstring& dir, const std::string& line1Value, const std::string& line2Value) {
    velk::CReportData data;
    data.m_exeDir = dir;
    const SYSTEMTIME before = LocalNowToTheSecond();
    data.WriteInfoLog();
    const SYSTEMTIME after = LocalNowToTheSecond();

    ASSERT_EQ(data.m_reportFiles.size(), 1u);
    EXPECT_EQ(data.m_reportFiles[0], dir + L"\\INFOLOG.TXT");

    const std::string bytes = velk::test::ReadFileBytes(dir + L"\\INFOLOG.TXT");
    const std::string head = kLabel1 + line1Value + "\r\n" + kLabel2 + line2Value + "\r\n" + kLabel3;
    ASSERT_EQ(bytes.size(), head.size() + 19 + 2) << bytes;
    EXPECT_EQ(bytes.substr(0, head.size()), head);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

    const std::string stamp = bytes.substr(head.size(), 19);
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char tail = 0;
    ASSERT_EQ(std::sscanf(stamp.c_str(), "%4u.%2u.%2u %2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &tail), 6) << stamp;
    for (size_t i : {4u, 7u, 13u, 16u}) EXPECT_TRUE(stamp[i] == '.' || stamp[i] == ':') << stamp;
    for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u})
        EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
    SYSTEMTIME written = {};
    written.wYear = static_cast<WORD>(y);
    written.wMonth = static_cast<WORD>(mo);
    written.wDay = static_cast<WORD>(d);
    written.wHour = static_cast<WORD>(h);
    written.wMinute = static_cast<WORD>(mi);
    written.wSecond = static_cast<WORD>(s);
    EXPECT_LE(velk::test::Ticks(before), velk::test::Ticks(written)) << stamp;
    EXPECT_LE(velk::test::Ticks(written), velk::test::Ticks(after)) << stamp;
}

TEST(WriteInfoLog, NoAccountAndNoMainExecutableGivesLabelsOnly) {
    TempDir dir(L"info");
    ExpectInfoLog(dir.path(), "", "");
}

TEST(WriteInfoLog, AccountAndStandInVersions) {
    struct Case {
        std::wstring variant;
        std::string version;
    };
    for (const Case& c : {Case{L"3_1_0_25", "3.1.0.25"}, Case{L"10_0_0_1", "10.0.0.1"}}) {
        TempDir dir(L"info");
        ASSERT_TRUE(velk::test::InstallStandIn(c.variant, dir.path()));
        ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", R"({"userinfolist":[{"account":"demo01"}]})"));
        ExpectInfoLog(dir.path(), "demo01", c.version);
    }
}

TEST(WriteInfoLog, ReplacesAnEarlierLongerFile) {
    TempDir dir(L"info");
    ASSERT_TRUE(WriteFileBytes(dir / L"INFOLOG.TXT", std::string(5000, 'x') + "\r\nold run\r\n"));
    ExpectInfoLog(dir.path(), "", "");
}

TEST(WriteInfoLog, ChineseAccountIsWrittenInTheAnsiCodePage) {
    // The tests run under code page 936: 张三 is D5 C5 C8 FD there.
    ASSERT_EQ(GetACP(), 936u);
    TempDir dir(L"info");
    ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", "{\"userinfolist\":[{\"account\":\"\xE5\xBC\xA0\xE4\xB8\x89\"}]}"));
    ExpectInfoLog(dir.path(), "\xD5\xC5\xC8\xFD", "");
}

TEST(WriteInfoLog, CodePage1252KeepsTheGbkLabels) {
    // Run again under a Western code page (see CMakeLists.txt): the labels are fixed bytes, the
    // values follow the system's code page, so é is the single byte E9 there.
    if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252, this run has " << GetACP();
    TempDir dir(L"info");
    ASSERT_TRUE(velk::test::InstallStandIn(L"10_0_0_1", dir.path()));
    ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", "{\"userinfolist\":[{\"account\":\"caf\xC3\xA9\"}]}"));
    ExpectInfoLog(dir.path(), "caf\xE9", "10.0.0.1");
}

TEST(WriteInfoLog, InstallDirectoryOutsideTheAnsiCodePage) {
    TempDir dir(L"\x0E17\x0E14\x0E2A\x0E2D\x0E1A");
    ASSERT_TRUE(velk::test::InstallStandIn(L"3_1_0_25", dir.path()));
    ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", R"({"userinfolist":[{"account":"thai_dir"}]})"));
    ExpectInfoLog(dir.path(), "thai_dir", "3.1.0.25");
}

TEST(WriteInfoLog, UnwritableFileIsStillListed) {
    TempDir dir(L"info");
    // A folder of that name: the file cannot be created, nothing is written, the path goes first all the same.
    ASSERT_TRUE(CreateDirectoryW((dir / L"INFOLOG.TXT").c_str(), nullptr));
    velk::CReportData data;
    data.m_exeDir = dir.path();
    data.WriteInfoLog();
    ASSERT_EQ(data.m_reportFiles.size(), 1u);
    EXPECT_EQ(data.m_reportFiles[0], dir / L"INFOLOG.TXT");
    EXPECT_NE(GetFileAttributesW((dir / L"INFOLOG.TXT").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(GetMainAppVersion, StandInVariantsAndFilesWithoutAVersion) {
    TempDir dir(L"ver");
    velk::CReportData data;
    data.m_exeDir = dir.path();
    EXPECT_EQ(data.GetMainAppVersion(), L"") << "no executable";
    ASSERT_TRUE(WriteFileBytes(dir / L"TovrekCRM.exe", "MZ not really a program"));
    EXPECT_EQ(data.GetMainAppVersion(), L"") << "no version resource";
    ASSERT_TRUE(velk::test::InstallStandIn(L"10_0_0_1", dir.path()));
    EXPECT_EQ(data.GetMainAppVersion(), L"10.0.0.1");
    ASSERT_TRUE(velk::test::InstallStandIn(L"3_1_0_25", dir.path()));
    EXPECT_EQ(data.GetMainAppVersion(), L"3.1.0.25");
}

}  // namespace
