// The zip writer under Wine on real files: record layout byte for byte, stored-suffix choice, names
// in code page 936, attributes, failures and what stays of the archive after them; every deflated
// entry is inflated by zlib. Readers other than zlib are the archive verification script's part.
#include "zip/zip_writer.h"

#include <windows.h>

#include "support/unique_any.h"
#include "tests/common/temp_dir.h"
#include "tests/zip/archive_reader.h"
#include "zip/zip_writer_win.h"
#include "tests/zip/zip_test_data.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace velk::zip;

using namespace velk::test;

namespace {

// The entry's bytes as a reader gets them: stored data as it is, deflated data through zlib.
std::string Contents(const ArchiveEntry& e) {
    if (e.method == 0) return e.data;
    std::string out;
    EXPECT_TRUE(InflateRaw(e.data, &out)) << e.name << " does not inflate";
    return out;
}

// What every finished entry must show whatever it holds: both headers agree, the fixed values,
// both extended-timestamp fields with the same modification time.
void ExpectWellFormed(const ArchiveEntry& e) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.versionMadeBy, 0x0B17u);
    EXPECT_EQ(e.versionNeeded, 20u);
    EXPECT_EQ(e.localVersionNeeded, 20u);
    EXPECT_EQ(e.centralFlags, e.method == 8 ? 0x0002u : 0x0000u);
    EXPECT_EQ(e.localFlags, e.centralFlags);
    EXPECT_EQ(e.localMethod, e.method);
    EXPECT_EQ(e.localDosTime, e.dosTime);
    EXPECT_EQ(e.localDosDate, e.dosDate);
    EXPECT_EQ(e.localCrc, e.crc);
    EXPECT_EQ(e.localCompressedSize, e.compressedSize);
    EXPECT_EQ(e.localUncompressedSize, e.uncompressedSize);
    EXPECT_EQ(e.localName, e.name);
    EXPECT_EQ(e.diskStart, 0u);
    EXPECT_EQ(e.internalAttributes, 0u);
    ASSERT_EQ(e.localExtra.size(), 17u);
    ASSERT_EQ(e.centralExtra.size(), 9u);
    EXPECT_EQ(e.localExtra.substr(0, 5), std::string("\x55\x54\x0D\x00\x07", 5));
    EXPECT_EQ(e.centralExtra.substr(0, 5), std::string("\x55\x54\x05\x00\x07", 5));
    EXPECT_EQ(e.centralExtra.substr(5), e.localExtra.substr(5, 4));
    const std::string contents = Contents(e);
    EXPECT_EQ(contents.size(), e.uncompressedSize);
    EXPECT_EQ(ZlibCrc(contents), e.crc);
}

class ZipWriterTest : public ::testing::Test {
protected:
    std::wstring Source(const std::wstring& name, const std::string& bytes) {
        const std::wstring path = m_dir / name;
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }
    ZipHandle* Create() {
        ZipHandle* zip = ZipCreate(m_archive.c_str());
        EXPECT_NE(zip, nullptr);
        return zip;
    }
    Archive CloseAndRead(ZipHandle* zip) {
        EXPECT_EQ(ZipClose(zip), ZipResult::Ok);
        m_bytes = ReadFileBytes(m_archive);
        Archive archive = ReadArchive(m_bytes);
        EXPECT_EQ(archive.error, "");
        EXPECT_EQ(archive.diskEntries, archive.entries.size());
        EXPECT_EQ(archive.totalEntries, archive.entries.size());
        for (const auto& e : archive.entries) ExpectWellFormed(e);
        return archive;
    }

    TempDir m_dir{L"zip"};
    std::wstring m_archive = m_dir / L"out.zip";
    std::string m_bytes;  // the archive file as CloseAndRead found it
};

}  // namespace

