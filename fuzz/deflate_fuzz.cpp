// Fuzz target for the deflate compressor: the first byte picks the level (1 to 8), the rest is the
// entry's input, read in chunks whose sizes also come from that byte. The output must inflate back
// exactly with zlib, with no error message and with the returned size equal to the bytes flushed, and
// it must equal, byte for byte, what the plain reference match finder makes of the same input. At the
// lazy levels the input is also tiled, each copy slightly changed, to more than a few cuts of a
// two-thread split with short spans, whose output must again be the reference's.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/zip/deflate/reference_match_finder.h"
#include "zip/deflate/deflate.h"
#include "zip/deflate/deflate_state.h"

using namespace velk::deflate;
using velk::test::reference_compress_entry;

namespace {

struct FuzzJob {
    const uint8_t* data;
    size_t size;
    size_t pos;
    uint32_t chunk;  // 0 = as much as asked
    std::vector<uint8_t> out;
};

uint32_t fuzz_read(void* user, uint8_t* destination, uint32_t max_bytes) {
    FuzzJob* job = static_cast<FuzzJob*>(user);
    size_t n = job->size - job->pos;
    if (n > max_bytes) n = max_bytes;
    if (job->chunk != 0 && n > job->chunk) n = job->chunk;
    std::memcpy(destination, job->data + job->pos, n);
    job->pos += n;
    return static_cast<uint32_t>(n);
}

void fuzz_flush(void* user, const uint8_t* buffer, uint32_t* count) {
    FuzzJob* job = static_cast<FuzzJob*>(user);
    job->out.insert(job->out.end(), buffer, buffer + *count);
    *count = 0;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "deflate_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int level = 1 + data[0] % 8;
    // Bits 3 to 7 choose the read chunking: mostly whole reads, sometimes tiny or odd-sized ones.
    static const uint32_t kChunks[8] = {0, 0, 0, 0, 1, 7, 261, 4099};
    FuzzJob job{data + 1, size - 1, 0, kChunks[(data[0] >> 3) & 7], {}};
    // A small output buffer now and then, so the flush path runs often.
    uint32_t capacity = (data[0] & 0x80) ? 2 + data[0] % 61 : 16384;
    std::vector<uint8_t> buffer(capacity);
    uint16_t flags = 0;
    CompressResult r = compress_entry(&job, fuzz_read, fuzz_flush, buffer.data(), capacity, level, &flags);
    if (r.error_message != nullptr) fail(r.error_message);
    if (r.compressed_size != job.out.size()) fail("returned size differs from the bytes flushed");

    std::vector<uint8_t> back(job.size + 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) fail("inflateInit2");
    z.next_in = job.out.data();
    z.avail_in = static_cast<uInt>(job.out.size());
    z.next_out = back.data();
    z.avail_out = static_cast<uInt>(back.size());
    int rc = inflate(&z, Z_FINISH);
    size_t produced = z.total_out;
    bool all_used = z.avail_in == 0;
    inflateEnd(&z);
    if (rc != Z_STREAM_END || !all_used) fail("not a complete raw deflate stream");
    if (produced != job.size || std::memcmp(back.data(), job.data, job.size) != 0) fail("round trip differs");

    FuzzJob plain{data + 1, size - 1, 0, job.chunk, {}};
    uint16_t plain_flags = 0;
    CompressResult p =
        reference_compress_entry(&plain, fuzz_read, fuzz_flush, buffer.data(), capacity, level, &plain_flags);
    if (p.error_message != nullptr) fail(p.error_message);
    if (plain.out != job.out || plain_flags != flags) fail("output differs from the plain reference walk");

    if (level >= 4 && size > 1) {
        // Copies of the input, each with one byte changed, to 700 KB: runs, long matches and the edge
        // distances fall on the cuts wherever the input puts them.
        std::vector<uint8_t> tiled;
        for (uint32_t copy = 0; tiled.size() < 700000; ++copy) {
            size_t at = tiled.size();
            tiled.insert(tiled.end(), data + 1, data + size);
            tiled[at + copy % (size - 1)] ^= static_cast<uint8_t>(copy);
        }
        static const velk::deflate::SplitPlan kPlan = {128u << 10, 160u << 10, 32u << 10, 64u << 10};
        FuzzJob whole{tiled.data(), tiled.size(), 0, 0, {}}, split{tiled.data(), tiled.size(), 0, 0, {}};
        uint16_t f1 = 0, f2 = 0;
        std::vector<uint8_t> out(16384);
        CompressResult a = reference_compress_entry(&whole, fuzz_read, fuzz_flush, out.data(), 16384, level, &f1);
        CompressResult b = velk::deflate::compress_entry_planned(&split, fuzz_read, fuzz_flush, out.data(), 16384, level,
                                                                &f2, kPlan, nullptr);
        if (a.error_message != nullptr || b.error_message != nullptr) fail("tiled input: a consistency check failed");
        if (whole.out != split.out) fail("two-thread output differs from the plain reference walk");
    }
    return 0;
}
