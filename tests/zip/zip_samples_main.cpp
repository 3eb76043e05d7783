// Writes a set of sample archives with the zip writer into the folder named on the command line,
// with their sources and a manifest, for verify_archives.py to check with other readers.
// Usage: zip_archive_samples FOLDER (the folder must exist; its content is replaced).
#include "zip/zip_writer.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/text_convert.h"
#include "tests/zip/zip_test_data.h"

using namespace velk::zip;

using velk::test::LogText;
using velk::test::RandomBytes;

namespace {

// A dump-like file: a small header, runs of zeros, random stretches and repeated records.
std::string DumpLike() {
    std::string dump = "MDMP" + std::string(60, '\0');
    for (int i = 0; i < 40; ++i) {
        dump += RandomBytes(1000 + i * 37, static_cast<unsigned>(i));
        dump += std::string(4096, '\0');
        for (int j = 0; j < 20; ++j) dump += "\x10\x20\x30\x40module" + std::to_string(j) + ".dll";
    }
    return dump;
}

std::string PeImage() {
    std::string pe(0x80, '\0');
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = '\x80';
    return pe + std::string("PE\0\0", 4) + RandomBytes(4000, 11);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    const BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    CloseHandle(h);
    return ok && done == bytes.size();
}

struct Sample {
    std::wstring entry;   // as given to ZipAddFile
    std::wstring source;  // file name under src\ .
};

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 2) {
        fprintf(stderr, "usage: zip_archive_samples FOLDER\n");
        return 2;
    }
    const std::wstring out = argv[1];
    const std::wstring src = out + L"\\src";
    CreateDirectoryW(src.c_str(), nullptr);

    struct Source {
        std::wstring name;
        std::string bytes;
    };
    const Source sources[] = {
        {L"infolog.txt", "\xD5\xCB\xBA\xC5:demo01\r\n\xB0\xE6\xB1\xBE:3.1.0.25\r\n\xC8\xD5\xC6\xDA:2024-03-05\r\n"},
        {L"crash.dmp", DumpLike()},
        {L"app.log", LogText(30000)},
        {L"random.bin", RandomBytes(1 << 20, 99)},
        {L"inner.zip", RandomBytes(20000, 5)},
        {L"empty", ""},
        {L"one", "a"},
        {L"tool.exe", PeImage()},
        {L"zeros", std::string(300000, '\0')},
    };
    for (const auto& s : sources)
        if (!WriteBytes(src + L"\\" + s.name, s.bytes)) {
            fprintf(stderr, "cannot write %ls\n", s.name.c_str());
            return 1;
        }

    struct ArchiveSpec {
        std::wstring name;
        std::vector<Sample> entries;
    };
    const ArchiveSpec archives[] = {
        {L"empty.zip", {}},
        {L"report.zip",
         {{L"INFOLOG.TXT", L"infolog.txt"},
          {L"CRASH.DMP", L"crash.dmp"},
          {L"Vizoziv\\app.log", L"app.log"},
          {L"random.bin", L"random.bin"},
          {L"inner.zip", L"inner.zip"},
          {L"empty.txt", L"empty"},
          {L"empty.gz", L"empty"},
          {L"one.txt", L"one"},
          {L"tool.exe", L"tool.exe"},
          {L"zeros.dat", L"zeros"},
          {L"错误报告.txt", L"infolog.txt"},
          {L"日志\\乗.log", L"app.log"},
          {L"INFOLOG.TXT", L"one"}}},
    };
    FILE* manifest = _wfopen((out + L"\\manifest.tsv").c_str(), L"wb");
    if (manifest == nullptr) return 1;
    int failures = 0;
    for (const auto& a : archives) {
        ZipHandle* zip = ZipCreate((out + L"\\" + a.name).c_str());
        if (zip == nullptr) {
            fprintf(stderr, "cannot create %ls\n", a.name.c_str());
            return 1;
        }
        for (const auto& e : a.entries) {
            if (ZipAddFile(zip, e.entry.c_str(), (src + L"\\" + e.source).c_str()) != ZipResult::Ok) {
                fprintf(stderr, "cannot add %ls\n", e.entry.c_str());
                ++failures;
                continue;
            }
            // The manifest is UTF-8: archive, entry name as given, source file.
            fprintf(manifest, "%s\t%s\t%s\n", velk::WideToUtf8(a.name).c_str(), velk::WideToUtf8(e.entry).c_str(),
                    velk::WideToUtf8(e.source).c_str());
        }
        if (a.entries.empty()) fprintf(manifest, "%s\t\t\n", velk::WideToUtf8(a.name).c_str());
        if (ZipClose(zip) != ZipResult::Ok) ++failures;
    }

    // More entries than the end record's 16-bit counts hold; stored, so that this stays quick.
    const unsigned kMany = 65537;
    ZipHandle* many = ZipCreate((out + L"\\many.zip").c_str());
    if (many == nullptr) return 1;
    for (unsigned i = 0; i < kMany; ++i) {
        const std::wstring entry = L"m\\" + std::to_wstring(i) + L".gz";
        if (ZipAddFile(many, entry.c_str(), (src + L"\\one").c_str()) != ZipResult::Ok) ++failures;
    }
    if (ZipClose(many) != ZipResult::Ok) ++failures;
    fprintf(manifest, "many.zip\t*%u\tone\n", kMany);
    fclose(manifest);
    LocalFree(argv);
    return failures == 0 ? 0 : 1;
}
