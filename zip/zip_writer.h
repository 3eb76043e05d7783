// Zip archive writer: one archive file, entries added from files on disk, stored or deflated.
// Callers (report/report_archive_win.cpp) create, add by bare entry name, and close.
#pragma once

#include <cstdint>

namespace velk::zip {

enum class ZipResult : uint32_t {
    Ok = 0,
    OpenFailed = 0x200,      // archive cannot be created; source cannot be opened or inspected
    WriteFailed = 0x400,     // header, name, extra field, entry data or central directory written short
    BadArgument = 0x10000,   // null handle or source path, empty or unconvertible or too long entry name
};

struct ZipHandle;

// Creates (or truncates) the archive file; null when it cannot be created.
ZipHandle* ZipCreate(const wchar_t* path);

// Adds the file at sourcePath under entryName, converted to the ANSI code page (at most 259 bytes
// there, else BadArgument) with '\' stored as '/'. Deflated, unless the name's suffix marks data that
// is compressed already. OpenFailed (nothing written) for a source that is missing, locked against
// reading or 4 GiB and larger; WriteFailed when the archive cannot take the entry, whose bytes are
// then cut off again. The archive stays usable after any failure.
ZipResult ZipAddFile(ZipHandle* handle, const wchar_t* entryName, const wchar_t* sourcePath);

// Writes the central directory and end record, closes the file and frees the handle, also when
// the directory could not be written (WriteFailed).
ZipResult ZipClose(ZipHandle* handle);

}  // namespace velk::zip
