#include "Base64.h"

#include "ErrorCode.h"
#include "TraceHelper.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const DWORD GROUPS_PER_LINE = 19; // 76 characters

// Characters for 4 per started group and, with line breaks, CR LF per
// started line of 76 and 2 more.
unsigned long long RequiredLength(DWORD dwFlags, DWORD cbData)
{
    unsigned long long cch = (static_cast<unsigned long long>(cbData) + 2) / 3 * 4;
    if (!(dwFlags & BASE64_NO_LINE_BREAKS)) cch += (cch + 75) / 76 * 2 + 2;
    return cch;
}

// Text lengths travel as DWORDs and the buffer is one allocation.
const unsigned long long MAX_TEXT_CCH = 0x7FFFFFFE;

char *EncodeGroup(char *psz, const BYTE *pb, DWORD cb, bool bPad)
{
    DWORD n = static_cast<DWORD>(pb[0]) << 16;
    if (cb > 1) n |= static_cast<DWORD>(pb[1]) << 8;
    if (cb > 2) n |= pb[2];
    *psz++ = kAlphabet[(n >> 18) & 0x3F];
    *psz++ = kAlphabet[(n >> 12) & 0x3F];
    if (cb > 1)
        *psz++ = kAlphabet[(n >> 6) & 0x3F];
    else if (bPad)
        *psz++ = '=';
    if (cb > 2)
        *psz++ = kAlphabet[n & 0x3F];
    else if (bPad)
        *psz++ = '=';
    return psz;
}

// Each full line of 19 groups ends in CR LF; a final partial group follows
// the last full group directly.
size_t Encode(DWORD dwFlags, char *pszText, const BYTE *pbData, DWORD cbData)
{
    const bool bBreaks = !(dwFlags & BASE64_NO_LINE_BREAKS);
    const bool bPad = !(dwFlags & BASE64_NO_PADDING);
    char *psz = pszText;
    DWORD nGroups = 0;
    DWORD ib = 0;
    for (; cbData - ib >= 3; ib += 3) {
        psz = EncodeGroup(psz, pbData + ib, 3, bPad);
        if (bBreaks && ++nGroups % GROUPS_PER_LINE == 0) {
            *psz++ = '\r';
            *psz++ = '\n';
        }
    }
    if (ib < cbData) psz = EncodeGroup(psz, pbData + ib, cbData - ib, bPad);
    return static_cast<size_t>(psz - pszText);
}

} // namespace

HRESULT Base64EncodeEx(DWORD dwFlags, char **ppszText, const BYTE *pbData, DWORD cbData, DWORD *pcchText)
{
    TRACE_FUNCTION(L"Base64EncodeEx");
    if (ppszText == nullptr || pcchText == nullptr) {
        TRACE_FAILED(L"Check parameters", L"NULL == ppszText || NULL == pcchText", E_POINTER);
        return E_POINTER;
    }
    *ppszText = nullptr;
    // An encoder that refuses empty input must not pass as an empty text.
    if (pbData == nullptr || cbData == 0) {
        TRACE_FAILED(L"Check parameters", L"NULL == pbData || 0 == cbData", E_INVALIDARG);
        return E_INVALIDARG;
    }
    unsigned long long cchRequired = RequiredLength(dwFlags, cbData);
    char *pszText =
        cchRequired > MAX_TEXT_CCH ? nullptr : new (std::nothrow) char[static_cast<size_t>(cchRequired) + 1];
    if (pszText == nullptr) {
        TRACE_FAILED(L"New Memory", L"NULL == pszText", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memset(pszText, 0, static_cast<size_t>(cchRequired) + 1);
    *pcchText = static_cast<DWORD>(Encode(dwFlags, pszText, pbData, cbData));
    *ppszText = pszText;
    TRACE_OK(L"Base64Encode");
    return VESK_OK;
}

HRESULT Base64EncodeToBSTR(DWORD dwFlags, const BYTE *pbData, DWORD cbData, BSTR *pbstrText, DWORD *pcchText)
{
    char *pszBase64 = nullptr;
    DWORD cchBase64 = 0;
    HRESULT hResult = Base64EncodeEx(dwFlags, &pszBase64, pbData, cbData, &cchBase64);
    std::unique_ptr<char[]> base64(pszBase64);
    if (FAILED(hResult)) {
        TraceStatus(L"Base64EncodeEx", hResult);
        return hResult;
    }
    BSTR bstrText = SysAllocStringLen(nullptr, cchBase64);
    if (bstrText == nullptr) {
        TraceStatus(L"New Memory", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    for (DWORD i = 0; i < cchBase64; ++i) bstrText[i] = static_cast<unsigned char>(pszBase64[i]);
    *pbstrText = bstrText;
    if (pcchText != nullptr) *pcchText = cchBase64;
    return VESK_OK;
}