TEST_F(ZipWriterTest, CreateThenCloseIsTheEndRecordAlone) {
    EXPECT_EQ(ZipClose(Create()), ZipResult::Ok);
    EXPECT_EQ(ReadFileBytes(m_archive), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

TEST_F(ZipWriterTest, CreateTruncatesAnOldFileAndFailsWithoutAFolder) {
    ASSERT_TRUE(WriteFileBytes(m_archive, std::string(1000, 'x')));
    EXPECT_EQ(ZipClose(Create()), ZipResult::Ok);
    EXPECT_EQ(ReadFileBytes(m_archive).size(), 22u);
    EXPECT_EQ(ZipCreate((m_dir / L"no such folder\\out.zip").c_str()), nullptr);
    EXPECT_EQ(ZipCreate(nullptr), nullptr);
}

// One entry of each method: where each record starts, its exact fixed fields, and the size formula.
TEST_F(ZipWriterTest, OneEntryLayoutPerMethod) {
    struct Case {
        const wchar_t* entry;
        const char* name;
        uint32_t method;
    };
    const Case cases[] = {{L"dump.dmp", "dump.dmp", 8}, {L"old.ZIP", "old.ZIP", 0}};
    const std::string source = LogText(400);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZipHandle* zip = Create();
        ASSERT_EQ(ZipAddFile(zip, c.entry, Source(L"src.bin", source).c_str()), ZipResult::Ok);
        const Archive archive = CloseAndRead(zip);
        ASSERT_EQ(archive.entries.size(), 1u);
        const ArchiveEntry& e = archive.entries[0];
        const uint32_t n = static_cast<uint32_t>(strlen(c.name));
        const uint32_t compressed = e.compressedSize;
        EXPECT_EQ(e.name, c.name);
        EXPECT_EQ(e.method, c.method);
        EXPECT_EQ(e.localOffset, 0u);
        EXPECT_EQ(e.uncompressedSize, source.size());
        EXPECT_EQ(e.crc, ZlibCrc(source));
        EXPECT_EQ(e.externalAttributes, 0x81800020u);
        if (c.method == 0) {
            EXPECT_EQ(compressed, source.size());
        } else {
            EXPECT_LT(compressed, source.size() / 4);
        }
        EXPECT_EQ(Contents(e), source);
        EXPECT_EQ(archive.directoryOffset, 30 + n + 17 + compressed);
        EXPECT_EQ(archive.directorySize, 46 + n + 9);
        EXPECT_EQ(m_bytes.size(), 30 + n + 17 + compressed + 46 + n + 9 + 22);
        // The fixed bytes of the local header that do not depend on the data.
        EXPECT_EQ(m_bytes.substr(0, 10), std::string("PK\x03\x04\x14\x00", 6) +
                                             std::string(c.method ? "\x02\x00\x08\x00" : "\x00\x00\x00\x00", 4));
        EXPECT_EQ(m_bytes.substr(26, 4), std::string(1, static_cast<char>(n)) + std::string("\x00\x11\x00", 3));
        // Central header: made by, needed, flags, method.
        EXPECT_EQ(m_bytes.substr(archive.directoryOffset, 12),
                  std::string("PK\x01\x02\x17\x0B\x14\x00", 8) +
                      std::string(c.method ? "\x02\x00\x08\x00" : "\x00\x00\x00\x00", 4));
        EXPECT_EQ(m_bytes.substr(m_bytes.size() - 22, 12), std::string("PK\x05\x06\x00\x00\x00\x00\x01\x00\x01\x00", 12));
    }
}

TEST_F(ZipWriterTest, StoredSuffixTable) {
    struct Case {
        const wchar_t* entry;
        uint32_t method;
    };
    const Case cases[] = {
        {L"dump.dmp", 8}, {L"INFOLOG.TXT", 8}, {L"old.ZIP", 0}, {L"x.z", 0},      {L"a.tar.gz", 0},
        {L".zip", 0},     {L"dir.zip/file", 8}, {L"README", 8}, {L"b.TGZ", 0},     {L"c.arj", 0},
    };
    const std::string source = LogText(50);
    const std::wstring path = Source(L"src.txt", source);
    ZipHandle* zip = Create();
    for (const auto& c : cases) ASSERT_EQ(ZipAddFile(zip, c.entry, path.c_str()), ZipResult::Ok);
    const Archive archive = CloseAndRead(zip);
    ASSERT_EQ(archive.entries.size(), sizeof cases / sizeof cases[0]);
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        EXPECT_EQ(archive.entries[i].method, cases[i].method) << archive.entries[i].name;
        EXPECT_EQ(Contents(archive.entries[i]), source);
    }
}

