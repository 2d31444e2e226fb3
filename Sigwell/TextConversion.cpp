#include "TextConversion.h"

#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "TraceHelper.h"

#include <cstring>
#include <new>

namespace {

// Trace names of one direction's steps.
struct ConversionSteps {
    const wchar_t *size;     // the sizing call
    const wchar_t *noMemory; // the failed allocation's condition
    const wchar_t *convert;  // the converting call
};

// The converter's two calls, sizing and converting, into a new zeroed
// buffer that is the caller's from the moment it exists. convert(out,
// room) is the converter's call; with no buffer it gives the room needed.
template <class Char, class Convert>
HRESULT ConvertIntoNewBuffer(const wchar_t *kTraceFunction, const ConversionSteps &steps, Convert convert, Char **ppOut,
                             int *pnLength)
{
    int cch = convert(nullptr, 0);
    if (cch <= 0) {
        HRESULT hr = FailedCallStatus();
        TRACE_FAILED(steps.size, L"0 == nSize", hr);
        return hr;
    }
    Char *pOut = new (std::nothrow) Char[cch];
    if (pOut == nullptr) {
        TRACE_FAILED(L"New Memory", steps.noMemory, E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memset(pOut, 0, cch * sizeof(Char));
    *ppOut = pOut;
    if (convert(pOut, cch) == 0) {
        HRESULT hr = FailedCallStatus();
        TRACE_FAILED(steps.convert, L"0 == nResult", hr);
        return hr;
    }
    *pnLength = cch - 1;
    TRACE_OK(steps.convert);
    return VESK_OK;
}

HRESULT FromUTF16(const wchar_t *kTraceFunction, UINT uCodePage, const wchar_t *pwszText, char **ppszOut, int *pnLength)
{
    if (pwszText == nullptr || ppszOut == nullptr || pnLength == nullptr) {
        TRACE_FAILED(L"Check parameters", L"NULL == pwszText", E_POINTER);
        return E_POINTER;
    }
    static const ConversionSteps kSteps = {L"WideCharToMultiByte(size)", L"NULL == pszUTF8", L"WideCharToMultiByte"};
    return ConvertIntoNewBuffer(
        kTraceFunction, kSteps,
        [uCodePage, pwszText](char *pszOut, int cb) {
            return WideCharToMultiByte(uCodePage, 0, pwszText, -1, pszOut, cb, nullptr, nullptr);
        },
        ppszOut, pnLength);
}

HRESULT ToUTF16(const wchar_t *kTraceFunction, UINT uCodePage, const char *pszText, wchar_t **ppwszUTF16, int *pnLength)
{
    if (pszText == nullptr || ppwszUTF16 == nullptr || pnLength == nullptr) {
        TRACE_FAILED(L"Check parameters", L"NULL == pszText", E_POINTER);
        return E_POINTER;
    }
    const int cbText = static_cast<int>(strlen(pszText)) + 1;
    static const ConversionSteps kSteps = {L"MultiByteToWideChar(size)", L"NULL == pwszUTF16", L"MultiByteToWideChar"};
    return ConvertIntoNewBuffer(
        kTraceFunction, kSteps,
        [uCodePage, pszText, cbText](wchar_t *pwszOut, int cch) {
            return MultiByteToWideChar(uCodePage, 0, pszText, cbText, pwszOut, cch);
        },
        ppwszUTF16, pnLength);
}

} // namespace

HRESULT UTF16ToUTF8(const wchar_t *pwszText, char **ppszUTF8, int *pnLength)
{
    TRACE_FUNCTION(L"UTF16ToUTF8");
    return FromUTF16(kTraceFunction, CP_UTF8, pwszText, ppszUTF8, pnLength);
}

HRESULT UTF8ToUTF16(const char *pszText, wchar_t **ppwszUTF16, int *pnLength)
{
    TRACE_FUNCTION(L"UTF8ToUTF16");
    return ToUTF16(kTraceFunction, CP_UTF8, pszText, ppwszUTF16, pnLength);
}

HRESULT UTF16ToANSI(const wchar_t *pwszText, char **ppszANSI, int *pnLength)
{
    TRACE_FUNCTION(L"UTF16ToANSI");
    return FromUTF16(kTraceFunction, CP_ACP, pwszText, ppszANSI, pnLength);
}

HRESULT ANSIToUTF16(const char *pszText, wchar_t **ppwszUTF16, int *pnLength)
{
    TRACE_FUNCTION(L"ANSIToUTF16");
    return ToUTF16(kTraceFunction, CP_ACP, pszText, ppwszUTF16, pnLength);
}

namespace {

// Length of the well-formed sequence at p, or 0 (Unicode's table of
// well-formed byte sequences: no overlongs, surrogates or values past
// U+10FFFF).
size_t WellFormedLength(const unsigned char *p)
{
    const unsigned char b0 = p[0];
    if (b0 < 0x80) return 1;
    unsigned char lo = 0x80, hi = 0xBF;
    size_t cb = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        cb = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        cb = 3;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;
        hi = b0 == 0xED ? 0x9F : 0xBF;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        cb = 4;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (p[1] < lo || p[1] > hi) return 0;
    // The terminating zero is no continuation byte, so these stop there.
    for (size_t i = 2; i < cb; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return cb;
}

} // namespace

char *NewWellFormedUTF8(const char *pszText)
{
    static const char kReplacement[] = "\xEF\xBF\xBD";
    const size_t cbText = strlen(pszText);
    char *pszCopy = new (std::nothrow) char[cbText * 3 + 1];
    if (pszCopy == nullptr) return nullptr;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(pszText);
    char *pszOut = pszCopy;
    while (*p != 0) {
        const size_t cb = WellFormedLength(p);
        if (cb == 0) {
            memcpy(pszOut, kReplacement, 3);
            pszOut += 3;
            ++p;
            continue;
        }
        memcpy(pszOut, p, cb);
        pszOut += cb;
        p += cb;
    }
    *pszOut = '\0';
    return pszCopy;
}
