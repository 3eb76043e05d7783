// A slow, plain match finder for tests: every chain entry walked one by one, bytes compared one at a
// time, no shortcut of any kind. It drives the real block coder, so its output is what the compressor
// must produce byte for byte.
#pragma once

#include <cstdint>

#include "zip/deflate/deflate.h"

namespace velk::test {

// Same contract as compress_entry: same callbacks, same output, same failures.
deflate::CompressResult reference_compress_entry(void* user, deflate::ReadInputFn read_input,
                                                 deflate::FlushOutputFn flush_output, uint8_t* out_buf,
                                                 uint32_t out_capacity, int level, uint16_t* flags);

}  // namespace velk::test
