#include "CertificateQuery.h"

#include "CryptoApiSigning.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <memory>
#include <new>

namespace {

const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const DWORD kNameFlags = CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_NO_QUOTING_FLAG;

template <typename T>
T *NewZeroed(size_t n)
{
    return new (std::nothrow) T[n == 0 ? 1 : n]();
}

HRESULT NameToString(PCERT_NAME_BLOB pName, DWORD dwStrType, LPWSTR *ppwszName, DWORD *pcchName)
{
    DWORD cch = CertNameToStrW(kCertEncoding, pName, dwStrType, nullptr, 0);
    if (cch == 0) return ReportFailedCall(L"CertNameToStr");
    std::unique_ptr<WCHAR[]> pwszName(NewZeroed<WCHAR>(cch));
    if (!pwszName) return ReportStatus(L"Dispatch memory failed.", E_OUTOFMEMORY);
    if (CertNameToStrW(kCertEncoding, pName, dwStrType, pwszName.get(), cch) == 0)
        return ReportFailedCall(L"CertNameToStr");
    *ppwszName = pwszName.release();
    *pcchName = cch;
    return VESK_OK;
}

// CryptDecodeObjectEx of an extension, length first, into a zeroed buffer.
HRESULT DecodeExtension(PCERT_EXTENSION pExtension, LPCSTR pszStructType, std::unique_ptr<BYTE[]> &pbDecoded)
{
    DWORD cbDecoded = 0;
    if (!CryptDecodeObjectEx(kCertEncoding, pszStructType, pExtension->Value.pbData, pExtension->Value.cbData,
                             CRYPT_DECODE_NOCOPY_FLAG, nullptr, nullptr, &cbDecoded))
        return ReportFailedCall(L"CryptDecodeObjectEx");
    pbDecoded.reset(NewZeroed<BYTE>(cbDecoded));
    if (!pbDecoded) return ReportStatus(L"Dispatch memory failed.", E_OUTOFMEMORY);
    if (!CryptDecodeObjectEx(kCertEncoding, pszStructType, pExtension->Value.pbData, pExtension->Value.cbData,
                             CRYPT_DECODE_NOCOPY_FLAG, nullptr, pbDecoded.get(), &cbDecoded))
        return ReportFailedCall(L"CryptDecodeObjectEx");
    return VESK_OK;
}

PCERT_EXTENSION FindExtension(PCCERT_CONTEXT pCertContext, LPCSTR pszObjId)
{
    return CertFindExtension(pszObjId, pCertContext->pCertInfo->cExtension, pCertContext->pCertInfo->rgExtension);
}

// A provider parameter of the certificate's key container, as wide text.
HRESULT GetKeyProviderText(PCCERT_CONTEXT pCertContext, DWORD dwParam, LPWSTR *ppwszText, DWORD *pcchText)
{
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bCallerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(pCertContext, 0, nullptr, &hProv, &dwKeySpec, &bCallerFree))
        return ReportFailedCall(L"CryptAcquireCertificatePrivateKey FAILED.");
    BYTE *pbValue = nullptr;
    DWORD cbValue = 0;
    HRESULT hResult = GetProviderInfo(&cbValue, hProv, dwParam, &pbValue);
    std::unique_ptr<BYTE[]> value(pbValue);
    // A handle the platform keeps cached on the certificate is not ours.
    if (bCallerFree) CryptReleaseContext(hProv, 0);
    if (FAILED(hResult)) return ReportStatus(L"GetProviderInfo FAILED.", hResult);
    wchar_t *pwszText = nullptr;
    int cchText = 0;
    // Provider names and container names are ANSI text.
    hResult = ANSIToUTF16(reinterpret_cast<const char *>(pbValue), &pwszText, &cchText);
    std::unique_ptr<wchar_t[]> text(pwszText);
    if (FAILED(hResult)) return ReportStatus(L"ANSIToUTF16 FAILED.", hResult);
    *ppwszText = text.release();
    *pcchText = static_cast<DWORD>(cchText);
    return VESK_OK;
}

