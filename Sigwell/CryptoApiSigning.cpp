#include "CryptoApiSigning.h"

#include "ASN1Encoder.h"
#include "Base64.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "SM2SignedData.h"
#include "TraceHelper.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const BYTE kVersion1[] = {0x02, 0x01, 0x01};
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

// An encoded value that owns its new[] bytes.
struct Encoded {
    BYTE *pb = nullptr;
    DWORD cb = 0;

    Encoded() = default;
    Encoded(const Encoded &) = delete;
    Encoded &operator=(const Encoded &) = delete;
    ~Encoded() { delete[] pb; }

    ASN1_PIECE Piece() const { return {pb, cb}; }
};

// Provider and hash handles released on every path.
class KeyHash {
public:
    KeyHash() = default;
    KeyHash(const KeyHash &) = delete;
    KeyHash &operator=(const KeyHash &) = delete;
    ~KeyHash()
    {
        if (m_hHash != 0)
            CryptDestroyHash(m_hHash);
        if (m_hProv != 0 && m_bCallerFree)
            CryptReleaseContext(m_hProv, 0);
    }

    HCRYPTPROV m_hProv = 0;
    BOOL m_bCallerFree = FALSE;
    HCRYPTHASH m_hHash = 0;
};

HRESULT Wrap(DWORD dwTag, std::initializer_list<ASN1_PIECE> pieces, Encoded &out)
{
    return ASN1EncodeConcatenated(dwTag, pieces.begin(), pieces.size(), &out.pb, &out.cb);
}

HRESULT Encode(const void *pvStructure, LPCSTR pszStructType, Encoded &out)
{
    return EncodeObject(pvStructure, &out.cb, pszStructType, &out.pb);
}

HRESULT EncodeContentInfo(LPCSTR pszContentType, const Encoded *pContent, Encoded &out)
{
    CRYPT_CONTENT_INFO stContentInfo = {};
    stContentInfo.pszObjId = const_cast<LPSTR>(pszContentType);
    if (pContent != nullptr) {
        stContentInfo.Content.pbData = pContent->pb;
        stContentInfo.Content.cbData = pContent->cb;
    }
    return Encode(&stContentInfo, PKCS_CONTENT_INFO, out);
}

void TraceProviderName(HCRYPTPROV hProv)
{
    BYTE *pbName = nullptr;
    DWORD cbName = 0;
    if (SUCCEEDED(GetProviderInfo(&cbName, hProv, PP_NAME, &pbName)))
        TraceNarrowValue(__FILE__, "Provider", reinterpret_cast<const char *>(pbName));
    delete[] pbName;
}

HRESULT HashData(HCRYPTHASH hHash, const BYTE *pbData, DWORD cbData, BOOL bHashAtOnce)
{
    if (cbData == 0)
        return VESK_OK;
    if (bHashAtOnce) {
        if (!CryptHashData(hHash, pbData, cbData, 0))
            return ReportFailedCall(L"CryptHashData-CSP Once Hash");
        return VESK_OK;
    }
    for (DWORD cbDone = 0; cbDone < cbData;) {
        const DWORD cbStep = std::min(HASH_STEP_SIZE, cbData - cbDone);
        if (!CryptHashData(hHash, pbData + cbDone, cbStep, 0))
            return ReportFailedCall(L"CryptHashData");
        cbDone += cbStep;
    }
    return VESK_OK;
}

HRESULT EncodeSignerInfos(PCCERT_CONTEXT pCertContext, LPCSTR pszDigestObjId,
                          LPCSTR pszSignatureObjId, const BYTE *pbSignature, DWORD cbSignature,
                          Encoded &signerInfos)
{
    CMSG_SIGNER_INFO stSignerInfo = {};
    stSignerInfo.dwVersion = 1;
    stSignerInfo.Issuer = pCertContext->pCertInfo->Issuer;
    stSignerInfo.SerialNumber = pCertContext->pCertInfo->SerialNumber;
    stSignerInfo.HashAlgorithm.pszObjId = const_cast<LPSTR>(pszDigestObjId);
    stSignerInfo.HashEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(pszSignatureObjId);
    stSignerInfo.EncryptedHash.cbData = cbSignature;
    stSignerInfo.EncryptedHash.pbData = const_cast<BYTE *>(pbSignature);
    Encoded signerInfo;
    HRESULT hResult = Encode(&stSignerInfo, PKCS7_SIGNER_INFO, signerInfo);
    if (FAILED(hResult))
        return hResult;
    return ReportStatus(L"ASN1Encode(SignerInfo SET)", Wrap(0x31, {signerInfo.Piece()},
                                                            signerInfos));
}

