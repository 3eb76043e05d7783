// Match finder of the deflate compressor and its entry point compress_entry: reads the entry into a
// 64 KiB sliding window, finds repeated strings through hash chains and hands literals and matches to
// the block coder (block_coder.cpp). Called by the zip container, one call per deflated entry.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>
#include <vector>

#include "zip/deflate/deflate_state.h"

namespace velk::deflate {
namespace {

constexpr LevelConfig kLevels[9] = {
    {0, 0, 0, 0},  // no level 0: init_matcher never reads this row
    {4, 4, 8, 4},       {4, 5, 16, 8},      {4, 6, 32, 32},      {4, 4, 16, 16},
    {8, 16, 32, 32},    {8, 16, 128, 128},  {8, 32, 128, 256},   {32, 128, 258, 1024},
};

constexpr uint32_t kReadEnded = 0xFFFFFFFFu;

// Unaligned loads of window bytes, little-endian as the comparisons below assume.
inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t update_hash(uint32_t key, uint8_t byte) { return ((key << kHashShift) ^ byte) & kHashMask; }

// Inserts the string at p into its hash chain; returns the previous position with the same hash (0 = none).
inline uint32_t insert_string(DeflateState* s, uint32_t p) {
    const uint32_t key = s->hash_key = update_hash(s->hash_key, s->window[p + kMinMatch - 1]);
    const uint32_t candidate = s->hash_head[key];
    s->chain_prev[p & kChainMask] = static_cast<uint16_t>(candidate);
    s->hash_head[key] = static_cast<uint16_t>(p);
    // Ranks are consecutive along the chain: the number of entries between two positions is their rank
    // difference.
    s->chain_rank[p & kChainMask] = ++s->hash_count[key];
    return candidate;
}

constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;

inline uint32_t key4(uint32_t first4) { return (first4 * 0x9E3779B1u) >> (32 - kKeyHashBits); }
inline uint32_t key8(uint64_t first8) { return static_cast<uint32_t>((first8 * kMul) >> (64 - kKeyHashBits)); }
inline uint32_t key16(uint64_t first8, uint64_t next8) {
    return static_cast<uint32_t>(((first8 ^ (next8 * kMul)) * kMul) >> (64 - kKeyHashBits));
}

inline uint32_t key_of_level(int level, const uint8_t* p) {
    const uint64_t lo = load64(p);
    return level == 0 ? key4(static_cast<uint32_t>(lo)) : level == 1 ? key8(lo) : key16(lo, load64(p + 8));
}

// Puts the positions from `from` up to below `end` into the chain of one key level, unless they are in
// it already. Called just before a search walks that chain, when the first 16 bytes of each such
// position are final: they lie below cur_pos + 15, inside the lookahead, or the input has ended and
// nothing will overwrite them. Positions older than `from` are out of reach for this and every later
// search, so a chain that has not been needed for a while skips them.
template <int L>
void fill_key_chain(DeflateState* s, uint32_t from, uint32_t end) {
    if (!s->key_head_ready[L]) {
        std::memset(s->key_head[L], 0, sizeof s->key_head[L]);
        s->key_head_ready[L] = true;
    }
    uint32_t q = s->key_next[L] > from ? s->key_next[L] : from;
    uint16_t* const prev = s->key_prev[L];
    uint16_t* const head = s->key_head[L];
    for (; q < end; ++q) {
        const uint32_t key = key_of_level(L, s->window + q);
        prev[q & kChainMask] = head[key];
        head[key] = static_cast<uint16_t>(q);
    }
    if (s->key_next[L] < end) s->key_next[L] = end;
}

// After each read: what the window holds now. Once the input has ended, a search may compare up to
// 258 bytes past it (the callers cut the result); bytes there that no read ever wrote are zeroed, as if
// the window had been cleared at the start, so that such comparisons never depend on stale memory.
void note_read(DeflateState* s) {
    const uint32_t filled = s->cur_pos + s->lookahead_len;
    if (filled > s->window_written) s->window_written = filled;
    if (!s->input_ended) return;
    const uint32_t reach = std::min<uint32_t>(filled + kMinLookahead + 8, kWindowSize);
    if (reach > s->window_written) {
        std::memset(s->window + s->window_written, 0, reach - s->window_written);
        s->window_written = reach;
    }
}

// Slides the window down by one half when the current position has reached the upper limit, and pulls
// in input until the lookahead is full or the input has ended.
void refill_window(DeflateState* s) {
    do {
        uint32_t free_bytes = kWindowSize - s->lookahead_len - s->cur_pos;
        if (s->cur_pos >= kSlideAt) {
            std::memcpy(s->window, s->window + kHalfWindow, kHalfWindow);
            s->match_pos -= kHalfWindow;  // may wrap when it is stale; a stale value is never used
            s->cur_pos -= kHalfWindow;
            s->window_base += kHalfWindow;
            s->block_begin -= static_cast<int32_t>(kHalfWindow);
            for (uint32_t n = 0; n < kHashSize; ++n) {
                uint32_t v = s->hash_head[n];
                s->hash_head[n] = static_cast<uint16_t>(v >= kHalfWindow ? v - kHalfWindow : 0);
            }
            for (uint32_t n = 0; n < kHalfWindow; ++n) {
                uint32_t v = s->chain_prev[n];
                s->chain_prev[n] = static_cast<uint16_t>(v >= kHalfWindow ? v - kHalfWindow : 0);
            }
            for (int level = 0; level < kKeyLevels && s->use_key_chains; ++level) {
                if (s->key_next[level] <= kHalfWindow) {
                    // Nothing of this chain survives: its links are never read before they are written
                    // again, and its heads are cleared when a search next needs the chain.
                    s->key_head_ready[level] = false;
                    s->key_next[level] = 0;
                    continue;
                }
                for (uint32_t n = 0; n < kKeyHashSize; ++n) {
                    uint32_t v = s->key_head[level][n];
                    s->key_head[level][n] = static_cast<uint16_t>(v >= kHalfWindow ? v - kHalfWindow : 0);
                }
                for (uint32_t n = 0; n < kHalfWindow; ++n) {
                    uint32_t v = s->key_prev[level][n];
                    s->key_prev[level][n] = static_cast<uint16_t>(v >= kHalfWindow ? v - kHalfWindow : 0);
                }
                s->key_next[level] -= kHalfWindow;
            }
            free_bytes += kHalfWindow;
        }
        if (s->input_ended) return;
        if (free_bytes < 2) {
            s->error_message = msg::kMoreLess2;
            return;  // the coder goes on with what it has; the next call slides first
        }
        uint32_t n = s->read_input(s->read_user, s->window + s->cur_pos + s->lookahead_len, free_bytes);
        if (n == 0 || n == kReadEnded) {
            s->input_ended = 1;
        } else if (n > free_bytes) {
            // The callback claims more than it was given room for: trust none of it beyond the room.
            s->error_message = msg::kBadRead;
            s->lookahead_len += free_bytes;
            s->input_ended = 1;
        } else {
            s->lookahead_len += n;
        }
        note_read(s);
    } while (s->lookahead_len < kMinLookahead && !s->input_ended);
}

void init_matcher(DeflateState* s, int level, uint16_t* flags) {
    if (level < 1 || level > 8) {
        s->error_message = msg::kBadLevel;
        // The entry fails; it is still compressed with the nearest real level so that no row is read
        // outside the table and the output stays a valid stream.
        level = level < 1 ? 1 : 8;
    }
    s->level = level;
    s->use_key_chains = level >= 4;
    for (uint32_t n = 0; n < kHashSize; ++n) s->hash_head[n] = 0;
    const LevelConfig& row = kLevels[level];
    s->good_len = row.good_len;
    s->lazy_limit = row.lazy_limit;
    s->nice_len = row.nice_len;
    s->chain_limit = row.chain_limit;
    if (flags != nullptr) {
        if (level <= 2) *flags |= kFlagFast;
        if (level >= 8) *flags |= kFlagMaximum;
    }
    s->block_begin = 0;
    s->cur_pos = 0;

    uint32_t n = s->read_input(s->read_user, s->window, kWindowSize);
    if (n == 0 || n == kReadEnded) {
        s->input_ended = 1;
        s->lookahead_len = 0;
        note_read(s);
        return;
    }
    if (n > kWindowSize) {
        s->error_message = msg::kBadRead;
        n = kWindowSize;
        s->input_ended = 1;
    }
    s->lookahead_len = n;
    note_read(s);
    if (s->lookahead_len < kMinLookahead) refill_window(s);
    s->hash_key = ((static_cast<uint32_t>(s->window[0]) << kHashShift) ^ s->window[1]) & kHashMask;
}

inline uint32_t lowest_set_byte(uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return static_cast<uint32_t>(__builtin_ctzll(x)) >> 3;
#else
    uint32_t n = 0;
    while ((x & 0xFF) == 0) x >>= 8, ++n;
    return n;
#endif
}

// Length of the common run of scan and match, both known to agree on bytes 0 to 2 (and up to `from`):
// the offset of the first difference, or 258. Compared eight bytes at a time (little-endian, so the
// lowest differing byte is the first); the last round reads at most up to offset 265, inside the window
// and its zero padding.
inline uint32_t match_length(const uint8_t* scan, const uint8_t* match, uint32_t from) {
    for (uint32_t i = from; i < kMaxMatch; i += 8) {
        uint64_t x = load64(scan + i) ^ load64(match + i);
        if (x != 0) {
            uint32_t len = i + lowest_set_byte(x);
            return len < kMaxMatch ? len : kMaxMatch;
        }
    }
    return kMaxMatch;
}

static_assert(kKeyLevels == 3 && kKeyBytes[0] == 4 && kKeyBytes[1] == 8 && kKeyBytes[2] == 16,
              "the key functions and the walk below are written for keys of 4, 8 and 16 bytes");

// How far the first key chain may lag behind a search before the search tries a short walk of the
// 3-byte chain first, and how many entries that walk looks at.
constexpr uint32_t kStaleKeyGap = 2048;
constexpr uint32_t kPlainWalkSteps = 16;

// The part of a chain search that follows the K-byte key chains (see find_longest_match).
struct Walk {
    DeflateState* s;
    const uint8_t* window;
    const uint8_t* scan;
    uint32_t cur;
    uint32_t limit;
    uint32_t budget;       // entries of the 3-byte chain the search may look at
    uint32_t nice;
    uint16_t first_rank;   // rank of the first candidate: entry number 0 of the 3-byte chain
    uint64_t scan_lo;      // scan bytes 0 to 7 and 8 to 15
    uint64_t scan_hi;
    uint32_t best;
    uint16_t scan_end;
    uint32_t match_pos;
    uint32_t below;        // entries from here up were looked at already
};

// Walks the chain of level L (key kKeyBytes[L], with best >= kKeyBytes[L] - 1) below w.below. Returns
// true when best has grown enough for the next level's chain, which then goes on below the new match.
template <int L>
bool walk_key_chain(Walk& w, uint32_t scan_key) {
    DeflateState* const s = w.s;
    fill_key_chain<L>(s, w.limit + 1, w.cur);
    const uint16_t* const prev = s->key_prev[L];
    const uint16_t* const rank = s->chain_rank;
    uint32_t e = s->key_head[L][scan_key];
    while (e >= w.below && e > w.limit) e = prev[e & kChainMask];
    const uint32_t limit = w.limit;
    for (; e > limit; e = prev[e & kChainMask]) {
        // Nearly every entry fails the test at best (only entries that agree up to best can beat it),
        // so that test comes first, in a tight run over the chain, and the key is compared only when it
        // passes, or at every 16th entry of such a run.
        const uint8_t* const ends = w.window + w.best - 1;
        const uint16_t scan_end = w.scan_end;
        uint32_t run = 16;
        while (load16(ends + e) != scan_end && --run != 0) {
            e = prev[e & kChainMask];
            if (e <= limit) return false;
        }
        const bool may_beat = run != 0;
        const uint8_t* match = w.window + e;
        bool member;
        if (L == 0) {
            member = load32(match) == static_cast<uint32_t>(w.scan_lo);
        } else if (L == 1) {
            member = load64(match) == w.scan_lo;
        } else {
            member = load64(match) == w.scan_lo && load64(match + 8) == w.scan_hi;
        }
        if (!member) continue;  // a key collision: not in the 3-byte chain at all
        // Which entry of the 3-byte chain this is (the first candidate is number 0): the walk ends at
        // the first one past the budget. Entries that cannot beat best change nothing, so the number is
        // looked up for them only now and then, just to stop walking in time; walking on past the
        // budget over such entries costs time, never a different match.
        const uint32_t index = static_cast<uint16_t>(w.first_rank - rank[e & kChainMask]);
        if (index >= w.budget) return false;
        if (!may_beat) continue;
        uint32_t len = match_length(w.scan, match, kKeyBytes[L]);
        if (len > w.best) {
            w.match_pos = e;
            w.best = len;
            if (len >= w.nice) return false;
            w.scan_end = load16(w.scan + w.best - 1);
            if (L + 1 < kKeyLevels && w.best >= kKeyBytes[L + 1 < kKeyLevels ? L + 1 : L] - 1) {
                w.below = e;
                return true;
            }
        }
    }
    return false;
}

// Longest match for the string at cur_pos along the chain that starts at candidate. Returns at least
// prev_len; match_pos is updated only when a longer match was found (ties keep the nearer one).
uint32_t find_longest_match(DeflateState* s, uint32_t candidate) {
    uint32_t best = s->prev_len;
    const uint32_t cur = s->cur_pos;
    const uint32_t limit = cur > kMaxDist ? cur - kMaxDist : 0;
    uint32_t chains = s->chain_limit;
    if (s->prev_len >= s->good_len) chains >>= 2;
    const uint32_t budget = chains;  // entries of the 3-byte chain the search may look at

    if (cur > kWindowSize - kMinLookahead) {
        s->error_message = msg::kLookahead;
        return best;  // a comparison from here could run past the window
    }
    if (cur + kMaxMatch > kWindowSize - 1) {
        s->error_message = msg::kWildScan;
        return best;
    }
    if (candidate >= cur) {
        s->error_message = msg::kNoFuture;
        return best;
    }
    const uint8_t* const window = s->window;
    const uint16_t* const chain_prev = s->chain_prev;
    const uint8_t* const scan = window + cur;
    const uint32_t nice = static_cast<uint32_t>(s->nice_len);
    // A candidate that beats best agrees on every byte up to best: its first two bytes and the two ending
    // at best are tested first, as one 16-bit load each, held in registers across the chain.
    const uint16_t scan_start = load16(scan);
    uint16_t scan_end = load16(scan + best - 1);
    // Later candidates must lie in (limit, cur): one unsigned comparison covers both ends.
    const uint32_t span = cur - limit - 1;
    uint32_t match_pos = s->match_pos;
    const bool use_keys = s->use_key_chains;
    const uint32_t first = candidate;
    // A key chain no search walked for a while must first take in every position since; on data with
    // few repeats a short walk of the 3-byte chain usually ends the search before that would pay.
    // Asked only where the walk would turn to the key chains, off the path of most candidates.
    bool keys_stale = false;

    // A first candidate exactly kMaxDist back is the only one in reach (every later one lies below it).
    // The key chains hold only positions above the limit, so it is looked at here, on the plain walk.
    if (!use_keys || best < kKeyBytes[0] - 1 || first <= limit) {
        for (;;) {
            const uint8_t* match = window + candidate;
            if (load16(match + best - 1) == scan_end && load16(match) == scan_start) {
                uint32_t len = match_length(scan, match, kMinMatch);
                if (len > best) {
                    match_pos = candidate;
                    best = len;
                    if (len >= nice) {
                        s->match_pos = match_pos;
                        return best;
                    }
                    scan_end = load16(scan + best - 1);
                    if (use_keys && best >= kKeyBytes[0] - 1) break;  // on through the key chains
                }
            }
            candidate = chain_prev[candidate & kChainMask];
            if (candidate - limit - 1 >= span) {
                // Past the limit the chain ends; a candidate not below cur_pos would have been looked at.
                if (candidate > limit && chains > 1) s->error_message = msg::kNoFuture;
                s->match_pos = match_pos;
                return best;
            }
            if (--chains == 0) {
                s->match_pos = match_pos;
                return best;
            }
        }
        // The 3-byte chain was followed down to `candidate` (looked at); go on below it.
        keys_stale = cur - s->key_next[0] > kStaleKeyGap;
        if (keys_stale) {
            candidate = chain_prev[candidate & kChainMask];
            if (candidate - limit - 1 >= span) {
                if (candidate > limit && chains > 1) s->error_message = msg::kNoFuture;
                s->match_pos = match_pos;
                return best;
            }
            if (--chains == 0) {
                s->match_pos = match_pos;
                return best;
            }
        }
    } else {
        keys_stale = cur - s->key_next[0] > kStaleKeyGap;
        if (!keys_stale) candidate = first + 1;  // nothing looked at yet: the first candidate is still to come
    }
    if (keys_stale) {
        // A few more entries of the 3-byte chain, from `candidate` (not looked at yet) on. The key chains
        // hold a part of it, so where it ends in reach or budget, the search ends without them.
        for (uint32_t left = kPlainWalkSteps;; --left) {
            if (left == 0) {
                ++candidate;
                break;
            }
            const uint8_t* match = window + candidate;
            if (load16(match + best - 1) == scan_end && load16(match) == scan_start) {
                uint32_t len = match_length(scan, match, kMinMatch);
                if (len > best) {
                    match_pos = candidate;
                    best = len;
                    if (len >= nice) {
                        s->match_pos = match_pos;
                        return best;
                    }
                    scan_end = load16(scan + best - 1);
                }
            }
            candidate = chain_prev[candidate & kChainMask];
            if (candidate - limit - 1 >= span) {
                if (candidate > limit && chains > 1) s->error_message = msg::kNoFuture;
                s->match_pos = match_pos;
                return best;
            }
            if (--chains == 0) {
                s->match_pos = match_pos;
                return best;
            }
        }
    }

    // Only entries agreeing on the first K bytes (K - 1 <= best) can beat best now. Walk the K-byte chain
    // of the scan string below the last entry looked at; which entry of the 3-byte chain each of them is
    // follows from its rank, so the search ends exactly where the 3-byte walk would. When best grows
    // past the next key size, the walk moves on to that chain, again below the last entry looked at.
    const uint16_t first_rank = s->chain_rank[first & kChainMask];
    const uint64_t scan_lo = load64(scan);
    const uint64_t scan_hi = load64(scan + 8);
    const uint32_t scan_keys[kKeyLevels] = {key4(static_cast<uint32_t>(scan_lo)), key8(scan_lo), key16(scan_lo, scan_hi)};
    uint32_t below = candidate;
    Walk w{s, window, scan, cur, limit, budget, nice, first_rank, scan_lo, scan_hi, best, scan_end, match_pos, below};
    for (;;) {
        bool moved_up;
        if (w.best >= kKeyBytes[2] - 1) {
            moved_up = walk_key_chain<2>(w, scan_keys[2]);
        } else if (w.best >= kKeyBytes[1] - 1) {
            moved_up = walk_key_chain<1>(w, scan_keys[1]);
        } else {
            moved_up = walk_key_chain<0>(w, scan_keys[0]);
        }
        if (!moved_up) break;
    }
    best = w.best;
    match_pos = w.match_pos;
    s->match_pos = match_pos;
    return best;
}

// The common case of data with few repeats, decided without a search: the chain's first candidate
// fails the byte tests every search starts with, and the next entry is out of reach. The search would
// then return prev_len and leave match_pos alone.
inline bool one_candidate_misses(const DeflateState* s, uint32_t candidate) {
    const uint32_t cur = s->cur_pos;
    if (cur > kWindowSize - kMinLookahead) return false;  // the search records why
    const uint8_t* scan = s->window + cur;
    const uint8_t* match = s->window + candidate;
    const uint32_t best = s->prev_len;
    if (load16(match + best - 1) == load16(scan + best - 1) && load16(match) == load16(scan)) return false;
    const uint32_t limit = cur > kMaxDist ? cur - kMaxDist : 0;
    return s->chain_prev[candidate & kChainMask] <= limit;
}

// Ends the current block at cur_pos. Its bytes can be stored only while they are all in the window.
uint32_t end_block(DeflateState* s, int last) {
    const uint8_t* data = s->block_begin >= 0 ? s->window + s->block_begin : nullptr;
    uint32_t size =
        emit_block(s, data, static_cast<uint32_t>(static_cast<int32_t>(s->cur_pos) - s->block_begin), last);
    s->block_begin = static_cast<int32_t>(s->cur_pos);
    return size;
}

inline void lower_nice_len(DeflateState* s) {
    if (static_cast<uint32_t>(s->nice_len) > s->lookahead_len) s->nice_len = static_cast<int32_t>(s->lookahead_len);
}

// What the lazy loop carries from one position to the next, besides the window and the chains.
struct LazyState {
    uint32_t match_len;    // best match found at the previous position (2 = none)
    bool literal_pending;  // the previous position's byte waits for the decision at this one
};

// The block coder as the lazy loop's receiver of literals and matches.
struct TallySink {
    bool match(DeflateState* s, uint32_t dist, uint32_t len_code) { return ct_tally(s, dist, len_code); }
    bool literal(DeflateState* s, uint8_t byte) { return ct_tally(s, 0, byte); }
    void end(DeflateState* s) { end_block(s, 0); }
};

// One position of the lazy loop (levels 4 to 8): a match found at one position is held back until the
// next position has been searched.
template <class Sink>
inline void lazy_step(DeflateState* s, LazyState& st, Sink& sink) {
    const uint32_t candidate = s->lookahead_len >= kMinMatch ? insert_string(s, s->cur_pos) : 0;

    s->prev_len = st.match_len;
    const uint32_t prev_match = s->match_pos;
    st.match_len = kMinMatch - 1;

    if (candidate != 0 && s->prev_len < s->lazy_limit && s->cur_pos - candidate <= kMaxDist) {
        lower_nice_len(s);
        st.match_len = one_candidate_misses(s, candidate) ? s->prev_len : find_longest_match(s, candidate);
        if (st.match_len > s->lookahead_len) st.match_len = s->lookahead_len;
        if (st.match_len == kMinMatch && s->cur_pos - s->match_pos > kTooFar) st.match_len = kMinMatch - 1;
    }

    if (s->prev_len >= kMinMatch && st.match_len <= s->prev_len) {
        // The previous position's match wins; cur_pos is one past its start.
        const uint32_t last_insert = s->cur_pos + s->lookahead_len - kMinMatch;
        const bool full = sink.match(s, s->cur_pos - 1 - prev_match, s->prev_len - kMinMatch);
        s->lookahead_len -= s->prev_len - 1;
        for (uint32_t step = s->prev_len - 1; step != 0; --step) {
            ++s->cur_pos;
            if (step != 1 && s->cur_pos <= last_insert) insert_string(s, s->cur_pos);
        }
        st.literal_pending = false;
        st.match_len = kMinMatch - 1;
        if (full) sink.end(s);
    } else if (st.literal_pending) {
        if (sink.literal(s, s->window[s->cur_pos - 1])) sink.end(s);
        ++s->cur_pos;
        --s->lookahead_len;
    } else {
        st.literal_pending = true;
        ++s->cur_pos;
        --s->lookahead_len;
    }

    if (s->lookahead_len < kMinLookahead) refill_window(s);
}

// ---------------------------------------------------------------------------------------------------
// Two threads for one big entry.
//
// With the lazy levels every position is inserted into the chains, so what a search finds depends on
// the input and the position alone, not on the parse that led there. The parse itself is a state
// machine over (position, previous match, pending literal). A helper thread starts a parse at a cut,
// with chains primed from the 32 KiB before it; the calling thread parses up to the cut and on, until
// it reaches a position the helper reached in the same state. From there the two parses are the same,
// so the calling thread takes the helper's tokens instead of searching, tallies them and ends blocks
// exactly where it would have. Taking costs far less than parsing, so it catches up with the helper;
// there the helper stops, and the calling thread goes on with the helper's state. Each round thus
// lasts as long as both threads have work, whatever either side's bytes cost.
//
// The helper never sees the end of the input (its window stays full and every comparison reads input
// bytes), and both threads read the round's input from one buffer filled before the helper starts:
// the result is the one-thread output of a source that fills every read, as files do.

// The first round is planned only this far into an entry: smaller entries never read ahead and keep
// the reads the source gives. Early enough that an entry of 1 MiB already gains from the helper.
constexpr uint64_t kFirstRoundAt = 64u << 10;

// Bytes beyond the helper's stop position that both threads' windows may read during a round.
constexpr uint32_t kRoundReserve = kWindowSize + 4096;
constexpr uint64_t kNever = ~0ull;

// A token as the helper records it: distance << 8 | (length - 3), or the literal byte with distance 0.
inline uint32_t make_token(uint32_t dist, uint32_t value) { return dist << 8 | value; }

// The state at a loop top, packed for comparison in 26 bits: match length, pending flag and, when
// there is a previous match, its distance.
inline uint32_t pack_state(const DeflateState* s, const LazyState& st) {
    const uint32_t dist = st.match_len >= kMinMatch ? s->cur_pos - s->match_pos : 0;
    return uint32_t(st.literal_pending) << 25 | st.match_len << 16 | dist;
}

// A loop top as the helper records it: the round's stamp, the state, and the tokens written before it.
// The stamp tells this round's records from older ones, so the array is never cleared between rounds
// (it starts zeroed, and no round has stamp 0): clearing it cost as much as the helper's first steps.
constexpr uint32_t kTokenCountBits = 22;
inline uint64_t make_record(uint16_t stamp, uint32_t state, uint32_t tokens) {
    return uint64_t(stamp) << 48 | uint64_t(state) << kTokenCountBits | tokens;
}

struct SplitRound;

// What the helper leaves in the round; written by the helper, read by the calling thread after
// `published` (tokens, records) or `done` (the rest) says so.
struct HelperResult {
    uint64_t stop_pos = 0;        // input offset of the loop top where the helper stopped
    LazyState state{2, false};    // its state there
    uint64_t match_pos = 0;       // input offset of its match_pos there
    const char* error = nullptr;  // a failed check of the helper's search
};

// One round: written by the calling thread before the helper starts, then read-only except for the
// fields the comments name.
struct SplitRound {
    const uint8_t* data = nullptr;  // input from offset `data_pos` on, `data_len` bytes
    uint64_t data_pos = 0;
    size_t data_len = 0;
    uint64_t begin = 0;             // the loop top at which the calling thread planned the round
    uint64_t cut = 0;               // where the helper's parse starts (a multiple of the half window)
    uint64_t stop = 0;              // the helper stops at the first loop top at or past this, at the latest
    uint32_t record_span = 0;       // loop tops in [cut, cut + record_span) are recorded
    uint32_t* tokens = nullptr;     // the helper's tokens, in order
    uint64_t* records = nullptr;    // by position - cut: make_record of that loop top, or an older round's
    uint16_t stamp = 0;             // this round's, never 0

