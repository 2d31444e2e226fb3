#include "ErrorText.h"

#include "ErrorCode.h"
#include "TraceHelper.h"

#include <cwchar>

namespace {

// "\n(0x%08x)": a line feed, the parentheses and ten characters.
const int CODE_SUFFIX_CCH = 13;

// The message may take what the code leaves of the 511 characters, so the
// code always fits behind it.
const int MESSAGE_CCH = ERROR_DESC_CCH - 1 - CODE_SUFFIX_CCH;

void LoadOwnText(HMODULE hModule, HRESULT hrStatus, wchar_t *pwszText)
{
    LoadStringW(hModule, static_cast<UINT>(hrStatus) & 0xFFFF, pwszText, MESSAGE_CCH + 1);
}

// The system's text is fetched whole and then shortened: asked into a
// buffer too small for it, FormatMessageW fails and would give no text.
void LoadSystemText(HRESULT hrStatus, wchar_t *pwszText)
{
    wchar_t *pwszSystem = nullptr;
    DWORD cch =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hrStatus), 0, reinterpret_cast<wchar_t *>(&pwszSystem), 0, nullptr);
    if (cch == 0 || pwszSystem == nullptr) return;
    wcsncpy(pwszText, pwszSystem, MESSAGE_CCH);
    pwszText[MESSAGE_CCH] = L'\0';
    LocalFree(pwszSystem);
}

} // namespace

HRESULT FormatErrorDesc(HMODULE hModule, HRESULT hrStatus, BSTR *pbstrDesc)
{
    TRACE_FUNCTION(L"FormatErrorDesc");
    if (pbstrDesc == nullptr) {
        TRACE_FAILED(L"Check parameter(pbstrDesc)", L"NULL == pbstrDesc", E_POINTER);
        return E_POINTER;
    }
    *pbstrDesc = nullptr;

    wchar_t wszText[ERROR_DESC_CCH] = {};
    if (static_cast<DWORD>(hrStatus) & VESK_CUSTOMER_BIT)
        LoadOwnText(hModule, hrStatus, wszText);
    else
        LoadSystemText(hrStatus, wszText);

    size_t cchText = wcslen(wszText);
    swprintf(wszText + cchText, ERROR_DESC_CCH - cchText, L"\n(0x%08lx)", static_cast<unsigned long>(hrStatus));

    *pbstrDesc = SysAllocString(wszText);
    if (*pbstrDesc == nullptr) {
        TRACE_FAILED(L"SysAllocString", L"NULL == *pbstrDesc", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    TRACE_OK(L"SysAllocString");
    return VESK_OK;
}
