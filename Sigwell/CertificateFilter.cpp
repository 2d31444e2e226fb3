#include "CertificateFilter.h"

void ParseFilters(LPCWSTR pwszFilters, StringVector &vtrAlternatives)
{
    
}

HRESULT CheckCertSubjectName(PCCERT_CONTEXT pCertContext, DWORD dwStrType, const StringVector &vtrAlternatives)
{
    return E_NOTIMPL;
}

HRESULT CheckCertIssuer(PCCERT_CONTEXT pCertContext, const StringVector &vtrAlternatives)
{
    return E_NOTIMPL;
}

HRESULT CheckCertKeyUsage(PCCERT_CONTEXT pCertContext, DWORD dwRequiredUsage)
{
    return E_NOTIMPL;
}

HRESULT CheckCertSubjectKeyID(LPCWSTR pwszSubjectKeyID, PCCERT_CONTEXT pCertContext)
{
    return E_NOTIMPL;
}

HRESULT CheckCertSerialNumber(LPCWSTR pwszSerialNumber, PCCERT_CONTEXT pCertContext)
{
    return E_NOTIMPL;
}

HRESULT CheckCertTimeValidity(const FILETIME *pCheckTime, PCCERT_CONTEXT pCertContext)
{
    return E_NOTIMPL;
}

HRESULT CheckCertSignatureAlg(LPCSTR pszPrefix, PCCERT_CONTEXT pCertContext)
{
    return E_NOTIMPL;
}

HRESULT CheckUnregisteredCertficate(PCCERT_CONTEXT pCertContext, const CERT_FILTER *pFilter)
{
    return E_NOTIMPL;
}
