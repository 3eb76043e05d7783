// Win32 side of the zip writer: the archive and source files, their metadata and times, and the
// sequence of records per entry. Record bytes come from zip_records.cpp, deflate data from compress_entry.
#include "zip/zip_writer_win.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "zip/crc32.h"
#include "zip/deflate/deflate.h"

namespace velk::zip {
namespace {

// Whether a byte of a narrow name in the ANSI code page opens a two-byte character (code page
// 936 on our users' systems), so that its trail byte is not taken for a backslash.
bool IsAnsiLeadByte(uint8_t byte) { return ::IsDBCSLeadByteEx(CP_ACP, byte) != FALSE; }

// SetFilePointerEx rather than SetFilePointer with a LONG: offsets from 2 GiB on would be negative
// there, and archives and sources may reach 4 GiB.
bool SeekTo(HANDLE file, uint32_t position) {
    LARGE_INTEGER at;
    at.QuadPart = position;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE;
}

// Executables get the owner-execute bit: a DOS header whose new-header position points at
// "PE\0\0" inside the file. Leaves the file pointer anywhere.
bool IsPeImage(HANDLE file, uint32_t size) {
    uint8_t head[kDosHeaderBytes] = {};
    DWORD got = 0;
    uint32_t peOffset = 0;
    if (!::ReadFile(file, head, sizeof head, &got, nullptr) || !FindPeHeaderOffset(head, got, size, &peOffset) ||
        !SeekTo(file, peOffset))
        return false;
    uint8_t signature[4] = {};
    if (!::ReadFile(file, signature, sizeof signature, &got, nullptr) || got != sizeof signature) return false;
    return (signature[0] | signature[1] << 8 | signature[2] << 16 | static_cast<uint32_t>(signature[3]) << 24) ==
           kPeSignature;
}

// The largest calendar time the clamping below can give, for file times Windows cannot split.
constexpr WORD kLastYear = 30827;

constexpr uint32_t kMaxLocalRecord = kLocalHeaderSize + kMaxNameBytes + kLocalExtraSize;
constexpr uint32_t kMaxCentralRecord = kCentralHeaderSize + kMaxNameBytes + kCentralExtraSize;

// A whole header as it goes into the file: the fixed part, the name and the extra field (no
// comment follows). out has room for the largest; returns the length.
template <size_t FixedSize, size_t ExtraSize>
uint32_t RecordBytes(const std::array<uint8_t, FixedSize>& fixed, const EntryRecord& record,
                     const std::array<uint8_t, ExtraSize>& extra, uint32_t extraLength, uint8_t* out) {
    const uint32_t nameLength = std::min<uint32_t>(record.nameLength, kMaxNameBytes);
    extraLength = std::min<uint32_t>(extraLength, ExtraSize);
    std::memcpy(out, fixed.data(), FixedSize);
    std::memcpy(out + FixedSize, record.name, nameLength);
    std::memcpy(out + FixedSize + nameLength, extra.data(), extraLength);
    return static_cast<uint32_t>(FixedSize) + nameLength + extraLength;
}

uint32_t LocalRecordBytes(const EntryRecord& record, uint8_t* out) {
    return RecordBytes(EncodeLocalHeader(record), record, record.localExtra, record.localExtraLength, out);
}

uint32_t CentralRecordBytes(const EntryRecord& record, uint8_t* out) {
    return RecordBytes(EncodeCentralHeader(record), record, record.centralExtra, record.centralExtraLength, out);
}

// Attributes and the three times, as GetFileInformationByHandle gives them, without its volume
// serial number: under Wine that number is asked of the mount manager, a round trip to another
// process that cost milliseconds per file, more than the rest of a small entry together.
bool ReadBasicInfo(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
    auto toFileTime = [](const LARGE_INTEGER& t) {
        FILETIME f;
        f.dwLowDateTime = static_cast<DWORD>(t.QuadPart & 0xFFFFFFFFu);
        f.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(t.QuadPart) >> 32);
        return f;
    };
    *info = BY_HANDLE_FILE_INFORMATION{};
    info->dwFileAttributes = basic.FileAttributes;
    info->ftCreationTime = toFileTime(basic.CreationTime);
    info->ftLastAccessTime = toFileTime(basic.LastAccessTime);
    info->ftLastWriteTime = toFileTime(basic.LastWriteTime);
    return true;
}

}  // namespace

