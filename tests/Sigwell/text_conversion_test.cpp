#include "TextConversion.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct Utf8Case {
    const char *pszName;
    const wchar_t *pwszWide;
    const char *pszUTF8;
};

// U+1F600 lies outside the BMP: a surrogate pair in UTF-16, four bytes in
// UTF-8.
const Utf8Case kCases[] = {
    {"Empty", L"", ""},
    {"Ascii", L"CN=Test, O=Lorvin", "CN=Test, O=Lorvin"},
    {"Chinese", L"\u8bc1\u4e66", "\xe8\xaf\x81\xe4\xb9\xa6"},
    {"OutsideBmp", L"a\xd83d\xde00z", "a\xf0\x9f\x98\x80z"},
};

class TextConversion : public ::testing::TestWithParam<Utf8Case> { };

TEST_P(TextConversion, WideToUtf8)
{
    char *pszOut = nullptr;
    int nLength = -1;
    ASSERT_EQ(UTF16ToUTF8(GetParam().pwszWide, &pszOut, &nLength), S_OK);
    std::unique_ptr<char[]> holder(pszOut);
    EXPECT_EQ(std::string(pszOut), GetParam().pszUTF8);
    EXPECT_EQ(nLength, static_cast<int>(strlen(GetParam().pszUTF8)));
}

TEST_P(TextConversion, Utf8ToWide)
{
    wchar_t *pwszOut = nullptr;
    int nLength = -1;
    ASSERT_EQ(UTF8ToUTF16(GetParam().pszUTF8, &pwszOut, &nLength), S_OK);
    std::unique_ptr<wchar_t[]> holder(pwszOut);
    EXPECT_EQ(std::wstring(pwszOut), GetParam().pwszWide);
    EXPECT_EQ(nLength, static_cast<int>(wcslen(GetParam().pwszWide)));
}

INSTANTIATE_TEST_SUITE_P(Texts, TextConversion, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.pszName); });

TEST(TextConversionFailure, NullTextGivesPointerErrorAndNoBuffer)
{
    char *pszOut = nullptr;
    wchar_t *pwszOut = nullptr;
    int nLength = 7;
    EXPECT_EQ(UTF16ToUTF8(nullptr, &pszOut, &nLength), E_POINTER);
    EXPECT_EQ(UTF8ToUTF16(nullptr, &pwszOut, &nLength), E_POINTER);
    EXPECT_EQ(pszOut, nullptr);
    EXPECT_EQ(pwszOut, nullptr);
}

TEST(TextConversionFailure, InvalidUtf8IsReplacedNotRefused)
{
    wchar_t *pwszOut = nullptr;
    int nLength = 0;
    ASSERT_EQ(UTF8ToUTF16("a\xff"
                          "b",
                          &pwszOut, &nLength),
              S_OK);
    std::unique_ptr<wchar_t[]> holder(pwszOut);
    EXPECT_EQ(nLength, 3);
    EXPECT_EQ(pwszOut[0], L'a');
    EXPECT_EQ(pwszOut[2], L'b');
}

} // namespace