TEST_F(ZipWriterTest, EmptySourceStoredAndDeflated) {
    const std::wstring empty = Source(L"empty", "");
    ZipHandle* zip = Create();
    ASSERT_EQ(ZipAddFile(zip, L"e.gz", empty.c_str()), ZipResult::Ok);
    ASSERT_EQ(ZipAddFile(zip, L"e.txt", empty.c_str()), ZipResult::Ok);
    const Archive archive = CloseAndRead(zip);
    ASSERT_EQ(archive.entries.size(), 2u);
    const ArchiveEntry& stored = archive.entries[0];
    EXPECT_EQ(stored.method, 0u);
    EXPECT_EQ(stored.compressedSize, 0u);
    EXPECT_EQ(stored.uncompressedSize, 0u);
    EXPECT_EQ(stored.crc, 0u);
    const ArchiveEntry& deflated = archive.entries[1];
    EXPECT_EQ(deflated.method, 8u);
    EXPECT_EQ(deflated.data, std::string("\x03\x00", 2));  // a fixed-code block holding only its end
    EXPECT_EQ(deflated.uncompressedSize, 0u);
    EXPECT_EQ(deflated.crc, 0u);
    EXPECT_EQ(deflated.localOffset, 30u + 4 + 17);
}

// Several blocks of input and output: the work buffer is 16384 bytes, the compressor's window 64 KiB.
TEST_F(ZipWriterTest, LargeSourcesRoundTrip) {
    struct Case {
        const wchar_t* entry;
        std::string bytes;
    };
    const Case cases[] = {
        {L"random.bin", RandomBytes(1 << 20, 1)},
        {L"random.gz", RandomBytes(40000, 2)},
        {L"log.txt", LogText(20000)},
        {L"block.txt", std::string(16384, 'a')},
        {L"mixed.dmp", RandomBytes(70000, 3) + LogText(3000) + std::string(100000, '\0')},
    };
    ZipHandle* zip = Create();
    for (const auto& c : cases)
        ASSERT_EQ(ZipAddFile(zip, c.entry, Source(c.entry, c.bytes).c_str()), ZipResult::Ok);
    const Archive archive = CloseAndRead(zip);
    ASSERT_EQ(archive.entries.size(), sizeof cases / sizeof cases[0]);
    uint32_t offset = 0;
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        const ArchiveEntry& e = archive.entries[i];
        EXPECT_EQ(e.localOffset, offset) << e.name;  // entries follow each other without a gap
        offset += 30 + static_cast<uint32_t>(e.name.size()) + 17 + e.compressedSize;
        EXPECT_TRUE(Contents(e) == cases[i].bytes) << e.name;
    }
    EXPECT_EQ(archive.directoryOffset, offset);
}

TEST_F(ZipWriterTest, NamesBackslashesDuplicatesAndCodePage936) {
    const std::wstring path = Source(L"src.txt", "hello");
    ZipHandle* zip = Create();
    ASSERT_EQ(ZipAddFile(zip, L"dir\\sub\\a.txt", path.c_str()), ZipResult::Ok);
    ASSERT_EQ(ZipAddFile(zip, L"same.txt", path.c_str()), ZipResult::Ok);
    ASSERT_EQ(ZipAddFile(zip, L"same.txt", path.c_str()), ZipResult::Ok);
    const bool gbk = GetACP() == 936;
    if (gbk) {
        ASSERT_EQ(ZipAddFile(zip, L"错误报告.txt", path.c_str()), ZipResult::Ok);
        // U+4E57 is 81 5C in code page 936: its second byte is not a backslash.
        ASSERT_EQ(ZipAddFile(zip, L"乗\\乗.txt", path.c_str()), ZipResult::Ok);
    }
    const Archive archive = CloseAndRead(zip);
    ASSERT_EQ(archive.entries.size(), gbk ? 5u : 3u);
    EXPECT_EQ(archive.entries[0].name, "dir/sub/a.txt");
    EXPECT_EQ(archive.entries[1].name, "same.txt");
    EXPECT_EQ(archive.entries[2].name, "same.txt");
    EXPECT_NE(archive.entries[1].localOffset, archive.entries[2].localOffset);
    if (gbk) {
        EXPECT_EQ(archive.entries[3].name, "\xB4\xED\xCE\xF3\xB1\xA8\xB8\xE6.txt");
        EXPECT_EQ(archive.entries[4].name, "\x81\x5C/\x81\x5C.txt");
        for (const auto& e : archive.entries) EXPECT_EQ(e.centralFlags & 0x0800, 0u);  // never marked UTF-8
    }
}

