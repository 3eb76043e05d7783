// The error report dialog of the real VELKBugReport.exe in a real window (Wine, Xvfb), driven from
// outside: controls, hint, length limit, Ctrl+A, Escape, About box, the ways a run ends. It cannot
// see pixels (fonts, the grey text, the icon drawn when minimised; the demo's screenshot shows
// those), nor the system menu's items or the window's icons, which Wine does not hand across processes.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/app/reporter_process.h"
#include "tools/dialog_driver/dialog_remote.h"
#include "upload/upload_report.h"

namespace {

using velk::test::ReporterProcess;
namespace driver = velk::driver;

const std::wstring kHint = L"请您描述一下刚刚是怎么操作的？";
const std::wstring kEmoji = L"\U0001F600";  // outside the BMP: two UTF-16 units

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool HasStyle(HWND window, LONG bits) {
    return (GetWindowLongW(window, GWL_STYLE) & bits) == bits;
}

std::wstring Repeat(const std::wstring& piece, int count) {
    std::wstring text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
}

// Readable failure output for texts with Chinese characters and surrogates.
std::string Describe(const std::wstring& text) {
    std::string out = std::to_string(text.size()) + " units:";
    for (size_t i = 0; i < text.size() && i < 8; ++i) out += " " + std::to_string(static_cast<unsigned>(text[i]));
    out += " ...";
    for (size_t i = text.size() > 4 ? text.size() - 4 : 0; i < text.size(); ++i)
        out += " " + std::to_string(static_cast<unsigned>(text[i]));
    return out;
}

// The selection of the description box as (start, end); EM_GETSEL's packed result is enough for
// texts this short, and pointers cannot cross into the reporter's process.
std::pair<int, int> Selection(HWND edit) {
    DWORD_PTR packed = 0;
    SendMessageTimeoutW(edit, EM_GETSEL, 0, 0, SMTO_NORMAL, 5000, &packed);
    return {LOWORD(packed), HIWORD(packed)};
}

// How long a wait for the reporter's next state may take: generous, as the 32-bit build runs
// emulated and the machine may be busy; a wait ends as soon as the state is there.
constexpr ULONGLONG kStateWaitMs = 10000;

template <typename Done>
bool WaitFor(Done done) {
    ULONGLONG deadline = GetTickCount64() + kStateWaitMs;
    while (!done()) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(10);
    }
    return true;
}

// A message sent to the reporter's thread is handled at its next look into its queue, so the
// answer means the message it was taking before has been handled in full (the pre-filter included).
bool RoundTrip(HWND window) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored) != 0;
}

DWORD_PTR CheckState(HWND checkBox) {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(checkBox, BM_GETCHECK, 0, 0, SMTO_NORMAL, 5000, &state);
    return state;
}

// Waits until the reporter has handled everything posted to it so far: posted messages are taken
// in order, so a check mark posted last shows only once all before it are done. The box's state
// is put back afterwards.
bool HandledPosted(HWND checkBox) {
    DWORD_PTR before = CheckState(checkBox);
    DWORD_PTR mark = before == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    PostMessageW(checkBox, BM_SETCHECK, mark, 0);
    bool handled = WaitFor([&] { return !IsWindow(checkBox) || CheckState(checkBox) == mark; }) && IsWindow(checkBox);
    SendMessageTimeoutW(checkBox, BM_SETCHECK, before, 0, SMTO_NORMAL, 5000, nullptr);
    return handled;
}

// Moves the focus inside the dialog as the dialog manager does for Tab, here straight to `target`.
void MoveFocusTo(HWND dialog, HWND target) {
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
    WaitFor([&] { return driver::GetRemoteFocus(dialog) == target; });
}

// Real keys through the system's input queue, so that GetAsyncKeyState in the reporter sees them.
// Wine delivers them to the foreground window's thread.
void SendKey(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof(input));
}

bool BringToFront(HWND dialog) {
    return WaitFor([&] {
        if (GetForegroundWindow() == dialog) return true;
        SetForegroundWindow(dialog);
        return false;
    });
}

