// Covers the report archive's name and place, which listed files go in under which names and with
// which bytes, and the log lines of its failures; the one collection sequence end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "report/report_data.h"
#include "support/text_convert.h"
#include "tests/common/temp_dir.h"
#include "tests/report/report_test_support.h"
#include "tests/zip/archive_reader.h"

namespace {

using velk::test::CountInLog;
using velk::test::ReadFileBytes;
using velk::test::TempDir;
using velk::test::WriteFileBytes;

using Entries = std::vector<std::pair<std::wstring, std::wstring>>;  // entry name, source file

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Bytes that deflate both ways: a repetitive text part and a part with no repeats to speak of.
std::string DumpBytes(size_t size) {
    std::string bytes;
    uint32_t x = 12345;
    while (bytes.size() < size / 2) bytes += "MDMP stream record 0123456789 ";
    while (bytes.size() < size) {
        x = x * 1103515245u + 12345u;
        bytes += static_cast<char>(x >> 24);
    }
    bytes.resize(size);
    return bytes;
}

// The archive holds exactly these entries, in this order, each with the bytes its source holds
// now, read back through zlib. The container's own format is checked against standard decoders
// by tests/zip/verify_archives.py; here it is what the report puts in.
void ExpectEntries(const std::wstring& archivePath, const Entries& expected) {
    const velk::test::Archive archive = velk::test::ReadArchive(ReadFileBytes(archivePath));
    ASSERT_EQ(archive.error, "");
    ASSERT_EQ(archive.entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const velk::test::ArchiveEntry& entry = archive.entries[i];
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.name, velk::WideToAnsi(expected[i].first)) << "entry " << i;
        std::string bytes = entry.data;
        if (entry.method == 8) {
            ASSERT_TRUE(velk::test::InflateRaw(entry.data, &bytes));
        }
        EXPECT_EQ(velk::test::ZlibCrc(bytes), entry.crc);
        EXPECT_EQ(entry.uncompressedSize, bytes.size());
        EXPECT_TRUE(bytes == ReadFileBytes(expected[i].second)) << bytes.size() << " bytes differ from the source";
    }
}

void WriteAccount(const TempDir& dir, const std::string& jsonString) {
    ASSERT_TRUE(WriteFileBytes(dir / L"UserInfo.json", "{\"userinfolist\":[{\"account\":" + jsonString + "}]}"));
}

TEST(BuildReportArchive, AccountNamesTheArchiveBesideTheExecutable) {
    TempDir install(L"zip");
    TempDir other(L"zipsrc");
    WriteAccount(install, "\"abc\"");
    ASSERT_TRUE(WriteFileBytes(install / L"CRASH.DMP", DumpBytes(300000)));
    ASSERT_TRUE(WriteFileBytes(other / L"empty.log", ""));
    ASSERT_TRUE(WriteFileBytes(other / L"trace.log", "line 1\r\nline 2\r\n"));
    // Left from an earlier run: replaced.
    ASSERT_TRUE(WriteFileBytes(install / L"abc.zip", std::string(1000, 'z')));

    velk::CReportData data;
    data.m_exeDir = install.path();
    data.WriteInfoLog();
    data.m_reportFiles.push_back(install / L"CRASH.DMP");
    data.m_reportFiles.push_back(other / L"empty.log");
    data.m_reportFiles.push_back(other / L"trace.log");
    data.BuildReportArchive();

    EXPECT_EQ(data.m_archivePath, install / L"abc.zip");
    ASSERT_TRUE(Exists(install / L"abc.zip"));
    EXPECT_EQ(CountInLog(install.path()), 0u);
    EXPECT_EQ(CountInLog(other.path()), 0u);
    ExpectEntries(data.m_archivePath,
                  {{L"INFOLOG.TXT", install / L"INFOLOG.TXT"}, {L"CRASH.DMP", install / L"CRASH.DMP"},
                   {L"empty.log", other / L"empty.log"}, {L"trace.log", other / L"trace.log"}});
}

