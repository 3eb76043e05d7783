// The per-entry record of the deflate compressor and the block coder's entry points.
// compress_entry (match_finder.cpp) owns one DeflateState per entry; block_coder.cpp keeps the block half of it.
#pragma once

#include <cstdint>

#include "zip/deflate/deflate.h"
#include "zip/deflate/deflate_constants.h"

namespace velk::deflate {

// One node of a Huffman tree. Each field means one thing while the tree is built and another after.
struct TreeEntry {
    uint16_t freq_or_code;   // building: occurrences of the symbol or subtree; built: its bit-reversed code
    uint16_t parent_or_len;  // building: index of the parent node; built: code length, 0 = no code
};

// What build_code_tree needs to know about one of the three dynamic trees.
struct TreeDescriptor {
    TreeEntry* tree;              // the dynamic tree, written by build_code_tree
    const TreeEntry* fixed_tree;  // the fixed tree whose cost is tracked alongside, or null
    const uint8_t* extra_bits;    // extra bits per code, from extra_base on
    int extra_base;               // first symbol with an entry in extra_bits
    int symbols;                  // size of the alphabet
    int max_bits;                 // longest code allowed
    int max_code;                 // largest symbol with a nonzero frequency; set by build_code_tree
};

// Parameters of one compression level.
struct LevelConfig {
    uint16_t good_len;     // previous match this long: search a quarter as deep
    uint16_t lazy_limit;   // lazy: take a previous match this long at once; greedy: insert inner strings up to it
    uint16_t nice_len;     // a match this long ends the search
    uint16_t chain_limit;  // chain entries examined per search
};

// Bytes past the window's end that stay zero: room for word-wide loads at the end of a comparison.
constexpr uint32_t kWindowPad = 16;

// The lazy levels' search shortcut: chains of positions that agree on their first 4, 8 or 16 bytes.
constexpr int kKeyLevels = 3;
constexpr uint32_t kKeyBytes[kKeyLevels] = {4, 8, 16};
constexpr uint32_t kKeyHashBits = 15;
constexpr uint32_t kKeyHashSize = 1u << kKeyHashBits;

// Everything one entry needs. Zero-filled by compress_entry; no field is shared between entries.
struct DeflateState {
    // --- boundary, set by compress_entry before anything runs ---
    void* user;                  // handed back to both callbacks
    int32_t level;               // 1 to 8; init_matcher clamps a bad level after recording it
    ReadInputFn read_input;      // input callback; called by init_matcher and refill_window
    void* read_user;             // handed to read_input: `user`, or the two-thread reader in front of it
    FlushOutputFn flush_output;  // output callback; called by the bit writer and write_stored_block

    // --- trees: frequencies while a block is tallied, codes once emit_block built them ---
    TreeEntry lit_tree[kHeapSize];               // literal/length tree, entries above 285 are inner nodes
    TreeEntry dist_tree[2 * kDistCodes + 1];     // distance tree
    TreeEntry cl_tree[2 * kClCodes + 1];         // code-length tree of the dynamic header
    TreeEntry fixed_lit_tree[kFixedLitCodes];    // fixed literal/length codes, built once by ct_init
    TreeEntry fixed_dist_tree[kDistCodes];       // fixed distance codes, built once by ct_init
    TreeDescriptor lit_desc;                     // set by ct_init; max_code written by build_code_tree
    TreeDescriptor dist_desc;
    TreeDescriptor cl_desc;

    // --- tree-building work areas, used only inside build_code_tree / assign_codes ---
    uint16_t count_by_len[kMaxBits + 1];  // codes of each length; also filled by ct_init for the fixed tree
    int32_t heap[kHeapSize];              // heap in [1, heap_size], removed nodes stacked down from the end
    int32_t heap_size;                    // nodes in the heap
    int32_t sorted_top;                   // lowest used index of the stack of removed nodes
    uint8_t node_depth[kHeapSize];        // subtree heights: the tie-break of the heap order

    // --- code tables, written once by ct_init ---
    uint8_t len_symbol[256];   // (length - 3) -> length code index 0..28
    uint8_t dist_symbol[512];  // distance - 1 -> distance code: direct below 256, else 256 + (d >> 7)
    int32_t len_base[kLengthCodes];  // (length - 3) of the first length of each length code
    int32_t dist_base[kDistCodes];   // (distance - 1) of the first distance of each distance code

