// Certificates read from the key containers of the installed providers,
// kept with the provider, container and key spec they were read under.
#pragma once

#include "CertificateFilter.h"
#include "CertificateQuery.h"
#include "CryptoApiSigning.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <vector>

const size_t UNREGISTERED_NAME_CCH = 260;

struct UNREGISTERED_CERT_CONTEXT {
    WCHAR wszProviderName[UNREGISTERED_NAME_CCH];
    WCHAR wszContainerName[UNREGISTERED_NAME_CCH]; // szContainerName as shown, in the ANSI code page
    DWORD dwKeySpec;                               // AT_KEYEXCHANGE or AT_SIGNATURE
    PCCERT_CONTEXT pCertContext;                   // one reference owned by the record
    // The container's name as the provider takes and lists it: ANSI bytes,
    // which do not always survive a trip through UTF-16. Only these open it.
    CHAR szContainerName[UNREGISTERED_NAME_CCH];
};
typedef UNREGISTERED_CERT_CONTEXT *PUNREGISTERED_CERT_CONTEXT;

// Owns its records; RemoveAllUnregisteredCertificates frees them.
typedef std::vector<PUNREGISTERED_CERT_CONTEXT> UnregisteredCertVector;

// Note the order: container first, provider second. The container's name
// is kept as the ANSI bytes CryptAcquireContextW hands the provider.
HRESULT CertCreateUnregisteredCertContext(LPCWSTR pwszContainerName, LPCWSTR pwszProviderName,
                                          PCCERT_CONTEXT pCertContext, DWORD dwKeySpec,
                                          PUNREGISTERED_CERT_CONTEXT *ppRecord);
// A full copy with its own certificate reference.
HRESULT CertDuplicateUnregisteredCertContext(const UNREGISTERED_CERT_CONTEXT *pRecord,
                                             PUNREGISTERED_CERT_CONTEXT *ppCopy);
void CertFreeUnregisteredCertContext(PUNREGISTERED_CERT_CONTEXT pRecord);
void RemoveAllUnregisteredCertificates(UnregisteredCertVector &vtrRecords);

// The encoded certificate stored with the key of dwKeySpec in an open
// container (length + 1 zero-filled bytes); failures are traced under
// kTraceFunction.
HRESULT ReadKeyCertificate(const wchar_t *kTraceFunction, HCRYPTPROV hProv, DWORD dwKeySpec,
                           std::unique_ptr<BYTE[]> &pbCertificate, DWORD &cbCertificate);

// Opens a container by exactly the ANSI bytes of its name; the provider's
// name goes through the ANSI code page as CryptAcquireContextW sends it.
HRESULT AcquireContainer(LPCWSTR pwszProviderName, LPCSTR pszContainerName, HCRYPTPROV *phProv);

// The certificate of one key of one container; 0xA0071009 when the system
// can already open its private key.
HRESULT GetUnregisteredCertfromContainer(LPCWSTR pwszProviderName, LPCWSTR pwszContainerName, DWORD dwKeySpec,
                                         PUNREGISTERED_CERT_CONTEXT *ppRecord);

// Appends the records of one provider's containers that pass the filter.
HRESULT FilterUnregisteredCertificatesfromSpecifiedCSP(LPCWSTR pwszProviderName, const CERT_FILTER *pFilter,
                                                       UnregisteredCertVector &vtrRecords);
// The same over a "||"-separated provider list, or all installed providers
// when it is null; names containing "Microsoft" are skipped.
HRESULT FilterUnregisteredCertificatesfromCSP(LPCWSTR pwszCSPList, const CERT_FILTER *pFilter,
                                              UnregisteredCertVector &vtrRecords);

// All installed provider names joined by "||", a new[] text.
HRESULT GetAllCSPName(LPWSTR *ppwszAllCSPName);
// Appends the names of a "||"-separated list; an empty piece ends it.
void SplitStrings(LPCWSTR pwszList, StringVector &vtrNames);
