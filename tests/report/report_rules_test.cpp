// Covers the pure naming, line and date rules of the report (archive base name, entry name, info log
// bytes, the date name, which file dates count as today); not the files they end up in, nor the
// system's clock, which the Wine tests beside this one check.
#include "report/report_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SafeArchiveBaseName, ReplacesWhatFileNamesMayNotHold) {
    struct Case {
        std::wstring account;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"abc", L"abc"},
        {L"20261208", L"20261208"},
        {L"..\\..\\x", L".._.._x"},
        {L"../../x", L".._.._x"},
        {L"C:\\Windows\\x", L"C__Windows_x"},
        {L"a?b*", L"a_b_"},
        {L"\"<q>|", L"__q__"},
        {L"tab\there\x01\x1f", L"tab_here__"},
        {L"\x7f" L"del", L"\x7f" L"del"},  // DEL is allowed in file names
        {L"张三 demo.01", L"张三 demo.01"},
        {L"..", L".."},  // "...zip" is an ordinary file name in the same directory
        {L"NUL", L"_NUL"},
        {L"con", L"_con"},
        {L"Aux.tar", L"_Aux.tar"},
        {L"prn  .x", L"_prn  .x"},
        {L"COM1", L"_COM1"},
        {L"lpt9", L"_lpt9"},
        {L"COM0", L"COM0"},
        {L"COM10", L"COM10"},
        {L"CONSOLE", L"CONSOLE"},
        {L"xNUL", L"xNUL"},
    };
    for (const Case& c : cases) EXPECT_EQ(velk::SafeArchiveBaseName(c.account), c.expected) << c.account.size();
}

TEST(SafeArchiveBaseName, CutsLongNamesWithoutSplittingACharacter) {
    EXPECT_EQ(velk::SafeArchiveBaseName(std::wstring(300, L'a')), std::wstring(velk::kMaxArchiveBaseName, L'a'));
    EXPECT_EQ(velk::SafeArchiveBaseName(std::wstring(velk::kMaxArchiveBaseName, L'b')),
              std::wstring(velk::kMaxArchiveBaseName, L'b'));
    // A surrogate pair straddling the cut goes as a whole.
    std::wstring pair = std::wstring(velk::kMaxArchiveBaseName - 1, L'c') + L"\xD83D\xDE00" + L"tail";
    EXPECT_EQ(velk::SafeArchiveBaseName(pair), std::wstring(velk::kMaxArchiveBaseName - 1, L'c'));
    // The characters past the cut are not looked at: a '?' there changes nothing.
    std::wstring late = std::wstring(velk::kMaxArchiveBaseName, L'd') + L"?";
    EXPECT_EQ(velk::SafeArchiveBaseName(late), std::wstring(velk::kMaxArchiveBaseName, L'd'));
}

TEST(EntryNameOf, TakesTheBareFileName) {
    struct Case {
        std::wstring path;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"C:\\app\\INFOLOG.TXT", L"INFOLOG.TXT"},
        {L"C:\\Users\\u\\AppData\\Local\\Temp\\Vizoziv\\trace 1.log", L"trace 1.log"},
        {L"\\\\server\\share\\x.bin", L"x.bin"},
        {L"C:\\dir.d\\noext", L"noext"},
        {L"plain.txt", L"plain.txt"},
        {L"\\rooted.txt", L"\\rooted.txt"},
        {L"a\\b", L"b"},
        {L"dir/with/slashes.txt", L"dir/with/slashes.txt"},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(velk::EntryNameOf(c.path), c.expected) << c.path.size();
}

TEST(InfoLogText, FixedLabelBytesThenValuesOneLineEach) {
    const std::string label1 = "\xB5\xC7\xC2\xBC\xD5\xCB\xBA\xC5\x3A\x20";
    const std::string label2 = "Tovrek:  ";
    const std::string label3 = "\xC8\xD5\x20\x20\x20\x20\xC6\xDA\x3A\x20\x20\x20";
    EXPECT_EQ(velk::InfoLogText("demo01", "3.1.0.25", "2024.03.07 09:05:01"),
              label1 + "demo01\n" + label2 + "3.1.0.25\n" + label3 + "2024.03.07 09:05:01\n");
    EXPECT_EQ(velk::InfoLogText("", "", ""), label1 + "\n" + label2 + "\n" + label3 + "\n");
    // Values are already narrow text of the ANSI code page and go in byte for byte.
    EXPECT_EQ(velk::InfoLogText("\xD5\xC5\xC8\xFD", "10.0.0.1", "x"),
              label1 + "\xD5\xC5\xC8\xFD\n" + label2 + "10.0.0.1\n" + label3 + "x\n");
}

