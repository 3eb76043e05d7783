// Deterministic sources for the zip tests: random bytes that do not compress and log text that does.
#pragma once

#include <cstddef>
#include <random>
#include <string>

namespace velk::test {

inline std::string RandomBytes(size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::string bytes(count, '\0');
    for (auto& b : bytes) b = static_cast<char>(gen());
    return bytes;
}

inline std::string LogText(size_t lines) {
    std::string text;
    for (size_t i = 0; i < lines; ++i)
        text += "2024-03-05 09:02:" + std::to_string(i % 60) + " [worker " + std::to_string(i % 7) + "] request " +
                std::to_string(i * 37 % 1000) + " done\r\n";
    return text;
}

}  // namespace velk::test