ZipWriter::~ZipWriter() { FreeEntries(); }

void ZipWriter::FreeEntries() {
    // One record at a time: letting the chain of unique_ptrs destroy itself would recurse once per
    // entry, and an archive may hold tens of thousands.
    while (m_entries) m_entries = std::move(m_entries->next);
    m_lastEntry = nullptr;
}

ZipResult ZipWriter::Create(const wchar_t* path) {
    if (path == nullptr) return ZipResult::OpenFailed;
    // No sharing: nobody reads a half-written archive. CREATE_ALWAYS truncates an old one.
    m_output.reset(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_output) return ZipResult::OpenFailed;
    m_written = 0;
    m_directoryWritten = false;
    return ZipResult::Ok;
}

uint32_t ZipWriter::WriteOut(const void* bytes, uint32_t count) {
    if (!m_output || (bytes == nullptr && count != 0)) return 0;
    DWORD done = 0;
    if (!::WriteFile(m_output.get(), bytes, count, &done, nullptr)) return 0;
    return done;
}

bool ZipWriter::SeekOut(uint32_t position) {
    return m_output && SeekTo(m_output.get(), position);
}

bool ZipWriter::Hold(const void* bytes, uint32_t count) {
    if (count > kHeldBytes - m_heldCount) return false;
    if (count != 0) std::memcpy(m_held + m_heldCount, bytes, count);
    m_heldCount += count;
    return true;
}

bool ZipWriter::WriteHeld() {
    const uint32_t count = m_heldCount;
    m_heldCount = 0;
    return WriteAll(m_held, count);
}

bool ZipWriter::EmitData(const uint8_t* bytes, uint32_t count) {
    if (m_holding) {
        if (Hold(bytes, count)) return true;
        // Too big to hold: the placeholder header and the data so far go out now, the rest
        // follows directly, and the header is rewritten in place at the end.
        m_holding = false;
        if (!WriteHeld()) return false;
    }
    return WriteAll(bytes, count);
}

// Each header goes out in one call, checked as a whole: a header with a byte missing must not
// pass for a written one.
bool ZipWriter::WriteLocalHeader(const EntryRecord& record) {
    uint8_t bytes[kMaxLocalRecord];
    return WriteAll(bytes, LocalRecordBytes(record, bytes));
}

bool ZipWriter::WriteCentralHeader(const EntryRecord& record) {
    uint8_t bytes[kMaxCentralRecord];
    return WriteAll(bytes, CentralRecordBytes(record, bytes));
}

bool ZipWriter::WriteEndRecord(uint32_t entryCount, uint32_t directorySize, uint32_t directoryOffset) {
    const auto fixed = EncodeEndRecord(entryCount, directorySize, directoryOffset);
    return WriteAll(fixed.data(), kEndRecordSize);
}

ZipResult ZipWriter::WriteCentralDirectory() {
    const uint32_t start = m_written;
    uint64_t written = m_written;  // 64 bits: a directory pushing the archive past 4 GiB is a failure
    bool failed = false;
    uint32_t count = 0;
    std::unique_ptr<EntryRecord> entry = std::move(m_entries);
    m_lastEntry = nullptr;
    // Headers are gathered in m_held and written a buffer at a time: one write per header costs
    // more than the header itself when there are tens of thousands.
    m_heldCount = 0;
    while (entry) {
        // After the first failed write nothing more is written, but every record is still freed.
        if (!failed && kHeldBytes - m_heldCount < kMaxCentralRecord && !WriteHeld()) failed = true;
        if (!failed) m_heldCount += CentralRecordBytes(*entry, m_held + m_heldCount);
        written += kCentralHeaderSize + entry->nameLength + entry->centralExtraLength + entry->commentLength;
        ++count;
        entry = std::move(entry->next);
    }
    if (failed || written + kEndRecordSize > UINT32_MAX) {
        m_heldCount = 0;
        return ZipResult::WriteFailed;
    }
    m_written = static_cast<uint32_t>(written);
    // The end record goes out with the last of the directory, in the same write when it fits.
    const auto end = EncodeEndRecord(count, m_written - start, start);
    if (!Hold(end.data(), kEndRecordSize) && (!WriteHeld() || !Hold(end.data(), kEndRecordSize)))
        return ZipResult::WriteFailed;
    if (!WriteHeld()) return ZipResult::WriteFailed;
    m_written += kEndRecordSize;
    return ZipResult::Ok;
}

