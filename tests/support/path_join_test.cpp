// Joining and splitting paths as text: one separator at every join, drive roots and shares kept,
// the "\\?\" form both ways. Whether the system then finds the file is for the tests under Wine.
#include "support/path_join.h"

#include <gtest/gtest.h>

using namespace velk;

TEST(JoinPath, OneSeparatorWhateverTheFolderEndsIn) {
    struct Case {
        std::wstring folder, name, expected;
    };
    const Case cases[] = {
        {L"C:\\Tovrek", L"TovrekCRM.exe", L"C:\\Tovrek\\TovrekCRM.exe"},
        {L"C:\\Tovrek\\", L"TovrekCRM.exe", L"C:\\Tovrek\\TovrekCRM.exe"},
        {L"Q:\\", L"TovrekCRM.exe", L"Q:\\TovrekCRM.exe"},
        {L"Q:\\", L"\\TovrekCRM.exe", L"Q:\\TovrekCRM.exe"},
        {L"C:\\Tovrek", L"\\\\log", L"C:\\Tovrek\\log"},
        {L"C:/Tovrek/", L"a.zip", L"C:/Tovrek/a.zip"},
        {L"\\\\server\\share", L"a.zip", L"\\\\server\\share\\a.zip"},
        {L"C:\\Tovrek", L"Temp\\Vizoziv", L"C:\\Tovrek\\Temp\\Vizoziv"},
        {L"", L"a.zip", L"a.zip"},
    };
    for (const Case& c : cases) EXPECT_EQ(JoinPath(c.folder, c.name), c.expected) << c.folder << L" + " << c.name;
}

TEST(DirectoryOf, CutsTheLastComponentAndKeepsARoot) {
    struct Case {
        std::wstring path, expected;
    };
    const Case cases[] = {
        {L"C:\\Tovrek\\VELKBugReport.exe", L"C:\\Tovrek"},
        {L"Q:\\VELKBugReport.exe", L"Q:\\"},
        {L"\\\\?\\Q:\\VELKBugReport.exe", L"\\\\?\\Q:\\"},
        {L"\\\\server\\share\\VELKBugReport.exe", L"\\\\server\\share"},
        {L"\\VELKBugReport.exe", L"\\"},
        {L"VELKBugReport.exe", L""},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(DirectoryOf(c.path), c.expected) << c.path;
}

TEST(ExtendedLengthPath, BothWays) {
    struct Case {
        std::wstring path, extended;
    };
    const Case cases[] = {
        {L"C:\\Tovrek\\uploadcrash.ini", L"\\\\?\\C:\\Tovrek\\uploadcrash.ini"},
        {L"\\\\server\\share\\uploadcrash.ini", L"\\\\?\\UNC\\server\\share\\uploadcrash.ini"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToExtendedLengthPath(c.path), c.extended);
        EXPECT_EQ(ToExtendedLengthPath(c.extended), c.extended) << "already extended";
        EXPECT_EQ(FromExtendedLengthPath(c.extended), c.path);
        EXPECT_EQ(FromExtendedLengthPath(c.path), c.path) << "nothing to take off";
    }
}
