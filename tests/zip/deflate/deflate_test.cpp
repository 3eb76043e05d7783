// The deflate compressor end to end: golden bytes, round trips through zlib's inflate and our own stream
// walker (block types, distances, code lengths), read/flush callback behaviour and failures.
// Cannot show that the match choices are the best possible, only that they follow the documented rules.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/zip/deflate/stream_walker.h"
#include "zip/deflate/deflate.h"
#include "zip/deflate/deflate_state.h"

using namespace velk::deflate;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kEndMinusOne = 0xFFFFFFFFu;
constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

// Both callbacks get this: the input with its chunking, and what reached the "archive".
struct Job {
    const Bytes* input = nullptr;
    size_t read_pos = 0;
    std::vector<uint32_t> chunks;  // sizes the read callback delivers in turn; empty = as much as asked
    size_t chunk_index = 0;
    uint32_t end_value = 0;        // what the read callback returns at the end: 0 or -1
    uint32_t overclaim = 0;        // the first read claims max_bytes + overclaim: a callback that lies

    Bytes flushed;
    int flush_calls = 0;
    int fail_from = -1;   // first flush call (0-based) that fails
    int fail_count = 0;   // how many calls fail from there on; -1 = all
    int calls_after_failure = 0;
    int last_nonempty_call = -1;
    bool failed_once = false;
};

uint32_t read_input(void* user, uint8_t* destination, uint32_t max_bytes) {
    Job* job = static_cast<Job*>(user);
    size_t left = job->input->size() - job->read_pos;
    if (left == 0) return job->end_value;
    size_t n = std::min<size_t>(left, max_bytes);
    if (!job->chunks.empty()) n = std::min<size_t>(n, job->chunks[job->chunk_index++ % job->chunks.size()]);
    std::memcpy(destination, job->input->data() + job->read_pos, n);
    job->read_pos += n;
    if (job->overclaim != 0) {
        uint32_t claimed = max_bytes + job->overclaim;
        job->overclaim = 0;
        return claimed;
    }
    return static_cast<uint32_t>(n);
}

void flush_output(void* user, const uint8_t* buffer, uint32_t* count) {
    Job* job = static_cast<Job*>(user);
    int call = job->flush_calls++;
    if (*count != 0) job->last_nonempty_call = call;
    if (job->failed_once) job->calls_after_failure++;
    bool fail = job->fail_from >= 0 && call >= job->fail_from &&
                (job->fail_count < 0 || call < job->fail_from + job->fail_count);
    if (fail) {
        job->failed_once = true;
        return;  // like the container: a failed write leaves *count as it was
    }
    job->flushed.insert(job->flushed.end(), buffer, buffer + *count);
    *count = 0;
}

struct Compressed {
    Bytes bytes;
    uint32_t size = 0;
    const char* error = nullptr;
    uint16_t flags = 0;
    bool guard_intact = true;
    Job job;
};

Compressed compress(const Bytes& input, int level, Job job = {}, uint32_t capacity = 16384) {
    Compressed c;
    job.input = &input;
    c.job = std::move(job);
    Bytes out(capacity + kGuard, kGuardByte);
    CompressResult r = compress_entry(&c.job, read_input, flush_output, out.data(), capacity, level, &c.flags);
    c.size = r.compressed_size;
    c.error = r.error_message;
    c.bytes = c.job.flushed;
    c.guard_intact = std::all_of(out.begin() + capacity, out.end(), [](uint8_t b) { return b == kGuardByte; });
    return c;
}

bool zlib_inflate(const Bytes& in, Bytes* out, size_t expected) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out->assign(expected + 1, 0);  // one spare byte shows output that is too long
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out->data();
    z.avail_out = static_cast<uInt>(out->size());
    int rc = inflate(&z, Z_FINISH);
    bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    out->resize(z.total_out);
    inflateEnd(&z);
    return ok;
}

// --- inputs -----------------------------------------------------------------------------------

Bytes from_string(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng() >> 24);
    return b;
}

