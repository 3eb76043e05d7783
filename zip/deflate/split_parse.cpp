// Two threads for one big entry: a helper thread parses ahead from a cut while the calling thread
// parses up to it, and the calling thread takes the helper's tokens where the two parses meet. Driven
// by the lazy loop of match_finder.cpp through split_parse.h.
#include "zip/deflate/split_parse.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace velk::deflate {
namespace {

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
constexpr uint64_t kTokenCountMask = (uint64_t(1) << kTokenCountBits) - 1;
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

// The helper's report: loop tops below pos recorded, `tokens` written, and with `done` its result final.
void publish(SplitRound& r, uint64_t pos, uint32_t tokens, bool done = false) {
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.progress.store(pos, std::memory_order_release);
        r.token_count.store(tokens, std::memory_order_release);
        if (done) r.done.store(true, std::memory_order_release);
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
    restart_hash(h, 0);
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
    publish(r, r.result.stop_pos, sink.count, true);
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

}  // namespace

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

namespace {

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
    restart_hash(s, p);
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
    if ((record & ~kTokenCountMask) != make_record(r.stamp, pack_state(s, st), 0)) {
        sp.event_at = pos + 1;
        return;
    }
    ++sp.stats.rounds_met;
    sp.stats.bytes_to_meet += pos - r.cut;
    take_helper_tokens(s, st, sp, static_cast<uint32_t>(record & kTokenCountMask));
    measure_costs(sp, r, pos);
    sp.stats.bytes_taken += s->window_base + s->cur_pos - pos;
    end_round(sp, s->window_base + s->cur_pos);
}

}  // namespace

void SplitterDeleter::operator()(Splitter* sp) const { delete sp; }

SplitterPtr make_splitter(const SplitPlan& plan, ReadInputFn read_input, void* user) {
    if (plan.helper_span < plan.min_helper_span || plan.min_helper_span == 0 || plan.main_span < 4 * kHalfWindow ||
        plan.record_span == 0 || plan.helper_span + 2 * kMaxMatch >= (1u << kTokenCountBits)) {
        return nullptr;
    }
    SplitterPtr sp(new (std::nothrow) Splitter);
    if (sp) {
        sp->plan = plan;
        sp->source = read_input;
        sp->source_user = user;
    }
    return sp;
}

uint64_t first_split_event(const Splitter& sp) { return sp.event_at; }

uint64_t on_split_event(DeflateState* s, LazyState& st, Splitter& sp) {
    on_event(s, st, sp);
    return sp.event_at;
}

void stop_split(Splitter& sp) { sp.stop_helper(); }

SplitStats split_stats(const Splitter& sp) { return sp.stats; }

bool split_bad_read(const Splitter& sp) { return sp.bad_read; }

}  // namespace velk::deflate
