// The log line format: level names with their tab, zero-padded time stamp, message untouched.
#include "support/log_line.h"

#include <gtest/gtest.h>

using namespace velk;

TEST(LogLine, FormatsLevelStampAndMessage) {
    struct Case {
        LogLevel level;
        LocalTime time;
        std::wstring message;
        std::wstring expected;
    } cases[] = {
        {LogLevel::Error, {2024, 3, 7, 9, 5, 1}, L"POST出错，错误码:204", L"Error\t2024-03-07 09:05:01 POST出错，错误码:204"},
        {LogLevel::Fatal, {2026, 12, 31, 23, 59, 59}, L"x", L"Fatal\t2026-12-31 23:59:59 x"},
        {LogLevel::Warning, {999, 1, 1, 0, 0, 0}, L"", L"Warning\t0999-01-01 00:00:00 "},
        {LogLevel::Info, {2025, 10, 10, 10, 10, 10}, L"100% %s %d", L"Info\t2025-10-10 10:10:10 100% %s %d"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatLogLine(c.level, c.time, c.message), c.expected);
}
