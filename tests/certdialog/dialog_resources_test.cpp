#include "resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// One string of the table in the given language, read from its block of 16
// counted strings, whatever the thread's UI language.
std::wstring StringIn(LANGID language, UINT id)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!block) return L"<missing>";
    const WCHAR *entry = static_cast<const WCHAR *>(LockResource(LoadResource(module, block)));
    for (UINT i = 0; i < id % 16; ++i) entry += 1 + *entry;
    return std::wstring(entry + 1, *entry);
}

// The texts the rows are formatted with, in both languages, as the system
// shows them; the Chinese ones must survive the resource compiler intact.
TEST(DialogResources, StringsInBothLanguages)
{
    struct {
        UINT id;
        const wchar_t *english;
        const wchar_t *chinese;
    } const strings[] = {
        {IDS_SELECT_CERTIFICATE, L"Select a Certificate", L"\u9009\u62e9\u8bc1\u4e66"},
        {IDS_ISSUER_FORMAT, L"Issuer: %ws", L"\u9881\u53d1\u8005: %ws"},
        {IDS_SERIAL_FORMAT, L"SN: %ws", L"\u5e8f\u5217\u53f7: %ws"},
        {IDS_VALIDITY_FORMAT, L"Valid From: %04d/%02d/%02d to %04d/%02d/%02d",
         L"\u6709\u6548\u671f: %04d/%02d/%02d \u81f3 %04d/%02d/%02d"},
    };
    for (const auto &text : strings) {
        EXPECT_EQ(text.english, StringIn(kEnglish, text.id)) << text.id;
        EXPECT_EQ(text.chinese, StringIn(kChinese, text.id)) << text.id;
    }
}

TEST(DialogResources, DialogInBothLanguagesAndImagesOnce)
{
    HMODULE module = GetModuleHandleW(nullptr);
    for (LANGID language : {kEnglish, kChinese})
        EXPECT_NE(nullptr,
                  FindResourceExW(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(IDD_SELECT_CERTIFICATE), language))
            << language;
    for (UINT id : {IDP_SYSTEM_CERTIFICATE, IDP_KEY_CERTIFICATE, IDP_CERTIFICATE_FRAME})
        EXPECT_NE(nullptr, FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG")) << id;
}

} // namespace
