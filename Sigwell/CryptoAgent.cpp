#include "CryptoAgent.h"

#include "Base64.h"
#include "CertificateDialogs.h"
#include "ErrorCode.h"
#include "ErrorText.h"
#include "NetworkAdapters.h"
#include "PlatformStatus.h"
#include "SM2Signature.h"
#include "SmAlgorithms.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <iphlpapi.h>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace {

const char kSM2AlgorithmPrefix[] = "1.2.156.10197";
const char kRSAAlgorithmPrefix[] = "1.2.840.113549";
const char kSM2SignatureObjId[] = "1.2.156.10197.1.301.1";

// The provider's own parameter: its tokens' key identifiers.
const DWORD PP_KEY_IDENTIFIERS = 80;

const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The longest SM2 signature as a SignerInfo carries it: OCTET STRING {
// SEQUENCE { INTEGER r, INTEGER s } }, each INTEGER 33 bytes at most.
const size_t SM2_ENCODED_SIGNATURE_MAX = 2 + 2 + 2 * (2 + 33);
// A tag and the longest length octets.
const size_t DER_HEADER_MAX = 6;
// The SignedData's two dozen headers, its object identifiers and
// versions, with room to spare.
const size_t SIGNED_DATA_FRAME_MAX = 256;

// "xx-xx-xx-xx-xx-xx|"
const size_t MAC_TEXT_CCH = 18;

// Names the operation a helper works for in its step and failure lines.
#define TRACE_NAME(name) static const wchar_t *const kTraceFunction = name

// The module that carries the agent, host or plug-in alike: its string
// table holds the status texts and the dialog's heading.
HMODULE AgentModule()
{
    HMODULE hModule = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&AgentModule), &hModule);
    return hModule;
}

// A new BSTR of the text, or of the empty text when there is none.
HRESULT HandOutText(const wchar_t *pwszText, BSTR *pbstrText)
{
    *pbstrText = SysAllocString(pwszText != nullptr ? pwszText : L"");
    return *pbstrText != nullptr ? S_OK : E_OUTOFMEMORY;
}

// Hands out what a reader produced (the empty text after its failure),
// frees it and returns the reader's failure or the hand-out's status.
HRESULT HandOutRead(HRESULT hResult, wchar_t *pwszText, BSTR *pbstrText)
{
    HRESULT hrHandOut = HandOutText(SUCCEEDED(hResult) ? pwszText : nullptr, pbstrText);
    if (SUCCEEDED(hResult)) hResult = hrHandOut;
    delete[] pwszText;
    return hResult;
}

HRESULT NewTextCopy(const wchar_t *pwszSource, wchar_t **ppwszText)
{
    const size_t cch = wcslen(pwszSource) + 1;
    *ppwszText = new (std::nothrow) wchar_t[cch];
    if (*ppwszText == nullptr) return E_OUTOFMEMORY;
    wmemcpy(*ppwszText, pwszSource, cch);
    return S_OK;
}

// Bytes as one padded line of Base64, in UTF-16.
HRESULT Base64Text(const BYTE *pbData, DWORD cbData, wchar_t **ppwszText)
{
    char *pszBase64 = nullptr;
    DWORD cchBase64 = 0;
    HRESULT hResult = Base64EncodeEx(BASE64_NO_LINE_BREAKS, &pszBase64, pbData, cbData, &cchBase64);
    if (SUCCEEDED(hResult)) {
        int cchText = 0;
        hResult = UTF8ToUTF16(pszBase64, ppwszText, &cchText);
    }
    delete[] pszBase64;
    return hResult;
}

// The selection as one signature holds it: its own references.
struct SignerCopy {
    SignerCopy() = default;
    SignerCopy(const SignerCopy &) = delete;
    SignerCopy &operator=(const SignerCopy &) = delete;
    ~SignerCopy()
    {
        CertFreeUnregisteredCertContext(pRecord);
        if (pCertContext != nullptr) CertFreeCertificateContext(pCertContext);
    }

    BOOL bSM2 = FALSE;
    PUNREGISTERED_CERT_CONTEXT pRecord = nullptr; // SM2
    PCCERT_CONTEXT pCertContext = nullptr;        // RSA
};

// The longest signature a SignerInfo for the certificate's key carries.
size_t LongestEncodedSignature(PCCERT_CONTEXT pCertContext, BOOL bSM2)
{
    if (bSM2) return SM2_ENCODED_SIGNATURE_MAX;
    PCERT_PUBLIC_KEY_INFO pKeyInfo = &pCertContext->pCertInfo->SubjectPublicKeyInfo;
    return (CertGetPublicKeyLength(kCertEncoding, pKeyInfo) + 7) / 8 + DER_HEADER_MAX;
}

