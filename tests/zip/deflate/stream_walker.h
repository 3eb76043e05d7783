// Test-side reader of raw deflate streams: decodes them and records each block's type and each match.
// Lets the tests see what the compressor chose (block types, distances, code lengths), which a plain
// decoder does not report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct WalkedBlock {
    int type = 0;             // 0 stored, 1 fixed, 2 dynamic
    bool final = false;
    size_t out_begin = 0;     // decoded offsets the block covers
    size_t out_end = 0;
    uint32_t symbols = 0;     // literals and matches, end-of-block excluded (Huffman blocks)
    uint32_t stored_len = 0;  // stored blocks
    int lit_codes = 0;        // dynamic header counts
    int dist_codes = 0;
    int cl_codes = 0;
    int longest_lit_code = 0;  // longest literal/length code length of a dynamic block
    int longest_cl_code = 0;   // longest code-length code of a dynamic block
    std::vector<uint8_t> dist_lengths;  // distance code lengths announced by a dynamic header
};

struct WalkedMatch {
    uint32_t length;
    uint32_t distance;
    size_t at;  // output offset of the match
};

struct WalkResult {
    bool ok = false;
    std::string error;
    std::vector<uint8_t> out;
    std::vector<WalkedBlock> blocks;
    std::vector<WalkedMatch> matches;
    bool length_258_as_284 = false;  // length 258 sent as code 284 with extra 31 instead of code 285
    bool padding_zero = true;        // the bits after the final block are zero
    size_t bytes_used = 0;           // bytes of input the stream occupied
};

WalkResult walk_deflate(const uint8_t* data, size_t size);
