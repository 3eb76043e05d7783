// Stand-in for the main application: leaves started.txt beside itself with its command line in
// UTF-8, so that a test can see it was started and how, then ends at once without a window.
// Started as "TovrekCRM.exe --hold-dump MS" it plays the crash handler instead: it holds
// CRASH.DMP beside itself open without sharing for MS milliseconds (holding.txt says it has it).
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include <string>

#include "support/module_path.h"
#include "support/path_join.h"
#include "support/text_convert.h"
#include "support/unique_any.h"

namespace {

// The crash handler's part: true when the command line asked for it (and it was played).
bool HoldDumpIfAsked() {
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (args == nullptr) return false;
    const bool asked = count == 3 && std::wstring(args[1]) == L"--hold-dump";
    const DWORD holdMs = asked ? static_cast<DWORD>(_wtoi(args[2])) : 0;
    LocalFree(args);
    if (!asked) return false;
    velk::unique_hfile dump(CreateFileW(velk::JoinPath(velk::ModuleDirectory(), L"CRASH.DMP").c_str(), GENERIC_WRITE,
                                        0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!dump) return true;
    velk::unique_hfile marker(CreateFileW(velk::JoinPath(velk::ModuleDirectory(), L"holding.txt").c_str(),
                                          GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    marker.reset();
    Sleep(holdMs);
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (HoldDumpIfAsked()) return 0;
    if (velk::ModuleDirectory().empty()) return 1;
    const std::wstring path = velk::JoinPath(velk::ModuleDirectory(), L"started.txt");

    velk::unique_hfile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    const std::string line = velk::WideToUtf8(GetCommandLineW());
    DWORD written = 0;
    if (!line.empty() && (!WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
                          written != line.size()))
        return 1;
    return 0;
}