    // --- tally buffers: the current block's symbols, appended by ct_tally, read by emit_symbols ---
    uint8_t sym_lit[kSymBufSize];     // literal byte, or match length - 3
    uint16_t sym_dist[kSymBufSize];   // distance - 1 of each match, in order
    uint8_t sym_flags[kFlagBufSize];  // one bit per symbol, set for a match; eight symbols to a byte
    uint32_t sym_count;               // symbols in sym_lit
    uint32_t dist_count;              // entries in sym_dist
    uint32_t flag_bytes;              // completed bytes of sym_flags
    uint8_t flag_acc;                 // flag bits since the last completed byte
    uint8_t flag_mask;                // bit of the next symbol in flag_acc

    // --- length accounting, kept by build_code_tree / emit_block ---
    uint32_t dyn_bits;        // exact cost of the block with its own trees, header included (block type excluded)
    uint32_t fixed_bits;      // exact cost of the block's symbols with the fixed codes
    uint32_t out_bytes;       // compressed length of the entry so far: whole bytes ...
    uint32_t out_extra_bits;  // ... plus 0 to 7 bits
    uint32_t bits_emitted;    // every bit the writer produced, padding and stored bytes included; for the check

    // --- bit writer and output ---
    uint32_t bit_acc;       // bits not yet written, the next one to leave in bit 0
    uint32_t bit_fill;      // valid bits in bit_acc; at most 16 between calls of put_bits
    uint8_t* out_buf;       // the caller's output buffer
    uint32_t out_capacity;  // its size, at least 2
    uint32_t out_used;      // bytes waiting in out_buf; flush_output sets it to 0 when the write worked
    bool write_failed;      // a flush left bytes behind: nothing more is handed over, the entry fails

    // --- match finder ---
    uint8_t window[kWindowSize + kWindowPad];  // sliding window: filled by the reads of init_matcher and
                                               // refill_window, its upper half copied down at each slide.
                                               // Not cleared up front: bytes a search may read past the
                                               // input's end are zeroed when it ends (note_read)
    uint32_t window_written;                   // window bytes below this index have been written; note_read
    // Positions are window indices below 65,536, so 16 bits hold them exactly; half the size of 32-bit
    // entries keeps more of the chains in the data cache during the searches.
    uint16_t chain_prev[kHalfWindow];  // previous position with the same hash, by position & 0x7FFF; 0 = none;
                                       // written by insert_string, rebased by refill_window
    uint16_t hash_head[kHashSize];     // most recent position of each hash value, 0 = none; written by
                                       // insert_string, cleared by init_matcher, rebased by refill_window
    int32_t block_begin;     // window position of the current block's start (end_block sets it, refill_window
                             // rebases it); negative once it slid out
    uint32_t hash_key;       // running hash of the string being inserted, 15 bits; insert_string, and the
                             // greedy loop after a skipped long match
    uint32_t prev_len;       // best match length at the previous position (2 = none), set by the loops;
                             // the starting bar of find_longest_match
    uint32_t cur_pos;        // window index of the next byte to be coded; advanced by the loops, rebased at a slide
    uint64_t window_base;    // input offset of window[0]: 0 at the start, raised by refill_window at each slide
    uint32_t match_pos;      // start of the best match of the last chain search (find_longest_match)
    uint32_t input_ended;    // read_input has reported the end; set by init_matcher / refill_window
    uint32_t lookahead_len;  // valid bytes from cur_pos on; grown by the reads, shrunk by the loops
    uint32_t chain_limit;    // chain entries examined per search; this and the next three from the level's
                             // row, set by init_matcher
    uint32_t lazy_limit;     // see LevelConfig
    uint32_t good_len;       // see LevelConfig
    int32_t nice_len;        // see LevelConfig; lowered by the loops to the lookahead near the end of the input
    const char* error_message;  // null, or the text of the last failed check; set by either half, read by
                                // compress_entry at the end

