// Output that fails: a device that refuses every write (/dev/full through Wine's Z: drive) and, in
// the zip_writer_test_file_limit run, a 256 KiB file-size limit that cuts writes short part-way
// through an entry. Entries fail as WriteFailed and the archive keeps only whole entries.
// A disk that fails while a header is rewritten in place is not covered.
#include "zip/zip_writer.h"

#include <windows.h>

#include "tests/common/temp_dir.h"
#include "tests/zip/archive_reader.h"
#include "zip/zip_writer_win.h"
#include "tests/zip/zip_test_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

using namespace velk::zip;

using namespace velk::test;
using velk::zip::ZipWriter;

namespace {

// Wine's Z: drive is the Linux root, and writes to /dev/full fail with "disk full".
const wchar_t kFullDevice[] = L"Z:\\dev\\full";

// The size limit the run was started under (ulimit -f), or 0 when there is none.
uint32_t FileLimit() {
    const char* value = getenv("VELK_ZIP_FILE_LIMIT");
    return value ? static_cast<uint32_t>(strtoul(value, nullptr, 10)) : 0;
}

}  // namespace

TEST(ZipFlush, CountIsClearedOnlyWhenEverythingWasWritten) {
    TempDir dir(L"zipflush");
    uint8_t bytes[300];
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(i);

    auto good = std::make_unique<ZipWriter>();
    ASSERT_EQ(good->Create((dir / L"good.bin").c_str()), ZipResult::Ok);
    uint32_t count = sizeof bytes;
    ZipWriter::FlushOutput(good.get(), bytes, &count);
    EXPECT_EQ(count, 0u);
    count = 0;
    ZipWriter::FlushOutput(good.get(), nullptr, &count);  // nothing to write is no failure
    EXPECT_EQ(count, 0u);
    good.reset();
    EXPECT_EQ(ReadFileBytes(dir / L"good.bin"), std::string(reinterpret_cast<char*>(bytes), sizeof bytes));

    auto full = std::make_unique<ZipWriter>();
    if (full->Create(kFullDevice) != ZipResult::Ok) GTEST_SKIP() << "no /dev/full";
    count = sizeof bytes;
    ZipWriter::FlushOutput(full.get(), bytes, &count);
    EXPECT_EQ(count, sizeof bytes);  // left for the compressor to see, never taken for empty
}

