// Removal of CA certificates that earlier releases installed and that are
// no longer trusted.
#pragma once

#include "CertificateFilter.h"

#include <windows.h>

// Each processes its built-in list, traces every row's status and returns 0.
HRESULT DeleteRSADiscardCert();
HRESULT DeleteSM2DiscardCert();

// Removes the matching certificates from the machine's and then the
// user's "CA" store; a failure on the machine skips the user.
HRESULT DeleteIntermediateCert(LPCWSTR pwszSerialNumber, LPCWSTR pwszSubjectDN, LPCWSTR pwszIssuerDN);
// Removes the matching certificates from the machine's "CA" store, then
// the root-store registry key named by the thumbprint.
HRESULT DeleteTrustedRootCert(LPCWSTR pwszThumbprint, LPCWSTR pwszSerialNumber, LPCWSTR pwszSubjectDN,
                              LPCWSTR pwszIssuerDN);
// Deletes every certificate of the "CA" store of one location
// (CERT_SYSTEM_STORE_LOCAL_MACHINE or CERT_SYSTEM_STORE_CURRENT_USER) that
// passes the filter; single failed deletions are only traced.
HRESULT DeleteCertificateFromStore(DWORD dwFlag, const CERT_FILTER *pFilter);
// Deletes one key under the machine's root-store certificates key.
HRESULT DeleteRegistryKey(LPCWSTR pwszThumbprint);
