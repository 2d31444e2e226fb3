// Attributes of a certificate read into buffers for the caller, the
// hexadecimal conversions of serial numbers and key identifiers, and
// certificate vectors.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <vector>

// Query types of QueryCertContextInfo.
enum : DWORD {
    CERTINFO_SUBJECT = 1,        // X.500 text, CN first
    CERTINFO_SUBJECT_VALUES = 2, // values only
    CERTINFO_ISSUER = 3,         // X.500 text
    CERTINFO_SERIAL_NUMBER = 4,  // bytes, least significant first
    CERTINFO_PROVIDER_NAME = 5,
    CERTINFO_NOT_AFTER = 6,      // SYSTEMTIME (UTC) in the caller's storage
    CERTINFO_NOT_BEFORE = 7,     // SYSTEMTIME (UTC) in the caller's storage
    CERTINFO_SUBJECT_KEY_ID = 8, // bytes in encoded order
    CERTINFO_KEY_USAGE = 9,      // DWORD in the caller's storage
    CERTINFO_CONTAINER_NAME = 10,
    CERTINFO_COMMON_NAME = 11,
};

// Holds one reference on each element.
typedef std::vector<PCCERT_CONTEXT> CertificateVector;

// Texts and byte arrays are new[] arrays the caller frees with delete[].
// pvValue points to the result pointer, or for types 6, 7 and 9 to the
// caller's SYSTEMTIME or DWORD.
HRESULT QueryCertContextInfo(DWORD *pdwLength, void *pvValue, PCCERT_CONTEXT pCertContext, DWORD dwQueryType);

HRESULT GetCertCN(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName);
HRESULT GetCertSubject(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName, DWORD dwStrType);
HRESULT GetCertIssuer(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName);
HRESULT GetCertSerialNumber(BYTE **ppbSerial, PCCERT_CONTEXT pCertContext, DWORD *pcbSerial);
HRESULT GetCertKeyUsage(PCCERT_CONTEXT pCertContext, DWORD *pdwKeyUsage, DWORD *pcbKeyUsage);
// With a null ppbKeyID only tests that the extension is present.
HRESULT GetCertSubjectKeyID(PCCERT_CONTEXT pCertContext, BYTE **ppbKeyID, DWORD *pcbKeyID);
HRESULT GetCertProviderName(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName);
HRESULT GetCertContainerName(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName);
HRESULT GetCertToDate(PCCERT_CONTEXT pCertContext, SYSTEMTIME *pstTime, DWORD *pcbTime);
HRESULT GetCertFromDate(PCCERT_CONTEXT pCertContext, SYSTEMTIME *pstTime, DWORD *pcbTime);

// Lowercase hexadecimal, no separators; bReverse takes the bytes from last
// to first.
HRESULT ConvertBinaryDataToString(LPWSTR *ppwszText, DWORD cbData, const BYTE *pbData, BOOL bReverse);
// An even-length hexadecimal text read as a big-endian number and stored
// least significant byte first (the serial-number blob's order).
HRESULT ConvertStringToBinaryData(DWORD *pcbData, LPCWSTR pwszText, BYTE **ppbData);

void RemoveAllCertificates(CertificateVector &vtrCertificates);
// Appends a duplicate of each certificate of the store, in enumeration order.
HRESULT ExtractCertificatesFromStore(HCERTSTORE hStore, CertificateVector &vtrCertificates);