// Signature algorithm of a certificate: TRUE for SM2, FALSE for RSA.
HRESULT CertificateAlgorithm(PCCERT_CONTEXT pCertContext, BOOL *pbSM2)
{
    if (CheckCertSignatureAlg(kSM2AlgorithmPrefix, pCertContext) == S_OK)
        *pbSM2 = TRUE;
    else if (CheckCertSignatureAlg(kRSAAlgorithmPrefix, pCertContext) == S_OK)
        *pbSM2 = FALSE;
    else
        return VESK_E_INVALID_KEY_ALG;
    return S_OK;
}

// The single candidate through the selection entry, which hands it back
// without a dialog; an owner window the dialog cannot use is replaced by
// the active window once.
HRESULT ChooseCertificate(const CertificateVector &vtrCertificateSet, PCCERT_CONTEXT *ppChosenCert)
{
    TRACE_NAME(L"CCryptoAgent::SelectCertificate");
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT stSelect = {};
    stSelect.dwForm = CUSTOM_CRYPTUI_FORM_SHORT;
    stSelect.hInstance = AgentModule();
    stSelect.u.shortForm.dwShowAlways = 0;
    stSelect.u.shortForm.dwOwnerGiven = 1;
    stSelect.u.shortForm.hWndOwner = GetForegroundWindow();
    HRESULT hResult = CustomCryptUIDlgSelectCertificate(&stSelect, ppChosenCert, vtrCertificateSet);
    if (hResult == StatusFromLastError(CERTIFICATE_DIALOG_NOT_CREATED)) {
        stSelect.u.shortForm.hWndOwner = GetActiveWindow();
        hResult = CustomCryptUIDlgSelectCertificate(&stSelect, ppChosenCert, vtrCertificateSet);
    }
    TRACE_RETURN_IF_FAILED(L"CustomCryptUIDlgSelectCertificate", hResult);
    TRACE_OK(L"CustomCryptUIDlgSelectCertificate");
    return S_OK;
}

HRESULT QuerySubjectCN(PCCERT_CONTEXT pCertContext, wchar_t **ppwszText)
{
    TRACE_NAME(L"CCryptoAgent::GetSignCertInfo");
    DWORD dwCertInfoLen = CertGetNameStringW(pCertContext, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (dwCertInfoLen <= 1) {
        TRACE_FAILED(L"CertGetNameString(1)", L"dwCertInfoLen <= 1", VESK_E_QUERY_TYPE);
        return VESK_E_QUERY_TYPE;
    }
    std::unique_ptr<wchar_t[]> pwszName(new (std::nothrow) wchar_t[dwCertInfoLen]());
    if (!pwszName) return E_OUTOFMEMORY;
    dwCertInfoLen =
        CertGetNameStringW(pCertContext, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, pwszName.get(), dwCertInfoLen);
    if (dwCertInfoLen <= 1) {
        TRACE_FAILED(L"CertGetNameString(2)", L"dwCertInfoLen <= 1", VESK_E_QUERY_TYPE);
        return VESK_E_QUERY_TYPE;
    }
    *ppwszText = pwszName.release();
    return S_OK;
}

HRESULT QuerySerialNumber(PCCERT_CONTEXT pCertContext, wchar_t **ppwszText)
{
    TRACE_NAME(L"CCryptoAgent::GetSignCertInfo");
    BYTE *pbSerial = nullptr;
    DWORD cbSerial = 0;
    HRESULT hResult = QueryCertContextInfo(&cbSerial, &pbSerial, pCertContext, CERTINFO_SERIAL_NUMBER);
    if (hResult == S_OK) hResult = ConvertBinaryDataToString(ppwszText, cbSerial, pbSerial, TRUE);
    delete[] pbSerial;
    if (hResult != S_OK) {
        TRACE_FAILED(L"SerialNumber", L"S_OK != hResult", hResult);
        return hResult;
    }
    return S_OK;
}

// A validity date in the local time zone. It is formatted from the
// calendar fields themselves: a trip through the C runtime's time value
// would wrap after 2038 with a 32-bit time_t and stop at the year 3000
// with a 64-bit one.
HRESULT QueryLocalDate(PCCERT_CONTEXT pCertContext, DWORD dwQueryType, wchar_t **ppwszText)
{
    TRACE_NAME(L"CCryptoAgent::GetSignCertInfo");
    SYSTEMTIME stUTC = {};
    DWORD cbTime = 0;
    HRESULT hResult = QueryCertContextInfo(&cbTime, &stUTC, pCertContext, dwQueryType);
    TRACE_RETURN_IF_FAILED(L"QueryCertContextInfo", hResult);
    SYSTEMTIME stLocal = {};
    BOOL bRetCode = SystemTimeToTzSpecificLocalTime(nullptr, &stUTC, &stLocal);
    if (0 == bRetCode) {
        hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"SystemTimeToTzSpecificLocalTime", L"0 == bRetCode", hResult);
        return hResult;
    }
    // Room for any year a SYSTEMTIME holds: a date late in 9999 UTC falls
    // in the year 10000 east of Greenwich.
    const size_t cchDate = sizeof("65535-mm-dd hh:mm:ss");
    *ppwszText = new (std::nothrow) wchar_t[cchDate]();
    if (*ppwszText == nullptr) return E_OUTOFMEMORY;
    swprintf(*ppwszText, cchDate, L"%04u-%02u-%02u %02u:%02u:%02u", stLocal.wYear, stLocal.wMonth, stLocal.wDay,
             stLocal.wHour, stLocal.wMinute, stLocal.wSecond);
    return S_OK;
}