// Log-like text with Chinese UTF-8 words, numbers and repeated phrases.
Bytes text_bytes(size_t n, uint32_t seed) {
    static const char* words[] = {"错误",     "报告",   "连接",    "超时", "用户",   "账户", "the",   "server",
                                  "returned", "status", "request", "at",   "module", "0x",   "thread", "stack",
                                  "frame",    "[INFO]", "[WARN]",  "上传", "失败",   "重试", "\n",     "  at "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        uint32_t r = rng();
        if (r % 11 == 0) {
            s += std::to_string(rng() % 100000);
        } else {
            s += words[r % (sizeof(words) / sizeof(words[0]))];
        }
        s += (r >> 16) % 5 == 0 ? "," : " ";
    }
    s.resize(n);
    return from_string(s);
}

// Binary like a memory image: structures with pointer-like values, long zero runs, random stretches.
Bytes binary_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        uint32_t kind = rng() % 4;
        size_t len = 64 + rng() % 8000;
        for (size_t i = 0; i < len; ++i) {
            if (kind == 0) {
                b.push_back(0);
            } else if (kind == 1) {
                b.push_back(static_cast<uint8_t>(rng()));
            } else if (kind == 2) {
                uint64_t ptr = 0x00007FF6A0000000ull + (rng() % 4096) * 16;
                for (int k = 0; k < 8; ++k) b.push_back(static_cast<uint8_t>(ptr >> (8 * k)));
                i += 7;
            } else {
                b.push_back(static_cast<uint8_t>("MZ\x90\0PE\0\0L\x01"[i % 10]));
            }
        }
    }
    b.resize(n);
    return b;
}

uint32_t hash3(const Bytes& b, size_t p) { return ((b[p] << 10) ^ (b[p + 1] << 5) ^ b[p + 2]) & 0x7FFF; }

// Filler of 16 byte values (compressible, so the blocks are coded and their matches visible) with `len`
// bytes from 0xF0..0xFF at `from` that reappear `distance` later. No string in between shares the hash
// of the original, so the copy's first chain candidate is the original, and no filler string can match
// into the planted bytes.
Bytes planted_copy(size_t n, size_t from, size_t distance, size_t len, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng() >> 28);
    for (size_t i = 0; i < len; ++i) b[from + distance + i] = b[from + i] = static_cast<uint8_t>(0xF0 | (rng() >> 28));
    b[from + distance + len] = static_cast<uint8_t>(b[from + len] + 1);  // the copy ends exactly there
    b[from + distance - 1] = static_cast<uint8_t>(b[from - 1] + 1);      // and starts exactly there
    auto planted = [&](size_t p) { return (p >= from && p < from + len) || (p >= from + distance && p <= from + distance + len); };
    const uint32_t h = hash3(b, from);
    for (size_t q = from + 1; q < from + distance; ++q) {
        while (hash3(b, q) == h) {
            size_t k = q;
            while (k < q + 3 && planted(k)) ++k;
            if (k == q + 3) return {};  // cannot be fixed without touching the copy: the caller fails
            b[k]++;
        }
    }
    return b;
}

// --- checks -----------------------------------------------------------------------------------

// Everything a valid entry must satisfy, whatever its input.
void expect_valid(const Compressed& c, const Bytes& input, int level, const std::string& what) {
    SCOPED_TRACE(what + " level " + std::to_string(level));
    EXPECT_EQ(c.error, nullptr) << c.error;
    EXPECT_TRUE(c.guard_intact);
    EXPECT_EQ(c.size, c.bytes.size()) << "returned size differs from the bytes flushed";
    Bytes out;
    EXPECT_TRUE(zlib_inflate(c.bytes, &out, input.size()));
    EXPECT_TRUE(out == input) << "zlib inflate differs";

    WalkResult w = walk_deflate(c.bytes.data(), c.bytes.size());
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_TRUE(w.out == input);
    EXPECT_EQ(w.bytes_used, c.bytes.size());
    EXPECT_TRUE(w.padding_zero);
    EXPECT_FALSE(w.length_258_as_284);
    for (const WalkedMatch& m : w.matches) {
        ASSERT_LE(m.distance, 32506u) << "at " << m.at;
        if (level >= 4) {
            ASSERT_FALSE(m.length == 3 && m.distance > 4096) << "far 3-byte match at " << m.at;
        }
    }
    for (size_t i = 0; i + 1 < w.blocks.size(); ++i) EXPECT_FALSE(w.blocks[i].final);
    EXPECT_TRUE(w.blocks.back().final);
}

