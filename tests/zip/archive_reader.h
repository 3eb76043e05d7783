// Test-side reading of the archives the zip writer makes: end record, central headers and the local
// header, name, extra field and data each one points at, plus raw inflate through zlib.
// Strict on purpose: a field that disagrees with its twin in the other header is an error here.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velk::test {

inline uint32_t Le16(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}
inline uint32_t Le32(const std::string& b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

struct ArchiveEntry {
    // central directory header
    uint32_t versionMadeBy, versionNeeded, centralFlags, method, dosTime, dosDate, crc, compressedSize,
        uncompressedSize, internalAttributes, externalAttributes, localOffset, diskStart;
    std::string name, centralExtra;
    // local header
    uint32_t localVersionNeeded, localFlags, localMethod, localDosTime, localDosDate, localCrc, localCompressedSize,
        localUncompressedSize;
    std::string localName, localExtra, data;
};

struct Archive {
    std::string error;  // empty when the archive could be read
    uint32_t diskEntries = 0, totalEntries = 0, directorySize = 0, directoryOffset = 0;
    std::vector<ArchiveEntry> entries;
};

// Reads an archive without comments, as the writer makes them: the end record is the last 22 bytes.
inline Archive ReadArchive(const std::string& b) {
    Archive a;
    if (b.size() < 22 || Le32(b, b.size() - 22) != 0x06054B50) {
        a.error = "no end record at the end";
        return a;
    }
    const size_t end = b.size() - 22;
    if (Le16(b, end + 4) != 0 || Le16(b, end + 6) != 0 || Le16(b, end + 20) != 0) a.error = "disk numbers or comment";
    a.diskEntries = Le16(b, end + 8);
    a.totalEntries = Le16(b, end + 10);
    a.directorySize = Le32(b, end + 12);
    a.directoryOffset = Le32(b, end + 16);
    if (uint64_t{a.directoryOffset} + a.directorySize != end) {
        a.error = "central directory does not end at the end record";
        return a;
    }
    size_t at = a.directoryOffset;
    while (at < end) {
        if (at + 46 > end || Le32(b, at) != 0x02014B50) {
            a.error = "bad central header at " + std::to_string(at);
            return a;
        }
        ArchiveEntry e{};
        e.versionMadeBy = Le16(b, at + 4);
        e.versionNeeded = Le16(b, at + 6);
        e.centralFlags = Le16(b, at + 8);
        e.method = Le16(b, at + 10);
        e.dosTime = Le16(b, at + 12);
        e.dosDate = Le16(b, at + 14);
        e.crc = Le32(b, at + 16);
        e.compressedSize = Le32(b, at + 20);
        e.uncompressedSize = Le32(b, at + 24);
        const uint32_t n = Le16(b, at + 28), extra = Le16(b, at + 30), comment = Le16(b, at + 32);
        e.diskStart = Le16(b, at + 34);
        e.internalAttributes = Le16(b, at + 36);
        e.externalAttributes = Le32(b, at + 38);
        e.localOffset = Le32(b, at + 42);
        if (at + 46 + n + extra + comment > end) {
            a.error = "central header runs past the directory";
            return a;
        }
        e.name = b.substr(at + 46, n);
        e.centralExtra = b.substr(at + 46 + n, extra);
        at += 46 + n + extra + comment;

        const size_t l = e.localOffset;
        if (l + 30 > a.directoryOffset || Le32(b, l) != 0x04034B50) {
            a.error = "bad local header at " + std::to_string(l);
            return a;
        }
        e.localVersionNeeded = Le16(b, l + 4);
        e.localFlags = Le16(b, l + 6);
        e.localMethod = Le16(b, l + 8);
        e.localDosTime = Le16(b, l + 10);
        e.localDosDate = Le16(b, l + 12);
        e.localCrc = Le32(b, l + 14);
        e.localCompressedSize = Le32(b, l + 18);
        e.localUncompressedSize = Le32(b, l + 22);
        const uint32_t ln = Le16(b, l + 26), lextra = Le16(b, l + 28);
        if (l + 30 + ln + lextra + uint64_t{e.localCompressedSize} > a.directoryOffset) {
            a.error = "local entry runs into the directory";
            return a;
        }
        e.localName = b.substr(l + 30, ln);
        e.localExtra = b.substr(l + 30 + ln, lextra);
        e.data = b.substr(l + 30 + ln + lextra, e.localCompressedSize);
        a.entries.push_back(std::move(e));
    }
    return a;
}

// Raw deflate (no zlib header) to bytes; false unless the stream ends exactly at the input's end.
inline bool InflateRaw(const std::string& in, std::string* out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out->clear();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    int rc = Z_OK;
    char chunk[65536];
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out->append(chunk, sizeof chunk - z.avail_out);
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

inline uint32_t ZlibCrc(const std::string& bytes) {
    return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

}  // namespace velk::test
