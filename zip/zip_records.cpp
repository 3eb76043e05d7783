// Byte layout of the zip writer's records and the arithmetic behind their fields.
#include "zip/zip_records.h"

#include <cstring>

namespace velk::zip {
namespace {

// Little-endian stores into a fixed record; the offsets are the format's.
template <size_t N>
void Put16(std::array<uint8_t, N>& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

template <size_t N>
void Put32(std::array<uint8_t, N>& out, size_t at, uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    return *a == *b;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (month 1-12).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

}  // namespace

bool SetEntryName(EntryRecord& record, const char* name, LeadByteTest isLeadByte) {
    if (name == nullptr || *name == '\0') return false;
    const size_t length = strnlen(name, kMaxNameBytes + 1);
    if (length > kMaxNameBytes) return false;
    memcpy(record.name, name, length);
    record.name[length] = '\0';
    // Zip names always use '/'. A GBK character such as U+4E57 is 81 5C: its second byte must
    // survive, or the name would change to another character and a path separator.
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<uint8_t>(record.name[i]);
        if (isLeadByte != nullptr && isLeadByte(byte) && i + 1 < length) {
            ++i;
        } else if (byte == '\\') {
            record.name[i] = '/';
        }
    }
    record.nameLength = static_cast<uint32_t>(length);
    return true;
}

bool IsStoredSuffix(const char* name) {
    static const char* const kStoredSuffixes[] = {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};
    if (name == nullptr) return false;
    const char* suffix = strrchr(name, '.');
    if (suffix == nullptr) return false;
    for (const char* stored : kStoredSuffixes)
        if (EqualsIgnoringAsciiCase(suffix, stored)) return true;
    return false;
}

std::array<uint8_t, kLocalHeaderSize> EncodeLocalHeader(const EntryRecord& r) {
    std::array<uint8_t, kLocalHeaderSize> out{};
    Put32(out, 0, kLocalHeaderSignature);
    Put16(out, 4, r.versionNeeded);
    Put16(out, 6, r.localFlags);
    Put16(out, 8, r.method);
    Put16(out, 10, r.dosTimestamp & 0xFFFF);  // time
    Put16(out, 12, r.dosTimestamp >> 16);     // date
    Put32(out, 14, r.crc32);
    Put32(out, 18, r.compressedSize);
    Put32(out, 22, r.uncompressedSize);
    Put16(out, 26, r.nameLength);
    Put16(out, 28, r.localExtraLength);
    return out;
}

std::array<uint8_t, kCentralHeaderSize> EncodeCentralHeader(const EntryRecord& r) {
    std::array<uint8_t, kCentralHeaderSize> out{};
    Put32(out, 0, kCentralHeaderSignature);
    Put16(out, 4, r.versionMadeBy);
    Put16(out, 6, r.versionNeeded);
    Put16(out, 8, r.centralFlags);
    Put16(out, 10, r.method);
    Put16(out, 12, r.dosTimestamp & 0xFFFF);
    Put16(out, 14, r.dosTimestamp >> 16);
    Put32(out, 16, r.crc32);
    Put32(out, 20, r.compressedSize);
    Put32(out, 24, r.uncompressedSize);
    Put16(out, 28, r.nameLength);
    Put16(out, 30, r.centralExtraLength);
    Put16(out, 32, r.commentLength);
    Put16(out, 34, r.diskNumberStart);
    Put16(out, 36, r.internalAttributes);
    Put32(out, 38, r.externalAttributes);
    Put32(out, 42, r.localHeaderOffset);
    return out;
}

std::array<uint8_t, kEndRecordSize> EncodeEndRecord(uint32_t entryCount, uint32_t directorySize,
                                                    uint32_t directoryOffset) {
    std::array<uint8_t, kEndRecordSize> out{};
    Put32(out, 0, kEndRecordSignature);
    Put16(out, 4, 0);  // this disk
    Put16(out, 6, 0);  // disk of the central directory
    // Without Zip64 the counts have 16 bits; readers that walk the directory by its size still
    // find every entry beyond 65535.
    Put16(out, 8, entryCount & 0xFFFF);
    Put16(out, 10, entryCount & 0xFFFF);
    Put32(out, 12, directorySize);
    Put32(out, 16, directoryOffset);
    Put16(out, 20, 0);  // no archive comment
    return out;
}

std::array<uint8_t, kLocalExtraSize> EncodeLocalExtra(int64_t modified, int64_t accessed, int64_t created) {
    std::array<uint8_t, kLocalExtraSize> out{};
    Put16(out, 0, kExtendedTimestampTag);
    Put16(out, 2, kLocalExtraSize - 4);
    out[4] = 7;  // modification, access and creation present
    Put32(out, 5, static_cast<uint32_t>(modified));
    Put32(out, 9, static_cast<uint32_t>(accessed));
    Put32(out, 13, static_cast<uint32_t>(created));
    return out;
}

std::array<uint8_t, kCentralExtraSize> EncodeCentralExtra(int64_t modified) {
    std::array<uint8_t, kCentralExtraSize> out{};
    Put16(out, 0, kExtendedTimestampTag);
    Put16(out, 2, kCentralExtraSize - 4);
    // The flags describe the local field (all three times); the central copy carries only the
    // modification time, which is how readers expect the central form.
    out[4] = 7;
    Put32(out, 5, static_cast<uint32_t>(modified));
    return out;
}

uint32_t ExternalAttributes(uint32_t windowsAttributes, bool executable) {
    const bool directory = (windowsAttributes & kDosDirectory) != 0;
    uint32_t value = directory ? kModeDirectory : kModeRegular;
    value |= kModeOwnerRead;
    if ((windowsAttributes & kDosReadOnly) == 0) value |= kModeOwnerWrite;
    if (executable) value |= kModeOwnerExecute;
    return value | (windowsAttributes & kDosAttributeMask);
}

bool FindPeHeaderOffset(const uint8_t* head, size_t headLength, uint64_t fileSize, uint32_t* peOffset) {
    if (head == nullptr || fileSize <= 40 || headLength < kDosHeaderBytes) return false;
    const uint32_t magic = head[0] | (head[1] << 8);
    if (magic != 0x5A4D) return false;  // "MZ"
    const uint32_t offset = head[0x3C] | (head[0x3D] << 8) | (head[0x3E] << 16) | (static_cast<uint32_t>(head[0x3F]) << 24);
    // 64-bit sum: a hostile offset near 4 GiB must not wrap around and pass.
    if (static_cast<uint64_t>(offset) + 52 >= fileSize) return false;
    if (peOffset != nullptr) *peOffset = offset;
    return true;
}

int64_t ClampedUnixSeconds(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1970) {
        year = 1970, month = 1, day = 1;
    } else if (year >= 2038) {
        year = 2037, month = 12, day = 31;
    }
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           static_cast<int64_t>(hour) * 3600 + minute * 60 + second;
}

uint32_t DosTimestamp(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980) {
        year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    } else if (year > 2107) {
        year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
    }
    const uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(month) << 5) |
                          static_cast<uint32_t>(day);
    const uint32_t time = (static_cast<uint32_t>(hour) << 11) | (static_cast<uint32_t>(minute) << 5) |
                          static_cast<uint32_t>(second / 2);
    return (date << 16) | time;
}

}  // namespace velk::zip
