// Block coder of the deflate compressor: tallies literals and matches, builds Huffman trees per block,
// and writes stored, fixed or dynamic blocks through an LSB-first bit writer into the caller's buffer.
// Fed symbol by symbol by the match finder (match_finder.cpp); hands full buffers to the container's flush callback.
#include <cstring>

#include "zip/deflate/deflate_state.h"

namespace velk::deflate {
namespace {

// ---------------------------------------------------------------------------------------------
// Output: the one place that hands bytes to the container.

// After this, *count is 0 whatever happened. A flush that leaves bytes behind means the archive lost
// them: the entry can no longer be right, so it is failed and nothing more is handed over.
void hand_over(DeflateState* s, const uint8_t* bytes, uint32_t* count) {
    if (!s->write_failed) {
        s->flush_output(s->user, bytes, count);
        if (*count != 0) {
            s->write_failed = true;
            s->error_message = msg::kWriteFailed;
        }
    }
    *count = 0;
}

void flush_buffer(DeflateState* s) { hand_over(s, s->out_buf, &s->out_used); }

// Appends two bytes, making room first. out_capacity is at least 2 and hand_over always empties the
// buffer, so the bytes always fit.
inline void put_short(DeflateState* s, uint32_t w) {
    if (s->out_used >= s->out_capacity - 1) flush_buffer(s);
    s->out_buf[s->out_used++] = static_cast<uint8_t>(w);
    s->out_buf[s->out_used++] = static_cast<uint8_t>(w >> 8);
}

inline void put_byte(DeflateState* s, uint32_t b) {
    if (s->out_used >= s->out_capacity) flush_buffer(s);
    s->out_buf[s->out_used++] = static_cast<uint8_t>(b);
}

// Appends the low n bits of value; bytes leave in pairs once more than 16 bits are pending.
void put_bits(DeflateState* s, uint32_t value, uint32_t n) {
    if (n < 1 || n > 15) {
        s->error_message = msg::kInvalidLength;
        if (n > 16) n = 16;  // beyond 16 the shifts below would lose their meaning
    }
    s->bits_emitted += n;
    s->bit_acc |= value << s->bit_fill;
    s->bit_fill += n;
    if (s->bit_fill > 16) {
        put_short(s, s->bit_acc);
        s->bit_fill -= 16;
        s->bit_acc = value >> (n - s->bit_fill);
    }
}

inline void send_code(DeflateState* s, const TreeEntry* tree, uint32_t sym) {
    put_bits(s, tree[sym].freq_or_code, tree[sym].parent_or_len);
}

// Pads to a byte boundary with zero bits and hands the buffer over.
void align_output(DeflateState* s) {
    if (s->bit_fill > 8) {
        put_short(s, s->bit_acc);
    } else if (s->bit_fill > 0) {
        put_byte(s, s->bit_acc);
    }
    flush_buffer(s);
    s->bit_acc = 0;
    s->bit_fill = 0;
    s->bits_emitted = (s->bits_emitted + 7) & ~7u;
}

// The byte-aligned part of a stored block; the stored bytes go to the container straight from the window.
void write_stored_block(DeflateState* s, const uint8_t* data, uint32_t len) {
    align_output(s);
    put_short(s, len);
    put_short(s, ~len);
    s->bits_emitted += 32;
    flush_buffer(s);
    uint32_t count = len;
    hand_over(s, data, &count);
    s->bits_emitted += 8 * len;
}

// ---------------------------------------------------------------------------------------------
// Code tables.

uint32_t reverse_bits(uint32_t value, uint32_t n) {
    uint32_t r = 0;
    for (uint32_t i = 0; i < n; ++i) {
        r = (r << 1) | (value & 1);
        value >>= 1;
    }
    return r;
}

// Distance code of d = distance - 1; 30 (no code) for a d that no match can have.
inline uint32_t dcode(const DeflateState* s, uint32_t d) {
    if (d < 256) return s->dist_symbol[d];
    if ((d >> 7) < 256) return s->dist_symbol[256 + (d >> 7)];
    return kDistCodes;
}

// Canonical codes from the lengths in tree[0..max_code] and the counts in count_by_len.
void assign_codes(DeflateState* s, TreeEntry* tree, int max_code) {
    uint16_t next[kMaxBits + 1];
    uint16_t code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = static_cast<uint16_t>((code + s->count_by_len[bits - 1]) << 1);
        next[bits] = code;
    }
    if (static_cast<uint32_t>(code) + s->count_by_len[kMaxBits] - 1 != 32767) s->error_message = msg::kBitCounts;
    for (int n = 0; n <= max_code; ++n) {
        uint32_t len = tree[n].parent_or_len;
        if (len == 0) continue;
        if (len > kMaxBits) continue;  // only a length past the limit could get here; there is no code for it
        tree[n].freq_or_code = static_cast<uint16_t>(reverse_bits(next[len]++, len));
    }
}

void reset_block(DeflateState* s) {
    for (int n = 0; n < kLitCodes; ++n) s->lit_tree[n].freq_or_code = 0;
    for (int n = 0; n < kDistCodes; ++n) s->dist_tree[n].freq_or_code = 0;
    for (int n = 0; n < kClCodes; ++n) s->cl_tree[n].freq_or_code = 0;
    s->dyn_bits = 0;
    s->fixed_bits = 0;
    s->sym_count = 0;
    s->dist_count = 0;
    s->flag_bytes = 0;
    s->flag_acc = 0;
    s->flag_mask = 1;
    s->lit_tree[kEndBlock].freq_or_code = 1;  // every block ends with it
}

// ---------------------------------------------------------------------------------------------
// Tree building.

inline bool smaller(const DeflateState* s, const TreeEntry* tree, int a, int b) {
    return tree[a].freq_or_code < tree[b].freq_or_code ||
           (tree[a].freq_or_code == tree[b].freq_or_code && s->node_depth[a] <= s->node_depth[b]);
}

void sift_down(DeflateState* s, const TreeEntry* tree, int k) {
    int v = s->heap[k];
    int j = k << 1;
    while (j <= s->heap_size) {
        if (j < s->heap_size && smaller(s, tree, s->heap[j + 1], s->heap[j])) ++j;
        if (smaller(s, tree, v, s->heap[j])) break;
        s->heap[k] = s->heap[j];
        k = j;
        j <<= 1;
    }
    s->heap[k] = v;
}

// Lengths from the finished tree, cut to max_bits; adds the block's cost under this tree and the fixed one.
void compute_code_lengths(DeflateState* s, TreeDescriptor* desc) {
    TreeEntry* tree = desc->tree;
    const TreeEntry* fixed = desc->fixed_tree;
    const int max_code = desc->max_code;
    const int max_bits = desc->max_bits;
    for (int bits = 0; bits <= kMaxBits; ++bits) s->count_by_len[bits] = 0;
    int overflow = 0;

    tree[s->heap[s->sorted_top]].parent_or_len = 0;  // the root
    for (int h = s->sorted_top + 1; h < kHeapSize; ++h) {
        int n = s->heap[h];
        int bits = tree[tree[n].parent_or_len].parent_or_len + 1;  // parents come before their children
        if (bits > max_bits) {
            bits = max_bits;
            ++overflow;
        }
        tree[n].parent_or_len = static_cast<uint16_t>(bits);
        if (n > max_code) continue;  // inner node
        s->count_by_len[bits]++;
        uint32_t xbits = n >= desc->extra_base ? desc->extra_bits[n - desc->extra_base] : 0;
        uint32_t f = tree[n].freq_or_code;
        s->dyn_bits += f * (bits + xbits);
        if (fixed) s->fixed_bits += f * (fixed[n].parent_or_len + xbits);
    }
    if (overflow == 0) return;

    // Move leaves up from the deepest level until the counts fit: each step frees room for two codes.
    do {
        int bits = max_bits - 1;
        while (s->count_by_len[bits] == 0) --bits;
        s->count_by_len[bits]--;
        s->count_by_len[bits + 1] += 2;
        s->count_by_len[max_bits]--;
        overflow -= 2;
    } while (overflow > 0);

    // Hand the lengths out again: the least frequent symbols, stacked last, get the longest codes.
    int h = kHeapSize;
    for (int bits = max_bits; bits != 0; --bits) {
        int n = s->count_by_len[bits];
        while (n != 0) {
            int m = s->heap[--h];
            if (m > max_code) continue;
            if (tree[m].parent_or_len != bits) {
                s->dyn_bits += static_cast<uint32_t>((bits - static_cast<int>(tree[m].parent_or_len)) *
                                                     static_cast<int>(tree[m].freq_or_code));
                tree[m].parent_or_len = static_cast<uint16_t>(bits);
            }
            --n;
        }
    }
}

void build_code_tree(DeflateState* s, TreeDescriptor* desc) {
    TreeEntry* tree = desc->tree;
    const TreeEntry* fixed = desc->fixed_tree;
    const int symbols = desc->symbols;
    int max_code = -1;

    s->heap_size = 0;
    s->sorted_top = kHeapSize;
    for (int n = 0; n < symbols; ++n) {
        if (tree[n].freq_or_code != 0) {
            s->heap[++s->heap_size] = max_code = n;
            s->node_depth[n] = 0;
        } else {
            tree[n].parent_or_len = 0;
        }
    }

    // Every tree gets at least two codes, so that even a single used symbol has a decodable 1-bit code.
    while (s->heap_size < 2) {
        int node = s->heap[++s->heap_size] = (max_code < 2 ? ++max_code : 0);
        tree[node].freq_or_code = 1;
        s->node_depth[node] = 0;
        s->dyn_bits--;
        if (fixed) s->fixed_bits -= fixed[node].parent_or_len;
    }
    desc->max_code = max_code;

    for (int k = s->heap_size / 2; k >= 1; --k) sift_down(s, tree, k);

    int node = symbols;  // inner nodes are numbered from the alphabet's size on
    do {
        int n = s->heap[1];
        s->heap[1] = s->heap[s->heap_size--];
        sift_down(s, tree, 1);
        int m = s->heap[1];
        s->heap[--s->sorted_top] = n;
        s->heap[--s->sorted_top] = m;
        tree[node].freq_or_code = static_cast<uint16_t>(tree[n].freq_or_code + tree[m].freq_or_code);
        s->node_depth[node] =
            static_cast<uint8_t>((s->node_depth[n] >= s->node_depth[m] ? s->node_depth[n] : s->node_depth[m]) + 1);
        tree[n].parent_or_len = tree[m].parent_or_len = static_cast<uint16_t>(node);
        s->heap[1] = node++;
        sift_down(s, tree, 1);
    } while (s->heap_size >= 2);
    s->heap[--s->sorted_top] = s->heap[1];

    compute_code_lengths(s, desc);
    assign_codes(s, tree, max_code);
}

// ---------------------------------------------------------------------------------------------
// Dynamic header.

// How long the next run of code lengths may grow and how short it may be before repeat codes
// pay off; count_length_runs and emit_length_runs must walk with exactly the same rule.
// prev is the length just coded (-1 before the first run), next the length the run starts with.
inline void set_run_limits(int prev, int next, int* max_run, int* min_run) {
    if (next == 0) {
        *max_run = 138, *min_run = 3;
    } else if (prev == next) {
        *max_run = 6, *min_run = 3;
    } else {
        *max_run = 7, *min_run = 4;
    }
}

// Counts how often each code-length symbol will be sent for tree[0..max_code].
void count_length_runs(DeflateState* s, TreeEntry* tree, int max_code) {
    int prev = -1;
    int next = tree[0].parent_or_len;
    int count = 0;
    int max_run, min_run;
    set_run_limits(-1, next, &max_run, &min_run);
    tree[max_code + 1].parent_or_len = 0xFFFF;  // guard: ends the last run

    for (int n = 0; n <= max_code; ++n) {
        int cur = next;
        next = tree[n + 1].parent_or_len;
        if (++count < max_run && cur == next) continue;
        if (count < min_run) {
            s->cl_tree[cur].freq_or_code = static_cast<uint16_t>(s->cl_tree[cur].freq_or_code + count);
        } else if (cur != 0) {
            if (cur != prev) s->cl_tree[cur].freq_or_code++;
            s->cl_tree[kRep3To6].freq_or_code++;
        } else if (count <= 10) {
            s->cl_tree[kZeros3To10].freq_or_code++;
        } else {
            s->cl_tree[kZeros11To138].freq_or_code++;
        }
        count = 0;
        prev = cur;
        set_run_limits(cur, next, &max_run, &min_run);
    }
}

// Sends the lengths of tree[0..max_code] with the code-length codes; same runs as count_length_runs.
void emit_length_runs(DeflateState* s, const TreeEntry* tree, int max_code) {
    int prev = -1;
    int next = tree[0].parent_or_len;
    int count = 0;
    int max_run, min_run;
    set_run_limits(-1, next, &max_run, &min_run);

    for (int n = 0; n <= max_code; ++n) {
        int cur = next;
        next = tree[n + 1].parent_or_len;
        if (++count < max_run && cur == next) continue;
        if (count < min_run) {
            do send_code(s, s->cl_tree, cur);
            while (--count != 0);
        } else if (cur != 0) {
            if (cur != prev) {
                send_code(s, s->cl_tree, cur);
                --count;
            }
            if (count < 3 || count > 6) s->error_message = msg::kRep3_6;
            send_code(s, s->cl_tree, kRep3To6);
            put_bits(s, static_cast<uint32_t>(count - 3) & 3, 2);
        } else if (count <= 10) {
            send_code(s, s->cl_tree, kZeros3To10);
            put_bits(s, static_cast<uint32_t>(count - 3), 3);
        } else {
            send_code(s, s->cl_tree, kZeros11To138);
            put_bits(s, static_cast<uint32_t>(count - 11), 7);
        }
        count = 0;
        prev = cur;
        set_run_limits(cur, next, &max_run, &min_run);
    }
}

// Builds the code-length tree; returns the index in kClOrder of the last length to send.
int build_cl_tree(DeflateState* s) {
    count_length_runs(s, s->lit_tree, s->lit_desc.max_code);
    count_length_runs(s, s->dist_tree, s->dist_desc.max_code);
    build_code_tree(s, &s->cl_desc);
    int cl_max;
    for (cl_max = kClCodes - 1; cl_max >= 3; --cl_max) {
        if (s->cl_tree[kClOrder[cl_max]].parent_or_len != 0) break;
    }
    s->dyn_bits += 3 * (cl_max + 1) + 5 + 5 + 4;
    return cl_max;
}

void emit_tree_header(DeflateState* s, int lcodes, int dcodes, int blcodes) {
    if (lcodes < 257 || dcodes < 1 || blcodes < 4) {
        s->error_message = msg::kNotEnough;
        return;  // nothing sensible can be sent, and the counts would index outside the trees
    }
    if (lcodes > kLitCodes || dcodes > kDistCodes || blcodes > kClCodes) {
        s->error_message = msg::kTooMany;
        return;
    }
    put_bits(s, lcodes - 257, 5);
    put_bits(s, dcodes - 1, 5);
    put_bits(s, blcodes - 4, 4);
    for (int r = 0; r < blcodes; ++r) put_bits(s, s->cl_tree[kClOrder[r]].parent_or_len, 3);
    emit_length_runs(s, s->lit_tree, lcodes - 1);
    emit_length_runs(s, s->dist_tree, dcodes - 1);
}

// The block's symbols through a 64-bit accumulator: the same bits in the same order as put_bits would
// write them, but whole bytes leave several at a time. Between symbols at most 7 bits stay pending, and
// one symbol adds at most 15 + 5 + 15 + 13 bits, so nothing overflows.
void emit_symbols(DeflateState* s, const TreeEntry* ltree, const TreeEntry* dtree) {
    uint64_t acc = s->bit_acc;
    uint32_t fill = s->bit_fill;
    uint32_t total = 0;     // bits added, for bits_emitted
    uint32_t bad_len = 0;   // nonzero once a code length outside 1 to 15 was met
    auto put = [&](uint32_t value, uint32_t n) {
        acc |= static_cast<uint64_t>(value) << fill;
        fill += n;
        total += n;
    };
    auto send = [&](const TreeEntry& t) {
        bad_len |= (t.parent_or_len - 1u) > 14u;
        put(t.freq_or_code, t.parent_or_len);
    };
    auto drain = [&]() {
        if (s->out_capacity - s->out_used < 8) flush_buffer(s);
        if (s->out_capacity - s->out_used >= 8) {
            // All eight bytes fit; only the complete ones count, the rest is overwritten later.
            std::memcpy(s->out_buf + s->out_used, &acc, 8);  // little-endian: the first bits go first
            const uint32_t bytes = fill >> 3;
            s->out_used += bytes;
            acc = bytes == 8 ? 0 : acc >> (8 * bytes);
            fill &= 7;
        } else {
            while (fill >= 8) {  // a buffer smaller than eight bytes
                put_byte(s, static_cast<uint32_t>(acc));
                acc >>= 8;
                fill -= 8;
            }
        }
    };
    static_assert(sizeof(acc) == 8, "the accumulator is stored whole");

    uint32_t flag_index = 0;
    uint32_t dist_index = 0;
    uint32_t flags = 0;
    for (uint32_t i = 0; i < s->sym_count; ++i) {
        if ((i & 7) == 0) flags = s->sym_flags[flag_index++];
        uint32_t v = s->sym_lit[i];
        if ((flags & 1) == 0) {
            send(ltree[v]);
        } else {
            uint32_t c = s->len_symbol[v];
            send(ltree[kLiterals + 1 + c]);
            uint32_t extra = kLenExtra[c];
            if (extra != 0) put(v - s->len_base[c], extra);
            uint32_t d = s->sym_dist[dist_index++];
            uint32_t dc = dcode(s, d);
            if (dc >= static_cast<uint32_t>(kDistCodes)) {
                s->error_message = msg::kBadDCode;
            } else {
                send(dtree[dc]);
                extra = kDistExtra[dc];
                if (extra != 0) put(d - s->dist_base[dc], extra);
            }
        }
        flags >>= 1;
        if (fill >= 16) drain();
    }
    send(ltree[kEndBlock]);
    drain();
    if (bad_len) s->error_message = msg::kInvalidLength;
    s->bit_acc = static_cast<uint32_t>(acc);
    s->bit_fill = fill;
    s->bits_emitted += total;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Entry points.

void ct_init(DeflateState* s) {
    s->out_bytes = 0;
    s->out_extra_bits = 0;
    s->lit_desc = {s->lit_tree, s->fixed_lit_tree, kLenExtra, kLiterals + 1, kLitCodes, kMaxBits, 0};
    s->dist_desc = {s->dist_tree, s->fixed_dist_tree, kDistExtra, 0, kDistCodes, kMaxBits, 0};
    s->cl_desc = {s->cl_tree, nullptr, kClExtra, 0, kClCodes, kMaxClBits, 0};

    uint32_t length = 0;
    for (int code = 0; code < kLengthCodes - 1; ++code) {
        s->len_base[code] = static_cast<int32_t>(length);
        for (uint32_t n = 0; n < (1u << kLenExtra[code]); ++n) {
            if (length < 256) s->len_symbol[length] = static_cast<uint8_t>(code);
            ++length;
        }
    }
    if (length != 256) s->error_message = msg::kInitLength;
    // Length 258 could also be code 284 with all extra bits set; it is always sent as code 285.
    s->len_symbol[255] = kLengthCodes - 1;

    uint32_t dist = 0;
    for (int code = 0; code < 16; ++code) {
        s->dist_base[code] = static_cast<int32_t>(dist);
        for (uint32_t n = 0; n < (1u << kDistExtra[code]); ++n) {
            if (dist < 256) s->dist_symbol[dist] = static_cast<uint8_t>(code);
            ++dist;
        }
    }
    if (dist != 256) s->error_message = msg::kInitDist;
    dist >>= 7;  // from here on the table is indexed by distance / 128
    for (int code = 16; code < kDistCodes; ++code) {
        s->dist_base[code] = static_cast<int32_t>(dist << 7);
        for (uint32_t n = 0; n < (1u << (kDistExtra[code] - 7)); ++n) {
            if (dist < 256) s->dist_symbol[256 + dist] = static_cast<uint8_t>(code);
            ++dist;
        }
    }
    if (dist != 256) s->error_message = msg::kInitDist512;

    for (int bits = 0; bits <= kMaxBits; ++bits) s->count_by_len[bits] = 0;
    for (int n = 0; n < kFixedLitCodes; ++n) {
        uint16_t len = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
        s->fixed_lit_tree[n].parent_or_len = len;
        s->count_by_len[len]++;
    }
    assign_codes(s, s->fixed_lit_tree, kFixedLitCodes - 1);
    for (int n = 0; n < kDistCodes; ++n) {
        s->fixed_dist_tree[n].parent_or_len = 5;
        s->fixed_dist_tree[n].freq_or_code = static_cast<uint16_t>(reverse_bits(n, 5));
    }
    reset_block(s);
}

bool ct_tally_match(DeflateState* s, uint32_t dist, uint32_t value) {
    s->sym_lit[s->sym_count++] = static_cast<uint8_t>(value);
    uint32_t d = (dist - 1) & 0xFFFF;
    uint32_t dc = dcode(s, d);
    if (d >= kMaxDist || (value & 0xFFFF) > 255 || dc >= static_cast<uint32_t>(kDistCodes)) {
        s->error_message = msg::kBadMatch;
    }
    s->lit_tree[kLiterals + 1 + s->len_symbol[value & 0xFF]].freq_or_code++;
    if (dc < static_cast<uint32_t>(kDistCodes)) s->dist_tree[dc].freq_or_code++;
    s->sym_dist[s->dist_count++] = static_cast<uint16_t>(d);
    s->flag_acc = static_cast<uint8_t>(s->flag_acc | s->flag_mask);
    return ct_tally_end(s);
}

bool ct_weigh_early_end(DeflateState* s) {
    // A block of mostly literals that already codes to under half its input is ended while it is ahead.
    uint32_t estimate = s->sym_count * 8;
    for (int dc = 0; dc < kDistCodes; ++dc) {
        estimate += s->dist_tree[dc].freq_or_code * (5u + kDistExtra[dc]);
    }
    estimate >>= 3;
    uint32_t covered = static_cast<uint32_t>(static_cast<int32_t>(s->cur_pos) - s->block_begin);
    return s->dist_count < s->sym_count / 2 && estimate < covered / 2;
}

uint32_t emit_block(DeflateState* s, const uint8_t* data, uint32_t stored_len, int last) {
    s->sym_flags[s->flag_bytes] = s->flag_acc;

    build_code_tree(s, &s->lit_desc);
    build_code_tree(s, &s->dist_desc);
    int cl_max = build_cl_tree(s);

    uint32_t dyn_bytes = (s->dyn_bits + 3 + 7) >> 3;
    uint32_t fixed_bytes = (s->fixed_bits + 3 + 7) >> 3;
    if (fixed_bytes <= dyn_bytes) dyn_bytes = fixed_bytes;

    // A stored block's length field has 16 bits; no block that still has its bytes in the window is longer.
    if (stored_len + 4 <= dyn_bytes && data != nullptr && stored_len <= 0xFFFF) {
        put_bits(s, static_cast<uint32_t>(last), 3);
        s->out_bytes += ((s->out_extra_bits + 3 + 7) >> 3) + stored_len + 4;
        s->out_extra_bits = 0;
        write_stored_block(s, data, stored_len);
    } else {
        uint32_t added;
        if (fixed_bytes == dyn_bytes) {
            put_bits(s, 2 + static_cast<uint32_t>(last), 3);
            emit_symbols(s, s->fixed_lit_tree, s->fixed_dist_tree);
            added = s->fixed_bits;
        } else {
            put_bits(s, 4 + static_cast<uint32_t>(last), 3);
            emit_tree_header(s, s->lit_desc.max_code + 1, s->dist_desc.max_code + 1, cl_max + 1);
            emit_symbols(s, s->lit_tree, s->dist_tree);
            added = s->dyn_bits;
        }
        s->out_extra_bits += added + 3;
        s->out_bytes += s->out_extra_bits >> 3;
        s->out_extra_bits &= 7;
    }
    if (s->out_bytes * 8 + s->out_extra_bits != s->bits_emitted) s->error_message = msg::kBadSize;

    reset_block(s);
    if (last) {
        align_output(s);
        s->out_extra_bits += 7;
    }
    return s->out_bytes + (s->out_extra_bits >> 3);
}

}  // namespace velk::deflate