TEST(LocalTimeTexts, InfoLogTimeAndDateNamePadEveryField) {
    struct Case {
        velk::LocalTime time;
        std::wstring infoLog;
        std::wstring dateName;
    };
    const Case cases[] = {
        {{2024, 3, 7, 9, 5, 1}, L"2024.03.07 09:05:01", L"20240307"},
        {{2026, 12, 31, 23, 59, 59}, L"2026.12.31 23:59:59", L"20261231"},
        {{999, 1, 1, 0, 0, 0}, L"0999.01.01 00:00:00", L"09990101"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(velk::FormatInfoLogTime(c.time), c.infoLog);
        EXPECT_EQ(velk::MakeDateString(c.time), c.dateName);
    }
}

// The date rule alone, on chosen clocks; the Wine test beside this one sets real file times.
TEST(IsTodayOrLater, TheDatesDecideAndALaterDateCountsAsToday) {
    struct Case {
        const char* what;
        velk::LocalTime written;
        velk::LocalTime today;
        bool selected;
    };
    const Case cases[] = {
        {"today just after midnight", {2026, 12, 10, 0, 0, 1}, {2026, 12, 10, 23, 59, 0}, true},
        {"today, later than the clock", {2026, 12, 10, 23, 59, 59}, {2026, 12, 10, 0, 5, 0}, true},
        {"yesterday a second before midnight", {2026, 12, 9, 23, 59, 59}, {2026, 12, 10, 0, 0, 1}, false},
        {"the last day of the month before", {2026, 11, 30, 12, 0, 0}, {2026, 12, 1, 12, 0, 0}, false},
        {"the day after, across a year end", {2027, 1, 1, 0, 0, 0}, {2026, 12, 31, 23, 0, 0}, true},
        {"a later month with a smaller day", {2026, 12, 1, 0, 0, 0}, {2026, 11, 30, 0, 0, 0}, true},
        {"an earlier year with a later month and day", {2025, 12, 31, 0, 0, 0}, {2026, 1, 1, 0, 0, 0}, false},
        {"same month, a day earlier", {2026, 12, 9, 12, 0, 0}, {2026, 12, 10, 12, 0, 0}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(velk::IsTodayOrLater(c.written, c.today), c.selected) << c.what;
}

TEST(InstanceLockName, OneNamePerFolderWhateverItsSpellingOrLength) {
    const std::wstring path = L"C:\\Program Files\\Tovrek\\abc.zip";
    const std::wstring name = velk::InstanceLockName(L"archive", path);
    // Spellings the file system takes for the same file give the same lock.
    EXPECT_EQ(velk::InstanceLockName(L"archive", L"c:\\PROGRAM FILES\\tovrek\\ABC.ZIP"), name);
    EXPECT_EQ(velk::InstanceLockName(L"archive", L"C:/Program Files/Tovrek/abc.zip"), name);
    // Another file, or another use of the same path, is another lock.
    EXPECT_NE(velk::InstanceLockName(L"archive", L"C:\\Program Files\\Tovrek\\abd.zip"), name);
    EXPECT_NE(velk::InstanceLockName(L"collect", path), name);
    // A kernel object name: the session prefix, then no backslash, and short for any path.
    const std::wstring deep = velk::InstanceLockName(L"collect", std::wstring(5000, L'd'));
    for (const std::wstring& n : {name, deep}) {
        EXPECT_EQ(n.compare(0, 6, L"Local\\"), 0) << n;
        EXPECT_EQ(n.find(L'\\', 6), std::wstring::npos) << n;
        EXPECT_LT(n.size(), 100u) << n;
    }
}

}  // namespace