    // --- search shortcut of the lazy levels; changes no match, only how fast the chain is walked
    //     (tests/zip/deflate/agreement_test.cpp holds it to the plain reference walk) ---
    // Once the best match has K - 1 bytes or more, only candidates that agree on the first K bytes can
    // beat it. Those are found through chains keyed by the first K bytes (K = 4, 8, 16); how many entries
    // of the 3-byte chain lie between two of them follows from the entries' ranks, so the chain_limit
    // count comes out as if every entry of the 3-byte chain had been visited.
    bool use_key_chains;               // set by init_matcher for levels 4 to 8
    uint16_t hash_count[kHashSize];    // positions put into each hash chain so far (16 bits, wrapping)
    uint16_t chain_rank[kHalfWindow];  // hash_count of the position's chain right after its insertion, by
                                       // p & 0x7FFF; both written by insert_string
    // Previous position with the same K-byte key, by p & 0x7FFF, and the most recent position of each key
    // (0 = none): written by fill_key_chain, rebased or cleared by refill_window.
    uint16_t key_prev[kKeyLevels][kHalfWindow];
    uint16_t key_head[kKeyLevels][kKeyHashSize];
    // First position not yet in each K-byte chain. A chain is filled only when a search is about to walk
    // it, and only from the oldest position still within reach (cur_pos - 32,506) on; rebased at a slide.
    uint32_t key_next[kKeyLevels];
    // The chain has a valid key_head (cleared the first time a search needs it, and again after a slide
    // left nothing of the chain); written by fill_key_chain and refill_window.
    bool key_head_ready[kKeyLevels];
};

// How one big entry is parsed on two threads (match_finder.cpp). The entry is taken in rounds: the
// calling thread parses main_span bytes, a helper thread parses from a cut on, and where both parses
// reach one position in the same state, the helper's tokens are taken until the calling thread has
// caught up with the helper. The output is the one-thread output. compress_entry uses kDefaultSplit;
// tests pass small spans.
struct SplitPlan {
    uint32_t main_span;        // bytes the calling thread parses itself before each cut (>= 128 KiB)
    uint32_t helper_span;      // most bytes the helper parses from the cut (>= min_helper_span, < 4 MiB)
    uint32_t min_helper_span;  // a round with less than this for the helper is not worth a thread
    uint32_t record_span;      // positions after the cut at which the two parses are compared
};
constexpr SplitPlan kDefaultSplit = {1u << 20, 3u << 20, 256u << 10, 1u << 20};
constexpr SplitPlan kNoSplit = {0, 0, 0, 0};

// What the two threads did with one entry, for tests and measurements.
struct SplitStats {
    uint32_t rounds;             // helpers started
    uint32_t rounds_met;         // rounds whose tokens the calling thread took from the meeting point on
    uint64_t bytes_taken;        // input bytes covered by those tokens
    uint64_t bytes_to_meet;      // summed distances from the cuts to the meeting points
};

// compress_entry with an explicit plan; kNoSplit keeps to one thread. stats may be null.
CompressResult compress_entry_planned(void* user, ReadInputFn read_input, FlushOutputFn flush_output, uint8_t* out_buf,
                                      uint32_t out_capacity, int level, uint16_t* flags, const SplitPlan& plan,
                                      SplitStats* stats);

// Block coder (block_coder.cpp), called by the match finder.
void ct_init(DeflateState* s);
bool ct_tally_match(DeflateState* s, uint32_t dist, uint32_t value);
bool ct_weigh_early_end(DeflateState* s);

// The symbol bookkeeping shared by literals and matches, after the symbol itself went in: its flag
// bit, and whether the block ends here. Inline, with the literal case below: most symbols are literals.
inline bool ct_tally_end(DeflateState* s) {
    s->flag_mask = static_cast<uint8_t>(s->flag_mask << 1);
    if ((s->sym_count & 7) == 0) {
        s->sym_flags[s->flag_bytes++] = s->flag_acc;
        s->flag_acc = 0;
        s->flag_mask = 1;
    }
    if (s->level > 2 && (s->sym_count & (kEarlyEndEvery - 1)) == 0 && ct_weigh_early_end(s)) return true;
    return s->sym_count == kMaxBlockSymbols;
}

// Records a literal (dist 0, value = the byte) or a match (dist 1 to 32,506, value = length - 3) in
// the current block; true when the block is to be ended now.
inline bool ct_tally(DeflateState* s, uint32_t dist, uint32_t value) {
    if (dist != 0) return ct_tally_match(s, dist, value);
    s->sym_lit[s->sym_count++] = static_cast<uint8_t>(value);
    s->lit_tree[value & 0xFF].freq_or_code++;
    return ct_tally_end(s);
}
uint32_t emit_block(DeflateState* s, const uint8_t* data, uint32_t stored_len, int last);

}  // namespace velk::deflate
