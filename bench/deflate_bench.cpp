// Deflate benchmark: our compressor (zip/deflate, level 8) against zlib's and libdeflate's raw deflate
// at level 8, on the same bytes in one run; every output is inflated back with zlib and compared.
// Each side also takes the entry's CRC-32 with its own library, as a zip writer has to. The Windows
// builds (run under Wine, the i686 one through the 32-bit route) have no libdeflate: zlib alone is
// the peer there.
//
// usage: deflate_bench [--reps N] [--max-bytes N] FILE...
//        deflate_bench [--reps N] --entries N FILE   (N small entries of 100 to 2,000 bytes cut from FILE)
//        deflate_bench --only ours|zlib|libdeflate [--max-bytes N] FILE   (one compression, for callgrind)
//        deflate_bench --sides                                 (prints the sides this build has)
//        --one-thread before any of these keeps our compressor to one thread
//
// In --only mode the compression runs inside velk_bench_compress_<side>, so that
// `valgrind --tool=callgrind --collect-atstart=no --toggle-collect=velk_bench_compress_*` counts the
// compression and nothing of loading or checking. Exit status: 0 when every round trip was verified,
// 1 on a failed check or an unreadable file, 2 on a bad command line.

#if defined(VELK_BENCH_HAVE_LIBDEFLATE)
#include <libdeflate.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#if defined(VELK_BENCH_HAVE_OURS)
#include "zip/crc32.h"
#include "zip/deflate/deflate.h"
#include "zip/deflate/deflate_state.h"

using namespace velk::deflate;
#endif

// Named, not anonymous: the entry points below have C linkage and take these types.
namespace velk::bench {

constexpr int kLevel = 8;
bool g_one_thread = false;  // --one-thread: ours never splits an entry over two threads
constexpr uint32_t kOutCapacity = 16384;  // the zip container's work buffer

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Compressed bytes land here as the archive file would receive them. The vector keeps its capacity
// between repetitions, so only the first run pays for growing it.
struct Sink {
    std::vector<uint8_t> bytes;
    void Append(const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); }
};

struct Input {
    const uint8_t* data;
    size_t size;
};

// What one compression reports besides its output.
struct Outcome {
    uint64_t compressed_size = 0;  // as the compressor reports it
    std::string error;             // empty, or why the run failed
    uint16_t flags = 0;            // general-purpose bits ours set (not used for the peers)
    uint32_t crc = 0;              // CRC-32 of the input, taken by the side's own code
};

#if defined(VELK_BENCH_HAVE_OURS)
struct MemoryIo {
    Input input;
    size_t read_pos;
    Sink* sink;
    uint32_t crc;
};

uint32_t ReadMemory(void* user, uint8_t* destination, uint32_t max_bytes) {
    auto* io = static_cast<MemoryIo*>(user);
    size_t n = std::min<size_t>(max_bytes, io->input.size - io->read_pos);
    if (n == 0) return 0;  // an empty input may have no data pointer at all
    std::memcpy(destination, io->input.data + io->read_pos, n);
    // As the zip writer's read callback does: the CRC is taken over each block as it is delivered.
    io->crc = velk::zip::Crc32Update(io->crc, destination, n);
    io->read_pos += n;
    return uint32_t(n);
}

void FlushMemory(void* user, const uint8_t* buffer, uint32_t* count) {
    static_cast<MemoryIo*>(user)->sink->Append(buffer, *count);
    *count = 0;
}
#endif

}  // namespace velk::bench

using velk::bench::Input;
using velk::bench::Outcome;
using velk::bench::Sink;
using velk::bench::kLevel;
using velk::bench::kOutCapacity;
using velk::bench::kSanitized;

