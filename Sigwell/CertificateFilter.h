// Which certificates a caller wants, and the checks that test one
// certificate against it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

// Every pointer may be null, which sets no condition. The filter does not
// own its texts.
struct CERT_FILTER {
    LPCWSTR pwszSubjectFilters;   // alternatives for the subject DN, joined by "#"
    LPCWSTR pwszIssuerFilters;    // alternatives for the issuer DN, joined by "#"
    LPCWSTR pwszCSPFilters;       // provider names joined by "||"
    LPCWSTR pwszSubjectKeyID;     // hexadecimal
    LPCWSTR pwszSerialNumber;     // hexadecimal, most significant byte first
    DWORD dwKeyUsage;             // at least one of these bits; 0 = any
    BOOL bKeyRequired;            // the private key must be obtainable
    LPCSTR pszSignatureAlgPrefix; // prefix of the signature algorithm OID
    const FILETIME *pCheckTime;   // UTC instant the certificate must be valid at
};
typedef CERT_FILTER *PCERT_FILTER;

typedef std::vector<std::wstring> StringVector;

// Appends the pieces between "#" separators, each cut to 255 characters.
// Empty pieces count; a null text appends nothing.
void ParseFilters(LPCWSTR pwszFilters, StringVector &vtrAlternatives);

// Each returns 0 when the certificate passes; an empty vector, a null or
// empty text, required usage 0 or a null time pass.
HRESULT CheckCertSubjectName(PCCERT_CONTEXT pCertContext, DWORD dwStrType, const StringVector &vtrAlternatives);
HRESULT CheckCertIssuer(PCCERT_CONTEXT pCertContext, const StringVector &vtrAlternatives);
HRESULT CheckCertKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwRequiredUsage);
HRESULT CheckCertSubjectKeyID(LPCWSTR pwszSubjectKeyID, PCCERT_CONTEXT pCertContext);
HRESULT CheckCertSerialNumber(LPCWSTR pwszSerialNumber, PCCERT_CONTEXT pCertContext);
HRESULT CheckCertTimeValidity(const FILETIME *pCheckTime, PCCERT_CONTEXT pCertContext);
HRESULT CheckCertSignatureAlg(LPCSTR pszPrefix, PCCERT_CONTEXT pCertContext);

// All seven checks in order; 0 when every one passes, else E_FAIL. A null
// filter passes every certificate.
HRESULT CheckUnregisteredCertficate(PCCERT_CONTEXT pCertContext, const CERT_FILTER *pFilter);
