// Wide/UTF-8/ANSI conversions under Wine's code page 936 (and 1252 in a second run); what a real
// Windows code page table would give for rare characters is only as good as Wine's tables.
#include "support/text_convert.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace velk;

TEST(TextConvert, NullAndEmptyGiveEmpty) {
    EXPECT_EQ(WideToUtf8(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(WideToAnsi(static_cast<const wchar_t*>(nullptr)), "");
    EXPECT_EQ(Utf8ToWide(static_cast<const char*>(nullptr)), L"");
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(TextConvert, Utf8RoundTrip) {
    const std::wstring texts[] = {L"demo01", L"错误报告 请您描述一下", L"\U0001F600 outside the BMP", L"a\r\nb\tc"};
    for (const auto& text : texts) EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(WideToUtf8(L"错误"), "\xE9\x94\x99\xE8\xAF\xAF");
}

TEST(TextConvert, AnsiIsCodePage936) {
    if (GetACP() != 936) GTEST_SKIP() << "needs code page 936";
    EXPECT_EQ(WideToAnsi(L"错误"), "\xB4\xED\xCE\xF3");
    EXPECT_EQ(WideToAnsi(L"abc"), "abc");
}

TEST(TextConvert, CodePage1252HasNoChinese) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
    EXPECT_EQ(WideToAnsi(L"a错b"), "a?b");
}

TEST(TextConvert, InvalidUtf8DoesNotFail) {
    std::wstring out = Utf8ToWide("ok\xFF\xFE!");
    EXPECT_EQ(out.substr(0, 2), L"ok");
    EXPECT_EQ(out.back(), L'!');
}