    std::atomic<uint64_t> progress{0};        // helper: loop tops below this are recorded ...
    std::atomic<uint32_t> token_count{0};     // ... and this many tokens are written
    std::atomic<bool> done{false};            // helper: finished, `result` is final
    std::atomic<bool> cancel{false};          // calling thread: stop as soon as you can
    std::mutex mutex;                         // guards the waits on `changed`
    std::condition_variable changed;
    HelperResult result;
    // For the costs that place a last round's cut: when the round was planned, when the calling thread
    // reached the cut (its own), when the helper finished (the helper's, read after `done`), and the
    // calling thread's waits.
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point reached_cut{};
    std::chrono::steady_clock::time_point finished{};
    std::chrono::steady_clock::duration waited{};
    struct {
        int32_t level;
        uint32_t chain_limit, lazy_limit, good_len;
        int32_t nice_len;
        bool use_key_chains;
    } params{};                               // the search settings, copied from the calling thread's state
};

// The helper's receiver of tokens: into the round's buffer, published in batches.
struct RecordSink {
    SplitRound* round;
    uint32_t count;
    bool match(DeflateState*, uint32_t dist, uint32_t len_code) {
        round->tokens[count++] = make_token(dist, len_code);
        return false;
    }
    bool literal(DeflateState*, uint8_t byte) {
        round->tokens[count++] = make_token(0, byte);
        return false;
    }
    void end(DeflateState*) {}
};

struct HelperInput {
    SplitRound* round;
    size_t read_pos;  // offset into round->data of the next byte to deliver
};

uint32_t read_round(void* user, uint8_t* destination, uint32_t max_bytes) {
    auto* in = static_cast<HelperInput*>(user);
    size_t n = in->round->data_len - in->read_pos;
    if (n > max_bytes) n = max_bytes;
    std::memcpy(destination, in->round->data + in->read_pos, n);
    in->read_pos += n;
    return static_cast<uint32_t>(n);
}

void publish(SplitRound& r, uint64_t pos, uint32_t tokens) {
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.progress.store(pos, std::memory_order_release);
        r.token_count.store(tokens, std::memory_order_release);
    }
    r.changed.notify_one();
}

// The helper thread: a window whose upper half starts at the cut, chains primed from its lower half,
// then the lazy loop until the stop position, recording tokens and the states at the loop tops.
void run_helper(SplitRound* round, DeflateState* h) {
    SplitRound& r = *round;
    std::memset(static_cast<void*>(h), 0, sizeof *h);
    HelperInput input{&r, 0};
    h->read_user = &input;
    h->read_input = read_round;
    h->level = r.params.level;
    h->chain_limit = r.params.chain_limit;
    h->lazy_limit = r.params.lazy_limit;
    h->good_len = r.params.good_len;
    h->nice_len = r.params.nice_len;
    h->use_key_chains = r.params.use_key_chains;
    h->window_base = r.cut - kHalfWindow;
    input.read_pos = size_t(h->window_base - r.data_pos);
    read_round(&input, h->window, kWindowSize);
    h->cur_pos = kHalfWindow;
    h->lookahead_len = kHalfWindow;
    h->prev_len = kMinMatch - 1;
    h->hash_key = ((static_cast<uint32_t>(h->window[0]) << kHashShift) ^ h->window[1]) & kHashMask;
    for (uint32_t p = 0; p < kHalfWindow; ++p) insert_string(h, p);

    LazyState st{kMinMatch - 1, false};
    RecordSink sink{&r, 0};
    uint32_t steps = 0;
    for (;;) {
        const uint64_t pos = h->window_base + h->cur_pos;
        if (pos >= r.stop) break;
        if (pos - r.cut < r.record_span) r.records[pos - r.cut] = make_record(r.stamp, pack_state(h, st), sink.count);
        if ((++steps & 4095) == 0) {
            publish(r, pos, sink.count);
            if (r.cancel.load(std::memory_order_relaxed)) break;
        }
        lazy_step(h, st, sink);
    }
    r.finished = std::chrono::steady_clock::now();
    r.result.stop_pos = h->window_base + h->cur_pos;
    r.result.state = st;
    r.result.match_pos = h->window_base + h->match_pos;
    r.result.error = h->error_message;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.progress.store(r.result.stop_pos, std::memory_order_release);
        r.token_count.store(sink.count, std::memory_order_release);
        r.done.store(true, std::memory_order_release);
    }
    r.changed.notify_one();
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The two-thread parse's big arrays, kept from one entry to the next as the state record is: a fresh
// page costs about 10 microseconds at its first touch here (more than parsing it), and these arrays
// have thousands.
struct SplitMemory {
    std::unique_ptr<uint8_t[]> buffer;  // the read-ahead buffer
    size_t capacity = 0;
    std::unique_ptr<DeflateState> helper_state;
    std::unique_ptr<uint32_t[]> tokens;  // the rounds' tokens, token_capacity of them
    size_t token_capacity = 0;
    std::unique_ptr<uint64_t[], FreeDeleter> records;  // zeroed by calloc, whose fresh pages need no clearing
    size_t record_capacity = 0;
    uint16_t stamp = 0;  // of the last round that wrote records: kept with them, so no old record passes for new
};

std::atomic<SplitMemory*> g_spare_split{nullptr};

// The calling thread's side of the two-thread parse: the input buffer its window reads from during
// rounds, and the current round.
struct Splitter {
    SplitPlan plan;
    ReadInputFn source;          // the container's read callback
    void* source_user;
    SplitMemory mem;             // taken from the spare at the first round, given back at the end
    bool mem_taken = false;
    size_t begin = 0, end = 0;   // mem.buffer bytes [begin, end) are the input from pos_begin on
    uint64_t pos_begin = 0;
    bool source_ended = false;
    bool failed = false;          // no memory or no thread: one thread from here on
    bool bad_read = false;        // the source claimed more bytes than it was given room for
    SplitStats stats{};