WalkResult walk(const Compressed& c) { return walk_deflate(c.bytes.data(), c.bytes.size()); }

// --- tests ------------------------------------------------------------------------------------

TEST(DeflateGolden, SmallInputsGiveKnownBytes) {
    struct Case {
        std::string input;
        Bytes expected;
    } cases[] = {
        {"", {0x03, 0x00}},
        {"a", {0x4B, 0x04, 0x00}},
        // The string at window index 0 is never a candidate: six literals in one fixed block.
        {"abcabc", {0x4B, 0x4C, 0x4A, 0x4E, 0x4C, 0x4A, 0x06, 0x00}},
    };
    for (const Case& c : cases) {
        Bytes in = from_string(c.input);
        Compressed z = compress(in, 8);
        EXPECT_EQ(z.bytes, c.expected) << "input \"" << c.input << "\"";
        EXPECT_EQ(z.size, c.expected.size());
        EXPECT_EQ(z.error, nullptr);
        EXPECT_EQ(z.flags, 0x0002);
    }
}

TEST(DeflateRoundTrip, EveryPathAtItsLevels) {
    struct Case {
        std::string name;
        Bytes input;
        std::vector<int> levels;
    };
    const std::vector<int> all = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<int> ends = {1, 8};
    Bytes text = text_bytes(200000, 1);
    std::vector<Case> cases = {
        {"empty", {}, all},
        {"one byte", from_string("z"), all},
        {"two bytes", from_string("zz"), all},
        {"three bytes", from_string("zzz"), all},
        {"four equal bytes", from_string("zzzz"), all},
        {"run of 258", Bytes(258, 'x'), all},
        {"run of 259 after a literal", [] { Bytes b(260, 'x'); b[0] = 'y'; return b; }(), all},
        {"run of 100000 zeros", Bytes(100000, 0), all},
        {"text", text, all},
        {"binary with zero runs", binary_bytes(300000, 2), all},
        {"random 1 MiB", random_bytes(1 << 20, 3), ends},
        // Around the first slide of the window (at position 65,274), also when it comes after the last byte.
        {"text 65273", Bytes(text.begin(), text.begin() + 65273), ends},
        {"text 65274", Bytes(text.begin(), text.begin() + 65274), all},
        {"text 65275", Bytes(text.begin(), text.begin() + 65275), ends},
        {"text 65536", Bytes(text.begin(), text.begin() + 65536), ends},
        {"text 65798", Bytes(text.begin(), text.begin() + 65536 + 262), ends},
        {"random 65274", random_bytes(65274, 4), ends},
        {"random 65536", random_bytes(65536, 5), ends},
        {"zeros 65274", Bytes(65274, 0), ends},
    };
    for (const Case& c : cases) {
        for (int level : c.levels) expect_valid(compress(c.input, level), c.input, level, c.name);
    }
}

