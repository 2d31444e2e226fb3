#include "CertificateChainOperate.h"

HRESULT CertCreateUnregisteredCertContext(LPCWSTR pwszContainerName, LPCWSTR pwszProviderName, PCCERT_CONTEXT pCertContext, DWORD dwKeySpec, PUNREGISTERED_CERT_CONTEXT *ppRecord)
{
    return E_NOTIMPL;
}

HRESULT CertDuplicateUnregisteredCertContext(const UNREGISTERED_CERT_CONTEXT *pRecord, PUNREGISTERED_CERT_CONTEXT *ppCopy)
{
    return E_NOTIMPL;
}

void CertFreeUnregisteredCertContext(PUNREGISTERED_CERT_CONTEXT pRecord)
{
    
}

void RemoveAllUnregisteredCertificates(UnregisteredCertVector &vtrRecords)
{
    
}

HRESULT GetUnregisteredCertfromContainer(LPCWSTR pwszProviderName, LPCWSTR pwszContainerName, DWORD dwKeySpec, PUNREGISTERED_CERT_CONTEXT *ppRecord)
{
    return E_NOTIMPL;
}

HRESULT FilterUnregisteredCertificatesfromSpecifiedCSP(LPCWSTR pwszProviderName, const CERT_FILTER *pFilter, UnregisteredCertVector &vtrRecords)
{
    return E_NOTIMPL;
}

HRESULT FilterUnregisteredCertificatesfromCSP(LPCWSTR pwszCSPList, const CERT_FILTER *pFilter, UnregisteredCertVector &vtrRecords)
{
    return E_NOTIMPL;
}

HRESULT GetAllCSPName(LPWSTR *ppwszAllCSPName)
{
    return E_NOTIMPL;
}

void SplitStrings(LPCWSTR pwszList, StringVector &vtrNames)
{
    
}