HRESULT EncodeSignedData(PCCERT_CONTEXT pCertContext, LPCSTR pszDigestObjId,
                         LPCSTR pszSignatureObjId, const BYTE *pbData, DWORD cbData,
                         const BYTE *pbSignature, DWORD cbSignature, BOOL bAttached,
                         Encoded &signedData)
{
    Encoded digestAlgorithm, digestAlgorithms;
    HRESULT hResult = SM2EncodeOID(pszDigestObjId, &digestAlgorithm.pb, &digestAlgorithm.cb);
    if (FAILED(hResult))
        return hResult;
    hResult = Wrap(0x31, {digestAlgorithm.Piece()}, digestAlgorithms);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(digestAlgorithms SET)", hResult);

    Encoded content, contentInfo;
    if (bAttached) {
        CRYPT_DATA_BLOB stData = {cbData, const_cast<BYTE *>(pbData)};
        hResult = Encode(&stData, X509_OCTET_STRING, content);
        if (FAILED(hResult))
            return hResult;
    }
    hResult = EncodeContentInfo(kOidData, bAttached ? &content : nullptr, contentInfo);
    if (FAILED(hResult))
        return hResult;

    Encoded certificates;
    hResult = Wrap(0xA0, {{pCertContext->pbCertEncoded, pCertContext->cbCertEncoded}},
                   certificates);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(certificates)", hResult);

    Encoded signerInfos;
    hResult = EncodeSignerInfos(pCertContext, pszDigestObjId, pszSignatureObjId, pbSignature,
                                cbSignature, signerInfos);
    if (FAILED(hResult))
        return hResult;

    hResult = Wrap(0x30,
                   {{kVersion1, sizeof(kVersion1)}, digestAlgorithms.Piece(), contentInfo.Piece(),
                    certificates.Piece(), signerInfos.Piece()},
                   signedData);
    return FAILED(hResult) ? ReportStatus(L"ASN1Encode(SignedData)", hResult) : VESK_OK;
}

HRESULT Base64ToBSTR(const Encoded &der, DWORD dwBase64Flags, BSTR *pbstrText)
{
    char *pszBase64 = nullptr;
    DWORD cchBase64 = 0;
    HRESULT hResult = Base64EncodeEx(dwBase64Flags, &pszBase64, der.pb, der.cb, &cchBase64);
    std::unique_ptr<char[]> base64(pszBase64);
    if (FAILED(hResult))
        return ReportStatus(L"Base64EncodeEx", hResult);
    BSTR bstrText = SysAllocStringLen(nullptr, cchBase64);
    if (bstrText == nullptr)
        return ReportStatus(L"New Memory", E_OUTOFMEMORY);
    for (DWORD i = 0; i < cchBase64; ++i)
        bstrText[i] = static_cast<unsigned char>(pszBase64[i]);
    *pbstrText = bstrText;
    return VESK_OK;
}

} // namespace

HRESULT GetProviderInfo(DWORD *pcbData, HCRYPTPROV hProv, DWORD dwParam, BYTE **ppbData)
{
    TRACE_FUNCTION(L"GetProviderInfo");
    if (pcbData == nullptr || ppbData == nullptr)
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    DWORD cbData = 0;
    if (!CryptGetProvParam(hProv, dwParam, nullptr, &cbData, 0))
        return ReportFailedCall(L"CryptGetProvParam");
    if (cbData == 0)
        return ReportStatus(L"CryptGetProvParam", E_FAIL);
    // One byte more than reported, zero: callers read names as terminated text.
    std::unique_ptr<BYTE[]> pbData(new (std::nothrow) BYTE[cbData + 1]());
    if (!pbData)
        return ReportStatus(L"New Memory", E_OUTOFMEMORY);
    if (!CryptGetProvParam(hProv, dwParam, pbData.get(), &cbData, 0))
        return ReportFailedCall(L"CryptGetProvParam");
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
    if (pbData != nullptr)
        std::reverse(pbData, pbData + cbData);
}

