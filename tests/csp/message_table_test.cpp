// The message table's language choice and its texts.
#include "MessageTable.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LanguageCase {
    LANGID language;
    std::uint32_t expected;
    const wchar_t* okText;
};

class MessageLanguage : public ::testing::TestWithParam<LanguageCase> { };

TEST_P(MessageLanguage, WholeIdentifierPicksTheTable)
{
    MessageTable table = {};
    SelectMessageTableFor(GetParam().language, &table);
    EXPECT_EQ(table.language, GetParam().expected);
    EXPECT_STREQ(table.texts[MSG_OK], GetParam().okText);
}

INSTANTIATE_TEST_SUITE_P(Languages, MessageLanguage,
                         ::testing::Values(LanguageCase {0x0804, LANGUAGE_SIMPLIFIED_CHINESE, L"确 定"},
                                           LanguageCase {0x0404, LANGUAGE_TRADITIONAL_CHINESE, L"確 定"},
                                           LanguageCase {0x0C04, LANGUAGE_ENGLISH, L"OK"}, // Hong Kong
                                           LanguageCase {0x1004, LANGUAGE_ENGLISH, L"OK"}, // Singapore
                                           LanguageCase {0x1404, LANGUAGE_ENGLISH, L"OK"}, // Macao
                                           LanguageCase {0x0409, LANGUAGE_ENGLISH, L"OK"}));

TEST(MessageTable, EveryLanguageHasEveryText)
{
    for (LANGID language : {0x0804, 0x0404, 0x0409}) {
        MessageTable table = {};
        SelectMessageTableFor(language, &table);
        for (unsigned i = 0; i < MSG_COUNT; ++i) {
            ASSERT_NE(table.texts[i], nullptr) << language << " " << i;
            EXPECT_GT(std::wcslen(table.texts[i]), 0u) << language << " " << i;
        }
        EXPECT_NE(std::wstring(table.texts[MSG_WRONG_PIN]).find(L"%d"), std::wstring::npos);
        EXPECT_EQ(table.texts[MSG_SELECT_UKEY][std::wcslen(table.texts[MSG_SELECT_UKEY]) - 1], L':');
    }
}

TEST(MessageTable, WrongPinShowsTheCountAndKeepsTheFullWidthComma)
{
    MessageTable table = {};
    SelectMessageTableFor(0x0409, &table);
    wchar_t text[256];
    wsprintfW(text, table.texts[MSG_WRONG_PIN], 3);
    EXPECT_STREQ(text, L"PIN code is wrong, you left 3 times retry opportunities\xFF0CPlease input again.");
    SelectMessageTableFor(0x0804, &table);
    wsprintfW(text, table.texts[MSG_WRONG_PIN], 3);
    EXPECT_STREQ(text, L"口令错误\xFF0C还剩3次重试机会\xFF0C请重新输入\x3002");
}

TEST(MessageTable, ProcessTableIsMadeOnceAndKept)
{
    const MessageTable* first = GetMessageTable();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetMessageTable(), first);
    MessageTable expected = {};
    SelectMessageTable(&expected);
    EXPECT_EQ(first->language, expected.language);
}

} // namespace