// The compressed bytes follow from the algorithm alone: these sizes and CRC-32s were taken from the
// plain first version of the compressor. A faster search that picked other matches (or other block
// ends) would change them even though its output still inflated correctly.
TEST(DeflateRoundTrip, OutputBytesAreFixedByTheAlgorithm) {
    Bytes mixed = text_bytes(60000, 43);
    for (const Bytes& part : {Bytes(20000, 0), random_bytes(30000, 44), binary_bytes(90000, 45)}) {
        mixed.insert(mixed.end(), part.begin(), part.end());
    }
    struct Case {
        const char* name;
        Bytes input;
        uint32_t size[8];  // levels 1 to 8
        uint32_t crc[8];
    } cases[] = {
        {"text",
         text_bytes(300000, 41),
         {88684, 87154, 82169, 79781, 75737, 69834, 68645, 68192},
         {0x99DDC865, 0xF44D7E1A, 0xDB4928E2, 0x28038E72, 0xDD476244, 0xA59FDF1B, 0x7CEC22B4, 0x4BD784F8}},
        {"binary",
         binary_bytes(400000, 42),
         {102677, 102964, 101495, 100379, 100297, 100119, 100016, 99570},
         {0x99B90606, 0x37B09F57, 0x28AB546E, 0x640C2667, 0xB64ABD4C, 0x01F36B98, 0xF8E606D9, 0xF07D8CA6}},
        {"mixed",
         mixed,
         {86436, 86114, 83721, 82487, 81704, 80343, 80175, 79951},
         {0xE5BA58CF, 0xB383AEF0, 0xB54D1C39, 0xC99673A3, 0x72969F0B, 0xD4D5A7B4, 0xAB9F0213, 0xBCB4C73B}},
    };
    for (const Case& c : cases) {
        for (int level = 1; level <= 8; ++level) {
            Compressed z = compress(c.input, level);
            uint32_t crc = static_cast<uint32_t>(crc32(0, z.bytes.data(), static_cast<uInt>(z.bytes.size())));
            EXPECT_EQ(z.size, c.size[level - 1]) << c.name << " level " << level;
            EXPECT_EQ(crc, c.crc[level - 1]) << c.name << " level " << level << std::hex << " crc 0x" << crc;
        }
    }
}

TEST(DeflateRoundTrip, ReadCallbackChunkingAndEndMarker) {
    Bytes input = text_bytes(150000, 7);
    Bytes tail = random_bytes(40000, 8);
    input.insert(input.end(), tail.begin(), tail.end());
    struct Case {
        std::vector<uint32_t> chunks;
        uint32_t end_value;
    } cases[] = {
        {{}, 0}, {{}, kEndMinusOne}, {{1}, 0}, {{7, 13, 1, 4096}, kEndMinusOne}, {{261}, 0}, {{262}, 0},
        {{65535}, kEndMinusOne}, {{3000, 1, 1}, 0},
    };
    for (const Case& c : cases) {
        for (int level : {2, 8}) {
            Job job;
            job.chunks = c.chunks;
            job.end_value = c.end_value;
            Compressed z = compress(input, level, job);
            expect_valid(z, input, level, "chunks of " + std::to_string(c.chunks.empty() ? 0 : c.chunks[0]));
        }
    }
}

TEST(DeflateRoundTrip, SmallOutputBuffers) {
    Bytes input = text_bytes(50000, 9);
    Bytes noise = random_bytes(70000, 10);  // stored blocks larger than the buffer
    input.insert(input.end(), noise.begin(), noise.end());
    for (uint32_t capacity : {2u, 3u, 5u, 16u, 1000u}) {
        Compressed z = compress(input, 8, {}, capacity);
        expect_valid(z, input, 8, "capacity " + std::to_string(capacity));
    }
}

TEST(DeflateBlocks, EachBlockTypeWhereItBelongs) {
    // Too short for a dynamic header to pay: fixed codes.
    {
        WalkResult w = walk(compress(from_string("a"), 8));
        ASSERT_TRUE(w.ok);
        ASSERT_EQ(w.blocks.size(), 1u);
        EXPECT_EQ(w.blocks[0].type, 1);
    }
    // Text: dynamic codes.
    {
        Bytes text = text_bytes(100000, 11);
        WalkResult w = walk(compress(text, 8));
        ASSERT_TRUE(w.ok);
        EXPECT_TRUE(std::any_of(w.blocks.begin(), w.blocks.end(), [](const WalkedBlock& b) { return b.type == 2; }));
    }
    // Random bytes: stored blocks of 32,767 symbols' worth of input (a few of them short matches).
    {
        Bytes noise = random_bytes(1 << 20, 12);
        Compressed z = compress(noise, 8);
        expect_valid(z, noise, 8, "random");
        WalkResult w = walk(z);
        ASSERT_TRUE(w.ok);
        for (const WalkedBlock& b : w.blocks) {
            EXPECT_EQ(b.type, 0);
            if (!b.final) {
                EXPECT_GE(b.stored_len, 32767u);
            }
        }
        EXPECT_LE(z.size, noise.size() + 5 * w.blocks.size());
    }
}

