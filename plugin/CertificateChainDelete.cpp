#include "CertificateChainDelete.h"

#include "CertificateQuery.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "PluginCertificates.h"
#include "TraceHelper.h"

#include <wincrypt.h>

namespace {

const wchar_t kRootCertificatesKey[] = L"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates";
const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A discarded certificate; rows without a thumbprint are intermediates.
struct DiscardedCert {
    LPCWSTR pwszThumbprint;
    LPCWSTR pwszSerialNumber;
    LPCWSTR pwszSubjectDN;
    LPCWSTR pwszIssuerDN;
};

// CAs of the earlier RSA hierarchy.
const DiscardedCert kRSADiscarded[] = {
    {nullptr, L"5A3C09E1", L"CN=Sigwell RSA Signing CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell RSA Root CA, O=Sigwell Lorvin, C=CN"},
    {L"3B1F9E0A6C2D47F8815E2A9C4D7B06E3F1A85C92", L"1d44a7b0", L"CN=Sigwell RSA Root CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell RSA Root CA, O=Sigwell Lorvin, C=CN"},
    {nullptr, L"6E0B7713", L"CN=Sigwell RSA Device CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell RSA Root CA 2008, O=Sigwell Lorvin, C=CN"},
    {L"9C4E21B7D0A35F6E18B2C7490AE3D5F61B7C8D20", L"0F22C6A9", L"CN=Sigwell RSA Root CA 2008, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell RSA Root CA 2008, O=Sigwell Lorvin, C=CN"},
    {nullptr, L"41d9e3c5", L"O=Sigwell Lorvin Services, C=CN", L"O=Sigwell Lorvin Trust, C=CN"},
    {L"E7A0C3914B6D28F5027E1CB89D3A4F60C5B2E871", L"27B5048E", L"O=Sigwell Lorvin Trust, C=CN",
     L"O=Sigwell Lorvin Trust, C=CN"},
    {nullptr, L"7302AF1B", L"CN=Sigwell RSA Enterprise CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell RSA Root CA, O=Sigwell Lorvin, C=CN"},
    {nullptr, L"7302AF1B", L"CN=Sigwell RSA Enterprise CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell RSA Root CA 2008, O=Sigwell Lorvin, C=CN"},
    {L"52D8B6F0A1E349C7B25D0F8E6A13C9D47E0B2A65", L"3c8e91f2", L"CN=Sigwell RSA Test Root, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell RSA Test Root, O=Sigwell Lorvin, C=CN"},
};

// CAs of the earlier SM2 hierarchy.
const DiscardedCert kSM2Discarded[] = {
    {nullptr, L"1A6F30D2", L"CN=Sigwell SM2 Signing CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell SM2 Root CA, O=Sigwell Lorvin, C=CN"},
    {nullptr, L"5b07e4c1", L"CN=Sigwell SM2 Device CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell SM2 Root CA, O=Sigwell Lorvin, C=CN"},
    {L"0D6A3E9F1C24B7508E3F9A2D6C1B40E7F58A3C19", L"2E90B5A7", L"CN=Sigwell SM2 Root CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell SM2 Root CA, O=Sigwell Lorvin, C=CN"},
    {nullptr, L"6c13f08d", L"O=Sigwell Lorvin SM2 Services, C=CN", L"O=Sigwell Lorvin SM2 Trust, C=CN"},
    {L"A4F1072C8E5B3D96E0C1A7B42F9D6E3805C7B1A2", L"48D2E61B", L"O=Sigwell Lorvin SM2 Trust, C=CN",
     L"O=Sigwell Lorvin SM2 Trust, C=CN"},
    {nullptr, L"0B7C29E4", L"CN=Sigwell SM2 Enterprise CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell SM2 Test Root, O=Sigwell Lorvin, C=CN"},
    {nullptr, L"39a5d7f0", L"CN=Sigwell SM2 Server CA, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell SM2 Test Root, O=Sigwell Lorvin, C=CN"},
    {L"6F2B9D40E81C3A57B6D0E2F91C4A8B73D5E06F18", L"5D3A0C96", L"CN=Sigwell SM2 Test Root, O=Sigwell Lorvin, C=CN",
     L"CN=Sigwell SM2 Test Root, O=Sigwell Lorvin, C=CN"},
};

CERT_FILTER RowFilter(LPCWSTR pwszSerialNumber, LPCWSTR pwszSubjectDN, LPCWSTR pwszIssuerDN)
{
    CERT_FILTER stFilter = {};
    stFilter.pwszSubjectFilters = pwszSubjectDN;
    stFilter.pwszIssuerFilters = pwszIssuerDN;
    stFilter.pwszSerialNumber = pwszSerialNumber;
    return stFilter;
}

template <size_t N>
void DeleteRows(const DiscardedCert (&rows)[N])
{
    for (const DiscardedCert &row : rows) {
        if (row.pwszThumbprint == nullptr)
            TraceStatus(L"DeleteIntermediateCert",
                        DeleteIntermediateCert(row.pwszSerialNumber, row.pwszSubjectDN, row.pwszIssuerDN));
        else
            TraceStatus(
                L"DeleteTrustedRootCert",
                DeleteTrustedRootCert(row.pwszThumbprint, row.pwszSerialNumber, row.pwszSubjectDN, row.pwszIssuerDN));
    }
}

void DeletePassing(const CertificateVector &vtrPassing)
{
    static const wchar_t *const kTraceFunction = L"DeleteCertificateFromStore";
    for (PCCERT_CONTEXT pCertContext : vtrPassing) {
        PCCERT_CONTEXT pDuplicate = CertDuplicateCertificateContext(pCertContext);
        if (pDuplicate == nullptr) {
            TRACE_FAILED(L"CertDuplicateCertificateContext", L"NULL == pDuplicate", FailedCallStatus());
            continue;
        }
        if (!CertDeleteCertificateFromStore(pDuplicate))
            TRACE_FAILED(L"CertDeleteCertificateFromStore", L"FALSE == bResult", FailedCallStatus());
        else
            TRACE_OK(L"CertDeleteCertificateFromStore");
    }
}

} // namespace