HRESULT QueryCertType(PCCERT_CONTEXT pCertContext, wchar_t **ppwszText)
{
    TRACE_NAME(L"CCryptoAgent::GetSignCertInfo");
    BOOL bSM2 = FALSE;
    HRESULT hResult = CertificateAlgorithm(pCertContext, &bSM2);
    if (FAILED(hResult)) {
        TRACE_FAILED(L"Check certificate signature algorithm", L"TRUE", hResult);
        return hResult;
    }
    return NewTextCopy(bSM2 ? L"SM2" : L"RSA", ppwszText);
}

// The name of the provider that holds a registered certificate's key.
HRESULT QueryProviderOfKey(PCCERT_CONTEXT pCertContext, wchar_t **ppwszText)
{
    TRACE_NAME(L"CCryptoAgent::GetSignCertInfo");
    HCRYPTPROV hProv = 0;
    DWORD dwKeySpec = 0;
    BOOL bCallerFree = FALSE;
    BOOL bRetCode = CryptAcquireCertificatePrivateKey(pCertContext, 0, nullptr, &hProv, &dwKeySpec, &bCallerFree);
    if (FALSE == bRetCode) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"CryptAcquireCertificatePrivateKey", L"FALSE == bRetCode", hResult);
        return hResult;
    }
    BYTE *pbName = nullptr;
    DWORD cbName = 0;
    HRESULT hResult = GetProviderInfo(&cbName, hProv, PP_NAME, &pbName);
    if (SUCCEEDED(hResult)) {
        int cchText = 0;
        hResult = ANSIToUTF16(reinterpret_cast<const char *>(pbName), ppwszText, &cchText);
    }
    delete[] pbName;
    if (bCallerFree) CryptReleaseContext(hProv, 0);
    if (FAILED(hResult)) TRACE_FAILED(L"GetProviderInfo", L"FAILED(hResult)", hResult);
    return hResult;
}

// The identifier list into a zero-filled buffer one byte longer than the
// provider's length. A provider whose size answer falls short of the list
// says so and tells the length needed: it is asked once more with that.
HRESULT FetchKeyIDs(HCRYPTPROV hProv, std::unique_ptr<BYTE[]> &lpbyKeyID, DWORD &dwKeyIDLen)
{
    TRACE_NAME(L"CCryptoAgent::GetKeyID");
    for (int nAttempt = 0;; ++nAttempt) {
        // A length no buffer one byte longer can have is refused like one
        // no memory is left for.
        if (dwKeyIDLen != MAXDWORD) lpbyKeyID.reset(new (std::nothrow) BYTE[dwKeyIDLen + 1]());
        if (dwKeyIDLen == MAXDWORD || !lpbyKeyID) {
            TRACE_FAILED(L"New memory", L"!lpbyKeyID", E_OUTOFMEMORY);
            return E_OUTOFMEMORY;
        }
        const DWORD dwOffered = dwKeyIDLen;
        if (CryptGetProvParam(hProv, PP_KEY_IDENTIFIERS, lpbyKeyID.get(), &dwKeyIDLen, CRYPT_FIRST)) return S_OK;
        const HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        const bool bTooShort = hResult == HRESULT_FROM_WIN32(ERROR_MORE_DATA) || hResult == NTE_BUFFER_TOO_SMALL;
        if (nAttempt == 0 && bTooShort && dwKeyIDLen > dwOffered) continue;
        TRACE_FAILED(L"CryptGetProvParam(lpbyKeyID)", L"FALSE == bResult", hResult);
        return hResult;
    }
}

