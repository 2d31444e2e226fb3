#include "SignedDataBuilder.h"

#include "PlatformStatus.h"
#include "SM2SignedData.h"

#include <memory>
#include <new>

namespace {

const BYTE kVersion1[] = {0x02, 0x01, 0x01};
const DWORD kCertEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

HRESULT Reported(const wchar_t *pwszStep, HRESULT hResult)
{
    return pwszStep != nullptr ? ReportStatus(pwszStep, hResult) : hResult;
}

HRESULT EncodeSignedData(const SignedDataForm &form, PCCERT_CONTEXT pSignerCert, LPCSTR pszDigestObjId,
                         LPCSTR pszSignatureObjId, const BYTE *pbData, DWORD cbData, const BYTE *pbSignature,
                         DWORD cbSignature, BOOL bAttached, DerPiece &signedData)
{
    DerPiece digestAlgorithm, digestAlgorithms;
    HRESULT hResult = SM2EncodeOID(pszDigestObjId, &digestAlgorithm.pb, &digestAlgorithm.cb);
    if (FAILED(hResult)) return Reported(form.pwszDigestAlgorithmStep, hResult);
    hResult = Wrap(0x31, {digestAlgorithm.Piece()}, digestAlgorithms);
    if (FAILED(hResult)) return ReportStatus(L"ASN1Encode(digestAlgorithms SET)", hResult);

    DerPiece content, contentInfo;
    if (bAttached) {
        CRYPT_DATA_BLOB stData = {cbData, const_cast<BYTE *>(pbData)};
        hResult = form.Encode(X509_OCTET_STRING, &stData, content);
        if (FAILED(hResult)) return Reported(form.pwszContentStep, hResult);
    }
    hResult = EncodeContentInfo(form.Encode, form.pszDataType, bAttached ? &content : nullptr, contentInfo);
    if (FAILED(hResult)) return Reported(form.pwszContentStep, hResult);

    DerPiece certificates;
    hResult = Wrap(0xA0, {{pSignerCert->pbCertEncoded, pSignerCert->cbCertEncoded}}, certificates);
    if (FAILED(hResult)) return ReportStatus(form.pwszCertificatesStep, hResult);

    CMSG_SIGNER_INFO stSignerInfo = {};
    stSignerInfo.dwVersion = 1;
    stSignerInfo.Issuer = pSignerCert->pCertInfo->Issuer;
    stSignerInfo.SerialNumber = pSignerCert->pCertInfo->SerialNumber;
    stSignerInfo.HashAlgorithm.pszObjId = const_cast<LPSTR>(pszDigestObjId);
    stSignerInfo.HashEncryptionAlgorithm.pszObjId = const_cast<LPSTR>(pszSignatureObjId);
    stSignerInfo.EncryptedHash.cbData = cbSignature;
    stSignerInfo.EncryptedHash.pbData = const_cast<BYTE *>(pbSignature);
    DerPiece signerInfo, signerInfos;
    hResult = form.EncodeSignerInfo(&stSignerInfo, signerInfo);
    if (FAILED(hResult)) return hResult;
    hResult = Wrap(0x31, {signerInfo.Piece()}, signerInfos);
    if (FAILED(hResult)) return ReportStatus(L"ASN1Encode(SignerInfo SET)", hResult);

    hResult = Wrap(0x30,
                   {{kVersion1, sizeof(kVersion1)},
                    digestAlgorithms.Piece(),
                    contentInfo.Piece(),
                    certificates.Piece(),
                    signerInfos.Piece()},
                   signedData);
    if (FAILED(hResult)) return ReportStatus(form.pwszSignedDataStep, hResult);
    return S_OK;
}

} // namespace

HRESULT EncodeInto(LPCSTR pszStructType, const void *pvStruct, DerPiece &piece)
{
    delete[] piece.Release();
    DWORD cbEncoded = 0;
    if (!CryptEncodeObject(kCertEncoding, pszStructType, pvStruct, nullptr, &cbEncoded)) return FailedCallStatus();
    std::unique_ptr<BYTE[]> pbEncoded(new (std::nothrow) BYTE[cbEncoded]);
    if (!pbEncoded) return E_OUTOFMEMORY;
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

HRESULT EncodeContentInfo(HRESULT (*Encode)(LPCSTR, const void *, DerPiece &), LPCSTR pszContentType,
                          const DerPiece *pContent, DerPiece &out)
{
    CRYPT_CONTENT_INFO stContentInfo = {};
    stContentInfo.pszObjId = const_cast<LPSTR>(pszContentType);
    if (pContent != nullptr) {
        stContentInfo.Content.pbData = pContent->pb;
        stContentInfo.Content.cbData = pContent->cb;
    }
    return Encode(PKCS_CONTENT_INFO, &stContentInfo, out);
}

HRESULT BuildSignedData(const SignedDataForm &form, PCCERT_CONTEXT pSignerCert, LPCSTR pszDigestObjId,
                        LPCSTR pszSignatureObjId, const BYTE *pbData, DWORD cbData, const BYTE *pbSignature,
                        DWORD cbSignature, BOOL bAttached, DerPiece &contentInfo)
{
    DerPiece signedData;
    HRESULT hResult = EncodeSignedData(form, pSignerCert, pszDigestObjId, pszSignatureObjId, pbData, cbData,
                                       pbSignature, cbSignature, bAttached, signedData);
    if (FAILED(hResult)) return Reported(form.pwszInnerStep, hResult);
    hResult = EncodeContentInfo(form.Encode, form.pszSignedDataType, &signedData, contentInfo);
    if (FAILED(hResult)) return ReportStatus(L"EncodeObject", hResult);
    return S_OK;
}
