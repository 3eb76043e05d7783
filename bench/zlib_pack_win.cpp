// zlib's side of the launch-to-dialog timing: a plain Win32 program that packs one file as the
// reporter packs its dump (raw deflate at level 8, CRC-32, 16 KiB reads and writes) and exits.
// Timed from launch to exit under the same Wine as the reporter; the output is written and kept.
//
// usage: zlib_pack SOURCE OUTPUT    exit status 0 packed, 1 failed, 2 usage
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cwchar>

#include "support/unique_any.h"

namespace {

constexpr DWORD kChunk = 16384;  // the zip writer's work buffer

bool WriteAllBytes(HANDLE file, const unsigned char* bytes, DWORD count) {
    DWORD done = 0;
    return count == 0 || (::WriteFile(file, bytes, count, &done, nullptr) && done == count);
}

int Pack(const wchar_t* source, const wchar_t* output) {
    velk::unique_hfile in(::CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    velk::unique_hfile out(::CreateFileW(output, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!in || !out) return 1;
    z_stream zs{};
    // Raw deflate as inside a zip entry: window bits -15, zlib's default memory level.
    if (deflateInit2(&zs, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 1;
    static unsigned char inBuf[kChunk], outBuf[kChunk];
    uLong crc = crc32(0, nullptr, 0);
    unsigned long long packed = 0, read = 0;
    int flush = Z_NO_FLUSH;
    bool ok = true;
    do {
        DWORD got = 0;
        if (!::ReadFile(in.get(), inBuf, kChunk, &got, nullptr)) { ok = false; break; }
        if (got == 0) flush = Z_FINISH;
        crc = crc32(crc, inBuf, got);
        read += got;
        zs.next_in = inBuf;
        zs.avail_in = got;
        do {
            zs.next_out = outBuf;
            zs.avail_out = kChunk;
            if (deflate(&zs, flush) == Z_STREAM_ERROR) { ok = false; break; }
            const DWORD have = kChunk - zs.avail_out;
            if (!WriteAllBytes(out.get(), outBuf, have)) { ok = false; break; }
            packed += have;
        } while (ok && zs.avail_out == 0);
    } while (ok && flush != Z_FINISH);
    deflateEnd(&zs);
    if (!ok) return 1;
    std::printf("zlib_pack: %llu bytes in, %llu out, crc %08lx\n", read, packed, static_cast<unsigned long>(crc));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zlib_pack SOURCE OUTPUT\n");
        return 2;
    }
    return Pack(argv[1], argv[2]);
}
