// The description's length limit as a function: the UTF-8 size that decides and the cut that keeps
// 200 UTF-16 units without a half surrogate pair at the end. The box's own behaviour (change
// events, caret) is in report_dialog_gui_test.cpp.
#include <gtest/gtest.h>

#include <string>

#include "app/description_limit.h"

namespace {

const std::wstring kHigh(1, static_cast<wchar_t>(0xD83D));
const std::wstring kLow(1, static_cast<wchar_t>(0xDE00));
const std::wstring kPair = kHigh + kLow;  // U+1F600

std::wstring Repeat(const std::wstring& piece, int count) {
    std::wstring text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
}

TEST(DescriptionLimitTest, Utf8SizeCountsTheTerminatorAndThreeBytesPerChineseCharacter) {
    struct Case {
        const char* name;
        std::wstring text;
        int size;
    };
    const Case cases[] = {
        {"empty", L"", 1},
        {"199 ASCII: at the limit, never cut", Repeat(L"a", 199), 200},
        {"200 ASCII: one over", Repeat(L"a", 200), 201},
        {"66 Chinese", Repeat(L"错", 66), 199},
        {"67 Chinese", Repeat(L"错", 67), 202},
        {"a two-byte letter", L"\u00E9", 3},
        {"a pair is one four-byte character", kPair, 5},
        {"an unpaired half is the replacement character", kHigh, 4},
        {"a low half before its high half: two replacement characters", kLow + kHigh, 7},
        {"counting stops at a zero unit, as the converter's does", std::wstring(L"ab\0cd", 5), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(velk::Utf8SizeWithTerminator(c.text), c.size);
    }
}

TEST(DescriptionLimitTest, CutKeeps200UnitsAndNoHalfPairAtTheEnd) {
    const std::wstring a198 = Repeat(L"a", 198);
    const std::wstring a199 = Repeat(L"a", 199);
    const std::wstring zh66 = Repeat(L"错", 66);
    struct Case {
        const char* name;
        std::wstring text;
        std::wstring kept;
    };
    const Case cases[] = {
        {"300 ASCII keep 200", Repeat(L"x", 300), Repeat(L"x", 200)},
        {"200 ASCII are their own cut", Repeat(L"x", 200), Repeat(L"x", 200)},
        {"201 Chinese keep 200", Repeat(L"中", 201), Repeat(L"中", 200)},
        {"empty stays empty", L"", L""},
        {"pair across the cut goes whole", a199 + kPair + L"z", a199},
        {"pair across the cut at the very end goes whole", a199 + kPair, a199},
        {"pair ending at the cut stays", a198 + kPair + L"z", a198 + kPair},
        {"high half typed last stays: its low half comes next", a199 + kHigh, a199 + kHigh},
        {"high half cut off from what followed goes", a199 + kHigh + L"z", a199},
        {"low half whose high half is gone goes", a199 + kLow, a199},
        {"under 200 units a typed high half stays", zh66 + kHigh, zh66 + kHigh},
        {"under 200 units a whole pair stays", zh66 + kPair, zh66 + kPair},
        {"dropping one half can uncover another", a198 + kLow + kHigh + L"zz", a198},
        {"nothing but high halves leaves nothing", Repeat(kHigh, 201), L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring kept = velk::CutDescription(c.text);
        EXPECT_EQ(kept, c.kept) << kept.size() << " units kept";
        EXPECT_LE(kept.size(), velk::kDescriptionKeptUnits);
    }
}

}  // namespace
