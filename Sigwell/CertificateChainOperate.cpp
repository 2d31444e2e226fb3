#include "CertificateChainOperate.h"

#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

// Token-qualified container names, "\\.\<token>\<container>"; the cross
// headers lack the flag.
#ifndef CRYPT_FQCN
#define CRYPT_FQCN 0x00000010
#endif

namespace {

const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const wchar_t kListSeparator[] = L"||";
const size_t kListSeparatorCch = 2;

// A broken provider entry is skipped, but a registry that fails at every
// index must not keep the enumeration going for 2^32 of them.
const DWORD kMaxConsecutiveProviderFailures = 16;

bool IsEmpty(LPCWSTR pwszText)
{
    return pwszText == nullptr || *pwszText == L'\0';
}

// Handles opened while reading one container's certificate.
struct ContainerHandles {
    HCRYPTPROV hProv = 0;
    PCCERT_CONTEXT pCertContext = nullptr;

    ContainerHandles() = default;
    ContainerHandles(const ContainerHandles &) = delete;
    ContainerHandles &operator=(const ContainerHandles &) = delete;
    ~ContainerHandles()
    {
        if (pCertContext != nullptr) CertFreeCertificateContext(pCertContext);
        if (hProv != 0) CryptReleaseContext(hProv, 0);
    }
};

struct UserKey {
    HCRYPTKEY hKey = 0;

    UserKey() = default;
    UserKey(const UserKey &) = delete;
    UserKey &operator=(const UserKey &) = delete;
    ~UserKey()
    {
        if (hKey != 0) CryptDestroyKey(hKey);
    }
};

// True when the system can already open the certificate's private key.
bool IsRegistered(PCCERT_CONTEXT pCertContext)
{
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bCallerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(pCertContext, 0, nullptr, &hProv, &dwKeySpec, &bCallerFree)) return false;
    if (bCallerFree) CryptReleaseContext(hProv, 0);
    return true;
}

// The ANSI bytes of a text, as CryptAcquireContextW hands them to a
// provider.
HRESULT AnsiBytes(LPCWSTR pwszText, std::unique_ptr<char[]> &text)
{
    char *pszText = nullptr;
    int cbText = 0;
    HRESULT hResult = UTF16ToANSI(pwszText, &pszText, &cbText);
    text.reset(pszText);
    return hResult;
}

// A record of the container named by the provider's own bytes.
HRESULT NewRecord(LPCSTR pszContainerName, LPCWSTR pwszProviderName, PCCERT_CONTEXT pCertContext, DWORD dwKeySpec,
                  PUNREGISTERED_CERT_CONTEXT *ppRecord)
{
    if (pCertContext == nullptr || IsEmpty(pwszProviderName) || pszContainerName == nullptr ||
        *pszContainerName == '\0' || ppRecord == nullptr)
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    // A name the record cannot hold whole would open another container later.
    if (wcslen(pwszProviderName) >= UNREGISTERED_NAME_CCH || strlen(pszContainerName) >= UNREGISTERED_NAME_CCH)
        return ReportStatus(L"Check name length", E_INVALIDARG);
    wchar_t *pwszShown = nullptr;
    int cchShown = 0;
    HRESULT hResult = ANSIToUTF16(pszContainerName, &pwszShown, &cchShown);
    std::unique_ptr<wchar_t[]> shown(pwszShown);
    if (FAILED(hResult)) return ReportStatus(L"ANSIToUTF16", hResult);
    std::unique_ptr<UNREGISTERED_CERT_CONTEXT> pRecord(new (std::nothrow) UNREGISTERED_CERT_CONTEXT());
    if (!pRecord) return ReportStatus(L"new UNREGISTERED_CERT_CONTEXT", E_OUTOFMEMORY);
    wcscpy(pRecord->wszProviderName, pwszProviderName);
    // No more characters than bytes: it fits.
    wcscpy(pRecord->wszContainerName, pwszShown);
    strcpy(pRecord->szContainerName, pszContainerName);
    pRecord->dwKeySpec = dwKeySpec;
    pRecord->pCertContext = CertDuplicateCertificateContext(pCertContext);
    if (pRecord->pCertContext == nullptr) return ReportFailedCall(L"CertDuplicateCertificateContext");
    *ppRecord = pRecord.release();
    return VESK_OK;
}