HRESULT FileTimeToUtc(const FILETIME &ftTime, SYSTEMTIME *pstTime, DWORD *pcbTime)
{
    FileTimeToSystemTime(&ftTime, pstTime);
    *pcbTime = sizeof(SYSTEMTIME);
    return VESK_OK;
}

bool HexDigitValue(wchar_t ch, BYTE &value)
{
    if (ch >= L'0' && ch <= L'9')
        value = static_cast<BYTE>(ch - L'0');
    else if (ch >= L'a' && ch <= L'f')
        value = static_cast<BYTE>(ch - L'a' + 10);
    else if (ch >= L'A' && ch <= L'F')
        value = static_cast<BYTE>(ch - L'A' + 10);
    else
        return false;
    return true;
}

} // namespace

HRESULT QueryCertContextInfo(DWORD *pdwLength, void *pvValue, PCCERT_CONTEXT pCertContext, DWORD dwQueryType)
{
    TRACE_FUNCTION(L"QueryCertContextInfo");
    if (pdwLength == nullptr || pvValue == nullptr || pCertContext == nullptr)
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    TraceValueInt(L"QueryType", static_cast<LONG>(dwQueryType));
    LPWSTR *ppwszText = static_cast<LPWSTR *>(pvValue);
    BYTE **ppbBytes = static_cast<BYTE **>(pvValue);
    SYSTEMTIME *pstTime = static_cast<SYSTEMTIME *>(pvValue);
    switch (dwQueryType) {
    case CERTINFO_SUBJECT:
        return GetCertSubject(pCertContext, ppwszText, pdwLength, CERT_X500_NAME_STR);
    case CERTINFO_SUBJECT_VALUES:
        return GetCertSubject(pCertContext, ppwszText, pdwLength, CERT_SIMPLE_NAME_STR);
    case CERTINFO_ISSUER:
        return GetCertIssuer(pCertContext, ppwszText, pdwLength);
    case CERTINFO_SERIAL_NUMBER:
        return GetCertSerialNumber(ppbBytes, pCertContext, pdwLength);
    case CERTINFO_PROVIDER_NAME:
        return GetCertProviderName(pCertContext, ppwszText, pdwLength);
    case CERTINFO_NOT_AFTER:
        return GetCertToDate(pCertContext, pstTime, pdwLength);
    case CERTINFO_NOT_BEFORE:
        return GetCertFromDate(pCertContext, pstTime, pdwLength);
    case CERTINFO_SUBJECT_KEY_ID:
        return GetCertSubjectKeyID(pCertContext, ppbBytes, pdwLength);
    case CERTINFO_KEY_USAGE:
        return GetCertKeyUsage(pCertContext, static_cast<DWORD *>(pvValue), pdwLength);
    case CERTINFO_CONTAINER_NAME:
        return GetCertContainerName(pCertContext, ppwszText, pdwLength);
    case CERTINFO_COMMON_NAME:
        return GetCertCN(pCertContext, ppwszText, pdwLength);
    default:
        return ReportStatus(L"Query type", VESK_E_QUERY_TYPE);
    }
}

