// CRC-32 of zip entries: sixteen 256-entry tables, built at compile time, sixteen bytes per loop pass.
#include "zip/crc32.h"

#include <array>

namespace velk::zip {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;  // 0x04C11DB7 bit-reversed: the register shifts right
constexpr int kSlices = 16;

using Tables = std::array<std::array<uint32_t, 256>, kSlices>;

// Table 0 advances the register by one byte. Table k gives the effect of a byte that still has k zero
// bytes behind it, so sixteen independent lookups, one per input byte, replace sixteen dependent steps.
constexpr Tables MakeTables() {
    Tables t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (int k = 1; k < kSlices; ++k)
        for (uint32_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}

constexpr Tables kTables = MakeTables();

inline uint32_t Step(uint32_t c, uint8_t byte) { return kTables[0][(c ^ byte) & 0xFF] ^ (c >> 8); }

// Four bytes as one little-endian word, whatever the machine's order and alignment.
inline uint32_t Word(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t Slice4(const std::array<uint32_t, 256>* t, uint32_t w, int top) {
    return t[top][w & 0xFF] ^ t[top - 1][(w >> 8) & 0xFF] ^ t[top - 2][(w >> 16) & 0xFF] ^ t[top - 3][w >> 24];
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
    if (data == nullptr) return 0;
    const auto* p = static_cast<const uint8_t*>(data);
    // The register is kept complemented between calls, so a chained update starts from the
    // finished value of the previous block.
    uint32_t c = ~crc;
    const auto* t = kTables.data();
    while (length >= kSlices) {
        c = Slice4(t, Word(p) ^ c, 15) ^ Slice4(t, Word(p + 4), 11) ^ Slice4(t, Word(p + 8), 7) ^
            Slice4(t, Word(p + 12), 3);
        p += kSlices;
        length -= kSlices;
    }
    while (length-- != 0) c = Step(c, *p++);
    return ~c;
}

}  // namespace velk::zip
