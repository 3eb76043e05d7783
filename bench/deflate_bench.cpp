// Deflate benchmark: our compressor (zip/deflate, level 8) against zlib's raw deflate at level 8,
// on the same bytes in one run; every output of ours is inflated back with zlib and compared.
//
// usage: deflate_bench [--reps N] [--max-bytes N] FILE...
//        deflate_bench --only ours|zlib [--max-bytes N] FILE   (one compression, for callgrind)
//        deflate_bench --sides                                 (prints the sides this build has)
//
// In --only mode the compression runs inside velk_bench_compress_ours or velk_bench_compress_zlib,
// so that `valgrind --tool=callgrind --collect-atstart=no --toggle-collect=velk_bench_compress_*`
// counts the compression and nothing of loading or checking. Exit status: 0 when every round trip
// was verified, 1 on a failed check or an unreadable file, 2 on a bad command line.

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
#include "zip/deflate/deflate.h"
#endif

// Named, not anonymous: the entry points below have C linkage and take these types.
namespace velk_bench {

constexpr int kLevel = 8;
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
    uint16_t flags = 0;            // general-purpose bits ours set (not used for zlib)
};

#if defined(VELK_BENCH_HAVE_OURS)
struct MemoryIo {
    Input input;
    size_t read_pos;
    Sink* sink;
};

uint32_t ReadMemory(void* user, uint8_t* destination, uint32_t max_bytes) {
    auto* io = static_cast<MemoryIo*>(user);
    size_t n = std::min<size_t>(max_bytes, io->input.size - io->read_pos);
    if (n == 0) return 0;  // an empty input may have no data pointer at all
    std::memcpy(destination, io->input.data + io->read_pos, n);
    io->read_pos += n;
    return uint32_t(n);
}

void FlushMemory(void* user, const uint8_t* buffer, uint32_t* count) {
    static_cast<MemoryIo*>(user)->sink->Append(buffer, *count);
    *count = 0;
}
#endif

}  // namespace velk_bench

using velk_bench::Input;
using velk_bench::Outcome;
using velk_bench::Sink;
using velk_bench::kLevel;
using velk_bench::kOutCapacity;
using velk_bench::kSanitized;

// Not inlined and not in a namespace: callgrind finds them by these names.
extern "C" __attribute__((noinline)) void velk_bench_compress_ours(Input input, uint8_t* out_buf, Sink* sink,
                                                                  Outcome* outcome) {
#if defined(VELK_BENCH_HAVE_OURS)
    velk_bench::MemoryIo io{input, 0, sink};
    uint16_t flags = 0;
    CompressResult r = compress_entry(&io, velk_bench::ReadMemory, velk_bench::FlushMemory, out_buf, kOutCapacity, kLevel, &flags);
    outcome->compressed_size = r.compressed_size;
    outcome->flags = flags;
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
}