TEST(ZipFlush, ArchiveOnAFullDeviceFailsEveryStep) {
    ZipHandle* zip = ZipCreate(kFullDevice);
    if (zip == nullptr) GTEST_SKIP() << "no /dev/full";
    TempDir dir(L"zipflush");
    const std::wstring source = dir / L"src.txt";
    ASSERT_TRUE(WriteFileBytes(source, std::string(50000, 'x')));
    EXPECT_EQ(ZipAddFile(zip, L"a.txt", source.c_str()), ZipResult::WriteFailed);
    EXPECT_EQ(ZipAddFile(zip, L"a.gz", source.c_str()), ZipResult::WriteFailed);
    // Not even the end record fits: the close must say so.
    EXPECT_EQ(ZipClose(zip), ZipResult::WriteFailed);
    // The source was closed on the failing paths: it can be opened without sharing again.
    HANDLE again = CreateFileW(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

// Entries that no longer fit fail, in their data (deflated and stored) or in their local header;
// what is left is a readable archive of the entries that were added.
TEST(ZipWriteLimit, EntriesThatDoNotFitFailAndLeaveNoTrace) {
    const uint32_t limit = FileLimit();
    if (limit == 0) GTEST_SKIP() << "runs only under a file-size limit (zip_writer_test_file_limit)";
    TempDir dir(L"ziplimit");
    const std::wstring archivePath = dir / L"limit.zip";
    auto source = [&](const wchar_t* name, const std::string& bytes) {
        const std::wstring path = dir / name;
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    };
    const std::string first = RandomBytes(limit - 60000, 1);   // leaves about 60 KB
    const std::string tooBig = RandomBytes(100000, 2);
    const std::string small = "fits\r\n";
    ZipHandle* zip = ZipCreate(archivePath.c_str());
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(ZipAddFile(zip, L"first.bin", source(L"first.bin", first).c_str()), ZipResult::Ok);
    EXPECT_EQ(ZipAddFile(zip, L"deflated.bin", source(L"big.bin", tooBig).c_str()), ZipResult::WriteFailed);
    ASSERT_EQ(ZipAddFile(zip, L"small.txt", source(L"small.txt", small).c_str()), ZipResult::Ok);
    EXPECT_EQ(ZipAddFile(zip, L"stored.gz", (dir / L"big.bin").c_str()), ZipResult::WriteFailed);
    ASSERT_EQ(ZipAddFile(zip, L"small2.txt", (dir / L"small.txt").c_str()), ZipResult::Ok);
    ASSERT_EQ(ZipClose(zip), ZipResult::Ok);

    const std::string bytes = ReadFileBytes(archivePath);
    const Archive archive = ReadArchive(bytes);
    ASSERT_EQ(archive.error, "");
    ASSERT_EQ(archive.entries.size(), 3u);
    EXPECT_EQ(archive.totalEntries, 3u);
    std::string out;
    EXPECT_TRUE(InflateRaw(archive.entries[0].data, &out) && out == first);
    EXPECT_TRUE(InflateRaw(archive.entries[1].data, &out) && out == small);
    EXPECT_TRUE(InflateRaw(archive.entries[2].data, &out) && out == small);
    // Nothing of the failed entries is left between the good ones.
    uint32_t offset = 0;
    for (const auto& e : archive.entries) {
        EXPECT_EQ(e.localOffset, offset) << e.name;
        offset += 30 + static_cast<uint32_t>(e.name.size()) + 17 + e.compressedSize;
    }
    EXPECT_EQ(archive.directoryOffset, offset);
}

// Stored entries of exact sizes bring the archive to a few bytes below the limit; then a second
// entry fails in its local header or in its data, and the close in the central directory, in the
// end record alone, or not at all.
TEST(ZipWriteLimit, HeadersAndDirectoryThatDoNotFit) {
    const uint32_t limit = FileLimit();
    if (limit == 0) GTEST_SKIP() << "runs only under a file-size limit (zip_writer_test_file_limit)";
    // The filler "f.gz" takes 30 + 4 + 17 header bytes; its central header 46 + 4 + 9 = 59, the end
    // record 22. The second entry "s.gz" needs 51 header bytes and 100 data bytes.
    struct Case {
        uint32_t spare;  // bytes left below the limit after the filler entry
        ZipResult close;
    };
    const Case cases[] = {
        {40, ZipResult::WriteFailed},  // local header of s.gz cut short; no room for the directory
        {70, ZipResult::WriteFailed},  // data of s.gz cut short; the directory fits, the end record not
        {81, ZipResult::Ok},           // data of s.gz cut short; exactly room for directory and end record
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spare);
        TempDir dir(L"ziplimit");
        const std::wstring archivePath = dir / L"limit.zip";
        const std::wstring filler = dir / L"filler";
        const std::wstring second = dir / L"second";
        ASSERT_TRUE(WriteFileBytes(filler, RandomBytes(limit - c.spare - (30 + 4 + 17), 3)));
        ASSERT_TRUE(WriteFileBytes(second, RandomBytes(100, 4)));
        ZipHandle* zip = ZipCreate(archivePath.c_str());
        ASSERT_NE(zip, nullptr);
        ASSERT_EQ(ZipAddFile(zip, L"f.gz", filler.c_str()), ZipResult::Ok);
        EXPECT_EQ(ZipAddFile(zip, L"s.gz", second.c_str()), ZipResult::WriteFailed);
        EXPECT_EQ(ZipClose(zip), c.close);
        if (c.close == ZipResult::Ok) {
            const std::string bytes = ReadFileBytes(archivePath);
            EXPECT_EQ(bytes.size(), limit);
            const Archive archive = ReadArchive(bytes);
            EXPECT_EQ(archive.error, "");
            EXPECT_EQ(archive.entries.size(), 1u);
        }
    }
}
