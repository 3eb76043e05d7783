// Match finder of the deflate compressor and its entry point compress_entry: reads the entry into a
// 64 KiB sliding window, finds repeated strings through hash chains and hands literals and matches to
// the block coder (block_coder.cpp). Called by the zip container, one call per deflated entry. A big
// entry's parse is shared with a second thread by split_parse.cpp.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <type_traits>

#include "zip/deflate/deflate_state.h"
#include "zip/deflate/lazy_step.h"
#include "zip/deflate/split_parse.h"

namespace velk::deflate {
namespace {

constexpr LevelConfig kLevels[9] = {
    {0, 0, 0, 0},  // no level 0: init_matcher never reads this row
    {4, 4, 8, 4},       {4, 5, 16, 8},      {4, 6, 32, 32},      {4, 4, 16, 16},
    {8, 16, 32, 32},    {8, 16, 128, 128},  {8, 32, 128, 256},   {32, 128, 258, 1024},
};

constexpr uint32_t kReadEnded = 0xFFFFFFFFu;

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

}  // namespace

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

namespace {

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
    restart_hash(s, 0);
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

}  // namespace

// The plain walk of the 3-byte chain, as find_longest_match takes it before and instead of the key
// chains: the bar to beat, the best match so far and the entries the budget has left.
struct PlainWalk {
    DeflateState* s;
    const uint8_t* window;
    const uint8_t* scan;
    uint16_t scan_start;  // scan bytes 0 and 1
    uint16_t scan_end;    // scan bytes best - 1 and best
    uint32_t nice;
    uint32_t limit;       // candidates must lie in (limit, cur): one unsigned comparison with span
    uint32_t span;
    uint32_t chains;      // entries left in the budget
    uint32_t best;
    uint32_t match_pos;

    // Looks at one candidate; true when its match reached nice, which ends the search.
    bool look(uint32_t candidate) {
        const uint8_t* match = window + candidate;
        if (load16(match + best - 1) != scan_end || load16(match) != scan_start) return false;
        const uint32_t len = match_length(scan, match, kMinMatch);
        if (len <= best) return false;
        match_pos = candidate;
        best = len;
        if (len >= nice) return true;
        scan_end = load16(scan + best - 1);
        return false;
    }

    // Moves to the chain's next entry; false when the chain ends there, out of reach or of budget.
    bool next(uint32_t& candidate) {
        candidate = s->chain_prev[candidate & kChainMask];
        if (candidate - limit - 1 >= span) {
            // Past the limit the chain ends; a candidate not below cur_pos would have been looked at.
            if (candidate > limit && chains > 1) s->error_message = msg::kNoFuture;
            return false;
        }
        return --chains != 0;
    }

    uint32_t finish() {
        s->match_pos = match_pos;
        return best;
    }
};

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
    const uint8_t* const scan = window + cur;
    // A candidate that beats best agrees on every byte up to best: its first two bytes and the two ending
    // at best are tested first, as one 16-bit load each, held in registers across the chain.
    PlainWalk p{s, window, scan, load16(scan), load16(scan + best - 1), static_cast<uint32_t>(s->nice_len),
                limit, cur - limit - 1, chains, best, s->match_pos};
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
            const uint32_t before = p.best;
            if (p.look(candidate)) return p.finish();
            if (use_keys && p.best != before && p.best >= kKeyBytes[0] - 1) break;  // on through the key chains
            if (!p.next(candidate)) return p.finish();
        }
        // The 3-byte chain was followed down to `candidate` (looked at); go on below it.
        keys_stale = cur - s->key_next[0] > kStaleKeyGap;
        if (keys_stale && !p.next(candidate)) return p.finish();
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
            if (p.look(candidate) || !p.next(candidate)) return p.finish();
        }
    }
    best = p.best;
    const uint16_t scan_end = p.scan_end;
    uint32_t match_pos = p.match_pos;

    // Only entries agreeing on the first K bytes (K - 1 <= best) can beat best now. Walk the K-byte chain
    // of the scan string below the last entry looked at; which entry of the 3-byte chain each of them is
    // follows from its rank, so the search ends exactly where the 3-byte walk would. When best grows
    // past the next key size, the walk moves on to that chain, again below the last entry looked at.
    const uint16_t first_rank = s->chain_rank[first & kChainMask];
    const uint64_t scan_lo = load64(scan);
    const uint64_t scan_hi = load64(scan + 8);
    const uint32_t scan_keys[kKeyLevels] = {key4(static_cast<uint32_t>(scan_lo)), key8(scan_lo), key16(scan_lo, scan_hi)};
    uint32_t below = candidate;
    Walk w{s, window, scan, cur, limit, budget, p.nice, first_rank, scan_lo, scan_hi, best, scan_end, match_pos, below};
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

// Ends the current block at cur_pos. Its bytes can be stored only while they are all in the window.
uint32_t end_block(DeflateState* s, int last) {
    const uint8_t* data = s->block_begin >= 0 ? s->window + s->block_begin : nullptr;
    uint32_t size =
        emit_block(s, data, static_cast<uint32_t>(static_cast<int32_t>(s->cur_pos) - s->block_begin), last);
    s->block_begin = static_cast<int32_t>(s->cur_pos);
    return size;
}

namespace {

// Levels 4 to 8, with the two-thread rounds of a big entry when there is a splitter.
uint32_t deflate_lazy(DeflateState* s, Splitter* sp) {
    LazyState st{kMinMatch - 1, false};
    TallySink sink;
    if (sp == nullptr) {
        while (s->lookahead_len != 0) lazy_step(s, st, sink);
    } else {
        uint64_t event_at = first_split_event(*sp);
        while (s->lookahead_len != 0) {
            if (s->window_base + s->cur_pos >= event_at) {
                event_at = on_split_event(s, st, *sp);
                if (s->lookahead_len == 0) break;
            }
            lazy_step(s, st, sink);
        }
        stop_split(*sp);
    }
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
                restart_hash(s, s->cur_pos);
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
    SplitterPtr splitter;
    if (s->level >= 4 && !s->input_ended) splitter = make_splitter(plan, read_input, user);
    uint32_t size = deflate_entry(s, splitter.get());
    if (splitter && split_bad_read(*splitter)) s->error_message = msg::kBadRead;
    if (stats != nullptr) *stats = splitter ? split_stats(*splitter) : SplitStats{};
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
