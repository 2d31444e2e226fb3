#include "ErrorCode.h"
#include "ErrorText.h"
#include "WineQuirks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const LANGID ENGLISH = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID CHINESE = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

struct ConversionCase {
    DWORD dwLastError;
    HRESULT hrAgent;
    HRESULT hrWin32;
};

// The agent keeps own codes apart; the utility functions see every
// positive value as a Win32 error.
const ConversionCase kConversions[] = {
    {0, VESK_OK, VESK_OK},
    {ERROR_ACCESS_DENIED, static_cast<HRESULT>(0x80070005), static_cast<HRESULT>(0x80070005)},
    {0x20001002, VESK_E_USER_CANCELED, static_cast<HRESULT>(0x80071002)},
    {0x20002001, VESK_E_CERT_NOT_READY, static_cast<HRESULT>(0x80072001)},
    {0x80090016, static_cast<HRESULT>(0x80090016), static_cast<HRESULT>(0x80090016)},
    {0x000104C7, static_cast<HRESULT>(0x800704C7), static_cast<HRESULT>(0x800704C7)},
};

class LastErrorConversion : public ::testing::TestWithParam<ConversionCase> { };

TEST_P(LastErrorConversion, BecomesStatus)
{
    EXPECT_EQ(StatusFromLastError(GetParam().dwLastError), GetParam().hrAgent);
    EXPECT_EQ(Win32StatusFromLastError(GetParam().dwLastError), GetParam().hrWin32);
}

INSTANTIATE_TEST_SUITE_P(Codes, LastErrorConversion, ::testing::ValuesIn(kConversions));

TEST(LastErrorConversion, OwnCodeTravelsAsCustomerLastError)
{
    EXPECT_EQ(LastErrorFromOwnCode(VESK_E_USER_CANCELED), 0x20001002u);
    EXPECT_EQ(StatusFromLastError(LastErrorFromOwnCode(VESK_E_TOO_MANY_KEYS)), VESK_E_TOO_MANY_KEYS);
}

// Reads string id from the table of one language, as the resource holds it.
std::wstring TableText(UINT uId, LANGID wLang)
{
    HMODULE hModule = GetModuleHandleW(nullptr);
    HRSRC hRes = FindResourceExW(hModule, RT_STRING, MAKEINTRESOURCEW(uId / 16 + 1), wLang);
    if (hRes == nullptr) return L"<no block>";
    const WCHAR *pw = static_cast<const WCHAR *>(LockResource(LoadResource(hModule, hRes)));
    for (UINT i = 0; i < uId % 16; ++i) pw += 1 + *pw;
    return std::wstring(pw + 1, *pw);
}

struct TextCase {
    HRESULT hrCode;
    const wchar_t *pwszEnglish;
    const wchar_t *pwszChinese;
};

// Texts stand as shipped, their spelling included.
const TextCase kTexts[] = {
    {VESK_E_NO_CERTIFICATE, L"There is no available certificate in store.",
     L"\u8bc1\u4e66\u5e93\u4e2d\u6ca1\u6709\u53ef\u7528\u7684\u8bc1\u4e66"},
    {VESK_E_NO_KEY_USAGE, L"Specified certificate doesn't contain key usage attribute.",
     L"\u6307\u5b9a\u8bc1\u4e66\u4e0d\u542b\u6709\u5bc6\u94a5\u7528\u9014\u5c5e\u6027"},
    {static_cast<HRESULT>(0xA0071035), L"Special cert isn't exsit", L"\u6307\u5b9a\u8bc1\u4e66\u4e0d\u5b58\u5728"},
    {static_cast<HRESULT>(0xA0071107), L"Sing failed.", L"\u7b7e\u540d\u5931\u8d25"},
    {VESK_E_TOO_MANY_KEYS, L"More than one Key be inserted.", L"\u53ea\u5141\u8bb8\u63d2\u4e00\u628aKey"},
    {VESK_E_CERT_NOT_READY, L"Certificate is not ready.", L"\u8bc1\u4e66\u6ca1\u6709\u51c6\u5907\u597d"},
    {VESK_E_INVALID_KEY_ALG, L"Invalid key algorithm.", L"\u65e0\u6548\u7684\u5bc6\u94a5\u7b97\u6cd5"},
};

class StatusText : public ::testing::TestWithParam<TextCase> { };

TEST_P(StatusText, BothTablesCarryIt)
{
    UINT uId = static_cast<UINT>(GetParam().hrCode) & 0xFFFF;
    EXPECT_EQ(TableText(uId, ENGLISH), GetParam().pwszEnglish);
    EXPECT_EQ(TableText(uId, CHINESE), GetParam().pwszChinese);
}

INSTANTIATE_TEST_SUITE_P(Table, StatusText, ::testing::ValuesIn(kTexts));

std::wstring Describe(HRESULT hrStatus)
{
    BSTR bstrDesc = nullptr;
    EXPECT_EQ(FormatErrorDesc(GetModuleHandleW(nullptr), hrStatus, &bstrDesc), S_OK);
    std::wstring desc(bstrDesc, SysStringLen(bstrDesc));
    SysFreeString(bstrDesc);
    return desc;
}

class ErrorDesc : public ::testing::Test {
protected:
    void SetUp() override { m_wOldLang = GetThreadUILanguage(); }
    void TearDown() override { SetThreadUILanguage(m_wOldLang); }

    // The language the resource lookup will use after asking for wLang.
    static LANGID EffectiveLanguage(LANGID wLang)
    {
        SetThreadUILanguage(wLang);
        if (ThreadUILanguageIgnoredByResources()) wLang = GetUserDefaultUILanguage();
        return wLang == CHINESE ? CHINESE : ENGLISH;
    }

    LANGID m_wOldLang = 0;
};

// Run once per user-interface language (the test list starts it again
// with a Chinese one), so both tables are reached through the lookup.
TEST_F(ErrorDesc, OwnCodeTextFollowsUILanguage)
{
    for (LANGID wLang : {ENGLISH, CHINESE}) {
        const wchar_t *pwszExpected = EffectiveLanguage(wLang) == CHINESE
            ? L"\u8bc1\u4e66\u6ca1\u6709\u51c6\u5907\u597d\n(0xa0072001)"
            : L"Certificate is not ready.\n(0xa0072001)";
        EXPECT_EQ(Describe(VESK_E_CERT_NOT_READY), pwszExpected) << "asked for " << wLang;
    }
}

TEST_F(ErrorDesc, CodeWithoutTextGivesOnlyTheCode)
{
    EXPECT_EQ(Describe(VESK_E_CERT_REGISTERED), L"\n(0xa0071009)");
    EXPECT_EQ(Describe(static_cast<HRESULT>(0xA007FFFF)), L"\n(0xa007ffff)");
}

TEST_F(ErrorDesc, SystemTextKeepsItsLineEnd)
{
    std::wstring desc = Describe(VESK_OK);
    const std::wstring suffix = L"\r\n\n(0x00000000)";
    ASSERT_GT(desc.size(), suffix.size());
    EXPECT_EQ(desc.substr(desc.size() - suffix.size()), suffix);
}

TEST_F(ErrorDesc, UnknownSystemStatusGivesOnlyTheCode)
{
    EXPECT_EQ(Describe(static_cast<HRESULT>(0x8007FFF0)), L"\n(0x8007fff0)");
}

TEST_F(ErrorDesc, NullOutPointerIsRefused)
{
    EXPECT_EQ(FormatErrorDesc(GetModuleHandleW(nullptr), VESK_OK, nullptr), E_POINTER);
}

} // namespace