// The one key identifier the provider reports; two or more mean more than
// one token is inserted.
HRESULT ReadKeyID(LPCWSTR pwszCSPName, wchar_t **ppwszKeyID)
{
    TRACE_NAME(L"CCryptoAgent::GetKeyID");
    HCRYPTPROV hProv = 0;
    BOOL bResult = CryptAcquireContextW(&hProv, nullptr, pwszCSPName, PROV_RSA_FULL, 0);
    if (FALSE == bResult) {
        HRESULT hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"CryptAcquireContext", L"FALSE == bResult", hResult);
        return hResult;
    }
    TRACE_OK(L"CryptAcquireContext");

    HRESULT hResult = S_OK;
    DWORD dwKeyIDLen = 0;
    std::unique_ptr<BYTE[]> lpbyKeyID;
    if (!CryptGetProvParam(hProv, PP_KEY_IDENTIFIERS, nullptr, &dwKeyIDLen, CRYPT_FIRST)) {
        hResult = FailedCallStatus(LastErrorKind::WithOwnCodes);
        TRACE_FAILED(L"CryptGetProvParam(dwKeyIDLen)", L"FALSE == bResult", hResult);
    } else {
        hResult = FetchKeyIDs(hProv, lpbyKeyID, dwKeyIDLen);
    }
    CryptReleaseContext(hProv, 0);
    if (FAILED(hResult)) return hResult;

    // A list of zero-terminated strings closed by an empty one.
    const char *pszFirst = reinterpret_cast<const char *>(lpbyKeyID.get());
    const size_t cchFirst = strlen(pszFirst);
    if (cchFirst == 0) {
        TRACE_FAILED(L"Check key ID", L"(NULL == lpbyKeyID || 0 == strlen((LPSTR)lpbyKeyID))", SCARD_E_NO_SMARTCARD);
        return SCARD_E_NO_SMARTCARD;
    }
    if (cchFirst + 1 < dwKeyIDLen && pszFirst[cchFirst + 1] != '\0') {
        TRACE_FAILED(L"Key too many be inserted.", L"TRUE", VESK_E_TOO_MANY_KEYS);
        return VESK_E_TOO_MANY_KEYS;
    }
    // Narrow text a provider hands out is ANSI, as all its names are.
    int cchKeyID = 0;
    hResult = ANSIToUTF16(pszFirst, ppwszKeyID, &cchKeyID);
    if (FAILED(hResult)) TRACE_FAILED(L"ANSIToUTF16", L"FAILED(hResult)", hResult);
    return hResult;
}

// The adapter list into a buffer sized as the system asks.
HRESULT ReadAdapters(std::unique_ptr<BYTE[]> &pbAdapters)
{
    ULONG cbAdapters = sizeof(IP_ADAPTER_INFO);
    pbAdapters.reset(new (std::nothrow) BYTE[cbAdapters]());
    if (!pbAdapters) return E_OUTOFMEMORY;
    DWORD nResult = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(pbAdapters.get()), &cbAdapters);
    if (nResult == ERROR_BUFFER_OVERFLOW) {
        pbAdapters.reset(new (std::nothrow) BYTE[cbAdapters]());
        if (!pbAdapters) return E_OUTOFMEMORY;
        nResult = GetAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(pbAdapters.get()), &cbAdapters);
    }
    if (NO_ERROR != nResult) {
        HRESULT hResult = StatusFromLastError(nResult);
        TRACE_A_FAILED("GetAdaptersInfo", hResult, "NO_ERROR != nResult");
        return hResult;
    }
    TRACE_A_OK("GetAdaptersInfo");
    return S_OK;
}

// The addresses of the local adapters, joined by "|".
HRESULT ListLocalMACAddresses(wchar_t **ppwszList)
{
    std::unique_ptr<BYTE[]> pbAdapters;
    HRESULT hResult = ReadAdapters(pbAdapters);
    if (FAILED(hResult)) return hResult;
    const IP_ADAPTER_INFO *pFirst = reinterpret_cast<const IP_ADAPTER_INFO *>(pbAdapters.get());

    // Sized from the number of adapters, not from the size of a record,
    // which differs between the platform's headers.
    size_t nAdapters = 0;
    for (const IP_ADAPTER_INFO *p = pFirst; p != nullptr; p = p->Next) ++nAdapters;
    const size_t cchList = nAdapters * MAC_TEXT_CCH + 1;
    std::unique_ptr<char[]> pszList(new (std::nothrow) char[cchList]());
    if (!pszList) {
        TRACE_A_FAILED("New memory", -1, "!pszMACAddress");
        return -1;
    }

    size_t cchUsed = 0;
    for (const IP_ADAPTER_INFO *p = pFirst; p != nullptr; p = p->Next) {
        BOOL bLocal = FALSE;
        if (IsLocalAdapter(p->AdapterName, &bLocal) != 0 || !bLocal) continue;
        const BYTE *a = p->Address;
        snprintf(pszList.get() + cchUsed, cchList - cchUsed, "%02x-%02x-%02x-%02x-%02x-%02x|", a[0], a[1], a[2], a[3],
                 a[4], a[5]);
        cchUsed += MAC_TEXT_CCH;
    }
    if (cchUsed > 0) pszList[cchUsed - 1] = '\0';
    TRACE_A_VALUE("MACAddress", pszList.get());

    int cchText = 0;
    return UTF8ToUTF16(pszList.get(), ppwszList, &cchText);
}

} // namespace

CCryptoAgent::CCryptoAgent()
    : m_hrLastError(VESK_OK),
      m_bSM2Certificate(FALSE),
      m_pSignCertContext(nullptr),
      m_pUnregisteredSignCertContext(nullptr),
      m_pReservedCertContext(nullptr),
      m_bInOperation(false)
{
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS,
                        nullptr);
    // SM3, SM4-CBC and ZUC join the library's name tables; done once per
    // process however many agents there are.
    RegisterSmAlgorithms();
}