TEST(BuildReportArchive, WithoutAnAccountTheDateNamesIt) {
    for (const char* json : {static_cast<const char*>(nullptr), R"({"userinfolist":[]})"}) {
        TempDir install(L"zip");
        if (json != nullptr) {
            ASSERT_TRUE(WriteFileBytes(install / L"UserInfo.json", json));
        }
        ASSERT_TRUE(WriteFileBytes(install / L"CRASH.DMP", "dump"));
        SYSTEMTIME today = {};
        GetLocalTime(&today);
        wchar_t date[16] = {};
        swprintf(date, 16, L"%04d%02d%02d", today.wYear, today.wMonth, today.wDay);

        velk::CReportData data;
        data.m_exeDir = install.path();
        data.m_reportFiles = {install / L"CRASH.DMP"};
        data.BuildReportArchive();

        EXPECT_EQ(velk::MakeDateString(), date);
        EXPECT_EQ(data.m_archivePath, install / (std::wstring(date) + L".zip"));
        ASSERT_TRUE(Exists(data.m_archivePath));
        ExpectEntries(data.m_archivePath, {{L"CRASH.DMP", install / L"CRASH.DMP"}});
    }
}

TEST(BuildReportArchive, NothingToPackMakesNoArchiveAndNoLogLine) {
    TempDir install(L"zip");
    WriteAccount(install, "\"nothing\"");
    velk::CReportData data;
    data.m_exeDir = install.path();
    data.BuildReportArchive();
    EXPECT_EQ(data.m_archivePath, install / L"nothing.zip");
    EXPECT_FALSE(Exists(data.m_archivePath));

    data.m_reportFiles = {install / L"INFOLOG.TXT", install / L"CRASH.DMP", install / L"gone.log"};
    data.BuildReportArchive();
    EXPECT_EQ(data.m_archivePath, install / L"nothing.zip");
    EXPECT_FALSE(Exists(data.m_archivePath));
    EXPECT_EQ(CountInLog(install.path()), 0u);
}

TEST(BuildReportArchive, MissingDumpIsSkippedSilently) {
    TempDir install(L"zip");
    TempDir vizoziv(L"zipsrc");
    WriteAccount(install, "\"nodump\"");
    ASSERT_TRUE(WriteFileBytes(vizoziv / L"app.log", "application log"));
    velk::CReportData data;
    data.m_exeDir = install.path();
    data.WriteInfoLog();
    data.m_dumpPath = velk::MakeDumpPath(data.m_exeDir);
    data.m_reportFiles.push_back(data.m_dumpPath);
    data.m_reportFiles.push_back(vizoziv / L"app.log");
    data.BuildReportArchive();

    ASSERT_TRUE(Exists(install / L"nodump.zip"));
    EXPECT_EQ(CountInLog(install.path()), 0u);
    ExpectEntries(data.m_archivePath, {{L"INFOLOG.TXT", install / L"INFOLOG.TXT"}, {L"app.log", vizoziv / L"app.log"}});
}

TEST(BuildReportArchive, ARepeatedBareNameIsAddedTwice) {
    TempDir install(L"zip");
    TempDir vizoziv(L"zipsrc");
    WriteAccount(install, "\"twice\"");
    ASSERT_TRUE(WriteFileBytes(install / L"INFOLOG.TXT", "the reporter's own"));
    ASSERT_TRUE(WriteFileBytes(vizoziv / L"INFOLOG.TXT", "the application's, longer and different"));
    velk::CReportData data;
    data.m_exeDir = install.path();
    data.m_reportFiles = {install / L"INFOLOG.TXT", vizoziv / L"INFOLOG.TXT", install / L"INFOLOG.TXT"};
    data.BuildReportArchive();

    ASSERT_TRUE(Exists(install / L"twice.zip"));
    ExpectEntries(data.m_archivePath,
                  {{L"INFOLOG.TXT", install / L"INFOLOG.TXT"},
                   {L"INFOLOG.TXT", vizoziv / L"INFOLOG.TXT"},
                   {L"INFOLOG.TXT", install / L"INFOLOG.TXT"}});
}