// Not inlined and not in a namespace: callgrind finds them by these names.
extern "C" __attribute__((noinline)) void velk_bench_compress_ours(Input input, uint8_t* out_buf, Sink* sink,
                                                                  Outcome* outcome) {
#if defined(VELK_BENCH_HAVE_OURS)
    velk::bench::MemoryIo io{input, 0, sink, 0};
    uint16_t flags = 0;
    CompressResult r = velk::deflate::compress_entry_planned(
        &io, velk::bench::ReadMemory, velk::bench::FlushMemory, out_buf, kOutCapacity, kLevel, &flags,
        velk::bench::g_one_thread ? velk::deflate::kNoSplit : velk::deflate::kDefaultSplit, nullptr);
    outcome->compressed_size = r.compressed_size;
    outcome->flags = flags;
    outcome->crc = io.crc;
    if (r.error_message) outcome->error = std::string("compress_entry: ") + r.error_message;
#else
    (void)input, (void)out_buf, (void)sink;
    outcome->error = "this build has no compressor of ours";
#endif
}

extern "C" __attribute__((noinline)) void velk_bench_compress_zlib(Input input, uint8_t* out_buf, Sink* sink,
                                                                  Outcome* outcome) {
    z_stream zs{};
    if (deflateInit2(&zs, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        outcome->error = "deflateInit2 failed";
        return;
    }
    size_t fed = 0;
    int ret = Z_OK;
    while (ret != Z_STREAM_END) {
        if (zs.avail_in == 0 && fed < input.size) {
            // avail_in is an unsigned int; larger inputs go in slices.
            size_t n = std::min<size_t>(input.size - fed, UINT_MAX);
            zs.next_in = const_cast<Bytef*>(input.data + fed);
            zs.avail_in = uInt(n);
            fed += n;
        }
        zs.next_out = out_buf;
        zs.avail_out = kOutCapacity;
        ret = deflate(&zs, fed == input.size ? Z_FINISH : Z_NO_FLUSH);
        if (ret != Z_OK && ret != Z_STREAM_END && ret != Z_BUF_ERROR) {
            outcome->error = "deflate failed";
            break;
        }
        sink->Append(out_buf, kOutCapacity - zs.avail_out);
    }
    outcome->compressed_size = zs.total_out;
    deflateEnd(&zs);
    uLong crc = crc32(0, nullptr, 0);
    for (size_t done = 0; done < input.size;) {
        size_t n = std::min<size_t>(input.size - done, UINT_MAX);
        crc = crc32(crc, input.data + done, uInt(n));
        done += n;
    }
    outcome->crc = uint32_t(crc);
}

// libdeflate compresses a whole buffer at once; the compressor object is made once and reused, as a
// writer of many entries would use it. Its output goes straight into the sink.
extern "C" __attribute__((noinline)) void velk_bench_compress_libdeflate(Input input, uint8_t* out_buf, Sink* sink,
                                                                        Outcome* outcome) {
    (void)out_buf;
#if !defined(VELK_BENCH_HAVE_LIBDEFLATE)
    (void)input, (void)sink;
    outcome->error = "libdeflate: not built";
#else
    static libdeflate_compressor* compressor = libdeflate_alloc_compressor(kLevel);
    if (compressor == nullptr) {
        outcome->error = "libdeflate_alloc_compressor failed";
        return;
    }
    // The scratch buffer keeps its size between runs, like the sink: only the first run pays for it.
    static std::vector<uint8_t> scratch;
    size_t bound = libdeflate_deflate_compress_bound(compressor, input.size);
    if (scratch.size() < bound) scratch.resize(bound);
    size_t n = libdeflate_deflate_compress(compressor, input.data, input.size, scratch.data(), bound);
    if (n == 0) outcome->error = "libdeflate_deflate_compress failed";
    sink->Append(scratch.data(), n);
    outcome->compressed_size = n;
    outcome->crc = libdeflate_crc32(0, input.data, input.size);
#endif
}

namespace {

enum class Side { Ours, Zlib, Libdeflate };
constexpr int kSides = 3;
constexpr Side kAllSides[kSides] = {Side::Ours, Side::Zlib, Side::Libdeflate};

const char* SideName(Side side) {
    return side == Side::Ours ? "ours" : side == Side::Zlib ? "zlib" : "libdeflate";
}

constexpr bool kHaveOurs =
#if defined(VELK_BENCH_HAVE_OURS)
    true;
#else
    false;
#endif

constexpr bool kHaveLibdeflate =
#if defined(VELK_BENCH_HAVE_LIBDEFLATE)
    true;
#else
    false;
#endif

bool SideBuilt(Side side) {
    return side == Side::Zlib || (side == Side::Ours && kHaveOurs) || (side == Side::Libdeflate && kHaveLibdeflate);
}

bool LoadFile(const char* path, uint64_t max_bytes, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0) return false;
    in.seekg(0);
    bytes.resize(size_t(std::min<uint64_t>(uint64_t(size), max_bytes)));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(in) || (in.eof() && size_t(in.gcount()) == bytes.size());
}

// Inflates a raw deflate stream with zlib and compares it with the original; empty when they agree.
std::string CheckRoundTrip(const std::vector<uint8_t>& compressed, const Input& original) {
    z_stream zs{};
    if (inflateInit2(&zs, -15) != Z_OK) return "inflateInit2 failed";
    std::vector<uint8_t> out(original.size + 1);  // one spare byte catches output that runs long
    zs.next_in = const_cast<Bytef*>(compressed.data());
    zs.avail_in = uInt(compressed.size());
    zs.next_out = out.data();
    zs.avail_out = uInt(out.size());
    int ret = inflate(&zs, Z_FINISH);
    size_t produced = zs.total_out, consumed = zs.total_in;
    std::string why = zs.msg ? zs.msg : "stream cut short";
    inflateEnd(&zs);
    if (ret != Z_STREAM_END) return "inflate did not reach the end of the stream: " + why;
    if (consumed != compressed.size()) return "bytes left over after the end of the deflate stream";
    if (produced != original.size) return "inflated " + std::to_string(produced) + " bytes, expected " + std::to_string(original.size);
    if (original.size && std::memcmp(out.data(), original.data, original.size) != 0) return "inflated bytes differ from the input";
    return {};
}

using Clock = std::chrono::steady_clock;

void Compress(Side side, const Input& input, uint8_t* out_buf, Sink& sink, Outcome* outcome) {
    if (side == Side::Ours) velk_bench_compress_ours(input, out_buf, &sink, outcome);
    else if (side == Side::Zlib) velk_bench_compress_zlib(input, out_buf, &sink, outcome);
    else velk_bench_compress_libdeflate(input, out_buf, &sink, outcome);
}

// Checks one compression: the reported size must match what reached the sink, the CRC must be the
// input's, and the stream must inflate back to the input.
std::string Check(Side side, const Input& input, const Sink& sink, const Outcome& outcome) {
    if (!outcome.error.empty()) return outcome.error;
    if (outcome.compressed_size != sink.bytes.size())
        return "reported size " + std::to_string(outcome.compressed_size) + " but " + std::to_string(sink.bytes.size()) +
               " bytes were flushed";
    if (side == Side::Ours && (outcome.flags & 0x0002) == 0) return "level 8 did not set general-purpose bit 0x0002";
    uint32_t crc = uint32_t(crc32(0, input.data, uInt(input.size)));
    if (outcome.crc != crc) return "wrong CRC-32";
    return CheckRoundTrip(sink.bytes, input);
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Format(const char* fmt, double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// The best time of each side over reps runs, the sides taking turns so that a change of load hits all.
struct SideResult {
    double best_seconds = 0;
    uint64_t compressed_bytes = 0;  // summed over the inputs of one run
    std::string error;
};

void MeasureSides(const std::vector<Input>& inputs, int reps, SideResult (&result)[kSides]) {
    std::vector<uint8_t> out_buf(kOutCapacity);
    Sink sink;
    for (int r = 0; r < reps; ++r) {
        for (int k = 0; k < kSides; ++k) {
            if (!SideBuilt(kAllSides[k])) continue;
            SideResult& sr = result[k];
            double seconds = 0;
            uint64_t bytes = 0;
            // Only the compression calls are timed; the checks run afterwards, on the first repetition.
            for (const Input& input : inputs) {
                sink.bytes.clear();
                Outcome outcome;
                auto start = Clock::now();
                Compress(kAllSides[k], input, out_buf.data(), sink, &outcome);
                seconds += std::chrono::duration<double>(Clock::now() - start).count();
                bytes += sink.bytes.size();
                if (r == 0 && sr.error.empty()) sr.error = Check(kAllSides[k], input, sink, outcome);
            }
            if (r == 0 || seconds < sr.best_seconds) sr.best_seconds = seconds;
            sr.compressed_bytes = bytes;
        }
    }
}

void PrintHeader(int reps, const char* first_column) {
    std::printf("deflate level 8 with the entry's CRC-32, best of %d run%s each, the three sides taking turns; "
                "MB = 10^6 bytes%s%s%s\n",
                reps, reps == 1 ? "" : "s", kHaveOurs ? "" : "; ours: not built",
                kHaveLibdeflate ? "" : "; libdeflate: not in this build",
                velk::bench::g_one_thread ? "; ours on one thread" : "");
    if (kSanitized) std::printf("WARNING: built with sanitizers, the timings mean nothing\n");
    std::printf("%-14s %10s %9s %9s %9s %7s %7s %11s %11s %11s  %s\n", first_column, "bytes", "ours", "zlib",
                "libdefl", "vs zlib", "vs libd", "ours size", "zlib size", "libd size", "check");
}

// One line: the speeds (MB/s, or the given unit), ours against each peer, the sizes and the checks.
bool PrintRow(const std::string& name, uint64_t input_bytes, const SideResult (&m)[kSides], double unit_divisor,
              const char* unit_format) {
    auto rate = [&](const SideResult& sr) {
        if (sr.best_seconds <= 0 || input_bytes == 0) return std::string("-");
        return Format(unit_format, unit_divisor > 0 ? sr.best_seconds / unit_divisor
                                                    : double(input_bytes) / sr.best_seconds / 1e6);
    };
    auto speedup = [&](const SideResult& peer) {
        if (!kHaveOurs || input_bytes == 0 || m[0].best_seconds <= 0 || peer.best_seconds <= 0) return std::string("-");
        return Format("%.2fx", peer.best_seconds / m[0].best_seconds);
    };
    std::string check;
    bool ok = true;
    for (int k = 0; k < kSides; ++k) {
        if (!m[k].error.empty()) {
            check += std::string(SideName(kAllSides[k])) + ": " + m[k].error + "  ";
            ok = false;
        }
    }
    if (check.empty()) check = kHaveOurs ? "all inflate back" : "peers inflate back";
    std::printf("%-14s %10" PRIu64 " %9s %9s %9s %7s %7s %11s %11" PRIu64 " %11" PRIu64 "  %s\n", name.c_str(),
                input_bytes, kHaveOurs ? rate(m[0]).c_str() : "n/a", rate(m[1]).c_str(), rate(m[2]).c_str(),
                speedup(m[1]).c_str(), speedup(m[2]).c_str(),
                kHaveOurs ? std::to_string(m[0].compressed_bytes).c_str() : "n/a", m[1].compressed_bytes,
                m[2].compressed_bytes, check.c_str());
    std::fflush(stdout);
    return ok;
}

int RunTable(const std::vector<const char*>& files, int reps, uint64_t max_bytes) {
    bool all_ok = true;
    PrintHeader(reps, "file");
    for (const char* path : files) {
        std::vector<uint8_t> bytes;
        if (!LoadFile(path, max_bytes, bytes)) {
            std::printf("%-14s cannot read the file\n", BaseName(path).c_str());
            all_ok = false;
            continue;
        }
        SideResult m[kSides];
        MeasureSides({Input{bytes.data(), bytes.size()}}, reps, m);
        all_ok &= PrintRow(BaseName(path), bytes.size(), m, 0, "%.1f");
    }
    std::printf("ours, zlib, libdefl = MB/s; vs zlib, vs libd = ours' speed over the peer's (above 1: ours is "
                "faster); sizes in bytes\n");
    return all_ok ? 0 : 1;
}

// Many small entries, as a crash report of many small files has them: the per-entry set-up counts here.
int RunEntries(const char* path, uint64_t count, int reps) {
    std::vector<uint8_t> bytes;
    if (!LoadFile(path, UINT64_MAX, bytes) || bytes.size() < 2000) {
        std::printf("%s: cannot read the file, or it has fewer than 2,000 bytes\n", path);
        return 1;
    }
    std::vector<Input> inputs;
    uint64_t total = 0;
    uint32_t x = 2463534242u;  // a fixed sequence of sizes, the same in every run
    size_t pos = 0;
    for (uint64_t n = 0; n < count; ++n) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        size_t size = 100 + x % 1901;
        if (pos + size > bytes.size()) pos = 0;
        inputs.push_back(Input{bytes.data() + pos, size});
        pos += size * 7;  // entries from all over the file, not one run of it
        if (pos >= bytes.size()) pos %= bytes.size() - 2000;
        total += size;
    }
    SideResult m[kSides];
    MeasureSides(inputs, reps, m);
    PrintHeader(reps, "entries");
    bool ok = PrintRow(std::to_string(count) + " small", total, m, double(count) / 1e6, "%.1fus");
    std::printf("ours, zlib, libdefl = microseconds per entry (100 to 2,000 bytes each, cut from %s); sizes summed\n",
                BaseName(path).c_str());
    return ok ? 0 : 1;
}

int RunOnly(Side side, const char* path, uint64_t max_bytes) {
    if (!SideBuilt(side)) {
        std::fprintf(stderr, "deflate_bench: this build has no compressor of ours\n");
        return 1;
    }
    std::vector<uint8_t> bytes;
    if (!LoadFile(path, max_bytes, bytes)) {
        std::fprintf(stderr, "deflate_bench: cannot read %s\n", path);
        return 1;
    }
    std::vector<uint8_t> out_buf(kOutCapacity);
    Sink sink;
    sink.bytes.reserve(bytes.size() + bytes.size() / 64 + 4096);
    Input input{bytes.data(), bytes.size()};
    Outcome outcome;
    Compress(side, input, out_buf.data(), sink, &outcome);
    std::string error = Check(side, input, sink, outcome);
    std::printf("%s %s input %zu compressed %zu %s\n", SideName(side), BaseName(path).c_str(), bytes.size(),
                sink.bytes.size(), error.empty() ? "verified" : error.c_str());
    return error.empty() ? 0 : 1;
}

bool ParseCount(const char* text, uint64_t* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (*end || text[0] == '-') return false;
    *value = v;
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: deflate_bench [--reps N] [--max-bytes N] FILE...\n"
                 "       deflate_bench [--reps N] --entries N FILE\n"
                 "       deflate_bench --only ours|zlib|libdeflate [--max-bytes N] FILE\n"
                 "       deflate_bench --sides\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t reps = 5, max_bytes = UINT64_MAX, entries = 0;
    const char* only = nullptr;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--sides") {
            std::printf("%szlib%s\n", kHaveOurs ? "ours " : "", kHaveLibdeflate ? " libdeflate" : "");
            return 0;
        } else if (arg == "--one-thread") {
            velk::bench::g_one_thread = true;
        } else if (arg == "--reps") {
            if (!ParseCount(i + 1 < argc ? argv[++i] : nullptr, &reps) || reps == 0 || reps > 1000) return Usage();
        } else if (arg == "--max-bytes") {
            if (!ParseCount(i + 1 < argc ? argv[++i] : nullptr, &max_bytes)) return Usage();
        } else if (arg == "--entries") {
            if (!ParseCount(i + 1 < argc ? argv[++i] : nullptr, &entries) || entries == 0 || entries > 10000000)
                return Usage();
        } else if (arg == "--only") {
            only = i + 1 < argc ? argv[++i] : nullptr;
            if (!only) return Usage();
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) return Usage();
    if (only) {
        if (files.size() != 1) return Usage();
        for (Side side : kAllSides)
            if (std::strcmp(only, SideName(side)) == 0) return RunOnly(side, files[0], max_bytes);
        return Usage();
    }
    if (entries != 0) {
        if (files.size() != 1) return Usage();
        return RunEntries(files[0], entries, int(reps));
    }
    return RunTable(files, int(reps), max_bytes);
}