namespace {

enum class Side { Ours, Zlib };

const char* SideName(Side side) { return side == Side::Ours ? "ours" : "zlib"; }

constexpr bool kHaveOurs =
#if defined(VELK_BENCH_HAVE_OURS)
    true;
#else
    false;
#endif

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

struct Measure {
    double best_seconds = 0;
    uint64_t compressed_size = 0;
    std::string error;
};

using Clock = std::chrono::steady_clock;

// One compression of one side, checked: the reported size must match what reached the sink, and
// the stream must inflate back to the input.
std::string RunChecked(Side side, const Input& input, uint8_t* out_buf, Sink& sink, double* seconds,
                       uint64_t* compressed_size) {
    sink.bytes.clear();
    Outcome outcome;
    auto start = Clock::now();
    if (side == Side::Ours) velk_bench_compress_ours(input, out_buf, &sink, &outcome);
    else velk_bench_compress_zlib(input, out_buf, &sink, &outcome);
    *seconds = std::chrono::duration<double>(Clock::now() - start).count();
    *compressed_size = sink.bytes.size();
    if (!outcome.error.empty()) return outcome.error;
    if (outcome.compressed_size != sink.bytes.size())
        return "reported size " + std::to_string(outcome.compressed_size) + " but " + std::to_string(sink.bytes.size()) +
               " bytes were flushed";
    if (side == Side::Ours && (outcome.flags & 0x0002) == 0) return "level 8 did not set general-purpose bit 0x0002";
    return CheckRoundTrip(sink.bytes, input);
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Format(const char* fmt, double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

int RunTable(const std::vector<const char*>& files, int reps, uint64_t max_bytes) {
    std::vector<uint8_t> out_buf(kOutCapacity);
    Sink sink;
    bool all_ok = true;
    std::printf("deflate level 8, best of %d run%s each, ours and zlib alternating; MB = 10^6 bytes%s\n", reps,
                reps == 1 ? "" : "s", kHaveOurs ? "" : "; ours: not built");
    if (kSanitized) std::printf("WARNING: built with sanitizers, the timings mean nothing\n");
    std::printf("%-14s %10s %10s %10s %7s %12s %12s %8s  %s\n", "file", "bytes", "ours MB/s", "zlib MB/s", "speed",
                "ours bytes", "zlib bytes", "size", "check");
    for (const char* path : files) {
        std::vector<uint8_t> bytes;
        if (!LoadFile(path, max_bytes, bytes)) {
            std::printf("%-14s cannot read the file\n", BaseName(path).c_str());
            all_ok = false;
            continue;
        }
        Input input{bytes.data(), bytes.size()};
        Measure m[2];
        const int sides = kHaveOurs ? 2 : 1;
        for (int r = 0; r < reps; ++r) {
            for (int s = 0; s < sides; ++s) {
                Side side = (kHaveOurs && s == 0) ? Side::Ours : Side::Zlib;
                Measure& mm = m[side == Side::Ours ? 0 : 1];
                double seconds = 0;
                uint64_t size = 0;
                std::string error = RunChecked(side, input, out_buf.data(), sink, &seconds, &size);
                if (!error.empty() && mm.error.empty()) mm.error = error;
                if (r == 0 || seconds < mm.best_seconds) mm.best_seconds = seconds;
                mm.compressed_size = size;
            }
        }
        auto rate = [&](const Measure& mm) {
            return bytes.empty() || mm.best_seconds <= 0 ? std::string("-")
                                                          : Format("%.1f", double(bytes.size()) / mm.best_seconds / 1e6);
        };
        std::string check;
        for (int s = 0; s < 2; ++s) {
            if (!m[s].error.empty()) {
                check += std::string(s == 0 ? "ours: " : "zlib: ") + m[s].error + "  ";
                all_ok = false;
            }
        }
        if (check.empty()) check = kHaveOurs ? "both inflate back" : "zlib inflates back";
        bool both = kHaveOurs && !bytes.empty();
        std::printf("%-14s %10zu %10s %10s %7s %12s %12" PRIu64 " %8s  %s\n", BaseName(path).c_str(), bytes.size(),
                    kHaveOurs ? rate(m[0]).c_str() : "n/a", rate(m[1]).c_str(),
                    both ? Format("%.2fx", m[1].best_seconds / m[0].best_seconds).c_str() : "-",
                    kHaveOurs ? std::to_string(m[0].compressed_size).c_str() : "n/a", m[1].compressed_size,
                    kHaveOurs && m[1].compressed_size
                        ? Format("%.4f", double(m[0].compressed_size) / double(m[1].compressed_size)).c_str()
                        : "-",
                    check.c_str());
        std::fflush(stdout);
    }
    std::printf("speed = ours MB/s / zlib MB/s (above 1: ours is faster); size = ours bytes / zlib bytes "
                "(below 1: ours is smaller)\n");
    return all_ok ? 0 : 1;
}

int RunOnly(Side side, const char* path, uint64_t max_bytes) {
    if (side == Side::Ours && !kHaveOurs) {
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
    double seconds = 0;
    uint64_t size = 0;
    std::string error = RunChecked(side, input, out_buf.data(), sink, &seconds, &size);
    std::printf("%s %s input %zu compressed %" PRIu64 " %s\n", SideName(side), BaseName(path).c_str(), bytes.size(), size,
                error.empty() ? "verified" : error.c_str());
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
                 "       deflate_bench --only ours|zlib [--max-bytes N] FILE\n"
                 "       deflate_bench --sides\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t reps = 5, max_bytes = UINT64_MAX;
    const char* only = nullptr;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--sides") {
            std::printf(kHaveOurs ? "ours zlib\n" : "zlib\n");
            return 0;
        } else if (arg == "--reps") {
            if (!ParseCount(i + 1 < argc ? argv[++i] : nullptr, &reps) || reps == 0 || reps > 1000) return Usage();
        } else if (arg == "--max-bytes") {
            if (!ParseCount(i + 1 < argc ? argv[++i] : nullptr, &max_bytes)) return Usage();
        } else if (arg == "--only") {
            only = i + 1 < argc ? argv[++i] : nullptr;
            if (!only || (std::strcmp(only, "ours") != 0 && std::strcmp(only, "zlib") != 0)) return Usage();
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) return Usage();
    if (only) {
        if (files.size() != 1) return Usage();
        return RunOnly(std::strcmp(only, "ours") == 0 ? Side::Ours : Side::Zlib, files[0], max_bytes);
    }
    return RunTable(files, int(reps), max_bytes);
}