CCryptoAgent::~CCryptoAgent()
{
    ReleaseSelection();
    if (m_pReservedCertContext != nullptr) CertFreeCertificateContext(m_pReservedCertContext);
    // The library's clean-up calls, kept in their order; OpenSSL 3 makes
    // them no-ops and releases its tables at process exit.
    CRYPTO_cleanup_all_ex_data();
    ERR_free_strings();
    EVP_cleanup();
}

bool CCryptoAgent::EnterOperation()
{
    if (m_bInOperation) return false;
    m_bInOperation = true;
    return true;
}

HRESULT CCryptoAgent::SignedDataTextLength(size_t cbData, bool bAttached, size_t *pcchText) const
{
    if (!IsCertificateSelected()) return VESK_E_CERT_NOT_READY;
    const PCCERT_CONTEXT pCertContext = SelectedCertificate();
    const CERT_INFO &info = *pCertContext->pCertInfo;
    // The signer's issuer and serial number appear once more in its
    // SignerInfo; every other header, identifier and version fits in the
    // fixed allowance.
    const size_t cbSignedData = (bAttached ? cbData : 0) + pCertContext->cbCertEncoded + info.Issuer.cbData +
        info.SerialNumber.cbData + LongestEncodedSignature(pCertContext, m_bSM2Certificate) + SIGNED_DATA_FRAME_MAX;
    *pcchText = (cbSignedData + 2) / 3 * 4;
    return S_OK;
}

LPCSTR CCryptoAgent::CandidateSignatureAlgorithm() const
{
    return kSM2AlgorithmPrefix;
}

bool CCryptoAgent::IsCertificateSelected() const
{
    return m_pSignCertContext != nullptr || m_pUnregisteredSignCertContext != nullptr;
}

PCCERT_CONTEXT CCryptoAgent::SelectedCertificate() const
{
    return m_bSM2Certificate ? m_pUnregisteredSignCertContext->pCertContext : m_pSignCertContext;
}

void CCryptoAgent::ReleaseSelection()
{
    if (m_pSignCertContext != nullptr) CertFreeCertificateContext(m_pSignCertContext);
    m_pSignCertContext = nullptr;
    CertFreeUnregisteredCertContext(m_pUnregisteredSignCertContext);
    m_pUnregisteredSignCertContext = nullptr;
}

// Takes over the chosen certificate: an SM2 one is kept as a copy of its
// container record, an RSA one as it is.
HRESULT CCryptoAgent::KeepSelection(PCCERT_CONTEXT pChosenCert, const UnregisteredCertVector &vtrRecords)
{
    TRACE_NAME(L"CCryptoAgent::SelectCertificate");
    BOOL bSM2 = FALSE;
    HRESULT hResult = CertificateAlgorithm(pChosenCert, &bSM2);
    if (FAILED(hResult)) {
        TRACE_FAILED(L"Check certificate signature algorithm", L"TRUE", hResult);
        CertFreeCertificateContext(pChosenCert);
        return hResult;
    }
    m_bSM2Certificate = bSM2;
    if (!bSM2) {
        m_pSignCertContext = pChosenCert;
        return S_OK;
    }

    const UNREGISTERED_CERT_CONTEXT *pRecord = nullptr;
    for (const UNREGISTERED_CERT_CONTEXT *p : vtrRecords) {
        if (p->pCertContext->cbCertEncoded == pChosenCert->cbCertEncoded &&
            memcmp(p->pCertContext->pbCertEncoded, pChosenCert->pbCertEncoded, pChosenCert->cbCertEncoded) == 0) {
            pRecord = p;
            break;
        }
    }
    CertFreeCertificateContext(pChosenCert);
    hResult = CertDuplicateUnregisteredCertContext(pRecord, &m_pUnregisteredSignCertContext);
    if (FAILED(hResult)) {
        m_pUnregisteredSignCertContext = nullptr;
        TRACE_FAILED(L"CertDuplicateUnregisteredCertContext", L"FAILED(hResult)", hResult);
        return hResult;
    }
    TRACE_OK(L"CertDuplicateUnregisteredCertContext");
    return S_OK;
}