TEST(BuildReportArchive, ALockedFileIsLoggedAndTheOthersGoIn) {
    TempDir install(L"zip");
    TempDir vizoziv(L"zipsrc");
    WriteAccount(install, "\"locked\"");
    ASSERT_TRUE(WriteFileBytes(vizoziv / L"before.log", "before"));
    ASSERT_TRUE(WriteFileBytes(vizoziv / L"busy.log", "held open elsewhere"));
    ASSERT_TRUE(WriteFileBytes(vizoziv / L"after.log", DumpBytes(70000)));
    HANDLE lock = CreateFileW((vizoziv / L"busy.log").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    velk::CReportData data;
    data.m_exeDir = install.path();
    data.m_reportFiles = {vizoziv / L"before.log", vizoziv / L"busy.log", vizoziv / L"after.log"};
    data.BuildReportArchive();
    CloseHandle(lock);

    EXPECT_EQ(CountInLog(L"ERROR - failed to add '" + (vizoziv / L"busy.log") + L"' to zip"), 1u);
    EXPECT_EQ(CountInLog(vizoziv.path()), 1u);
    EXPECT_EQ(CountInLog(L"ERROR - failed to create " + data.m_archivePath), 0u);
    ASSERT_TRUE(Exists(install / L"locked.zip"));
    ExpectEntries(data.m_archivePath,
                  {{L"before.log", vizoziv / L"before.log"}, {L"after.log", vizoziv / L"after.log"}});
}

// A dump the crash handler still holds as the reporter starts: one it keeps open for writing but
// shares goes in at once; one it holds alone is waited for up to about 5 s, then left
// out with the line.
TEST(BuildReportArchive, DumpStillHeldByTheCrashHandler) {
    struct Case {
        const char* what;
        DWORD share;      // the handler's sharing
        DWORD holdMs;     // when the handler lets go
        bool packed;
        ULONGLONG minMs;  // how long the archive step may take
        ULONGLONG maxMs;
    };
    const Case cases[] = {
        {"still open for writing, others let in", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 3000, true, 0,
         1500},
        {"held alone for 3 s", 0, 3000, true, 2500, 4500},
        {"held alone for longer than the wait", 0, 7000, false, 4500, 6500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir install(L"zipheld");
        WriteAccount(install, "\"held\"");
        const std::wstring dump = install / L"CRASH.DMP";
        ASSERT_TRUE(WriteFileBytes(dump, DumpBytes(200000)));
        HANDLE handler = CreateFileW(dump.c_str(), GENERIC_WRITE, c.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handler, INVALID_HANDLE_VALUE);
        std::thread release([&] {
            Sleep(c.holdMs);
            CloseHandle(handler);
        });

        velk::CReportData data;
        data.m_exeDir = install.path();
        data.WriteInfoLog();
        data.m_dumpPath = velk::MakeDumpPath(data.m_exeDir);
        data.m_reportFiles.push_back(data.m_dumpPath);
        const ULONGLONG start = GetTickCount64();
        data.BuildReportArchive();
        const ULONGLONG took = GetTickCount64() - start;
        release.join();

        EXPECT_GE(took, c.minMs);
        EXPECT_LE(took, c.maxMs);
        EXPECT_EQ(CountInLog(L"ERROR - failed to add '" + dump + L"' to zip"), c.packed ? 0u : 1u);
        ASSERT_TRUE(Exists(data.m_archivePath));
        Entries entries = {{L"INFOLOG.TXT", install / L"INFOLOG.TXT"}};
        if (c.packed) entries.push_back({L"CRASH.DMP", dump});
        ExpectEntries(data.m_archivePath, entries);
    }
}

TEST(BuildReportArchive, ArchiveThatCannotBeCreatedIsLoggedOnceAndTheLoopStops) {
    TempDir install(L"zip");
    WriteAccount(install, "\"blocked\"");
    // A folder in the archive's place: creating the file fails.
    ASSERT_TRUE(CreateDirectoryW((install / L"blocked.zip").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(install / L"one.log", "1"));
    ASSERT_TRUE(WriteFileBytes(install / L"two.log", "2"));
    velk::CReportData data;
    data.m_exeDir = install.path();
    data.m_reportFiles = {install / L"one.log", install / L"two.log"};
    data.BuildReportArchive();

    EXPECT_EQ(CountInLog(L"ERROR - failed to create " + (install / L"blocked.zip")), 1u);
    EXPECT_EQ(CountInLog(install.path()), 1u) << "no line for the files after the failed creation";
}

TEST(BuildReportArchive, DangerousAccountsStayInTheInstallDirectory) {
    struct Case {
        std::string json;        // the account as a JSON string
        std::wstring fileName;   // the archive's name in the install directory
        std::wstring outside;    // where the raw account would have put it, relative to the base; or empty
    };
    const Case cases[] = {
        {R"("..\\..\\x")", L".._.._x.zip", L"x.zip"},
        {R"("../../y")", L".._.._y.zip", L"y.zip"},
        {R"("..\\up")", L".._up.zip", L"app\\up.zip"},
        {R"("a?b*")", L"a_b_.zip", L""},
        {R"("C:\\temp\\z")", L"C__temp_z.zip", L""},
        {R"("q\"<>|\u0001\t")", L"q______.zip", L""},
        {R"("NUL")", L"_NUL.zip", L""},
        {R"("\u5F20\u4E09")", L"\x5F20\x4E09.zip", L""},
    };
    for (const Case& c : cases) {
        TempDir base(L"zipbase");
        const std::wstring installDir = base / L"app\\bin";
        ASSERT_TRUE(CreateDirectoryW((base / L"app").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(installDir.c_str(), nullptr));
        ASSERT_TRUE(WriteFileBytes(installDir + L"\\UserInfo.json",
                                   "{\"userinfolist\":[{\"account\":" + c.json + "}]}"));
        ASSERT_TRUE(WriteFileBytes(installDir + L"\\CRASH.DMP", "dump " + c.json));
        velk::CReportData data;
        data.m_exeDir = installDir;
        data.m_reportFiles = {installDir + L"\\CRASH.DMP"};
        data.BuildReportArchive();

        EXPECT_EQ(data.m_archivePath, installDir + L"\\" + c.fileName) << c.json;
        EXPECT_TRUE(Exists(data.m_archivePath)) << c.json;
        if (!c.outside.empty()) {
            EXPECT_FALSE(Exists(base / c.outside)) << c.json;
        }
        EXPECT_EQ(CountInLog(base.path()), 0u) << c.json;
        if (Exists(data.m_archivePath)) {
            ExpectEntries(data.m_archivePath, {{L"CRASH.DMP", installDir + L"\\CRASH.DMP"}});
        }
    }
}

TEST(CollectReport, EveryStepInOrderIntoOneArchive) {
    velk::test::VizozivFolder vizoziv;
    TempDir install(L"flow");
    ASSERT_TRUE(WriteFileBytes(install / L"uploadcrash.ini", "[url]\r\nurl=http://127.0.0.1:1/upload\r\n"));
    WriteAccount(install, "\"demo01\"");
    ASSERT_TRUE(velk::test::InstallStandIn(L"3_1_0_25", install.path()));
    ASSERT_TRUE(WriteFileBytes(install / L"CRASH.DMP", DumpBytes(150000)));
    ASSERT_TRUE(WriteFileBytes(vizoziv / L"today.log", "written today"));
    ASSERT_TRUE(WriteFileBytes(vizoziv / L"old.log", "written long ago"));
    ASSERT_TRUE(velk::test::SetLocalWriteTime(vizoziv / L"old.log", velk::test::LocalTodayPlus(-3 * 24 * 3600 * 10000000LL)));

    velk::CReportData data;
    data.m_exeDir = install.path();
    data.CollectReport();

    EXPECT_EQ(data.m_uploadUrl, L"http://127.0.0.1:1/upload");
    EXPECT_EQ(data.m_dumpPath, install / L"CRASH.DMP");
    EXPECT_EQ(data.m_reportFiles,
              (std::vector<std::wstring>{install / L"INFOLOG.TXT", install / L"CRASH.DMP", vizoziv / L"today.log"}));
    EXPECT_EQ(data.m_archivePath, install / L"demo01.zip");
    ASSERT_TRUE(Exists(data.m_archivePath));
    const std::string info = ReadFileBytes(install / L"INFOLOG.TXT");
    EXPECT_NE(info.find("demo01\r\nTovrek:  3.1.0.25\r\n"), std::string::npos) << info;
    EXPECT_EQ(CountInLog(install.path()), 0u);
    ExpectEntries(data.m_archivePath,
                  {{L"INFOLOG.TXT", install / L"INFOLOG.TXT"}, {L"CRASH.DMP", install / L"CRASH.DMP"},
                   {L"today.log", vizoziv / L"today.log"}});
}

// Two reporters started together in one folder (two crashes in quick succession): each names,
// fills and keeps an archive of its own, with its own whole INFOLOG.TXT, the dump and the files.
TEST(CollectReport, TwoAtOnceInOneFolderEachPackTheirOwnArchive) {
    velk::test::VizozivFolder vizoziv;
    TempDir install(L"twice");
    WriteAccount(install, "\"demo02\"");
    ASSERT_TRUE(velk::test::InstallStandIn(L"3_1_0_25", install.path()));
    const std::string dump = DumpBytes(400000);
    const std::string today = "written today\r\n";
    ASSERT_TRUE(WriteFileBytes(install / L"CRASH.DMP", dump));
    ASSERT_TRUE(WriteFileBytes(vizoziv / L"today.log", today));

    velk::CReportData runs[2];
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (velk::CReportData& run : runs) {
        run.m_exeDir = install.path();
        threads.emplace_back([&run, go] {
            WaitForSingleObject(go, INFINITE);
            run.CollectReport();
        });
    }
    SetEvent(go);
    for (std::thread& t : threads) t.join();
    CloseHandle(go);

    EXPECT_NE(runs[0].m_archivePath, runs[1].m_archivePath);
    EXPECT_EQ(CountInLog(install.path()), 0u);
    // Account label, account, version, date label and a time stamp of fixed width, CR LF each.
    const std::string infoStart = "\xB5\xC7\xC2\xBC\xD5\xCB\xBA\xC5\x3A\x20" "demo02\r\nTovrek:  3.1.0.25\r\n";
    const size_t infoSize = infoStart.size() + 12 + 19 + 2;
    for (const velk::CReportData& run : runs) {
        SCOPED_TRACE(velk::WideToUtf8(run.m_archivePath));
        const velk::test::Archive archive = velk::test::ReadArchive(ReadFileBytes(run.m_archivePath));
        ASSERT_EQ(archive.error, "");
        ASSERT_EQ(archive.entries.size(), 3u);
        std::vector<std::string> contents;
        for (const velk::test::ArchiveEntry& entry : archive.entries) {
            std::string bytes = entry.data;
            if (entry.method == 8) {
                ASSERT_TRUE(velk::test::InflateRaw(entry.data, &bytes)) << entry.name;
            }
            EXPECT_EQ(velk::test::ZlibCrc(bytes), entry.crc) << entry.name;
            contents.push_back(bytes);
        }
        EXPECT_EQ(archive.entries[0].name, "INFOLOG.TXT");
        EXPECT_EQ(contents[0].compare(0, infoStart.size(), infoStart), 0) << contents[0];
        EXPECT_EQ(contents[0].size(), infoSize) << contents[0];
        EXPECT_EQ(archive.entries[1].name, "CRASH.DMP");
        EXPECT_TRUE(contents[1] == dump) << "the dump is not whole";
        EXPECT_EQ(archive.entries[2].name, "today.log");
        EXPECT_EQ(contents[2], today);
    }
}

TEST(FillExeDir, IsTheRunningProgramsDirectory) {
    velk::CReportData data;
    data.FillExeDir();
    EXPECT_EQ(data.m_exeDir, velk::test::ProgramDirectory());
    EXPECT_NE(data.m_exeDir.back(), L'\\');
}

}  // namespace
