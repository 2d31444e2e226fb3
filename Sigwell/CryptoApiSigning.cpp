#include "CryptoApiSigning.h"

#include "ASN1Encoder.h"
#include "Base64.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "ProviderHash.h"
#include "SignedDataBuilder.h"
#include "TextConversion.h"
#include "TraceHelper.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char kOidData[] = "1.2.840.113549.1.7.1";
const char kOidSignedData[] = "1.2.840.113549.1.7.2";

struct AlgorithmRow {
    ALG_ID algId;
    LPCSTR pszDigestObjId;
    LPCSTR pszSignatureObjId;
};

// SHA-1 signs under rsaEncryption rather than sha1WithRSAEncryption.
const AlgorithmRow kAlgorithms[] = {
    {CALG_MD5, "1.2.840.113549.2.5", "1.2.840.113549.1.1.4"},
    {CALG_SHA1, "1.3.14.3.2.26", "1.2.840.113549.1.1.1"},
    {CALG_SHA_256, "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.11"},
    {CALG_SHA_384, "2.16.840.1.101.3.4.2.2", "1.2.840.113549.1.1.12"},
    {CALG_SHA_512, "2.16.840.1.101.3.4.2.3", "1.2.840.113549.1.1.13"},
    {CALG_PROVIDER_SM3, "1.2.156.10197.1.401", "1.2.156.10197.1.301.1"},
};

// The platform encoder, tracing its own failures.
HRESULT Encode(LPCSTR pszStructType, const void *pvStructure, DerPiece &out)
{
    return EncodeObject(pvStructure, &out.cb, pszStructType, &out.pb);
}

// The name is ANSI text; the trace takes it in UTF-16.
void TraceProviderName(HCRYPTPROV hProv)
{
    BYTE *pbName = nullptr;
    DWORD cbName = 0;
    wchar_t *pwszName = nullptr;
    int cchName = 0;
    if (SUCCEEDED(GetProviderInfo(&cbName, hProv, PP_NAME, &pbName)) &&
        SUCCEEDED(ANSIToUTF16(reinterpret_cast<const char *>(pbName), &pwszName, &cchName)))
        TraceValue(L"Provider", pwszName);
    delete[] pwszName;
    delete[] pbName;
}

HRESULT HashData(HCRYPTHASH hHash, const BYTE *pbData, DWORD cbData, BOOL bHashAtOnce)
{
    if (cbData == 0) return VESK_OK;
    if (bHashAtOnce) {
        if (!CryptHashData(hHash, pbData, cbData, 0)) return ReportFailedCall(L"CryptHashData-CSP Once Hash");
        return VESK_OK;
    }
    for (DWORD cbDone = 0; cbDone < cbData;) {
        const DWORD cbStep = std::min(HASH_STEP_SIZE, cbData - cbDone);
        if (!CryptHashData(hHash, pbData + cbDone, cbStep, 0)) return ReportFailedCall(L"CryptHashData");
        cbDone += cbStep;
    }
    return VESK_OK;
}

HRESULT EncodeRSASignerInfo(const CMSG_SIGNER_INFO *pSignerInfo, DerPiece &out)
{
    return Encode(PKCS7_SIGNER_INFO, pSignerInfo, out);
}

const SignedDataForm kRSAForm = {
    kOidData,
    kOidSignedData,
    Encode,
    EncodeRSASignerInfo,
    nullptr,
    nullptr,
    L"ASN1Encode(certificates)",
    L"ASN1Encode(SignedData)",
    L"EncodeObject",
};

} // namespace

HRESULT GetProviderInfo(DWORD *pcbData, HCRYPTPROV hProv, DWORD dwParam, BYTE **ppbData)
{
    TRACE_FUNCTION(L"GetProviderInfo");
    if (pcbData == nullptr || ppbData == nullptr) return ReportStatus(L"Check parameters", E_INVALIDARG);
    DWORD cbData = 0;
    if (!CryptGetProvParam(hProv, dwParam, nullptr, &cbData, 0)) return ReportFailedCall(L"CryptGetProvParam");
    if (cbData == 0) return ReportStatus(L"CryptGetProvParam", E_FAIL);
    // One byte more than reported, zero: callers read names as terminated text.
    std::unique_ptr<BYTE[]> pbData(new (std::nothrow) BYTE[cbData + 1]());
    if (!pbData) return ReportStatus(L"New Memory", E_OUTOFMEMORY);
    if (!CryptGetProvParam(hProv, dwParam, pbData.get(), &cbData, 0)) return ReportFailedCall(L"CryptGetProvParam");
    pbData[cbData] = 0;
    *ppbData = pbData.release();
    *pcbData = cbData;
    return VESK_OK;
}

BOOL GetAlgorithmIdentifiers(LPCSTR *ppszSignatureObjId, LPCSTR *ppszDigestObjId, ALG_ID algId)
{
    for (const AlgorithmRow &row : kAlgorithms) {
        if (row.algId == algId) {
            *ppszSignatureObjId = row.pszSignatureObjId;
            *ppszDigestObjId = row.pszDigestObjId;
            return TRUE;
        }
    }
    TraceErrorReport(L"GetAlgorithmIdentifiers", L"Unsupported hash algorithm");
    return FALSE;
}

void SwapByteOrder(BYTE *pbData, DWORD cbData)
{
    if (pbData != nullptr) std::reverse(pbData, pbData + cbData);
}