// The certificate of one key of the container named by the provider's bytes.
HRESULT ReadContainerRecord(LPCWSTR pwszProviderName, LPCSTR pszContainerName, DWORD dwKeySpec,
                            PUNREGISTERED_CERT_CONTEXT *ppRecord)
{
    TRACE_FUNCTION(L"GetUnregisteredCertfromContainer");
    // An empty name would open the provider's default container instead.
    if (IsEmpty(pwszProviderName) || pszContainerName == nullptr || *pszContainerName == '\0' || ppRecord == nullptr) {
        TRACE_FAILED(L"Check parameters", L"NULL == pwszProviderName || NULL == pwszContainerName", E_INVALIDARG);
        return E_INVALIDARG;
    }
    ContainerHandles handles;
    HRESULT hResult = AcquireContainer(pwszProviderName, pszContainerName, &handles.hProv);
    if (FAILED(hResult)) {
        TRACE_FAILED(L"CryptAcquireContext", L"FALSE == bResult", hResult);
        return hResult;
    }
    std::unique_ptr<BYTE[]> pbCertificate;
    DWORD cbCertificate = 0;
    hResult = ReadKeyCertificate(kTraceFunction, handles.hProv, dwKeySpec, pbCertificate, cbCertificate);
    if (FAILED(hResult)) return hResult;
    handles.pCertContext = CertCreateCertificateContext(kCertEncoding, pbCertificate.get(), cbCertificate);
    if (handles.pCertContext == nullptr) {
        hResult = FailedCallStatus();
        TRACE_FAILED(L"CertCreateCertificateContext", L"NULL == pCertContext", hResult);
        return hResult;
    }
    if (IsRegistered(handles.pCertContext)) {
        TRACE_FAILED(L"CryptAcquireCertificatePrivateKey", L"TRUE", VESK_E_CERT_REGISTERED);
        return VESK_E_CERT_REGISTERED;
    }
    hResult = NewRecord(pszContainerName, pwszProviderName, handles.pCertContext, dwKeySpec, ppRecord);
    if (FAILED(hResult)) TRACE_FAILED(L"CertCreateUnregisteredCertContext", L"FAILED(hResult)", hResult);
    return hResult;
}

// One key of the container: a record when it passes the filter.
void CollectKey(LPCWSTR pwszProviderName, LPCSTR pszContainerName, DWORD dwKeySpec, const CERT_FILTER *pFilter,
                UnregisteredCertVector &vtrRecords)
{
    PUNREGISTERED_CERT_CONTEXT pRecord = nullptr;
    HRESULT hResult = ReadContainerRecord(pwszProviderName, pszContainerName, dwKeySpec, &pRecord);
    TraceStatus(L"GetUnregisteredCertfromContainer", hResult);
    if (hResult != VESK_OK || pRecord == nullptr) return;
    hResult = CheckUnregisteredCertficate(pRecord->pCertContext, pFilter);
    TraceStatus(L"CheckUnregisteredCertficate", hResult);
    if (hResult != VESK_OK) {
        CertFreeUnregisteredCertContext(pRecord);
        return;
    }
    try {
        vtrRecords.push_back(pRecord);
    } catch (const std::bad_alloc &) {
        CertFreeUnregisteredCertContext(pRecord);
    }
}

// The room for the longest container name. Token-qualified names are
// asked for first, so that two tokens whose containers share a name are
// told apart; a provider that does not know the flag gives plain names.
BOOL SizeContainerNames(HCRYPTPROV hProv, DWORD *pdwQualified, DWORD *pcbName)
{
    *pdwQualified = CRYPT_FQCN;
    if (CryptGetProvParam(hProv, PP_ENUMCONTAINERS, nullptr, pcbName, CRYPT_FIRST | CRYPT_FQCN)) return TRUE;
    if (GetLastError() != static_cast<DWORD>(NTE_BAD_FLAGS)) return FALSE;
    *pdwQualified = 0;
    return CryptGetProvParam(hProv, PP_ENUMCONTAINERS, nullptr, pcbName, CRYPT_FIRST);
}

// True when the provider listed this name before: its container's
// certificates are counted once.
bool ListedBefore(std::vector<std::string> &vtrListed, const char *pszName)
{
    for (const std::string &listed : vtrListed)
        if (listed == pszName) return true;
    vtrListed.emplace_back(pszName);
    return false;
}