HRESULT CCryptoAgent::SelectCertificate(LPCWSTR pwszSubjectDNFilter, LPCWSTR pwszIssuerDNFilter, LPCWSTR pwszSNFilter,
                                        LPCWSTR pwszCSPFilter, VARIANT_BOOL *pbSelected)
{
    TRACE_FUNCTION(L"CCryptoAgent::SelectCertificate");
    if (pbSelected == nullptr) return m_hrLastError = E_POINTER;
    *pbSelected = VARIANT_FALSE;
    ReleaseSelection();

    FILETIME ftNow = {};
    GetSystemTimeAsFileTime(&ftNow);
    CERT_FILTER filter = {};
    filter.pwszSubjectFilters = pwszSubjectDNFilter;
    filter.pwszIssuerFilters = pwszIssuerDNFilter;
    filter.pwszSerialNumber = pwszSNFilter;
    filter.dwKeyUsage = CERT_DIGITAL_SIGNATURE_KEY_USAGE;
    filter.bKeyRequired = TRUE;
    filter.pszSignatureAlgPrefix = CandidateSignatureAlgorithm();
    filter.pCheckTime = &ftNow;

    UnregisteredCertVector vtrRecords;
    CertificateVector vtrCertificateSet;
    HRESULT hResult = FilterUnregisteredCertificatesfromCSP(pwszCSPFilter, &filter, vtrRecords);
    if (FAILED(hResult)) {
        TRACE_FAILED(L"FilterUnregisteredCertificatesfromCSP", L"FAILED(hResult)", hResult);
    } else {
        for (const UNREGISTERED_CERT_CONTEXT *pRecord : vtrRecords)
            vtrCertificateSet.push_back(CertDuplicateCertificateContext(pRecord->pCertContext));
        TraceValueInt(L"Certificate count", static_cast<LONG>(vtrCertificateSet.size()));

        PCCERT_CONTEXT pChosenCert = nullptr;
        if (vtrCertificateSet.size() == 0) {
            hResult = VESK_E_NO_CERTIFICATE;
            TRACE_FAILED(L"Check certificate count", L"vtrCertificateSet.size() == 0", hResult);
        } else if (vtrCertificateSet.size() > 1) {
            hResult = VESK_E_TOO_MANY_CERTIFICATES;
            TRACE_FAILED(L"Check certificate count not equal 1", L"vtrCertificateSet.size() > 1", hResult);
        } else if (SUCCEEDED(hResult = ChooseCertificate(vtrCertificateSet, &pChosenCert))) {
            hResult = KeepSelection(pChosenCert, vtrRecords);
        }
    }
    if (SUCCEEDED(hResult)) {
        *pbSelected = VARIANT_TRUE;
        hResult = VESK_OK;
    }
    RemoveAllCertificates(vtrCertificateSet);
    RemoveAllUnregisteredCertificates(vtrRecords);
    m_hrLastError = hResult;
    return hResult;
}

HRESULT CCryptoAgent::QueryCSPName(wchar_t **ppwszText)
{
    if (m_bSM2Certificate) return NewTextCopy(m_pUnregisteredSignCertContext->wszProviderName, ppwszText);
    return QueryProviderOfKey(m_pSignCertContext, ppwszText);
}

HRESULT CCryptoAgent::QueryInfoText(LPCWSTR pwszInfoType, wchar_t **ppwszText)
{
    TRACE_NAME(L"CCryptoAgent::GetSignCertInfo");
    PCCERT_CONTEXT pCertContext = SelectedCertificate();
    DWORD cchText = 0;
    if (_wcsicmp(pwszInfoType, L"SubjectDN") == 0)
        return QueryCertContextInfo(&cchText, ppwszText, pCertContext, CERTINFO_SUBJECT);
    if (_wcsicmp(pwszInfoType, L"SubjectCN") == 0) return QuerySubjectCN(pCertContext, ppwszText);
    if (_wcsicmp(pwszInfoType, L"SerialNumber") == 0) return QuerySerialNumber(pCertContext, ppwszText);
    if (_wcsicmp(pwszInfoType, L"CertType") == 0) return QueryCertType(pCertContext, ppwszText);
    if (_wcsicmp(pwszInfoType, L"IssuerDN") == 0)
        return QueryCertContextInfo(&cchText, ppwszText, pCertContext, CERTINFO_ISSUER);
    if (_wcsicmp(pwszInfoType, L"CSPName") == 0) return QueryCSPName(ppwszText);
    if (_wcsicmp(pwszInfoType, L"ValidFrom") == 0) return QueryLocalDate(pCertContext, CERTINFO_NOT_BEFORE, ppwszText);
    if (_wcsicmp(pwszInfoType, L"ValidTo") == 0) return QueryLocalDate(pCertContext, CERTINFO_NOT_AFTER, ppwszText);
    if (_wcsicmp(pwszInfoType, L"CertContent") == 0)
        return Base64Text(pCertContext->pbCertEncoded, pCertContext->cbCertEncoded, ppwszText);
    TRACE_FAILED(L"check parameter.", L"TRUE", E_INVALIDARG);
    return E_INVALIDARG;
}

