// dialog_driver.exe: acts on the reporter's dialog "错误报告" from the command line, for the GUI
// tests, the demo and the end-to-end tests. Exit codes: 0 done, 1 not found or timed out, 2 usage.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/text_convert.h"
#include "tools/dialog_driver/dialog_remote.h"

namespace {

constexpr int kDone = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
constexpr DWORD kDefaultTimeoutMs = 10000;

const char kUsageText[] =
    "usage: dialog_driver <command> [argument]\n"
    "acts on the top-level window titled \"\xE9\x94\x99\xE8\xAF\xAF\xE6\x8A\xA5\xE5\x91\x8A\" (the error report dialog)\n"
    "  wait [ms]       wait until the dialog is visible (default 10000 ms)\n"
    "  text            print the description box's text (control 1000) as UTF-8, then a newline\n"
    "  type <text>     click into the description box, then send each UTF-16 unit as WM_CHAR\n"
    "  paste <text>    click into the description box, then paste the text through the clipboard\n"
    "  uncheck         untick the restart box (control 1001) as a click would\n"
    "  ok              click the OK button\n"
    "  msgbox [ms]     wait for the message box owned by the dialog, print its text as UTF-8, press its OK\n"
    "  close           the close box (WM_SYSCOMMAND SC_CLOSE)\n"
    "  gone [ms]       wait until no such window exists, hidden or not (default 10000 ms)\n"
    "exit code: 0 done, 1 not found or timed out, 2 usage\n";

// Bytes as they are: a pipe or file gets UTF-8 whatever the console's code page is.
void WriteBytes(DWORD stdHandle, const std::string& bytes) {
    HANDLE out = ::GetStdHandle(stdHandle);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE && !bytes.empty())
        ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void PrintUtf8Line(const std::wstring& text) {
    WriteBytes(STD_OUTPUT_HANDLE, velk::WideToUtf8(text) + "\n");
}

int Usage(const char* problem = nullptr) {
    if (problem) WriteBytes(STD_ERROR_HANDLE, std::string("dialog_driver: ") + problem + "\n");
    WriteBytes(STD_ERROR_HANDLE, kUsageText);
    return kUsage;
}

int Fail(const char* what) {
    WriteBytes(STD_ERROR_HANDLE, std::string("dialog_driver: ") + what + "\n");
    return kNotFound;
}

// An optional time-out argument in milliseconds; false when it is not a plain number.
bool ParseTimeout(const std::vector<std::wstring>& args, DWORD& timeoutMs) {
    timeoutMs = kDefaultTimeoutMs;
    if (args.size() < 3) return true;
    const std::wstring& text = args[2];
    if (text.empty() || text.size() > 9 || text.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
    timeoutMs = static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 10));
    return true;
}

int Run(const std::vector<std::wstring>& args) {
    if (args.size() < 2) return Usage();
    const std::wstring& command = args[1];
    bool timed = command == L"wait" || command == L"msgbox" || command == L"gone";
    bool withText = command == L"type" || command == L"paste";
    bool plain = command == L"text" || command == L"uncheck" || command == L"ok" || command == L"close";
    if (!timed && !withText && !plain) return Usage("unknown command");
    if ((withText && args.size() != 3) || (plain && args.size() != 2) || (timed && args.size() > 3))
        return Usage("wrong number of arguments");

    DWORD timeoutMs = 0;
    if (timed && !ParseTimeout(args, timeoutMs)) return Usage("the time-out is a number of milliseconds");

    using namespace velk::driver;
    if (command == L"wait") return WaitForVisibleDialog(timeoutMs) ? kDone : Fail("no visible dialog in time");
    if (command == L"gone") return WaitUntilGone(timeoutMs) ? kDone : Fail("the dialog is still there");

    HWND dialog = FindReportDialog();
    if (!dialog) return Fail("no dialog");

    if (command == L"text") {
        HWND edit = ::GetDlgItem(dialog, kDescriptionId);
        if (!edit) return Fail("no description box");
        PrintUtf8Line(GetRemoteText(edit));
        return kDone;
    }
    if (withText) {
        HWND edit = ::GetDlgItem(dialog, kDescriptionId);
        if (!edit) return Fail("no description box");
        if (!ClickInto(edit)) return Fail("the description box did not take the focus");
        bool done = command == L"type" ? TypeUnits(edit, args[2]) : PasteText(edit, args[2]);
        return done ? kDone : Fail("the text did not reach the box");
    }
    if (command == L"uncheck") return Uncheck(::GetDlgItem(dialog, kRestartCheckId)) ? kDone : Fail("cannot untick");
    if (command == L"ok") return PostClick(::GetDlgItem(dialog, kOkButtonId)) ? kDone : Fail("no OK button");
    if (command == L"close") return RequestClose(dialog) ? kDone : Fail("cannot close");
    if (command == L"msgbox") {
        HWND box = WaitForOwnedMessageBox(dialog, timeoutMs);
        if (!box) return Fail("no message box in time");
        PrintUtf8Line(MessageBoxText(box));
        return PressMessageBoxOk(box) ? kDone : Fail("cannot press OK");
    }
    return Usage();
}

}  // namespace

int main() {
    // The wide command line, so that Chinese text arrives whatever the ANSI code page is.
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv) return kUsage;
    std::vector<std::wstring> args(argv, argv + count);
    ::LocalFree(argv);
    return Run(args);
}