// Our thread shares the reporter thread's input state while this lives: GetKeyState here then
// tells which key messages the reporter has taken from its queue, not only which keys are down.
class SharedInputState {
public:
    explicit SharedInputState(HWND window) : m_other(GetWindowThreadProcessId(window, nullptr)) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // a thread joins input only with a queue
        m_attached = m_other && AttachThreadInput(GetCurrentThreadId(), m_other, TRUE);
    }
    ~SharedInputState() {
        if (m_attached) AttachThreadInput(GetCurrentThreadId(), m_other, FALSE);
    }
    SharedInputState(const SharedInputState&) = delete;
    SharedInputState& operator=(const SharedInputState&) = delete;

    bool Attached() const { return m_attached; }
    // Waits until the reporter has taken the key's last message, down or up.
    bool WaitTaken(int key, bool down) const {
        return WaitFor([&] { return ((GetKeyState(key) & 0x8000) != 0) == down; });
    }

private:
    DWORD m_other;
    bool m_attached = false;
};

// Presses Ctrl+A as a hand does: Control first, and A only once the reporter has taken Control's
// key-down, since the reporter looks at the keys' state when it takes each key-down and Control's
// own key-down would toggle too if A were already down. Both keys stay down until the reporter
// has taken A's key-down and handled it, however slowly it runs. A Control that went to another
// window while the foreground was moving is pressed again.
std::pair<int, int> PressCtrlA(HWND dialog, HWND edit) {
    SharedInputState input(edit);
    EXPECT_TRUE(input.Attached());
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_TRUE(BringToFront(dialog));
        SendKey(VK_CONTROL, false);
        if (!input.WaitTaken(VK_CONTROL, true)) {
            SendKey(VK_CONTROL, true);
            continue;
        }
        // Wine keeps a key's "up" answer to GetAsyncKeyState for 50 ms per thread: had the
        // reporter asked about A while taking Control's key-down less than that before A's, it
        // would be told A is still up. So Control's key-down is handled in full first, and A
        // goes down only once that answer has gone stale, however slowly the reporter runs.
        EXPECT_TRUE(RoundTrip(edit));
        Sleep(80);
        SendKey('A', false);
        EXPECT_TRUE(input.WaitTaken('A', true)) << "the reporter never took A's key-down";
        EXPECT_TRUE(RoundTrip(edit));
        SendKey('A', true);
        SendKey(VK_CONTROL, true);
        input.WaitTaken('A', false);
        input.WaitTaken(VK_CONTROL, false);
        return Selection(edit);
    }
    ADD_FAILURE() << "the reporter never took the Control key";
    return Selection(edit);
}

class ReportDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog = reporter.StartAndWait();
        ASSERT_NE(dialog, nullptr) << "the dialog did not appear";
        edit = reporter.Edit();
        ok = reporter.Item(IDOK);
        check = reporter.Item(driver::kRestartCheckId);
        ASSERT_NE(edit, nullptr);
        ASSERT_NE(ok, nullptr);
        ASSERT_NE(check, nullptr);
    }

    ReporterProcess reporter;
    HWND dialog = nullptr;
    HWND edit = nullptr;
    HWND ok = nullptr;
    HWND check = nullptr;
};

// ---- What the user sees first ----