    uint64_t event_at = kFirstRoundAt;  // the loop top at or past which on_event runs
    // What a byte cost in the last round that was measured, relative to each other: this thread's own
    // parse, its taking of the helper's tokens, the helper's parse. They place the last round's cut.
    struct {
        double own = 1, take = 0.2, helper = 1;
    } costs;
    bool round_active = false;
    std::unique_ptr<SplitRound> round;
    std::thread helper;

    ~Splitter() {
        stop_helper();
        if (!mem_taken) return;
        // Two entries ending at once on two threads: one set of arrays is kept, the other goes.
        SplitMemory* keep = new (std::nothrow) SplitMemory(std::move(mem));
        delete g_spare_split.exchange(keep, std::memory_order_acq_rel);
    }

    void take_memory() {
        if (mem_taken) return;
        mem_taken = true;
        SplitMemory* spare = g_spare_split.exchange(nullptr, std::memory_order_acq_rel);
        if (spare == nullptr) return;
        mem = std::move(*spare);
        delete spare;
    }

    void stop_helper() {
        if (!helper.joinable()) return;
        round->cancel.store(true, std::memory_order_relaxed);
        helper.join();
    }
};

// The window's reads once rounds have begun: from the read-ahead buffer, then straight from the
// source, each read filled as far as the source allows.
uint32_t read_split(void* user, uint8_t* destination, uint32_t max_bytes) {
    auto* sp = static_cast<Splitter*>(user);
    uint32_t n = 0;
    if (sp->begin < sp->end) {
        n = static_cast<uint32_t>(std::min<size_t>(max_bytes, sp->end - sp->begin));
        std::memcpy(destination, sp->mem.buffer.get() + sp->begin, n);
        sp->begin += n;
        sp->pos_begin += n;
        return n;
    }
    while (n < max_bytes && !sp->source_ended) {
        uint32_t got = sp->source(sp->source_user, destination + n, max_bytes - n);
        if (got == 0 || got == 0xFFFFFFFFu || got > max_bytes - n) {
            // A callback that claims more than it had room for is believed up to the room, as in one thread.
            if (got != 0 && got != 0xFFFFFFFFu) n = max_bytes, sp->bad_read = true;
            sp->source_ended = true;
            break;
        }
        n += got;
    }
    sp->pos_begin += n;
    return n;
}

// Reads ahead until the buffer holds `want` bytes or the source has ended. The buffer is made once at
// that size: its pages are touched only as the reads reach them, so a smaller entry pays only for what
// it holds, and nothing is copied into a bigger buffer on the way.
bool fill_buffer(Splitter& sp, size_t want) {
    if (sp.begin != 0) {
        std::memmove(sp.mem.buffer.get(), sp.mem.buffer.get() + sp.begin, sp.end - sp.begin);
        sp.end -= sp.begin;
        sp.begin = 0;
    }
    while (sp.end < want && !sp.source_ended) {
        if (sp.end == sp.mem.capacity) {
            const size_t grown = std::max(want, sp.mem.capacity);
            std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[grown]);
            if (!bigger) return false;
            if (sp.end != 0) std::memcpy(bigger.get(), sp.mem.buffer.get(), sp.end);
            sp.mem.buffer = std::move(bigger);
            sp.mem.capacity = grown;
        }
        const uint32_t room = static_cast<uint32_t>(std::min<size_t>(sp.mem.capacity - sp.end, 1u << 30));
        uint32_t got = sp.source(sp.source_user, sp.mem.buffer.get() + sp.end, room);
        if (got == 0 || got == 0xFFFFFFFFu || got > room) {
            if (got != 0 && got != 0xFFFFFFFFu) sp.end += room, sp.bad_read = true;
            sp.source_ended = true;
            break;
        }
        sp.end += got;
    }
    return true;
}