HRESULT CCryptoAgent::GetSignCertInfo(LPCWSTR pwszInfoType, BSTR *pbstrInfo)
{
    TRACE_FUNCTION(L"CCryptoAgent::GetSignCertInfo");
    if (pbstrInfo == nullptr) return m_hrLastError = E_POINTER;
    *pbstrInfo = nullptr;

    HRESULT hResult = S_OK;
    wchar_t *pwszText = nullptr;
    if (NULL == pwszInfoType || 0 == wcslen(pwszInfoType)) {
        hResult = E_INVALIDARG;
        TRACE_FAILED(L"Check parameter(bstrInfoType)", L"(NULL == bstrInfoType || 0 == wcslen(bstrInfoType))", hResult);
    } else if (!IsCertificateSelected()) {
        hResult = VESK_E_CERT_NOT_READY;
        TRACE_FAILED(L"Check certificate is ready?",
                     L"NULL == m_pSignCertContext && NULL == m_pUnregisteredSignCertContext", hResult);
    } else {
        TraceValue(L"InfoType", pwszInfoType);
        hResult = QueryInfoText(pwszInfoType, &pwszText);
        if (FAILED(hResult)) TRACE_FAILED(pwszInfoType, L"FAILED(hResult)", hResult);
    }
    if (SUCCEEDED(hResult)) TraceValue(L"CertInfo", pwszText);
    m_hrLastError = HandOutRead(hResult, pwszText, pbstrInfo);
    return m_hrLastError;
}

// Both signing operations: the source text's UTF-8 bytes signed on the
// selection's key, as PKCS#7 SignedData or as a bare signature.
HRESULT CCryptoAgent::SignSourceData(LPCWSTR pwszSourceData, LPCWSTR pwszHashAlg, bool bPKCS7, bool bAttached,
                                     BSTR *pbstrSignature)
{
    const wchar_t *const kTraceFunction = bPKCS7 ? L"CCryptoAgent::SignMsgPKCS7" : L"CCryptoAgent::SignMsgPKCS1";
    if (NULL == pwszSourceData || 0 == wcslen(pwszSourceData)) {
        TRACE_FAILED(L"Check parameter(bstrSourceData)", L"(NULL == bstrSourceData || 0 == wcslen(bstrSourceData))",
                     E_INVALIDARG);
        return E_INVALIDARG;
    }
    if (!IsCertificateSelected()) {
        TRACE_FAILED(L"Check certificate is ready?",
                     L"NULL == m_pSignCertContext && NULL == m_pUnregisteredSignCertContext", VESK_E_CERT_NOT_READY);
        return VESK_E_CERT_NOT_READY;
    }

    ALG_ID uSignAlgorithm = 0;
    if (!m_bSM2Certificate) {
        if (NULL == pwszHashAlg || 0 == wcslen(pwszHashAlg)) {
            TRACE_FAILED(L"Check parameter(bstrHashAlg)", L"(NULL == bstrHashAlg || 0 == wcslen(bstrHashAlg))",
                         E_INVALIDARG);
            return E_INVALIDARG;
        }
        uSignAlgorithm = GetHashAlgorithmIDByName(pwszHashAlg);
        if (uSignAlgorithm == 0) {
            TRACE_FAILED(L"hash algorithm.", L"uSignAlgorithm == 0", VESK_E_INVALID_HASH_ALG);
            return VESK_E_INVALID_HASH_ALG;
        }
    }

    char *pszData = nullptr;
    int cbData = 0;
    HRESULT hResult = UTF16ToUTF8(pwszSourceData, &pszData, &cbData);
    std::unique_ptr<char[]> data(pszData);
    TRACE_RETURN_IF_FAILED(L"UTF16ToUTF8", hResult);
    const BYTE *pbData = reinterpret_cast<const BYTE *>(pszData);

    // The signature holds its own reference to the selection: the
    // provider's PIN dialog hands control back to the caller, and nothing
    // done meanwhile may free what is signed for.
    SignerCopy signer;
    signer.bSM2 = m_bSM2Certificate;
    if (signer.bSM2) {
        hResult = CertDuplicateUnregisteredCertContext(m_pUnregisteredSignCertContext, &signer.pRecord);
        TRACE_RETURN_IF_FAILED(L"CertDuplicateUnregisteredCertContext", hResult);
    } else {
        signer.pCertContext = CertDuplicateCertificateContext(m_pSignCertContext);
    }

    if (bPKCS7) {
        if (signer.bSM2)
            hResult = SM2SignBinaryDatabyUnregisteredCert(signer.pRecord, cbData, bAttached, kSM2SignatureObjId,
                                                          pbstrSignature, pbData);
        else
            hResult = StatusFromLastError(static_cast<DWORD>(
                SignBinaryData(pbstrSignature, pbData, signer.pCertContext, cbData, uSignAlgorithm, bAttached)));
        if (FAILED(hResult))
            TRACE_FAILED(signer.bSM2 ? L"SM2SignBinaryDatabyUnregisteredCert" : L"SignBinaryData", L"FAILED(hResult)",
                         hResult);
        return hResult;
    }

    BYTE *pbSignature = nullptr;
    DWORD cbSignature = 0;
    if (signer.bSM2) {
        BYTE *pbRaw = nullptr;
        DWORD cbRaw = 0;
        hResult = SM2CalculateHashandSignbyUnregisteredCert(signer.pRecord, pbData, cbData, &pbRaw, &cbRaw);
        if (SUCCEEDED(hResult))
            hResult = SM2EncodeRawSignature(&cbSignature, pbRaw, cbRaw, &pbSignature, SM2_SIGNATURE_DER_SEQUENCE);
        delete[] pbRaw;
    } else {
        hResult = CalculateHashandSign(pbData, signer.pCertContext, cbData, uSignAlgorithm, &pbSignature, &cbSignature,
                                       FALSE);
    }
    wchar_t *pwszSignature = nullptr;
    if (SUCCEEDED(hResult)) hResult = Base64Text(pbSignature, cbSignature, &pwszSignature);
    delete[] pbSignature;
    if (SUCCEEDED(hResult)) hResult = HandOutText(pwszSignature, pbstrSignature);
    delete[] pwszSignature;
    if (FAILED(hResult)) TRACE_FAILED(L"Sign", L"FAILED(hResult)", hResult);
    return hResult;
}