// Three random literals and one copy of 29 or 32 bytes, over and over: a block of these ends early.
Bytes match_units(size_t n, int long_units) {
    std::mt19937 rng(31);
    Bytes source = random_bytes(300, 32);
    Bytes b = source;
    for (int u = 0; b.size() < n; ++u) {
        for (int i = 0; i < 3; ++i) b.push_back(static_cast<uint8_t>(rng()));
        size_t at = rng() % 50;
        size_t len = u < long_units ? 32 : 29;
        b.insert(b.end(), source.begin() + at, source.begin() + at + len);
    }
    b.resize(n);
    return b;
}

TEST(DeflateBlocks, BlockWhoseStartSlidOutCannotBeStored) {
    // The first block ends early after 4,096 symbols at 32,702 bytes; the random block after it starts
    // in the window's lower half and is still open when the window slides at 65,274, so it has to be
    // coded even though storing it would be shorter. The same happens to the block after it.
    Bytes input = match_units(32702, 475);
    Bytes noise = random_bytes(70000, 33);
    input.insert(input.end(), noise.begin(), noise.end());
    Compressed z = compress(input, 8);
    expect_valid(z, input, 8, "slid out");
    WalkResult w = walk(z);
    ASSERT_TRUE(w.ok);
    ASSERT_EQ(w.blocks.size(), 4u);
    EXPECT_EQ(w.blocks[0].out_end, 32702u);
    EXPECT_EQ(w.blocks[0].symbols, 4096u);
    for (int i : {1, 2}) {
        EXPECT_NE(w.blocks[i].type, 0) << i;
        EXPECT_EQ(w.blocks[i].symbols, 32767u) << i;
    }
    EXPECT_EQ(w.blocks[3].type, 0);  // the last one's bytes are all in the window
}

TEST(DeflateBlocks, MatchHeavyBlockEndsEarlyAt4096Symbols) {
    // Units of three random literals and one long match: a quarter of the symbols are matches and the
    // block codes to far less than half its input, so it ends at the first multiple of 4,096 symbols.
    std::mt19937 rng(13);
    Bytes source = random_bytes(300, 14);
    Bytes input = source;
    while (input.size() < 400000) {
        for (int i = 0; i < 3; ++i) input.push_back(static_cast<uint8_t>(rng()));
        size_t at = rng() % 50;
        input.insert(input.end(), source.begin() + at, source.begin() + at + 200);
    }
    for (int level : {3, 8}) {
        Compressed z = compress(input, level);
        expect_valid(z, input, level, "match heavy");
        WalkResult w = walk(z);
        ASSERT_TRUE(w.ok);
        ASSERT_GT(w.blocks.size(), 2u);
        EXPECT_EQ(w.blocks[0].symbols, 4096u) << "level " << level;
    }
    // Levels 1 and 2 never end a block early: all 8,000 or so symbols go into one block.
    WalkResult w = walk(compress(input, 1));
    ASSERT_TRUE(w.ok);
    ASSERT_EQ(w.blocks.size(), 1u);
    EXPECT_GT(w.blocks[0].symbols, 4096u);
}

TEST(DeflateMatches, DistanceLimitIs32506) {
    Bytes input = planted_copy(70000, 1000, 32506, 40, 15);
    ASSERT_FALSE(input.empty());
    for (int level : {1, 4, 8}) {
        Compressed z = compress(input, level);
        expect_valid(z, input, level, "distance 32506");
        WalkResult w = walk(z);
        bool found = std::any_of(w.matches.begin(), w.matches.end(), [](const WalkedMatch& m) {
            return m.distance == 32506 && m.length >= 40 && m.at == 1000 + 32506;
        });
        EXPECT_TRUE(found) << "level " << level;
    }
    // One byte farther is out of reach: nothing of the copy is matched (expect_valid checks that no
    // distance exceeds 32,506 anywhere).
    Bytes farther = planted_copy(70000, 1000, 32507, 40, 16);
    ASSERT_FALSE(farther.empty());
    Compressed z = compress(farther, 8);
    expect_valid(z, farther, 8, "distance 32507");
    WalkResult w = walk(z);
    EXPECT_FALSE(std::any_of(w.matches.begin(), w.matches.end(), [](const WalkedMatch& m) {
        return m.at + m.length > 1000 + 32507 && m.at < 1000 + 32507 + 40;
    }));
}

