// The compressor against the plain reference match finder: identical bytes on inputs built for the
// edge distances (32,506, the window's end and slide), at every level and with odd read sizes, and on
// the benchmark corpus when VELK_DEFLATE_CORPUS names its folder; and the same with the parse split
// over two threads, with cuts placed close together so that small inputs cross many of them.
// Says nothing about speed, and cannot show that a split happened except through its statistics.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/zip/deflate/reference_match_finder.h"
#include "zip/deflate/deflate.h"
#include "zip/deflate/deflate_state.h"

using namespace velk::deflate;
using velk::test::reference_compress_entry;

namespace {

using Bytes = std::vector<uint8_t>;
using CompressFn = CompressResult (*)(void*, ReadInputFn, FlushOutputFn, uint8_t*, uint32_t, int, uint16_t*);

struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos;
    uint32_t chunk;  // 0 = as much as asked
    Bytes out;
};

uint32_t read_source(void* user, uint8_t* destination, uint32_t max_bytes) {
    auto* src = static_cast<Source*>(user);
    size_t n = src->size - src->pos;
    if (n > max_bytes) n = max_bytes;
    if (src->chunk != 0 && n > src->chunk) n = src->chunk;
    if (n != 0) std::memcpy(destination, src->data + src->pos, n);
    src->pos += n;
    return static_cast<uint32_t>(n);
}

void flush_sink(void* user, const uint8_t* buffer, uint32_t* count) {
    auto* src = static_cast<Source*>(user);
    src->out.insert(src->out.end(), buffer, buffer + *count);
    *count = 0;
}

struct Output {
    Bytes bytes;
    const char* error;
};

Output run(CompressFn fn, const uint8_t* data, size_t size, int level, uint32_t chunk) {
    Source src{data, size, 0, chunk, {}};
    Bytes buffer(16384);
    uint16_t flags = 0;
    CompressResult r = fn(&src, read_source, flush_sink, buffer.data(), uint32_t(buffer.size()), level, &flags);
    return {std::move(src.out), r.error_message};
}

Output run_split(const uint8_t* data, size_t size, int level, const velk::deflate::SplitPlan& plan,
                 velk::deflate::SplitStats* stats) {
    Source src{data, size, 0, 0, {}};
    Bytes buffer(16384);
    uint16_t flags = 0;
    CompressResult r = velk::deflate::compress_entry_planned(&src, read_source, flush_sink, buffer.data(),
                                                            uint32_t(buffer.size()), level, &flags, plan, stats);
    return {std::move(src.out), r.error_message};
}

// Index of the first differing byte, or -1.
long first_difference(const Bytes& a, const Bytes& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return long(i);
    return a.size() == b.size() ? -1 : long(n);
}

void expect_same(const uint8_t* data, size_t size, int level, uint32_t chunk, const std::string& what) {
    Output fast = run(compress_entry, data, size, level, chunk);
    Output plain = run(reference_compress_entry, data, size, level, chunk);
    EXPECT_EQ(fast.error, nullptr) << what << ": " << fast.error;
    EXPECT_EQ(plain.error, nullptr) << what << ": " << plain.error;
    EXPECT_EQ(first_difference(fast.bytes, plain.bytes), -1)
        << what << " level " << level << " chunk " << chunk << ": " << fast.bytes.size() << " bytes against "
        << plain.bytes.size();
}

// Two-thread output against the plain reference, for each plan; returns the statistics summed.
velk::deflate::SplitStats expect_split_same(const Bytes& input, int level, const std::string& what);

struct Rng {
    uint64_t x;
    uint32_t next() {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        return uint32_t(x >> 16);
    }
};

// Bytes from a small alphabet, so that short matches (and so a previous match of 3 bytes or more) are
// everywhere, with copies planted at one exact distance: the walk's first candidate lies that far back.
Bytes planted(size_t size, uint32_t alphabet, uint32_t distance, uint32_t copy_len, uint64_t seed) {
    Rng rng{seed};
    Bytes b(size);
    for (auto& c : b) c = uint8_t('a' + rng.next() % alphabet);
    for (size_t at = distance; at + copy_len <= size; at += distance / 3 + rng.next() % 977) {
        std::memcpy(b.data() + at, b.data() + at - distance, copy_len);
    }
    return b;
}

// Random bytes with, every few KiB, a string whose only earlier copy lies exactly `distance` back, at
// a position whose predecessor has a 3-byte match of its own: the search there starts with a previous
// match already found, and the string's one candidate is the first of its chain.
Bytes far_first_candidates(size_t size, uint32_t distance, uint64_t seed) {
    Rng rng{seed};
    Bytes b(size);
    for (auto& c : b) c = uint8_t(rng.next());
    for (size_t q = distance + 300; q + 40 <= size; q += 4999) {
        for (size_t i = 0; i < 33; ++i) b[q - distance + i] = uint8_t(rng.next());
        std::memcpy(b.data() + q, b.data() + q - distance, 33);
        const size_t r = q - 1 - 200;  // "X A B", then not C: a 3-byte match for the position before q
        b[r] = b[q - 1] = uint8_t(rng.next());
        b[r + 1] = b[q];
        b[r + 2] = b[q + 1];
        b[r + 3] = uint8_t(b[q + 2] ^ 1);
    }
    return b;
}

