// CRC-32 of zip entries (reflected polynomial 0xEDB88320), updated block by block while a source is read.
// Pure code: the zip writer (zip_writer_win.cpp) calls it from its read callback; it also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk::zip {

// Continues a CRC over length more bytes. Start an entry with crc 0; the result is the finished
// value after every call, so calls can be chained block by block. A null buffer gives 0.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);

}  // namespace velk::zip
