// SM2 signatures made by the key container's provider: the raw r and s,
// their DER encodings, and the PKCS#7 SignedData around them.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "CertificateChainOperate.h"
#include "SM2RawSignature.h"

// The provider's SM3 hash of the data in one call, signed with the record's
// key: 64 bytes r || s, most significant byte first, in a new[] buffer. A
// provider signature of any other length is HRESULT(ERROR_INVALID_DATA).
HRESULT SM2CalculateHashandSignbyUnregisteredCert(const UNREGISTERED_CERT_CONTEXT *pCertContext, const BYTE *pbData,
                                                  DWORD cbData, BYTE **ppbSignature, DWORD *pcbSignature);

// Hash, sign and wrap: the Base64 SignedData (digest SM3, signature
// algorithm pszSignatureObjId) as a new BSTR.
HRESULT SM2SignBinaryDatabyUnregisteredCert(const UNREGISTERED_CERT_CONTEXT *pCertContext, DWORD cbData, BOOL bAttached,
                                            LPCSTR pszSignatureObjId, BSTR *pbstrSignature, const BYTE *pbData);
