// The lazy parse's step from one position to the next and what it is made of: shared by the
// one-thread loop (match_finder.cpp) and the two threads of a big entry (split_parse.cpp). Private to
// the compressor.
#pragma once

#include <cstdint>
#include <cstring>

#include "zip/deflate/deflate_state.h"

namespace velk::deflate {

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

// Starts the running hash afresh at window position p, from p's first two bytes, as it stands just
// before insert_string(s, p) takes in the third.
inline void restart_hash(DeflateState* s, uint32_t p) { s->hash_key = update_hash(s->window[p], s->window[p + 1]); }

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

// Slides the window when due and reads on until the lookahead is full or the input has ended.
void refill_window(DeflateState* s);
// Longest match for the string at cur_pos along the chain from candidate, at least prev_len.
uint32_t find_longest_match(DeflateState* s, uint32_t candidate);
// Ends the current block at cur_pos; `last` marks the entry's final block.
uint32_t end_block(DeflateState* s, int last);

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
// Inlined into each loop that runs it, whatever the compiler's size limits say: a call per position
// costs more than the step's own bookkeeping.
#if defined(__GNUC__) || defined(__clang__)
#define VELK_STEP_INLINE inline __attribute__((always_inline))
#else
#define VELK_STEP_INLINE inline
#endif

template <class Sink>
VELK_STEP_INLINE void lazy_step(DeflateState* s, LazyState& st, Sink& sink) {
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

}  // namespace velk::deflate
