// Raw deflate compressor (RFC 1951): the boundary the zip container calls, one call per entry.
// Sits between the container (zip/zip_writer_win.cpp) and the match finder / block coder here.
#pragma once

#include <cstdint>

namespace velk::deflate {

// Places up to max_bytes input bytes at destination and returns their number;
// 0 or 0xFFFFFFFF (-1) means the input has ended.
using ReadInputFn = uint32_t (*)(void* user, uint8_t* destination, uint32_t max_bytes);

// Writes *count bytes from buffer to the archive and sets *count to 0 when the write succeeded;
// a failed write leaves *count unchanged.
using FlushOutputFn = void (*)(void* user, const uint8_t* buffer, uint32_t* count);

struct CompressResult {
    uint32_t compressed_size;   // bytes handed to flush_output for this entry
    const char* error_message;  // null, or the text of the last failed consistency check
};

// Compresses the whole input of one entry at the given level (1 to 8; the container uses 8)
// into out_buf (out_capacity bytes, flushed through flush_output), and ORs the level's
// general-purpose bits into *flags (0x0002 for level 8, 0x0004 for levels 1 and 2).
// An entry of more than about 600 KB at levels 4 to 8 is parsed on a second thread as well; both callbacks are
// still called on the caller's thread only, and the output is the one-thread output for a source
// whose reads return all that was asked until its end (as a file's do). Such an entry reads up to
// about 4 MiB ahead of what it has compressed, and needs about 26 MiB while it runs.
CompressResult compress_entry(void* user, ReadInputFn read_input, FlushOutputFn flush_output, uint8_t* out_buf,
                              uint32_t out_capacity, int level, uint16_t* flags);

}  // namespace velk::deflate
