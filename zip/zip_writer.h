// Zip archive writer: one archive file, entries added from files on disk, stored or deflated.
// Callers (report/report_archive_win.cpp) create, add by bare entry name, and close.
#pragma once

#include <cstdint>

enum class ZipResult : uint32_t {
    Ok = 0,
    OpenFailed = 0x200,      // archive cannot be created; source cannot be opened or inspected
    WriteFailed = 0x400,     // header, name, extra field, entry data or central directory written short
    BadArgument = 0x10000,   // null handle or source path, empty or unconvertible or too long entry name
};

struct ZipHandle;

// Creates (or truncates) the archive file; null when it cannot be created.
ZipHandle* ZipCreate(const wchar_t* path);

// Adds the file at sourcePath under entryName (converted to the ANSI code page, '\' stored as '/').
ZipResult ZipAddFile(ZipHandle* handle, const wchar_t* entryName, const wchar_t* sourcePath);

// Writes the central directory and end record, closes the file and frees the handle.
ZipResult ZipClose(ZipHandle* handle);