TEST(DeflateAgreement, EdgeDistancesAndTheWindowsEnd) {
    struct Case {
        size_t size;
        uint32_t alphabet, distance, copy_len;  // alphabet 0: far_first_candidates
    };
    // 32,506 is the farthest a match reaches, and only the first candidate may lie there; 32,505 and
    // 32,507 sit on either side. Sizes around 65,274 and 65,536 put the copies at the slide and past it.
    const Case cases[] = {
        {300000, 0, 32506, 0},   {300000, 0, 32505, 0},   {300000, 0, 32507, 0},   {200000, 4, 32506, 40},
        {200000, 4, 32505, 40},  {120000, 2, 32506, 300}, {200000, 16, 32506, 12}, {200000, 256, 32506, 5},
        {65274 + 40, 4, 32506, 30}, {65536 + 300, 3, 32506, 258}, {98304, 4, 32768, 64}, {70000, 64, 32506, 4},
    };
    const uint32_t chunks[] = {0, 1, 4099};
    for (const Case& c : cases) {
        const uint64_t seed = c.size * 31 + c.alphabet + c.distance;
        Bytes input = c.alphabet == 0 ? far_first_candidates(c.size, c.distance, seed)
                                      : planted(c.size, c.alphabet, c.distance, c.copy_len, seed);
        const std::string what = "size " + std::to_string(c.size) + " alphabet " + std::to_string(c.alphabet) +
                                 " distance " + std::to_string(c.distance);
        for (int level = 1; level <= 8; ++level) expect_same(input.data(), input.size(), level, 0, what);
        for (uint32_t chunk : chunks) expect_same(input.data(), input.size(), 8, chunk, what);
    }
}

// Random bytes, and every 12 KiB a needle whose 3-byte chain holds `decoys` strings sharing its first
// `shared` bytes, 100 bytes apart, with its one full copy below them all; 4,000 random bytes lie between
// the last decoy and the needle, so the key chains lag behind when the needle is searched. With
// `previous`, the position before the needle has a 3-byte match, and its search starts with one.
Bytes needles_behind_decoys(uint32_t decoys, uint32_t shared, bool previous, uint64_t seed) {
    Rng rng{seed};
    Bytes b(6 * 12288 + 8192);
    for (auto& c : b) c = uint8_t(rng.next());
    for (size_t at = 1000; at + 12288 <= b.size(); at += 12288) {
        uint8_t needle[48];
        for (auto& c : needle) c = uint8_t(rng.next());
        std::memcpy(b.data() + at, needle, sizeof needle);
        size_t q = at + 200;
        for (uint32_t k = 0; k < decoys; ++k, q += 100) {
            std::memcpy(b.data() + q, needle, shared);
            b[q + shared] = uint8_t(needle[shared] ^ 0x5A);
        }
        const size_t n = q + 4000;
        std::memcpy(b.data() + n, needle, sizeof needle);
        if (previous) {  // "X A B", then not C, earlier: a 3-byte match for the position before the needle
            b[at + 100] = b[n - 1];
            b[at + 101] = needle[0];
            b[at + 102] = needle[1];
            b[at + 103] = uint8_t(needle[2] ^ 1);
        }
    }
    return b;
}

TEST(DeflateAgreement, SearchesWhileTheKeyChainsLagBehind) {
    // Decoy counts on both sides of the short walk's 16 entries; shared prefixes that miss the first key,
    // fall in it, and reach the second.
    for (uint32_t decoys : {0u, 1u, 14u, 15u, 16u, 17u, 40u}) {
        for (uint32_t shared : {3u, 5u, 9u}) {
            for (bool previous : {false, true}) {
                Bytes input = needles_behind_decoys(decoys, shared, previous, decoys * 97 + shared * 7 + previous);
                const std::string what = std::to_string(decoys) + " decoys sharing " + std::to_string(shared) +
                                         (previous ? " bytes, previous match" : " bytes");
                for (int level = 4; level <= 8; ++level) expect_same(input.data(), input.size(), level, 0, what);
            }
        }
    }
}

TEST(DeflateAgreement, InputsShorterThanTheLookaheadAndRuns) {
    // Every position near the input's end compares over stale window bytes; runs fill whole chains.
    Rng rng{7};
    for (size_t size : {size_t(1), size_t(2), size_t(3), size_t(261), size_t(262), size_t(263), size_t(4096)}) {
        Bytes text(size), run(size, 'x');
        for (auto& c : text) c = uint8_t('a' + rng.next() % 3);
        for (int level = 1; level <= 8; ++level) {
            expect_same(text.data(), size, level, 0, "text of " + std::to_string(size));
            expect_same(run.data(), size, level, 0, "run of " + std::to_string(size));
        }
    }
}

