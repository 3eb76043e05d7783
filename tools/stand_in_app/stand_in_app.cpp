// Stand-in for the main application: leaves started.txt beside itself with its command line in
// UTF-8, so that a test can see it was started and how, then ends at once without a window.
#include <windows.h>

#include <string>

#include "support/module_path.h"
#include "support/path_join.h"
#include "support/unique_any.h"

namespace {

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    bytes.resize(static_cast<size_t>(size) - 1);
    return bytes;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (velk::ModuleDirectory().empty()) return 1;
    const std::wstring path = velk::JoinPath(velk::ModuleDirectory(), L"started.txt");

    velk::unique_hfile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    const std::string line = Utf8(GetCommandLineW());
    DWORD written = 0;
    if (!line.empty() && (!WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
                          written != line.size()))
        return 1;
    return 0;
}
