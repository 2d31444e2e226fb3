#include "SM2SignedData.h"

#include "ASN1Encoder.h"
#include "Base64.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "TraceHelper.h"

#include <memory>
#include <new>
#include <vector>

const char SM2_OID_SM3[] = "1.2.156.10197.1.401";
const char SM2_OID_SM2_SIGNATURE[] = "1.2.156.10197.1.301.1";
const char SM2_OID_DATA[] = "1.2.156.10197.6.1.4.2.1";
const char SM2_OID_SIGNED_DATA[] = "1.2.156.10197.6.1.4.2.2";

namespace {

const BYTE kVersion1[] = {0x02, 0x01, 0x01};
const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// An encoded piece that owns its new[] bytes.
struct DerPiece {
    BYTE *pb = nullptr;
    DWORD cb = 0;

    DerPiece() = default;
    DerPiece(const DerPiece &) = delete;
    DerPiece &operator=(const DerPiece &) = delete;
    ~DerPiece() { delete[] pb; }

    ASN1_PIECE Piece() const { return {pb, cb}; }
};

// The platform's DER for the fixed pieces: length first, then the value.
HRESULT EncodeInto(LPCSTR pszStructType, const void *pvStruct, DerPiece &piece)
{
    delete[] piece.pb;
    piece.pb = nullptr;
    piece.cb = 0;
    DWORD cbEncoded = 0;
    if (!CryptEncodeObject(kCertEncoding, pszStructType, pvStruct, nullptr, &cbEncoded))
        return FailedCallStatus();
    std::unique_ptr<BYTE[]> pbEncoded(new (std::nothrow) BYTE[cbEncoded]);
    if (!pbEncoded)
        return E_OUTOFMEMORY;
    if (!CryptEncodeObject(kCertEncoding, pszStructType, pvStruct, pbEncoded.get(), &cbEncoded))
        return FailedCallStatus();
    piece.pb = pbEncoded.release();
    piece.cb = cbEncoded;
    return S_OK;
}

HRESULT Wrap(DWORD dwTag, std::initializer_list<ASN1_PIECE> pieces, DerPiece &out)
{
    return ASN1EncodeConcatenated(dwTag, pieces.begin(), pieces.size(), &out.pb, &out.cb);
}

HRESULT EncodeContentInfo(LPCSTR pszContentType, const DerPiece *pContent, DerPiece &out)
{
    CRYPT_CONTENT_INFO stContentInfo = {};
    stContentInfo.pszObjId = const_cast<LPSTR>(pszContentType);
    if (pContent != nullptr) {
        stContentInfo.Content.pbData = pContent->pb;
        stContentInfo.Content.cbData = pContent->cb;
    }
    return EncodeInto(PKCS_CONTENT_INFO, &stContentInfo, out);
}

HRESULT EncodeSignedData(PCCERT_CONTEXT pSignerCert, LPCSTR pszDigestObjId,
                         LPCSTR pszDigestEncryptionObjId, const BYTE *pbData, DWORD cbData,
                         const BYTE *pbEncodedSignature, DWORD cbEncodedSignature, BOOL bAttached,
                         DerPiece &signedData)
{
    DerPiece digestAlgorithm, digestAlgorithms;
    HRESULT hResult = SM2EncodeOID(pszDigestObjId, &digestAlgorithm.pb, &digestAlgorithm.cb);
    if (FAILED(hResult))
        return ReportStatus(L"SM2EncodeOID(HashAlgorithm)", hResult);
    hResult = Wrap(0x31, {digestAlgorithm.Piece()}, digestAlgorithms);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(digestAlgorithms SET)", hResult);

    DerPiece content, contentInfo;
    if (bAttached) {
        CRYPT_DATA_BLOB stData = {cbData, const_cast<BYTE *>(pbData)};
        hResult = EncodeInto(X509_OCTET_STRING, &stData, content);
        if (FAILED(hResult))
            return ReportStatus(L"EncodeObject", hResult);
    }
    hResult = EncodeContentInfo(SM2_OID_DATA, bAttached ? &content : nullptr, contentInfo);
    if (FAILED(hResult))
        return ReportStatus(L"EncodeObject", hResult);

    DerPiece certificates;
    hResult = Wrap(0xA0, {{pSignerCert->pbCertEncoded, pSignerCert->cbCertEncoded}},
                   certificates);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(certificates CONTENT)", hResult);

    CMSG_SIGNER_INFO stSignerInfo = {};
    stSignerInfo.dwVersion = 1;
    stSignerInfo.Issuer = pSignerCert->pCertInfo->Issuer;
    stSignerInfo.SerialNumber = pSignerCert->pCertInfo->SerialNumber;
    stSignerInfo.HashAlgorithm.pszObjId = const_cast<LPSTR>(pszDigestObjId);
    stSignerInfo.HashEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(pszDigestEncryptionObjId);
    stSignerInfo.EncryptedHash.cbData = cbEncodedSignature;
    stSignerInfo.EncryptedHash.pbData = const_cast<BYTE *>(pbEncodedSignature);
    DerPiece signerInfo, signerInfos;
    hResult = SM2EncodeSignerInfo(&stSignerInfo, &signerInfo.pb, &signerInfo.cb);
    if (FAILED(hResult))
        return hResult;
    hResult = Wrap(0x31, {signerInfo.Piece()}, signerInfos);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(SignerInfo SET)", hResult);

    hResult = Wrap(0x30,
                   {{kVersion1, sizeof(kVersion1)}, digestAlgorithms.Piece(), contentInfo.Piece(),
                    certificates.Piece(), signerInfos.Piece()},
                   signedData);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(All data SEQUENCE)", hResult);
    return S_OK;
}

HRESULT Base64ToBSTR(const DerPiece &der, DWORD dwBase64Flags, BSTR *pbstrText, DWORD *pcchText)
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
    if (pcchText != nullptr)
        *pcchText = cchBase64;
    return S_OK;
}

} // namespace