TEST(DeflateMatches, FarThreeByteMatchesOnlyAtGreedyLevels) {
    Bytes four = planted_copy(30000, 1000, 10000, 4, 17);
    Bytes three = planted_copy(30000, 2000, 6000, 3, 18);
    ASSERT_FALSE(four.empty());
    ASSERT_FALSE(three.empty());
    auto has = [](const WalkResult& w, uint32_t len, uint32_t dist, size_t at) {
        return std::any_of(w.matches.begin(), w.matches.end(),
                           [&](const WalkedMatch& m) { return m.length == len && m.distance == dist && m.at == at; });
    };
    // Level 8: a 4-byte match 10,000 back is used, a 3-byte one 6,000 back is not (expect_valid checks
    // that no 3-byte match beyond 4,096 appears anywhere).
    Compressed z4 = compress(four, 8);
    expect_valid(z4, four, 8, "four bytes far");
    EXPECT_TRUE(has(walk(z4), 4, 10000, 11000));
    Compressed z3 = compress(three, 8);
    expect_valid(z3, three, 8, "three bytes far");
    EXPECT_FALSE(has(walk(z3), 3, 6000, 8000));
    // The greedy levels have no such rule.
    Compressed g3 = compress(three, 3);
    expect_valid(g3, three, 3, "three bytes far, greedy");
    EXPECT_TRUE(has(walk(g3), 3, 6000, 8000));
}

TEST(DeflateMatches, LongRunsUseLengthCode285) {
    Bytes zeros(10000, 0);
    Compressed z = compress(zeros, 8);
    expect_valid(z, zeros, 8, "zeros");
    WalkResult w = walk(z);
    size_t full = std::count_if(w.matches.begin(), w.matches.end(), [](const WalkedMatch& m) { return m.length == 258; });
    EXPECT_GE(full, 30u);
}

// White-box: feed the block coder a literal-only block whose frequencies give a Huffman tree deeper
// than 15 levels; the lengths must be cut to 15 and still form a complete code.
TEST(DeflateBlockCoder, CodeLengthsAreLimitedTo15) {
    using namespace velk::deflate;
    std::unique_ptr<DeflateState> s(new DeflateState());
    Job job;
    Bytes out(64);
    s->user = &job;
    s->flush_output = flush_output;
    s->out_buf = out.data();
    s->out_capacity = static_cast<uint32_t>(out.size());
    s->level = 1;
    ct_init(s.get());

    // Frequencies 1, 1, 3, 5, 9, 15, ... (each the sum of the two before plus one: no ties, so the
    // tree is a chain 19 deep).
    Bytes literals;
    uint32_t a = 1, b = 1;
    for (int sym = 0; sym < 19; ++sym) {
        literals.insert(literals.end(), a, static_cast<uint8_t>('A' + sym));
        uint32_t c = a + b + 1;
        a = b;
        b = c;
    }
    std::shuffle(literals.begin(), literals.end(), std::mt19937(19));
    for (uint8_t lit : literals) ASSERT_FALSE(ct_tally(s.get(), 0, lit));
    uint32_t size = emit_block(s.get(), nullptr, static_cast<uint32_t>(literals.size()), 1);
    EXPECT_EQ(s->error_message, nullptr);
    EXPECT_EQ(size, job.flushed.size());

    WalkResult w = walk_deflate(job.flushed.data(), job.flushed.size());
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_TRUE(w.out == literals);
    ASSERT_EQ(w.blocks.size(), 1u);
    EXPECT_EQ(w.blocks[0].type, 2);
    EXPECT_EQ(w.blocks[0].longest_lit_code, 15);
    // No matches: the distance tree is still two 1-bit codes.
    EXPECT_EQ(w.blocks[0].dist_codes, 2);
    EXPECT_EQ(w.blocks[0].dist_lengths, (std::vector<uint8_t>{1, 1}));
    Bytes inflated;
    EXPECT_TRUE(zlib_inflate(job.flushed, &inflated, literals.size()));
}