// This thread's span before the cut of a last round with `left` bytes to the helper's stop, and the
// reserve after it: with per-byte costs a (own parse), b (taking) and h (helper), both threads end
// together when x a + (left - x) b + reserve a = (left - x) h.
uint64_t last_round_span(const Splitter& sp, uint64_t left) {
    const double a = sp.costs.own, b = sp.costs.take, h = sp.costs.helper;
    const double x = (double(left) * (h - b) - double(kRoundReserve) * a) / (a + h - b);
    return x <= 0 ? 0 : x >= double(left) ? left : static_cast<uint64_t>(x);
}

// At a loop top at `pos`: plans the next round and starts its helper, or finds none worth a thread.
void start_round(DeflateState* s, Splitter& sp, uint64_t pos) {
    sp.event_at = kNever;
    const SplitPlan& plan = sp.plan;
    if (s->read_input != read_split) {
        // From the first round on, the window reads through the read-ahead buffer.
        sp.pos_begin = s->window_base + s->cur_pos + s->lookahead_len;
        s->read_input = read_split;
        s->read_user = &sp;
    }
    sp.take_memory();
    const size_t want = size_t(plan.main_span) + plan.helper_span + kRoundReserve + 2 * kHalfWindow;
    if (!fill_buffer(sp, want)) {
        sp.failed = true;
        return;
    }
    // The window has read up to pos_begin; the helper's window begins half a window before the cut,
    // which must lie in the buffer.
    const uint64_t data_end = sp.pos_begin + (sp.end - sp.begin);
    const uint64_t align = kHalfWindow;
    auto align_up = [&](uint64_t at) { return (at + align - 1) / align * align; };
    uint64_t cut = align_up(pos + plan.main_span);
    uint64_t stop = cut + plan.helper_span;
    if (stop + kRoundReserve > data_end) {
        if (!sp.source_ended) return;  // cannot happen: the buffer was filled as far as asked
        // The last round: the helper stops short of the reserve, which this thread parses alone after
        // taking the helper's tokens. The cut is where both would end together at the last costs.
        if (data_end < pos + 2 * kRoundReserve) return;
        stop = data_end - kRoundReserve;
        cut = align_up(pos + last_round_span(sp, stop - pos));
        cut = std::max(cut, align_up(sp.pos_begin + kHalfWindow));
        if (stop < cut) return;
        if (stop - cut > plan.helper_span) stop = cut + plan.helper_span;  // the token array's size
    }
    if (stop - cut < plan.min_helper_span) return;
    if (cut - kHalfWindow < sp.pos_begin) return;  // the cut came too close to the window's reads

    try {
        SplitMemory& m = sp.mem;
        if (!m.helper_state) m.helper_state.reset(new DeflateState);
        const size_t tokens = size_t(plan.helper_span) + 2 * kMaxMatch;
        if (m.token_capacity < tokens) {
            m.tokens.reset();
            m.tokens.reset(new uint32_t[tokens]);
            m.token_capacity = tokens;
        }
        if (m.record_capacity < plan.record_span) {
            m.records.reset();
            m.records.reset(static_cast<uint64_t*>(std::calloc(plan.record_span, sizeof(uint64_t))));
            if (!m.records) throw std::bad_alloc();
            m.record_capacity = plan.record_span;
            m.stamp = 0;
        }
        sp.round.reset(new SplitRound);
    } catch (const std::bad_alloc&) {
        sp.failed = true;
        return;
    }
    SplitRound& r = *sp.round;
    r.data = sp.mem.buffer.get() + sp.begin;
    r.data_pos = sp.pos_begin;
    r.data_len = sp.end - sp.begin;
    r.begin = pos;
    r.cut = cut;
    r.stop = stop;
    r.record_span = plan.record_span;
    r.tokens = sp.mem.tokens.get();
    r.records = sp.mem.records.get();
    if (++sp.mem.stamp == 0) {
        std::memset(r.records, 0, sizeof(uint64_t) * sp.mem.record_capacity);
        sp.mem.stamp = 1;
    }
    r.stamp = sp.mem.stamp;
    r.params = {s->level, s->chain_limit, s->lazy_limit, s->good_len, s->nice_len, s->use_key_chains};
    try {
        sp.helper = std::thread(run_helper, &r, sp.mem.helper_state.get());
    } catch (...) {
        sp.failed = true;
        return;
    }
    sp.round_active = true;
    sp.event_at = cut;
    ++sp.stats.rounds;
}

