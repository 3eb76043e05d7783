// The zip writer's records and their bytes: entry record, local and central headers, end record,
// extended-timestamp fields, the stored-suffix rule and the attribute and time arithmetic.
// Pure code below the Win32 glue of zip_writer_win.cpp; it builds and is tested natively too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace velk::zip {

// --- format constants, all little-endian on disk ---
constexpr uint32_t kLocalHeaderSignature = 0x04034B50;    // "PK\3\4"
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;  // "PK\1\2"
constexpr uint32_t kEndRecordSignature = 0x06054B50;      // "PK\5\6"
constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kLocalExtraSize = 17;    // extended timestamp: modification, access, creation
constexpr uint32_t kCentralExtraSize = 9;   // extended timestamp: modification only
constexpr uint16_t kExtendedTimestampTag = 0x5455;  // "UT"

constexpr uint16_t kVersionMadeBy = 0x0B17;  // high byte 11, low byte 23 (version 2.3)
constexpr uint16_t kVersionNeeded = 20;      // deflate needs 2.0
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagSizesFollow = 0x0008;  // set only in the placeholder local header

constexpr size_t kMaxNameBytes = 259;         // entry name in the record, without its terminator
constexpr uint32_t kWorkBufferSize = 16384;   // copy buffer and compressor output buffer
constexpr int kDeflateLevel = 8;

// Unix mode bits in the high half of the external attributes (the low byte holds DOS attributes).
constexpr uint32_t kModeDirectory = 0x40000000;
constexpr uint32_t kModeRegular = 0x80000000;
constexpr uint32_t kModeOwnerRead = 0x01000000;
constexpr uint32_t kModeOwnerWrite = 0x00800000;
constexpr uint32_t kModeOwnerExecute = 0x00400000;
constexpr uint32_t kDosAttributeMask = 0x37;  // read-only, hidden, system, directory, archive
constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosDirectory = 0x10;

// One added entry; mirrors its central directory header. Filled by ZipWriter::AddEntry, owned by
// the writer's list until WriteCentralDirectory has written and freed it.
struct EntryRecord {
    uint16_t versionMadeBy = kVersionMadeBy;
    uint16_t versionNeeded = kVersionNeeded;
    uint16_t centralFlags = kFlagSizesFollow;  // the compressor ORs in its level bits (0x0002)
    uint16_t method = kMethodDeflated;
    uint32_t dosTimestamp = 0;      // DOS date in the high 16 bits, DOS time in the low 16 bits
    uint32_t crc32 = 0;             // 0 in the placeholder, the source's CRC once its data is written
    uint32_t compressedSize = 0;    // bytes of entry data in the archive
    uint32_t uncompressedSize = 0;  // bytes read from the source
    uint32_t nameLength = 0;
    uint32_t localExtraLength = kLocalExtraSize;
    uint32_t centralExtraLength = kCentralExtraSize;
    uint32_t commentLength = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;  // 0: binary
    uint16_t localFlags = kFlagSizesFollow;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;  // the writer's byte count when the local header was begun
    std::array<uint8_t, kLocalExtraSize> localExtra{};
    std::array<uint8_t, kCentralExtraSize> centralExtra{};
    char name[kMaxNameBytes + 1] = {};  // narrow (ANSI code page), '/' as separator, zero-terminated
    std::unique_ptr<EntryRecord> next;  // next entry in adding order
};

// Tells whether a byte of a narrow name starts a two-byte character of its code page.
using LeadByteTest = bool (*)(uint8_t byte);

// Copies a narrow entry name into the record with '\' turned into '/'. False for a null or empty
// name and for one longer than kMaxNameBytes; the record is then left unchanged. In double-byte
// code pages such as 936 a trail byte can be 0x5C, so with isLeadByte the byte after a lead byte
// is kept as it is; without it every byte is a character of its own.
bool SetEntryName(EntryRecord& record, const char* name, LeadByteTest isLeadByte = nullptr);

// Method 0 for names whose suffix (from the last '.' of the whole name, directories included)
// is one of the already-compressed kinds, compared ASCII case-insensitively.
bool IsStoredSuffix(const char* name);

// The fixed parts of the three record kinds; the name and extra field follow separately.
std::array<uint8_t, kLocalHeaderSize> EncodeLocalHeader(const EntryRecord& record);
std::array<uint8_t, kCentralHeaderSize> EncodeCentralHeader(const EntryRecord& record);
std::array<uint8_t, kEndRecordSize> EncodeEndRecord(uint32_t entryCount, uint32_t directorySize,
                                                    uint32_t directoryOffset);

// Extended-timestamp fields; each time is stored as the low 32 bits of its seconds.
std::array<uint8_t, kLocalExtraSize> EncodeLocalExtra(int64_t modified, int64_t accessed, int64_t created);
std::array<uint8_t, kCentralExtraSize> EncodeCentralExtra(int64_t modified);

// External attributes from Windows file attributes: the masked DOS bits in the low byte and a
// Unix mode (regular file or directory, owner read, owner write unless read-only, owner execute
// for executables) in the high 16 bits.
uint32_t ExternalAttributes(uint32_t windowsAttributes, bool executable);

// For a file of fileSize bytes whose first bytes are head[0..headLength): true when it starts with
// "MZ" and its new-header position (32 bits at 0x3C) leaves room for a PE header, which is then
// expected at *peOffset. Files of 40 bytes or less never qualify.
bool FindPeHeaderOffset(const uint8_t* head, size_t headLength, uint64_t fileSize, uint32_t* peOffset);
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr size_t kDosHeaderBytes = 64;          // what FindPeHeaderOffset needs to see

// Seconds since 1970-01-01 00:00:00 UTC of a UTC calendar time (month 1-12, day 1-31). A year
// before 1970 becomes 1970-01-01 and one of 2038 or later 2037-12-31, with the time of day kept:
// the extended-timestamp fields hold only 32 bits.
int64_t ClampedUnixSeconds(int year, int month, int day, int hour, int minute, int second);

// DOS date (high 16 bits) and time (low 16 bits, two-second steps) of a calendar time. DOS dates
// run from 1980 to 2107: earlier times become 1980-01-01 00:00:00, later ones 2107-12-31 23:59:58.
uint32_t DosTimestamp(int year, int month, int day, int hour, int minute, int second);

}  // namespace velk::zip