// Cuts every few hundred KiB. A record span of one position makes the parses meet only when they do so
// at the cut itself, so most rounds end with the calling thread having parsed on alone.
constexpr velk::deflate::SplitPlan kSplitPlans[] = {
    {128u << 10, 192u << 10, 64u << 10, 192u << 10},
    {160u << 10, 128u << 10, 32u << 10, 1},
    {131072 + 4093, 300000, 100000, 40000},
};

velk::deflate::SplitStats expect_split_same(const Bytes& input, int level, const std::string& what) {
    velk::deflate::SplitStats sum{};
    Output plain = run(reference_compress_entry, input.data(), input.size(), level, 0);
    EXPECT_EQ(plain.error, nullptr) << what;
    for (const auto& plan : kSplitPlans) {
        velk::deflate::SplitStats stats{};
        Output split = run_split(input.data(), input.size(), level, plan, &stats);
        sum.rounds += stats.rounds;
        sum.rounds_met += stats.rounds_met;
        sum.bytes_taken += stats.bytes_taken;
        EXPECT_EQ(split.error, nullptr) << what << ": " << split.error;
        EXPECT_EQ(first_difference(split.bytes, plain.bytes), -1)
            << what << " level " << level << " main span " << plan.main_span << " record span " << plan.record_span
            << ": " << split.bytes.size() << " bytes against " << plain.bytes.size();
    }
    return sum;
}

TEST(DeflateSplit, InputsBuiltAcrossTheCuts) {
    Rng rng{11};
    auto text = [&](size_t n, uint32_t alphabet) {
        Bytes b(n);
        for (auto& c : b) c = uint8_t('a' + rng.next() % alphabet);
        return b;
    };
    struct Case {
        const char* name;
        Bytes input;
        bool parses_meet = true;  // false: 258-byte matches keep the two parses out of step for good
    };
    std::vector<Case> cases;
    // A 258-byte-long repeat straddling every multiple of 32 KiB, where the cuts are.
    {
        Bytes b = text(1200000, 20);
        for (size_t cut = 65536; cut + 600 < b.size(); cut += 32768)
            std::memcpy(b.data() + cut - 300, b.data() + cut - 300 - 1000, 700);
        cases.push_back({"long matches across the cuts", std::move(b)});
    }
    // Runs of one byte over the cuts: one chain holds everything, every match is 258 bytes long.
    {
        Bytes b = text(1000000, 4);
        for (size_t cut = 32768; cut + 5000 < b.size(); cut += 98304) std::memset(b.data() + cut - 2500, 0, 5000);
        cases.push_back({"runs over the cuts", std::move(b)});
    }
    cases.push_back({"one long run", Bytes(900000, 'z'), false});
    // Inputs ending just past where a cut would fall, and shorter than one round.
    for (size_t size : {size_t(131072 + 258), size_t(393216 + 100), size_t(393216 + 65536 + 4096 + 200), size_t(100000)})
        cases.push_back({"ends near a cut", text(size, 3)});
    cases.push_back({"edge distances", far_first_candidates(900000, 32506, 5)});
    cases.push_back({"random", text(700000, 256)});
    for (const Case& c : cases) {
        velk::deflate::SplitStats stats = expect_split_same(c.input, 8, c.name);
        expect_split_same(c.input, 4, c.name);
        // Inputs of more than two rounds must have been split, and the helpers' tokens taken in rounds
        // of the plans whose record spans let the parses meet. How much each helper parsed before the
        // calling thread caught up depends on the two threads' speeds, so only that some was taken is
        // checked.
        if (c.input.size() >= 700000) {
            EXPECT_GE(stats.rounds, 3u) << c.name;
            if (c.parses_meet) {
                EXPECT_GE(stats.rounds_met, 2u) << c.name;
                EXPECT_GT(stats.bytes_taken, 0u) << c.name;
            }
        }
    }
}

// The benchmark corpus: a 32 MiB minidump, an 8 MiB log, random bytes. Level 8 over every file; the
// other levels over each file's first MiB, which is enough to reach every path of theirs.
TEST(DeflateAgreement, BenchmarkCorpus) {
    const char* dir = std::getenv("VELK_DEFLATE_CORPUS");
    if (dir == nullptr || *dir == 0) GTEST_SKIP() << "VELK_DEFLATE_CORPUS names no corpus folder";
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        std::ifstream in(entry.path(), std::ios::binary);
        Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string name = entry.path().filename().string();
        // compress_entry splits big entries with its own plan; here with cuts close together too.
        expect_same(bytes.data(), bytes.size(), 8, 0, name);
        const size_t head = std::min<size_t>(bytes.size(), 1 << 20);
        const Bytes split_head(bytes.begin(), bytes.begin() + long(std::min<size_t>(bytes.size(), 3 << 20)));
        expect_split_same(split_head, 8, name + " first 3 MiB");
        for (int level = 1; level <= 7; ++level) expect_same(bytes.data(), head, level, 0, name + " head");
        ++files;
    }
    EXPECT_GT(files, 0u) << "no files in " << dir;
}

}  // namespace
