// Hashing and RSA signatures on a certificate's key through CryptoAPI,
// and the RSA PKCS#7 SignedData built around them.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <oleauto.h>

// SM3 under the value the token's provider gives it.
const ALG_ID CALG_PROVIDER_SM3 = 0x800F;

// The provider's hashing step for the PKCS#1 path.
const DWORD HASH_STEP_SIZE = 0x4000;

// Encoded values and signatures are new[] buffers the caller frees with
// delete[], also after a failure that left one behind.

// A provider parameter into a new zero-filled buffer; length 0 is E_FAIL.
HRESULT GetProviderInfo(DWORD *pcbData, HCRYPTPROV hProv, DWORD dwParam, BYTE **ppbData);

// The digest and signature object identifiers of a hash algorithm; false
// for an algorithm outside the table.
BOOL GetAlgorithmIdentifiers(LPCSTR *ppszSignatureObjId, LPCSTR *ppszDigestObjId, ALG_ID algId);

void SwapByteOrder(BYTE *pbData, DWORD cbData);

// Hashes and signs on the certificate's private key; the signature comes
// back most significant byte first. bHashAtOnce hashes in one call,
// otherwise in steps of HASH_STEP_SIZE.
HRESULT CalculateHashandSign(const BYTE *pbData, PCCERT_CONTEXT pCertContext, DWORD cbData, ALG_ID algId,
                             BYTE **ppbSignature, DWORD *pcbSignature, BOOL bHashAtOnce);

// CryptEncodeObject with X.509 and PKCS #7 encoding.
HRESULT EncodeObject(const void *pvStructure, DWORD *pcbEncoded, LPCSTR pszStructType, BYTE **ppbEncoded);

// ContentInfo of type signedData, Base64-encoded with dwBase64Flags.
HRESULT EncapsulatePKCS7(PCCERT_CONTEXT pCertContext, LPCSTR pszDigestObjId, LPCSTR pszSignatureObjId,
                         const BYTE *pbData, DWORD cbData, const BYTE *pbSignature, DWORD cbSignature, BOOL bAttached,
                         DWORD dwBase64Flags, BSTR *pbstrSignature);

// RSA PKCS#7 signature of the data as one line of Base64.
HRESULT SignBinaryData(BSTR *pbstrSignature, const BYTE *pbData, PCCERT_CONTEXT pCertContext, DWORD cbData,
                       ALG_ID algId, BOOL bAttached);