HRESULT CalculateHashandSign(const BYTE *pbData, PCCERT_CONTEXT pCertContext, DWORD cbData, ALG_ID algId,
                             BYTE **ppbSignature, DWORD *pcbSignature, BOOL bHashAtOnce)
{
    TRACE_FUNCTION(L"CalculateHashandSign");
    if (pCertContext == nullptr || ppbSignature == nullptr || pcbSignature == nullptr ||
        (pbData == nullptr && cbData != 0))
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    ProviderHash handles;
    handles.m_bCallerFree = FALSE;
    DWORD dwKeySpec = 0;
    if (!CryptAcquireCertificatePrivateKey(pCertContext, 0, nullptr, &handles.m_hProv, &dwKeySpec,
                                           &handles.m_bCallerFree))
        return ReportFailedCall(L"CryptAcquireCertificatePrivateKey");
    TraceProviderName(handles.m_hProv);
    if (!CryptCreateHash(handles.m_hProv, algId, 0, 0, &handles.m_hHash)) return ReportFailedCall(L"CryptCreateHash");
    HRESULT hResult = HashData(handles.m_hHash, pbData, cbData, bHashAtOnce);
    if (FAILED(hResult)) return hResult;

    DWORD cbSignature = 0;
    if (!CryptSignHashW(handles.m_hHash, dwKeySpec, nullptr, 0, nullptr, &cbSignature))
        return ReportFailedCall(L"CryptSignHash");
    BYTE *pbSignature = new (std::nothrow) BYTE[cbSignature ? cbSignature : 1]();
    if (pbSignature == nullptr) return ReportStatus(L"New Memory", E_OUTOFMEMORY);
    *ppbSignature = pbSignature;
    if (!CryptSignHashW(handles.m_hHash, dwKeySpec, nullptr, 0, pbSignature, &cbSignature))
        return ReportFailedCall(L"CryptSignHash");
    // CryptoAPI hands the signature out least significant byte first.
    SwapByteOrder(pbSignature, cbSignature);
    *pcbSignature = cbSignature;
    return VESK_OK;
}

HRESULT EncodeObject(const void *pvStructure, DWORD *pcbEncoded, LPCSTR pszStructType, BYTE **ppbEncoded)
{
    DWORD cbEncoded = 0;
    if (!CryptEncodeObject(kCertEncoding, pszStructType, pvStructure, nullptr, &cbEncoded))
        return ReportFailedCall(L"CryptEncodeObject - get length");
    BYTE *pbEncoded = new (std::nothrow) BYTE[cbEncoded ? cbEncoded : 1]();
    if (pbEncoded == nullptr) return ReportStatus(L"New Memory", E_OUTOFMEMORY);
    *ppbEncoded = pbEncoded;
    if (!CryptEncodeObject(kCertEncoding, pszStructType, pvStructure, pbEncoded, &cbEncoded))
        return ReportFailedCall(L"CryptEncodeObject - get value");
    *pcbEncoded = cbEncoded;
    return VESK_OK;
}

HRESULT EncapsulatePKCS7(PCCERT_CONTEXT pCertContext, LPCSTR pszDigestObjId, LPCSTR pszSignatureObjId,
                         const BYTE *pbData, DWORD cbData, const BYTE *pbSignature, DWORD cbSignature, BOOL bAttached,
                         DWORD dwBase64Flags, BSTR *pbstrSignature)
{
    TRACE_FUNCTION(L"EncapsulatePKCS7");
    if (pCertContext == nullptr || pbstrSignature == nullptr || pbSignature == nullptr)
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    DerPiece contentInfo;
    HRESULT hResult = BuildSignedData(kRSAForm, pCertContext, pszDigestObjId, pszSignatureObjId, pbData, cbData,
                                      pbSignature, cbSignature, bAttached, contentInfo);
    if (FAILED(hResult)) return hResult;
    return Base64EncodeToBSTR(dwBase64Flags, contentInfo.pb, contentInfo.cb, pbstrSignature, nullptr);
}

HRESULT SignBinaryData(BSTR *pbstrSignature, const BYTE *pbData, PCCERT_CONTEXT pCertContext, DWORD cbData,
                       ALG_ID algId, BOOL bAttached)
{
    TRACE_FUNCTION(L"SignBinaryData");
    LPCSTR pszSignatureObjId = nullptr;
    LPCSTR pszDigestObjId = nullptr;
    if (!GetAlgorithmIdentifiers(&pszSignatureObjId, &pszDigestObjId, algId))
        return ReportStatus(L"GetAlgorithmIdentifiers", NTE_BAD_ALGID);
    BYTE *pbSignature = nullptr;
    DWORD cbSignature = 0;
    HRESULT hResult = CalculateHashandSign(pbData, pCertContext, cbData, algId, &pbSignature, &cbSignature, TRUE);
    std::unique_ptr<BYTE[]> signature(pbSignature);
    if (FAILED(hResult)) return ReportStatus(L"CalculateHashandSign", hResult);
    hResult = EncapsulatePKCS7(pCertContext, pszDigestObjId, pszSignatureObjId, pbData, cbData, pbSignature,
                               cbSignature, bAttached, BASE64_NO_LINE_BREAKS, pbstrSignature);
    return FAILED(hResult) ? ReportStatus(L"EncapsulatePKCS7", hResult) : VESK_OK;
}
