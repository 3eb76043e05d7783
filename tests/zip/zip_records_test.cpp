// Record bytes, stored-suffix rule, entry names, attributes and time arithmetic of the zip writer,
// as pure code; whether Windows hands over the same attributes and times is zip_writer_test's part.
#include "zip/zip_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velk::zip;

namespace {

template <size_t N>
std::vector<uint8_t> Bytes(const std::array<uint8_t, N>& a) {
    return std::vector<uint8_t>(a.begin(), a.end());
}

EntryRecord SampleRecord() {
    EntryRecord r;
    SetEntryName(r, "dir\\a.txt");
    r.centralFlags = 0x0002;
    r.localFlags = 0x0002;
    r.method = kMethodDeflated;
    r.dosTimestamp = 0x58654842;  // 2024-03-05 09:02:04
    r.crc32 = 0xCBF43926;
    r.compressedSize = 0x01020304;
    r.uncompressedSize = 0x0A0B0C0D;
    r.externalAttributes = 0x81800020;
    r.localHeaderOffset = 0x00112233;
    return r;
}

}  // namespace

TEST(StoredSuffix, Table) {
    struct Case {
        const char* name;
        bool stored;
    };
    const Case cases[] = {
        {"dump.dmp", false}, {"INFOLOG.TXT", false}, {"README", false},  {"dir.zip/file", false},
        {"old.ZIP", true},   {"x.z", true},          {"x.Z", true},      {"a.tar.gz", true},
        {".zip", true},      {"a.tgz", true},        {"a.TGZ", true},    {"b.zoo", true},
        {"c.arc", true},     {"d.lzh", true},        {"e.ArJ", true},    {"f.gz.txt", false},
        {"file.", false},    {"a.zipx", false},      {"a.zi", false},    {"dir.gz/readme", false},
        {"a.7z", false},     {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsStoredSuffix(c.name), c.stored) << c.name;
    EXPECT_FALSE(IsStoredSuffix(nullptr));
}

TEST(EntryName, BackslashesAndLimits) {
    EntryRecord r;
    ASSERT_TRUE(SetEntryName(r, "a\\b\\c.txt"));
    EXPECT_STREQ(r.name, "a/b/c.txt");
    EXPECT_EQ(r.nameLength, 9u);

    const std::string longest(kMaxNameBytes, 'n');
    ASSERT_TRUE(SetEntryName(r, longest.c_str()));
    EXPECT_EQ(r.nameLength, kMaxNameBytes);
    EXPECT_EQ(std::string(r.name), longest);

    // Refused names leave the record as it was.
    const std::string tooLong(kMaxNameBytes + 1, 'n');
    EXPECT_FALSE(SetEntryName(r, tooLong.c_str()));
    EXPECT_FALSE(SetEntryName(r, ""));
    EXPECT_FALSE(SetEntryName(r, nullptr));
    EXPECT_EQ(r.nameLength, kMaxNameBytes);
    EXPECT_EQ(std::string(r.name), longest);
}

TEST(EntryName, TrailBytesOfDoubleByteCharactersStay) {
    // Code page 936: lead bytes 0x81-0xFE. U+4E57 is 81 5C, its 5C is no separator.
    auto gbkLead = [](uint8_t b) { return b >= 0x81 && b <= 0xFE; };
    struct Case {
        const char* name;
        const char* stored;
    };
    const Case cases[] = {
        {"\x81\x5C\\x.txt", "\x81\x5C/x.txt"},
        {"d\\\x81\x5C\x81\x5C", "d/\x81\x5C\x81\x5C"},
        {"\xB4\xED\\\\a", "\xB4\xED//a"},
        {"a\\\x81", "a/\x81"},  // a lone lead byte at the end does not swallow the terminator
    };
    for (const auto& c : cases) {
        EntryRecord r;
        ASSERT_TRUE(SetEntryName(r, c.name, gbkLead));
        EXPECT_STREQ(r.name, c.stored);
    }
    EntryRecord r;
    ASSERT_TRUE(SetEntryName(r, "\x81\x5C"));  // without the code page every 5C is a backslash
    EXPECT_STREQ(r.name, "\x81/");
}

TEST(Records, LocalHeaderBytes) {
    const EntryRecord r = SampleRecord();
    const std::vector<uint8_t> expected = {
        0x50, 0x4B, 0x03, 0x04,  // signature
        0x14, 0x00,              // version needed 20
        0x02, 0x00,              // flags
        0x08, 0x00,              // method
        0x42, 0x48, 0x65, 0x58,  // DOS time, then date
        0x26, 0x39, 0xF4, 0xCB,  // CRC-32
        0x04, 0x03, 0x02, 0x01,  // compressed size
        0x0D, 0x0C, 0x0B, 0x0A,  // uncompressed size
        0x09, 0x00,              // name length
        0x11, 0x00,              // extra length 17
    };
    EXPECT_EQ(Bytes(EncodeLocalHeader(r)), expected);
}

TEST(Records, CentralHeaderBytes) {
    const EntryRecord r = SampleRecord();
    const std::vector<uint8_t> expected = {
        0x50, 0x4B, 0x01, 0x02,  // signature
        0x17, 0x0B,              // version made by
        0x14, 0x00,              // version needed
        0x02, 0x00, 0x08, 0x00,  // flags, method
        0x42, 0x48, 0x65, 0x58,  // DOS time, date
        0x26, 0x39, 0xF4, 0xCB,  // CRC-32
        0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A,  // sizes
        0x09, 0x00,              // name length
        0x09, 0x00,              // extra length 9
        0x00, 0x00,              // comment length
        0x00, 0x00,              // disk number start
        0x00, 0x00,              // internal attributes
        0x20, 0x00, 0x80, 0x81,  // external attributes
        0x33, 0x22, 0x11, 0x00,  // local header offset
    };
    EXPECT_EQ(Bytes(EncodeCentralHeader(r)), expected);
}

TEST(Records, EndRecordBytes) {
    const std::vector<uint8_t> empty = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(EncodeEndRecord(0, 0, 0)), empty);
    // Counts beyond 65535 keep their low 16 bits.
    const std::vector<uint8_t> wrapped = {0x50, 0x4B, 0x05, 0x06, 0,    0,    0,    0,    0x02, 0x00, 0x02,
                                          0x00, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x00, 0,    0};
    EXPECT_EQ(Bytes(EncodeEndRecord(0x10002, 0x12345678, 0x00ABCDEF)), wrapped);
}