HRESULT SM2EncodeOID(LPCSTR pszObjId, BYTE **ppbEncoded, DWORD *pcbEncoded)
{
    CRYPT_ATTRIBUTE stAttribute = {};
    stAttribute.pszObjId = const_cast<LPSTR>(pszObjId);
    DerPiece encoded;
    HRESULT hResult = EncodeInto(PKCS_ATTRIBUTE, &stAttribute, encoded);
    if (SUCCEEDED(hResult)) {
        // The attribute's empty SET (31 00) becomes the NULL parameters (05 00).
        encoded.pb[encoded.cb - 2] = 0x05;
        encoded.pb[encoded.cb - 1] = 0x00;
    } else {
        // The algorithm identifier ends in its OID, not in 31 00: it gets
        // its NULL parameters from the encoder instead.
        TraceStatus(L"EncodeObject-PKCS_ATTRIBUTE", hResult);
        static BYTE abNull[] = {0x05, 0x00};
        CRYPT_ALGORITHM_IDENTIFIER stAlgorithm = {};
        stAlgorithm.pszObjId = const_cast<LPSTR>(pszObjId);
        stAlgorithm.Parameters.cbData = sizeof(abNull);
        stAlgorithm.Parameters.pbData = abNull;
        hResult = EncodeInto(X509_ALGORITHM_IDENTIFIER, &stAlgorithm, encoded);
        if (FAILED(hResult))
            return ReportStatus(L"EncodeObject", hResult);
    }
    *ppbEncoded = encoded.pb;
    *pcbEncoded = encoded.cb;
    encoded.pb = nullptr;
    return S_OK;
}

HRESULT SM2EncodeSignerInfo(const CMSG_SIGNER_INFO *pSignerInfo, BYTE **ppbEncoded,
                            DWORD *pcbEncoded)
{
    const CRYPT_INTEGER_BLOB &serial = pSignerInfo->SerialNumber;
    std::vector<BYTE> vtrSerial(serial.pbData, serial.pbData + serial.cbData);
    std::vector<BYTE>(vtrSerial.rbegin(), vtrSerial.rend()).swap(vtrSerial);

    DerPiece serialNumber, issuerAndSerial, digestAlgorithm, digestEncryptionAlgorithm;
    HRESULT hResult = Wrap(0x02, {{vtrSerial.data(), static_cast<DWORD>(vtrSerial.size())}},
                           serialNumber);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(SerialNumber)", hResult);
    hResult = Wrap(0x30,
                   {{pSignerInfo->Issuer.pbData, pSignerInfo->Issuer.cbData},
                    serialNumber.Piece()},
                   issuerAndSerial);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(CertInfo)", hResult);
    hResult = SM2EncodeOID(pSignerInfo->HashAlgorithm.pszObjId, &digestAlgorithm.pb,
                           &digestAlgorithm.cb);
    if (FAILED(hResult))
        return ReportStatus(L"SM2EncodeOID(HashAlgorithm)", hResult);
    hResult = SM2EncodeOID(pSignerInfo->HashEncryptionAlgorithm.pszObjId,
                           &digestEncryptionAlgorithm.pb, &digestEncryptionAlgorithm.cb);
    if (FAILED(hResult))
        return ReportStatus(L"SM2EncodeOID(HashEncryptionAlgorithm)", hResult);

    const ASN1_PIECE aPieces[] = {
        {kVersion1, sizeof(kVersion1)},
        issuerAndSerial.Piece(),
        digestAlgorithm.Piece(),
        digestEncryptionAlgorithm.Piece(),
        {pSignerInfo->EncryptedHash.pbData, pSignerInfo->EncryptedHash.cbData},
    };
    hResult = ASN1EncodeConcatenated(0x30, aPieces, 5, ppbEncoded, pcbEncoded);
    if (FAILED(hResult))
        return ReportStatus(L"ASN1Encode(SignerInfo)", hResult);
    return S_OK;
}

HRESULT SM2EncapsulatePKCS7(PCCERT_CONTEXT pSignerCert, LPCSTR pszDigestObjId,
                            LPCSTR pszDigestEncryptionObjId, const BYTE *pbData, DWORD cbData,
                            const BYTE *pbEncodedSignature, DWORD cbEncodedSignature,
                            BOOL bAttached, DWORD dwBase64Flags, BSTR *pbstrText,
                            DWORD *pcchText)
{
    DerPiece signedData, contentInfo;
    HRESULT hResult = EncodeSignedData(pSignerCert, pszDigestObjId, pszDigestEncryptionObjId,
                                       pbData, cbData, pbEncodedSignature, cbEncodedSignature,
                                       bAttached, signedData);
    if (FAILED(hResult))
        return hResult;
    hResult = EncodeContentInfo(SM2_OID_SIGNED_DATA, &signedData, contentInfo);
    if (FAILED(hResult))
        return ReportStatus(L"EncodeObject", hResult);
    return Base64ToBSTR(contentInfo, dwBase64Flags, pbstrText, pcchText);
}