TEST_F(ZipWriterTest, NameLengthLimit) {
    struct Case {
        std::wstring entry;
        ZipResult expected;
    };
    std::vector<Case> cases = {
        {std::wstring(259, L'n'), ZipResult::Ok},
        {std::wstring(260, L'n'), ZipResult::BadArgument},
        {std::wstring(517, L'n'), ZipResult::BadArgument},   // fits the conversion buffer, not the record
        {std::wstring(5000, L'n'), ZipResult::BadArgument},  // does not even convert
    };
    if (GetACP() == 936) {
        cases.push_back({std::wstring(129, L'错') + L"a", ZipResult::Ok});             // 259 bytes
        cases.push_back({std::wstring(130, L'错'), ZipResult::BadArgument});           // 260 bytes
    }
    const std::wstring path = Source(L"src.txt", "x");
    ZipHandle* zip = Create();
    size_t added = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(ZipAddFile(zip, c.entry.c_str(), path.c_str()), c.expected) << c.entry.size() << " characters";
        added += c.expected == ZipResult::Ok;
    }
    const Archive archive = CloseAndRead(zip);
    ASSERT_EQ(archive.entries.size(), added);
    EXPECT_EQ(archive.entries[0].name, std::string(259, 'n'));
}

TEST_F(ZipWriterTest, BadArguments) {
    const std::wstring path = Source(L"src.txt", "x");
    EXPECT_EQ(ZipAddFile(nullptr, L"a.txt", path.c_str()), ZipResult::BadArgument);
    EXPECT_EQ(ZipClose(nullptr), ZipResult::BadArgument);
    ZipHandle* zip = Create();
    EXPECT_EQ(ZipAddFile(zip, nullptr, path.c_str()), ZipResult::BadArgument);
    EXPECT_EQ(ZipAddFile(zip, L"", path.c_str()), ZipResult::BadArgument);
    EXPECT_EQ(ZipAddFile(zip, L"a.txt", nullptr), ZipResult::BadArgument);
    // None of them wrote anything.
    EXPECT_EQ(ZipClose(zip), ZipResult::Ok);
    EXPECT_EQ(ReadFileBytes(m_archive).size(), 22u);
}

