#include "SM2SignedData.h"

#include "ASN1Encoder.h"
#include "Base64.h"
#include "ErrorCode.h"
#include "PlatformStatus.h"
#include "SignedDataBuilder.h"
#include "TraceHelper.h"

#include <vector>

const char SM2_OID_SM3[] = "1.2.156.10197.1.401";
const char SM2_OID_SM2_SIGNATURE[] = "1.2.156.10197.1.301.1";
const char SM2_OID_DATA[] = "1.2.156.10197.6.1.4.2.1";
const char SM2_OID_SIGNED_DATA[] = "1.2.156.10197.6.1.4.2.2";

namespace {

const BYTE kVersion1[] = {0x02, 0x01, 0x01};

HRESULT EncodeSM2SignerInfo(const CMSG_SIGNER_INFO *pSignerInfo, DerPiece &out)
{
    return SM2EncodeSignerInfo(pSignerInfo, &out.pb, &out.cb);
}

const SignedDataForm kSM2Form = {
    SM2_OID_DATA,
    SM2_OID_SIGNED_DATA,
    EncodeInto,
    EncodeSM2SignerInfo,
    L"SM2EncodeOID(HashAlgorithm)",
    L"EncodeObject",
    L"ASN1Encode(certificates CONTENT)",
    L"ASN1Encode(All data SEQUENCE)",
    nullptr,
};

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
        if (FAILED(hResult)) return ReportStatus(L"EncodeObject", hResult);
    }
    *pcbEncoded = encoded.cb;
    *ppbEncoded = encoded.Release();
    return S_OK;
}

HRESULT SM2EncodeSignerInfo(const CMSG_SIGNER_INFO *pSignerInfo, BYTE **ppbEncoded, DWORD *pcbEncoded)
{
    const CRYPT_INTEGER_BLOB &serial = pSignerInfo->SerialNumber;
    std::vector<BYTE> vtrSerial(serial.pbData, serial.pbData + serial.cbData);
    std::vector<BYTE>(vtrSerial.rbegin(), vtrSerial.rend()).swap(vtrSerial);

    DerPiece serialNumber, issuerAndSerial, digestAlgorithm, digestEncryptionAlgorithm;
    HRESULT hResult = Wrap(0x02, {{vtrSerial.data(), static_cast<DWORD>(vtrSerial.size())}}, serialNumber);
    if (FAILED(hResult)) return ReportStatus(L"ASN1Encode(SerialNumber)", hResult);
    hResult =
        Wrap(0x30, {{pSignerInfo->Issuer.pbData, pSignerInfo->Issuer.cbData}, serialNumber.Piece()}, issuerAndSerial);
    if (FAILED(hResult)) return ReportStatus(L"ASN1Encode(CertInfo)", hResult);
    hResult = SM2EncodeOID(pSignerInfo->HashAlgorithm.pszObjId, &digestAlgorithm.pb, &digestAlgorithm.cb);
    if (FAILED(hResult)) return ReportStatus(L"SM2EncodeOID(HashAlgorithm)", hResult);
    hResult = SM2EncodeOID(pSignerInfo->HashEncryptionAlgorithm.pszObjId, &digestEncryptionAlgorithm.pb,
                           &digestEncryptionAlgorithm.cb);
    if (FAILED(hResult)) return ReportStatus(L"SM2EncodeOID(HashEncryptionAlgorithm)", hResult);

    const ASN1_PIECE aPieces[] = {
        {kVersion1, sizeof(kVersion1)},
        issuerAndSerial.Piece(),
        digestAlgorithm.Piece(),
        digestEncryptionAlgorithm.Piece(),
        {pSignerInfo->EncryptedHash.pbData, pSignerInfo->EncryptedHash.cbData},
    };
    hResult = ASN1EncodeConcatenated(0x30, aPieces, 5, ppbEncoded, pcbEncoded);
    if (FAILED(hResult)) return ReportStatus(L"ASN1Encode(SignerInfo)", hResult);
    return S_OK;
}

HRESULT SM2EncapsulatePKCS7(PCCERT_CONTEXT pSignerCert, LPCSTR pszDigestObjId, LPCSTR pszDigestEncryptionObjId,
                            const BYTE *pbData, DWORD cbData, const BYTE *pbEncodedSignature, DWORD cbEncodedSignature,
                            BOOL bAttached, DWORD dwBase64Flags, BSTR *pbstrText, DWORD *pcchText)
{
    DerPiece contentInfo;
    HRESULT hResult = BuildSignedData(kSM2Form, pSignerCert, pszDigestObjId, pszDigestEncryptionObjId, pbData, cbData,
                                      pbEncodedSignature, cbEncodedSignature, bAttached, contentInfo);
    if (FAILED(hResult)) return hResult;
    return Base64EncodeToBSTR(dwBase64Flags, contentInfo.pb, contentInfo.cb, pbstrText, pcchText);
}