HRESULT GetCertCN(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName)
{
    TRACE_FUNCTION(L"GetCertCN");
    DWORD cch = CertGetNameStringW(pCertContext, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (cch == 0) return ReportFailedCall(L"CertGetNameString");
    std::unique_ptr<WCHAR[]> pwszName(NewZeroed<WCHAR>(cch));
    if (!pwszName) return ReportStatus(L"New memory failed.", E_OUTOFMEMORY);
    if (CertGetNameStringW(pCertContext, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, pwszName.get(), cch) == 0)
        return ReportFailedCall(L"CertGetNameString");
    *ppwszName = pwszName.release();
    if (pcchName != nullptr) *pcchName = cch;
    return VESK_OK;
}

HRESULT GetCertSubject(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName, DWORD dwStrType)
{
    TRACE_FUNCTION(L"GetCertSubject");
    return NameToString(&pCertContext->pCertInfo->Subject, dwStrType | kNameFlags, ppwszName, pcchName);
}

HRESULT GetCertIssuer(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName)
{
    TRACE_FUNCTION(L"GetCertIssuer");
    return NameToString(&pCertContext->pCertInfo->Issuer, CERT_X500_NAME_STR | kNameFlags, ppwszName, pcchName);
}

HRESULT GetCertSerialNumber(BYTE **ppbSerial, PCCERT_CONTEXT pCertContext, DWORD *pcbSerial)
{
    TRACE_FUNCTION(L"GetCertSerialNumber");
    const CRYPT_INTEGER_BLOB &serial = pCertContext->pCertInfo->SerialNumber;
    BYTE *pbSerial = NewZeroed<BYTE>(serial.cbData);
    if (pbSerial == nullptr) return ReportStatus(L"Dispatch memory failed.", E_OUTOFMEMORY);
    if (serial.cbData != 0) memcpy(pbSerial, serial.pbData, serial.cbData);
    *ppbSerial = pbSerial;
    *pcbSerial = serial.cbData;
    return VESK_OK;
}

HRESULT GetCertKeyUsage(PCCERT_CONTEXT pCertContext, DWORD *pdwKeyUsage, DWORD *pcbKeyUsage)
{
    TRACE_FUNCTION(L"GetCertKeyUsage");
    PCERT_EXTENSION pExtension = FindExtension(pCertContext, szOID_KEY_USAGE);
    if (pExtension == nullptr) return ReportStatus(L"CertFindExtension", VESK_E_NO_KEY_USAGE);
    std::unique_ptr<BYTE[]> pbDecoded;
    HRESULT hResult = DecodeExtension(pExtension, szOID_KEY_USAGE, pbDecoded);
    if (FAILED(hResult)) return hResult;
    // An empty bit string carries no usage at all; there is no first byte to read.
    const CRYPT_BIT_BLOB *pUsage = reinterpret_cast<const CRYPT_BIT_BLOB *>(pbDecoded.get());
    *pdwKeyUsage = pUsage->cbData == 0 ? 0 : pUsage->pbData[0];
    *pcbKeyUsage = sizeof(DWORD);
    return VESK_OK;
}

HRESULT GetCertSubjectKeyID(PCCERT_CONTEXT pCertContext, BYTE **ppbKeyID, DWORD *pcbKeyID)
{
    TRACE_FUNCTION(L"GetCertSubjectKeyID");
    PCERT_EXTENSION pExtension = FindExtension(pCertContext, szOID_SUBJECT_KEY_IDENTIFIER);
    if (pExtension == nullptr) return ReportStatus(L"CertFindExtension", VESK_E_NO_SUBJECT_KEY_ID);
    if (ppbKeyID == nullptr) return VESK_OK;
    std::unique_ptr<BYTE[]> pbDecoded;
    HRESULT hResult = DecodeExtension(pExtension, szOID_SUBJECT_KEY_IDENTIFIER, pbDecoded);
    if (FAILED(hResult)) return hResult;
    const CRYPT_DATA_BLOB *pKeyID = reinterpret_cast<const CRYPT_DATA_BLOB *>(pbDecoded.get());
    BYTE *pbKeyID = NewZeroed<BYTE>(pKeyID->cbData);
    if (pbKeyID == nullptr) return ReportStatus(L"Dispatch memory failed.", E_OUTOFMEMORY);
    if (pKeyID->cbData != 0) memcpy(pbKeyID, pKeyID->pbData, pKeyID->cbData);
    *ppbKeyID = pbKeyID;
    *pcbKeyID = pKeyID->cbData;
    return VESK_OK;
}

HRESULT GetCertProviderName(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName)
{
    TRACE_FUNCTION(L"GetCertProviderName");
    return GetKeyProviderText(pCertContext, PP_NAME, ppwszName, pcchName);
}

HRESULT GetCertContainerName(PCCERT_CONTEXT pCertContext, LPWSTR *ppwszName, DWORD *pcchName)
{
    TRACE_FUNCTION(L"GetCertContainerName");
    return GetKeyProviderText(pCertContext, PP_CONTAINER, ppwszName, pcchName);
}

HRESULT GetCertToDate(PCCERT_CONTEXT pCertContext, SYSTEMTIME *pstTime, DWORD *pcbTime)
{
    TRACE_FUNCTION(L"GetCertToDate");
    return FileTimeToUtc(pCertContext->pCertInfo->NotAfter, pstTime, pcbTime);
}

HRESULT GetCertFromDate(PCCERT_CONTEXT pCertContext, SYSTEMTIME *pstTime, DWORD *pcbTime)
{
    TRACE_FUNCTION(L"GetCertFromDate");
    return FileTimeToUtc(pCertContext->pCertInfo->NotBefore, pstTime, pcbTime);
}

HRESULT ConvertBinaryDataToString(LPWSTR *ppwszText, DWORD cbData, const BYTE *pbData, BOOL bReverse)
{
    TRACE_FUNCTION(L"ConvertBinaryDataToString");
    if (ppwszText == nullptr || (pbData == nullptr && cbData != 0))
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    static const wchar_t kHex[] = L"0123456789abcdef";
    LPWSTR pwszText = NewZeroed<WCHAR>(2 * static_cast<size_t>(cbData) + 1);
    if (pwszText == nullptr) return ReportStatus(L"Dispatch memory failed.", E_OUTOFMEMORY);
    for (DWORD i = 0; i < cbData; ++i) {
        const BYTE b = pbData[bReverse ? cbData - 1 - i : i];
        pwszText[2 * i] = kHex[b >> 4];
        pwszText[2 * i + 1] = kHex[b & 0x0F];
    }
    *ppwszText = pwszText;
    return VESK_OK;
}

HRESULT ConvertStringToBinaryData(DWORD *pcbData, LPCWSTR pwszText, BYTE **ppbData)
{
    TRACE_FUNCTION(L"ConvertStringToBinaryData");
    if (pcbData == nullptr || pwszText == nullptr || ppbData == nullptr)
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    // The text comes from a web page: any length, checked in place.
    const size_t cchText = wcslen(pwszText);
    if (cchText == 0 || cchText % 2 != 0) return ReportStatus(L"Check text length", E_INVALIDARG);
    const DWORD cbData = static_cast<DWORD>(cchText / 2);
    std::unique_ptr<BYTE[]> pbData(NewZeroed<BYTE>(static_cast<size_t>(cbData) + 4));
    if (!pbData) return ReportStatus(L"Dispatch memory failed.", E_OUTOFMEMORY);
    for (DWORD i = 0; i < cbData; ++i) {
        // Byte i is the digit pair counted from the end: big-endian text,
        // least significant byte first in the blob.
        const size_t iPair = 2 * static_cast<size_t>(cbData - 1 - i);
        BYTE high = 0, low = 0;
        if (!HexDigitValue(pwszText[iPair], high) || !HexDigitValue(pwszText[iPair + 1], low))
            return ReportStatus(L"Check hexadecimal digits", E_INVALIDARG);
        pbData[i] = static_cast<BYTE>(high << 4 | low);
    }
    *ppbData = pbData.release();
    *pcbData = cbData;
    return VESK_OK;
}

void RemoveAllCertificates(CertificateVector &vtrCertificates)
{
    for (PCCERT_CONTEXT pCertContext : vtrCertificates)
        if (pCertContext != nullptr) CertFreeCertificateContext(pCertContext);
    vtrCertificates.clear();
}

HRESULT ExtractCertificatesFromStore(HCERTSTORE hStore, CertificateVector &vtrCertificates)
{
    TRACE_FUNCTION(L"ExtractCertificatesFromStore");
    if (hStore == nullptr) {
        RemoveAllCertificates(vtrCertificates);
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    }
    PCCERT_CONTEXT pCurrent = nullptr;
    while ((pCurrent = CertEnumCertificatesInStore(hStore, pCurrent)) != nullptr) {
        PCCERT_CONTEXT pDuplicate = CertDuplicateCertificateContext(pCurrent);
        if (pDuplicate == nullptr) {
            HRESULT hResult = ReportFailedCall(L"CertDuplicateCertificateContext");
            CertFreeCertificateContext(pCurrent);
            RemoveAllCertificates(vtrCertificates);
            return hResult;
        }
        vtrCertificates.push_back(pDuplicate);
    }
    return VESK_OK;
}
