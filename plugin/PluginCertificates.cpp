#include "PluginCertificates.h"

#include "CertificateChainOperate.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "TraceHelper.h"

#include <shlwapi.h>

#include <cstring>
#include <memory>
#include <new>

namespace {

const wchar_t *OrEmpty(LPCWSTR pwsz)
{
    return pwsz != nullptr ? pwsz : L"";
}

void TraceFilter(const CERT_FILTER &filter)
{
    TraceValueInt(L"KeyUsage", static_cast<LONG>(filter.dwKeyUsage));
    TraceValue(L"KeyRequired", filter.bKeyRequired == 1 ? L"TRUE" : L"FALSE");
    TraceValue(L"SerialNumber", OrEmpty(filter.pwszSerialNumber));
    TraceValue(L"SubjectKeyID", OrEmpty(filter.pwszSubjectKeyID));
    TraceValue(L"Subject", OrEmpty(filter.pwszSubjectFilters));
    TraceValue(L"Issuer", OrEmpty(filter.pwszIssuerFilters));
    TraceValue(L"CSP", OrEmpty(filter.pwszCSPFilters));
}

// The private key must open; a provider handle obtained is released.
HRESULT CheckPrivateKey(PCCERT_CONTEXT pCertContext)
{
    static const wchar_t *const kTraceFunction = L"FilterCertificates";
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bCallerFree = FALSE;
    BOOL bAcquired = CryptAcquireCertificatePrivateKey(pCertContext, 0, nullptr, &hProv, &dwKeySpec, &bCallerFree);
    HRESULT hResult = bAcquired ? S_OK : FailedCallStatus();
    if (hProv != 0 && bCallerFree) CryptReleaseContext(hProv, 0);
    if (!bAcquired) {
        TRACE_FAILED(L"CryptAcquireCertificatePrivateKey", L"FALSE == bResult", hResult);
        return SUCCEEDED(hResult) ? E_FAIL : hResult;
    }
    return S_OK;
}

bool PassesFilter(PCCERT_CONTEXT pCertContext, const CERT_FILTER &filter, const StringVector &vtrSubjects,
                  const StringVector &vtrIssuers, const StringVector &vtrCSPNames)
{
    return CheckCertSubjectName(pCertContext, CERT_X500_NAME_STR, vtrSubjects) == 0 &&
        CheckCertIssuer(pCertContext, vtrIssuers) == 0 && CheckCertKeyUsage(pCertContext, filter.dwKeyUsage) == 0 &&
        CheckCertSubjectKeyID(filter.pwszSubjectKeyID, pCertContext) == 0 &&
        CheckCertSerialNumber(filter.pwszSerialNumber, pCertContext) == 0 &&
        CheckCertTimeValidity(filter.pCheckTime, pCertContext) == 0 &&
        CheckCertSignatureAlg(filter.pszSignatureAlgPrefix, pCertContext) == 0 &&
        CheckCSPName(pCertContext, vtrCSPNames) == 0 &&
        (filter.bKeyRequired != 1 || CheckPrivateKey(pCertContext) == 0);
}

int AlphabetValue(unsigned char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes against a capacity: counts every byte, writes while the count
// stays within it, and fails past it or without a buffer.
bool DecodeBase64(const char *pszText, size_t cchText, BYTE *pbData, size_t cbCapacity, size_t *pcbDecoded)
{
    size_t cbDecoded = 0;
    bool bFits = pbData != nullptr;
    size_t i = 0;
    while (i < cchText) {
        if (pszText[i] == '\0') break;
        DWORD dwBits = 0;
        int nChars = 0;
        for (; i < cchText && nChars < 4; ++i) {
            int nValue = AlphabetValue(static_cast<unsigned char>(pszText[i]));
            if (nValue < 0) continue;
            dwBits = (dwBits << 6) | static_cast<DWORD>(nValue);
            ++nChars;
        }
        const int nBytes = nChars == 4 ? 3 : nChars == 3 ? 2 : nChars == 2 ? 1 : 0;
        dwBits <<= 6 * (4 - nChars);
        for (int b = 0; b < nBytes; ++b) {
            if (cbDecoded < cbCapacity && pbData != nullptr)
                pbData[cbDecoded] = static_cast<BYTE>(dwBits >> (16 - 8 * b));
            else
                bFits = false;
            ++cbDecoded;
        }
    }
    *pcbDecoded = cbDecoded;
    return bFits;
}

} // namespace

HRESULT FilterCertificates(const CERT_FILTER *pFilter, CertificateVector &vtrResult, CertificateVector vtrCandidates)
{
    TRACE_FUNCTION(L"FilterCertificates");
    const CERT_FILTER stNoConditions = {};
    const CERT_FILTER &filter = pFilter != nullptr ? *pFilter : stNoConditions;
    TraceFilter(filter);
    StringVector vtrSubjects, vtrIssuers, vtrCSPNames;
    ParseFilters(filter.pwszSubjectFilters, vtrSubjects);
    ParseFilters(filter.pwszIssuerFilters, vtrIssuers);
    SplitStrings(filter.pwszCSPFilters, vtrCSPNames);
    for (PCCERT_CONTEXT pCandidate : vtrCandidates) {
        if (!PassesFilter(pCandidate, filter, vtrSubjects, vtrIssuers, vtrCSPNames)) continue;
        PCCERT_CONTEXT pDuplicate = CertDuplicateCertificateContext(pCandidate);
        if (pDuplicate == nullptr) {
            HRESULT hResult = FailedCallStatus();
            TRACE_FAILED(L"CertDuplicateCertificateContext", L"NULL == pDuplicate", hResult);
            RemoveAllCertificates(vtrResult);
            return hResult;
        }
        vtrResult.push_back(pDuplicate);
    }
    return S_OK;
}

HRESULT CheckCSPName(PCCERT_CONTEXT pCertContext, StringVector vtrCSPNames)
{
    TRACE_FUNCTION(L"CheckCSPName");
    if (vtrCSPNames.empty()) return S_OK;
    DWORD cbInfo = 0;
    if (!CertGetCertificateContextProperty(pCertContext, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbInfo)) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CertGetCertificateContextProperty(size)", L"FALSE == bResult", hResult);
        return hResult;
    }
    std::unique_ptr<BYTE[]> info(new (std::nothrow) BYTE[cbInfo]);
    if (!info) {
        TRACE_FAILED(L"new(PCRYPT_KEY_PROV_INFO)", L"NULL == pKeyProvInfo", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memset(info.get(), 0, cbInfo);
    if (!CertGetCertificateContextProperty(pCertContext, CERT_KEY_PROV_INFO_PROP_ID, info.get(), &cbInfo)) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CertGetCertificateContextProperty", L"FALSE == bResult", hResult);
        return hResult;
    }
    LPCWSTR pwszProvider = OrEmpty(reinterpret_cast<CRYPT_KEY_PROV_INFO *>(info.get())->pwszProvName);
    TraceValue(L"Provider", pwszProvider);
    for (const std::wstring &name : vtrCSPNames)
        if (name.empty() || StrStrIW(pwszProvider, name.c_str()) != nullptr) return S_OK;
    return E_FAIL;
}

HRESULT Base64DecodeEx(const char *pszText, int nLength, BYTE **ppbData, DWORD *pcbData)
{
    TRACE_FUNCTION(L"Base64DecodeEx");
    if (nLength <= 0) {
        TRACE_FAILED(L"Check parameters", L"nLength <= 0", E_FAIL);
        return E_FAIL;
    }
    BYTE *pbData = new (std::nothrow) BYTE[nLength];
    if (pbData == nullptr) {
        TRACE_FAILED(L"New Memory", L"NULL == pbData", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    memset(pbData, 0, nLength);
    // Every three bytes take four characters, so the text's length holds
    // the bytes decoded from it.
    size_t cbDecoded = 0;
    if (!DecodeBase64(pszText, static_cast<size_t>(nLength), pbData, static_cast<size_t>(nLength), &cbDecoded)) {
        delete[] pbData;
        TRACE_FAILED(L"Decode", L"cbDecoded > nLength", E_FAIL);
        return E_FAIL;
    }
    *ppbData = pbData;
    *pcbData = static_cast<DWORD>(cbDecoded);
    return S_OK;
}