ZipResult ZipWriter::Finish() {
    ZipResult result = ZipResult::Ok;
    if (!m_directoryWritten) {
        result = WriteCentralDirectory();
        m_directoryWritten = true;
    }
    FreeEntries();
    m_output.reset();
    return result;
}

int64_t ZipWriter::FileTimeToUnixSeconds(const FILETIME& fileTime) {
    SYSTEMTIME utc;
    // Fails only for file times beyond the year 30827; those clamp like any time after 2037.
    if (!::FileTimeToSystemTime(&fileTime, &utc)) return ClampedUnixSeconds(kLastYear, 12, 31, 0, 0, 0);
    // The calendar fields are UTC and are counted as UTC: no local-time conversion belongs here.
    return ClampedUnixSeconds(utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
}

uint32_t ZipWriter::FileTimeToLocalDosTimestamp(const FILETIME& fileTime) {
    SYSTEMTIME utc, local;
    if (!::FileTimeToSystemTime(&fileTime, &utc)) return DosTimestamp(kLastYear, 12, 31, 23, 59, 59);
    // DOS times have no zone: readers show them as they are, so they must be the local wall-clock
    // time of the last write. Null means the zone the system is set to, with its daylight rules.
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
    return DosTimestamp(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond);
}

bool ZipWriter::ReadSourceInfo(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
    DWORD sizeHigh = 0;
    const DWORD sizeLow = ::GetFileSize(file, &sizeHigh);
    if (sizeLow == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
    // Sizes and offsets have 32 bits without Zip64: a source of 4 GiB or more cannot be recorded.
    if (sizeHigh != 0) return false;

    const bool executable = IsPeImage(file, sizeLow);
    // The data is read from the start, whatever the check above did to the file pointer.
    if (!SeekTo(file, 0)) return false;

    m_externalAttributes = ExternalAttributes(info.dwFileAttributes, executable);
    m_declaredSize = static_cast<int32_t>(sizeLow);  // 2 GiB and up reads as unknown (negative)
    m_accessTime = FileTimeToUnixSeconds(info.ftLastAccessTime);
    m_modifyTime = FileTimeToUnixSeconds(info.ftLastWriteTime);
    m_createTime = FileTimeToUnixSeconds(info.ftCreationTime);
    m_dosTimestamp = FileTimeToLocalDosTimestamp(info.ftLastWriteTime);
    return true;
}

ZipResult ZipWriter::OpenSource(const wchar_t* path) {
    m_bytesRead = 0;
    m_crc = 0;
    m_compressedSize = 0;
    m_declaredSize = 0;
    m_flushedBytes = 0;
    m_outputFailed = false;
    m_source.reset();
    if (path == nullptr) return ZipResult::BadArgument;

    // The widest sharing: a crash handler that still holds the dump open for writing (letting
    // readers in) must not keep it out of the report. Only an opener that shares nothing does.
    velk::unique_hfile file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return ZipResult::OpenFailed;
    // The metadata comes first: under Wine, GetFileType sets the access time to now. A pipe or
    // device may have no such information; only a disk file needs it.
    BY_HANDLE_FILE_INFORMATION info;
    const bool haveInfo = ReadBasicInfo(file.get(), &info);
    if (::GetFileType(file.get()) == FILE_TYPE_DISK) {
        if (!haveInfo || !ReadSourceInfo(file.get(), info)) return ZipResult::OpenFailed;
        m_seekable = true;
    } else {
        // A pipe or device has no size, attributes or times of its own: now stands in for them.
        m_externalAttributes = kModeRegular;
        m_declaredSize = -1;
        m_seekable = false;
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        m_accessTime = m_modifyTime = m_createTime = FileTimeToUnixSeconds(now);
        m_dosTimestamp = FileTimeToLocalDosTimestamp(now);
    }
    m_source = std::move(file);
    return ZipResult::Ok;
}

uint32_t ZipWriter::ReadSource(uint8_t* buffer, uint32_t maxCount) {
    if (!m_source || buffer == nullptr) return 0;
    // The entry's sizes have 32 bits: a source that grew past 4 GiB while being read ends there.
    if (maxCount > UINT32_MAX - m_bytesRead) maxCount = UINT32_MAX - m_bytesRead;
    DWORD got = 0;
    if (maxCount == 0 || !::ReadFile(m_source.get(), buffer, maxCount, &got, nullptr)) return 0;
    m_bytesRead += got;
    m_crc = Crc32Update(m_crc, buffer, got);
    return got;
}

void ZipWriter::CloseSource() {
    m_source.reset();
    m_declaredSize = static_cast<int32_t>(m_bytesRead);
}

uint32_t ZipWriter::ReadInput(void* user, uint8_t* destination, uint32_t maxBytes) {
    return static_cast<ZipWriter*>(user)->ReadSource(destination, maxBytes);
}

void ZipWriter::FlushOutput(void* user, const uint8_t* buffer, uint32_t* count) {
    auto* writer = static_cast<ZipWriter*>(user);
    if (writer == nullptr || count == nullptr || *count == 0) return;
    // A short write keeps *count: the compressor must not take the buffer for empty and fill it
    // again, and the entry is failed once the compressor returns.
    if (writer->EmitData(buffer, *count)) {
        writer->m_flushedBytes += *count;
        *count = 0;
    } else {
        writer->m_outputFailed = true;
    }
}

ZipResult ZipWriter::StoreEntry() {
    m_compressedSize = 0;
    for (;;) {
        const uint32_t n = ReadSource(m_work, kWorkBufferSize);
        if (n == 0 || n == UINT32_MAX) break;
        if (!EmitData(m_work, n)) return ZipResult::WriteFailed;
        m_compressedSize += n;
    }
    return ZipResult::Ok;
}

ZipResult ZipWriter::FailEntry(uint32_t localHeaderOffset) {
    // Whatever reached the file for a failed entry is cut off again, so that the next entry starts
    // exactly where the count says: after a short write the file position and the count disagree,
    // and every later offset in the directory would be wrong. Held bytes never reached the file.
    m_holding = false;
    m_heldCount = 0;
    m_written = localHeaderOffset;
    if (SeekOut(localHeaderOffset)) ::SetEndOfFile(m_output.get());
    return ZipResult::WriteFailed;
}

ZipResult ZipWriter::AddEntry(const char* name, const wchar_t* sourcePath) {
    if (!m_output || m_directoryWritten) return ZipResult::BadArgument;
    auto record = std::unique_ptr<EntryRecord>(new (std::nothrow) EntryRecord());
    if (!record) return ZipResult::WriteFailed;
    if (!SetEntryName(*record, name, IsAnsiLeadByte)) return ZipResult::BadArgument;
    record->method = IsStoredSuffix(record->name) ? kMethodStored : kMethodDeflated;

    const ZipResult opened = OpenSource(sourcePath);
    if (opened != ZipResult::Ok) return opened;

    // The placeholder: flags say the sizes follow, CRC 0, and a deflated entry's size unknown.
    record->dosTimestamp = m_dosTimestamp;
    record->compressedSize =
        (record->method == kMethodStored && m_declaredSize >= 0) ? static_cast<uint32_t>(m_declaredSize) : 0;
    record->uncompressedSize = static_cast<uint32_t>(m_declaredSize);
    record->externalAttributes = m_externalAttributes;
    record->localHeaderOffset = m_written;
    record->localExtra = EncodeLocalExtra(m_modifyTime, m_accessTime, m_createTime);
    record->centralExtra = EncodeCentralExtra(m_modifyTime);

    const uint32_t offset = m_written;
    const uint64_t dataStart = uint64_t{offset} + kLocalHeaderSize + record->nameLength + record->localExtraLength;
    if (dataStart > UINT32_MAX) {
        CloseSource();
        return FailEntry(offset);
    }
    uint8_t placeholder[kMaxLocalRecord];
    m_heldCount = 0;
    m_holding = Hold(placeholder, LocalRecordBytes(*record, placeholder));
    m_written = static_cast<uint32_t>(dataStart);

    bool dataWritten = false;
    if (record->method == kMethodDeflated) {
        // The compressor adds its level's flag bits (0x0002 at level 8) to the central flags.
        const deflate::CompressResult result =
            deflate::compress_entry(this, &ZipWriter::ReadInput, &ZipWriter::FlushOutput, m_work, kWorkBufferSize,
                                    kDeflateLevel, &record->centralFlags);
        // What reached the file is what counts; it must also be what the compressor says it gave.
        m_compressedSize = m_flushedBytes;
        dataWritten = result.error_message == nullptr && !m_outputFailed && result.compressed_size == m_flushedBytes;
    } else {
        dataWritten = StoreEntry() == ZipResult::Ok;
    }
    CloseSource();
    const uint64_t dataEnd = uint64_t{m_written} + m_compressedSize;
    if (!dataWritten || dataEnd > UINT32_MAX) return FailEntry(offset);
    m_written = static_cast<uint32_t>(dataEnd);

    record->crc32 = m_crc;
    record->compressedSize = m_compressedSize;
    record->uncompressedSize = m_bytesRead;
    // The sizes are in the rewritten header, so the data-descriptor bit goes (it can only stay for
    // encrypted entries, which this writer never makes).
    if ((record->centralFlags & kFlagEncrypted) == 0) record->centralFlags &= ~kFlagSizesFollow;
    record->localFlags = record->centralFlags;
    // Same length as the placeholder, so the final header covers it exactly: in the held bytes,
    // or in the file for an entry that outgrew them.
    if (m_holding) {
        LocalRecordBytes(*record, m_held);
        m_holding = false;
        if (!WriteHeld()) return FailEntry(offset);
    } else if (!SeekOut(offset) || !WriteLocalHeader(*record) || !SeekOut(m_written)) {
        return FailEntry(offset);
    }

    EntryRecord* added = record.get();
    if (m_lastEntry == nullptr)
        m_entries = std::move(record);
    else
        m_lastEntry->next = std::move(record);
    m_lastEntry = added;
    return ZipResult::Ok;
}

ZipHandle* ZipCreate(const wchar_t* path) {
    // The writer carries its 16 KiB work buffer inline; a failed allocation is a failed create.
    ZipHandle* handle = new (std::nothrow) ZipHandle();
    if (handle == nullptr) return nullptr;
    if (handle->writer.Create(path) != ZipResult::Ok) {
        delete handle;
        return nullptr;
    }
    return handle;
}

ZipResult ZipAddFile(ZipHandle* handle, const wchar_t* entryName, const wchar_t* sourcePath) {
    if (handle == nullptr || entryName == nullptr) return ZipResult::BadArgument;
    // Twice the record's 259 bytes: a longer conversion fails here, a shorter one that still
    // does not fit the record is refused by AddEntry. Zero-filled, so it is always terminated.
    char narrow[2 * (kMaxNameBytes + 1)] = {};
    // CP_ACP without flags: names are stored in the system's code page and the UTF-8 flag
    // (bit 11) is never set, which is what the readers on our users' systems expect.
    if (::WideCharToMultiByte(CP_ACP, 0, entryName, -1, narrow, sizeof narrow, nullptr, nullptr) <= 0)
        return ZipResult::BadArgument;
    return handle->writer.AddEntry(narrow, sourcePath);
}

ZipResult ZipClose(ZipHandle* handle) {
    if (handle == nullptr) return ZipResult::BadArgument;
    const ZipResult result = handle->writer.Finish();
    delete handle;
    return result;
}

}  // namespace velk::zip
