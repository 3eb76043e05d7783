// Constants of the deflate compressor: window geometry, match limits, alphabet sizes and code tables.
// Shared by the match finder (match_finder.cpp) and the block coder (block_coder.cpp); nothing here allocates.
#pragma once

#include <cstdint>

namespace velk::deflate {

// Sliding window: two halves of 32 KiB. Positions are window indices; the window slides by one half.
constexpr uint32_t kHalfWindow = 32768;
constexpr uint32_t kWindowSize = 2 * kHalfWindow;

// Matches are 3 to 258 bytes long; the window keeps 258 + 3 + 1 bytes of lookahead when the input has them.
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262

// Farthest distance a match may reach back: half the window less the lookahead reserve.
constexpr uint32_t kMaxDist = kHalfWindow - kMinLookahead;  // 32,506

// The window slides once the current position reaches this: one half plus the farthest distance.
constexpr uint32_t kSlideAt = kHalfWindow + kMaxDist;  // 65,274

// A 3-byte match farther back than this costs more than three literals: the lazy loop drops it.
constexpr uint32_t kTooFar = 4096;

// Hash of the three bytes at a position: 15 bits, built by shifting 5 bits per byte.
constexpr uint32_t kHashBits = 15;
constexpr uint32_t kHashSize = 1u << kHashBits;
constexpr uint32_t kHashMask = kHashSize - 1;
constexpr uint32_t kHashShift = 5;
constexpr uint32_t kChainMask = kHalfWindow - 1;  // chain_prev is indexed by position & 0x7FFF

// Alphabets of the block coder.
constexpr int kLengthCodes = 29;                     // length codes 257..285
constexpr int kLiterals = 256;
constexpr int kEndBlock = 256;
constexpr int kLitCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kDistCodes = 30;
constexpr int kClCodes = 19;                          // code-length alphabet of the dynamic header
constexpr int kHeapSize = 2 * kLitCodes + 1;          // 573
constexpr int kMaxBits = 15;
constexpr int kMaxClBits = 7;
constexpr int kFixedLitCodes = 288;

// Code-length symbols of the dynamic header.
constexpr int kRep3To6 = 16;      // repeat the previous length 3 to 6 times, 2 extra bits
constexpr int kZeros3To10 = 17;   // 3 to 10 zero lengths, 3 extra bits
constexpr int kZeros11To138 = 18; // 11 to 138 zero lengths, 7 extra bits

// Tally buffers: a block holds at most kMaxBlockSymbols symbols, one below the size of sym_lit.
constexpr uint32_t kSymBufSize = 32768;
constexpr uint32_t kMaxBlockSymbols = kSymBufSize - 1;
constexpr uint32_t kFlagBufSize = kSymBufSize / 8;
constexpr uint32_t kEarlyEndEvery = 4096;  // ct_tally weighs an early block end at multiples of this

// Extra bits of the length codes 0..28 (symbols 257..285), RFC 1951.
constexpr uint8_t kLenExtra[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Extra bits of the distance codes 0..29, RFC 1951.
constexpr uint8_t kDistExtra[kDistCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Extra bits of the code-length symbols 0..18.
constexpr uint8_t kClExtra[kClCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

// Order in which the code lengths of the code-length alphabet are sent.
constexpr uint8_t kClOrder[kClCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// General-purpose flag bits of a zip entry that name the deflate option used.
constexpr uint16_t kFlagMaximum = 0x0002;
constexpr uint16_t kFlagFast = 0x0004;

// Consistency checks: the texts that end up in error_message.
namespace msg {
constexpr const char* kBadLevel = "bad pack level";
constexpr const char* kLookahead = "insufficient lookahead";
constexpr const char* kNoFuture = "no future";
constexpr const char* kWildScan = "wild scan";
constexpr const char* kMoreLess2 = "more < 2";
constexpr const char* kInitLength = "ct_init: length != 256";
constexpr const char* kInitDist = "ct_init: dist != 256";
constexpr const char* kInitDist512 = "ct_init: 256+dist != 512";
constexpr const char* kBitCounts = "inconsistent bit counts";
constexpr const char* kRep3_6 = " 3_6?";
constexpr const char* kNotEnough = "not enough codes";
constexpr const char* kTooMany = "too many codes";
constexpr const char* kBadMatch = "ct_tally: bad match";
constexpr const char* kBadDCode = "bad d_code";
constexpr const char* kBadSize = "bad compressed size";
constexpr const char* kInvalidLength = "invalid length";
// Failures of the boundary rather than of the coder's own accounting.
constexpr const char* kWriteFailed = "write failed";
constexpr const char* kBadRead = "read overran the buffer";
constexpr const char* kBadArguments = "bad arguments";
constexpr const char* kNoMemory = "out of memory";
}  // namespace msg

}  // namespace velk::deflate
