#include "MessageTable.h"

namespace {

const wchar_t* const kSimplifiedChinese[MSG_COUNT] = {
    L"确 定",
    L"取 消",
    L"UKey提示",
    L"UKey错误",
    L"UKey设备选择",
    L"请选择UKey设备:",
    L"设备序列号:",
    L"验证UKey用户口令",
    L"请输入用户口令",
    L"软键盘",
    L"请插入您的UKey设备",
    L"设备内的空间已满，请更换设备。",
    L"口令错误，还剩%d次重试机会，请重新输入。",
    L"口令已经被锁定，请与银行工作人员联系。",
    L"操作失败。",
};

const wchar_t* const kTraditionalChinese[MSG_COUNT] = {
    L"確 定",
    L"取 消",
    L"UKey提示",
    L"UKey錯誤",
    L"UKey設備選擇",
    L"請選擇UKey設備:",
    L"設備序列號:",
    L"驗證UKey用戶口令",
    L"請輸入用戶口令",
    L"軟鍵盤",
    L"請插入您的UKey設備",
    L"設備內的空間已滿，請更換設備。",
    L"口令錯誤，還剩%d次重試機會，請重新輸入。",
    L"口令已經被鎖定，請與銀行工作人員聯繫。",
    L"操作失敗。",
};

const wchar_t* const kEnglish[MSG_COUNT] = {
    L"OK",
    L"Cancel",
    L"UKey Tips",
    L"UKey Error",
    L"UKey Select Dialog",
    L"Select UKey:",
    L"UKey SN:",
    L"Verify UKey PIN",
    L"Please Input PIN",
    L"Soft KeyBoard",
    L"Please Insert your UKey",
    L"The Device is Full, Please change other one.",
    L"PIN code is wrong, you left %d times retry opportunities，Please input again.",
    L"PIN is Locked, Please contact the bank staff association.",
    L"Operater Failed.",
};

constexpr LANGID kLangTraditionalChineseTaiwan = 0x0404;
constexpr LANGID kLangSimplifiedChinesePrc = 0x0804;

typedef LANGID(WINAPI* PFN_GetUILanguage)();

LANGID UserInterfaceLanguage()
{
    // Looked up by name: the UI-language functions are missing on the
    // oldest systems the provider still loads on.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    PFN_GetUILanguage getLanguage = nullptr;
    if (kernel) {
        getLanguage = reinterpret_cast<PFN_GetUILanguage>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")));
        if (!getLanguage)
            getLanguage = reinterpret_cast<PFN_GetUILanguage>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemDefaultUILanguage")));
    }
    LANGID language = getLanguage ? getLanguage() : 0;
    return language ? language : GetUserDefaultLangID();
}

MessageTable* g_messageTable = nullptr;

} // namespace

void SelectMessageTableFor(LANGID language, MessageTable* table)
{
    // The whole identifier decides: Hong Kong, Macao and Singapore
    // Chinese get English.
    if (language == kLangTraditionalChineseTaiwan) {
        table->language = LANGUAGE_TRADITIONAL_CHINESE;
        table->texts = kTraditionalChinese;
    } else if (language == kLangSimplifiedChinesePrc) {
        table->language = LANGUAGE_SIMPLIFIED_CHINESE;
        table->texts = kSimplifiedChinese;
    } else {
        table->language = LANGUAGE_ENGLISH;
        table->texts = kEnglish;
    }
}

void SelectMessageTable(MessageTable* table)
{
    SelectMessageTableFor(UserInterfaceLanguage(), table);
}

const MessageTable* GetMessageTable()
{
    // Two first uses at once each build a table with the same choice;
    // the last one stored is kept.
    if (!g_messageTable) {
        MessageTable* table = new MessageTable();
        SelectMessageTable(table);
        g_messageTable = table;
    }
    return g_messageTable;
}

void FreeMessageTable()
{
    delete g_messageTable;
    g_messageTable = nullptr;
}