// Adds the time the calling thread spends in a wait to the round's account.
struct WaitClock {
    SplitRound& r;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~WaitClock() { r.waited += std::chrono::steady_clock::now() - start; }
};

// Waits until the helper has recorded every loop top below `pos` or has finished.
void wait_for_position(SplitRound& r, uint64_t pos) {
    if (r.progress.load(std::memory_order_acquire) > pos || r.done.load(std::memory_order_acquire)) return;
    WaitClock clock{r};
    std::unique_lock<std::mutex> lock(r.mutex);
    r.changed.wait(lock, [&] {
        return r.progress.load(std::memory_order_acquire) > pos || r.done.load(std::memory_order_acquire);
    });
}

// True once the helper has written token `index`. When this thread has taken every token the helper
// published, the helper is at most one report ahead: it is told to stop at that report, and this
// thread takes what it leaves. So a round lasts as long as the helper stays ahead, whatever the data
// costs on either side; false when the helper finished with no token `index`.
bool next_token(SplitRound& r, uint32_t index) {
    if (r.token_count.load(std::memory_order_acquire) > index) return true;
    r.cancel.store(true, std::memory_order_relaxed);
    WaitClock clock{r};
    std::unique_lock<std::mutex> lock(r.mutex);
    r.changed.wait(lock, [&] {
        return r.token_count.load(std::memory_order_acquire) > index || r.done.load(std::memory_order_acquire);
    });
    return r.token_count.load(std::memory_order_acquire) > index;
}

