// Covers which files of the prefix's Temp\Vizoziv go into the report and in which order, with file
// times set from local times; run under two zones. Cannot move the clock, so "the reporter runs
// just after midnight" is shown only through times around midnight, not a clock set to 00:05.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "report/report_data.h"
#include "tests/common/temp_dir.h"
#include "tests/report/report_test_support.h"

namespace {

using velk::test::kTicksPerHour;
using velk::test::kTicksPerMinute;
using velk::test::LocalTodayPlus;
using velk::test::SetLocalWriteTime;
using velk::test::TempDir;
using velk::test::VizozivFolder;
using velk::test::WriteFileBytes;

constexpr int64_t kDay = 24 * static_cast<int64_t>(kTicksPerHour);

// A file written at a local time, with extra attributes.
void MakeFile(const std::wstring& path, const SYSTEMTIME& local, DWORD attributes = 0) {
    ASSERT_TRUE(WriteFileBytes(path, "content of " + velk::WideToUtf8(path)));
    ASSERT_TRUE(SetLocalWriteTime(path, local));
    if (attributes != 0) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
        ASSERT_EQ(GetFileAttributesW(path.c_str()) & attributes, attributes) << "attribute not kept here";
    }
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(CollectTempFiles, SelectsTodaysVisibleFilesOneLevelDeep) {
    VizozivFolder vizoziv;
    TempDir install(L"collect");
    MakeFile(vizoziv / L"today_0001.log", LocalTodayPlus(1 * kTicksPerMinute));
    MakeFile(vizoziv / L"today_2359.log", LocalTodayPlus(kDay - kTicksPerMinute));
    MakeFile(vizoziv / L"yesterday_2359.log", LocalTodayPlus(-static_cast<int64_t>(kTicksPerMinute)));
    MakeFile(vizoziv / L"last_year.log", LocalTodayPlus(-400 * kDay));
    MakeFile(vizoziv / L"tomorrow.log", LocalTodayPlus(kDay + 12 * kTicksPerHour));
    MakeFile(vizoziv / L"next_year.log", LocalTodayPlus(400 * kDay));
    MakeFile(vizoziv / L"hidden.log", LocalTodayPlus(10 * kTicksPerHour), FILE_ATTRIBUTE_HIDDEN);
    MakeFile(vizoziv / L"readonly.log", LocalTodayPlus(10 * kTicksPerHour), FILE_ATTRIBUTE_READONLY);
    MakeFile(vizoziv / L"system.log", LocalTodayPlus(10 * kTicksPerHour), FILE_ATTRIBUTE_SYSTEM);
    // Same names as the install directory's own files: listed again.
    MakeFile(vizoziv / L"CRASH.DMP", LocalTodayPlus(1 * kTicksPerHour));
    MakeFile(vizoziv / L"INFOLOG.TXT", LocalTodayPlus(1 * kTicksPerHour));
    ASSERT_TRUE(CreateDirectoryW((vizoziv / L"sub").c_str(), nullptr));
    MakeFile(vizoziv / L"sub\\inner.log", LocalTodayPlus(10 * kTicksPerHour));
    ASSERT_TRUE(SetLocalWriteTime(vizoziv / L"sub", LocalTodayPlus(10 * kTicksPerHour)));
    ASSERT_TRUE(CreateDirectoryW((vizoziv / L"hidden_sub").c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesW((vizoziv / L"hidden_sub").c_str(), FILE_ATTRIBUTE_HIDDEN));

    velk::CReportData data;
    data.m_exeDir = install.path();
    data.WriteInfoLog();
    data.m_dumpPath = velk::MakeDumpPath(data.m_exeDir);
    data.CollectTempFiles();

    ASSERT_GE(data.m_reportFiles.size(), 2u);
    EXPECT_EQ(data.m_reportFiles[0], install / L"INFOLOG.TXT");
    EXPECT_EQ(data.m_reportFiles[1], install / L"CRASH.DMP");
    const std::vector<std::wstring> selected(data.m_reportFiles.begin() + 2, data.m_reportFiles.end());
    EXPECT_EQ(Sorted(selected), Sorted({vizoziv / L"today_0001.log", vizoziv / L"today_2359.log",
                                        vizoziv / L"tomorrow.log", vizoziv / L"next_year.log",
                                        vizoziv / L"readonly.log", vizoziv / L"system.log",
                                        vizoziv / L"CRASH.DMP", vizoziv / L"INFOLOG.TXT"}));
}

TEST(CollectTempFiles, NoFolderOrAnEmptyOneGivesOnlyTheDumpPath) {
    VizozivFolder vizoziv;
    velk::CReportData data;
    data.m_exeDir = L"C:\\install";
    data.m_dumpPath = velk::MakeDumpPath(data.m_exeDir);
    data.CollectTempFiles();
    EXPECT_EQ(data.m_reportFiles, std::vector<std::wstring>{L"C:\\install\\CRASH.DMP"});

    vizoziv.Remove();
    data.m_reportFiles.clear();
    data.CollectTempFiles();
    EXPECT_EQ(data.m_reportFiles, std::vector<std::wstring>{L"C:\\install\\CRASH.DMP"});
    // The folder is looked for, never made.
    EXPECT_EQ(GetFileAttributesW(vizoziv.path().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(IsWrittenToday, AFileThatIsGoneIsLeftOut) {
    TempDir dir(L"today");
    EXPECT_FALSE(velk::IsWrittenToday(dir / L"never_there.log"));
    ASSERT_TRUE(WriteFileBytes(dir / L"was_there.log", "x"));
    EXPECT_TRUE(velk::IsWrittenToday(dir / L"was_there.log"));
    ASSERT_TRUE(DeleteFileW((dir / L"was_there.log").c_str()));
    EXPECT_FALSE(velk::IsWrittenToday(dir / L"was_there.log"));
}

TEST(IsWrittenToday, AnswersForAFileOpenedElsewhereWithoutSharing) {
    TempDir dir(L"today");
    ASSERT_TRUE(WriteFileBytes(dir / L"busy.log", "x"));
    HANDLE lock = CreateFileW((dir / L"busy.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(velk::IsWrittenToday(dir / L"busy.log"));
    CloseHandle(lock);
}

TEST(ScanFolder, PathsLongerThanMaxPathAreBuiltInFull) {
    TempDir dir(L"long");
    // The folder alone is beyond what a 260-character buffer could hold with a file name.
    const std::wstring folder = dir / std::wstring(200, L'f');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring file = folder + L"\\" + std::wstring(100, L'n') + L".log";
    ASSERT_GT(file.size(), 300u);
    ASSERT_TRUE(WriteFileBytes(file, "long"));
    velk::CReportData data;
    data.ScanFolder(folder + L"\\");  // a trailing backslash is not doubled
    EXPECT_EQ(data.m_reportFiles, std::vector<std::wstring>{file});
}

}  // namespace
