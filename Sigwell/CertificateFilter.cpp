#include "CertificateFilter.h"

#include "CertificateQuery.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "TraceHelper.h"

#include <shlwapi.h>

#include <cstring>
#include <memory>

namespace {

// Each alternative passes through a 256-character buffer.
const size_t kAlternativeMaxCch = 255;

HRESULT MatchAlternatives(LPCWSTR pwszName, const StringVector &vtrAlternatives)
{
    for (const std::wstring &alternative : vtrAlternatives)
        if (alternative.empty() || StrStrIW(pwszName, alternative.c_str()) != nullptr) return VESK_OK;
    return E_FAIL;
}

// Compares a hexadecimal filter with bytes the certificate holds; the
// conversion reverses the text's digit pairs.
HRESULT MatchHexFilter(LPCWSTR pwszFilter, const BYTE *pbValue, DWORD cbValue)
{
    BYTE *pbFilter = nullptr;
    DWORD cbFilter = 0;
    HRESULT hResult = ConvertStringToBinaryData(&cbFilter, pwszFilter, &pbFilter);
    std::unique_ptr<BYTE[]> filter(pbFilter);
    if (FAILED(hResult)) return hResult;
    if (cbFilter != cbValue || memcmp(pbFilter, pbValue, cbValue) != 0) return E_FAIL;
    return VESK_OK;
}

// A hexadecimal filter against the bytes pfnRead hands out; no filter or
// an empty one passes without reading.
template <typename Read>
HRESULT MatchReadBytes(LPCWSTR pwszFilter, const wchar_t *pwszReadStep, const wchar_t *pwszMatchStep, Read pfnRead)
{
    if (pwszFilter == nullptr || *pwszFilter == L'\0') return VESK_OK;
    BYTE *pbValue = nullptr;
    DWORD cbValue = 0;
    HRESULT hResult = pfnRead(&pbValue, &cbValue);
    std::unique_ptr<BYTE[]> value(pbValue);
    if (FAILED(hResult)) return ReportStatus(pwszReadStep, hResult);
    return ReportStatus(pwszMatchStep, MatchHexFilter(pwszFilter, pbValue, cbValue));
}

} // namespace

void ParseFilters(LPCWSTR pwszFilters, StringVector &vtrAlternatives)
{
    if (pwszFilters == nullptr) return;
    const wchar_t *pwszPiece = pwszFilters;
    for (;;) {
        const wchar_t *pwszEnd = wcschr(pwszPiece, L'#');
        const size_t cchPiece = pwszEnd ? static_cast<size_t>(pwszEnd - pwszPiece) : wcslen(pwszPiece);
        vtrAlternatives.emplace_back(pwszPiece, cchPiece < kAlternativeMaxCch ? cchPiece : kAlternativeMaxCch);
        if (pwszEnd == nullptr) return;
        pwszPiece = pwszEnd + 1;
    }
}

HRESULT CheckCertSubjectName(PCCERT_CONTEXT pCertContext, DWORD dwStrType, const StringVector &vtrAlternatives)
{
    TRACE_FUNCTION(L"CheckCertSubjectName");
    if (vtrAlternatives.empty()) return VESK_OK;
    LPWSTR pwszName = nullptr;
    DWORD cchName = 0;
    HRESULT hResult = GetCertSubject(pCertContext, &pwszName, &cchName, dwStrType);
    std::unique_ptr<WCHAR[]> name(pwszName);
    if (FAILED(hResult)) return ReportStatus(L"GetCertSubject", hResult);
    return ReportStatus(L"Match subject", MatchAlternatives(pwszName, vtrAlternatives));
}

HRESULT CheckCertIssuer(PCCERT_CONTEXT pCertContext, const StringVector &vtrAlternatives)
{
    TRACE_FUNCTION(L"CheckCertIssuer");
    if (vtrAlternatives.empty()) return VESK_OK;
    LPWSTR pwszName = nullptr;
    DWORD cchName = 0;
    HRESULT hResult = GetCertIssuer(pCertContext, &pwszName, &cchName);
    std::unique_ptr<WCHAR[]> name(pwszName);
    if (FAILED(hResult)) return ReportStatus(L"GetCertIssuer", hResult);
    return ReportStatus(L"Match issuer", MatchAlternatives(pwszName, vtrAlternatives));
}