// Moves the calling thread's window on by `count` positions without a search or an insertion.
inline void skip_positions(DeflateState* s, uint32_t count) {
    s->cur_pos += count;
    s->lookahead_len -= count;
}

// The positions passed over while taking the helper's tokens went into no chain. Only those within
// half a window of where this thread goes on can be reached by a later search; they go in now, in
// order, which leaves the chains as inserting each on the way would have.
void insert_taken_positions(DeflateState* s, uint64_t taken_from) {
    const uint64_t end = s->window_base + s->cur_pos;
    const uint64_t from = std::max({taken_from, end > kHalfWindow ? end - kHalfWindow : 0, s->window_base});
    if (from >= end) return;
    uint32_t p = static_cast<uint32_t>(from - s->window_base);
    s->hash_key = ((static_cast<uint32_t>(s->window[p]) << kHashShift) ^ s->window[p + 1]) & kHashMask;
    for (; p < s->cur_pos; ++p) insert_string(s, p);
}

// From a loop top where both parses agree: takes the helper's tokens from `first` on, with the same
// tallies, block ends and window refills the one-thread loop makes, up to where the helper stopped.
void take_helper_tokens(DeflateState* s, LazyState& st, Splitter& sp, uint32_t first) {
    SplitRound& r = *sp.round;
    TallySink sink;
    const uint64_t taken_from = s->window_base + s->cur_pos;
    // With a pending literal the first token is the previous position's, whose head is done already.
    bool head_done = st.literal_pending;
    for (uint32_t i = first; next_token(r, i); ++i) {
        const uint32_t token = r.tokens[i];
        const uint32_t dist = token >> 8;
        if (!head_done) {
            skip_positions(s, 1);
            if (s->lookahead_len < kMinLookahead) refill_window(s);
        }
        head_done = false;
        if (dist == 0) {
            if (sink.literal(s, static_cast<uint8_t>(token))) sink.end(s);
            continue;
        }
        const uint32_t len = (token & 0xFF) + kMinMatch;
        const bool full = sink.match(s, dist, len - kMinMatch);
        // Positions one past the start to the end of the match: the first is the loop top that decided
        // for the match, the rest lie inside the match step.
        skip_positions(s, len - 1);
        if (full) sink.end(s);
        if (s->lookahead_len < kMinLookahead) refill_window(s);
    }
    // The helper's stop may lie one position past its last token: the pending one.
    while (s->window_base + s->cur_pos < r.result.stop_pos) {
        skip_positions(s, 1);
        if (s->lookahead_len < kMinLookahead) refill_window(s);
    }
    insert_taken_positions(s, taken_from);
    st = r.result.state;
    s->match_pos = static_cast<uint32_t>(r.result.match_pos - s->window_base);
    if (r.result.error != nullptr) s->error_message = r.result.error;
}

