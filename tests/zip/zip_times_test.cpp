// Times of zip entries from real file times set with SetFileTime, in the zone the run is given
// (China by default, UTC in the second run): true Unix seconds in the extended-timestamp fields,
// local wall-clock time as the DOS time. Zones with daylight saving are not covered.
#include "zip/zip_writer.h"

#include <windows.h>

#include "support/unique_any.h"
#include "tests/common/temp_dir.h"
#include "tests/zip/archive_reader.h"
#include "zip/zip_writer_win.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace velk::zip;

using namespace velk::test;
using velk::zip::ZipWriter;

namespace {

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;  // 1970-01-01 in 100 ns since 1601

FILETIME FromUtc(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year), st.wMonth = static_cast<WORD>(month), st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour), st.wMinute = static_cast<WORD>(minute), st.wSecond = static_cast<WORD>(second);
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return ft;
}

uint64_t Ticks(const FILETIME& ft) { return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime; }

// Which column of the tables below applies, or none for a zone the tables do not know.
enum class Zone { China, Utc, Other };
Zone CurrentZone() {
    TIME_ZONE_INFORMATION tz;
    const DWORD kind = GetTimeZoneInformation(&tz);
    if (kind == TIME_ZONE_ID_INVALID || (kind == TIME_ZONE_ID_DAYLIGHT && tz.DaylightBias != 0)) return Zone::Other;
    if (tz.Bias == -480) return Zone::China;
    if (tz.Bias == 0) return Zone::Utc;
    return Zone::Other;
}

}  // namespace

TEST(ZipTimes, FileTimeToUnixSecondsCountsFromUtcEpoch) {
    // Any instant the 32-bit fields can hold: whole seconds since 1970, whatever the zone.
    std::mt19937_64 gen(5);
    for (int i = 0; i < 1000; ++i) {
        const uint64_t seconds = gen() % 2145916800ULL;  // up to 2037-12-31 24:00
        const uint64_t ticks = kUnixEpochAsFileTime + seconds * 10000000ULL + gen() % 10000000ULL;
        FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        ASSERT_EQ(ZipWriter::FileTimeToUnixSeconds(ft), static_cast<int64_t>(seconds)) << ticks;
    }
}

TEST(ZipTimes, EntryTimesFromFileTimes) {
    const Zone zone = CurrentZone();
    if (zone == Zone::Other) GTEST_SKIP() << "the tables know China and UTC only";
    struct Case {
        FILETIME written;
        uint32_t unixSeconds;
        uint32_t dosChina, dosUtc;  // DOS date << 16 | DOS time
    };
    const Case cases[] = {
        {FromUtc(2024, 3, 5, 1, 2, 4), 1709600524, 0x58654842, 0x58650842},
        {FromUtc(2024, 3, 5, 20, 0, 0), 1709668800, 0x58662000, 0x5865A000},    // next day in China
        {FromUtc(1979, 12, 31, 20, 0, 0), 315518400, 0x00212000, 0x00210000},    // 1980 in China only
        {FromUtc(1960, 6, 15, 10, 20, 30), 37230, 0x00210000, 0x00210000},       // 1970-01-01 10:20:30
        {FromUtc(2037, 12, 31, 20, 0, 0), 2145902400, 0x74212000, 0x739FA000},
        {FromUtc(2040, 2, 1, 5, 6, 8), 2145848768, 0x784168C4, 0x784128C4},      // 2037-12-31 05:06:08
    };
    const FILETIME accessed = FromUtc(2023, 1, 2, 3, 4, 5);
    TempDir dir(L"ziptime");
    const std::wstring archivePath = dir / L"times.zip";
    ZipHandle* zip = ZipCreate(archivePath.c_str());
    ASSERT_NE(zip, nullptr);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const std::wstring path = dir / (L"f" + std::to_wstring(i) + L".txt");
        ASSERT_TRUE(WriteFileBytes(path, "time"));
        {
            velk::unique_hfile file(
                CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(file && SetFileTime(file.get(), nullptr, &accessed, &cases[i].written)) << i;
        }
        ASSERT_EQ(ZipAddFile(zip, path.substr(dir.path().size() + 1).c_str(), path.c_str()), ZipResult::Ok);
    }
    ASSERT_EQ(ZipClose(zip), ZipResult::Ok);
    const Archive archive = ReadArchive(ReadFileBytes(archivePath));
    ASSERT_EQ(archive.error, "");
    ASSERT_EQ(archive.entries.size(), sizeof cases / sizeof cases[0]);
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        const ArchiveEntry& e = archive.entries[i];
        SCOPED_TRACE(e.name);
        const uint32_t dos = zone == Zone::China ? cases[i].dosChina : cases[i].dosUtc;
        EXPECT_EQ(e.dosDate << 16 | e.dosTime, dos);
        EXPECT_EQ(e.localDosDate << 16 | e.localDosTime, dos);
        EXPECT_EQ(Le32(e.localExtra, 5), cases[i].unixSeconds);  // modification
        EXPECT_EQ(Le32(e.localExtra, 9), 1672628645u);           // access
        EXPECT_EQ(Le32(e.centralExtra, 5), cases[i].unixSeconds);
    }
}

// A device has no times of its own: "now" stands in, as Unix seconds and as local DOS time.
TEST(ZipTimes, DeviceSourceIsStampedNow) {
    const Zone zone = CurrentZone();
    if (zone == Zone::Other) GTEST_SKIP() << "needs China or UTC";
    TempDir dir(L"ziptime");
    const std::wstring archivePath = dir / L"device.zip";
    FILETIME before, after;
    GetSystemTimeAsFileTime(&before);
    ZipHandle* zip = ZipCreate(archivePath.c_str());
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(ZipAddFile(zip, L"device.txt", L"NUL"), ZipResult::Ok);
    ASSERT_EQ(ZipClose(zip), ZipResult::Ok);
    GetSystemTimeAsFileTime(&after);
    const Archive archive = ReadArchive(ReadFileBytes(archivePath));
    ASSERT_EQ(archive.error, "");
    ASSERT_EQ(archive.entries.size(), 1u);
    const ArchiveEntry& e = archive.entries[0];
    EXPECT_EQ(e.externalAttributes, 0x80000000u);
    EXPECT_EQ(e.uncompressedSize, 0u);
    const uint32_t stamped = Le32(e.localExtra, 5);
    EXPECT_GE(stamped, (Ticks(before) - kUnixEpochAsFileTime) / 10000000);
    EXPECT_LE(stamped, (Ticks(after) - kUnixEpochAsFileTime) / 10000000);
    // The DOS time is the same instant shifted into the zone, to its two-second step.
    const uint32_t local = stamped + (zone == Zone::China ? 8 * 3600 : 0);
    const uint32_t secondOfDay = local % 86400;
    const uint32_t dosTime = (secondOfDay / 3600) << 11 | (secondOfDay / 60 % 60) << 5 | (secondOfDay % 60) / 2;
    EXPECT_EQ(e.dosTime, dosTime);
}