// Appends "||" and the name; false when the list cannot grow.
bool AppendProviderName(std::wstring &list, LPCWSTR pwszName)
{
    try {
        if (!list.empty()) list.append(kListSeparator);
        list.append(pwszName);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

HRESULT CopyList(const std::wstring &list, LPWSTR *ppwszAllCSPName)
{
    LPWSTR pwszList = new (std::nothrow) WCHAR[list.size() + 1]();
    if (pwszList == nullptr) return E_OUTOFMEMORY;
    wmemcpy(pwszList, list.c_str(), list.size());
    *ppwszAllCSPName = pwszList;
    return VESK_OK;
}

} // namespace

HRESULT CertCreateUnregisteredCertContext(LPCWSTR pwszContainerName, LPCWSTR pwszProviderName,
                                          PCCERT_CONTEXT pCertContext, DWORD dwKeySpec,
                                          PUNREGISTERED_CERT_CONTEXT *ppRecord)
{
    TRACE_FUNCTION(L"CertCreateUnregisteredCertContext");
    if (pCertContext == nullptr || IsEmpty(pwszProviderName) || IsEmpty(pwszContainerName) || ppRecord == nullptr)
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    std::unique_ptr<char[]> container;
    HRESULT hResult = AnsiBytes(pwszContainerName, container);
    if (FAILED(hResult)) return ReportStatus(L"UTF16ToANSI", hResult);
    return NewRecord(container.get(), pwszProviderName, pCertContext, dwKeySpec, ppRecord);
}

HRESULT CertDuplicateUnregisteredCertContext(const UNREGISTERED_CERT_CONTEXT *pRecord,
                                             PUNREGISTERED_CERT_CONTEXT *ppCopy)
{
    TRACE_FUNCTION(L"CertDuplicateUnregisteredCertContext");
    if (pRecord == nullptr || pRecord->pCertContext == nullptr || pRecord->wszProviderName[0] == L'\0' ||
        pRecord->szContainerName[0] == '\0')
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    return NewRecord(pRecord->szContainerName, pRecord->wszProviderName, pRecord->pCertContext, pRecord->dwKeySpec,
                     ppCopy);
}

void CertFreeUnregisteredCertContext(PUNREGISTERED_CERT_CONTEXT pRecord)
{
    if (pRecord == nullptr) return;
    if (pRecord->pCertContext != nullptr) CertFreeCertificateContext(pRecord->pCertContext);
    delete pRecord;
}

void RemoveAllUnregisteredCertificates(UnregisteredCertVector &vtrRecords)
{
    for (PUNREGISTERED_CERT_CONTEXT pRecord : vtrRecords) CertFreeUnregisteredCertContext(pRecord);
    vtrRecords.clear();
}

HRESULT ReadKeyCertificate(const wchar_t *kTraceFunction, HCRYPTPROV hProv, DWORD dwKeySpec,
                           std::unique_ptr<BYTE[]> &pbCertificate, DWORD &cbCertificate)
{
    UserKey key;
    if (!CryptGetUserKey(hProv, dwKeySpec, &key.hKey) || key.hKey == 0) {
        key.hKey = 0;
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CryptGetUserKey", L"FALSE == bResult || NULL == hKey", hResult);
        return hResult;
    }
    cbCertificate = 0;
    if (!CryptGetKeyParam(key.hKey, KP_CERTIFICATE, nullptr, &cbCertificate, 0) || cbCertificate == 0) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CryptGetKeyParam(KP_CERTIFICATE)1", L"FALSE == bResult || 0 == dwCertLen", hResult);
        return hResult;
    }
    pbCertificate.reset(new (std::nothrow) BYTE[cbCertificate + 1]());
    if (!pbCertificate) {
        TRACE_FAILED(L"new", L"NULL == pbCertificate", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    if (!CryptGetKeyParam(key.hKey, KP_CERTIFICATE, pbCertificate.get(), &cbCertificate, 0)) {
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CryptGetKeyParam(KP_CERTIFICATE)2", L"FALSE == bResult", hResult);
        return hResult;
    }
    return S_OK;
}

HRESULT AcquireContainer(LPCWSTR pwszProviderName, LPCSTR pszContainerName, HCRYPTPROV *phProv)
{
    std::unique_ptr<char[]> provider;
    HRESULT hResult = AnsiBytes(pwszProviderName, provider);
    if (FAILED(hResult)) return hResult;
    if (CryptAcquireContextA(phProv, pszContainerName, provider.get(), PROV_RSA_FULL, 0)) return S_OK;
    *phProv = 0;
    return FailedCallStatus();
}

HRESULT GetUnregisteredCertfromContainer(LPCWSTR pwszProviderName, LPCWSTR pwszContainerName, DWORD dwKeySpec,
                                         PUNREGISTERED_CERT_CONTEXT *ppRecord)
{
    if (IsEmpty(pwszContainerName)) return ReadContainerRecord(pwszProviderName, nullptr, dwKeySpec, ppRecord);
    std::unique_ptr<char[]> container;
    HRESULT hResult = AnsiBytes(pwszContainerName, container);
    if (FAILED(hResult)) return hResult;
    return ReadContainerRecord(pwszProviderName, container.get(), dwKeySpec, ppRecord);
}

HRESULT FilterUnregisteredCertificatesfromSpecifiedCSP(LPCWSTR pwszProviderName, const CERT_FILTER *pFilter,
                                                       UnregisteredCertVector &vtrRecords)
{
    TRACE_FUNCTION(L"FilterUnregisteredCertificatesfromSpecifiedCSP");
    if (IsEmpty(pwszProviderName)) {
        TRACE_FAILED(L"Check parameters", L"NULL == pwszProviderName", E_INVALIDARG);
        return E_INVALIDARG;
    }
    TraceValue(L"Provider", pwszProviderName);
    ContainerHandles handles;
    if (!CryptAcquireContextW(&handles.hProv, nullptr, pwszProviderName, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        handles.hProv = 0;
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CryptAcquireContext", L"FALSE == bResult", hResult);
        return hResult;
    }
    DWORD dwQualified = 0;
    DWORD cbNameBuffer = 0;
    if (!SizeContainerNames(handles.hProv, &dwQualified, &cbNameBuffer)) {
        // A provider without containers may say so already when asked for the length.
        if (GetLastError() == ERROR_NO_MORE_ITEMS) {
            TRACE_OK(L"CryptGetProvParam(PP_ENUMCONTAINERS) - no containers");
            return VESK_OK;
        }
        HRESULT hResult = FailedCallStatus();
        TRACE_FAILED(L"CryptGetProvParam(PP_ENUMCONTAINERS)", L"FALSE == bResult", hResult);
        return hResult;
    }
    std::unique_ptr<BYTE[]> pbName(new (std::nothrow) BYTE[cbNameBuffer + 1]());
    if (!pbName) {
        TRACE_FAILED(L"new ContainerName", L"NULL == pbContainerName", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
    std::vector<std::string> vtrListed;
    for (DWORD dwFlags = CRYPT_FIRST;; dwFlags = CRYPT_NEXT) {
        // Every call is offered the whole buffer, whatever the last name's
        // length, but for its last byte, which keeps the name terminated.
        memset(pbName.get(), 0, cbNameBuffer + 1);
        DWORD cbName = cbNameBuffer;
        if (!CryptGetProvParam(handles.hProv, PP_ENUMCONTAINERS, pbName.get(), &cbName, dwFlags | dwQualified)) break;
        // The name is ANSI text: it is opened by its very bytes and only
        // shown through the code page.
        const char *pszContainer = reinterpret_cast<const char *>(pbName.get());
        wchar_t *pwszShown = nullptr;
        int cchShown = 0;
        HRESULT hResult = ANSIToUTF16(pszContainer, &pwszShown, &cchShown);
        std::unique_ptr<wchar_t[]> shown(pwszShown);
        TRACE_RETURN_IF_FAILED(L"ANSIToUTF16", hResult);
        TraceValue(L"Container", pwszShown);
        try {
            if (ListedBefore(vtrListed, pszContainer)) continue;
        } catch (const std::bad_alloc &) {
            TRACE_FAILED(L"new ContainerName", L"NULL == pbContainerName", E_OUTOFMEMORY);
            return E_OUTOFMEMORY;
        }
        CollectKey(pwszProviderName, pszContainer, AT_KEYEXCHANGE, pFilter, vtrRecords);
        CollectKey(pwszProviderName, pszContainer, AT_SIGNATURE, pFilter, vtrRecords);
    }
    TRACE_OK(L"CryptGetProvParam(PP_ENUMCONTAINERS)");
    return VESK_OK;
}

HRESULT FilterUnregisteredCertificatesfromCSP(LPCWSTR pwszCSPList, const CERT_FILTER *pFilter,
                                              UnregisteredCertVector &vtrRecords)
{
    TRACE_FUNCTION(L"FilterUnregisteredCertificatesfromCSP");
    std::unique_ptr<WCHAR[]> allNames;
    if (pwszCSPList == nullptr) {
        LPWSTR pwszAllNames = nullptr;
        HRESULT hResult = GetAllCSPName(&pwszAllNames);
        allNames.reset(pwszAllNames);
        if (FAILED(hResult)) {
            RemoveAllUnregisteredCertificates(vtrRecords);
            TRACE_FAILED(L"GetAllCSPName", L"FAILED(hResult)", hResult);
            return hResult;
        }
        pwszCSPList = pwszAllNames;
    }
    StringVector vtrNames;
    SplitStrings(pwszCSPList, vtrNames);
    for (const std::wstring &name : vtrNames) {
        if (name.find(L"Microsoft") != std::wstring::npos) continue;
        HRESULT hResult = FilterUnregisteredCertificatesfromSpecifiedCSP(name.c_str(), pFilter, vtrRecords);
        if (FAILED(hResult)) TRACE_FAILED(name.c_str(), L"FAILED(hResult)", hResult);
    }
    return VESK_OK;
}

HRESULT GetAllCSPName(LPWSTR *ppwszAllCSPName)
{
    TRACE_FUNCTION(L"GetAllCSPName");
    if (ppwszAllCSPName == nullptr) {
        TRACE_FAILED(L"Check parameters", L"NULL == pbstrAllCSPName", E_INVALIDARG);
        return E_INVALIDARG;
    }
    std::wstring list;
    DWORD dwFailures = 0;
    for (DWORD dwIndex = 0; dwFailures < kMaxConsecutiveProviderFailures; ++dwIndex) {
        DWORD dwType = 0;
        DWORD cbName = 0;
        if (!CryptEnumProvidersW(dwIndex, nullptr, 0, &dwType, nullptr, &cbName)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
            ++dwFailures;
            continue;
        }
        std::unique_ptr<WCHAR[]> pwszName(new (std::nothrow) WCHAR[cbName / sizeof(WCHAR) + 1]());
        if (!pwszName) {
            TRACE_FAILED(L"New buffer", L"!pwstrProvName", E_OUTOFMEMORY);
            return E_OUTOFMEMORY;
        }
        if (!CryptEnumProvidersW(dwIndex, nullptr, 0, &dwType, pwszName.get(), &cbName)) {
            // A provider registered between the two calls can lengthen the
            // name at this index: the same index is asked again.
            if (GetLastError() == ERROR_MORE_DATA && ++dwFailures < kMaxConsecutiveProviderFailures) {
                --dwIndex;
                continue;
            }
            HRESULT hResult = FailedCallStatus();
            TRACE_FAILED(L"CryptEnumProviders", L"!bResult", hResult);
            return hResult;
        }
        if (!AppendProviderName(list, pwszName.get())) {
            TRACE_FAILED(L"New buffer", L"!*pbstrAllCSPName", E_OUTOFMEMORY);
            return E_OUTOFMEMORY;
        }
        dwFailures = 0;
    }
    if (dwFailures >= kMaxConsecutiveProviderFailures)
        TRACE_FAILED(L"CryptEnumProviders", L"!bResult", FailedCallStatus());
    HRESULT hResult = CopyList(list, ppwszAllCSPName);
    if (FAILED(hResult)) TRACE_FAILED(L"New buffer", L"!*pbstrAllCSPName", hResult);
    return hResult;
}

void SplitStrings(LPCWSTR pwszList, StringVector &vtrNames)
{
    if (pwszList == nullptr) return;
    for (const wchar_t *pwszPiece = pwszList;;) {
        const wchar_t *pwszEnd = wcsstr(pwszPiece, kListSeparator);
        const size_t cchPiece = pwszEnd ? static_cast<size_t>(pwszEnd - pwszPiece) : wcslen(pwszPiece);
        if (cchPiece == 0) return;
        vtrNames.emplace_back(pwszPiece, cchPiece);
        if (pwszEnd == nullptr) return;
        pwszPiece = pwszEnd + kListSeparatorCch;
    }
}