void end_round(Splitter& sp, uint64_t next_event) {
    sp.stop_helper();
    sp.round_active = false;
    sp.event_at = sp.failed ? kNever : next_event;
}

// After a round whose tokens were taken up to the helper's stop at `met` on: what a byte cost each side.
// The helper's time includes its start; this thread's taking leaves its waits out.
void measure_costs(Splitter& sp, const SplitRound& r, uint64_t met) {
    using Seconds = std::chrono::duration<double>;
    const double own_bytes = double(r.cut - r.begin);
    const double helper_bytes = double(r.result.stop_pos - r.cut);
    const double taken_bytes = double(r.result.stop_pos - met);
    const double own = Seconds(r.reached_cut - r.started).count();
    const double helper = Seconds(r.finished - r.started).count();
    const double take = Seconds(std::chrono::steady_clock::now() - r.reached_cut - r.waited).count();
    if (own <= 0 || helper <= 0 || take <= 0 || own_bytes <= 0 || helper_bytes <= 0 || taken_bytes <= 0) return;
    sp.costs.own = own / own_bytes;
    sp.costs.helper = helper / helper_bytes;
    sp.costs.take = take / taken_bytes;
}

// Runs at a loop top at or past sp.event_at: starts a round, or compares the parses after the cut.
void on_event(DeflateState* s, LazyState& st, Splitter& sp) {
    const uint64_t pos = s->window_base + s->cur_pos;
    if (!sp.round_active) {
        start_round(s, sp, pos);
        return;
    }
    SplitRound& r = *sp.round;
    if (r.reached_cut == std::chrono::steady_clock::time_point{}) r.reached_cut = std::chrono::steady_clock::now();
    wait_for_position(r, pos);
    const bool helper_done = r.done.load(std::memory_order_acquire);
    if (pos - r.cut >= r.record_span || (helper_done && pos >= r.result.stop_pos)) {
        // No meeting point: this thread has parsed on by itself; the next round starts here.
        end_round(sp, pos);
        return;
    }
    const uint64_t record = r.records[pos - r.cut];
    if ((record >> kTokenCountBits) != (uint64_t(r.stamp) << (48 - kTokenCountBits) | pack_state(s, st))) {
        sp.event_at = pos + 1;
        return;
    }
    ++sp.stats.rounds_met;
    sp.stats.bytes_to_meet += pos - r.cut;
    take_helper_tokens(s, st, sp, static_cast<uint32_t>(record & ((1u << kTokenCountBits) - 1)));
    measure_costs(sp, r, pos);
    sp.stats.bytes_taken += s->window_base + s->cur_pos - pos;
    end_round(sp, s->window_base + s->cur_pos);
}

uint32_t deflate_lazy(DeflateState* s, Splitter* sp) {
    LazyState st{kMinMatch - 1, false};
    TallySink sink;
    while (s->lookahead_len != 0) {
        if (sp != nullptr && s->window_base + s->cur_pos >= sp->event_at) {
            on_event(s, st, *sp);
            if (s->lookahead_len == 0) break;
        }
        lazy_step(s, st, sink);
    }
    if (sp != nullptr) sp->stop_helper();
    if (st.literal_pending) ct_tally(s, 0, s->window[s->cur_pos - 1]);
    return end_block(s, 1);
}

