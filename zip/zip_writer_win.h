// The zip writer behind ZipCreate/ZipAddFile/ZipClose: one archive file, its entry records and
// the per-entry source state. Win32 side of the container; the record bytes come from zip_records.h
// and the deflate data from zip/deflate (compress_entry), which calls back into ReadSource and FlushOutput.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "support/unique_any.h"
#include "zip/zip_records.h"
#include "zip/zip_writer.h"

namespace velk::zip {

class ZipWriter {
public:
    ZipWriter() = default;
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Creates or truncates the archive file.
    ZipResult Create(const wchar_t* path);
    // Adds one source file under a narrow (ANSI code page) entry name.
    ZipResult AddEntry(const char* name, const wchar_t* sourcePath);
    // Central directory and end record once, then the archive file is closed.
    ZipResult Finish();

    // The compressor's two callbacks; user is the writer.
    static uint32_t ReadInput(void* user, uint8_t* destination, uint32_t maxBytes);
    // Writes *count bytes (or holds them with the entry, see m_held) and sets *count to 0 only when
    // all of them were taken; a failed or short write leaves *count as it was and marks the
    // entry's output as failed.
    static void FlushOutput(void* user, const uint8_t* buffer, uint32_t* count);

    // Seconds since 1970 UTC, clamped to 1970-01-01 .. 2037-12-31 (time of day kept).
    static int64_t FileTimeToUnixSeconds(const FILETIME& fileTime);

private:
    // Bytes written to the archive at its current position (0 on failure).
    uint32_t WriteOut(const void* bytes, uint32_t count);
    bool SeekOut(uint32_t position);

    ZipResult OpenSource(const wchar_t* path);
    uint32_t ReadSource(uint8_t* buffer, uint32_t maxCount);
    void CloseSource();
    ZipResult StoreEntry();

    // True when the whole header, name and extra field reached the file.
    bool WriteLocalHeader(const EntryRecord& record);
    bool WriteCentralHeader(const EntryRecord& record);
    bool WriteEndRecord(uint32_t entryCount, uint32_t directorySize, uint32_t directoryOffset);
    ZipResult WriteCentralDirectory();

    static bool IsStoredSuffix(const char* name) { return velk::zip::IsStoredSuffix(name); }
    // Attributes, size, the three times and the DOS timestamp of an open disk file, from its
    // GetFileInformationByHandle record and its size; rewinds it. False when it cannot be recorded.
    bool ReadSourceInfo(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info);
    // DOS date and time of a UTC file time, in the machine's local time.
    static uint32_t FileTimeToLocalDosTimestamp(const FILETIME& fileTime);

    bool WriteAll(const void* bytes, uint32_t count) { return count == 0 || WriteOut(bytes, count) == count; }
    // Appends to m_held; false, with nothing appended, when the bytes do not fit.
    bool Hold(const void* bytes, uint32_t count);
    // Writes out and empties m_held; false when not all of it reached the file.
    bool WriteHeld();
    // An entry's data bytes: held while the entry still fits in m_held, written from then on.
    bool EmitData(const uint8_t* bytes, uint32_t count);
    ZipResult FailEntry(uint32_t localHeaderOffset);
    void FreeEntries();

    velk::unique_hfile m_output;  // the archive; none once Finish has closed it
    uint32_t m_written = 0;       // archive bytes accounted for; offset of the next record
    bool m_directoryWritten = false;
    std::unique_ptr<EntryRecord> m_entries;  // in adding order; freed by WriteCentralDirectory
    EntryRecord* m_lastEntry = nullptr;      // tail of m_entries, for appending

    // --- per-entry source state, reset by OpenSource ---
    uint32_t m_externalAttributes = 0;
    int64_t m_accessTime = 0;  // seconds since 1970 UTC, clamped to 32 bits' range
    int64_t m_modifyTime = 0;
    int64_t m_createTime = 0;
    uint32_t m_dosTimestamp = 0;   // local time of the last write: date high, time low
    bool m_seekable = false;       // a disk file, as opposed to a pipe or device
    int32_t m_declaredSize = 0;    // size at opening; -1 when unknown
    uint32_t m_bytesRead = 0;      // counted by ReadSource
    uint32_t m_crc = 0;            // running CRC-32 of the bytes read
    velk::unique_hfile m_source;   // open only inside AddEntry
    uint32_t m_compressedSize = 0;
    uint32_t m_flushedBytes = 0;   // compressed bytes FlushOutput got written for this entry
    bool m_outputFailed = false;   // a data write of this entry came back short

    uint8_t m_work[kWorkBufferSize] = {};  // stored copy buffer and compressor output buffer

    // A small entry goes out whole, its final local header first, in one write once it is
    // complete: no placeholder, no seek back and forth to rewrite it. An entry that outgrows the
    // buffer has its placeholder and held bytes written and goes on as a big one. Finish uses the
    // buffer to write the central directory in large pieces.
    static constexpr uint32_t kHeldBytes = 65536;
    bool m_holding = false;    // AddEntry is holding the current entry; set and cleared there
    uint32_t m_heldCount = 0;  // bytes in m_held
    uint8_t m_held[kHeldBytes] = {};
};

// What ZipCreate hands out: the caller tests it for null and passes it back.
struct ZipHandle {
    ZipWriter writer;
};

}  // namespace velk::zip
