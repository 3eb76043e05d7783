// The plain match finder the fast one is held to: one 3-byte hash chain, walked entry by entry within
// its budget and reach; lazy and greedy loops, window refill and slide as the compressor documents them.
// Only the block coder is shared with the product; everything that chooses matches is written anew here.
#include "tests/zip/deflate/reference_match_finder.h"

#include <cstring>
#include <memory>
#include <vector>

#include "zip/deflate/deflate_state.h"

namespace {

using namespace velk::deflate;

struct Row {
    uint32_t good, lazy, nice, chain;
};
constexpr Row kRows[9] = {{0, 0, 0, 0},      {4, 4, 8, 4},       {4, 5, 16, 8},      {4, 6, 32, 32},  {4, 4, 16, 16},
                          {8, 16, 32, 32},   {8, 16, 128, 128},  {8, 32, 128, 256},  {32, 128, 258, 1024}};

constexpr uint32_t kEnded = 0xFFFFFFFFu;

// The match finder's own fields; the rest of DeflateState (window, positions, block coder) is shared.
struct Plain {
    DeflateState* s;
    std::vector<uint32_t> head = std::vector<uint32_t>(kHashSize);
    std::vector<uint32_t> prev = std::vector<uint32_t>(kHalfWindow);
    uint32_t key = 0;
    uint32_t prev_len = 0;
    uint32_t match_pos = 0;
    bool ended = false;
    uint32_t good = 0, lazy = 0, chain = 0;
    uint32_t nice = 0;
};

void refill(Plain& m) {
    DeflateState* s = m.s;
    do {
        uint32_t free_bytes = kWindowSize - s->lookahead_len - s->cur_pos;
        if (s->cur_pos >= kHalfWindow + kMaxDist) {
            std::memcpy(s->window, s->window + kHalfWindow, kHalfWindow);
            m.match_pos -= kHalfWindow;
            s->cur_pos -= kHalfWindow;
            s->block_begin -= static_cast<int32_t>(kHalfWindow);
            for (uint32_t& v : m.head) v = v >= kHalfWindow ? v - kHalfWindow : 0;
            for (uint32_t& v : m.prev) v = v >= kHalfWindow ? v - kHalfWindow : 0;
            free_bytes += kHalfWindow;
        }
        if (m.ended) return;
        if (free_bytes < 2) {
            s->error_message = msg::kMoreLess2;
            return;
        }
        uint32_t n = s->read_input(s->user, s->window + s->cur_pos + s->lookahead_len, free_bytes);
        if (n == 0 || n == kEnded) {
            m.ended = true;
        } else if (n > free_bytes) {
            s->error_message = msg::kBadRead;
            s->lookahead_len += free_bytes;
            m.ended = true;
        } else {
            s->lookahead_len += n;
        }
    } while (s->lookahead_len < kMinLookahead && !m.ended);
}

void init(Plain& m, int level, uint16_t* flags) {
    DeflateState* s = m.s;
    if (level < 1 || level > 8) {
        s->error_message = msg::kBadLevel;
        level = level < 1 ? 1 : 8;
    }
    s->level = level;
    m.good = kRows[level].good;
    m.lazy = kRows[level].lazy;
    m.nice = kRows[level].nice;
    m.chain = kRows[level].chain;
    if (flags != nullptr) {
        if (level <= 2) *flags |= kFlagFast;
        if (level >= 8) *flags |= kFlagMaximum;
    }
    s->block_begin = 0;
    s->cur_pos = 0;
    uint32_t n = s->read_input(s->user, s->window, kWindowSize);
    if (n == 0 || n == kEnded) {
        m.ended = true;
        s->lookahead_len = 0;
        return;
    }
    if (n > kWindowSize) {
        s->error_message = msg::kBadRead;
        n = kWindowSize;
        m.ended = true;
    }
    s->lookahead_len = n;
    if (s->lookahead_len < kMinLookahead) refill(m);
    m.key = ((uint32_t{s->window[0]} << kHashShift) ^ s->window[1]) & kHashMask;
}

uint32_t insert(Plain& m, uint32_t p) {
    m.key = ((m.key << kHashShift) ^ m.s->window[p + 2]) & kHashMask;
    uint32_t candidate = m.head[m.key];
    m.prev[p & kChainMask] = candidate;
    m.head[m.key] = p;
    return candidate;
}

uint32_t longest_match(Plain& m, uint32_t candidate) {
    DeflateState* s = m.s;
    const uint32_t cur = s->cur_pos;
    uint32_t best = m.prev_len;
    const uint32_t limit = cur > kMaxDist ? cur - kMaxDist : 0;
    uint32_t chains = m.prev_len >= m.good ? m.chain / 4 : m.chain;
    if (cur > kWindowSize - kMinLookahead) {
        s->error_message = msg::kLookahead;
        return best;
    }
    const uint8_t* scan = s->window + cur;
    do {
        if (candidate >= cur) {
            s->error_message = msg::kNoFuture;
            break;
        }
        const uint8_t* match = s->window + candidate;
        if (match[best] != scan[best] || match[best - 1] != scan[best - 1] || match[0] != scan[0] ||
            match[1] != scan[1])
            continue;
        uint32_t len = 3;
        while (len < kMaxMatch && match[len] == scan[len]) ++len;
        if (len > best) {
            m.match_pos = candidate;
            best = len;
            if (len >= m.nice) break;
        }
    } while ((candidate = m.prev[candidate & kChainMask]) > limit && --chains != 0);
    return best;
}

uint32_t end_block(Plain& m, int last) {
    DeflateState* s = m.s;
    const uint8_t* data = s->block_begin >= 0 ? s->window + s->block_begin : nullptr;
    uint32_t size = emit_block(s, data, s->cur_pos - static_cast<uint32_t>(s->block_begin), last);
    s->block_begin = static_cast<int32_t>(s->cur_pos);
    return size;
}

void lower_nice(Plain& m) {
    if (m.nice > m.s->lookahead_len) m.nice = m.s->lookahead_len;
}

uint32_t lazy(Plain& m) {
    DeflateState* s = m.s;
    uint32_t candidate = 0, match_len = 2;
    bool pending = false;
    while (s->lookahead_len != 0) {
        candidate = s->lookahead_len >= 3 ? insert(m, s->cur_pos) : 0;
        m.prev_len = match_len;
        const uint32_t prev_match = m.match_pos;
        match_len = 2;
        if (candidate != 0 && m.prev_len < m.lazy && s->cur_pos - candidate <= kMaxDist) {
            lower_nice(m);
            match_len = longest_match(m, candidate);
            if (match_len > s->lookahead_len) match_len = s->lookahead_len;
            if (match_len == 3 && s->cur_pos - m.match_pos > kTooFar) match_len = 2;
        }
        if (m.prev_len >= 3 && match_len <= m.prev_len) {
            const uint32_t last_insert = s->cur_pos + s->lookahead_len - 3;
            const bool full = ct_tally(s, s->cur_pos - 1 - prev_match, m.prev_len - 3);
            s->lookahead_len -= m.prev_len - 1;
            for (uint32_t step = 0; step < m.prev_len - 1; ++step) {
                ++s->cur_pos;
                if (step < m.prev_len - 2 && s->cur_pos <= last_insert) insert(m, s->cur_pos);
            }
            pending = false;
            match_len = 2;
            if (full) end_block(m, 0);
        } else if (pending) {
            if (ct_tally(s, 0, s->window[s->cur_pos - 1])) end_block(m, 0);
            ++s->cur_pos;
            --s->lookahead_len;
        } else {
            pending = true;
            ++s->cur_pos;
            --s->lookahead_len;
        }
        if (s->lookahead_len < kMinLookahead) refill(m);
    }
    if (pending) ct_tally(s, 0, s->window[s->cur_pos - 1]);
    return end_block(m, 1);
}

uint32_t greedy(Plain& m) {
    DeflateState* s = m.s;
    m.prev_len = 2;
    uint32_t candidate = 0, match_len = 0;
    while (s->lookahead_len != 0) {
        candidate = s->lookahead_len >= 3 ? insert(m, s->cur_pos) : 0;
        if (candidate != 0 && s->cur_pos - candidate <= kMaxDist) {
            lower_nice(m);
            match_len = longest_match(m, candidate);
            if (match_len > s->lookahead_len) match_len = s->lookahead_len;
        }
        bool full;
        if (match_len >= 3) {
            full = ct_tally(s, s->cur_pos - m.match_pos, match_len - 3);
            s->lookahead_len -= match_len;
            if (match_len <= m.lazy && s->lookahead_len >= 3) {
                for (uint32_t i = 1; i < match_len; ++i) insert(m, s->cur_pos + i);
                s->cur_pos += match_len;
            } else {
                s->cur_pos += match_len;
                m.key = ((uint32_t{s->window[s->cur_pos]} << kHashShift) ^ s->window[s->cur_pos + 1]) & kHashMask;
            }
            match_len = 0;
        } else {
            full = ct_tally(s, 0, s->window[s->cur_pos]);
            --s->lookahead_len;
            ++s->cur_pos;
        }
        if (full) end_block(m, 0);
        if (s->lookahead_len < kMinLookahead) refill(m);
    }
    return end_block(m, 1);
}

}  // namespace

namespace velk::test {

using namespace velk::deflate;

CompressResult reference_compress_entry(void* user, ReadInputFn read_input, FlushOutputFn flush_output,
                                        uint8_t* out_buf, uint32_t out_capacity, int level, uint16_t* flags) {
    if (read_input == nullptr || flush_output == nullptr || out_buf == nullptr || out_capacity < 2) {
        return {0, msg::kBadArguments};
    }
    std::unique_ptr<DeflateState> state(new DeflateState());
    DeflateState* s = state.get();
    s->user = user;
    s->level = level;
    s->read_input = read_input;
    s->flush_output = flush_output;
    s->out_buf = out_buf;
    s->out_capacity = out_capacity;
    ct_init(s);
    Plain m;
    m.s = s;
    init(m, level, flags);
    uint32_t size = s->level <= 3 ? greedy(m) : lazy(m);
    return {size, s->error_message};
}

}  // namespace velk::test