// Levels 1 to 3: every match is taken as soon as it is found.
uint32_t deflate_greedy(DeflateState* s) {
    s->prev_len = kMinMatch - 1;
    uint32_t candidate = 0;
    uint32_t match_len = 0;

    while (s->lookahead_len != 0) {
        candidate = s->lookahead_len >= kMinMatch ? insert_string(s, s->cur_pos) : 0;

        if (candidate != 0 && s->cur_pos - candidate <= kMaxDist) {
            lower_nice_len(s);
            match_len = find_longest_match(s, candidate);
            if (match_len > s->lookahead_len) match_len = s->lookahead_len;
        }

        bool full;
        if (match_len >= kMinMatch) {
            full = ct_tally(s, s->cur_pos - s->match_pos, match_len - kMinMatch);
            s->lookahead_len -= match_len;
            if (match_len <= s->lazy_limit && s->lookahead_len >= kMinMatch) {
                for (uint32_t step = match_len - 1; step != 0; --step) insert_string(s, ++s->cur_pos);
                ++s->cur_pos;
            } else {
                // Long matches skip the insertion of their inner strings; the hash restarts behind them.
                s->cur_pos += match_len;
                s->hash_key =
                    ((static_cast<uint32_t>(s->window[s->cur_pos]) << kHashShift) ^ s->window[s->cur_pos + 1]) &
                    kHashMask;
            }
            match_len = 0;
        } else {
            full = ct_tally(s, 0, s->window[s->cur_pos]);
            --s->lookahead_len;
            ++s->cur_pos;
        }
        if (full) end_block(s, 0);

        if (s->lookahead_len < kMinLookahead) refill_window(s);
    }
    return end_block(s, 1);
}

uint32_t deflate_entry(DeflateState* s, Splitter* sp) {
    return s->level <= 3 ? deflate_greedy(s) : deflate_lazy(s, sp);
}

}  // namespace
}  // namespace velk::deflate

namespace velk::deflate {
namespace {

// Zero-fills the state except the big arrays that are always written before they are read, or cleared
// where they are first needed (hash_head by init_matcher, the key heads by fill_key_chain, the window's
// unwritten tail by note_read). A small entry then costs a few KiB of clearing instead of the whole record.
void clear_state(DeflateState* s) {
    struct Span {
        size_t begin, size;
    };
    const Span kept[] = {
        {offsetof(DeflateState, sym_lit), sizeof s->sym_lit},
        {offsetof(DeflateState, sym_dist), sizeof s->sym_dist},
        {offsetof(DeflateState, sym_flags), sizeof s->sym_flags},
        {offsetof(DeflateState, window), kWindowSize},
        {offsetof(DeflateState, chain_prev), sizeof s->chain_prev},
        {offsetof(DeflateState, hash_head), sizeof s->hash_head},
        {offsetof(DeflateState, hash_count), sizeof s->hash_count},
        {offsetof(DeflateState, chain_rank), sizeof s->chain_rank},
        {offsetof(DeflateState, key_prev), sizeof s->key_prev},
        {offsetof(DeflateState, key_head), sizeof s->key_head},
    };
    auto* bytes = reinterpret_cast<uint8_t*>(s);
    size_t at = 0;
    for (const Span& k : kept) {
        // In the sanitizer builds the kept arrays hold a pattern instead, so that a read before the
        // first write changes the output and the tests against the reference see it.
#if defined(__SANITIZE_ADDRESS__)
        std::memset(bytes + k.begin, 0xA5, k.size);
#endif
        std::memset(bytes + at, 0, k.begin - at);
        at = k.begin + k.size;
    }
    std::memset(bytes + at, 0, sizeof *s - at);
}

// One state record kept from the last entry for the next. A fresh block of this size comes from the
// system as untouched pages, and under Wine each first touch of a page costs about as much as reading
// a small file: with thousands of small entries that was most of an entry's time.
std::atomic<DeflateState*> g_spare_state{nullptr};

struct StateDeleter {
    void operator()(DeflateState* s) const {
        DeflateState* old = g_spare_state.exchange(s, std::memory_order_acq_rel);
        delete old;  // two entries at once on two threads: one record is kept, the other goes
    }
};

std::unique_ptr<DeflateState, StateDeleter> take_state() {
    DeflateState* s = g_spare_state.exchange(nullptr, std::memory_order_acq_rel);
    if (s == nullptr) s = new (std::nothrow) DeflateState;
    return std::unique_ptr<DeflateState, StateDeleter>(s);
}

}  // namespace

CompressResult compress_entry_planned(void* user, ReadInputFn read_input, FlushOutputFn flush_output, uint8_t* out_buf,
                                      uint32_t out_capacity, int level, uint16_t* flags, const SplitPlan& plan,
                                      SplitStats* stats) {
    if (read_input == nullptr || flush_output == nullptr || out_buf == nullptr || out_capacity < 2) {
        return {0, msg::kBadArguments};
    }
    // Several hundred KiB: far too much for the caller's stack, so each entry gets its own block.
    static_assert(std::is_trivial<DeflateState>::value && std::is_standard_layout<DeflateState>::value,
                  "clear_state fills the record byte by byte");
    auto state = take_state();
    if (!state) return {0, msg::kNoMemory};
    DeflateState* s = state.get();
    clear_state(s);
    s->user = user;
    s->level = level;
    s->read_input = read_input;
    s->read_user = user;
    s->flush_output = flush_output;
    s->out_buf = out_buf;
    s->out_capacity = out_capacity;
    s->out_used = 0;

    ct_init(s);
    init_matcher(s, level, flags);
    // A second thread only for the lazy levels (the greedy ones skip inserting inside long matches, so
    // their chains depend on the parse) and only for input the first reads did not exhaust.
    std::unique_ptr<Splitter> splitter;
    if (s->level >= 4 && !s->input_ended && plan.helper_span >= plan.min_helper_span && plan.min_helper_span > 0 &&
        plan.main_span >= 4 * kHalfWindow && plan.record_span > 0 &&
        plan.helper_span + 2 * kMaxMatch < (1u << kTokenCountBits)) {
        splitter.reset(new (std::nothrow) Splitter);
        if (splitter) {
            splitter->plan = plan;
            splitter->source = read_input;
            splitter->source_user = user;
        }
    }
    uint32_t size = deflate_entry(s, splitter.get());
    if (splitter && splitter->bad_read) s->error_message = msg::kBadRead;
    if (stats != nullptr) *stats = splitter ? splitter->stats : SplitStats{};
    return {size, s->error_message};
}

CompressResult compress_entry(void* user, ReadInputFn read_input, FlushOutputFn flush_output, uint8_t* out_buf,
                              uint32_t out_capacity, int level, uint16_t* flags) {
    // On one core the helper would only take turns with this thread, and the rounds cost more than
    // they save.
    static const bool two_cores = std::thread::hardware_concurrency() >= 2;
    return compress_entry_planned(user, read_input, flush_output, out_buf, out_capacity, level, flags,
                                  two_cores ? kDefaultSplit : kNoSplit, nullptr);
}

}  // namespace velk::deflate
