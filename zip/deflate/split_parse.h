// The two-thread parse of one big entry (split_parse.cpp), as the lazy loop of match_finder.cpp
// drives it: at the loop tops it is told about, it starts a helper thread on a round, compares the
// two parses after the cut, and takes the helper's tokens where they meet.
#pragma once

#include <cstdint>
#include <memory>

#include "zip/deflate/deflate_state.h"
#include "zip/deflate/lazy_step.h"

namespace velk::deflate {

struct Splitter;
struct SplitterDeleter {
    void operator()(Splitter* sp) const;
};
using SplitterPtr = std::unique_ptr<Splitter, SplitterDeleter>;

// A splitter for one entry whose input comes from read_input(user), the same callback the state reads
// through; null when the plan has no usable spans or there is no memory.
SplitterPtr make_splitter(const SplitPlan& plan, ReadInputFn read_input, void* user);

// The input offset of the first loop top at which the lazy loop calls on_split_event.
uint64_t first_split_event(const Splitter& sp);

// At a loop top at or past the offset last given: returns the offset of the next such loop top.
uint64_t on_split_event(DeflateState* s, LazyState& st, Splitter& sp);

// Stops a helper that still runs; the entry's statistics and whether the source claimed more bytes
// than it was given room for.
void stop_split(Splitter& sp);
SplitStats split_stats(const Splitter& sp);
bool split_bad_read(const Splitter& sp);

}  // namespace velk::deflate
