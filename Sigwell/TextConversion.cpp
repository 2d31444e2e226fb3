#include "TextConversion.h"

#include "ErrorCode.h"
#include "TraceHelper.h"

#include <cstring>
#include <new>

HRESULT UTF16ToUTF8(const wchar_t *pwszText, char **ppszUTF8, int *pnLength)
{
    TRACE_FUNCTION(L"UTF16ToUTF8");
    if (pwszText == nullptr || ppszUTF8 == nullptr || pnLength == nullptr) {
        TRACE_FAILED(L"Check parameters", L"NULL == pwszText", E_POINTER);
        return E_POINTER;
    }
    int cb = WideCharToMultiByte(CP_UTF8, 0, pwszText, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) {
        HRESULT hr = Win32StatusFromLastError(GetLastError());
        TRACE_FAILED(L"WideCharToMultiByte(size)", L"0 == nSize", hr);
        return hr;
    }
    char *pszUTF8 = new (std::nothrow) char[cb];
    if (pszUTF8 == nullptr) {
        TRACE_FAILED(L"New Memory", L"NULL == pszUTF8", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memset(pszUTF8, 0, cb);
    *ppszUTF8 = pszUTF8;
    if (WideCharToMultiByte(CP_UTF8, 0, pwszText, -1, pszUTF8, cb, nullptr, nullptr) == 0) {
        HRESULT hr = Win32StatusFromLastError(GetLastError());
        TRACE_FAILED(L"WideCharToMultiByte", L"0 == nResult", hr);
        return hr;
    }
    *pnLength = cb - 1;
    TRACE_OK(L"WideCharToMultiByte");
    return VESK_OK;
}

HRESULT UTF8ToUTF16(const char *pszText, wchar_t **ppwszUTF16, int *pnLength)
{
    TRACE_FUNCTION(L"UTF8ToUTF16");
    if (pszText == nullptr || ppwszUTF16 == nullptr || pnLength == nullptr) {
        TRACE_FAILED(L"Check parameters", L"NULL == pszText", E_POINTER);
        return E_POINTER;
    }
    int cbText = static_cast<int>(strlen(pszText)) + 1;
    int cch = MultiByteToWideChar(CP_UTF8, 0, pszText, cbText, nullptr, 0);
    if (cch <= 0) {
        HRESULT hr = Win32StatusFromLastError(GetLastError());
        TRACE_FAILED(L"MultiByteToWideChar(size)", L"0 == nSize", hr);
        return hr;
    }
    wchar_t *pwszUTF16 = new (std::nothrow) wchar_t[cch];
    if (pwszUTF16 == nullptr) {
        TRACE_FAILED(L"New Memory", L"NULL == pwszUTF16", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memset(pwszUTF16, 0, cch * sizeof(wchar_t));
    *ppwszUTF16 = pwszUTF16;
    if (MultiByteToWideChar(CP_UTF8, 0, pszText, cbText, pwszUTF16, cch) == 0) {
        HRESULT hr = Win32StatusFromLastError(GetLastError());
        TRACE_FAILED(L"MultiByteToWideChar", L"0 == nResult", hr);
        return hr;
    }
    *pnLength = cch - 1;
    TRACE_OK(L"MultiByteToWideChar");
    return VESK_OK;
}