TEST(DeflateEntry, LevelFlagsAndBadLevels) {
    Bytes input = text_bytes(20000, 20);
    struct Case {
        int level;
        uint16_t flags;
        bool bad;
    } cases[] = {{1, 0x0004, false}, {2, 0x0004, false}, {3, 0, false},   {4, 0, false},   {7, 0, false},
                 {8, 0x0002, false}, {0, 0x0004, true},  {-3, 0x0004, true}, {9, 0x0002, true}, {1000, 0x0002, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        Compressed z = compress(input, c.level);
        EXPECT_EQ(z.flags, c.flags);
        if (c.bad) {
            ASSERT_NE(z.error, nullptr);
            EXPECT_STREQ(z.error, "bad pack level");
        } else {
            EXPECT_EQ(z.error, nullptr);
        }
        // A bad level still gives a complete stream (it is compressed at the nearest level), but the entry fails.
        Bytes out;
        EXPECT_TRUE(zlib_inflate(z.bytes, &out, input.size()));
        EXPECT_TRUE(out == input);
        EXPECT_EQ(z.size, z.bytes.size());
    }
}

TEST(DeflateEntry, FailedFlushFailsTheEntryWithoutOverrunningTheBuffer) {
    Bytes input = text_bytes(120000, 21);
    Bytes noise = random_bytes(80000, 22);
    input.insert(input.end(), noise.begin(), noise.end());
    struct Case {
        const char* name;
        int fail_from;
        int fail_count;
        uint32_t capacity;
    } cases[] = {
        {"always", 0, -1, 16384}, {"first call only", 0, 1, 16384}, {"third call only", 2, 1, 1024},
        {"from the tenth on", 9, -1, 2}, {"last flush with bytes", -2, 1, 16384},
    };
    // A flush of nothing cannot fail visibly: aim at the last one that carries bytes.
    int last_call = compress(input, 8).job.last_nonempty_call;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Job job;
        job.fail_from = c.fail_from == -2 ? last_call : c.fail_from;
        job.fail_count = c.fail_count;
        Compressed z = compress(input, 8, job, c.capacity);
        ASSERT_NE(z.error, nullptr);
        EXPECT_STREQ(z.error, "write failed");
        EXPECT_TRUE(z.guard_intact);
        EXPECT_EQ(z.job.calls_after_failure, 0) << "nothing is handed over once a write failed";
        EXPECT_LE(z.job.flushed.size(), z.size);
        EXPECT_EQ(z.job.read_pos, input.size());
    }
}

TEST(DeflateEntry, BadCallbacksAndBuffers) {
    Bytes input = text_bytes(5000, 23);
    // A read callback that claims more bytes than it was given room for.
    Job liar;
    liar.overclaim = 1;
    Compressed z = compress(input, 8, liar);
    ASSERT_NE(z.error, nullptr);
    EXPECT_STREQ(z.error, "read overran the buffer");
    EXPECT_TRUE(z.guard_intact);

    uint16_t flags = 0;
    Job job;
    job.input = &input;
    uint8_t buf[16];
    EXPECT_STREQ(compress_entry(&job, read_input, nullptr, buf, 16, 8, &flags).error_message, "bad arguments");
    EXPECT_STREQ(compress_entry(&job, nullptr, flush_output, buf, 16, 8, &flags).error_message, "bad arguments");
    EXPECT_STREQ(compress_entry(&job, read_input, flush_output, nullptr, 16, 8, &flags).error_message, "bad arguments");
    EXPECT_STREQ(compress_entry(&job, read_input, flush_output, buf, 1, 8, &flags).error_message, "bad arguments");
    EXPECT_EQ(job.flush_calls, 0);
    // Null flags are allowed: the caller may not want them.
    Job j2;
    j2.input = &input;
    Bytes out(16384);
    CompressResult r = compress_entry(&j2, read_input, flush_output, out.data(), 16384, 8, nullptr);
    EXPECT_EQ(r.error_message, nullptr);
    EXPECT_EQ(r.compressed_size, j2.flushed.size());
}

}  // namespace
