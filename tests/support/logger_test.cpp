// The diagnostics logger on real files: directory creation, line bytes in code page 936 with
// CR LF, appending across loggers, '%' kept, empty text dropped, re-opening after a failed open.
#include "support/logger.h"

#include <windows.h>

#include "tests/common/temp_dir.h"

#include <gtest/gtest.h>

using namespace velk;

namespace {

using velk::test::ReadFileBytes;
using velk::test::TempDir;

// "Error\t" + "YYYY-MM-DD HH:MM:SS " is 26 bytes; the test compares what follows.
std::vector<std::string> Messages(const std::string& file) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < file.size()) {
        size_t end = file.find("\r\n", pos);
        std::string line = file.substr(pos, end - pos);
        EXPECT_EQ(line.compare(0, 6, "Error\t"), 0) << line;
        EXPECT_EQ(line[10], '-');
        EXPECT_EQ(line[25], ' ');
        out.push_back(line.substr(26));
        if (end == std::string::npos) break;
        pos = end + 2;
    }
    return out;
}

}  // namespace

TEST(Logger, CreatesMissingLevelsAndWritesGbkLinesWithCrLf) {
    TempDir temp(L"levels");
    std::wstring dir = temp / L"a\\b";
    {
        CLogger logger(dir, L"");
        EXPECT_EQ(logger.FilePath(), dir + L"\\log\\BugReportLog.log");
        logger.LogError(L"POST出错，错误码:204");
        logger.LogError(L"");  // an empty text writes nothing
        logger.LogError(L"C:\\100%\\%s%d.zip");
    }
    std::string file = ReadFileBytes(dir + L"\\log\\BugReportLog.log");
    auto messages = Messages(file);
    ASSERT_EQ(messages.size(), 2u) << file;
    if (GetACP() == 936) {
        EXPECT_EQ(messages[0], "POST\xB3\xF6\xB4\xED\xA3\xAC\xB4\xED\xCE\xF3\xC2\xEB:204");
    }
    EXPECT_EQ(messages[1], "C:\\100%\\%s%d.zip");
    EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
}

TEST(Logger, AppendsAcrossRuns) {
    TempDir temp(L"append");
    const std::wstring& dir = temp.path();
    CLogger(dir, L"").LogError(L"first");
    CLogger(dir, L"").LogError(L"second");
    auto messages = Messages(ReadFileBytes(dir + L"\\log\\BugReportLog.log"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "first");
    EXPECT_EQ(messages[1], "second");
}

TEST(Logger, DirectoryTheAnsiCodePageCannotSpell) {
    // Thai has no place in code page 936: an ANSI-path helper would lose every line here.
    TempDir temp(L"wide");
    std::wstring dir = temp / L"ภาษา\\ไทย";
    CLogger(dir, L"").LogError(L"kept");
    auto messages = Messages(ReadFileBytes(dir + L"\\log\\BugReportLog.log"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "kept");
}

TEST(Logger, ReopensWhileTheFileCannotBeOpened) {
    TempDir temp(L"reopen");
    const std::wstring& dir = temp.path();
    std::wstring logDir = dir + L"\\log";
    CreateDirectoryW(logDir.c_str(), nullptr);
    // A directory where the file should be: every open fails until it is gone.
    std::wstring blocker = logDir + L"\\BugReportLog.log";
    ASSERT_TRUE(CreateDirectoryW(blocker.c_str(), nullptr));
    CLogger logger(dir, L"");
    logger.LogError(L"dropped");
    ASSERT_TRUE(RemoveDirectoryW(blocker.c_str()));
    logger.LogError(L"written");
    auto messages = Messages(ReadFileBytes(blocker));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "written");
}

TEST(Logger, TwoThreadsNeverInterleave) {
    TempDir temp(L"threads");
    const std::wstring& dir = temp.path();
    {
        CLogger logger(dir, L"");
        // WINAPI: a plain lambda has the wrong calling convention for 32-bit thread procedures.
        struct Worker {
            static DWORD WINAPI Run(void* p) {
                for (int i = 0; i < 200; ++i) static_cast<CLogger*>(p)->LogError(L"worker line with some length to it");
                return 0;
            }
        };
        HANDLE t = CreateThread(nullptr, 0, Worker::Run, &logger, 0, nullptr);
        for (int i = 0; i < 200; ++i) logger.LogError(L"main line");
        WaitForSingleObject(t, INFINITE);
        CloseHandle(t);
    }
    auto messages = Messages(ReadFileBytes(dir + L"\\log\\BugReportLog.log"));
    ASSERT_EQ(messages.size(), 400u);
    for (const auto& m : messages) EXPECT_TRUE(m == "main line" || m == "worker line with some length to it") << m;
}
