// CRC-32 of the zip writer against zlib's crc32 over lengths and start offsets around the 16-byte loop and 1 MiB of
// random bytes, chained block by block; it cannot show how fast either is.
#include "zip/crc32.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using velk::zip::Crc32Update;

namespace {

std::vector<uint8_t> RandomBytes(size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<uint8_t>(gen());
    return bytes;
}

uint32_t ZlibCrc(const std::vector<uint8_t>& bytes) {
    return static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

}  // namespace

TEST(Crc32, MatchesZlibAcrossLoopBoundaries) {
    // The remainder loop alone, one and two full passes and every remainder, from aligned and odd starts
    // (a table for the wrong byte of a word shows up only with data in that byte).
    const size_t lengths[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 31, 32, 33, 47, 255, 16384, 1 << 20};
    for (size_t length : lengths) {
        for (size_t offset : {0, 1, 3}) {
            const auto bytes = RandomBytes(length + offset, static_cast<unsigned>(length) + 1);
            const std::vector<uint8_t> tail(bytes.begin() + long(offset), bytes.end());
            EXPECT_EQ(Crc32Update(0, bytes.data() + offset, length), ZlibCrc(tail)) << length << " bytes at " << offset;
        }
    }
}

TEST(Crc32, KnownValues) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32Update(0, check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(Crc32Update(0, "a", 1), 0xE8B7BE43u);
    const std::vector<uint8_t> zeros(32, 0);
    EXPECT_EQ(Crc32Update(0, zeros.data(), zeros.size()), 0x190A55ADu);
}

TEST(Crc32, ChainedBlocksEqualOnePass) {
    // The writer feeds the CRC one read at a time; reads of odd sizes must not change the result.
    const auto bytes = RandomBytes(1 << 20, 7);
    const uint32_t whole = ZlibCrc(bytes);
    const size_t blocks[] = {1, 3, 8, 13, 16384, 65536, 100000};
    for (size_t block : blocks) {
        uint32_t crc = 0;
        for (size_t at = 0; at < bytes.size(); at += block)
            crc = Crc32Update(crc, bytes.data() + at, std::min(block, bytes.size() - at));
        EXPECT_EQ(crc, whole) << "blocks of " << block;
    }
}

TEST(Crc32, EmptyAndNullInput) {
    EXPECT_EQ(Crc32Update(0, nullptr, 0), 0u);
    EXPECT_EQ(Crc32Update(0x12345678, nullptr, 100), 0u);  // null gives 0 whatever came before
    EXPECT_EQ(Crc32Update(0x12345678, "", 0), 0x12345678u);  // no bytes: the CRC so far stands
}