// Sources that cannot be opened: nothing is written for them, and the end record counts only the
// entries that were added.
TEST_F(ZipWriterTest, UnopenableSourcesLeaveNoTrace) {
    const std::wstring good = Source(L"good.txt", LogText(10));
    const std::wstring exclusive = Source(L"exclusive.txt", "locked");
    const std::wstring beingWritten = Source(L"written.txt", "locked");
    // No sharing at all keeps our read handle out; a writer that shares everything lets it in (a
    // crash handler still holding its dump must not keep the dump out of the report).
    velk::unique_hfile lock1(CreateFileW(exclusive.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    velk::unique_hfile lock2(CreateFileW(beingWritten.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock1 && lock2);
    struct Case {
        std::wstring path;
        ZipResult expected;
    };
    const Case cases[] = {
        {m_dir / L"missing.txt", ZipResult::OpenFailed},
        {exclusive, ZipResult::OpenFailed},
        {good, ZipResult::Ok},
        {beingWritten, ZipResult::Ok},
        {m_dir.path(), ZipResult::OpenFailed},  // a directory
        {m_dir / L"no folder\\x.txt", ZipResult::OpenFailed},
        {good, ZipResult::Ok},
    };
    ZipHandle* zip = Create();
    for (const auto& c : cases) EXPECT_EQ(ZipAddFile(zip, L"entry.txt", c.path.c_str()), c.expected) << c.path;
    const Archive archive = CloseAndRead(zip);
    ASSERT_EQ(archive.entries.size(), 3u);
    EXPECT_EQ(archive.entries[1].localOffset, 30 + 9 + 17 + archive.entries[0].compressedSize);
}

TEST_F(ZipWriterTest, ExternalAttributes) {
    // A minimal PE image: "MZ", the new-header position at 0x3C, "PE\0\0" there and room after it.
    std::string pe(0x80, '\0');
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = '\x80';
    pe += std::string("PE\0\0", 4) + RandomBytes(60, 9);
    std::string notPe = pe;
    notPe[0x81] = 'F';                                   // "PF\0\0"
    const std::string cut = pe.substr(0, 0x80 + 52);     // the header would run past the end
    struct Case {
        const wchar_t* name;
        std::string bytes;
        bool readOnly;
        uint32_t expected;
    };
    const Case cases[] = {
        {L"plain.txt", "text", false, 0x81800020},
        {L"readonly.txt", "text", true, 0x81000021},
        {L"tool.exe", pe, false, 0x81C00020},
        {L"tool_ro.exe", pe, true, 0x81400021},
        {L"notpe.exe", notPe, false, 0x81800020},
        {L"cut.exe", cut, false, 0x81800020},
        {L"mz.txt", "MZ", false, 0x81800020},
    };
    ZipHandle* zip = Create();
    for (const auto& c : cases) {
        const std::wstring path = Source(c.name, c.bytes);
        if (c.readOnly) {
            ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        ASSERT_EQ(ZipAddFile(zip, c.name, path.c_str()), ZipResult::Ok);
    }
    const Archive archive = CloseAndRead(zip);
    ASSERT_EQ(archive.entries.size(), sizeof cases / sizeof cases[0]);
    for (size_t i = 0; i < archive.entries.size(); ++i) {
        EXPECT_EQ(archive.entries[i].externalAttributes, cases[i].expected) << archive.entries[i].name;
        // The executable check reads the file; the entry must still start at its first byte.
        EXPECT_TRUE(Contents(archive.entries[i]) == cases[i].bytes) << archive.entries[i].name;
    }
}

// A named pipe has no size, attributes or times: the placeholder says "unknown" and the rewritten
// header the bytes that came through.
TEST_F(ZipWriterTest, PipeSourceOfUnknownSize) {
    const std::wstring pipeName = L"\\\\.\\pipe\\velk_zip_" + std::to_wstring(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536,
                                     65536, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    const std::string payload = LogText(3000) + RandomBytes(30000, 4);
    std::thread feeder([&] {
        if (ConnectNamedPipe(server, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            for (size_t at = 0; at < payload.size(); at += 5000) {
                DWORD done = 0;
                WriteFile(server, payload.data() + at, static_cast<DWORD>(std::min<size_t>(5000, payload.size() - at)),
                          &done, nullptr);
            }
            FlushFileBuffers(server);
        }
        CloseHandle(server);
    });
    ZipHandle* zip = Create();
    const ZipResult piped = ZipAddFile(zip, L"pipe.log", pipeName.c_str());
    feeder.join();
    ASSERT_EQ(piped, ZipResult::Ok);
    const Archive archive = CloseAndRead(zip);
    ASSERT_EQ(archive.entries.size(), 1u);
    EXPECT_EQ(archive.entries[0].externalAttributes, 0x80000000u);
    EXPECT_TRUE(Contents(archive.entries[0]) == payload);
}

// Sizes and offsets have 32 bits: a source of 4 GiB or more is refused before anything is written.
TEST_F(ZipWriterTest, SourceOfFourGigabytesIsRefused) {
    const std::wstring path = m_dir / L"huge.bin";
    {
        velk::unique_hfile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file);
        LARGE_INTEGER size;
        size.QuadPart = (1LL << 32) + 10;  // sparse: only the length is set
        ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(file.get()));
    }
    ZipHandle* zip = Create();
    EXPECT_EQ(ZipAddFile(zip, L"huge.bin", path.c_str()), ZipResult::OpenFailed);
    EXPECT_EQ(ZipClose(zip), ZipResult::Ok);
    EXPECT_EQ(ReadFileBytes(m_archive).size(), 22u);
}
