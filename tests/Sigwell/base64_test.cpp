#include "Base64.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct Base64Case {
    const char *pszName;
    DWORD dwFlags;
    std::string data;
    std::string text;
};

const DWORD ONE_LINE = BASE64_NO_LINE_BREAKS;
const DWORD BARE = BASE64_NO_LINE_BREAKS | BASE64_NO_PADDING;
const std::string CRLF = "\r\n";

// Zero bytes encode as 'A', which makes line and padding boundaries easy
// to write down; the RFC 4648 vectors pin the alphabet and bit order.
const Base64Case kCases[] = {
    {"RfcF", ONE_LINE, "f", "Zg=="},
    {"RfcFo", ONE_LINE, "fo", "Zm8="},
    {"RfcFoo", ONE_LINE, "foo", "Zm9v"},
    {"RfcFoobar", ONE_LINE, "foobar", "Zm9vYmFy"},
    {"RfcFoobaUnpadded", BARE, "fooba", "Zm9vYmE"},
    {"OneByteUnpadded", BARE, "f", "Zg"},
    {"HighBitsUsePlusAndSlash", ONE_LINE, "\xfb\xff\xbf", "+/+/"},
    {"LineLength56NoBreak", 0, std::string(56, '\0'), std::string(74, 'A') + "A="},
    {"LineLength57EndsInBreak", 0, std::string(57, '\0'), std::string(76, 'A') + CRLF},
    {"LineLength58BreakThenPartial", 0, std::string(58, '\0'), std::string(76, 'A') + CRLF + "AA=="},
    {"TwoFullLines", 0, std::string(114, '\0'), std::string(76, 'A') + CRLF + std::string(76, 'A') + CRLF},
    {"OneLineFlagHasNoBreak", ONE_LINE, std::string(58, '\0'), std::string(76, 'A') + "AA=="},
    {"BreaksWithoutPadding", BASE64_NO_PADDING, std::string(58, '\0'), std::string(76, 'A') + CRLF + "AA"},
};

class Base64 : public ::testing::TestWithParam<Base64Case> { };

TEST_P(Base64, EncodesToText)
{
    const Base64Case &c = GetParam();
    char *pszText = nullptr;
    DWORD cchText = 0;
    ASSERT_EQ(Base64EncodeEx(c.dwFlags, &pszText, reinterpret_cast<const BYTE *>(c.data.data()),
                             static_cast<DWORD>(c.data.size()), &cchText),
              S_OK);
    std::unique_ptr<char[]> holder(pszText);
    EXPECT_EQ(std::string(pszText), c.text);
    EXPECT_EQ(cchText, c.text.size());
}

INSTANTIATE_TEST_SUITE_P(Boundaries, Base64, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.pszName); });

TEST(Base64Failure, EmptyInputIsAFailureWithoutText)
{
    const BYTE byData = 0;
    char *pszText = reinterpret_cast<char *>(1);
    DWORD cchText = 0;
    EXPECT_EQ(Base64EncodeEx(ONE_LINE, &pszText, &byData, 0, &cchText), E_INVALIDARG);
    EXPECT_EQ(pszText, nullptr);
    EXPECT_EQ(Base64EncodeEx(ONE_LINE, &pszText, nullptr, 4, &cchText), E_INVALIDARG);
}

} // namespace