TEST(Records, ExtendedTimestampFields) {
    const std::vector<uint8_t> local = {0x55, 0x54, 0x0D, 0x00, 0x07, 0x0C, 0x6F, 0xE6, 0x65,
                                        0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(Bytes(EncodeLocalExtra(1709600524, 1, 0x7FFFFFFF)), local);
    const std::vector<uint8_t> central = {0x55, 0x54, 0x05, 0x00, 0x07, 0x0C, 0x6F, 0xE6, 0x65};
    EXPECT_EQ(Bytes(EncodeCentralExtra(1709600524)), central);
    // Only the low 32 bits of the 64-bit seconds are stored.
    EXPECT_EQ(Bytes(EncodeCentralExtra(0x100000005LL))[5], 0x05);
}

TEST(Attributes, Table) {
    struct Case {
        uint32_t windows;
        bool executable;
        uint32_t expected;
    };
    const Case cases[] = {
        {0x20, false, 0x81800020},   // ordinary file with the archive bit
        {0x21, false, 0x81000021},   // read-only: no owner write
        {0x80, false, 0x81800000},   // FILE_ATTRIBUTE_NORMAL is not among the kept bits
        {0x27, false, 0x81000027},   // read-only, hidden, system, archive
        {0x10, false, 0x41800010},   // directory
        {0x820, false, 0x81800020},  // compressed (0x800) is masked off
        {0x20, true, 0x81C00020},    // executable
        {0x21, true, 0x81400021},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExternalAttributes(c.windows, c.executable), c.expected) << std::hex << c.windows;
}

TEST(Attributes, ExecutableHeaderCheck) {
    auto head = [](uint16_t magic, uint32_t offset) {
        std::vector<uint8_t> h(kDosHeaderBytes, 0);
        h[0] = static_cast<uint8_t>(magic), h[1] = static_cast<uint8_t>(magic >> 8);
        for (int i = 0; i < 4; ++i) h[0x3C + i] = static_cast<uint8_t>(offset >> (8 * i));
        return h;
    };
    struct Case {
        std::vector<uint8_t> head;
        uint64_t fileSize;
        bool found;
    };
    const Case cases[] = {
        {head(0x5A4D, 0x80), 0x80 + 53, true},
        {head(0x5A4D, 0x80), 0x80 + 52, false},         // no room for the PE header
        {head(0x4D5A, 0x80), 0x1000, false},            // "ZM"
        {head(0x5A4D, 0xFFFFFFF0u), 0x1000, false},     // offset + 52 would wrap in 32 bits
        {head(0x5A4D, 0), 40, false},                   // 40 bytes or less never count
        {{0x4D, 0x5A}, 1000, false},                     // header cut short
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        uint32_t offset = 0;
        EXPECT_EQ(FindPeHeaderOffset(cases[i].head.data(), cases[i].head.size(), cases[i].fileSize, &offset),
                  cases[i].found)
            << "case " << i;
        if (cases[i].found) {
            EXPECT_EQ(offset, 0x80u);
        }
    }
    EXPECT_FALSE(FindPeHeaderOffset(nullptr, 64, 1000, nullptr));
}

TEST(Times, UnixSecondsAreUtcAndClamped) {
    struct Case {
        int y, mo, d, h, mi, s;
        int64_t expected;
    };
    const Case cases[] = {
        {1970, 1, 1, 0, 0, 0, 0},
        {2024, 3, 5, 1, 2, 4, 1709600524},
        {2000, 2, 29, 12, 34, 56, 951827696},        // leap day
        {2037, 12, 31, 23, 59, 59, 2145916799},      // last day kept
        {1969, 7, 20, 20, 17, 40, 73060},            // before 1970: 1970-01-01, same time of day
        {1601, 1, 1, 12, 0, 0, 43200},
        {2038, 1, 19, 3, 14, 8, 2145842048},         // 2038 and later: 2037-12-31, same time of day
        {30827, 12, 31, 23, 59, 59, 2145916799},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClampedUnixSeconds(c.y, c.mo, c.d, c.h, c.mi, c.s), c.expected) << c.y << "-" << c.mo << "-" << c.d;
}

TEST(Times, DosTimestamp) {
    struct Case {
        int y, mo, d, h, mi, s;
        uint32_t expected;
    };
    const Case cases[] = {
        {2024, 3, 5, 9, 2, 4, 0x58654842},
        {2024, 3, 5, 1, 2, 5, 0x58650842},     // odd seconds round down to the two-second step
        {1980, 1, 1, 0, 0, 0, 0x00210000},
        {1979, 12, 31, 23, 59, 59, 0x00210000},  // before 1980: the first DOS time
        {1601, 1, 1, 0, 0, 0, 0x00210000},
        {2107, 12, 31, 23, 59, 58, 0xFF9FBF7D},
        {2108, 1, 1, 0, 0, 0, 0xFF9FBF7D},     // after 2107: the last DOS time
    };
    for (const auto& c : cases)
        EXPECT_EQ(DosTimestamp(c.y, c.mo, c.d, c.h, c.mi, c.s), c.expected) << c.y << "-" << c.mo << "-" << c.d;
}