HRESULT CCryptoAgent::SignMsgPKCS7(LPCWSTR pwszSourceData, LPCWSTR pwszHashAlg, VARIANT_BOOL bWithSrc,
                                   BSTR *pbstrSignature)
{
    TRACE_FUNCTION(L"CCryptoAgent::SignMsgPKCS7");
    if (pbstrSignature == nullptr) return m_hrLastError = E_POINTER;
    *pbstrSignature = nullptr;
    HRESULT hResult = SignSourceData(pwszSourceData, pwszHashAlg, true, bWithSrc == VARIANT_TRUE, pbstrSignature);
    if (FAILED(hResult)) {
        SysFreeString(*pbstrSignature);
        *pbstrSignature = nullptr;
    }
    m_hrLastError = hResult;
    return hResult;
}

HRESULT CCryptoAgent::SignMsgPKCS1(LPCWSTR pwszSourceData, LPCWSTR pwszHashAlg, BSTR *pbstrSignature)
{
    TRACE_FUNCTION(L"CCryptoAgent::SignMsgPKCS1");
    if (pbstrSignature == nullptr) return m_hrLastError = E_POINTER;
    *pbstrSignature = nullptr;
    HRESULT hResult = SignSourceData(pwszSourceData, pwszHashAlg, false, false, pbstrSignature);
    if (FAILED(hResult)) HandOutText(nullptr, pbstrSignature);
    m_hrLastError = hResult;
    return hResult;
}

HRESULT CCryptoAgent::GetKeyID(LPCWSTR pwszCSPName, BSTR *pbstrKeyID)
{
    TRACE_FUNCTION(L"CCryptoAgent::GetKeyID");
    if (pbstrKeyID == nullptr) return m_hrLastError = E_POINTER;
    *pbstrKeyID = nullptr;
    TraceValue(L"CSPName", pwszCSPName);
    wchar_t *pwszKeyID = nullptr;
    HRESULT hResult = ReadKeyID(pwszCSPName, &pwszKeyID);
    m_hrLastError = HandOutRead(hResult, pwszKeyID, pbstrKeyID);
    return m_hrLastError;
}

HRESULT CCryptoAgent::GetMACAddress(BSTR *pbstrMACAddress)
{
    TRACE_FUNCTION(L"CCryptoAgent::GetMACAddress");
    if (pbstrMACAddress == nullptr) return m_hrLastError = E_POINTER;
    *pbstrMACAddress = nullptr;
    wchar_t *pwszList = nullptr;
    HRESULT hResult = ListLocalMACAddresses(&pwszList);
    m_hrLastError = HandOutRead(hResult, pwszList, pbstrMACAddress);
    return m_hrLastError;
}

HRESULT CCryptoAgent::GetVersion(BSTR *pbstrVersion)
{
    TRACE_FUNCTION(L"CCryptoAgent::GetVersion");
    if (pbstrVersion != nullptr) *pbstrVersion = nullptr;
    return VESK_OK;
}

HRESULT CCryptoAgent::GetLastErrorDesc(BSTR *pbstrErrorDesc)
{
    TRACE_FUNCTION(L"CCryptoAgent::GetLastErrorDesc");
    return FormatErrorDesc(AgentModule(), m_hrLastError, pbstrErrorDesc);
}

ALG_ID GetHashAlgorithmIDByName(LPCWSTR pwszHashAlg)
{
    static const struct {
        const wchar_t *pwszName;
        ALG_ID algId;
    } kHashAlgorithms[] = {
        {L"SHA-1", CALG_SHA1},
        {L"SHA-256", CALG_SHA_256},
        {L"SHA-384", CALG_SHA_384},
        {L"SHA-512", CALG_SHA_512},
    };
    if (pwszHashAlg == nullptr) return 0;
    for (const auto &entry : kHashAlgorithms)
        if (_wcsicmp(pwszHashAlg, entry.pwszName) == 0) return entry.algId;
    return 0;
}
