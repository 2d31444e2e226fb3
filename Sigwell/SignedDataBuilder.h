// The PKCS#7 SignedData of both signing roads: one signer, its certificate,
// the content attached or not, wrapped in a ContentInfo. The RSA and the
// SM2 forms differ in their content types, in how the SignerInfo is
// encoded and in the step names they trace.
#pragma once

#include "ASN1Encoder.h"

#include <windows.h>
#include <wincrypt.h>

#include <initializer_list>

// An encoded piece that owns its new[] bytes.
struct DerPiece {
    BYTE *pb = nullptr;
    DWORD cb = 0;

    DerPiece() = default;
    DerPiece(const DerPiece &) = delete;
    DerPiece &operator=(const DerPiece &) = delete;
    ~DerPiece() { delete[] pb; }

    ASN1_PIECE Piece() const { return {pb, cb}; }
    // Hands the bytes over; the piece is empty afterwards.
    BYTE *Release()
    {
        BYTE *p = pb;
        pb = nullptr;
        cb = 0;
        return p;
    }
};

// The platform's DER of a structure, without a trace of its own.
HRESULT EncodeInto(LPCSTR pszStructType, const void *pvStruct, DerPiece &piece);

// The tag over the pieces laid end to end.
HRESULT Wrap(DWORD dwTag, std::initializer_list<ASN1_PIECE> pieces, DerPiece &out);

// ContentInfo { type, [0] content } of a content, or of the type alone.
HRESULT EncodeContentInfo(HRESULT (*Encode)(LPCSTR, const void *, DerPiece &), LPCSTR pszContentType,
                          const DerPiece *pContent, DerPiece &out);

struct SignedDataForm {
    LPCSTR pszDataType;       // content type of the signed content
    LPCSTR pszSignedDataType; // content type of the SignedData
    // The platform encoder for the fixed pieces.
    HRESULT (*Encode)(LPCSTR pszStructType, const void *pvStruct, DerPiece &out);
    // The SignerInfo of the record.
    HRESULT (*EncodeSignerInfo)(const CMSG_SIGNER_INFO *pSignerInfo, DerPiece &out);
    // Steps traced with a failure; null: the failure goes up untraced.
    const wchar_t *pwszDigestAlgorithmStep;
    const wchar_t *pwszContentStep;
    const wchar_t *pwszCertificatesStep;
    const wchar_t *pwszSignedDataStep;
    const wchar_t *pwszInnerStep; // the whole SignedData
};

// ContentInfo { SignedData } of one signature (bytes as they go into the
// SignerInfo) over the data by the certificate's key.
HRESULT BuildSignedData(const SignedDataForm &form, PCCERT_CONTEXT pSignerCert, LPCSTR pszDigestObjId,
                        LPCSTR pszSignatureObjId, const BYTE *pbData, DWORD cbData, const BYTE *pbSignature,
                        DWORD cbSignature, BOOL bAttached, DerPiece &contentInfo);