HRESULT CalculateHashandSign(const BYTE *pbData, PCCERT_CONTEXT pCertContext, DWORD cbData,
                             ALG_ID algId, BYTE **ppbSignature, DWORD *pcbSignature,
                             BOOL bHashAtOnce)
{
    TRACE_FUNCTION(L"CalculateHashandSign");
    if (pCertContext == nullptr || ppbSignature == nullptr || pcbSignature == nullptr ||
        (pbData == nullptr && cbData != 0))
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    KeyHash handles;
    DWORD dwKeySpec = 0;
    if (!CryptAcquireCertificatePrivateKey(pCertContext, 0, nullptr, &handles.m_hProv,
                                           &dwKeySpec, &handles.m_bCallerFree))
        return ReportFailedCall(L"CryptAcquireCertificatePrivateKey");
    TraceProviderName(handles.m_hProv);
    if (!CryptCreateHash(handles.m_hProv, algId, 0, 0, &handles.m_hHash))
        return ReportFailedCall(L"CryptCreateHash");
    HRESULT hResult = HashData(handles.m_hHash, pbData, cbData, bHashAtOnce);
    if (FAILED(hResult))
        return hResult;

    DWORD cbSignature = 0;
    if (!CryptSignHashW(handles.m_hHash, dwKeySpec, nullptr, 0, nullptr, &cbSignature))
        return ReportFailedCall(L"CryptSignHash");
    BYTE *pbSignature = new (std::nothrow) BYTE[cbSignature ? cbSignature : 1]();
    if (pbSignature == nullptr)
        return ReportStatus(L"New Memory", E_OUTOFMEMORY);
    *ppbSignature = pbSignature;
    if (!CryptSignHashW(handles.m_hHash, dwKeySpec, nullptr, 0, pbSignature, &cbSignature))
        return ReportFailedCall(L"CryptSignHash");
    // CryptoAPI hands the signature out least significant byte first.
    SwapByteOrder(pbSignature, cbSignature);
    *pcbSignature = cbSignature;
    return VESK_OK;
}

HRESULT EncodeObject(const void *pvStructure, DWORD *pcbEncoded, LPCSTR pszStructType,
                     BYTE **ppbEncoded)
{
    DWORD cbEncoded = 0;
    if (!CryptEncodeObject(kCertEncoding, pszStructType, pvStructure, nullptr, &cbEncoded))
        return ReportFailedCall(L"CryptEncodeObject - get length");
    BYTE *pbEncoded = new (std::nothrow) BYTE[cbEncoded ? cbEncoded : 1]();
    if (pbEncoded == nullptr)
        return ReportStatus(L"New Memory", E_OUTOFMEMORY);
    *ppbEncoded = pbEncoded;
    if (!CryptEncodeObject(kCertEncoding, pszStructType, pvStructure, pbEncoded, &cbEncoded))
        return ReportFailedCall(L"CryptEncodeObject - get value");
    *pcbEncoded = cbEncoded;
    return VESK_OK;
}

HRESULT EncapsulatePKCS7(PCCERT_CONTEXT pCertContext, LPCSTR pszDigestObjId,
                         LPCSTR pszSignatureObjId, const BYTE *pbData, DWORD cbData,
                         const BYTE *pbSignature, DWORD cbSignature, BOOL bAttached,
                         DWORD dwBase64Flags, BSTR *pbstrSignature)
{
    TRACE_FUNCTION(L"EncapsulatePKCS7");
    if (pCertContext == nullptr || pbstrSignature == nullptr || pbSignature == nullptr)
        return ReportStatus(L"Check parameters", E_INVALIDARG);
    Encoded signedData, contentInfo;
    HRESULT hResult = EncodeSignedData(pCertContext, pszDigestObjId, pszSignatureObjId, pbData,
                                       cbData, pbSignature, cbSignature, bAttached, signedData);
    if (FAILED(hResult))
        return ReportStatus(L"EncodeObject", hResult);
    hResult = EncodeContentInfo(kOidSignedData, &signedData, contentInfo);
    if (FAILED(hResult))
        return ReportStatus(L"EncodeObject", hResult);
    return Base64ToBSTR(contentInfo, dwBase64Flags, pbstrSignature);
}

HRESULT SignBinaryData(BSTR *pbstrSignature, const BYTE *pbData, PCCERT_CONTEXT pCertContext,
                       DWORD cbData, ALG_ID algId, BOOL bAttached)
{
    TRACE_FUNCTION(L"SignBinaryData");
    LPCSTR pszSignatureObjId = nullptr;
    LPCSTR pszDigestObjId = nullptr;
    if (!GetAlgorithmIdentifiers(&pszSignatureObjId, &pszDigestObjId, algId))
        return ReportStatus(L"GetAlgorithmIdentifiers", NTE_BAD_ALGID);
    BYTE *pbSignature = nullptr;
    DWORD cbSignature = 0;
    HRESULT hResult = CalculateHashandSign(pbData, pCertContext, cbData, algId, &pbSignature,
                                           &cbSignature, TRUE);
    std::unique_ptr<BYTE[]> signature(pbSignature);
    if (FAILED(hResult))
        return ReportStatus(L"CalculateHashandSign", hResult);
    hResult = EncapsulatePKCS7(pCertContext, pszDigestObjId, pszSignatureObjId, pbData, cbData,
                               pbSignature, cbSignature, bAttached, BASE64_NO_LINE_BREAKS,
                               pbstrSignature);
    return FAILED(hResult) ? ReportStatus(L"EncapsulatePKCS7", hResult) : VESK_OK;
}
