#include "CertificateQuery.h"

HRESULT QueryCertContextInfo(DWORD *pdwLength, void *pvValue, PCCERT_CONTEXT pCertContext, DWORD dwQueryType)
{
    return E_NOTIMPL;
}

HRESULT GetCertCN(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName)
{
    return E_NOTIMPL;
}

HRESULT GetCertSubject(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName, DWORD dwStrType)
{
    return E_NOTIMPL;
}

HRESULT GetCertIssuer(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName)
{
    return E_NOTIMPL;
}

HRESULT GetCertSerialNumber(BYTE **ppbSerial, PCCERT_CONTEXT pCertContext, DWORD *pcbSerial)
{
    return E_NOTIMPL;
}

HRESULT GetCertKeyUsage(PCCERT_CONTEXT pCertContext, DWORD *pdwKeyUsage, DWORD *pcbKeyUsage)
{
    return E_NOTIMPL;
}

HRESULT GetCertSubjectKeyID(PCCERT_CONTEXT pCertContext, BYTE **ppbKeyID, DWORD *pcbKeyID)
{
    return E_NOTIMPL;
}

HRESULT GetCertProviderName(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName)
{
    return E_NOTIMPL;
}

HRESULT GetCertContainerName(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName)
{
    return E_NOTIMPL;
}

HRESULT GetCertToDate(PCCERT_CONTEXT pCertContext, SYSTEMTIME *pstTime, DWORD *pcbTime)
{
    return E_NOTIMPL;
}

HRESULT GetCertFromDate(PCCERT_CONTEXT pCertContext, SYSTEMTIME *pstTime, DWORD *pcbTime)
{
    return E_NOTIMPL;
}

HRESULT ConvertBinaryDataToString(LPWSTR *ppwszText, DWORD cbData, const BYTE *pbData, BOOL bReverse)
{
    return E_NOTIMPL;
}

HRESULT ConvertStringToBinaryData(DWORD *pcbData, LPCWSTR pwszText, BYTE **ppbData)
{
    return E_NOTIMPL;
}

void RemoveAllCertificates(CertificateVector &vtrCertificates)
{
    
}

HRESULT ExtractCertificatesFromStore(HCERTSTORE hStore, CertificateVector &vtrCertificates)
{
    return E_NOTIMPL;
}