HRESULT CheckCertKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwRequiredUsage)
{
    TRACE_FUNCTION(L"CheckCertKeyUsage");
    if (dwRequiredUsage == 0) return VESK_OK;
    DWORD dwUsage = 0;
    DWORD cbUsage = 0;
    HRESULT hResult = GetCertKeyUsage(pCertContext, &dwUsage, &cbUsage);
    if (FAILED(hResult)) return ReportStatus(L"GetCertKeyUsage", hResult);
    if ((dwRequiredUsage & dwUsage) == 0) return ReportStatus(L"Match key usage", VESK_E_INVALID_CERT_USAGE);
    return VESK_OK;
}

HRESULT CheckCertSubjectKeyID(LPCWSTR pwszSubjectKeyID, PCCERT_CONTEXT pCertContext)
{
    TRACE_FUNCTION(L"CheckCertSubjectKeyID");
    return MatchReadBytes(pwszSubjectKeyID, L"GetCertSubjectKeyID", L"Match subject key ID",
                          [pCertContext](BYTE **ppbValue, DWORD *pcbValue) {
                              return GetCertSubjectKeyID(pCertContext, ppbValue, pcbValue);
                          });
}

HRESULT CheckCertSerialNumber(LPCWSTR pwszSerialNumber, PCCERT_CONTEXT pCertContext)
{
    TRACE_FUNCTION(L"CheckCertSerialNumber");
    return MatchReadBytes(pwszSerialNumber, L"GetCertSerialNumber", L"Match serial number",
                          [pCertContext](BYTE **ppbValue, DWORD *pcbValue) {
                              return GetCertSerialNumber(ppbValue, pCertContext, pcbValue);
                          });
}

HRESULT CheckCertTimeValidity(const FILETIME *pCheckTime, PCCERT_CONTEXT pCertContext)
{
    TRACE_FUNCTION(L"CheckCertTimeValidity");
    if (pCheckTime == nullptr) return VESK_OK;
    LONG nValidity = CertVerifyTimeValidity(const_cast<FILETIME *>(pCheckTime), pCertContext->pCertInfo);
    return nValidity == 0 ? VESK_OK : ReportStatus(L"CertVerifyTimeValidity", E_FAIL);
}

HRESULT CheckCertSignatureAlg(LPCSTR pszPrefix, PCCERT_CONTEXT pCertContext)
{
    TRACE_FUNCTION(L"CheckCertSignatureAlg");
    if (pszPrefix == nullptr) return VESK_OK;
    LPCSTR pszObjId = pCertContext->pCertInfo->SignatureAlgorithm.pszObjId;
    if (pszObjId == nullptr || strncmp(pszObjId, pszPrefix, strlen(pszPrefix)) != 0)
        return ReportStatus(L"Match signature algorithm", E_FAIL);
    return VESK_OK;
}

HRESULT CheckUnregisteredCertficate(PCCERT_CONTEXT pCertContext, const CERT_FILTER *pFilter)
{
    TRACE_FUNCTION(L"CheckUnregisteredCertficate");
    if (pCertContext == nullptr) return ReportStatus(L"Check parameters", E_FAIL);
    static const CERT_FILTER kNoFilter = {};
    const CERT_FILTER &filter = pFilter ? *pFilter : kNoFilter;
    StringVector vtrSubjects;
    StringVector vtrIssuers;
    ParseFilters(filter.pwszSubjectFilters, vtrSubjects);
    ParseFilters(filter.pwszIssuerFilters, vtrIssuers);
    if (CheckCertSubjectName(pCertContext, CERT_X500_NAME_STR, vtrSubjects) != 0 ||
        CheckCertIssuer(pCertContext, vtrIssuers) != 0 || CheckCertKeyUsage(pCertContext, filter.dwKeyUsage) != 0 ||
        CheckCertSubjectKeyID(filter.pwszSubjectKeyID, pCertContext) != 0 ||
        CheckCertSerialNumber(filter.pwszSerialNumber, pCertContext) != 0 ||
        CheckCertTimeValidity(filter.pCheckTime, pCertContext) != 0 ||
        CheckCertSignatureAlg(filter.pszSignatureAlgPrefix, pCertContext) != 0)
        return E_FAIL;
    return VESK_OK;
}
