// PKCS#7 SignedData over an SM2 signature, with the GM/T object
// identifiers, assembled by our own DER encoder.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <oleauto.h>

extern const char SM2_OID_SM3[];           // digest algorithm
extern const char SM2_OID_SM2_SIGNATURE[]; // digest-encryption algorithm
extern const char SM2_OID_DATA[];          // content type of the signed content
extern const char SM2_OID_SIGNED_DATA[];   // content type of the SignedData

// AlgorithmIdentifier SEQUENCE { OBJECT IDENTIFIER, NULL } as a new[] buffer.
HRESULT SM2EncodeOID(LPCSTR pszObjId, BYTE **ppbEncoded, DWORD *pcbEncoded);

// SignerInfo without authenticated attributes. EncryptedHash must already be
// a complete OCTET STRING; SerialNumber is least significant byte first.
HRESULT SM2EncodeSignerInfo(const CMSG_SIGNER_INFO *pSignerInfo, BYTE **ppbEncoded, DWORD *pcbEncoded);

// The whole ContentInfo of type signedData, Base64-encoded with dwBase64Flags
// and handed out as a new BSTR; *pcchText gets its length. The data is
// carried inside only when bAttached.
HRESULT SM2EncapsulatePKCS7(PCCERT_CONTEXT pSignerCert, LPCSTR pszDigestObjId, LPCSTR pszDigestEncryptionObjId,
                            const BYTE *pbData, DWORD cbData, const BYTE *pbEncodedSignature, DWORD cbEncodedSignature,
                            BOOL bAttached, DWORD dwBase64Flags, BSTR *pbstrText, DWORD *pcchText);