TEST_F(ReportDialogTest, ControlsInTabOrderWithTheirIdsTextsAndStyles) {
    EXPECT_EQ(driver::GetRemoteText(dialog), L"错误报告");
    EXPECT_TRUE(HasStyle(dialog, WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_FALSE(GetWindowLongW(dialog, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    struct Expected {
        int id;
        const wchar_t* className;
        const wchar_t* text;
        LONG styles;
        LONG kind;  // the low style bits that tell what kind of button or static it is
    };
    const Expected expected[] = {
        {IDOK, L"Button", L"确定", WS_TABSTOP, BS_DEFPUSHBUTTON},
        {-1, L"Static", L"遇到错误需要关闭，给你带来不便，我们深表歉意", WS_GROUP, SS_LEFT},
        {-1, L"Static", L"", 0, SS_ETCHEDFRAME},
        {-1, L"Static",
         L"我们已经创建了一个错误报告，您可以发送给我们，帮助我们诊断这个错误的原因和改进这个软件，请描述发生这个错误时你在做什么。",
         WS_GROUP, SS_LEFT},
        {driver::kDescriptionId, L"Edit", kHint.c_str(),
         ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP, 0},
        {driver::kRestartCheckId, L"Button", L" 重启程序", WS_TABSTOP, BS_AUTOCHECKBOX},
    };
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    ASSERT_EQ(children.size(), std::size(expected)) << "six controls, no Cancel button";
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        HWND child = children[i];
        EXPECT_EQ(GetDlgCtrlID(child), expected[i].id);
        EXPECT_EQ(ClassOf(child), expected[i].className);
        EXPECT_EQ(driver::GetRemoteText(child), expected[i].text);
        EXPECT_TRUE(HasStyle(child, expected[i].styles));
        if (expected[i].id == driver::kDescriptionId) {
            // The dialog manager turns an edit box's WS_BORDER into the sunken client edge.
            EXPECT_TRUE((GetWindowLongW(child, GWL_STYLE) & WS_BORDER) ||
                        (GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        }
        LONG typeMask = ClassOf(child) == L"Button" ? BS_TYPEMASK : ClassOf(child) == L"Static" ? SS_TYPEMASK : 0;
        EXPECT_EQ(GetWindowLongW(child, GWL_STYLE) & typeMask, expected[i].kind);
    }
    EXPECT_EQ(GetDlgItem(dialog, IDCANCEL), nullptr);
}

TEST_F(ReportDialogTest, StartsTickedWithTheHintAndTheFocusOnOk) {
    DWORD_PTR state = 0;
    ASSERT_TRUE(SendMessageTimeoutW(check, BM_GETCHECK, 0, 0, SMTO_NORMAL, 5000, &state));
    EXPECT_EQ(state, static_cast<DWORD_PTR>(BST_CHECKED));
    EXPECT_EQ(reporter.EditText(), kHint);
    EXPECT_EQ(driver::GetRemoteFocus(dialog), ok);
}

TEST_F(ReportDialogTest, CollectionIsDoneBeforeTheDialogShows) {
    // The information log and the archive exist as soon as the window is visible.
    EXPECT_NE(velk::test::ReadFileBytes(reporter.Install() / L"INFOLOG.TXT"), "<missing>");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((reporter.Install() / L"*.zip").c_str(), &data);
    EXPECT_NE(find, INVALID_HANDLE_VALUE) << "no report archive beside the reporter";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

// ---- The hint ----

TEST_F(ReportDialogTest, HintGoesOnFocusAndComesBackOnlyToAnEmptyBox) {
    struct Case {
        const char* name;
        std::wstring typed;
        std::wstring afterBlur;
    };
    const Case cases[] = {
        {"nothing typed", L"", kHint},
        {"blanks are the user's", L"   ", L"   "},
        {"text stays", L"点了保存", L"点了保存"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(driver::ClickInto(edit));
        EXPECT_EQ(reporter.EditText(), L"") << "the hint goes when the box takes the focus";
        ASSERT_TRUE(driver::TypeUnits(edit, c.typed));
        MoveFocusTo(dialog, ok);
        EXPECT_EQ(driver::GetRemoteFocus(dialog), ok);
        EXPECT_EQ(reporter.EditText(), c.afterBlur);
        // Back to the hint for the next case.
        SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kHint.c_str()), SMTO_NORMAL, 5000, nullptr);
    }
}

// ---- The length limit: more than 200 bytes of UTF-8 (with the terminator) keeps 200 UTF-16 units ----

TEST_F(ReportDialogTest, LengthLimitCutsWithoutLeavingHalfAPair) {
    enum class How { Paste, Type };
    struct Case {
        const char* name;
        How how;
        std::wstring input;
        std::wstring expected;
    };
    const std::wstring a199 = Repeat(L"a", 199);
    const std::wstring zh66 = Repeat(L"错", 66);
    const Case cases[] = {
        {"300 pasted ASCII keep 200", How::Paste, Repeat(L"x", 300), Repeat(L"x", 200)},
        {"the 201st typed ASCII character is cut", How::Type, Repeat(L"b", 201), Repeat(L"b", 200)},
        {"199 bytes untouched", How::Paste, Repeat(L"c", 198), Repeat(L"c", 198)},
        {"200 Chinese characters stay", How::Paste, Repeat(L"中", 200), Repeat(L"中", 200)},
        {"the 201st pasted Chinese character is cut", How::Paste, Repeat(L"中", 201), Repeat(L"中", 200)},
        {"the 201st typed Chinese character is cut", How::Type, Repeat(L"文", 201), Repeat(L"文", 200)},
        {"pasted pair across the cut goes whole", How::Paste, a199 + kEmoji + L"zz", a199},
        {"typed pair across the cut goes whole", How::Type, a199 + kEmoji, a199},
        {"typed pair after the cut leaves nothing", How::Type, a199 + L"d" + kEmoji, a199 + L"d"},
        {"pair ending exactly at the cut stays", How::Paste, Repeat(L"e", 198) + kEmoji + L"f",
         Repeat(L"e", 198) + kEmoji},
        {"over 200 bytes but under 200 units: typed pair stays", How::Type, zh66 + kEmoji, zh66 + kEmoji},
        {"over 200 bytes but under 200 units: pasted pair stays", How::Paste, zh66 + kEmoji + L"g",
         zh66 + kEmoji + L"g"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(driver::ClickInto(edit));
        ASSERT_EQ(reporter.EditText(), L"");
        ASSERT_TRUE(c.how == How::Paste ? driver::PasteText(edit, c.input) : driver::TypeUnits(edit, c.input));
        std::wstring text = reporter.EditText();
        EXPECT_EQ(text, c.expected) << Describe(text);
        // After a change the caret is at the end of the text.
        std::pair<int, int> selection = Selection(edit);
        EXPECT_EQ(selection.first, static_cast<int>(c.expected.size()));
        EXPECT_EQ(selection.second, static_cast<int>(c.expected.size()));
        SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""), SMTO_NORMAL, 5000, nullptr);
    }
}

// ---- Keys ----

TEST_F(ReportDialogTest, CtrlATogglesBetweenAllAndNothingSelected) {
    ASSERT_TRUE(BringToFront(dialog)) << "real keys go to the foreground window";
    ASSERT_TRUE(driver::ClickInto(edit));
    EXPECT_EQ(PressCtrlA(dialog, edit), std::make_pair(0, 0)) << "an empty box counts as all selected: nothing selected";

    ASSERT_TRUE(driver::TypeUnits(edit, L"保存时崩溃"));
    ASSERT_EQ(Selection(edit), std::make_pair(5, 5));
    EXPECT_EQ(PressCtrlA(dialog, edit), std::make_pair(0, 5));
    EXPECT_EQ(PressCtrlA(dialog, edit), std::make_pair(5, 5));
    EXPECT_EQ(PressCtrlA(dialog, edit), std::make_pair(0, 5));

    // A part selected is not all: Ctrl+A selects everything.
    SendMessageTimeoutW(edit, EM_SETSEL, 1, 3, SMTO_NORMAL, 5000, nullptr);
    EXPECT_EQ(PressCtrlA(dialog, edit), std::make_pair(0, 5));
    EXPECT_EQ(reporter.EditText(), L"保存时崩溃") << "the key never reaches the box as a character";
}

TEST_F(ReportDialogTest, EscapeNeverClosesTheDialog) {
    // Posted key-downs go through the reporter's loop like typed ones. Without the filter the
    // dialog manager turns Escape into IDCANCEL, and a multi-line box into WM_CLOSE.
    for (HWND target : {ok, edit, check}) {
        SCOPED_TRACE(ClassOf(target));
        MoveFocusTo(dialog, target);
        PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        EXPECT_TRUE(HandledPosted(check)) << "the dialog went away";
        // A dialog that was ended is gone shortly after the message that ended it was handled.
        EXPECT_FALSE(driver::WaitUntilGone(500, reporter.ProcessId()));
        EXPECT_TRUE(reporter.IsRunning());
    }
    // And a real Escape from the keyboard.
    ASSERT_TRUE(BringToFront(dialog));
    {
        SharedInputState input(dialog);
        EXPECT_TRUE(input.Attached());
        SendKey(VK_ESCAPE, false);
        EXPECT_TRUE(input.WaitTaken(VK_ESCAPE, true));
        SendKey(VK_ESCAPE, true);
        EXPECT_TRUE(input.WaitTaken(VK_ESCAPE, false));
        EXPECT_TRUE(RoundTrip(dialog));
    }
    EXPECT_FALSE(driver::WaitUntilGone(500, reporter.ProcessId()));
    EXPECT_TRUE(IsWindowVisible(dialog));
}

// The stock dialog messages numbered from WM_USER keep their own meaning: none of them is taken
// for the upload's signal, so the dialog stays up with its archive and nothing ends.
TEST_F(ReportDialogTest, StockDialogMessagesLeaveTheDialogRunning) {
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutW(dialog, DM_SETDEFID, IDOK, 0, SMTO_NORMAL, 5000, &result));
    ASSERT_TRUE(SendMessageTimeoutW(dialog, DM_GETDEFID, 0, 0, SMTO_NORMAL, 5000, &result));
    EXPECT_EQ(result, static_cast<DWORD_PTR>(MAKELONG(IDOK, DC_HASDEFID)));
    ASSERT_TRUE(SendMessageTimeoutW(dialog, DM_REPOSITION, 0, 0, SMTO_NORMAL, 5000, &result));
    EXPECT_FALSE(driver::WaitUntilGone(1000, reporter.ProcessId()));
    EXPECT_TRUE(IsWindowVisible(dialog));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((reporter.Install() / L"*.zip").c_str(), &data);
    EXPECT_NE(find, INVALID_HANDLE_VALUE) << "the archive was deleted";
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

// ---- System menu and the close box ----

TEST_F(ReportDialogTest, AboutBoxOpensFromTheSystemMenuCommand) {
    // The system keeps flags in the low four bits of a command id: 0x1F is the About entry too.
    for (WPARAM command : {WPARAM{0x10}, WPARAM{0x1F}}) {
        SCOPED_TRACE(command);
        PostMessageW(dialog, WM_SYSCOMMAND, command, 0);
        HWND about = driver::WaitForOwnedMessageBox(dialog, 5000);
        ASSERT_NE(about, nullptr) << "no About box";
        EXPECT_EQ(driver::GetRemoteText(about), L"关于 VELKBugReport");
        EXPECT_EQ(driver::MessageBoxText(about), L"VELKBugReport，1.0 版");
        EXPECT_FALSE(IsWindowEnabled(dialog)) << "the About box is modal to the report dialog";
        ASSERT_TRUE(driver::PressMessageBoxOk(about));
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
        EXPECT_TRUE(IsWindowEnabled(dialog));
        EXPECT_TRUE(IsWindowVisible(dialog));
    }
}

// The ways a run ends: the close box and Alt+F4, and the upload worker's message, which must
// reach the dialog's handler also while the dialog is hidden (as it is during an upload).
TEST(ReportDialogEndTest, EachEndingEndsTheProcess) {
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        bool hiddenFirst;
    };
    const Case cases[] = {
        {"close box", WM_SYSCOMMAND, SC_CLOSE, false},
        {"close request (Alt+F4)", WM_CLOSE, 0, false},
        {"upload finished", velk::WM_UPLOAD_FINISHED, 0, false},
        {"upload finished while hidden", velk::WM_UPLOAD_FINISHED, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReporterProcess reporter;
        HWND dialog = reporter.StartAndWait();
        ASSERT_NE(dialog, nullptr);
        if (c.hiddenFirst) {
            ShowWindowAsync(dialog, SW_HIDE);
            for (int i = 0; i < 150 && IsWindowVisible(dialog); ++i) Sleep(20);
            ASSERT_FALSE(IsWindowVisible(dialog));
        }
        PostMessageW(dialog, c.message, c.wParam, 0);
        EXPECT_EQ(reporter.WaitForExit(10000), 0u);
        EXPECT_EQ(driver::FindReportDialog(reporter.ProcessId()), nullptr);
    }
}

}  // namespace
