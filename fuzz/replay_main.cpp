// Replays a fuzz target over every file of a corpus folder, for builds without libFuzzer: the corpus
// then runs under the native build's sanitizers in every test run. Usage: replay DIR...
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    size_t files = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++files;
        }
        if (ec) {
            std::fprintf(stderr, "cannot read %s: %s\n", argv[i], ec.message().c_str());
            return 1;
        }
    }
    std::printf("replayed %zu inputs\n", files);
    return files == 0 ? 1 : 0;  // an empty corpus would make this test pass without testing anything
}
