// Test-side reader of raw deflate streams (RFC 1951), written for clarity rather than speed.
// Decodes bit by bit through canonical code counts; records blocks and matches for the tests.
#include "tests/zip/deflate/stream_walker.h"

#include <stdexcept>

namespace {

struct Bits {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;  // bit position

    uint32_t get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (pos >= size * 8) throw std::runtime_error("stream ends early");
            v |= static_cast<uint32_t>((data[pos >> 3] >> (pos & 7)) & 1) << i;
            ++pos;
        }
        return v;
    }
};

struct Code {
    int count[16] = {};
    std::vector<int> symbols;
    int longest = 0;
};

Code make_code(const uint8_t* lengths, int n, bool allow_incomplete_single) {
    Code c;
    for (int i = 0; i < n; ++i) {
        c.count[lengths[i]]++;
        if (lengths[i] > c.longest) c.longest = lengths[i];
    }
    c.count[0] = 0;
    int left = 1;
    for (int len = 1; len < 16; ++len) {
        left <<= 1;
        left -= c.count[len];
        if (left < 0) throw std::runtime_error("over-subscribed code");
    }
    int used = 0;
    for (int len = 1; len < 16; ++len) used += c.count[len];
    if (left > 0 && !(allow_incomplete_single && used == 1)) throw std::runtime_error("incomplete code");
    int offs[16] = {};
    for (int len = 1; len < 15; ++len) offs[len + 1] = offs[len] + c.count[len];
    c.symbols.assign(used, 0);
    for (int i = 0; i < n; ++i) {
        if (lengths[i] != 0) c.symbols[offs[lengths[i]]++] = i;
    }
    return c;
}

int decode(Bits& in, const Code& c) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
        code |= static_cast<int>(in.get(1));
        int count = c.count[len];
        if (code - count < first) return c.symbols[index + (code - first)];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    throw std::runtime_error("bad code");
}

const int kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                           193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const int kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const int kClOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

void codes(Bits& in, WalkResult& r, WalkedBlock& b, const Code& lit, const Code& dist) {
    for (;;) {
        int sym = decode(in, lit);
        if (sym < 256) {
            r.out.push_back(static_cast<uint8_t>(sym));
            ++b.symbols;
            continue;
        }
        if (sym == 256) return;
        sym -= 257;
        if (sym >= 29) throw std::runtime_error("bad length symbol");
        uint32_t extra = in.get(kLenExtra[sym]);
        uint32_t len = kLenBase[sym] + extra;
        if (sym == 27 && extra == 31) r.length_258_as_284 = true;
        int ds = decode(in, dist);
        if (ds >= 30) throw std::runtime_error("bad distance symbol");
        uint32_t d = kDistBase[ds] + in.get(kDistExtra[ds]);
        if (d > r.out.size()) throw std::runtime_error("distance too far back");
        r.matches.push_back({len, d, r.out.size()});
        for (uint32_t i = 0; i < len; ++i) r.out.push_back(r.out[r.out.size() - d]);
        ++b.symbols;
    }
}

}  // namespace

WalkResult walk_deflate(const uint8_t* data, size_t size) {
    WalkResult r;
    Bits in{data, size};
    try {
        for (;;) {
            WalkedBlock b;
            b.out_begin = r.out.size();
            b.final = in.get(1) != 0;
            b.type = static_cast<int>(in.get(2));
            if (b.type == 0) {
                in.pos = (in.pos + 7) & ~static_cast<size_t>(7);
                uint32_t len = in.get(16);
                uint32_t nlen = in.get(16);
                if ((len ^ 0xFFFF) != nlen) throw std::runtime_error("stored length check");
                for (uint32_t i = 0; i < len; ++i) r.out.push_back(static_cast<uint8_t>(in.get(8)));
                b.stored_len = len;
            } else if (b.type == 1) {
                uint8_t lengths[288 + 32];  // the fixed distance code has 32 codes, 30 and 31 unused
                for (int i = 0; i < 144; ++i) lengths[i] = 8;
                for (int i = 144; i < 256; ++i) lengths[i] = 9;
                for (int i = 256; i < 280; ++i) lengths[i] = 7;
                for (int i = 280; i < 288; ++i) lengths[i] = 8;
                for (int i = 0; i < 32; ++i) lengths[288 + i] = 5;
                Code lit = make_code(lengths, 288, false);
                Code dist = make_code(lengths + 288, 32, false);
                codes(in, r, b, lit, dist);
            } else if (b.type == 2) {
                b.lit_codes = static_cast<int>(in.get(5)) + 257;
                b.dist_codes = static_cast<int>(in.get(5)) + 1;
                b.cl_codes = static_cast<int>(in.get(4)) + 4;
                uint8_t cl_len[19] = {};
                for (int i = 0; i < b.cl_codes; ++i) cl_len[kClOrder[i]] = static_cast<uint8_t>(in.get(3));
                Code cl = make_code(cl_len, 19, false);
                b.longest_cl_code = cl.longest;
                uint8_t lengths[286 + 30] = {};
                int total = b.lit_codes + b.dist_codes;
                for (int i = 0; i < total;) {
                    int sym = decode(in, cl);
                    int repeat = 0, value = 0;
                    if (sym < 16) {
                        lengths[i++] = static_cast<uint8_t>(sym);
                        continue;
                    }
                    if (sym == 16) {
                        if (i == 0) throw std::runtime_error("repeat without a length");
                        value = lengths[i - 1];
                        repeat = 3 + static_cast<int>(in.get(2));
                    } else if (sym == 17) {
                        repeat = 3 + static_cast<int>(in.get(3));
                    } else {
                        repeat = 11 + static_cast<int>(in.get(7));
                    }
                    if (i + repeat > total) throw std::runtime_error("lengths overrun");
                    while (repeat--) lengths[i++] = static_cast<uint8_t>(value);
                }
                if (lengths[256] == 0) throw std::runtime_error("no end-of-block code");
                Code lit = make_code(lengths, b.lit_codes, false);
                // A distance tree with one used code is legal; ours always sends at least two.
                Code dist = make_code(lengths + b.lit_codes, b.dist_codes, true);
                b.longest_lit_code = lit.longest;
                b.dist_lengths.assign(lengths + b.lit_codes, lengths + b.lit_codes + b.dist_codes);
                codes(in, r, b, lit, dist);
            } else {
                throw std::runtime_error("block type 3");
            }
            b.out_end = r.out.size();
            r.blocks.push_back(b);
            if (b.final) break;
        }
        while (in.pos & 7) {
            if (in.get(1) != 0) r.padding_zero = false;
        }
        r.bytes_used = in.pos / 8;
        r.ok = true;
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    return r;
}