HRESULT DeleteRSADiscardCert()
{
    TRACE_FUNCTION(L"DeleteRSADiscardCert");
    DeleteRows(kRSADiscarded);
    return S_OK;
}

HRESULT DeleteSM2DiscardCert()
{
    TRACE_FUNCTION(L"DeleteSM2DiscardCert");
    DeleteRows(kSM2Discarded);
    return S_OK;
}

HRESULT DeleteIntermediateCert(LPCWSTR pwszSerialNumber, LPCWSTR pwszSubjectDN, LPCWSTR pwszIssuerDN)
{
    TRACE_FUNCTION(L"DeleteIntermediateCert");
    CERT_FILTER stFilter = RowFilter(pwszSerialNumber, pwszSubjectDN, pwszIssuerDN);
    HRESULT hResult = DeleteCertificateFromStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, &stFilter);
    TRACE_RETURN_IF_FAILED(L"DeleteCertificateFromStore(LOCAL_MACHINE)", hResult);
    hResult = DeleteCertificateFromStore(CERT_SYSTEM_STORE_CURRENT_USER, &stFilter);
    if (FAILED(hResult)) TRACE_FAILED(L"DeleteCertificateFromStore(CURRENT_USER)", L"FAILED(hResult)", hResult);
    return hResult;
}

HRESULT DeleteTrustedRootCert(LPCWSTR pwszThumbprint, LPCWSTR pwszSerialNumber, LPCWSTR pwszSubjectDN,
                              LPCWSTR pwszIssuerDN)
{
    TRACE_FUNCTION(L"DeleteTrustedRootCert");
    CERT_FILTER stFilter = RowFilter(pwszSerialNumber, pwszSubjectDN, pwszIssuerDN);
    HRESULT hResult = DeleteCertificateFromStore(CERT_SYSTEM_STORE_LOCAL_MACHINE, &stFilter);
    TRACE_RETURN_IF_FAILED(L"DeleteCertificateFromStore", hResult);
    hResult = DeleteRegistryKey(pwszThumbprint);
    if (FAILED(hResult)) TRACE_FAILED(L"DeleteRegistryKey", L"FAILED(hResult)", hResult);
    return hResult;
}

HRESULT DeleteCertificateFromStore(DWORD dwFlag, const CERT_FILTER *pFilter)
{
    TRACE_FUNCTION(L"DeleteCertificateFromStore");
    if (CERT_SYSTEM_STORE_LOCAL_MACHINE != dwFlag && CERT_SYSTEM_STORE_CURRENT_USER != dwFlag) {
        TRACE_FAILED(L"Check parameters",
                     L"(CERT_SYSTEM_STORE_LOCAL_MACHINE != dwFlag && "
                     L"CERT_SYSTEM_STORE_CURRENT_USER != dwFlag)",
                     E_INVALIDARG);
        return E_INVALIDARG;
    }
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kCertEncoding, 0, dwFlag, L"CA");
    if (hStore == nullptr) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CertOpenStore", L"hCertStore == NULL", hResult);
        return hResult;
    }
    CertificateVector vtrAll, vtrPassing;
    HRESULT hResult = ExtractCertificatesFromStore(hStore, vtrAll);
    if (FAILED(hResult))
        TRACE_FAILED(L"ExtractCertificatesFromStore", L"FAILED(hResult)", hResult);
    else {
        hResult = FilterCertificates(pFilter, vtrPassing, vtrAll);
        if (FAILED(hResult))
            TRACE_FAILED(L"FilterCertificates", L"FAILED(hResult)", hResult);
        else
            DeletePassing(vtrPassing);
    }
    RemoveAllCertificates(vtrPassing);
    RemoveAllCertificates(vtrAll);
    // The deletions reach the registry now rather than whenever the last
    // reference to the store goes.
    if (!CertControlStore(hStore, 0, CERT_STORE_CTRL_COMMIT, nullptr))
        TRACE_FAILED(L"CertControlStore", L"FALSE == bResult", FailedCallStatus());
    CertCloseStore(hStore, 0);
    return hResult;
}

HRESULT DeleteRegistryKey(LPCWSTR pwszThumbprint)
{
    TRACE_FUNCTION(L"DeleteRegistryKey");
    HKEY hKey = nullptr;
    LONG nError = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRootCertificatesKey, 0, KEY_ALL_ACCESS, &hKey);
    if (nError != ERROR_SUCCESS) {
        HRESULT hResult = Win32StatusFromLastError(static_cast<DWORD>(nError));
        TRACE_FAILED(L"RegOpenKeyEx", L"ERROR_SUCCESS != lResult", hResult);
        return hResult;
    }
    nError = RegDeleteKeyW(hKey, pwszThumbprint);
    RegCloseKey(hKey);
    if (nError != ERROR_SUCCESS) {
        HRESULT hResult = Win32StatusFromLastError(static_cast<DWORD>(nError));
        TRACE_FAILED(L"RegDeleteKey", L"ERROR_SUCCESS != lResult", hResult);
        return hResult;
    }
    return S_OK;
}
